// What a look at the settings file found: the one place its text is decoded.
#include "platform/linux/defaults/FileIntake.h"

#include <utility>
#include <vector>

#include <fcntl.h>

#include "platform/linux/defaults/DefaultsFileFormat.h"
#include "platform/linux/defaults/DefaultsLog.h"

namespace velaro::defaults {

namespace {

// Comparisons of loop times summed from steps (a wait of 25 looks of 0.02 s) allow for the sum's rounding.
constexpr double kTimeSlack = 1e-9;

std::optional<FileStamp> stampFrom(const struct stat& st) {
    return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

bool FileStamp::operator==(const FileStamp& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           sameTime(modified, other.modified) && sameTime(changed, other.changed);
}

std::optional<FileStamp> stampOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? stampFrom(st) : std::nullopt;
}

std::optional<FileStamp> stampAt(int folderFd, const std::string& name) {
    struct stat st {};
    return ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? stampFrom(st) : std::nullopt;
}

void Settling::seen(const std::optional<FileStamp>& stamp, double now) {
    if (!spellSince_) spellSince_ = now;
    if (!stamp || !last_ || !(*stamp == *last_)) {
        ++changes_;
        unchangedSince_ = now;
    }
    last_ = stamp;
}

bool Settling::standsStill(double now) const {
    return spellSince_ && last_ && now - unchangedSince_ >= kQuietSeconds - kTimeSlack;
}

bool Settling::pastBound(double now) const {
    return spellSince_ && now - *spellSince_ >= kQuietSeconds - kTimeSlack;
}

bool Settling::sayOnce(double now, bool evenBeforeBound) {
    if (said_ || !active() || (!evenBeforeBound && !pastBound(now))) return false;
    said_ = true;
    return true;
}

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

FileLook closedLook() {
    FileLook look;
    look.found = FileLook::Found::closed;
    return look;
}

}  // namespace velaro::defaults
