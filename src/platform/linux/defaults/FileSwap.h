// The atomic swap of the settings file: a new file written whole beside it, then exchanged with the one in
// place in one step, so a crash at any moment leaves either the old file or the new one, and the old one
// comes out under the new one's name to be looked at ("came out"). Our file while it stands after a swap is
// "placed": it may lack an edit that landed as it went in, and stands so until the edit is put back.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "platform/DefaultsStore.h"
#include "platform/linux/defaults/GuardedPath.h"

namespace velaro::defaults {

// Our temporaries are ".<file name>.velaro-write-" and six characters from mkstemp: a name no one else
// writes, so clean-up can tell our leftovers from a user's own copies ("defaults.json.backup").
std::string temporaryPrefix(const std::string& fileName);
// A write killed midway leaves its temporary beside the real one. Only files under the name only this store
// writes are ours, and only while we hold the writers' lock is none of them a write in progress, so every
// such regular file found then is a leftover, torn or whole; it never became the settings file. Anything else
// in the folder, look-alike names included, is left alone.
void removeOwnLeftovers(const OpenFolder& folder, const std::string& fileName);

// A new file of ours beside the file, written and on disk, or why there is none (`notGiven`: run as root, it
// could not be given to the user whose folder it is in, nor keep the owner of the file it replaces).
struct NewFile {
    std::string name;
    std::string failure;
    int error = 0;  // the errno of the failure
    bool notGiven = false;
};
// Writes `text` to a new temporary beside `target` in `folder`. A new file is readable and writable by the
// user only (and, made by root in another user's folder, that user's); one that replaces a file keeps that
// file's owner and mode, as a careful saver does. An owner that cannot be kept is said (`shownPath`), and the
// file is then the folder owner's, or not written.
NewFile writeNewFile(const OpenFolder& folder, const std::string& target, const std::string& text,
                     const std::string& shownPath);

// The file that came out of a swap, open, under the temporary's name in `folder` until it is dropped;
// `target` is the name it was swapped with. A descriptor of -1: none is held.
struct OutFile {
    int fd = -1;
    FolderRef folder;
    std::string name;
    std::string target;
};
// Opens what came out under `name`, to be read through its descriptor also while an editor still writes to
// it: a regular file only (fd -1 when what is there is something else).
OutFile openOutFile(FolderRef folder, const std::string& name, const std::string& target);
// Whether the file's temporary name still names it (no other writer cleared it as a leftover).
bool namesOutFile(const OutFile& file);
// Removes the file under its temporary name, when that still names it, and closes it.
void dropOutFile(OutFile& file);

// Tells whether a file we watch was opened: inotify's open events, read without blocking. Without inotify
// (or when its queue overflowed) every watched file counts as opened.
class OpenWatch {
public:
    OpenWatch();
    ~OpenWatch();
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;

    // A watch of the file under `name` (a link there is not followed), or -1.
    int watch(const std::string& name);
    // Whether the watched file was opened since the watch began; the watch ends.
    bool end(int watch);
    // Runs `read`, an opening of the watched file of our own, which is not counted as one.
    template <typename Read>
    auto unseen(int watch, Read read) {
        collect();
        const bool before = opened_.contains(watch);
        auto result = read();
        collect();
        if (!before) opened_.erase(watch);
        return result;
    }

private:
    void collect();

    int fd_;
    int watches_ = 0;
    std::set<int> opened_;
    bool overflowed_ = false;
};

// Our swaps in one folder, and our placed file while it stands, watched for other programs opening it: an
// editor that read it may save what it made of it after the write.
class Swaps {
public:
    // Exchanges the file under `name` with the one at `target` in `folder`; when it is ours (`ours`: its
    // values) it is placed. `placedOpened`: whether the placed file that stood until now was opened meanwhile
    // (true when none stood); when it was, its values go to `openedGone`. False (errno set) when nothing was
    // exchanged.
    bool exchange(const OpenFolder& folder, const std::string& name, const std::string& target,
                  const PlistValue* ours, bool* placedOpened, std::optional<PlistValue>* openedGone);
    // How a new file of ours went into place: exchanged with the file there (which came out under the new
    // file's name), placed where there was none, or, on a file system that cannot exchange files
    // (`cannotExchange` says why), renamed over whatever was there, which loses an edit landing right then.
    enum class Put { exchanged, placed, replaced, failed };
    struct PutInPlace {
        Put how = Put::failed;
        std::string failure;  // failed: what could not be done, and errno
        int error = 0;
        std::string cannotExchange;
    };
    // Puts the new file `name` (`ours`: its values) in place of `target` in `folder`, as exchange() does;
    // a file that appears or goes meanwhile is tried again.
    PutInPlace putInPlace(const OpenFolder& folder, const std::string& name, const std::string& target,
                          const PlistValue& ours, std::optional<PlistValue>* openedGone);
    // Ours, placed, no longer stands (another swap or a rename took its place), or (`stays`) stands for good
    // as a file like any other. Whether another program opened it while it stood (true when none stood); its
    // values when it did and it is gone.
    bool placedGone(bool stays, std::optional<PlistValue>* openedGone = nullptr);
    // Runs `read`, when it reads our placed file, without counting it as another program's opening.
    template <typename Read>
    auto readUnseen(Read read) {
        return placed_ ? watch().unseen(placed_->watch, read) : read();
    }
    OpenWatch& watch();

private:
    struct Placed {
        int watch = -1;
        PlistValue values;
    };
    std::optional<Placed> placed_;
    std::optional<OpenWatch> openWatch_;
};

}  // namespace velaro::defaults
