// Following the settings file for edits other programs make: a replaced file (every atomic save, ours too)
// shows only on its folder, and an edit in place only on the file, so both are watched; any number of
// notices in one turn of the loop lead to one call on the next. Only what the guarded path found is watched,
// through the folders it holds open: never what a link it refused leads to.
#pragma once

#include <functional>
#include <memory>
#include <set>

#include "base/Lifetime.h"
#include "base/MainLoop.h"
#include "platform/linux/defaults/GuardedPath.h"

class QSocketNotifier;

namespace velaro::defaults {

class FileWatch {
public:
    // `changed` runs on the loop after notices. Nothing is watched until follow() says where.
    FileWatch(MainLoop& loop, std::function<void()> changed);
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Watches what `place` found, and nothing else from now on: the path's folder, the folder of the file (of
    // what the user's link leads to), and the file while it is a regular file there. Of a place refused, only
    // the folder found before the refusal is watched. A watch of a file ends when the file is replaced: it is
    // to be followed again after each notice.
    void follow(const GuardedPlace& place);

private:
    void takeNotices();

    MainLoop& loop_;
    std::function<void()> changed_;
    int fd_;
    std::set<int> watches_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool posted_ = false;
    Lifetime lifetime_;
};

}  // namespace velaro::defaults
