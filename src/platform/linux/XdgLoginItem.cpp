// The XDG autostart entry that starts the app at login.
#include "platform/linux/XdgLoginItem.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "base/AppId.h"
#include "base/FileRead.h"
#include "platform/linux/defaults/FileSwap.h"
#include "platform/linux/defaults/GuardedPath.h"

namespace velaro {
namespace {

// An autostart entry is a few hundred bytes; anything far larger is not ours to parse in full.
constexpr std::size_t kMostEntryBytes = 64 * 1024;

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

bool isAbsolute(const std::string& path) {
    return !path.empty() && path.front() == '/';
}

std::string readFile(const std::string& path) {
    QFile file(q(path));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.read(static_cast<qint64>(kMostEntryBytes)).toStdString();
}

bool exists(const std::string& path) {
    return !path.empty() && QFileInfo(q(path)).isFile();
}

// The user's own entry, read through its guarded folder; nothing when there is none, or it is reached
// through a link that is not followed.
std::optional<std::string> readUserEntry(const std::string& path) {
    const defaults::GuardedPlace place = defaults::findGuarded(path, false);
    if (!place.fileFolder || !defaults::isRegularFileAt(place.fileFolder->fd, place.name))
        return std::nullopt;
    const FileRead read =
        readBoundedFileAt(place.fileFolder->fd, place.name, {.maxBytes = kMostEntryBytes, .noFollow = true});
    return read.ok() ? read.bytes : std::string();
}

LoginItemError refused(const std::string& path, const std::string& refusal) {
    return {path + " " + refusal + "; nothing is written there"};
}

}  // namespace

XdgLoginItem::XdgLoginItem(std::string configHome, std::vector<std::string> configDirs,
                           std::string executable)
    : configHome_(std::move(configHome)),
      configDirs_(std::move(configDirs)),
      executable_(std::move(executable)) {}

std::unique_ptr<XdgLoginItem> XdgLoginItem::fromEnvironment(std::string executable) {
    std::string home;
    if (const char* v = std::getenv("XDG_CONFIG_HOME"); v && isAbsolute(v)) {
        home = v;
    } else if (const char* h = std::getenv("HOME"); h && isAbsolute(h)) {
        home = std::string(h) + "/.config";
    }
    std::vector<std::string> dirs;
    const char* list = std::getenv("XDG_CONFIG_DIRS");
    const std::string all = (list && *list) ? list : "/etc/xdg";
    std::size_t start = 0;
    while (start <= all.size()) {
        const auto end = std::min(all.find(':', start), all.size());
        const std::string dir = all.substr(start, end - start);
        if (isAbsolute(dir)) dirs.push_back(dir);
        start = end + 1;
    }
    return std::make_unique<XdgLoginItem>(std::move(home), std::move(dirs), std::move(executable));
}

std::string XdgLoginItem::entryPath() const {
    if (configHome_.empty()) return {};
    return configHome_ + "/autostart/" + kEntryName;
}

bool XdgLoginItem::systemEntryEnabled() const {
    for (const auto& dir : configDirs_) {
        const std::string path = dir + "/autostart/" + kEntryName;
        if (exists(path)) return !desktopEntryHidden(readFile(path));
    }
    return false;
}

LoginItemStatus XdgLoginItem::status() const {
    if (configHome_.empty()) return LoginItemStatus::notFound;
    if (const auto own = readUserEntry(entryPath()))
        return desktopEntryHidden(*own) ? LoginItemStatus::notRegistered : LoginItemStatus::enabled;
    return systemEntryEnabled() ? LoginItemStatus::enabled : LoginItemStatus::notRegistered;
}

// Written whole beside the entry and renamed over it, through the folder found for it.
std::optional<LoginItemError> XdgLoginItem::writeEntry(bool hidden) const {
    const std::string path = entryPath();
    const defaults::GuardedPlace place = defaults::findGuarded(path, true);
    if (!place.refusal.empty()) return refused(path, place.refusal);
    if (!place.fileFolder)
        return LoginItemError{"cannot create the directory " + defaults::splitPath(path).first + " (" +
                              place.failure + ")"};
    std::string text = "[Desktop Entry]\nType=Application\nName=Velaro\n";
    if (hidden) {
        // Switches off an entry of the same name that the system starts for every user.
        text += "Hidden=true\n";
    } else {
        text += "Comment=Tints the top panel with the colours beneath it\n";
        text += "Exec=" + desktopEntryExec(executable_) + "\n";
        text += "Icon=" VELARO_APP_ID "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    }
    const int folder = place.fileFolder->fd;
    const defaults::NewFile made = defaults::writeNewFile(*place.fileFolder, place.name, text, path);
    if (made.notGiven) return refused(path, "cannot be written: its new content " + made.failure);
    if (made.name.empty()) return LoginItemError{"cannot write " + path + ": " + made.failure};
    if (::renameat(folder, made.name.c_str(), folder, place.name.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        ::unlinkat(folder, made.name.c_str(), 0);
        return LoginItemError{"cannot write " + path + ": " + why};
    }
    return std::nullopt;
}

std::optional<LoginItemError> XdgLoginItem::registerItem() {
    if (configHome_.empty())
        return LoginItemError{"no configuration directory (neither XDG_CONFIG_HOME nor HOME is set)"};
    if (executable_.empty()) return LoginItemError{"the app's executable is unknown"};
    return writeEntry(false);
}

std::optional<LoginItemError> XdgLoginItem::unregisterItem() {
    if (configHome_.empty())
        return LoginItemError{"no configuration directory (neither XDG_CONFIG_HOME nor HOME is set)"};
    const std::string path = entryPath();
    const defaults::GuardedPlace place = defaults::findGuarded(path, false);
    if (!place.refusal.empty()) return refused(path, place.refusal);
    const bool own = place.fileFolder && defaults::isRegularFileAt(place.fileFolder->fd, place.name);
    if (!own && !systemEntryEnabled()) return LoginItemError{"the login item is not registered"};
    // The entry's own name goes, a link of the user's there too (not what it leads to).
    if (own && ::unlinkat(place.folder->fd, defaults::splitPath(path).second.c_str(), 0) != 0)
        return LoginItemError{"cannot remove " + path + ": " + std::strerror(errno)};
    // Removing our own entry uncovers a system-wide one; only a hidden entry of ours keeps that from
    // starting.
    if (systemEntryEnabled()) return writeEntry(true);
    return std::nullopt;
}

std::string desktopEntryExec(const std::string& program) {
    // Inside a quoted argument, these four must be escaped with a backslash.
    static const std::string escapedInQuotes = "\"`$\\";
    // Any of these (or a space) makes quoting necessary.
    static const std::string reserved = " \t\n\r\"'\\><~|&;$*?#()`";
    bool quote = false;
    for (char c : program) quote = quote || reserved.find(c) != std::string::npos;
    std::string arg;
    for (char c : program) {
        if (c == '%') {
            arg += "%%";  // field codes start with %
        } else if (quote && escapedInQuotes.find(c) != std::string::npos) {
            arg += '\\';
            arg += c;
        } else {
            arg += c;
        }
    }
    if (quote) arg = "\"" + arg + "\"";
    // The value is a string of the file format, which escapes backslashes once more.
    std::string value;
    for (char c : arg) {
        if (c == '\\')
            value += "\\\\";
        else if (c == '\n')
            value += "\\n";
        else if (c == '\r')
            value += "\\r";
        else
            value += c;
    }
    return value;
}

bool desktopEntryHidden(const std::string& text) {
    bool inEntry = false;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        auto trim = [](std::string s) {
            const auto b = s.find_first_not_of(" \t");
            const auto e = s.find_last_not_of(" \t");
            return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
        };
        if (trim(line.substr(0, eq)) == "Hidden") return trim(line.substr(eq + 1)) == "true";
    }
    return false;
}

}  // namespace velaro
