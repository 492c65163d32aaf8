// Finding a file or folder below the user's own folders: one walk down a path a name at a time, following its
// links one at a time, the folders it opens and makes, and who they are given to.
#include "platform/linux/defaults/GuardedPath.h"

#include <algorithm>
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

// Longer chains are refused as the kernel refuses them (ELOOP); the count runs over the whole look, the links
// in links' texts included.
constexpr int kMostLinksFollowed = 40;

std::string withReason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// `name` in the folder shown as `folder`; a relative path's starting folder (".") is left out.
std::string below(const std::string& folder, const std::string& name) {
    return folder == "." ? name : joinPath(folder, name);
}

std::optional<struct stat> statOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return st;
}

uid_t ownerOf(int fd) {
    const auto st = statOf(fd);
    return st ? st->st_uid : static_cast<uid_t>(-1);
}

// The names of a path in order, empty ones and "." left out.
std::vector<std::string> namesIn(const std::string& path) {
    std::vector<std::string> names;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start && path.compare(start, end - start, ".") != 0)
            names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != "..";
}

// The text of the link open as `linkFd` (O_PATH, not followed): the very link that was looked at, whatever
// was renamed since. Empty when it cannot be read.
std::string readLinkAt(int linkFd) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlinkat(linkFd, "", buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

// What one look down a path shares: the user the app runs as, how many more links it may follow, and the
// user whose folders these are, known once the folder the environment names is reached.
struct Walk {
    uid_t me = ::geteuid();
    int linksLeft = kMostLinksFollowed;
    std::optional<Owner> treeOwner;
};

// Where a look down a path came to: the folder found (none: it is missing and was not made, or the look
// stopped, said why), and the last folder that was there on the way.
struct Found {
    FolderRef folder;
    FolderRef last;
    std::string refusal;
    std::string failure;
    std::optional<Closed> closed;
    bool notGiven = false;
    bool stopped() const { return !refusal.empty() || !failure.empty(); }
};

// Makes the folder `name` in the open folder `parent`, private as configuration folders should be, and
// gives it away as giveToFolderOwner() says. A folder that is there already (or anything else under the name,
// which opening it then tells of) is left alone; one made that cannot be given is removed again, empty as it
// is, and `stop` says why. False when it was not made, errno set or `stop` said.
bool makeFolderAt(const Walk& walk, const OpenFolder& parent, const std::string& name,
                  const std::string& shown, Found& stop) {
    const int parentFd = parent.fd;
    if (::mkdirat(parentFd, name.c_str(), 0700) != 0) {
        if (errno == EEXIST) return true;
        stop.closed = closedFolder(parent, errno);
        stop.failure = withReason("cannot create " + shown);
        return false;
    }
    const int made = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // Gone or replaced at once: the next look tells what is there.
    if (made < 0) return true;
    const std::string notGiven = giveToFolderOwner(made, parentFd, walk.treeOwner);
    ::close(made);
    if (notGiven.empty()) return true;
    ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
    stop.refusal =
        "needs the folder " + shown + ", which was made but " + notGiven + ", so it was removed again";
    stop.notGiven = true;
    return false;
}

// Walks `path` from `from` (from / when it is absolute), one name at a time, each looked at without following
// a link. A link is followed only when it is the app's user's or root's, and its text is walked the same way:
// the link of any other user could lead root's reads and writes into a folder of root's. With `create`,
// missing folders are made as makeFolderAt() makes them, but never where a link leads: that is its owner's
// word. A link to nothing is a missing folder.
Found walkFolders(Walk& walk, const FolderRef& from, const std::string& path, bool create) {
    Found found;
    FolderRef at = from;
    if (!path.empty() && path.front() == '/') {
        const int root = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (root < 0) {
            found.failure = withReason("cannot open /");
            return found;
        }
        at = std::make_shared<const OpenFolder>(root, "/");
    }
    found.last = at;
    for (const std::string& name : namesIn(path)) {
        const std::string shown = below(at->path, name);
        FolderRef next;
        // A folder made meanwhile, or one that goes between two looks, is looked at again.
        for (int tries = 0; !next; ++tries) {
            const int fd = ::openat(at->fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) {
                if (errno != ENOENT || tries == 3) {
                    found.closed = closedFolder(*at, errno);
                    found.failure = withReason("cannot open " + shown);
                    return found;
                }
                if (!create || !makeFolderAt(walk, *at, name, shown, found)) return found;
                continue;
            }
            const auto st = statOf(fd);
            if (!st || !(S_ISDIR(st->st_mode) || S_ISLNK(st->st_mode))) {
                if (st) errno = ENOTDIR;
                found.failure = withReason("cannot open " + shown);
                ::close(fd);
                return found;
            }
            if (S_ISDIR(st->st_mode)) {
                next = std::make_shared<const OpenFolder>(fd, shown);
                continue;
            }
            const bool trusted = st->st_uid == walk.me || st->st_uid == 0;
            const std::string text = trusted ? readLinkAt(fd) : std::string();
            ::close(fd);
            if (!trusted) {
                found.refusal = "leads through a link of another user (" + shown + ")";
                return found;
            }
            if (text.empty()) {
                found.failure = withReason("cannot read the link " + shown);
                return found;
            }
            if (walk.linksLeft-- == 0) {
                found.refusal = "is a chain of links too long to follow";
                return found;
            }
            Found target = walkFolders(walk, at, text, false);
            if (target.stopped()) return target;
            if (!target.folder) {
                // A link to nothing: a missing folder, never made where the link leads.
                if (!create) return found;
                errno = ENOENT;
                found.failure = withReason("cannot open " + shown);
                return found;
            }
            // Shown by the name it was reached by.
            const int reached = ::fcntl(target.folder->fd, F_DUPFD_CLOEXEC, 0);
            if (reached < 0) {
                found.failure = withReason("cannot open " + shown);
                return found;
            }
            next = std::make_shared<const OpenFolder>(reached, shown);
        }
        at = std::move(next);
        found.last = at;
    }
    found.folder = at;
    return found;
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
    std::optional<Closed> closed;
};

// Follows the links at `name` in `folder` one at a time, each looked at without following it, and only when
// it is the app's user's; the folder part of its text is walked as walkFolders() walks. `pathsOwnName`:
// `name` is the last part of the path asked for (a link there is "a link of another user"; one on the way
// "leads through" one).
Followed followOwnLinks(Walk& walk, FolderRef folder, std::string name, std::string shown,
                        bool pathsOwnName) {
    Followed f{std::move(folder), std::move(name), std::move(shown)};
    for (;; ++f.links) {
        const int link = ::openat(f.folder->fd, f.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (link < 0 || ::fstat(link, &st) != 0) {
            f.lookError = errno;
            if (link >= 0) ::close(link);
            return f;
        }
        f.found = st;
        const bool isLink = S_ISLNK(st.st_mode);
        const std::string text = isLink && st.st_uid == walk.me ? readLinkAt(link) : std::string();
        ::close(link);
        if (!isLink) return f;
        if (st.st_uid != walk.me) {
            f.refusal = f.links == 0 && pathsOwnName
                            ? "is a link of another user"
                            : "leads through a link of another user (" + f.shown + ")";
            return f;
        }
        if (text.empty()) return f;
        if (walk.linksLeft-- == 0) {
            f.refusal = "is a chain of links too long to follow";
            return f;
        }
        const auto [targetFolder, targetName] = splitPath(text);
        const bool absolute = text.front() == '/';
        f.shown = absolute ? text : below(f.folder->path, text);
        f.name = targetName;
        f.found.reset();
        if (!absolute && targetFolder == ".") continue;
        const std::string folderPath = absolute ? targetFolder : below(f.folder->path, targetFolder);
        Found target = walkFolders(walk, f.folder, targetFolder, false);
        f.refusal = std::move(target.refusal);
        f.failure = std::move(target.failure);
        f.closed = std::move(target.closed);
        if (!f.refusal.empty() || !f.failure.empty()) return f;
        if (!target.folder) {
            // A link into a folder that is not there: nothing to read, and nowhere to write.
            errno = ENOENT;
            f.failure = withReason("cannot open " + folderPath);
            return f;
        }
        f.folder = std::move(target.folder);
    }
}

// Opens the folder `name` in `parent` (`path` says where it is), making it when missing and `create`. It is
// reached through the user's own links only, and what a link leads to must be the user's folder: one of
// another user's could send us into a folder of root's, and ours into one of another user's.
Found openGuardedFolder(Walk& walk, const FolderRef& parent, const std::string& path, const std::string& name,
                        bool create) {
    Found result;
    result.last = parent;
    const auto failed = [&](const std::string& what) {
        result.failure = withReason(what + " " + path);
        return result;
    };
    // A folder that appears or goes between two looks is looked at again.
    for (int tries = 0; tries < 3; ++tries) {
        const Followed f = followOwnLinks(walk, parent, name, path, false);
        if (!f.refusal.empty() || !f.failure.empty()) {
            result.refusal = f.refusal;
            result.failure = f.failure;
            result.closed = f.closed;
            return result;
        }
        if (!f.found) {
            errno = f.lookError;
            result.closed = closedFolder(*f.folder, errno);
            if (errno != ENOENT) return failed("cannot open");
            // A folder a link leads to is never made: where it goes is the link owner's word.
            if (f.links > 0) return create ? failed("cannot open") : result;
            if (!create) return result;
            if (!makeFolderAt(walk, *f.folder, f.name, path, result)) return result;
            continue;
        }
        if (!S_ISDIR(f.found->st_mode)) {
            errno = ENOTDIR;
            return failed("cannot open");
        }
        const int fd =
            ::openat(f.folder->fd, f.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && (errno == ENOENT || errno == ELOOP || errno == ENOTDIR)) continue;
        if (fd < 0 && errno == EACCES) result.closed = Closed{path, f.found->st_uid};
        if (fd < 0) return failed("cannot open");
        struct stat st {};
        if (::fstat(fd, &st) != 0 || st.st_dev != f.found->st_dev || st.st_ino != f.found->st_ino) {
            ::close(fd);
            continue;
        }
        if (f.links > 0 && st.st_uid != walk.me) {
            ::close(fd);
            result.refusal = "leads through a link to a folder of another user (" + path + ")";
            return result;
        }
        result.folder = std::make_shared<const OpenFolder>(fd, path);
        result.last = result.folder;
        return result;
    }
    errno = ENOENT;
    return failed("cannot open");
}

// findGuardedFolder() as one part of a look, which findGuarded() goes on with.
GuardedPlace findFolder(Walk& walk, const std::string& path, bool create) {
    GuardedPlace place;
    place.madeFor = walk.me;
    const int here = ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (here < 0) {
        place.failure = withReason("cannot open the working folder");
        return place;
    }
    const auto start = std::make_shared<const OpenFolder>(here, ".");
    // The folder and its parent are looked at as the configuration folder and the settings folder are;
    // above them, the folder the environment names.
    const auto [parentPath, folderName] = splitPath(path);
    const auto [namedPath, parentName] = splitPath(parentPath);
    const bool guarded = isPlainName(folderName), parentGuarded = guarded && isPlainName(parentName);
    Found found = walkFolders(walk, start, !guarded ? path : !parentGuarded ? parentPath : namedPath, create);
    if (!found.stopped()) {
        const auto named = statOf((found.folder ? found.folder : found.last)->fd);
        if (named) walk.treeOwner = Owner{named->st_uid, named->st_gid};
    }
    if (parentGuarded && found.folder && !found.stopped())
        found = openGuardedFolder(walk, found.folder, parentPath, parentName, create);
    if (guarded && found.folder && !found.stopped())
        found = openGuardedFolder(walk, found.folder, path, folderName, create);
    if (found.stopped()) {
        place.refusal = std::move(found.refusal);
        place.failure = std::move(found.failure);
        place.closed = std::move(found.closed);
        place.notGiven = found.notGiven;
        return place;
    }
    if (walk.me != 0) {
        place.folder = std::move(found.folder);
        return place;
    }
    // Run as root: what is made here goes to the owner of the folder it is made in, or, in a folder of
    // root's, to the user whose folders these are.
    const uid_t owner = ownerOf((found.folder ? found.folder : found.last)->fd);
    const uid_t treeOwner = walk.treeOwner ? walk.treeOwner->uid : 0;
    place.madeFor = owner != 0 ? owner : treeOwner;
    if (found.folder && owner == 0 && treeOwner != 0) {
        place.refusal = "is in a folder of root's among the folders of user " + std::to_string(treeOwner) +
                        " (" + path + "), who could not change what is made there";
        place.notGiven = true;
        return place;
    }
    place.folder = std::move(found.folder);
    return place;
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

std::string giveToFolderOwner(int fd, int folderFd, const std::optional<Owner>& treeOwner) {
    if (::geteuid() != 0) return {};
    const auto folder = statOf(folderFd);
    if (!folder) return withReason("cannot be given to the folder's owner");
    Owner to{folder->st_uid, folder->st_gid};
    if (to.uid == 0) {
        if (!treeOwner || treeOwner->uid == 0) return {};
        to = *treeOwner;
    }
    // Root can give a file away on any file system that has owners at all, unless it was left without the
    // power to (a container without CAP_CHOWN), or the file system cannot keep that owner (root squashed on
    // NFS, an owner outside a user namespace's range).
    if (::fchown(fd, to.uid, to.gid) == 0) return {};
    return "cannot be given to user " + std::to_string(to.uid) + " (" + std::strerror(errno) + ")";
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

std::optional<Closed> closedFolder(const OpenFolder& folder, int error) {
    if (error != EACCES) return std::nullopt;
    return Closed{folder.path, ownerOf(folder.fd)};
}

std::optional<Closed> closedAt(const OpenFolder& folder, const std::string& name,
                               const std::string& shownPath) {
    struct stat st {};
    if (::fstatat(folder.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return closedFolder(folder, errno);
    // Only a regular file is opened to tell: opening anything else may do more than open it.
    if (!S_ISREG(st.st_mode)) return std::nullopt;
    const int fd =
        ::openat(folder.fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return std::nullopt;
    }
    if (errno != EACCES) return std::nullopt;
    return Closed{shownPath, st.st_uid, false};
}

bool namesOpenFile(int folderFd, const std::string& name, int fd) {
    struct stat named {
    }, open{};
    return ::fstatat(folderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &open) == 0 &&
           named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

GuardedPlace findGuardedFolder(const std::string& path, bool create) {
    Walk walk;
    return findFolder(walk, path, create);
}

GuardedPlace findGuarded(const std::string& path, bool create) {
    Walk walk;
    const uid_t me = walk.me;
    const auto [folderPath, fileName] = splitPath(path);
    GuardedPlace place = findFolder(walk, folderPath, create);
    if (!place.folder) return place;

    Followed file = followOwnLinks(walk, place.folder, fileName, path, true);
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
