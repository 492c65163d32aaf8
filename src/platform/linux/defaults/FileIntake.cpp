// What a look at the settings file found: the one place its text is decoded.
#include "platform/linux/defaults/FileIntake.h"

#include <utility>
#include <vector>

#include "platform/linux/defaults/DefaultsFileFormat.h"
#include "platform/linux/defaults/DefaultsLog.h"

namespace velaro::defaults {

FileLook lookAt(FileRead read, const std::optional<std::string>& known, const std::string& shownPath) {
    FileLook look;
    switch (read.outcome) {
        case FileRead::Outcome::missing:
            return look;
        case FileRead::Outcome::refused:
            look.found = FileLook::Found::unreadable;
            look.why = std::move(read.why);
            return look;
        case FileRead::Outcome::read:
            break;
    }
    look.bytes = std::move(read.bytes);
    look.looksWhole = looksWhole(look.bytes);
    if (read.changedWhileRead) {
        // A file that changed while it was read is still being written, however it reads.
        look.found = FileLook::Found::halfWritten;
        look.changing = true;
        look.why = kChangedWhileRead;
        return look;
    }
    if (look.bytes == known) {
        look.found = FileLook::Found::known;
        return look;
    }
    std::vector<std::string> skipped;
    auto stored = decodeDefaultsFile(look.bytes, &look.why, &skipped);
    for (const auto& key : skipped) warn("ignoring unusable value of \"" + key + "\" in " + shownPath);
    if (!stored) {
        look.found = FileLook::Found::halfWritten;
        return look;
    }
    look.found = FileLook::Found::whole;
    look.values = std::move(*stored);
    return look;
}

FileLook refusedLook(std::string why) {
    FileLook look;
    look.found = FileLook::Found::refused;
    look.why = std::move(why);
    return look;
}

}  // namespace velaro::defaults
