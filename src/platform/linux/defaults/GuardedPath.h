// Finding a file or folder below the user's own folders without being led elsewhere: every name on the way
// from / down is looked at without following a link, and a link is followed only when its owner may speak
// for the user the app runs as; the folders found are held open, and what root makes in another user's
// folders is that user's, or is not made at all.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace velaro::defaults {

// An open folder, and its path for what is said of it; closed with the last reference.
struct OpenFolder {
    OpenFolder(int fd, std::string path) : fd(fd), path(std::move(path)) {}
    ~OpenFolder();
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    const int fd;
    const std::string path;
};
using FolderRef = std::shared_ptr<const OpenFolder>;

// A path's folder and last part: ("/a", "b") for "/a/b", ("/", "b") for "/b", (".", "b") for "b". Trailing
// slashes are dropped.
std::pair<std::string, std::string> splitPath(std::string path);
std::string joinPath(const std::string& folder, const std::string& name);
// A name that reaches a file already open as `fd` (and, with `name`, one in the folder open as `fd`) whatever
// was renamed since, for calls that only take a path.
std::string openedPath(int fd, const std::string& name = {});

// Run as root with another user's folders (sudo -E), what we make in a folder of theirs is given to them, as
// a replaced file keeps its owner: a root-only file or folder left there would shut the user's own later runs
// out of it. A folder of root's among theirs (one an older run or another program left) passes what is made
// in it on to `treeOwner`, the user whose folders these are. Empty when it was given, or there is no one to
// give it to (not root, or root's own folders); else why not: "cannot be given to user 1000 (Operation not
// permitted)". The caller then removes what it made.
struct Owner {
    uid_t uid;
    gid_t gid;
};
std::string giveToFolderOwner(int fd, int folderFd, const std::optional<Owner>& treeOwner = std::nullopt);
// The names in the folder open as `folderFd`.
std::vector<std::string> listFolder(int folderFd);
// Whether `name` in the open folder is a regular file (a link there is not followed).
bool isRegularFileAt(int folderFd, const std::string& name);
// Whether `name` in the folder open as `folderFd` is the file open as `fd` (a link there is not followed):
// the name still leads to what was opened through it.
bool namesOpenFile(int folderFd, const std::string& name, int fd);

// A folder or file that is there but closed to the user the app runs as (EACCES): a folder they may not
// search, read or make anything in, or a file they may not read. Its owner is the one who can open it to them
// again (root, when a run as root left it so).
struct Closed {
    std::string path;
    uid_t owner = 0;
    bool isFolder = true;
};
// `folder`, when `error` (of a call that searched it or made something in it) says it is closed to the user.
std::optional<Closed> closedFolder(const OpenFolder& folder, int error);
// The file `name` in `folder` (`shownPath`, for what is said of it) when it cannot be read because it is
// closed to the user the app runs as, or `folder` itself when it cannot be searched; nothing when it can be
// read, or cannot for another reason. A link there is not followed.
std::optional<Closed> closedAt(const OpenFolder& folder, const std::string& name,
                               const std::string& shownPath);

// Where the file at a path is, as found for one read or write. With no folder (and no reason given) the
// path's folder is not there.
struct GuardedPlace {
    FolderRef folder;      // the path's own folder
    FolderRef fileFolder;  // the file's, that of what a followed link leads to
    std::string name;      // the file's name in fileFolder
    std::string refusal;   // why a link on the way is not followed, or (`notGiven`) why nothing is made there
    std::string failure;   // why a folder on the way cannot be opened or made
    std::optional<Closed> closed;  // with `failure`: the folder on the way that is closed to the user
    // The refusal is of a place where root would leave the user whose folders these are something they could
    // not change: what was made could not be given to them (and was removed), or the folder is root's.
    bool notGiven = false;
    // Whom a file or folder made at the path's folder belongs to: the user the app runs as, or, run as root
    // in another user's folders, that user.
    uid_t madeFor = 0;
};

// Finds the folder at `path`, making the folders that are missing when `create` (each private to its owner,
// and given as giveToFolderOwner() gives; one that cannot be given is removed, and the place refused).
//
// Every name from / down is looked at without following a link. Above the folder's parent ("the folder the
// environment names": $HOME, or what $XDG_CONFIG_HOME names above its last part) a link is followed when it
// is the user's the app runs as, or root's (the system's own, as /home leading elsewhere). The folder and its
// parent (the settings folder and the configuration folder, ~/.config/autostart and ~/.config,
// ~/.cache/velaro and ~/.cache) follow a link only when it, and the folder it leads to, are the app's user's:
// run as root with another user's folders, a link they planted must not make us read or replace a file of
// root's, or make one in a folder of root's. A link's own text is walked by the same rules, and a folder a
// link leads to is never made. The user whose folders these are is the owner of the folder the environment
// names (or of the last folder there on the way to it); run as root, a folder of root's at `path` among
// another user's folders is refused: nothing made there would be theirs to change.
GuardedPlace findGuardedFolder(const std::string& path, bool create);
// Finds the file at `path` in its folder, found as findGuardedFolder() finds it. The file itself is followed
// through a link only when the link, and the file it leads to (or the folder a missing one would be made in),
// are the app's user's; the file may be anyone's when it is no link.
GuardedPlace findGuarded(const std::string& path, bool create);

}  // namespace velaro::defaults
