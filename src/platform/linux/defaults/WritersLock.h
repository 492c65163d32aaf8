// The writers' lock: an advisory lock on a file beside the settings file, which every writer of the file
// holds from reading it to swapping its new file into place, so that no two writers merge from the same file.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include <sys/types.h>

#include "platform/linux/defaults/GuardedPath.h"

namespace velaro::defaults {

// Waits up to `seconds` for the lock on `lockFile`, blocking the calling thread: a descriptor of its own
// opening of the file that holds it (closing it releases it), or -1. It blocks in the kernel, which hands
// the lock over as soon as it is released (polling would lose every time to a writer that locks again at
// once), in a helper thread, so that a writer stuck with the lock costs the caller `seconds` at most.
int waitForLock(const std::string& lockFile, double seconds);

class WritersLock {
public:
    // How a wait for a lock another writer holds is made (waitForLock, or a test's stand-in).
    using Wait = std::function<int(const std::string& lockFile, double seconds)>;
    // Held: ours until release(). Busy: another writer held it for all of the wait. Unavailable: the lock
    // file cannot be made or locked (said once); nothing guards the write. NotGiven: run as root, the lock
    // file made in another user's folder could not be given to them, and was removed (notGiven() says why).
    enum class Taken { held, busy, unavailable, notGiven };

    // `shownPath`: the lock file's path, for what is said of it.
    explicit WritersLock(std::string shownPath) : shownPath_(std::move(shownPath)) {}
    ~WritersLock();
    WritersLock(const WritersLock&) = delete;
    WritersLock& operator=(const WritersLock&) = delete;

    // Takes the lock on the file `name` in `folder`, made there when missing (never through a link, and given
    // to the folder's owner), waiting up to `waitSeconds` through `wait` while another writer holds it. The
    // lock is always the file the name leads to when it is taken: one removed or replaced since an earlier
    // take is opened (or made) anew.
    Taken take(const OpenFolder& folder, const std::string& name, double waitSeconds, const Wait& wait);
    void release();
    const std::string& notGiven() const { return notGiven_; }

private:
    std::string shownPath_;
    int fd_ = -1;
    // The folder fd_ was opened in (device, inode): a lock file in another folder is another lock.
    std::pair<dev_t, ino_t> folder_{};
    // Holds the lock when it was waited for (a separate opening of the lock file); -1 otherwise.
    int waitedFd_ = -1;
    bool unavailableSaid_ = false;
    std::string notGiven_;
};

}  // namespace velaro::defaults
