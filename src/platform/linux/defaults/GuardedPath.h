// Finding a file below the user's configuration without being led elsewhere: links on the way are followed
// only when they, and what they lead to, belong to the user the app runs as; the folders found are held open,
// and folders made on the way belong to whoever owns the folder they are made in.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

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

// Run as root with another user's configuration (sudo -E), what we make in a folder of theirs is given to
// them, as a replaced file keeps its owner: a root-only file or folder left there would shut the user's own
// later runs out of it. False (errno set) when it could not be given.
bool giveToFolderOwner(int fd, int folderFd);
// The names in the folder open as `folderFd`.
std::vector<std::string> listFolder(int folderFd);
// Whether `name` in the open folder is a regular file (a link there is not followed).
bool isRegularFileAt(int folderFd, const std::string& name);

// Where the file at a path is, as found for one read or write. With no folder (and no reason given) the
// path's folder is not there.
struct GuardedPlace {
    FolderRef folder;      // the path's own folder
    FolderRef fileFolder;  // the file's, that of what a followed link leads to
    std::string name;      // the file's name in fileFolder
    std::string refusal;   // why a link on the way is not followed
    std::string failure;   // why a folder on the way cannot be opened or made
};

// Finds the file at `path`, making the folders that are missing when `create`. The folder above the
// configuration folder is the one the user's environment names ($HOME, or what $XDG_CONFIG_HOME names above
// its last part), taken as it is; folders missing there are made without following a link. Below it the
// configuration folder, the path's folder and the file are each looked at without following a link, and a
// link there is followed only when it, and what it leads to, are the user's the app runs as: run as root with
// another user's configuration, a link planted there must not make us read or replace a file of root's, or
// make one in a folder of root's. A link's own text is followed as the kernel follows it: it is its owner's
// word. The file itself may be anyone's when it is no link.
GuardedPlace findGuarded(const std::string& path, bool create);

}  // namespace velaro::defaults
