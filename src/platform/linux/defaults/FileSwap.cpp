// The swap of the settings file: our temporaries, the exchange that puts ours in place, what comes out of
// it, and the watch on our placed file.
#include "platform/linux/defaults/FileSwap.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/defaults/DefaultsLog.h"

namespace velaro::defaults {

namespace {

constexpr std::string_view kTemporaryMarker = ".velaro-write-";
constexpr std::size_t kTemporaryRandomChars = 6;

// Creates a new file under `prefix` and six random characters in the open folder, readable and writable by
// the user only; its descriptor (with the name), or -1.
int createTemporaryAt(int folderFd, const std::string& prefix, std::string& name) {
    static constexpr std::string_view kChars =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    for (int tries = 0; tries < 100; ++tries) {
        name = prefix;
        for (std::size_t i = 0; i < kTemporaryRandomChars; ++i) name += kChars[random() % kChars.size()];
        const int fd =
            ::openat(folderFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

std::string temporaryPrefix(const std::string& fileName) {
    return "." + fileName + std::string(kTemporaryMarker);
}

void removeOwnLeftovers(const OpenFolder& folder, const std::string& fileName) {
    const std::string prefix = temporaryPrefix(fileName);
    for (const std::string& name : listFolder(folder.fd)) {
        // We only ever leave regular files; anything else under the name is not ours.
        if (name.size() != prefix.size() + kTemporaryRandomChars || !name.starts_with(prefix) ||
            !isRegularFileAt(folder.fd, name))
            continue;
        if (::unlinkat(folder.fd, name.c_str(), 0) == 0)
            note("removed a copy left by an interrupted write: " + name);
    }
}

NewFile writeNewFile(const OpenFolder& folder, const std::string& target, const std::string& text,
                     const std::string& shownPath) {
    NewFile made;
    const auto fail = [&](const std::string& what, int fd) {
        made.error = errno;
        made.failure = what + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        if (!made.name.empty()) ::unlinkat(folder.fd, made.name.c_str(), 0);
        made.name.clear();
        return made;
    };
    const int fd = createTemporaryAt(folder.fd, temporaryPrefix(target), made.name);
    if (fd < 0) {
        made.name.clear();
        return fail("creating a temporary file", -1);
    }
    const auto notGiven = [&](const std::string& why) {
        ::close(fd);
        ::unlinkat(folder.fd, made.name.c_str(), 0);
        made = {.failure = why, .notGiven = true};
        return made;
    };
    if (struct stat st{};
        ::fstatat(folder.fd, target.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
        if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
            ::fchown(fd, st.st_uid, st.st_gid) != 0) {
            const std::string kept = std::strerror(errno);
            // Root's new content in another user's folder would shut them out of their own file.
            if (const std::string why = giveToFolderOwner(fd, folder.fd); !why.empty()) return notGiven(why);
            warn(shownPath + " belongs to user " + std::to_string(st.st_uid) + " and group " +
                 std::to_string(st.st_gid) + "; its new content cannot keep them (" + kept +
                 ") and becomes this user's");
        }
        if (::fchmod(fd, st.st_mode & 0777) != 0) return fail("keeping the file's mode", fd);
    } else if (const std::string why = giveToFolderOwner(fd, folder.fd); !why.empty()) {
        return notGiven(why);
    }
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail("writing", fd);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) return fail("flushing to disk", fd);
    if (::close(fd) != 0) return fail("closing", -1);
    return made;
}

OutFile openOutFile(FolderRef folder, const std::string& name, const std::string& target) {
    OutFile out{-1, std::move(folder), name, target};
    const int fd =
        ::openat(out.folder->fd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        out.fd = fd;
    else if (fd >= 0)
        ::close(fd);
    return out;
}

bool namesOutFile(const OutFile& file) {
    return namesOpenFile(file.folder->fd, file.name, file.fd);
}

void dropOutFile(OutFile& file) {
    if (file.fd < 0) return;
    if (namesOutFile(file)) ::unlinkat(file.folder->fd, file.name.c_str(), 0);
    ::close(file.fd);
    file.fd = -1;
}

OpenWatch::OpenWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

OpenWatch::~OpenWatch() {
    if (fd_ >= 0) ::close(fd_);
}

int OpenWatch::watch(const std::string& name) {
    const int watch = fd_ < 0 ? -1 : ::inotify_add_watch(fd_, name.c_str(), IN_OPEN | IN_DONT_FOLLOW);
    if (watch >= 0) ++watches_;
    return watch;
}

bool OpenWatch::end(int watch) {
    if (watch < 0) return true;
    collect();
    const bool opened = overflowed_ || opened_.contains(watch);
    opened_.erase(watch);
    ::inotify_rm_watch(fd_, watch);
    if (--watches_ == 0) {
        collect();
        opened_.clear();
        overflowed_ = false;
    }
    return opened;
}

void OpenWatch::collect() {
    alignas(struct inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
            if (event->mask & IN_Q_OVERFLOW) overflowed_ = true;
            if (event->mask & IN_OPEN) opened_.insert(event->wd);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        }
    }
}

OpenWatch& Swaps::watch() {
    if (!openWatch_) openWatch_.emplace();
    return *openWatch_;
}

bool Swaps::exchange(const OpenFolder& folder, const std::string& name, const std::string& target,
                     const PlistValue* ours, bool* placedOpened, std::optional<PlistValue>* openedGone) {
    const int watching = ours ? watch().watch(openedPath(folder.fd, name)) : -1;
    if (::renameat2(folder.fd, name.c_str(), folder.fd, target.c_str(), RENAME_EXCHANGE) != 0) {
        const int error = errno;
        if (watching >= 0) watch().end(watching);
        errno = error;
        return false;
    }
    // Whatever stood is out now: a file we placed and watched too, if no other program replaced it before.
    const bool opened = placedGone(false, openedGone);
    if (placedOpened) *placedOpened = opened;
    // Ours is watched until we know whether an edit landed on the file it took the place of.
    if (ours) placed_ = Placed{watching, *ours};
    return true;
}

Swaps::PutInPlace Swaps::putInPlace(const OpenFolder& folder, const std::string& name,
                                    const std::string& target, const PlistValue& ours,
                                    std::optional<PlistValue>* openedGone) {
    PutInPlace put;
    const auto failed = [&](const char* what) {
        put.error = errno;
        put.failure = what;
        return put;
    };
    // Three tries cover any turn of a file appearing or going between two tries.
    for (int tries = 0; tries < 3; ++tries) {
        if (exchange(folder, name, target, &ours, nullptr, openedGone)) {
            put.how = Put::exchanged;
            return put;
        }
        if (errno == EINVAL || errno == ENOSYS) {
            put.cannotExchange = std::strerror(errno);
            if (::renameat(folder.fd, name.c_str(), folder.fd, target.c_str()) != 0)
                return failed("renaming into place");
            placedGone(false, openedGone);
            put.how = Put::replaced;
            return put;
        }
        if (errno != ENOENT) return failed("swapping into place");
        // No file in place (or our temporary is gone, which the next call tells).
        if (::renameat2(folder.fd, name.c_str(), folder.fd, target.c_str(), RENAME_NOREPLACE) == 0 ||
            (errno == EINVAL && ::renameat(folder.fd, name.c_str(), folder.fd, target.c_str()) == 0)) {
            placedGone(false, openedGone);
            put.how = Put::placed;
            return put;
        }
        if (errno != EEXIST) return failed("renaming into place");
    }
    return failed("swapping into place");
}

bool Swaps::placedGone(bool stays, std::optional<PlistValue>* openedGone) {
    if (!placed_) return true;
    const bool opened = watch().end(placed_->watch);
    if (opened && !stays && openedGone) *openedGone = std::move(placed_->values);
    placed_.reset();
    return opened;
}

}  // namespace velaro::defaults
