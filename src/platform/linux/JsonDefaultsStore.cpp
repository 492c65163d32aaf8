// The JSON defaults file: its encoding, the guarded load, and atomic, merging writes through QSaveFile.
#include "platform/linux/JsonDefaultsStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Log.h"

namespace velaro {

namespace {

constexpr std::string_view kTag = "DEFAULTS";
constexpr std::string_view kDataKey = "$data";
constexpr const char* kStartingFresh = "starting from defaults";
// Our own values nest a few levels at most. A limit keeps the recursive walks below (and nlohmann's own
// recursive dump and compare) far from the stack's end on a hostile file.
constexpr int kMaxNesting = 256;
// A settings file is a few kilobytes; anything this large is not ours and is not read into memory.
constexpr std::size_t kMaxFileBytes = 64 * 1024 * 1024;

// The deepest bracket nesting of a JSON text, counted outside strings; stops counting past the limit.
int nestingDepth(std::string_view text) {
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"')
            inString = true;
        else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
            if (deepest > kMaxNesting) break;
        } else if (c == ']' || c == '}')
            --depth;
    }
    return deepest;
}

bool isFinite(const PlistValue& value) {
    if (value.is_number_float()) return std::isfinite(value.get<double>());
    if (value.is_array() || value.is_object()) {
        for (const auto& element : value)
            if (!isFinite(element)) return false;
    }
    return true;
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

// Creates the missing directories of `dir`, private to the user as configuration directories should be.
bool makeDirectories(const std::string& dir) {
    if (dir.empty()) return true;
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const auto slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeDirectories(dir.substr(0, slash))) return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string parentDirectory(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string encodeDefaultsFile(const PlistValue& stored) {
    // Invalid UTF-8 in a key or string is written as U+FFFD rather than failing the whole write.
    return toFileForm(stored).dump(2, ' ', false, PlistValue::error_handler_t::replace) + "\n";
}

std::optional<PlistValue> decodeDefaultsFile(std::string_view text, std::string* error,
                                             std::vector<std::string>* skippedKeys) {
    auto fail = [&](std::string reason) -> std::optional<PlistValue> {
        if (error) *error = std::move(reason);
        return std::nullopt;
    };
    if (nestingDepth(text) > kMaxNesting) return fail("nested deeper than " + std::to_string(kMaxNesting));
    PlistValue parsed;
    try {
        parsed = PlistValue::parse(text);
    } catch (const PlistValue::exception& e) {
        return fail(e.what());
    }
    if (!parsed.is_object())
        return fail(std::string("top level is ") + parsed.type_name() + ", not an object");
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

JsonDefaultsStore::JsonDefaultsStore(MainLoop& loop, std::string path) : loop_(loop), path_(std::move(path)) {
    load();
}

JsonDefaultsStore::~JsonDefaultsStore() {
    *alive_ = false;
    flush();
}

std::string JsonDefaultsStore::standardPath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
    return (base + QStringLiteral("/Velaro/defaults.json")).toStdString();
}

JsonDefaultsStore::ReadResult JsonDefaultsStore::readFile(std::string& bytes, std::string& failure) const {
    auto failed = [&](int fd, std::string reason) {
        if (fd >= 0) ::close(fd);
        failure = std::move(reason);
        return ReadResult::Failed;
    };
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::Missing : failed(-1, std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) return failed(fd, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return failed(fd, "not a regular file");
    if (static_cast<std::size_t>(st.st_size) > kMaxFileBytes) return failed(fd, "far too large");
    bytes.clear();
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return failed(fd, std::strerror(errno));
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxFileBytes) return failed(fd, "far too large");
    }
    ::close(fd);
    return ReadResult::Read;
}

// A write killed midway leaves its temporary file ("defaults.json.XXXXXX") beside the real one. Only one
// Velaro runs per session, so at start-up no write of ours is in flight. The name alone could also be a copy
// the user keeps ("defaults.json.backup"), so only torn files, which hold nothing usable, are removed.
void JsonDefaultsStore::removeLeftoverTemporaries() const {
    const QFileInfo info(QString::fromStdString(path_));
    QDir dir = info.dir();
    const QString prefix = info.fileName() + ".";
    for (const QString& name :
         dir.entryList({prefix + "??????"}, QDir::Files | QDir::Hidden | QDir::System)) {
        QFile file(dir.filePath(name));
        if (file.size() > static_cast<qint64>(kMaxFileBytes) || !file.open(QIODevice::ReadOnly)) continue;
        const QByteArray bytes = file.readAll();
        file.close();
        if (decodeDefaultsFile(std::string_view(bytes.constData(), bytes.size()))) continue;
        if (dir.remove(name))
            logLine(kTag, "removed a half-written copy left by an interrupted write: " + name.toStdString());
    }
}

void JsonDefaultsStore::load() {
    removeLeftoverTemporaries();
    std::string bytes, failure;
    switch (readFile(bytes, failure)) {
        case ReadResult::Missing:
            return;
        case ReadResult::Failed:
            setAside("cannot be read (" + failure + ")", kStartingFresh);
            return;
        case ReadResult::Read:
            break;
    }
    std::string error;
    std::vector<std::string> skipped;
    auto stored = decodeDefaultsFile(bytes, &error, &skipped);
    if (!stored) {
        setAside("is not a defaults file (" + error + ")", kStartingFresh);
        return;
    }
    for (const auto& key : skipped) logLine(kTag, "ignoring unusable value of \"" + key + "\" in " + path_);
    domain_.replaceStored(std::move(*stored));
    lastDiskBytes_ = std::move(bytes);
}

void JsonDefaultsStore::setAside(const std::string& reason, const std::string& consequence) {
    const auto now =
        std::chrono::duration_cast<std::chrono::milliseconds>(loop_.wallTime().time_since_epoch());
    const std::string stamp = QDateTime::fromMSecsSinceEpoch(now.count(), Qt::UTC)
                                  .toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"))
                                  .toStdString();
    std::string target = path_ + ".corrupt-" + stamp;
    for (int n = 2; QFile::exists(QString::fromStdString(target)); ++n)
        target = path_ + ".corrupt-" + stamp + "-" + std::to_string(n);
    if (::rename(path_.c_str(), target.c_str()) == 0) {
        logLine(kTag, path_ + " " + reason + "; moved it to " + target + "; " + consequence);
    } else {
        logLine(kTag, path_ + " " + reason + "; could not move it aside (" + std::strerror(errno) + "); " +
                          consequence);
    }
    lastDiskBytes_.reset();
}

void JsonDefaultsStore::set(const std::string& key, PlistValue value) {
    if (!isFinite(value)) {
        logLine(kTag, "refusing to store \"" + key + "\": a number that is not finite has no stored form");
        return;
    }
    if (domain_.set(key, std::move(value))) markChanged(key);
}

void JsonDefaultsStore::remove(const std::string& key) {
    if (domain_.remove(key)) markChanged(key);
}

void JsonDefaultsStore::markChanged(const std::string& key) {
    changedKeys_.insert(key);
    if (flushPosted_) return;
    // Every change of this turn of the loop goes out in one write.
    flushPosted_ = true;
    loop_.post([this, alive = alive_] {
        if (!*alive) return;
        flushPosted_ = false;
        flush();
    });
}

void JsonDefaultsStore::takeInOutsideChanges(const std::optional<std::string>& onDisk) {
    PlistValue merged = PlistValue::object();
    if (onDisk) {
        std::string error;
        auto fromFile = decodeDefaultsFile(*onDisk, &error);
        if (!fromFile) {
            // What was written there is unusable; keep it for the user and write ours in its place.
            setAside("was replaced by something that is not a defaults file (" + error + ")",
                     "writing the settings in use");
            return;
        }
        merged = std::move(*fromFile);
    }
    // A file removed from outside counts as one emptied: keys we did not change go with it.
    for (const auto& key : changedKeys_) {
        if (domain_.hasStoredValue(key))
            merged[key] = domain_.stored()[key];
        else
            merged.erase(key);
    }
    domain_.replaceStored(std::move(merged));
}

bool JsonDefaultsStore::flush() {
    if (changedKeys_.empty()) return true;
    std::string bytes, failure;
    switch (readFile(bytes, failure)) {
        case ReadResult::Missing:
            if (lastDiskBytes_) takeInOutsideChanges(std::nullopt);
            break;
        case ReadResult::Read:
            if (bytes != lastDiskBytes_) takeInOutsideChanges(bytes);
            break;
        case ReadResult::Failed:
            // Nothing to merge from a file we cannot read; the write below replaces it if it can.
            logLine(kTag, path_ + " cannot be read before writing (" + failure + ")");
            break;
    }
    const std::string text = encodeDefaultsFile(domain_.stored());
    if (!writeFile(text)) return false;
    lastDiskBytes_ = text;
    changedKeys_.clear();
    return true;
}

bool JsonDefaultsStore::writeFile(const std::string& text) {
    const std::string dir = parentDirectory(path_);
    if (!makeDirectories(dir)) {
        logLine(kTag,
                "cannot create " + dir + ": " + std::strerror(errno) + "; changes kept for the next try");
        return false;
    }
    // QSaveFile writes a temporary file and renames it over the old one only once everything is on disk,
    // so a crash at any moment leaves either the old file or the new one.
    QSaveFile file(QString::fromStdString(path_));
    bool ok = file.open(QIODevice::WriteOnly) &&
              file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
              file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
    const QString error = file.errorString();
    if (ok)
        ok = file.commit();
    else
        file.cancelWriting();
    if (!ok) {
        logLine(kTag, "cannot write " + path_ + ": " +
                          (file.errorString().isEmpty() ? error : file.errorString()).toStdString() +
                          "; changes kept for the next try");
    }
    return ok;
}

}  // namespace velaro
