// The checks run on the path before anything is opened (so no device is ever opened) and again on the
// opened descriptor, which is what is read: a path swapped in between cannot slip another file in.
#include "base/FileRead.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace velaro {

namespace {

FileRead refused(int fd, std::string why) {
    if (fd >= 0) ::close(fd);
    return {FileRead::Outcome::refused, {}, std::move(why)};
}

std::string describeErrno(int err) {
    return std::strerror(err);
}

// What the rules say of a file's status; empty when it may be read.
std::string judge(const struct stat& st, const FileReadRules& rules) {
    if (S_ISLNK(st.st_mode)) return "a symbolic link";
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    if (static_cast<unsigned long long>(st.st_size) > rules.maxBytes) return "far too large";
    if (rules.privateToUser && (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0))
        return "not private to this user";
    return {};
}

// Whether a file's status tells of a write between two looks: its size, or the time of its last change.
bool sameVersion(const struct stat& a, const struct stat& b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

}  // namespace

bool isKernelFilePath(const std::string& path) {
    for (const char* root : {"/proc", "/sys"}) {
        const std::size_t n = std::strlen(root);
        if (path.compare(0, n, root) == 0 && (path.size() == n || path[n] == '/')) return true;
    }
    return false;
}

FileRead readBoundedFile(const std::string& path, const FileReadRules& rules) {
    return readBoundedFileAt(AT_FDCWD, path, rules);
}

FileRead readBoundedFileAt(int dirFd, const std::string& path, const FileReadRules& rules) {
    if (rules.noKernelFiles && isKernelFilePath(path)) return refused(-1, "a file of /proc or /sys");
    struct stat st {};
    if (::fstatat(dirFd, path.c_str(), &st, rules.noFollow ? AT_SYMLINK_NOFOLLOW : 0) != 0)
        return errno == ENOENT ? FileRead{} : refused(-1, describeErrno(errno));
    if (auto why = judge(st, rules); !why.empty()) return refused(-1, std::move(why));

    const int fd = ::openat(dirFd, path.c_str(),
                            O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (rules.noFollow ? O_NOFOLLOW : 0));
    if (fd < 0) return errno == ENOENT ? FileRead{} : refused(-1, describeErrno(errno));
    if (::fstat(fd, &st) != 0) return refused(fd, describeErrno(errno));
    if (auto why = judge(st, rules); !why.empty()) return refused(fd, std::move(why));
    if (rules.noKernelFiles) {
        struct statfs fs {};
        if (::fstatfs(fd, &fs) != 0 || fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC)
            return refused(fd, "a file of /proc or /sys");
        // The file that was opened, after every link on the way: a link into /proc is as good as /proc.
        char opened[PATH_MAX];
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(self.c_str(), opened, sizeof opened);
        if (n > 0 && static_cast<std::size_t>(n) < sizeof opened &&
            isKernelFilePath(std::string(opened, static_cast<std::size_t>(n))))
            return refused(fd, "a file of /proc or /sys");
    }

    FileRead result = readBoundedDescriptor(fd, rules.maxBytes);
    ::close(fd);
    return result;
}

FileRead readBoundedDescriptor(int fd, std::size_t maxBytes) {
    FileRead result{FileRead::Outcome::read, {}, {}};
    struct stat before {}, after {};
    const bool looked = ::fstat(fd, &before) == 0;
    char buffer[16384];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return refused(-1, describeErrno(errno));
        }
        at += n;
        result.bytes.append(buffer, static_cast<std::size_t>(n));
        if (result.bytes.size() > maxBytes) return refused(-1, "far too large");
    }
    result.changedWhileRead = !looked || ::fstat(fd, &after) != 0 || !sameVersion(before, after);
    return result;
}

}  // namespace velaro
