// The JSON defaults file: its encoding, the guarded load, atomic merging writes under the writers' lock that
// swap the new file with the old one and take in what came out, and the watch for other programs' edits.
#include "platform/linux/JsonDefaultsStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFileSystemWatcher>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "base/FileRead.h"
#include "base/Log.h"

namespace velaro {

namespace {

constexpr std::string_view kTag = "DEFAULTS";
constexpr std::string_view kDataKey = "$data";
constexpr const char* kStartingFresh = "starting from defaults";
// Our own values nest a few levels at most. A limit keeps the recursive walks below (and nlohmann's own
// recursive dump and compare) far from the stack's end on a hostile file.
constexpr int kMaxNesting = 256;
// A settings file is a few kilobytes. It is read and parsed on the main thread, at start-up and before every
// write, so the cap is a size such a read takes without a stall the user sees; anything larger is not ours
// and is set aside unread.
constexpr std::size_t kMaxFileBytes = 1024 * 1024;
// Our temporaries are ".<file name>" + this + six characters from mkstemp: a name no one else writes, so
// clean-up can tell our leftovers from a user's own copies ("defaults.json.backup").
constexpr std::string_view kTemporaryMarker = ".velaro-write-";
// A write holds the lock for a millisecond or so; a writer that holds it longer is waited for this long
// when the caller needs the write done now, and otherwise retried on later turns of the loop.
constexpr double kLockWaitSeconds = 1.0;
constexpr double kLockRetrySeconds = 0.02;
// A write that failed (a full disk, a folder that cannot be written) is tried again this long after, the wait
// doubling up to the longest, so what is pending lands once the cause is gone, without a change of the
// user's to carry it.
constexpr double kFirstRetrySeconds = 1.0;
constexpr double kLongestRetrySeconds = 30.0;
// The store's end waits this long at most, for the lock and for a file being saved together (each takes
// milliseconds when all is well; past it the change is written anyway, and nothing is lost): the app is to
// end within half a second of being asked to, and the rest of its way out takes a quarter of a second, now
// and then more, in a checked build on a busy machine.
constexpr double kEndSeconds = 0.1;
// An editor saving in place leaves the file empty or cut short for a moment (milliseconds on a local disk):
// a write finding it so looks again this often, for this long, before it takes the file for corrupt.
constexpr double kSettleSeconds = 0.5;
constexpr double kSettlePollSeconds = 0.02;
constexpr const char* kChangedWhileRead = "it changed while it was read";
// Each write swaps the new file with the one in place; when what comes out holds an edit that landed since
// the read, the edit is taken in and the write is made again, this many times at most before the rest waits
// for a later try (only a program rewriting the file without pause keeps it changing that long).
constexpr int kMaxSwapRounds = 8;
// A file a swap of ours put in place for a moment, and someone opened while it stood: an editor that read it
// saves what it made of it within this time.
constexpr double kRecentFileSeconds = 1.0;
constexpr std::size_t kRecentFiles = 16;
// Set-aside copies of corrupt files kept beside the settings file: the first one, and the newest ones.
constexpr std::size_t kKeptNewestSetAsideCopies = 4;

// What one pass over a JSON text finds outside its strings.
struct TextScan {
    int deepest = 0;
    // The text with every number that is not finite in a top-level key's value replaced by a 0 of the same
    // width (the key is dropped anyway, and every other byte keeps its place); empty when there was none.
    std::string cleaned;
    // The top-level keys whose values held such a number, as they are spelled in the text (quoted).
    std::vector<std::string_view> keysWithNonFinite;
    // Where the first such number outside a top-level key's value begins, which the parser refuses.
    std::size_t strayNonFiniteAt = std::string_view::npos;
};

bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isNumberChar(char c) {
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// True for a number literal beyond the double range and for the words NaN, Infinity and inf (with a sign)
// that writers such as Python's emit for non-finite values.
bool isNonFiniteToken(std::string_view token) {
    std::string_view word = token;
    if (!word.empty() && (word.front() == '-' || word.front() == '+')) word.remove_prefix(1);
    if (!word.empty() && isWordChar(word.front())) {
        const QByteArray lower = QByteArray(word.data(), static_cast<qsizetype>(word.size())).toLower();
        return lower == "nan" || lower == "inf" || lower == "infinity";
    }
    // Parsed in the C locale whatever the user's is, as the JSON parser does.
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const std::string text(token);
    return std::isinf(::strtod_l(text.c_str(), nullptr, cLocale));
}

// The deepest bracket nesting (counting stops past the limit) and the non-finite numbers of a JSON text.
TextScan scanText(std::string_view text) {
    TextScan scan;
    int depth = 0;
    std::size_t copiedUpTo = 0;
    std::string_view currentKey;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '"') {
            const std::size_t start = i++;
            for (bool escaped = false; i < text.size(); ++i) {
                if (escaped)
                    escaped = false;
                else if (text[i] == '\\')
                    escaped = true;
                else if (text[i] == '"')
                    break;
            }
            ++i;
            // At the top level of the object every string followed by a value is a key; the latest one
            // names the value that follows.
            if (depth == 1) currentKey = text.substr(start, std::min(i, text.size()) - start);
        } else if (c == '[' || c == '{') {
            scan.deepest = std::max(scan.deepest, ++depth);
            if (scan.deepest > kMaxNesting) break;
            ++i;
        } else if (c == ']' || c == '}') {
            --depth;
            ++i;
        } else if (isNumberChar(c) || isWordChar(c)) {
            const std::size_t start = i;
            while (i < text.size() && (isNumberChar(text[i]) || isWordChar(text[i]))) ++i;
            const std::string_view token = text.substr(start, i - start);
            if (!isNonFiniteToken(token)) continue;
            if (depth >= 1 && !currentKey.empty()) {
                scan.cleaned.append(text.substr(copiedUpTo, start - copiedUpTo));
                scan.cleaned.append("0").append(token.size() - 1, ' ');
                copiedUpTo = i;
                scan.keysWithNonFinite.push_back(currentKey);
            } else if (scan.strayNonFiniteAt == std::string_view::npos) {
                scan.strayNonFiniteAt = start;
            }
        } else {
            ++i;
        }
    }
    if (copiedUpTo > 0) scan.cleaned.append(text.substr(copiedUpTo));
    return scan;
}

bool isFinite(const PlistValue& value) {
    if (value.is_number_float()) return std::isfinite(value.get<double>());
    if (value.is_array() || value.is_object()) {
        for (const auto& element : value)
            if (!isFinite(element)) return false;
    }
    return true;
}

// The UTC time in the names of set-aside copies: "20261207T080000Z".
std::string timeStamp(std::chrono::system_clock::time_point time) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(ms.count(), Qt::UTC)
        .toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"))
        .toStdString();
}

// "line L, column C" of a byte offset, both counted from 1 as the parser counts them.
std::string textPosition(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    const std::string_view before = text.substr(0, offset);
    const auto lastLine = before.rfind('\n');
    const std::size_t column = lastLine == std::string_view::npos ? offset + 1 : offset - lastLine;
    return "line " + std::to_string(std::count(before.begin(), before.end(), '\n') + 1) + ", column " +
           std::to_string(column);
}

PlistValue toFileForm(const PlistValue& value) {
    if (value.is_binary()) {
        const auto& bytes = value.get_binary();
        const QByteArray raw(reinterpret_cast<const char*>(bytes.data()),
                             static_cast<qsizetype>(bytes.size()));
        return PlistValue{{std::string(kDataKey), raw.toBase64().toStdString()}};
    }
    if (value.is_array()) {
        PlistValue out = PlistValue::array();
        for (const auto& element : value) out.push_back(toFileForm(element));
        return out;
    }
    if (value.is_object()) {
        PlistValue out = PlistValue::object();
        for (const auto& [key, element] : value.items()) out[key] = toFileForm(element);
        return out;
    }
    return value;
}

// Turns parsed file JSON into stored values: {"$data": base64} becomes data, and whole numbers become
// signed integers (the parser reads "5" as unsigned; the app stores signed). Numbers beyond double range
// never get here: the parser rejects them, and the file is set aside with its content intact.
void fromFileForm(PlistValue& value) {
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            value = static_cast<std::int64_t>(u);
    } else if (value.is_array()) {
        for (auto& element : value) fromFileForm(element);
    } else if (value.is_object()) {
        if (value.size() == 1 && value.contains(kDataKey) && value[std::string(kDataKey)].is_string()) {
            const auto& text = value[std::string(kDataKey)].get_ref<const std::string&>();
            auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(text),
                                                          QByteArray::AbortOnBase64DecodingErrors);
            // Text that is not base64 stays a plain dictionary: a data read of it is then "absent",
            // and the file's content is kept as it was.
            if (decoded) {
                value = plistData(Bytes(decoded.decoded.begin(), decoded.decoded.end()));
                return;
            }
        }
        for (auto& [key, element] : value.items()) fromFileForm(element);
    }
}

// The keys whose values differ between two sets of stored values, a key held by one only included.
std::set<std::string> differingKeys(const PlistValue& a, const PlistValue& b) {
    std::set<std::string> keys;
    for (const auto& [key, value] : b.items())
        if (!a.contains(key) || !DefaultsDomain::identical(a.at(key), value)) keys.insert(key);
    for (const auto& [key, value] : a.items())
        if (!b.contains(key)) keys.insert(key);
    return keys;
}

// Whether a file's text ends as a whole defaults file does: one object, so "{" first and "}" last. An editor
// writing the file in place leaves it empty or cut short for a moment, which this tells at a glance, before
// the text is parsed.
bool looksWhole(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    return first != std::string_view::npos && text[first] == '{' && text[last] == '}';
}

// The value a set of stored values holds at `key`, if any.
std::optional<PlistValue> valueAt(const PlistValue& values, const std::string& key) {
    const auto it = values.find(key);
    return it == values.end() ? std::nullopt : std::optional<PlistValue>(*it);
}

bool sameValue(const std::optional<PlistValue>& a, const std::optional<PlistValue>& b) {
    return a && b ? DefaultsDomain::identical(*a, *b) : a.has_value() == b.has_value();
}

std::string parentDirectory(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A path's folder and last part: ("/a", "b") for "/a/b", ("/", "b") for "/b", (".", "b") for "b". Trailing
// slashes are dropped.
std::pair<std::string, std::string> splitPath(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string joinPath(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// A name that reaches a file already open as `fd` (and, with `name`, one in the folder open as `fd`) whatever
// was renamed since, for calls that only take a path.
std::string openedPath(int fd, const std::string& name = {}) {
    const std::string opened = "/proc/self/fd/" + std::to_string(fd);
    return name.empty() ? opened : opened + "/" + name;
}

// Run as root with another user's configuration (sudo -E), what we make in a folder of theirs is given to
// them, as a replaced file keeps its owner: a root-only file or folder left there would shut the user's own
// later runs out of it. False (errno set) when it could not be given.
bool giveToFolderOwner(int fd, int folderFd) {
    struct stat folder {};
    if (::geteuid() != 0 || ::fstat(folderFd, &folder) != 0 || folder.st_uid == 0) return true;
    return ::fchown(fd, folder.st_uid, folder.st_gid) == 0;
}

// Makes the folder `name` in the open folder `parentFd`, private as configuration folders should be; one
// that is there already (or anything else under the name, which opening it then tells of) is left alone.
bool makeFolderAt(int parentFd, const std::string& name) {
    if (::mkdirat(parentFd, name.c_str(), 0700) != 0) return errno == EEXIST;
    const int made = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // Root can give a folder away on any file system that has owners at all.
    if (made >= 0) static_cast<void>(giveToFolderOwner(made, parentFd));
    if (made >= 0) ::close(made);
    return true;
}

// Opens the folder at `path` as the user's environment names it, a link on the way followed: the user's word.
// With `create`, the folders missing at its end are made, each in the one above it, held open, and opened
// without following a link, so that a link put in a missing folder's place meanwhile leads nowhere. -1, with
// errno set, when it cannot.
int openNamedFolder(const std::string& path, bool create) {
    const int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT || !create) return fd;
    const auto [parent, name] = splitPath(path);
    if (parent == path || name.empty() || name == "." || name == "..") return -1;
    const int parentFd = openNamedFolder(parent, true);
    if (parentFd < 0) return -1;
    const int made = makeFolderAt(parentFd, name)
                         ? ::openat(parentFd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                         : -1;
    const int error = errno;
    ::close(parentFd);
    errno = error;
    return made;
}

// The text of the link open as `linkFd` (O_PATH, not followed): the very link that was looked at, whatever
// was renamed since. Empty when it cannot be read.
std::string readLinkAt(int linkFd) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlinkat(linkFd, "", buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

// A folder below the user's configuration, as looked at by openCheckedFolder(): open (fd), refused (the
// reason), failed (why), or none of them when it is missing and not to be made.
struct CheckedFolder {
    int fd = -1;
    std::string refusal;
    std::string failure;
};

// Opens the folder `name` in the open folder `parentFd` (`path` says where it is), making it when missing and
// `create`. It is looked at without following a link, and a link there is followed only when it, and the
// folder it leads to, belong to `me`: one of another user's could send us into a folder of root's, and ours
// into one of another user's.
CheckedFolder openCheckedFolder(int parentFd, const std::string& path, const std::string& name, bool create,
                                uid_t me) {
    CheckedFolder found;
    const auto failed = [&](const std::string& what) {
        found.failure = what + ": " + std::strerror(errno);
    };
    // A folder that appears or goes between two looks is looked at again.
    for (int tries = 0; tries < 3; ++tries) {
        found.fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (found.fd >= 0) break;
        if (errno == ENOENT) {
            if (create && makeFolderAt(parentFd, name)) continue;
            if (create) failed("cannot create " + path);
            break;
        }
        if (errno != ELOOP && errno != ENOTDIR) {
            failed("cannot open " + path);
            break;
        }
        // A link, or something that is not a folder.
        const int link = ::openat(parentFd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (link < 0 && errno == ENOENT) continue;
        if (link < 0 || ::fstat(link, &st) != 0 || !S_ISLNK(st.st_mode)) {
            if (link >= 0) {
                ::close(link);
                errno = ENOTDIR;
            }
            failed("cannot open " + path);
            break;
        }
        const std::string text = st.st_uid == me ? readLinkAt(link) : std::string();
        ::close(link);
        if (st.st_uid != me) {
            found.refusal = "leads through a link of another user (" + path + ")";
            break;
        }
        found.fd = ::openat(parentFd, text.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (found.fd < 0) {
            if (errno != ENOENT || create) failed("cannot open " + path);
            break;
        }
        if (::fstat(found.fd, &st) != 0 || st.st_uid != me) {
            ::close(found.fd);
            found.fd = -1;
            found.refusal = "leads through a link to a folder of another user (" + path + ")";
        }
        break;
    }
    if (found.fd < 0 && create && found.refusal.empty() && found.failure.empty()) {
        errno = ENOENT;
        failed("cannot open " + path);
    }
    return found;
}

// The names in the folder open as `folderFd`.
std::vector<std::string> listFolder(int folderFd) {
    std::vector<std::string> names;
    const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return names;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return names;
    }
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

// Whether `name` in the open folder is a regular file (a link there is not followed).
bool isRegularFileAt(int folderFd, const std::string& name) {
    struct stat st {};
    return ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

// Creates a new file under `prefix` and six random characters in the open folder, readable and writable by
// the user only; its descriptor (with the name), or -1.
int createTemporaryAt(int folderFd, const std::string& prefix, std::string& name) {
    static constexpr std::string_view kChars =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    for (int tries = 0; tries < 100; ++tries) {
        name = prefix;
        for (int i = 0; i < 6; ++i) name += kChars[random() % kChars.size()];
        const int fd =
            ::openat(folderFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// A lock wait that can be given up. It blocks in the kernel, which hands the lock over as soon as it is
// released (polling would lose every time to a writer that locks again at once), in a helper thread, so
// that a writer stuck with the lock costs the caller `seconds` at most.
struct LockWaiter {
    std::mutex mutex;
    std::condition_variable done;
    int fd = -1;
    bool locked = false;
    bool failed = false;
    bool abandoned = false;
};

// A descriptor of its own opening of `file` that holds the lock (closing it releases it), or -1. The store
// names the lock file it opened as /proc/self/fd/<n>, a link that leads to that very file.
int waitForLock(const std::string& file, double seconds) {
    auto waiter = std::make_shared<LockWaiter>();
    waiter->fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (waiter->fd < 0) return -1;
    std::thread([waiter] {
        int result;
        do {
            result = ::flock(waiter->fd, LOCK_EX);
        } while (result != 0 && errno == EINTR);
        const std::lock_guard hold(waiter->mutex);
        if (result != 0 || waiter->abandoned) {
            // Nobody takes the descriptor any more (or there is no lock to hand over): it ends here.
            ::close(waiter->fd);
            waiter->failed = true;
        } else {
            waiter->locked = true;
        }
        waiter->done.notify_one();
    }).detach();
    std::unique_lock hold(waiter->mutex);
    waiter->done.wait_for(hold, std::chrono::duration<double>(seconds),
                          [&] { return waiter->locked || waiter->failed; });
    if (waiter->locked) return waiter->fd;
    waiter->abandoned = true;
    return -1;
}

class RealTimeWaits final : public JsonDefaultsStore::BlockingWaits {
public:
    double now() override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    void pause(double seconds) override {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
    int lock(const std::string& lockFile, double seconds) override { return waitForLock(lockFile, seconds); }
};

RealTimeWaits realTime;

}  // namespace

// Tells whether a file we watch was opened: inotify's open events, read without blocking. Without inotify
// (or when its queue overflowed) every watched file counts as opened.
class JsonDefaultsStore::OpenWatch {
public:
    OpenWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~OpenWatch() {
        if (fd_ >= 0) ::close(fd_);
    }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;

    // A watch of the file under `name` (a link there is not followed), or -1.
    int watch(const std::string& name) {
        const int watch = fd_ < 0 ? -1 : ::inotify_add_watch(fd_, name.c_str(), IN_OPEN | IN_DONT_FOLLOW);
        if (watch >= 0) ++watches_;
        return watch;
    }
    // Whether the watched file was opened since the watch began; the watch ends.
    bool end(int watch) {
        if (watch < 0) return true;
        collect();
        const bool opened = overflowed_ || opened_.contains(watch);
        opened_.erase(watch);
        ::inotify_rm_watch(fd_, watch);
        if (--watches_ == 0) {
            collect();
            opened_.clear();
            overflowed_ = false;
        }
        return opened;
    }
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
    void collect() {
        alignas(struct inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
                if (event->mask & IN_Q_OVERFLOW) overflowed_ = true;
                if (event->mask & IN_OPEN) opened_.insert(event->wd);
                at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            }
        }
    }

    int fd_;
    int watches_ = 0;
    std::set<int> opened_;
    bool overflowed_ = false;
};

namespace {

// `indent` -1: on one line.
std::string encodeDefaultsFile(const PlistValue& stored, int indent) {
    // Invalid UTF-8 in a key or string is written as U+FFFD rather than failing the whole write.
    return toFileForm(stored).dump(indent, ' ', false, PlistValue::error_handler_t::replace) + "\n";
}

}  // namespace

std::string encodeDefaultsFile(const PlistValue& stored) {
    return encodeDefaultsFile(stored, 2);
}

std::optional<PlistValue> decodeDefaultsFile(std::string_view text, std::string* error,
                                             std::vector<std::string>* skippedKeys) {
    auto fail = [&](std::string reason) -> std::optional<PlistValue> {
        if (error) *error = std::move(reason);
        return std::nullopt;
    };
    const TextScan scan = scanText(text);
    if (scan.deepest > kMaxNesting) return fail("nested deeper than " + std::to_string(kMaxNesting));
    PlistValue parsed;
    // The reason says where the text stops being JSON, never what it holds there: the parser's own words
    // quote the bytes it read last, and those are the file's, whatever they are.
    try {
        parsed = PlistValue::parse(scan.keysWithNonFinite.empty() ? text : std::string_view(scan.cleaned));
    } catch (const PlistValue::parse_error& e) {
        // "[json.exception.parse_error.101] parse error at line 1, column 7: syntax error while parsing value
        // - invalid literal; last read: '...'; expected ...": what stands between the position and the bytes.
        std::string what = e.what();
        const auto colon = what.find(": ");
        what = colon == std::string::npos ? "syntax error"
                                          : what.substr(colon + 2, what.find("; last read:") - colon - 2);
        // The parser counts the bytes it read, the one it stopped at included; the end of the text is past
        // them.
        const bool atEnd = e.byte >= text.size() && what.find("end of input") != std::string::npos;
        return fail(what + " at " + textPosition(text, atEnd ? text.size() : e.byte > 0 ? e.byte - 1 : 0));
    } catch (const PlistValue::out_of_range&) {
        return fail("a number beyond the double range at " + textPosition(text, scan.strayNonFiniteAt));
    } catch (const PlistValue::exception&) {
        return fail("not JSON");
    }
    if (!parsed.is_object())
        return fail(std::string("top level is ") + parsed.type_name() + ", not an object");
    // One value that has no stored form costs its own key, not the whole file.
    for (const auto quoted : scan.keysWithNonFinite) {
        try {
            const auto key = PlistValue::parse(quoted);
            if (key.is_string() && parsed.erase(key.get<std::string>()) > 0 && skippedKeys)
                skippedKeys->push_back(key.get<std::string>());
        } catch (const PlistValue::exception&) {
        }
    }
    for (auto it = parsed.begin(); it != parsed.end();) {
        // A null has no stored form; the key reads as absent.
        if (it->is_null()) {
            if (skippedKeys) skippedKeys->push_back(it.key());
            it = parsed.erase(it);
            continue;
        }
        fromFileForm(*it);
        ++it;
    }
    return parsed;
}

struct JsonDefaultsStore::Folder {
    Folder(int fd, std::string path) : fd(fd), path(std::move(path)) {}
    ~Folder() { ::close(fd); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    const int fd;
    const std::string path;
};

JsonDefaultsStore::JsonDefaultsStore(MainLoop& loop, std::string path, BlockingWaits* waits)
    : loop_(loop), path_(std::move(path)), waits_(waits ? waits : &realTime) {
    load();
}

void JsonDefaultsStore::setBlockingWaits(BlockingWaits* waits) {
    waits_ = waits ? waits : &realTime;
}

JsonDefaultsStore::~JsonDefaultsStore() {
    lifetime_.end();
    watcher_.reset();
    lockRetry_.cancel();
    failedRetry_.cancel();
    // The last chance to keep our changes: neither a writer stuck with the lock nor a file being saved costs
    // them, nor holds up the app's end.
    flushWaitingForTheFile(true);
    // An edit that came out of the last swap half written: only its editor can finish it, so it is kept
    // whole where the editor goes on writing, under a name that no clean-up takes for a leftover.
    if (swappedOut_) setAsideSwappedOut("was still being written when the app ended");
    if (swappedOut_) dropOutFile(swappedOut_->file);
    if (lockFd_ >= 0) ::close(lockFd_);
}

std::string JsonDefaultsStore::standardPath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
    return (base + QStringLiteral("/Velaro/defaults.json")).toStdString();
}

// The folder above the configuration folder is the one the user's environment names ($HOME, or what
// $XDG_CONFIG_HOME names above its last part), taken as it is; folders missing there are made without
// following a link. Below it the configuration folder, the settings folder and the file are each looked at
// without following a link, and a link there is followed only when it, and what it leads to, are the user's
// the app runs as: run as root with another user's configuration (sudo -E), a link planted there must not
// make us read or replace a file of root's, or make one in a folder of root's. Users who keep their
// configuration in one managed folder link it, the settings folder or the file into place, and a write lands
// where the link leads. What is found is held open: a read or write goes through those folders, so that one
// swapped for a link after the look changes nothing. The file at the path itself may be anyone's: replacing
// it keeps its owner and mode.
JsonDefaultsStore::Place JsonDefaultsStore::locate(bool create) const {
    const uid_t me = ::geteuid();
    Place place;
    const auto failed = [&](const std::string& what) {
        place.failure = what + ": " + std::strerror(errno);
        return place;
    };
    const auto [folderPath, fileName] = splitPath(path_);
    const auto [configPath, folderName] = splitPath(folderPath);
    int folderFd = -1;
    if (folderName.empty() || folderName == "." || folderName == "..") {
        // The file lies in the configuration folder itself.
        folderFd = ::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd < 0) return errno == ENOENT && !create ? place : failed("cannot open " + folderPath);
    } else {
        // The configuration folder's last part is looked at as the settings folder is: it is what the
        // environment's ~/.config or $XDG_CONFIG_HOME names, a link there as easily planted as one below.
        const auto [basePath, configName] = splitPath(configPath);
        const bool asNamed = configName.empty() || configName == "." || configName == "..";
        const std::string& namedPath = asNamed ? configPath : basePath;
        const int namedFd = openNamedFolder(namedPath, create);
        if (namedFd < 0)
            return errno == ENOENT && !create
                       ? place
                       : failed((create ? "cannot create " : "cannot open ") + namedPath);
        CheckedFolder config{.fd = namedFd};
        if (!asNamed) {
            config = openCheckedFolder(namedFd, configPath, configName, create, me);
            ::close(namedFd);
        }
        CheckedFolder folder = config;
        if (config.fd >= 0) {
            folder = openCheckedFolder(config.fd, folderPath, folderName, create, me);
            ::close(config.fd);
        }
        if (folder.fd < 0) {
            place.refusal = std::move(folder.refusal);
            place.failure = std::move(folder.failure);
            return place;
        }
        folderFd = folder.fd;
    }
    place.folder = std::make_shared<const Folder>(folderFd, folderPath);

    FolderRef dir = place.folder;
    std::string name = fileName;
    std::string shown = path_;  // the path of what is looked at, for what is said of it
    for (int hops = 0;; ++hops) {
        if (hops == 40) {
            place.refusal = "is a chain of links too long to follow";
            return place;
        }
        const int link = ::openat(dir->fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (link < 0) {
            // Nothing there (a link that points nowhere yet when it is not the path itself), or a name that
            // cannot be looked at, whose read or write fails on its own.
            struct stat folder {};
            if (hops > 0 && errno == ENOENT && ::fstat(dir->fd, &folder) == 0 && folder.st_uid != me) {
                place.refusal = "is a link into a folder of another user (" + dir->path + ")";
                return place;
            }
            break;
        }
        const bool isLink = ::fstat(link, &st) == 0 && S_ISLNK(st.st_mode);
        const std::string text = isLink && st.st_uid == me ? readLinkAt(link) : std::string();
        ::close(link);
        if (!isLink) {
            if (hops > 0 && st.st_uid != me) {
                place.refusal = "is a link to a file of another user (" + shown + ")";
                return place;
            }
            break;
        }
        if (st.st_uid != me) {
            place.refusal = hops == 0 ? "is a link of another user"
                                      : "leads through a link of another user (" + shown + ")";
            return place;
        }
        if (text.empty()) break;
        const auto [targetFolder, targetName] = splitPath(text);
        const bool absolute = text.front() == '/';
        shown = absolute ? text : joinPath(dir->path, text);
        name = targetName;
        if (!absolute && targetFolder == ".") continue;
        const int fd = ::openat(dir->fd, targetFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            // A link into a folder that is not there: nothing to read, and nowhere to write.
            failed("cannot open " + (absolute ? targetFolder : joinPath(dir->path, targetFolder)));
            return place;
        }
        dir = std::make_shared<const Folder>(fd, absolute ? targetFolder : joinPath(dir->path, targetFolder));
    }
    place.fileFolder = std::move(dir);
    place.name = std::move(name);
    return place;
}

// Only regular files are opened, and without blocking: a FIFO or a device at the path would otherwise hang
// the main thread in open() or read().
JsonDefaultsStore::ReadResult JsonDefaultsStore::readFile(std::string& bytes, std::string& failure) {
    FileRead read;
    // The file itself is no link: one put there since it was looked at is looked at again, and never read
    // through unless followed.
    for (int tries = 0; tries < 2; ++tries) {
        if (!place_.refusal.empty()) {
            failure = place_.refusal;
            return ReadResult::Refused;
        }
        if (!place_.fileFolder) return ReadResult::Missing;
        const auto readTarget = [&] {
            return readBoundedFileAt(place_.fileFolder->fd, place_.name,
                                     {.maxBytes = kMaxFileBytes, .noFollow = true});
        };
        // A read of ours of a file we placed and watch is not another program's.
        read = placed_ ? openWatch_->unseen(placed_->watch, readTarget) : readTarget();
        struct stat st {};
        if (read.outcome != FileRead::Outcome::refused ||
            ::fstatat(place_.fileFolder->fd, place_.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(st.st_mode))
            break;
        place_ = locate(false);
    }
    switch (read.outcome) {
        case FileRead::Outcome::missing:
            return ReadResult::Missing;
        case FileRead::Outcome::refused:
            failure = std::move(read.why);
            return ReadResult::Failed;
        case FileRead::Outcome::read:
            break;
    }
    bytes = std::move(read.bytes);
    return read.changedWhileRead ? ReadResult::Changing : ReadResult::Read;
}

// A write killed midway leaves its temporary file beside the real one. Only files under the name only this
// store writes are ours, and only while we hold the writers' lock is none of them a write in progress, so
// every such file found then is a leftover, torn or whole; it never became the settings file. Anything
// else in the folder, look-alike names included, is left alone.
void JsonDefaultsStore::removeOwnLeftovers() {
    leftoversRemoved_ = true;
    if (!place_.fileFolder) return;
    const Folder& folder = *place_.fileFolder;
    const std::string prefix = "." + place_.name + std::string(kTemporaryMarker);
    for (const std::string& name : listFolder(folder.fd)) {
        // We only ever leave regular files; anything else under the name is not ours.
        if (name.size() != prefix.size() + 6 || !name.starts_with(prefix) ||
            !isRegularFileAt(folder.fd, name))
            continue;
        if (::unlinkat(folder.fd, name.c_str(), 0) == 0)
            qCInfo(lcSettings) << tagged(kTag, "removed a copy left by an interrupted write: " + name);
    }
}

// An editor that saves in place empties the file and writes it anew; a start in the middle of that finds it
// empty, cut short, or changing under the read, and on a busy machine finds it so for a while. It is read
// again until it reads whole, and only a file that does not within the settle time is set aside: the user's
// settings must not go for a moment of someone else's save.
void JsonDefaultsStore::load() {
    place_ = locate(false);
    if (!place_.refusal.empty()) {
        refuseTarget(place_.refusal);
        return;
    }
    // Without the lock another writer may be between creating its temporary and renaming it: the clean-up
    // then waits for our first write.
    if (place_.folder && lock(0)) {
        removeOwnLeftovers();
        unlock();
    }
    BlockingWaits& waits = *waits_;
    const double start = waits.now();
    for (;;) {
        std::string bytes, failure;
        const ReadResult read = readFile(bytes, failure);
        switch (read) {
            case ReadResult::Missing:
                return;
            case ReadResult::Refused:
                refuseTarget(failure);
                return;
            case ReadResult::Failed:
                setAside("cannot be read (" + failure + ")", kStartingFresh);
                return;
            case ReadResult::Read:
            case ReadResult::Changing:
                break;
        }
        std::string error = kChangedWhileRead;
        std::optional<PlistValue> stored;
        if (read == ReadResult::Read) stored = decodeFile(bytes, error);
        if (stored) {
            lastDisk_ = {std::move(bytes), *stored};
            domain_.replaceStored(std::move(*stored));
            return;
        }
        if (waits.now() - start >= kSettleSeconds) {
            setAside("is not a defaults file (" + error + ")", kStartingFresh);
            return;
        }
        waits.pause(kSettlePollSeconds);
    }
}

std::optional<PlistValue> JsonDefaultsStore::decodeFile(const std::string& bytes, std::string& error) const {
    std::vector<std::string> skipped;
    auto stored = decodeDefaultsFile(bytes, &error, &skipped);
    for (const auto& key : skipped)
        qCWarning(lcSettings) << tagged(kTag, "ignoring unusable value of \"" + key + "\" in " + path_);
    return stored;
}

// Only what the edit changed is taken: the stored values may hold more than the file the edit was made to
// (edits that came out of a swap and wait to be written), and those stay.
std::set<std::string> JsonDefaultsStore::takeInEdit(const PlistValue& base, const PlistValue& edited,
                                                    const std::set<std::string>& keep) {
    std::set<std::string> changed = differingKeys(base, edited);
    // What a file we placed for a moment lacked, and an edit made from it leaves as it was there, the edit
    // did not change: its editor never saw it (nor did the editors that went on from its file). Unless it
    // changed since: the edit is the newer word. The file it left lacks it, and is to be written again.
    if (const auto from = editedFrom(base, edited); from != recentFiles_.end()) {
        bool kept = false;
        for (const auto& [key, held] : lackedBy(*from))
            if (sameValue(valueAt(from->values, key), valueAt(edited, key)) &&
                sameValue(held, valueAt(domain_.stored(), key)))
                kept = changed.erase(key) > 0 || kept;
        if (kept) {
            outsideEditsUnwritten_ = true;
            if (!flushPosted_ && !writesHeld_ && !lifetime_.ended()) postFlush(0);
        }
    }
    PlistValue next = domain_.stored();
    bool any = false;
    for (const auto& key : changed) {
        if (keep.contains(key)) continue;
        any = true;
        if (edited.contains(key))
            next[key] = edited.at(key);
        else
            next.erase(key);
    }
    if (!any) return changed;
    // Subscribers hear of it, but not once the store is going away.
    if (!lifetime_.ended())
        takeInStored(std::move(next));
    else
        domain_.replaceStored(std::move(next));
    return changed;
}

// The recent file an edit was made to (none: `base`, the file that stood when the edit landed). It is one
// when the edit is nearer to it than to `base` and changes something in it: an editor that read it and saves
// what it made of it would otherwise undo, measured against `base`, what the race brought in. An edit that is
// one of those files as it was is the newest word of whoever wrote it (keys set back to what they held a
// moment ago); and ours, which only stood between two swaps, is remembered only when another program opened
// it meanwhile.
std::vector<JsonDefaultsStore::RecentFile>::const_iterator JsonDefaultsStore::editedFrom(
    const PlistValue& base, const PlistValue& edited) const {
    auto nearest = recentFiles_.end();
    std::size_t fewest = differingKeys(base, edited).size();
    for (auto recent = recentFiles_.begin(); recent != recentFiles_.end() && fewest > 1; ++recent) {
        if (loop_.uptime() > recent->until || lackedBy(*recent).empty()) continue;
        const std::size_t n = differingKeys(recent->values, edited).size();
        // The newest of equally near ones.
        if (n > 0 && (n < fewest || (n == fewest && nearest != recentFiles_.end()))) {
            fewest = n;
            nearest = recent;
        }
    }
    return nearest;
}

// Once what took their place is taken in, the files we placed that were opened while they stood are measured
// against what we hold: what they lack of it, but for our own changes (which we write anyway), is what an
// edit made from one never saw. One that lacks nothing else is no older than the edits made from it, and is
// forgotten.
void JsonDefaultsStore::settleRecentFiles() {
    std::erase_if(recentFiles_, [&](RecentFile& recent) {
        if (!recent.settled) {
            recent.lacked = lackedBy(recent);
            recent.settled = true;
        }
        return recent.lacked.empty();
    });
}

// What a recent file lacks of what we hold, with what we hold there (nothing when we hold no value): as it
// was once settled; until then (an edit that landed on it may still be taken in), as it is now.
std::map<std::string, std::optional<PlistValue>> JsonDefaultsStore::lackedBy(const RecentFile& recent) const {
    if (recent.settled) return recent.lacked;
    std::map<std::string, std::optional<PlistValue>> lacked;
    for (const auto& key : differingKeys(recent.values, domain_.stored()))
        if (!changedKeys_.contains(key)) lacked.emplace(key, valueAt(domain_.stored(), key));
    return lacked;
}

// In the path's folder: "<file>.corrupt-<UTC time>", with "-2", "-3" ... after it when that is taken.
std::string JsonDefaultsStore::setAsideName() const {
    const std::string stamp = splitPath(path_).second + ".corrupt-" + timeStamp(loop_.wallTime());
    std::string name = stamp;
    struct stat st {};
    for (int n = 2; ::fstatat(place_.folder->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0; ++n)
        name = stamp + "-" + std::to_string(n);
    return name;
}

// The path of a name in the path's folder, for what is said of it.
std::string JsonDefaultsStore::inFolder(const std::string& name) const {
    return joinPath(splitPath(path_).first, name);
}

bool JsonDefaultsStore::setAside(const std::string& reason, const std::string& consequence) {
    if (!place_.folder) errno = ENOENT;
    const std::string aside = place_.folder ? setAsideName() : std::string();
    if (!place_.folder || ::renameat(place_.folder->fd, splitPath(path_).second.c_str(), place_.folder->fd,
                                     aside.c_str()) != 0) {
        qCWarning(lcSettings) << tagged(kTag, path_ + " " + reason + "; could not move it aside (" +
                                                  std::strerror(errno) + "); " + consequence);
        return false;
    }
    qCWarning(lcSettings) << tagged(
        kTag, path_ + " " + reason + "; moved it to " + inFolder(aside) + "; " + consequence);
    lastDisk_ = {};
    removeOldSetAsideCopies(aside);
    return true;
}

// An edit that came out of a swap and never became a defaults file is kept for the user as a corrupt file
// would be. Its temporary name looks like one of ours to any writer clearing leftovers; when one took it,
// what the file holds is copied, up to the size of a settings file that can be read at all.
void JsonDefaultsStore::setAsideSwappedOut(const std::string& reason) {
    OutFile& file = swappedOut_->file;
    // Beside the file, where set-aside copies are kept; with no folder found since, beside the edit.
    const int folder = place_.folder ? place_.folder->fd : file.folder->fd;
    std::string aside =
        place_.folder ? setAsideName() : splitPath(path_).second + ".corrupt-" + timeStamp(loop_.wallTime());
    std::string error;
    bool kept =
        namesOutFile(file) && ::renameat(file.folder->fd, file.name.c_str(), folder, aside.c_str()) == 0;
    if (!kept) {
        const int out =
            ::openat(folder, aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        kept = out >= 0;
        char buffer[16384];
        for (off_t at = 0; kept && at <= static_cast<off_t>(kMaxFileBytes);) {
            const ssize_t n = ::pread(file.fd, buffer, sizeof buffer, at);
            if (n == 0) break;
            if (n < 0 && errno == EINTR) continue;
            kept = n > 0 && ::write(out, buffer, static_cast<std::size_t>(n)) == n;
            at += n;
        }
        kept = kept && ::fsync(out) == 0;
        if (!kept) error = std::strerror(errno);
        if (out >= 0) ::close(out);
        if (!kept && out >= 0) ::unlinkat(folder, aside.c_str(), 0);
    }
    if (!kept) {
        qCWarning(lcSettings) << tagged(kTag, "an edit of " + path_ + " that landed during a write " +
                                                  reason + "; could not keep a copy (" + error + ")");
        return;
    }
    qCWarning(lcSettings) << tagged(kTag, "an edit of " + path_ + " that landed during a write " + reason +
                                              "; kept it as " + inFolder(aside));
    if (place_.folder) removeOldSetAsideCopies(aside);
}

// The settings path is a link we do not follow: nothing is read or written there, said once.
void JsonDefaultsStore::refuseTarget(const std::string& refusal) {
    if (std::exchange(targetRefused_, true)) return;
    qCWarning(lcSettings) << tagged(kTag,
                                    path_ + " " + refusal +
                                        "; leaving it and what it points to alone: the settings are kept "
                                        "in memory and not saved");
}

// Whether the file in place is still the one we last read or wrote (none, when there was none).
bool JsonDefaultsStore::standsAsRead() {
    std::string bytes, failure;
    switch (readFile(bytes, failure)) {
        case ReadResult::Missing:
            return !lastDisk_.bytes;
        case ReadResult::Read:
            return bytes == lastDisk_.bytes;
        case ReadResult::Changing:
        case ReadResult::Failed:
        case ReadResult::Refused:
            break;
    }
    return false;
}

// Something that is not a file was put in place since the read and came out of a swap under the name of
// `file`: kept for the user as an unreadable file is.
void JsonDefaultsStore::keepAsideNonFile(const OutFile& file) {
    const std::string aside = setAsideName();
    const bool moved = ::renameat(file.folder->fd, file.name.c_str(), place_.folder->fd, aside.c_str()) == 0;
    qCWarning(lcSettings) << tagged(kTag,
                                    path_ + " was replaced by something that is not a file while we wrote; " +
                                        (moved ? "moved it to " + inFolder(aside)
                                               : "left it at " + joinPath(file.folder->path, file.name)));
}

// Whether the file's temporary name still names it (no other writer cleared it as a leftover).
bool JsonDefaultsStore::namesOutFile(const OutFile& file) {
    struct stat named {
    }, open{};
    return ::fstatat(file.folder->fd, file.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstat(file.fd, &open) == 0 && named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

void JsonDefaultsStore::dropOutFile(OutFile& file) {
    if (file.fd < 0) return;
    if (namesOutFile(file)) ::unlinkat(file.folder->fd, file.name.c_str(), 0);
    ::close(file.fd);
    file.fd = -1;
}

// A file that keeps being broken (a tool that rewrites it in a loop) must not fill the folder with copies.
// Only names this store makes ("<file>.corrupt-<yyyyMMddTHHmmssZ>[-<n>]") that are regular files count; the
// copy just made always stays, whatever the clock said when it was named. The oldest copy stays too: it is
// the file the user had before things went wrong, the one worth going back to, which a run of later broken
// files must not push out.
void JsonDefaultsStore::removeOldSetAsideCopies(const std::string& newest) {
    static const QRegularExpression stamped(
        QStringLiteral("^\\.corrupt-([0-9]{8}T[0-9]{6}Z)(?:-([0-9]{1,9}))?$"));
    const std::string fileName = splitPath(path_).second;
    const int folder = place_.folder->fd;
    struct Copy {
        QString stamp;
        long long number;
        std::string name;
    };
    std::vector<Copy> copies;
    for (const std::string& name : listFolder(folder)) {
        if (name == newest || !name.starts_with(fileName) || !isRegularFileAt(folder, name)) continue;
        const auto match = stamped.match(QString::fromStdString(name.substr(fileName.size())));
        if (!match.hasMatch()) continue;
        copies.push_back(
            {match.captured(1), match.captured(2).isEmpty() ? 1 : match.captured(2).toLongLong(), name});
    }
    // Besides the one just made: the first and the newest others.
    if (copies.size() <= kKeptNewestSetAsideCopies) return;
    const auto older = [](const Copy& a, const Copy& b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.number < b.number;
    };
    copies.erase(std::min_element(copies.begin(), copies.end(), older));  // the first stays
    // Newest first. A name stamped later than now (the clock was put back since, or someone planted it) was
    // not set aside after what we set aside now: it comes after every other, and never holds a newest place
    // for good.
    const QString now = QString::fromStdString(timeStamp(loop_.wallTime()));
    std::sort(copies.begin(), copies.end(), [&](const Copy& a, const Copy& b) {
        const bool aLater = a.stamp > now, bLater = b.stamp > now;
        return aLater != bLater ? bLater : older(b, a);
    });
    int removed = 0;
    for (std::size_t i = kKeptNewestSetAsideCopies - 1; i < copies.size(); ++i)
        removed += ::unlinkat(folder, copies[i].name.c_str(), 0) == 0;
    if (removed > 0)
        qCInfo(lcSettings) << tagged(kTag, "removed " + std::to_string(removed) + " set-aside copies of " +
                                               path_ + "; the first and the newest " +
                                               std::to_string(kKeptNewestSetAsideCopies) + " stay");
}

void JsonDefaultsStore::set(const std::string& key, PlistValue value) {
    if (!isFinite(value)) {
        qCWarning(lcSettings) << tagged(
            kTag, "refusing to store \"" + key + "\": a number that is not finite has no stored form");
        return;
    }
    if (domain_.set(key, std::move(value))) markChanged(key);
}

void JsonDefaultsStore::remove(const std::string& key) {
    if (domain_.remove(key)) markChanged(key);
}

void JsonDefaultsStore::markChanged(const std::string& key) {
    changedKeys_.insert(key);
    // Every change of this turn of the loop goes out in one write.
    if (!flushPosted_ && !writesHeld_) postFlush(0);
}

void JsonDefaultsStore::holdWrites() {
    writesHeld_ = true;
}

void JsonDefaultsStore::releaseWrites() {
    writesHeld_ = false;
    if (!changedKeys_.empty() && !flushPosted_) postFlush(0);
}

void JsonDefaultsStore::postFlush(double delay) {
    flushPosted_ = true;
    std::function<void()> write = lifetime_.guard([this] {
        flushPosted_ = false;
        // The main thread never waits, neither for another writer nor for a file being saved: it tries
        // again a little later, and gives up on the file once it stayed unreadable for the settle time.
        const bool stopWaiting = settlingSince_ && loop_.uptime() - *settlingSince_ >= kSettleSeconds;
        Locking locking;
        const FlushResult result =
            flushLocked(locking, stopWaiting ? FileGiveUp::ifUnchanged : FileGiveUp::no);
        switch (result) {
            case FlushResult::Contended:
            case FlushResult::Reread:  // (never comes out of a flush)
                // The write went out; only what came out of it waits. A file found mid-save later is given
                // its whole settle time.
                settlingSince_.reset();
                postFlush(kLockRetrySeconds);
                break;
            case FlushResult::LockBusy:
                postFlush(kLockRetrySeconds);
                break;
            case FlushResult::FileSettling:
                settlingSince_ = loop_.uptime();
                postFlush(kSettlePollSeconds);
                break;
            case FlushResult::FileStillSettling:
                if (!settlingSince_) settlingSince_ = loop_.uptime();
                postFlush(kSettlePollSeconds);
                break;
            case FlushResult::Written:
            case FlushResult::Failed:
            case FlushResult::Refused:
            case FlushResult::TooLarge:
                settlingSince_.reset();
                afterWrite(result);
                break;
        }
    });
    if (delay <= 0)
        loop_.post(std::move(write));
    else
        lockRetry_ = loop_.postAfter(delay, std::move(write));
}

// After a write that failed, one more try is made later, each later than the last; a write that goes out ends
// them.
void JsonDefaultsStore::afterWrite(FlushResult result) {
    if (result == FlushResult::Written) {
        retryDelay_ = 0;
        failedRetry_.cancel();
        tooLargeLogged_ = false;
    }
    if (result != FlushResult::Failed || lifetime_.ended()) return;
    retryDelay_ = retryDelay_ == 0 ? kFirstRetrySeconds : std::min(2 * retryDelay_, kLongestRetrySeconds);
    failedRetry_ = loop_.postAfter(retryDelay_, lifetime_.guard([this] {
        if (!flushPosted_ && !writesHeld_) postFlush(0);
    }));
}

// Takes in what the file's content changed since we last read or wrote it; keys changed here since the last
// write keep our values. Returns false, changing nothing, when the content is not a defaults file.
bool JsonDefaultsStore::takeInOutsideChanges(const std::optional<std::string>& onDisk,
                                             std::set<std::string>& edited) {
    // A file removed from outside counts as one emptied: keys we did not change go with it.
    PlistValue fromFile = PlistValue::object();
    if (onDisk) {
        std::string error;
        auto decoded = decodeFile(*onDisk, error);
        if (!decoded) {
            settlingError_ = std::move(error);
            return false;
        }
        fromFile = std::move(*decoded);
    }
    const DiskState before = std::exchange(lastDisk_, {onDisk, std::move(fromFile)});
    edited = takeInEdit(before.values, lastDisk_.values, changedKeys_);
    return true;
}

bool JsonDefaultsStore::flush() {
    return flushWaitingForTheFile(false);
}

// Waits for a file caught mid-save, or changing under every swap, holding up the calling thread: the caller
// needs the write done before it returns.
bool JsonDefaultsStore::flushWaitingForTheFile(bool ending) {
    BlockingWaits& waits = *waits_;
    const double start = waits.now();
    const double deadline = ending ? start + kEndSeconds : std::numeric_limits<double>::infinity();
    Locking locking{.wait = kLockWaitSeconds, .writeAnyway = ending};
    // A file is given the whole settle time from when it was found mid-save as it is, however long the write
    // waited before; at the end, until the deadline only.
    std::optional<double> settlingSince;
    for (;;) {
        const double now = waits.now();
        const bool last = now >= deadline;
        if (ending) locking.wait = std::max(0.0, deadline - now);
        const FileGiveUp giveUp = last ? FileGiveUp::now
                                  : settlingSince && now - *settlingSince >= kSettleSeconds
                                      ? FileGiveUp::ifUnchanged
                                      : FileGiveUp::no;
        const FlushResult result = flushLocked(locking, giveUp);
        if (result == FlushResult::FileSettling) {
            settlingSince = waits.now();
        } else if (result == FlushResult::FileStillSettling) {
            if (!settlingSince) settlingSince = waits.now();
        } else if (result == FlushResult::Contended) {
            settlingSince.reset();
            if (last || waits.now() - start >= kSettleSeconds) {
                qCInfo(lcSettings) << tagged(
                    kTag,
                    path_ + " kept changing while we wrote; what it changed last is kept for the next try");
                return false;
            }
        } else {
            if (!ending) afterWrite(result);
            return result == FlushResult::Written;
        }
        // The try made at the deadline gave up on the file, and ours is in place; only an edit that came out
        // of its own swap half written is left, for the caller.
        if (last) return false;
        waits.pause(std::clamp(deadline - waits.now(), 0.0, kSettlePollSeconds));
    }
}

JsonDefaultsStore::FlushResult JsonDefaultsStore::flushLocked(Locking& locking, FileGiveUp giveUp) {
    if (changedKeys_.empty() && !swappedOut_ && !outsideEditsUnwritten_) return FlushResult::Written;
    place_ = locate(true);
    if (!place_.refusal.empty()) {
        refuseTarget(place_.refusal);
        return FlushResult::Refused;
    }
    if (!place_.fileFolder) {
        qCWarning(lcSettings) << tagged(
            kTag, "cannot write " + path_ + " (" + place_.failure + "); changes kept for the next try");
        return FlushResult::Failed;
    }
    const bool locked = lock(locking.passedOver ? 0 : locking.wait);
    if (!locked && !locking.writeAnyway) {
        if (locking.wait > 0)
            qCWarning(lcSettings) << tagged(
                kTag, lockPath(path_) + " stays held by another writer; changes kept for the next try");
        return FlushResult::LockBusy;
    }
    if (!locked && !std::exchange(locking.passedOver, true))
        qCWarning(lcSettings) << tagged(
            kTag, lockPath(path_) + " stays held by another writer; writing without it");
    if (locked && !leftoversRemoved_) removeOwnLeftovers();
    FlushResult result = FlushResult::Reread;
    // A file that changed while ours was being written is read again before anything is swapped.
    for (int reads = 0; result == FlushResult::Reread; ++reads) {
        if (reads == kMaxSwapRounds) {
            outsideEditsUnwritten_ = true;
            result = FlushResult::Contended;
            break;
        }
        std::string bytes, failure;
        std::set<std::string> editedOnDisk;
        bool ready = true;
        const ReadResult read = readFile(bytes, failure);
        switch (read) {
            case ReadResult::Refused:
                if (locked) unlock();
                refuseTarget(failure);
                return FlushResult::Refused;
            case ReadResult::Missing:
                if (lastDisk_.bytes) takeInOutsideChanges(std::nullopt, editedOnDisk);
                break;
            case ReadResult::Read:
            case ReadResult::Changing:
                if (read == ReadResult::Read &&
                    (bytes == lastDisk_.bytes || takeInOutsideChanges(bytes, editedOnDisk)))
                    break;
                // A file that changed while it was read is still being written, however it reads.
                if (read == ReadResult::Changing) {
                    settlingError_ = kChangedWhileRead;
                    settlingBytes_.reset();
                }
                // An editor that saves in place empties the file and then writes it anew: between the two,
                // and while it writes, the file is empty or cut short. That is waited for, as the watcher
                // waits for the next change, and only what stays unreadable is a corrupt file.
                if (const FlushResult settling = settlingOn(bytes); !givesUp(giveUp, settling)) {
                    if (locked) unlock();
                    return settling;
                }
                // What was written there is unusable; keep it for the user and write ours in its place.
                ready =
                    setAside("was replaced by something that is not a defaults file (" + settlingError_ + ")",
                             "writing the settings in use");
                break;
            case ReadResult::Failed:
                // Whatever is there now (too large, unreadable, not a file) is kept for the user, never
                // overwritten: when it cannot be moved aside, nothing is written.
                ready = setAside("cannot be read (" + failure + ")", "writing the settings in use");
                break;
        }
        result = FlushResult::Failed;
        if (!ready) {
            qCWarning(lcSettings) << tagged(kTag, "changes kept for the next try");
        } else {
            // An edit that came out of an earlier write half done, and is older than what the file now holds.
            if (swappedOut_) result = takeInSwappedOut(giveUp, editedOnDisk);
            if (!swappedOut_) {
                settlingBytes_.reset();
                result = writeMerged();
            }
        }
    }
    if (locked) unlock();
    return result;
}

// Whether `bytes`, found mid-save, are what the last try found (FileStillSettling) or anything else, an
// editor still writing (FileSettling): the settle time only runs out on a file that stays as it is.
JsonDefaultsStore::FlushResult JsonDefaultsStore::settlingOn(const std::string& bytes) {
    if (bytes == settlingBytes_) return FlushResult::FileStillSettling;
    settlingBytes_ = bytes;
    return FlushResult::FileSettling;
}

// A file still changing is waited for even once the settle time is over; only a deadline stops that.
bool JsonDefaultsStore::givesUp(FileGiveUp giveUp, FlushResult settling) {
    return giveUp == FileGiveUp::now ||
           (giveUp == FileGiveUp::ifUnchanged && settling == FlushResult::FileStillSettling);
}

// Until the edit reads whole the write waits, and the keys our earlier write put out and those edited in the
// file since then keep what they hold: both are newer than the edit or win over it.
JsonDefaultsStore::FlushResult JsonDefaultsStore::takeInSwappedOut(FileGiveUp giveUp,
                                                                   const std::set<std::string>& newerEdits) {
    FileRead read = readBoundedDescriptor(swappedOut_->file.fd, kMaxFileBytes);
    std::string error = read.why;
    std::optional<PlistValue> edited;
    if (read.ok()) edited = decodeFile(read.bytes, error);
    if (!edited) {
        // One too large to read is told by why.
        const FlushResult settling = settlingOn(read.ok() ? read.bytes : read.why);
        if (!givesUp(giveUp, settling)) {
            settlingError_ = std::move(error);
            return settling;
        }
    }
    if (edited) {
        std::set<std::string> keep = swappedOut_->ours;
        keep.insert(changedKeys_.begin(), changedKeys_.end());
        keep.insert(newerEdits.begin(), newerEdits.end());
        if (!takeInEdit(swappedOut_->base, *edited, keep).empty()) outsideEditsUnwritten_ = true;
        rememberCameOut(*edited);
    } else {
        setAsideSwappedOut("is not a defaults file (" + error + ")");
    }
    dropOutFile(swappedOut_->file);
    swappedOut_.reset();
    return FlushResult::Written;
}

// Our own file is never one we would refuse to read: the settings are written laid out, or, when that would
// be larger than a settings file may be, on one line (a file the user saved just under the limit takes more
// room laid out our way); larger still, not at all, which is said once until a write goes out again. The file
// then stays as it is, and what is pending stays in memory until a change makes it fit.
std::optional<std::string> JsonDefaultsStore::fileText(const PlistValue& stored) {
    std::string text = encodeDefaultsFile(stored);
    if (text.size() <= kMaxFileBytes) return text;
    text = encodeDefaultsFile(stored, -1);
    if (text.size() <= kMaxFileBytes) return text;
    if (!std::exchange(tooLargeLogged_, true))
        qCWarning(lcSettings) << tagged(
            kTag, "not writing " + path_ + ": the settings would take " + std::to_string(text.size()) +
                      " bytes, more than the " + std::to_string(kMaxFileBytes) +
                      " a settings file may hold; the file stays as it is, and the changes are kept in "
                      "memory until one makes them fit");
    return std::nullopt;
}

// Writes the stored values unless the file holds them already. A plain rename would replace whatever is in
// place at that moment unseen, an edit that landed after our read included; the swap hands it back instead,
// and what it changed is taken in and written again.
JsonDefaultsStore::FlushResult JsonDefaultsStore::writeMerged() {
    for (int round = 0;; ++round) {
        const std::optional<std::string> fitting = fileText(domain_.stored());
        if (!fitting) return FlushResult::TooLarge;
        const std::string& text = *fitting;
        if (text == lastDisk_.bytes) break;
        if (round == kMaxSwapRounds) {
            outsideEditsUnwritten_ = true;
            return FlushResult::Contended;
        }
        OutFile out;
        const SwapResult swap = writeAndSwap(text, domain_.stored(), out);
        if (swap == SwapResult::Failed) return FlushResult::Failed;
        if (swap == SwapResult::Stale) return FlushResult::Reread;
        settleRecentFiles();
        // What the file now holds, as stored values (keys and text that are not UTF-8 it spells with U+FFFD;
        // measuring edits against the stored spelling takes that in, no more).
        const DiskState before = std::exchange(lastDisk_, {text, domain_.stored()});
        // What was in place when the swap was made: the file as we knew it, or an edit made to it since;
        // nothing when there was no file. A rename without exchange leaves nothing to look at, and something
        // that is not a file has been set aside.
        std::optional<std::string> cameOut = before.bytes;
        if (swap == SwapResult::Placed) cameOut.reset();
        if (out.fd >= 0) {
            FileRead read = readBoundedDescriptor(out.fd, kMaxFileBytes);
            cameOut = read.ok() ? std::move(read.bytes) : read.why;
        }
        if (cameOut == before.bytes) {
            dropOutFile(out);
            break;
        }
        // A whole edit goes back in place at once, before anything else is done with it: ours, which lacks
        // it, stands only between the two swaps, so an editor that reads the file then reads the edit, as it
        // would have without us, and never builds on a file that lacks it. The next round writes it with our
        // changes.
        if (out.fd >= 0 && looksWhole(*cameOut)) {
            const DiskState ours = lastDisk_;
            const FlushResult back = putBack(out, std::move(*cameOut), before, ours);
            settleRecentFiles();
            if (back != FlushResult::Written) return back;
            continue;
        }
        std::optional<PlistValue> edited = PlistValue::object();
        std::string error;
        if (cameOut) edited = decodeFile(*cameOut, error);
        if (!edited) {
            // Empty or cut short: an editor writing in place when its file was taken away. It goes on
            // writing there; what we wrote stays in place meanwhile, and the edit is taken in once whole.
            swappedOut_ = SwappedOut{std::move(out), before.values, std::move(changedKeys_)};
            changedKeys_.clear();
            outsideEditsUnwritten_ = false;
            settlingError_ = std::move(error);
            return settlingOn(cameOut ? *cameOut : std::string());
        }
        dropOutFile(out);
        takeInEdit(before.values, *edited, changedKeys_);
        if (cameOut) rememberCameOut(std::move(*edited));
    }
    // What stands now holds it all: a file like any other.
    placedGone(true);
    changedKeys_.clear();
    outsideEditsUnwritten_ = false;
    return FlushResult::Written;
}

// The new content goes to a temporary file beside the real one (beside the link's target for a linked
// file), is flushed to disk and then exchanged with the old one in one step, so a crash at any moment leaves
// either the old file or the new one, and the old one comes out under the temporary's name to be looked at.
JsonDefaultsStore::SwapResult JsonDefaultsStore::writeAndSwap(const std::string& text,
                                                              const PlistValue& values, OutFile& cameOut) {
    cameOut = {};
    const FolderRef folder = place_.fileFolder;
    const std::string& target = place_.name;
    std::string temporary;
    auto fail = [&](const std::string& what, int fd) {
        const std::string reason = std::strerror(errno);
        if (fd >= 0) ::close(fd);
        if (!temporary.empty()) ::unlinkat(folder->fd, temporary.c_str(), 0);
        qCWarning(lcSettings) << tagged(
            kTag, "cannot write " + path_ + " (" + what + ": " + reason + "); changes kept for the next try");
        return SwapResult::Failed;
    };
    // A new file is readable and writable by the user only, as a new settings file should be (and, made by
    // root in another user's folder, that user's). One that replaces a file keeps that file's owner and mode,
    // as a careful saver does (root saving another user's settings leaves them that user's).
    const int fd = createTemporaryAt(folder->fd, "." + target + std::string(kTemporaryMarker), temporary);
    if (fd < 0) {
        temporary.clear();
        return fail("creating a temporary file", -1);
    }
    if (struct stat st{};
        ::fstatat(folder->fd, target.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
        if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) && ::fchown(fd, st.st_uid, st.st_gid) != 0)
            qCWarning(lcSettings) << tagged(kTag, path_ + " belongs to user " + std::to_string(st.st_uid) +
                                                      " and group " + std::to_string(st.st_gid) +
                                                      "; its new content cannot keep them (" +
                                                      std::strerror(errno) + ") and becomes this user's");
        if (::fchmod(fd, st.st_mode & 0777) != 0) return fail("keeping the file's mode", fd);
    } else if (!giveToFolderOwner(fd, folder->fd)) {
        return fail("giving the new file to the folder's owner", fd);
    }
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail("writing", fd);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) return fail("flushing to disk", fd);
    if (::close(fd) != 0) return fail("closing", -1);
    if (beforeLastLook_) beforeLastLook_();
    // Writing and flushing took a while: an edit that landed meanwhile is read and written with ours instead
    // of coming out of the swap. Only one landing between this look and the swap does, and ours, lacking
    // it, stands for a moment then.
    if (!standsAsRead()) {
        ::unlinkat(folder->fd, temporary.c_str(), 0);
        return SwapResult::Stale;
    }
    if (beforeSwap_) beforeSwap_();
    // A file that appears or goes between two tries is tried again; three tries cover any such turn.
    for (int tries = 0; tries < 3; ++tries) {
        if (swapIn(*folder, temporary, target, &values)) {
            // Read through the descriptor, also while an editor still writes to it.
            const OutFile out{::openat(folder->fd, temporary.c_str(),
                                       O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY),
                              folder, temporary, target};
            struct stat st {};
            if (out.fd >= 0 && ::fstat(out.fd, &st) == 0 && S_ISREG(st.st_mode)) {
                cameOut = out;
                return SwapResult::Exchanged;
            }
            if (out.fd >= 0) ::close(out.fd);
            keepAsideNonFile(out);
            return SwapResult::Exchanged;
        }
        if (errno == EINVAL || errno == ENOSYS) {
            // A file system that cannot exchange files: the plain rename, which an edit landing right now
            // loses.
            if (!exchangeUnavailableLogged_) {
                exchangeUnavailableLogged_ = true;
                qCWarning(lcSettings)
                    << tagged(kTag, "cannot exchange files in " + folder->path + " (" + std::strerror(errno) +
                                        "); replacing the file, which loses an edit made while we write");
            }
            if (::renameat(folder->fd, temporary.c_str(), folder->fd, target.c_str()) != 0)
                return fail("renaming into place", -1);
            placedGone(false);
            return SwapResult::Replaced;
        }
        if (errno != ENOENT) return fail("swapping into place", -1);
        // No file in place (or our temporary is gone, which the next call tells).
        if (::renameat2(folder->fd, temporary.c_str(), folder->fd, target.c_str(), RENAME_NOREPLACE) == 0 ||
            (errno == EINVAL && ::renameat(folder->fd, temporary.c_str(), folder->fd, target.c_str()) == 0)) {
            placedGone(false);
            return SwapResult::Placed;
        }
        if (errno != EEXIST) return fail("renaming into place", -1);
    }
    return fail("swapping into place", -1);
}

// Puts an edit that came out of our swap back in place, and with it the newest of any edits that land
// meanwhile. `held` (its text `heldBytes`, made to the file `heldBase`) is swapped with `standing`, which
// comes out again, unless an edit took its place in the moment between: that one is newer still, and goes in
// place the same way once it is taken in. Every file that comes out is read and taken in, none is dropped
// unread. Written once the newest edit stands; a settling result when one turns out to be mid-save after all
// (an editor writing in place, as when it stands there without us) or comes out so, to be waited for.
// An edit that took the place of a file standing for a moment was made from it when another program opened it
// meanwhile; when none did, it goes on from the file that stood before, which came out as that one went in.
JsonDefaultsStore::FlushResult JsonDefaultsStore::putBack(OutFile& held, std::string heldBytes,
                                                          DiskState heldBase, DiskState standing) {
    // The file put back that stands, and the one going in, watched for an opening while they stand.
    struct Watches {
        OpenWatch& openWatch;
        int standing = -1, goingIn = -1;
        ~Watches() {
            openWatch.end(standing);
            openWatch.end(goingIn);
        }
    } watches{*openWatch_};
    for (int swaps = 0;; ++swaps) {
        if (beforeSwap_ && swaps < kMaxSwapRounds) beforeSwap_();
        bool standingOpened = true;
        if (swaps < kMaxSwapRounds)
            watches.goingIn = openWatch_->watch(openedPath(held.folder->fd, held.name));
        if (swaps == kMaxSwapRounds ||
            !swapIn(*held.folder, held.name, held.target, nullptr, &standingOpened)) {
            // It stays out of place: taken in from where it is, and written with ours on the next round.
            takeInCameOut(held, heldBase.values);
            lastDisk_ = std::move(standing);
            return swappedOut_ ? settlingOn(heldBytes) : FlushResult::Written;
        }
        if (watches.standing >= 0) standingOpened = openWatch_->end(std::exchange(watches.standing, -1));
        watches.standing = std::exchange(watches.goingIn, -1);
        // `held` stands; what it was swapped with is under its name now, and is read before anything else.
        ::close(std::exchange(held.fd, -1));
        OutFile cameOut{-1, held.folder, held.name, held.target};
        std::optional<std::string> cameOutBytes;
        const int fd = ::openat(held.folder->fd, held.name.c_str(),
                                O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            cameOut.fd = fd;
            FileRead read = readBoundedDescriptor(fd, kMaxFileBytes);
            cameOutBytes = read.ok() ? std::move(read.bytes) : read.why;
        } else {
            if (fd >= 0) ::close(fd);
            keepAsideNonFile(cameOut);
        }
        std::string error;
        std::optional<PlistValue> edited = decodeFile(heldBytes, error);
        if (!edited) {
            // Whole-looking, yet mid-save: the file stands as its editor left it, and is waited for as any
            // file found mid-save is, measured against the file it was made to once it reads.
            lastDisk_ = std::move(heldBase);
            outsideEditsUnwritten_ = true;
            settlingError_ = std::move(error);
            if (cameOutBytes == standing.bytes)
                dropOutFile(cameOut);
            else if (cameOut.fd >= 0)
                swappedOut_ = SwappedOut{std::move(cameOut), standing.values, changedKeys_};
            placedGone(true);
            return settlingOn(heldBytes);
        }
        takeInEdit(heldBase.values, *edited, changedKeys_);
        // What ours lacked while it stood is known now: the edit that came out of its swap, taken in. Edits
        // taken in later are no part of it, however long the files keep coming out.
        settleRecentFiles();
        rememberCameOut(*edited);
        DiskState heldState{std::move(heldBytes), std::move(*edited)};
        if (cameOut.fd < 0 || cameOutBytes == standing.bytes) {
            dropOutFile(cameOut);
            lastDisk_ = std::move(heldState);
            return FlushResult::Written;
        }
        if (!looksWhole(*cameOutBytes)) {
            // An editor writing in place into what stood: waited for as one that came out of a swap, with
            // our changes not on disk yet.
            swappedOut_ = SwappedOut{std::move(cameOut), standing.values, changedKeys_};
            outsideEditsUnwritten_ = true;
            lastDisk_ = std::move(heldState);
            return settlingOn(*cameOutBytes);
        }
        held = std::move(cameOut);
        heldBytes = std::move(*cameOutBytes);
        if (standingOpened) {
            heldBase = std::exchange(standing, std::move(heldState));
        } else {
            standing = std::move(heldState);
            heldBase = standing;
        }
    }
}

// An edit that came out of a swap and stays out of place: a whole one is taken in (measured against the file
// it was made to), one mid-save is waited for; our changes keep their values against it and are still to be
// written.
void JsonDefaultsStore::takeInCameOut(OutFile& file, const PlistValue& base) {
    FileRead read = readBoundedDescriptor(file.fd, kMaxFileBytes);
    std::string error = read.why;
    std::optional<PlistValue> edited;
    if (read.ok()) edited = decodeFile(read.bytes, error);
    outsideEditsUnwritten_ = true;
    if (!edited) {
        settlingError_ = std::move(error);
        swappedOut_ = SwappedOut{std::exchange(file, {}), base, changedKeys_};
        return;
    }
    takeInEdit(base, *edited, changedKeys_);
    rememberCameOut(*edited);
    dropOutFile(file);
}

bool JsonDefaultsStore::swapIn(const Folder& folder, const std::string& name, const std::string& target,
                               const PlistValue* ours, bool* placedOpened) {
    if (!openWatch_) openWatch_ = std::make_unique<OpenWatch>();
    const int watch = ours ? openWatch_->watch(openedPath(folder.fd, name)) : -1;
    if (::renameat2(folder.fd, name.c_str(), folder.fd, target.c_str(), RENAME_EXCHANGE) != 0) {
        const int error = errno;
        if (watch >= 0) openWatch_->end(watch);
        errno = error;
        return false;
    }
    // Whatever stood is out now: a file we placed and watched too, if no other program replaced it before.
    const bool opened = placedGone(false);
    if (placedOpened) *placedOpened = opened;
    // Ours is watched until we know whether an edit landed on the file it took the place of.
    if (ours) placed_ = Placed{watch, *ours};
    return true;
}

bool JsonDefaultsStore::placedGone(bool stays) {
    if (!placed_) return true;
    const bool opened = openWatch_->end(placed_->watch);
    if (opened && !stays) rememberFile(std::move(placed_->values));
    placed_.reset();
    return opened;
}

void JsonDefaultsStore::rememberFile(PlistValue values) {
    const double now = loop_.uptime();
    std::erase_if(recentFiles_, [&](const RecentFile& recent) { return recent.until < now; });
    if (recentFiles_.size() >= kRecentFiles) recentFiles_.erase(recentFiles_.begin());
    recentFiles_.push_back({std::move(values), now + kRecentFileSeconds});
}

// An edit that came out of a swap of ours stood until then, and editors may have read it (or go on from it,
// as it may have been made from a file we placed). Once it is taken in, it is remembered when it lacks some
// of what we hold but for our own changes: an edit made from it never saw that.
void JsonDefaultsStore::rememberCameOut(PlistValue values) {
    RecentFile recent{std::move(values)};
    recent.lacked = lackedBy(recent);
    recent.settled = true;
    if (recent.lacked.empty()) return;
    rememberFile(std::move(recent.values));
    recentFiles_.back().lacked = std::move(recent.lacked);
    recentFiles_.back().settled = true;
}

// The lock file lies in the path's folder, opened through it. Made by root in another user's folder it is
// that user's, so that the user's own later runs can open it too.
bool JsonDefaultsStore::lock(double waitSeconds) {
    const Folder& folder = *place_.folder;
    struct stat at {};
    const bool folderKnown = ::fstat(folder.fd, &at) == 0;
    if (lockFd_ >= 0 && (!folderKnown || lockFolder_ != std::pair{at.st_dev, at.st_ino})) {
        ::close(lockFd_);
        lockFd_ = -1;
    }
    const std::string file = lockPath(path_);
    if (lockFd_ < 0) {
        const std::string name = lockPath(splitPath(path_).second);
        // Never follows a link and never blocks, whatever was put at the lock's place.
        constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY;
        lockFd_ = ::openat(folder.fd, name.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
        if (lockFd_ >= 0) {
            // Root can give a file away on any file system that has owners at all.
            static_cast<void>(giveToFolderOwner(lockFd_, folder.fd));
        } else if (errno == EEXIST) {
            lockFd_ = ::openat(folder.fd, name.c_str(), kFlags);
        }
        struct stat st {};
        if (lockFd_ >= 0 && (::fstat(lockFd_, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(lockFd_);
            lockFd_ = -1;
            errno = EINVAL;
        }
        if (lockFd_ < 0) {
            // A folder that cannot hold the lock file: the write that follows reports its own failure,
            // and a read-only folder has no second writer to guard against.
            if (errno != ENOENT && !lockUnavailableLogged_) {
                lockUnavailableLogged_ = true;
                qCWarning(lcSettings) << tagged(
                    kTag, "cannot use " + file + " (" + std::strerror(errno) + "); writing without it");
            }
            return true;
        }
        lockFolder_ = {at.st_dev, at.st_ino};
    }
    int result;
    do {
        result = ::flock(lockFd_, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return true;
    if (errno != EWOULDBLOCK) {
        if (!lockUnavailableLogged_) {
            lockUnavailableLogged_ = true;
            qCWarning(lcSettings) << tagged(
                kTag, "cannot lock " + file + " (" + std::strerror(errno) + "); writing without it");
        }
        return true;
    }
    if (waitSeconds <= 0) return false;
    // A second opening of the very file (a lock is held by an opening), whatever was renamed since.
    waitedLockFd_ = waits_->lock(openedPath(lockFd_), waitSeconds);
    return waitedLockFd_ >= 0;
}

void JsonDefaultsStore::unlock() {
    if (waitedLockFd_ >= 0) {
        // Closing the only descriptor of that opening releases its lock.
        ::close(waitedLockFd_);
        waitedLockFd_ = -1;
    } else if (lockFd_ >= 0) {
        ::flock(lockFd_, LOCK_UN);
    }
}

void JsonDefaultsStore::takeInOutsideEdits() {
    place_ = locate(false);
    std::string bytes, failure;
    const ReadResult read = readFile(bytes, failure);
    if ((read != ReadResult::Read && read != ReadResult::Changing) || bytes == lastDisk_.bytes) {
        halfWritten_.reset();
        return;
    }
    if (read == ReadResult::Read && bytes == lastRefusedBytes_) return;
    std::string error = kChangedWhileRead;
    std::optional<PlistValue> fromFile;
    if (read == ReadResult::Read) fromFile = decodeFile(bytes, error);
    if (!fromFile) {
        halfWrittenSeen(bytes, error, read == ReadResult::Read);
        return;
    }
    halfWritten_.reset();
    lookAgain_.cancel();
    lastRefusedBytes_.reset();
    const DiskState before = std::exchange(lastDisk_, {std::move(bytes), std::move(*fromFile)});
    takeInEdit(before.values, lastDisk_.values, changedKeys_);
}

// An editor saving in place leaves the file empty or cut short for a moment, and one saving in a loop does so
// again and again; on a busy machine the moment can last a while. A file that does not read whole is looked
// at again until it does, for the settle time, and only then reported, once for the whole spell: as a file
// that is not a defaults file, or, when it kept changing, as one being rewritten, with how often it was found
// so.
void JsonDefaultsStore::halfWrittenSeen(const std::string& bytes, const std::string& error, bool steady) {
    const double now = loop_.uptime();
    if (!halfWritten_) halfWritten_ = HalfWrittenSpell{.since = now};
    HalfWrittenSpell& spell = *halfWritten_;
    if (!steady || spell.seen == 0 || bytes != spell.bytes) ++spell.seen;
    spell.bytes = steady ? bytes : std::string();
    if (spell.reported) return;
    if (now - spell.since < kSettleSeconds) {
        lookAgain_ = loop_.postAfter(kSettlePollSeconds, lifetime_.guard([this] { takeInOutsideEdits(); }));
        return;
    }
    spell.reported = true;
    if (spell.seen > 1)
        qCWarning(lcSettings) << tagged(
            kTag, path_ + " keeps being rewritten: found half written " + std::to_string(spell.seen) +
                      " times in " +
                      std::to_string(static_cast<int>(std::lround((now - spell.since) * 1000))) +
                      " ms; keeping the settings in use until it reads whole");
    else
        qCWarning(lcSettings) << tagged(kTag, path_ +
                                                  " was edited into something that is not a defaults file (" +
                                                  error + "); keeping the settings in use");
    if (steady) lastRefusedBytes_ = bytes;
}

void JsonDefaultsStore::watchForOutsideEdits() {
    if (watcher_) return;
    // The folder is watched from the start, so it is made now if it is missing.
    static_cast<void>(locate(true));
    watcher_ = std::make_unique<QFileSystemWatcher>();
    // A replaced file (every atomic save, ours too) shows only on its folder; an edit in place only on
    // the file. Both lead to one read on the next turn of the loop.
    const auto seen = [this] {
        if (checkPosted_) return;
        checkPosted_ = true;
        loop_.post(lifetime_.guard([this] {
            checkPosted_ = false;
            followFile();
            takeInOutsideEdits();
        }));
    };
    QObject::connect(watcher_.get(), &QFileSystemWatcher::fileChanged, watcher_.get(), seen);
    QObject::connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, watcher_.get(), seen);
    followFile();
}

// Watches the folder, and the file while it exists (a watch ends when its file is replaced).
void JsonDefaultsStore::followFile() {
    if (!watcher_) return;
    const QString file = QString::fromStdString(path_);
    const QString folder = QString::fromStdString(parentDirectory(path_));
    if (!folder.isEmpty() && !watcher_->directories().contains(folder)) watcher_->addPath(folder);
    struct stat st {};
    if (!watcher_->files().contains(file) && ::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        watcher_->addPath(file);
}

}  // namespace velaro
