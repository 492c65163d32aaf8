// The watch on the settings file and its folder.
#include "platform/linux/defaults/FileWatch.h"

#include <QFileSystemWatcher>
#include <utility>

#include <sys/stat.h>

namespace velaro::defaults {

FileWatch::FileWatch(MainLoop& loop, std::string path, std::function<void()> changed)
    : loop_(loop),
      path_(std::move(path)),
      changed_(std::move(changed)),
      watcher_(std::make_unique<QFileSystemWatcher>()) {
    const auto seen = [this] {
        if (std::exchange(posted_, true)) return;
        loop_.post(lifetime_.guard([this] {
            posted_ = false;
            follow();
            changed_();
        }));
    };
    QObject::connect(watcher_.get(), &QFileSystemWatcher::fileChanged, watcher_.get(), seen);
    QObject::connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, watcher_.get(), seen);
    follow();
}

FileWatch::~FileWatch() {
    lifetime_.end();
}

void FileWatch::follow() {
    const QString file = QString::fromStdString(path_);
    const auto slash = path_.find_last_of('/');
    const QString folder =
        QString::fromStdString(slash == std::string::npos ? std::string() : path_.substr(0, slash));
    if (!folder.isEmpty() && !watcher_->directories().contains(folder)) watcher_->addPath(folder);
    struct stat st {};
    if (!watcher_->files().contains(file) && ::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        watcher_->addPath(file);
}

}  // namespace velaro::defaults
