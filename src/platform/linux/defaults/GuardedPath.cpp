// Finding a file below the user's configuration: one walker that follows a name's links one at a time, the
// folders it opens and makes, and who they are given to.
#include "platform/linux/defaults/GuardedPath.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velaro::defaults {

namespace {

// Longer chains are refused as the kernel refuses them (ELOOP).
constexpr int kMostLinksFollowed = 40;

std::string withReason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Makes the folder `name` in the open folder `parentFd`, private as configuration folders should be; one
// that is there already (or anything else under the name, which opening it then tells of) is left alone.
bool makeFolderAt(int parentFd, const std::string& name) {
    if (::mkdirat(parentFd, name.c_str(), 0700) != 0) return errno == EEXIST;
    const int made = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // Root can give a folder away on any file system that has owners at all.
    if (made >= 0) static_cast<void>(giveToFolderOwner(made, parentFd));
    if (made >= 0) ::close(made);
    return true;
}

// Opens the folder at `path` as the user's environment names it, a link on the way followed: the user's word.
// With `create`, the folders missing at its end are made, each in the one above it, held open, and opened
// without following a link, so that a link put in a missing folder's place meanwhile leads nowhere. -1, with
// errno set, when it cannot.
int openNamedFolder(const std::string& path, bool create) {
    const int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT || !create) return fd;
    const auto [parent, name] = splitPath(path);
    if (parent == path || name.empty() || name == "." || name == "..") return -1;
    const int parentFd = openNamedFolder(parent, true);
    if (parentFd < 0) return -1;
    const int made = makeFolderAt(parentFd, name)
                         ? ::openat(parentFd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                         : -1;
    const int error = errno;
    ::close(parentFd);
    errno = error;
    return made;
}

// The text of the link open as `linkFd` (O_PATH, not followed): the very link that was looked at, whatever
// was renamed since. Empty when it cannot be read.
std::string readLinkAt(int linkFd) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlinkat(linkFd, "", buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

uid_t ownerOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

// Where following the links at one name came to: the folder and name of what is no link (or of nothing), how
// many links it took, and what is there; or why a link was refused, or a link's folder could not be opened.
struct Followed {
    FolderRef folder;
    std::string name;
    std::string shown;  // the path of what was reached, for what is said of it
    int links = 0;
    std::optional<struct stat> found;  // nothing: nothing there, or it cannot be looked at (`lookError`)
    int lookError = 0;
    std::string refusal;
    std::string failure;
};

// Follows the links at `name` in `folder` one at a time, each looked at without following it, and only when
// it is `me`'s. `pathsOwnName`: `name` is the last part of the path asked for (a link there is "a link of
// another user"; one on the way "leads through" one).
Followed followOwnLinks(FolderRef folder, std::string name, std::string shown, uid_t me, bool pathsOwnName) {
    Followed f{std::move(folder), std::move(name), std::move(shown)};
    for (;; ++f.links) {
        if (f.links == kMostLinksFollowed) {
            f.refusal = "is a chain of links too long to follow";
            return f;
        }
        const int link = ::openat(f.folder->fd, f.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (link < 0 || ::fstat(link, &st) != 0) {
            f.lookError = errno;
            if (link >= 0) ::close(link);
            return f;
        }
        f.found = st;
        const bool isLink = S_ISLNK(st.st_mode);
        const std::string text = isLink && st.st_uid == me ? readLinkAt(link) : std::string();
        ::close(link);
        if (!isLink) return f;
        if (st.st_uid != me) {
            f.refusal = f.links == 0 && pathsOwnName
                            ? "is a link of another user"
                            : "leads through a link of another user (" + f.shown + ")";
            return f;
        }
        if (text.empty()) return f;
        const auto [targetFolder, targetName] = splitPath(text);
        const bool absolute = text.front() == '/';
        f.shown = absolute ? text : joinPath(f.folder->path, text);
        f.name = targetName;
        f.found.reset();
        if (!absolute && targetFolder == ".") continue;
        const std::string folderPath = absolute ? targetFolder : joinPath(f.folder->path, targetFolder);
        const int fd = ::openat(f.folder->fd, targetFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            // A link into a folder that is not there: nothing to read, and nowhere to write.
            f.failure = withReason("cannot open " + folderPath);
            return f;
        }
        f.folder = std::make_shared<const OpenFolder>(fd, folderPath);
    }
}

// A folder below the user's configuration, as openGuardedFolder() found it: open, refused (the reason),
// failed (why), or none of them when it is missing and not to be made.
struct GuardedFolder {
    FolderRef folder;
    std::string refusal;
    std::string failure;
};

// Opens the folder `name` in `parent` (`path` says where it is), making it when missing and `create`. It is
// reached through the user's own links only, and what a link leads to must be the user's folder: one of
// another user's could send us into a folder of root's, and ours into one of another user's.
GuardedFolder openGuardedFolder(const FolderRef& parent, const std::string& path, const std::string& name,
                                bool create, uid_t me) {
    GuardedFolder result;
    const auto failed = [&](const std::string& what) {
        result.failure = withReason(what + " " + path);
        return result;
    };
    // A folder that appears or goes between two looks is looked at again.
    for (int tries = 0; tries < 3; ++tries) {
        const Followed f = followOwnLinks(parent, name, path, me, false);
        if (!f.refusal.empty() || !f.failure.empty()) {
            result.refusal = f.refusal;
            result.failure = f.failure;
            return result;
        }
        if (!f.found) {
            errno = f.lookError;
            if (errno != ENOENT) return failed("cannot open");
            // A folder a link leads to is never made: where it goes is the link owner's word.
            if (f.links > 0) return create ? failed("cannot open") : result;
            if (!create) return result;
            if (!makeFolderAt(f.folder->fd, f.name)) return failed("cannot create");
            continue;
        }
        if (!S_ISDIR(f.found->st_mode)) {
            errno = ENOTDIR;
            return failed("cannot open");
        }
        const int fd =
            ::openat(f.folder->fd, f.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && (errno == ENOENT || errno == ELOOP || errno == ENOTDIR)) continue;
        if (fd < 0) return failed("cannot open");
        struct stat st {};
        if (::fstat(fd, &st) != 0 || st.st_dev != f.found->st_dev || st.st_ino != f.found->st_ino) {
            ::close(fd);
            continue;
        }
        if (f.links > 0 && st.st_uid != me) {
            ::close(fd);
            result.refusal = "leads through a link to a folder of another user (" + path + ")";
            return result;
        }
        result.folder = std::make_shared<const OpenFolder>(fd, path);
        return result;
    }
    errno = ENOENT;
    return failed("cannot open");
}

}  // namespace

OpenFolder::~OpenFolder() {
    ::close(fd);
}

std::pair<std::string, std::string> splitPath(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string joinPath(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string openedPath(int fd, const std::string& name) {
    const std::string opened = "/proc/self/fd/" + std::to_string(fd);
    return name.empty() ? opened : opened + "/" + name;
}

bool giveToFolderOwner(int fd, int folderFd) {
    struct stat folder {};
    if (::geteuid() != 0 || ::fstat(folderFd, &folder) != 0 || folder.st_uid == 0) return true;
    return ::fchown(fd, folder.st_uid, folder.st_gid) == 0;
}

std::vector<std::string> listFolder(int folderFd) {
    std::vector<std::string> names;
    const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return names;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return names;
    }
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

bool isRegularFileAt(int folderFd, const std::string& name) {
    struct stat st {};
    return ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

GuardedPlace findGuarded(const std::string& path, bool create) {
    const uid_t me = ::geteuid();
    GuardedPlace place;
    const auto failed = [&](const std::string& what) {
        place.failure = withReason(what);
        return place;
    };
    const auto [folderPath, fileName] = splitPath(path);
    const auto [configPath, folderName] = splitPath(folderPath);
    if (folderName.empty() || folderName == "." || folderName == "..") {
        // The file lies in the configuration folder itself.
        const int fd = ::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return errno == ENOENT && !create ? place : failed("cannot open " + folderPath);
        place.folder = std::make_shared<const OpenFolder>(fd, folderPath);
    } else {
        // The configuration folder's last part is looked at as the path's folder is: it is what the
        // environment's ~/.config or $XDG_CONFIG_HOME names, a link there as easily planted as one below.
        const auto [basePath, configName] = splitPath(configPath);
        const bool asNamed = configName.empty() || configName == "." || configName == "..";
        const std::string& namedPath = asNamed ? configPath : basePath;
        const int namedFd = openNamedFolder(namedPath, create);
        if (namedFd < 0)
            return errno == ENOENT && !create
                       ? place
                       : failed((create ? "cannot create " : "cannot open ") + namedPath);
        GuardedFolder config{std::make_shared<const OpenFolder>(namedFd, namedPath)};
        if (!asNamed) config = openGuardedFolder(config.folder, configPath, configName, create, me);
        GuardedFolder folder =
            config.folder ? openGuardedFolder(config.folder, folderPath, folderName, create, me) : config;
        if (!folder.folder) {
            place.refusal = std::move(folder.refusal);
            place.failure = std::move(folder.failure);
            return place;
        }
        place.folder = std::move(folder.folder);
    }

    Followed file = followOwnLinks(place.folder, fileName, path, me, true);
    place.refusal = std::move(file.refusal);
    place.failure = std::move(file.failure);
    if (!place.refusal.empty() || !place.failure.empty()) return place;
    if (file.links > 0) {
        // What the user's link leads to must be theirs too: a file of another user, or a name in a folder of
        // another user where ours would be made.
        if (file.found && file.found->st_uid != me) {
            place.refusal = "is a link to a file of another user (" + file.shown + ")";
            return place;
        }
        if (!file.found && file.lookError == ENOENT && ownerOf(file.folder->fd) != me) {
            place.refusal = "is a link into a folder of another user (" + file.folder->path + ")";
            return place;
        }
    }
    place.fileFolder = std::move(file.folder);
    place.name = std::move(file.name);
    return place;
}

}  // namespace velaro::defaults
