// Copies of files that are not settings files, kept beside the settings file for the user instead of being
// overwritten: "<file>.corrupt-<UTC time>", with "-2", "-3" ... after it when that is taken. A file broken
// again and again must not fill the folder: the first copy and the newest few stay.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "platform/linux/defaults/GuardedPath.h"

namespace velaro::defaults {

class SetAsideCopies {
public:
    // Besides the first copy, this many of the newest stay.
    static constexpr std::size_t kNewestKept = 4;

    // `path`: the settings file's, whose folder keeps the copies.
    explicit SetAsideCopies(std::string path);

    struct Kept {
        bool kept = false;
        std::string path;   // where the copy is, for what is said of it
        std::string error;  // why none was made
    };
    // Moves `name` in `from` into `folder` (the path's own) under a free set-aside name stamped `now`; with
    // no name, or when it cannot be moved and `contentFd` is an open file, what that holds is copied instead,
    // up to the size of a settings file. The oldest copies then go (see above).
    Kept keep(const OpenFolder& folder, const OpenFolder& from, const std::string& name,
              std::chrono::system_clock::time_point now, int contentFd = -1) const;

private:
    std::string freeName(const OpenFolder& folder, std::chrono::system_clock::time_point now) const;
    void removeOldCopies(const OpenFolder& folder, const std::string& newest,
                         std::chrono::system_clock::time_point now) const;

    std::string path_;
    std::string fileName_;
};

}  // namespace velaro::defaults
