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
    if (fd_ >= 0 && (!folderKnown || folder_ != std::pair{at.st_dev, at.st_ino})) {
        ::close(fd_);
        fd_ = -1;
    }
    const auto unavailable = [&](const std::string& what) {
        if (!std::exchange(unavailableSaid_, true))
            warn(what + " " + shownPath_ + " (" + std::strerror(errno) + "); writing without it");
        return Taken::unavailable;
    };
    if (fd_ < 0) {
        // Never follows a link and never blocks, whatever was put at the lock's place.
        constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY;
        fd_ = ::openat(folder.fd, name.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
        if (fd_ >= 0) {
            // Made by root in another user's folder it is that user's, so that their own later runs can
            // open it too. Root can give a file away on any file system that has owners at all.
            static_cast<void>(giveToFolderOwner(fd_, folder.fd));
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
            // A folder that cannot hold the lock file: the write that follows reports its own failure, and
            // a read-only folder has no second writer to guard against.
            if (errno == ENOENT) return Taken::unavailable;
            return unavailable("cannot use");
        }
        folder_ = {at.st_dev, at.st_ino};
    }
    int result;
    do {
        result = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return Taken::held;
    if (errno != EWOULDBLOCK) return unavailable("cannot lock");
    if (waitSeconds <= 0) return Taken::busy;
    // A second opening of the very file (a lock is held by an opening), whatever was renamed since.
    waitedFd_ = wait(openedPath(fd_), waitSeconds);
    return waitedFd_ >= 0 ? Taken::held : Taken::busy;
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
