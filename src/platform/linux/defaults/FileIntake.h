// Reading the settings file in: what one look at the file (at its path, or one that came out of a swap)
// found, told apart as the store takes it: missing, as we know it, whole, half written, unreadable or
// refused.
#pragma once

#include <optional>
#include <string>

#include "base/FileRead.h"
#include "platform/DefaultsStore.h"

namespace velaro::defaults {

// Said of a file whose read saw it change: what was read may mix two versions.
inline constexpr const char* kChangedWhileRead = "it changed while it was read";

struct FileLook {
    // Known: the text is the one the caller knows (the file as we last read or wrote it), and is not decoded
    // again. HalfWritten: not a defaults file, or changing while read; an editor saving in place leaves the
    // file empty or cut short for a moment, so this is waited for before it counts as broken. Unreadable:
    // not a regular file, too large, or an error. Refused: the path leads through a link that is not
    // followed.
    enum class Found { missing, known, whole, halfWritten, unreadable, refused };
    Found found = Found::missing;
    std::string bytes;        // known, whole, halfWritten: the text read
    PlistValue values;        // whole
    std::string why;          // halfWritten, unreadable, refused: why it is not taken
    bool changing = false;    // halfWritten: it changed while it was read
    bool looksWhole = false;  // its text ends as a whole defaults file does (see looksWhole())
};

// Tells what `read` found. Text equal to `known` is not decoded; other text is, its unusable entries said
// once each as found in `shownPath`.
FileLook lookAt(FileRead read, const std::optional<std::string>& known, const std::string& shownPath);
FileLook refusedLook(std::string why);

}  // namespace velaro::defaults
