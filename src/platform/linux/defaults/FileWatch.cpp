// The watch on the settings file and its folders: inotify on what the guarded path holds open.
#include "platform/linux/defaults/FileWatch.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include <sys/inotify.h>
#include <unistd.h>

namespace velaro::defaults {

namespace {

// A replaced file (an atomic save) shows on its folder as a move or a new name, a removed one as a removal;
// an owner or mode given back (chown, chmod) as a change of attributes.
constexpr std::uint32_t kFolderEvents =
    IN_ATTRIB | IN_MOVE | IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;
// An edit in place shows only on the file.
constexpr std::uint32_t kFileEvents = IN_ATTRIB | IN_MODIFY | IN_MOVE_SELF | IN_DELETE_SELF;

}  // namespace

FileWatch::FileWatch(MainLoop& loop, std::function<void()> changed)
    : loop_(loop), changed_(std::move(changed)), fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ < 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { takeNotices(); });
}

FileWatch::~FileWatch() {
    lifetime_.end();
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);
}

// Each folder is watched through the descriptor the guarded path holds: the folder it looked at, whatever was
// renamed or linked since. Watching an inode that is watched already gives its watch again.
void FileWatch::follow(const GuardedPlace& place) {
    if (fd_ < 0) return;
    std::set<int> watches;
    const auto watch = [&](const std::string& name, std::uint32_t events) {
        const int wd = ::inotify_add_watch(fd_, name.c_str(), events);
        if (wd >= 0) watches.insert(wd);
    };
    if (place.folder) watch(openedPath(place.folder->fd), kFolderEvents);
    if (place.refusal.empty() && place.fileFolder) {
        watch(openedPath(place.fileFolder->fd), kFolderEvents);
        // The file itself only while it is one, and never through a link put in its place.
        if (isRegularFileAt(place.fileFolder->fd, place.name))
            watch(openedPath(place.fileFolder->fd, place.name), kFileEvents | IN_DONT_FOLLOW);
    }
    for (const int wd : watches_)
        if (!watches.contains(wd)) ::inotify_rm_watch(fd_, wd);
    watches_ = std::move(watches);
}

void FileWatch::takeNotices() {
    alignas(struct inotify_event) char buffer[4096];
    bool noticed = false;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        noticed = true;
    }
    if (!noticed || std::exchange(posted_, true)) return;
    loop_.post(lifetime_.guard([this] {
        posted_ = false;
        changed_();
    }));
}

}  // namespace velaro::defaults
