// Reading a file whose path someone else chose (a player, a desktop entry, an editor): only a regular file of
// bounded size is read, and nothing at the path can make the read wait (a FIFO, a device) or read without
// end.
#pragma once

#include <cstddef>
#include <string>

namespace velaro {

struct FileReadRules {
    // Files larger than this are refused, also when they grow while being read.
    std::size_t maxBytes = 0;
    // A symbolic link at the path itself is refused.
    bool noFollow = false;
    // Files of /proc and /sys are refused: by the path as given, by the file that was opened and by the
    // file system it lives on. They say nothing true of their size, and some read another process's memory.
    bool noKernelFiles = false;
    // Only a file of this user that no one else may read or write (mode 0600 or stricter) is read.
    bool privateToUser = false;
};

struct FileRead {
    enum class Outcome { read, missing, refused };
    Outcome outcome = Outcome::missing;
    std::string bytes;  // when read
    std::string why;    // when refused: what is wrong with it, in a few words
    // When read: the file changed while it was read (a program writing it in place), so the bytes may be
    // part of one version and part of another.
    bool changedWhileRead = false;
    bool ok() const { return outcome == Outcome::read; }
};

FileRead readBoundedFile(const std::string& path, const FileReadRules& rules);
// The same for `name` in the folder open as `dirFd` (AT_FDCWD: the working folder): a folder held open is
// read from however its path is changed meanwhile.
FileRead readBoundedFileAt(int dirFd, const std::string& name, const FileReadRules& rules);

// The whole content of an open regular file from its start, whatever the descriptor's offset; refused when
// it grows past `maxBytes`. The descriptor stays open.
FileRead readBoundedDescriptor(int fd, std::size_t maxBytes);

// Whether `path` (absolute) lies inside /proc or /sys.
bool isKernelFilePath(const std::string& path);

}  // namespace velaro
