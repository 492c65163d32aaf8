// Reading the settings file in: what one look at the file (at its path, or one that came out of a swap)
// found, told apart as the store takes it: missing, as we know it, whole, half written, unreadable or
// refused.
#pragma once

#include <optional>
#include <string>

#include <sys/stat.h>

#include "base/FileRead.h"
#include "platform/DefaultsStore.h"

namespace velaro::defaults {

// Said of a file whose read saw it change: what was read may mix two versions.
inline constexpr const char* kChangedWhileRead = "it changed while it was read";

// What tells whether a file stands still: which file it is (device, inode), its size, and the times of its
// last write and change, one of which every write moves.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified {};
    struct timespec changed {};
    bool operator==(const FileStamp& other) const;
};
// The stamp of the file open as `fd`, or of `name` in the folder open as `folderFd` (a link not followed).
std::optional<FileStamp> stampOf(int fd);
std::optional<FileStamp> stampAt(int folderFd, const std::string& name);

struct FileLook {
    // Known: the text is the one the caller knows (the file as we last read or wrote it), and is not decoded
    // again. HalfWritten: not a defaults file, or changing while read; an editor saving in place leaves the
    // file empty or cut short for a moment, so this is waited for before it counts as broken. Unreadable:
    // not a regular file, too large, or an error. Refused: the path leads through a link that is not
    // followed. Closed: the file, or a folder on its way, is closed to the user the app runs as (see
    // defaults::Closed): what it holds is the user's, only not readable now.
    enum class Found { missing, known, whole, halfWritten, unreadable, refused, closed };
    Found found = Found::missing;
    std::string bytes;        // known, whole, halfWritten: the text read
    PlistValue values;        // whole
    std::string why;          // halfWritten, unreadable, refused: why it is not taken
    bool changing = false;    // halfWritten: it changed while it was read
    bool looksWhole = false;  // its text ends as a whole defaults file does (see looksWhole())
    // Taken once it was read; nothing when it changed while read (it does not stand still) or is missing.
    std::optional<FileStamp> stamp;
};

// Tells what `read` found. Text equal to `known` is not decoded; other text is, its unusable entries said
// once each as found in `shownPath`.
FileLook lookAt(FileRead read, const std::optional<std::string>& known, const std::string& shownPath);
FileLook refusedLook(std::string why);
FileLook closedLook();

// A file found half written, followed until it reads whole or "settles": stands still, its stamp unchanged
// for the quiet time, which an editor saving it never leaves it for. Only a settled file that still does
// not read whole is broken; one that keeps changing is someone's save in progress, however long it takes,
// and however alike its half-written states are (an editor writing the same text again). Times are the
// store's loop uptime.
class Settling {
public:
    static constexpr double kQuietSeconds = 0.5;
    // Looks again this often, and past the first half second of the spell (see pastBound()) this often.
    static constexpr double kLookSeconds = 0.02;
    static constexpr double kSlowLookSeconds = 0.1;

    // A look at `now` found it half written, as `stamp` (nothing: it changed while it was read).
    void seen(const std::optional<FileStamp>& stamp, double now);
    void reset() { *this = {}; }
    bool active() const { return spellSince_.has_value(); }
    bool standsStill(double now) const;
    // The spell of half-written finds has lasted the quiet time: waits are bounded by it.
    bool pastBound(double now) const;
    // True once a spell, when it is past the bound (or at once, `now` being the end of a wait bounded
    // shorter): what goes on is to be said then, and only then.
    bool sayOnce(double now, bool evenBeforeBound = false);
    bool said() const { return said_; }
    double nextLookIn(double now) const { return pastBound(now) ? kSlowLookSeconds : kLookSeconds; }
    // How long the spell has lasted, and how often the file was found changed in it (the first find
    // counts).
    double lasted(double now) const { return spellSince_ ? now - *spellSince_ : 0; }
    int changes() const { return changes_; }

private:
    std::optional<double> spellSince_;
    double unchangedSince_ = 0;
    std::optional<FileStamp> last_;
    int changes_ = 0;
    bool said_ = false;
};

}  // namespace velaro::defaults
