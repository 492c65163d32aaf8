// The writers' lock beside the settings file: the lock file, opened through the folder it lies in, and the
// wait for a writer that holds it.
#include "platform/linux/defaults/WritersLock.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/defaults/DefaultsLog.h"

namespace velaro::defaults {

namespace {

// A lock file removed or replaced under a writer that holds it open hands it a lock no other writer sees: the
// lock is taken on what the name leads to, this many times at most while the name keeps changing under it.
constexpr int kMostTakes = 3;

// What the waiting thread and the caller share: the caller may give up and leave before the kernel hands
// the lock over, and the thread then closes the descriptor itself.
struct LockWaiter {
    std::mutex mutex;
    std::condition_variable done;
    int fd = -1;
    bool locked = false;
    bool failed = false;
    bool abandoned = false;
};

}  // namespace

int waitForLock(const std::string& lockFile, double seconds) {
    auto waiter = std::make_shared<LockWaiter>();
    waiter->fd = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (waiter->fd < 0) return -1;
    std::thread([waiter] {
        int result;
        do {
            result = ::flock(waiter->fd, LOCK_EX);
        } while (result != 0 && errno == EINTR);
        const std::lock_guard hold(waiter->mutex);
        if (result != 0 || waiter->abandoned) {
            // Nobody takes the descriptor any more (or there is no lock to hand over): it ends here.
            ::close(waiter->fd);
            waiter->failed = true;
        } else {
            waiter->locked = true;
        }
        waiter->done.notify_one();
    }).detach();
    std::unique_lock hold(waiter->mutex);
    waiter->done.wait_for(hold, std::chrono::duration<double>(seconds),
                          [&] { return waiter->locked || waiter->failed; });
    if (waiter->locked) return waiter->fd;
    waiter->abandoned = true;
    return -1;
}

WritersLock::~WritersLock() {
    if (waitedFd_ >= 0) ::close(waitedFd_);
    if (fd_ >= 0) ::close(fd_);
}

WritersLock::Taken WritersLock::take(const OpenFolder& folder, const std::string& name, double waitSeconds,
                                     const Wait& wait) {
    struct stat at {};
    const bool folderKnown = ::fstat(folder.fd, &at) == 0;
    const auto unavailable = [&](const std::string& what) {
        if (!std::exchange(unavailableSaid_, true))
            warn(what + " " + shownPath_ + " (" + std::strerror(errno) + "); writing without it");
        return Taken::unavailable;
    };
    for (int takes = 1;; ++takes) {
        // The lock is the file the name leads to now: other writers open it by its name, and one removed (or
        // replaced) since we opened it keeps none of them out.
        if (fd_ >= 0 && (!folderKnown || folder_ != std::pair{at.st_dev, at.st_ino} ||
                         !namesOpenFile(folder.fd, name, fd_))) {
            ::close(fd_);
            fd_ = -1;
        }
        if (fd_ < 0) {
            // Never follows a link and never blocks, whatever was put at the lock's place.
            constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY;
            fd_ = ::openat(folder.fd, name.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
            // A folder that cannot hold the lock file (gone, or closed to us): the write that follows reports
            // its own failure, and a read-only folder has no second writer to guard against.
            if (fd_ < 0 && (errno == ENOENT || errno == EACCES)) return Taken::unavailable;
            if (fd_ >= 0) {
                // Made by root in another user's folder it is that user's, so that their own later runs can
                // open it too; one that cannot be theirs is not left there.
                if (const std::string why = giveToFolderOwner(fd_, folder.fd); !why.empty()) {
                    ::close(std::exchange(fd_, -1));
                    ::unlinkat(folder.fd, name.c_str(), 0);
                    notGiven_ =
                        "its lock " + shownPath_ + " was made but " + why + ", so it was removed again";
                    return Taken::notGiven;
                }
            } else if (errno == EEXIST) {
                fd_ = ::openat(folder.fd, name.c_str(), kFlags);
            }
            struct stat st {};
            if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
                ::close(fd_);
                fd_ = -1;
                errno = EINVAL;
            }
            if (fd_ < 0) {
                // Gone since it was found there: the next take makes it anew.
                if (errno == ENOENT) return Taken::unavailable;
                return unavailable("cannot use");
            }
            folder_ = {at.st_dev, at.st_ino};
        }
        int result;
        do {
            result = ::flock(fd_, LOCK_EX | LOCK_NB);
        } while (result != 0 && errno == EINTR);
        if (result != 0 && errno != EWOULDBLOCK) return unavailable("cannot lock");
        if (result != 0 && waitSeconds <= 0) return Taken::busy;
        // A second opening of the very file (a lock is held by an opening), whatever was renamed since.
        if (result != 0) waitedFd_ = wait(openedPath(fd_), waitSeconds);
        if (result != 0 && waitedFd_ < 0) return Taken::busy;
        // Removed or replaced while it was taken (a writer that removes its lock file as it lets go): the
        // lock is taken again on the file there now, without waiting once more.
        if (namesOpenFile(folder.fd, name, fd_) || takes == kMostTakes) return Taken::held;
        release();
        waitSeconds = 0;
    }
}

void WritersLock::release() {
    if (waitedFd_ >= 0) {
        // Closing the only descriptor of that opening releases its lock.
        ::close(waitedFd_);
        waitedFd_ = -1;
    } else if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
    }
}

}  // namespace velaro::defaults
