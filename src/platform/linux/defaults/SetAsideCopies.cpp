// Set-aside copies of broken settings files: naming them, moving or copying a file aside, and keeping the
// first and the newest.
#include "platform/linux/defaults/SetAsideCopies.h"

#include <QDateTime>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/defaults/DefaultsFileFormat.h"
#include "platform/linux/defaults/DefaultsLog.h"

namespace velaro::defaults {

namespace {

// The UTC time in the names of set-aside copies: "20261207T080000Z".
std::string copyStamp(std::chrono::system_clock::time_point time) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(ms.count(), Qt::UTC)
        .toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"))
        .toStdString();
}

// Copies what the open file `fd` holds from its start into a new file `name` in `folderFd`, flushed to disk.
bool copyContent(int fd, int folderFd, const std::string& name, std::string& error) {
    const int out =
        ::openat(folderFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool copied = out >= 0;
    char buffer[16384];
    for (off_t at = 0; copied && at <= static_cast<off_t>(kMaxDefaultsFileBytes);) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        copied = n > 0 && ::write(out, buffer, static_cast<std::size_t>(n)) == n;
        at += n;
    }
    copied = copied && ::fsync(out) == 0;
    if (!copied) error = std::strerror(errno);
    if (out >= 0) ::close(out);
    if (!copied && out >= 0) ::unlinkat(folderFd, name.c_str(), 0);
    return copied;
}

}  // namespace

SetAsideCopies::SetAsideCopies(std::string path)
    : path_(std::move(path)), fileName_(splitPath(path_).second) {}

SetAsideCopies::Kept SetAsideCopies::keep(const OpenFolder& folder, const OpenFolder& from,
                                          const std::string& name, std::chrono::system_clock::time_point now,
                                          int contentFd) const {
    Kept result;
    const std::string aside = freeName(folder, now);
    result.kept = !name.empty() && ::renameat(from.fd, name.c_str(), folder.fd, aside.c_str()) == 0;
    if (!result.kept) result.error = std::strerror(errno);
    if (!result.kept && contentFd >= 0) result.kept = copyContent(contentFd, folder.fd, aside, result.error);
    if (!result.kept) return result;
    result.error.clear();
    result.path = joinPath(splitPath(path_).first, aside);
    removeOldCopies(folder, aside, now);
    return result;
}

std::string SetAsideCopies::freeName(const OpenFolder& folder,
                                     std::chrono::system_clock::time_point now) const {
    const std::string stamp = fileName_ + ".corrupt-" + copyStamp(now);
    std::string name = stamp;
    struct stat st {};
    for (int n = 2; ::fstatat(folder.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0; ++n)
        name = stamp + "-" + std::to_string(n);
    return name;
}

// Only names this room makes ("<file>.corrupt-<yyyyMMddTHHmmssZ>[-<n>]") that are regular files count; the
// copy just made always stays, whatever the clock said when it was named. The oldest copy stays too: it is
// the file the user had before things went wrong, the one worth going back to, which a run of later broken
// files must not push out.
void SetAsideCopies::removeOldCopies(const OpenFolder& folder, const std::string& newest,
                                     std::chrono::system_clock::time_point now) const {
    static const QRegularExpression stamped(
        QStringLiteral("^\\.corrupt-([0-9]{8}T[0-9]{6}Z)(?:-([0-9]{1,9}))?$"));
    struct Copy {
        QString stamp;
        long long number;
        std::string name;
    };
    std::vector<Copy> copies;
    for (const std::string& name : listFolder(folder.fd)) {
        if (name == newest || !name.starts_with(fileName_) || !isRegularFileAt(folder.fd, name)) continue;
        const auto match = stamped.match(QString::fromStdString(name.substr(fileName_.size())));
        if (!match.hasMatch()) continue;
        copies.push_back(
            {match.captured(1), match.captured(2).isEmpty() ? 1 : match.captured(2).toLongLong(), name});
    }
    // Besides the one just made: the first and the newest others.
    if (copies.size() <= kNewestKept) return;
    const auto older = [](const Copy& a, const Copy& b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.number < b.number;
    };
    copies.erase(std::min_element(copies.begin(), copies.end(), older));  // the first stays
    // Newest first. A name stamped later than now (the clock was put back since, or someone planted it) was
    // not set aside after what we set aside now: it comes after every other, and never holds a newest place
    // for good.
    const QString nowStamp = QString::fromStdString(copyStamp(now));
    std::sort(copies.begin(), copies.end(), [&](const Copy& a, const Copy& b) {
        const bool aLater = a.stamp > nowStamp, bLater = b.stamp > nowStamp;
        return aLater != bLater ? bLater : older(b, a);
    });
    int removed = 0;
    for (std::size_t i = kNewestKept - 1; i < copies.size(); ++i)
        removed += ::unlinkat(folder.fd, copies[i].name.c_str(), 0) == 0;
    if (removed > 0)
        note("removed " + std::to_string(removed) + " set-aside copies of " + path_ +
             "; the first and the newest " + std::to_string(kNewestKept) + " stay");
}

}  // namespace velaro::defaults
