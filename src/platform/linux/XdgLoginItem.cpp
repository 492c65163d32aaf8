// The XDG autostart entry that starts the app at login.
#include "platform/linux/XdgLoginItem.h"
#include "base/AppId.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdlib>

namespace velaro {
namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

bool isAbsolute(const std::string& path) {
    return !path.empty() && path.front() == '/';
}

std::string readFile(const std::string& path) {
    QFile file(q(path));
    if (!file.open(QIODevice::ReadOnly)) return {};
    // An autostart entry is a few hundred bytes; anything far larger is not ours to parse in full.
    return file.read(64 * 1024).toStdString();
}

bool exists(const std::string& path) {
    return !path.empty() && QFileInfo(q(path)).isFile();
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

std::string XdgLoginItem::effectiveEntry() const {
    if (exists(entryPath())) return entryPath();
    for (const auto& dir : configDirs_) {
        const std::string path = dir + "/autostart/" + kEntryName;
        if (exists(path)) return path;
    }
    return {};
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
    const std::string entry = effectiveEntry();
    if (entry.empty()) return LoginItemStatus::notRegistered;
    return desktopEntryHidden(readFile(entry)) ? LoginItemStatus::notRegistered : LoginItemStatus::enabled;
}

std::optional<LoginItemError> XdgLoginItem::writeEntry(bool hidden) const {
    const QString dir = q(configHome_ + "/autostart");
    if (!QDir().mkpath(dir)) return LoginItemError{"cannot create the directory " + dir.toStdString()};
    std::string text = "[Desktop Entry]\nType=Application\nName=Velaro\n";
    if (hidden) {
        // Switches off an entry of the same name that the system starts for every user.
        text += "Hidden=true\n";
    } else {
        text += "Comment=Tints the top panel with the colours beneath it\n";
        text += "Exec=" + desktopEntryExec(executable_) + "\n";
        text += "Icon=" VELARO_APP_ID "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    }
    QSaveFile file(q(entryPath()));
    if (!file.open(QIODevice::WriteOnly))
        return LoginItemError{"cannot write " + entryPath() + ": " + file.errorString().toStdString()};
    file.write(text.data(), static_cast<qint64>(text.size()));
    if (!file.commit())
        return LoginItemError{"cannot write " + entryPath() + ": " + file.errorString().toStdString()};
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
    const bool own = exists(path);
    if (!own && !systemEntryEnabled()) return LoginItemError{"the login item is not registered"};
    if (own) {
        QFile file(q(path));
        if (!file.remove())
            return LoginItemError{"cannot remove " + path + ": " + file.errorString().toStdString()};
    }
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
