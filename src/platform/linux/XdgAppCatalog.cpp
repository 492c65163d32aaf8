// Desktop entries as the application catalog.
#include "platform/linux/XdgAppCatalog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QFileSystemWatcher>
#include <QIcon>
#include <QImageReader>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <future>
#include <sstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/FileRead.h"
#include "base/MainLoop.h"

namespace velaro {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char ch) { return std::tolower(ch); });
    return s;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string withoutDesktopSuffix(std::string name) {
    static const std::string suffix = ".desktop";
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        name.resize(name.size() - suffix.size());
    return name;
}

// The words of an Exec value, read as desktop entries write them: first the file format's string escapes
// (\s \n \t \r \\), then the quoting of arguments (double quotes, inside which \" \` \$ \\ stand for the
// character) and "%%" for a literal "%". A program path with spaces or quotes is one quoted word.
struct ExecWord {
    std::string text;
    bool quoted = false;
};

std::vector<ExecWord> execWords(const std::string& value) {
    std::string unescaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            unescaped += value[i];
            continue;
        }
        const char next = value[++i];
        if (next == 's')
            unescaped += ' ';
        else if (next == 'n')
            unescaped += '\n';
        else if (next == 't')
            unescaped += '\t';
        else if (next == 'r')
            unescaped += '\r';
        else if (next == '\\')
            unescaped += '\\';
        else
            unescaped += std::string{'\\', next};
    }
    std::vector<ExecWord> words;
    std::optional<ExecWord> word;
    bool inQuotes = false;
    for (std::size_t i = 0; i < unescaped.size(); ++i) {
        const char c = unescaped[i];
        if (inQuotes) {
            if (c == '\\' && i + 1 < unescaped.size() &&
                std::string_view("\"`$\\").find(unescaped[i + 1]) != std::string_view::npos)
                word->text += unescaped[++i];
            else if (c == '"')
                inQuotes = false;
            else
                word->text += c;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (word) words.push_back(std::move(*word));
            word.reset();
        } else {
            if (!word) word.emplace();
            if (c == '"') {
                inQuotes = true;
                word->quoted = true;
            } else {
                word->text += c;
            }
        }
    }
    if (word) words.push_back(std::move(*word));
    for (auto& w : words) {
        std::string text;
        for (std::size_t i = 0; i < w.text.size(); ++i) {
            text += w.text[i];
            if (w.text[i] == '%' && i + 1 < w.text.size() && w.text[i + 1] == '%') ++i;
        }
        w.text = std::move(text);
    }
    return words;
}

bool isAssignment(const ExecWord& word) {
    const auto eq = word.text.find('=');
    if (word.quoted || eq == std::string::npos || eq == 0) return false;
    return std::all_of(word.text.begin(), word.text.begin() + static_cast<std::ptrdiff_t>(eq),
                       [](unsigned char c) { return std::isalnum(c) || c == '_'; });
}

// The program named by an Exec line: its first word, past a leading "env VAR=…".
std::string programOfExec(const std::string& exec) {
    const auto words = execWords(exec);
    std::size_t i = 0;
    if (i < words.size() && !words[i].quoted && words[i].text == "env") {
        ++i;
        while (i < words.size() && isAssignment(words[i])) ++i;
    }
    return i < words.size() ? words[i].text : std::string();
}

// Desktop files are small; anything larger is not one.
constexpr std::size_t kMaxDesktopFileSize = 256 * 1024;
// Icon files too: a picture for a list row needs no more.
constexpr std::size_t kMaxIconFileSize = 4 * 1024 * 1024;
constexpr int kMaxIconSide = 4096;
constexpr int kIconFitSide = 512;

// The text of a regular file of at most the cap. Anything else - a folder, a FIFO or device (whose reading
// could block for ever), a file that is too large - gives nothing.
std::optional<std::string> readFile(const std::string& path) {
    FileRead read = readBoundedFile(path, {.maxBytes = kMaxDesktopFileSize});
    if (!read.ok()) return std::nullopt;
    return std::move(read.bytes);
}

// An icon file through the same guards, and not one of /proc or /sys.
QImage readIconFile(const std::string& path) {
    const FileRead read = readBoundedFile(path, {.maxBytes = kMaxIconFileSize, .noKernelFiles = true});
    return read.ok() ? decodeIconImage(QByteArray::fromStdString(read.bytes)) : QImage();
}

}  // namespace

IconReference iconReference(const std::string& value) {
    if (!value.empty() && value.front() == '/' && value.find('\0') == std::string::npos)
        return {IconReference::Kind::file, value};
    const bool plain = !value.empty() && value.size() <= 255 && value.front() != '.' &&
                       std::all_of(value.begin(), value.end(), [](unsigned char c) {
                           return std::isalnum(c) || c == '.' || c == '_' || c == '+' || c == '-';
                       });
    return plain ? IconReference{IconReference::Kind::themed, value} : IconReference{};
}

QImage decodeIconImage(const QByteArray& bytes) {
    QByteArray data = bytes;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // An SVG may draw other files into itself (<image href="...">), which would be read unguarded.
    if (reader.format().startsWith("svg") && bytes.contains("<image")) return {};
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kMaxIconSide || size.height() > kMaxIconSide) return {};
    if (size.width() > kIconFitSide || size.height() > kIconFitSide)
        reader.setScaledSize(
            size.scaled(kIconFitSide, kIconFitSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    return reader.read();
}

std::optional<DesktopEntry> parseDesktopEntry(const std::string& text, const std::string& locale) {
    std::istringstream lines(text);
    std::string line;
    bool inGroup = false, sawGroup = false;
    DesktopEntry e;
    // Name[ll_CC] beats Name[ll].
    const std::string language = locale.substr(0, locale.find('_'));
    std::optional<std::string> exact, byLanguage;
    while (std::getline(lines, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inGroup = line == "[Desktop Entry]";
            sawGroup = sawGroup || inGroup;
            continue;
        }
        if (!inGroup) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = trim(line.substr(0, eq));
        const std::string value = trim(line.substr(eq + 1));
        if (key == "Name")
            e.name = value;
        else if (!locale.empty() && key == "Name[" + locale + "]")
            exact = value;
        else if (!language.empty() && key == "Name[" + language + "]")
            byLanguage = value;
        else if (key == "Icon")
            e.icon = value;
        else if (key == "Exec")
            e.exec = programOfExec(value);
        else if (key == "StartupWMClass")
            e.startupWMClass = value;
        else if (key == "Type")
            e.isApplication = value == "Application";
        else if (key == "Hidden")
            e.hidden = value == "true";
        else if (key == "NoDisplay")
            e.noDisplay = value == "true";
    }
    if (!sawGroup) return std::nullopt;
    e.localizedName = exact ? exact : byLanguage;
    return e;
}

XdgAppCatalog::XdgAppCatalog(std::vector<std::string> dataDirs, std::int32_t ownPID, std::string ownAppId)
    : dataDirs_(std::move(dataDirs)),
      ownPID_(ownPID > 0 ? ownPID : static_cast<std::int32_t>(::getpid())),
      ownAppId_(std::move(ownAppId)) {
    locale_ = QLocale().name().toStdString();
    if (dataDirs_.empty()) {
        const char* home = std::getenv("XDG_DATA_HOME");
        const char* userHome = std::getenv("HOME");
        if (home && *home)
            dataDirs_.push_back(home);
        else if (userHome && *userHome)
            dataDirs_.push_back(std::string(userHome) + "/.local/share");
        const char* dirs = std::getenv("XDG_DATA_DIRS");
        std::istringstream list(dirs && *dirs ? dirs : "/usr/local/share:/usr/share");
        std::string dir;
        while (std::getline(list, dir, ':'))
            if (!dir.empty()) dataDirs_.push_back(dir);
    }
    // Reading every desktop file is start-up work that nothing on screen waits for: it runs beside the
    // launch, and the first question waits for it instead.
    try {
        firstScan_ = std::async(std::launch::async, [this] { scan(); }).share();
    } catch (const std::system_error&) {
        scan();
        std::promise<void> done;
        done.set_value();
        firstScan_ = done.get_future().share();
    }
}

XdgAppCatalog::~XdgAppCatalog() {
    lifetime_.end();
    pendingRescan_.cancel();
    firstScan_.wait();
}

std::unique_lock<std::mutex> XdgAppCatalog::scannedEntries() const {
    firstScan_.wait();
    return std::unique_lock(mutex_);
}

bool XdgAppCatalog::scan() {
    std::map<std::string, KnownFile> files;
    std::map<std::string, DesktopEntry> found;
    for (const auto& dir : dataDirs_) {
        const std::filesystem::path apps = std::filesystem::path(dir) / "applications";
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(apps, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_regular_file(ec) || it->path().extension() != ".desktop") continue;
            // The desktop-file id: the path below "applications" with '/' turned into '-'.
            std::string id = std::filesystem::relative(it->path(), apps, ec).string();
            std::replace(id.begin(), id.end(), '/', '-');
            id = withoutDesktopSuffix(id);
            if (found.count(id)) continue;  // an earlier data dir overrides this one
            const std::string path = it->path().string();
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0) continue;
            const FileStamp stamp{static_cast<std::uint64_t>(st.st_dev),
                                  static_cast<std::uint64_t>(st.st_ino),
                                  static_cast<std::uint64_t>(st.st_size),
                                  std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
            KnownFile file;
            if (const auto known = files_.find(path); known != files_.end() && known->second.stamp == stamp) {
                file = std::move(known->second);
            } else {
                file.stamp = stamp;
                if (const auto text = readFile(path)) file.entry = parseDesktopEntry(*text, locale_);
                if (file.entry) {
                    file.entry->id = id;
                    file.entry->path = path;
                }
            }
            if (file.entry) found.emplace(id, *file.entry);
            files.emplace(path, std::move(file));
        }
    }
    files_ = std::move(files);
    std::lock_guard lock(mutex_);
    if (found == byID_) return false;
    byID_ = std::move(found);
    ++generation_;
    return true;
}

void XdgAppCatalog::followChanges(MainLoop& loop, double quiet) {
    if (watcher_) return;
    loop_ = &loop;
    quiet_ = quiet;
    watcher_ = std::make_unique<QFileSystemWatcher>();
    // A folder's watch sees files appear, go and be replaced (as package managers and atomic saves do);
    // the scan after it finds which.
    QObject::connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, watcher_.get(),
                     [this](const QString&) { changeSeen(); });
    QObject::connect(watcher_.get(), &QFileSystemWatcher::fileChanged, watcher_.get(),
                     [this](const QString&) { changeSeen(); });
    watchPaths();
    // What changed between the first scan and these watches.
    changeSeen();
}

std::set<QString> XdgAppCatalog::pathsToWatch() const {
    std::set<QString> paths;
    for (const auto& dir : dataDirs_) {
        const std::filesystem::path apps = std::filesystem::path(dir) / "applications";
        const bool usersOwn = &dir == &dataDirs_.front();
        std::error_code ec;
        if (std::filesystem::is_directory(apps, ec)) {
            paths.insert(QString::fromStdString(apps.string()));
            for (auto it = std::filesystem::recursive_directory_iterator(apps, ec);
                 !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
                const bool entry =
                    usersOwn && it->is_regular_file(ec) && it->path().extension() == ".desktop";
                if (entry || it->is_directory(ec)) paths.insert(QString::fromStdString(it->path().string()));
            }
            continue;
        }
        // The folder that will hold it when it is made: its making shows there.
        for (auto above = apps.parent_path(); !above.empty(); above = above.parent_path()) {
            if (std::filesystem::is_directory(above, ec)) {
                paths.insert(QString::fromStdString(above.string()));
                break;
            }
            if (above == above.parent_path()) break;
        }
    }
    return paths;
}

void XdgAppCatalog::watchPaths() {
    // A folder made just before its parent's watch began shows no change anywhere: look again until the
    // paths stand still (a few rounds at most, as deep as a path can be made meanwhile).
    for (int round = 0; round < 8; ++round) {
        const std::set<QString> wanted = pathsToWatch();
        const QStringList watched = watcher_->directories() + watcher_->files();
        QStringList gone, added;
        for (const QString& path : watched)
            if (!wanted.count(path)) gone << path;
        for (const QString& path : wanted)
            if (!watched.contains(path)) added << path;
        if (gone.isEmpty() && added.isEmpty()) return;
        if (!gone.isEmpty()) watcher_->removePaths(gone);
        // A path that went between the look and the watch fails to be added; the next round tells.
        if (!added.isEmpty()) watcher_->addPaths(added);
    }
}

void XdgAppCatalog::changeSeen() {
    // Installing a package writes many files: one scan once they have all landed.
    pendingRescan_ = loop_->postAfter(quiet_, lifetime_.guard([this] {
        pendingRescan_.cancel();  // it has run; the loops allow a block to end its own handle
        rescan();
    }));
}

void XdgAppCatalog::rescan() {
    firstScan_.wait();
    // Watch first, so that whatever lands while the files are read is a change seen again.
    watchPaths();
    if (scan()) changed_.send(++changes_);
}

std::optional<DesktopEntry> XdgAppCatalog::entry(const std::string& appId) const {
    const auto lock = scannedEntries();
    auto it = byID_.find(appId);
    if (it == byID_.end() || it->second.hidden || !it->second.isApplication) return std::nullopt;
    return it->second;
}

std::optional<std::string> XdgAppCatalog::urlForApplication(const std::string& appId) const {
    if (auto e = entry(appId)) return e->path;
    return std::nullopt;
}

std::optional<AppEntry> XdgAppCatalog::openApp(const std::string& url) const {
    const auto text = readFile(url);
    if (!text) return std::nullopt;
    auto e = parseDesktopEntry(*text, locale_);
    if (!e || !e->isApplication) return std::nullopt;
    // A known entry keeps its catalog id; a file from elsewhere is named after its file.
    std::string id = withoutDesktopSuffix(baseName(url));
    // A file named only ".desktop" names no application.
    if (id.empty() || id == ".desktop") return std::nullopt;
    {
        const auto lock = scannedEntries();
        for (const auto& [known, entry] : byID_)
            if (entry.path == url) id = known;
    }
    AppEntry bundle{id, e->localizedName, std::nullopt};
    if (!e->name.empty()) bundle.name = e->name;
    return bundle;
}

std::vector<InstalledApp> XdgAppCatalog::installedApplications() const {
    const auto lock = scannedEntries();
    std::vector<InstalledApp> apps;
    for (const auto& [id, e] : byID_) {
        if (!e.isApplication || e.hidden || e.noDisplay) continue;
        const AppEntry named{id, e.localizedName, e.name.empty() ? std::nullopt : std::optional(e.name)};
        apps.push_back({id, applicationDisplayName(named, id), e.path});
    }
    return apps;
}

std::string XdgAppCatalog::fileDisplayName(const std::string& url) const {
    return baseName(url);
}

QImage XdgAppCatalog::iconForFile(const std::string& url) const {
    const auto text = readFile(url);
    if (!text) return {};
    const auto e = parseDesktopEntry(*text, locale_);
    if (!e) return {};
    const IconReference icon = iconReference(e->icon);
    if (icon.kind == IconReference::Kind::file) return readIconFile(icon.value);
    if (icon.kind != IconReference::Kind::themed) return {};
    const QIcon themed = QIcon::fromTheme(QString::fromStdString(icon.value));
    if (!themed.isNull()) return themed.pixmap(64, 64).toImage();
    for (const char* ext : {".png", ".svg", ".xpm"}) {
        const std::string path = "/usr/share/pixmaps/" + icon.value + ext;
        if (QImage image = readIconFile(path); !image.isNull()) return image;
    }
    return {};
}

std::string XdgAppCatalog::appIdFor(const ProgramIdentity& p) const {
    if (ownPID_ > 0 && p.pid == ownPID_) return ownAppId_;
    const std::string cls = lower(p.windowClass), instance = lower(p.instanceName);
    const std::string program = baseName(p.executable);
    const auto lock = scannedEntries();
    auto matches = [&](auto&& test) -> std::optional<std::string> {
        for (const auto& [id, e] : byID_)
            if (e.isApplication && test(id, e)) return id;
        return std::nullopt;
    };
    // The entry's own statement of its window class is the strongest hint, then its file name, then the
    // program it runs.
    if (auto id = matches([&](const std::string&, const DesktopEntry& e) {
            const auto wm = lower(e.startupWMClass);
            return !wm.empty() && (wm == cls || wm == instance);
        }))
        return *id;
    if (auto id = matches([&](const std::string& id, const DesktopEntry&) {
            const auto l = lower(id);
            const auto last =
                l.substr(l.find_last_of('.') == std::string::npos ? 0 : l.find_last_of('.') + 1);
            return (!cls.empty() && (l == cls || last == cls)) ||
                   (!instance.empty() && (l == instance || last == instance));
        }))
        return *id;
    if (!program.empty()) {
        if (auto id = matches([&](const std::string&, const DesktopEntry& e) {
                return !e.exec.empty() && baseName(e.exec) == program;
            }))
            return *id;
    }
    if (!p.windowClass.empty()) return p.windowClass;
    if (!p.instanceName.empty()) return p.instanceName;
    return p.processName;
}

}  // namespace velaro
