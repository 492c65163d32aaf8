// Following the settings file for edits other programs make: a replaced file (every atomic save, ours too)
// shows only on its folder, and an edit in place only on the file, so both are watched; any number of
// notices in one turn of the loop lead to one call on the next.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/Lifetime.h"
#include "base/MainLoop.h"

class QFileSystemWatcher;

namespace velaro::defaults {

class FileWatch {
public:
    // Watches the folder of `path`, which is to be there, and the file while it exists; `changed` runs on
    // the loop after notices.
    FileWatch(MainLoop& loop, std::string path, std::function<void()> changed);
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

private:
    // A watch of a file ends when the file is replaced: it is taken up again on each notice.
    void follow();

    MainLoop& loop_;
    std::string path_;
    std::function<void()> changed_;
    std::unique_ptr<QFileSystemWatcher> watcher_;
    bool posted_ = false;
    Lifetime lifetime_;
};

}  // namespace velaro::defaults
