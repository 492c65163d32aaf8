// The login item as an XDG autostart entry: $XDG_CONFIG_HOME/autostart/com.quornet.Velaro.desktop starts the
// app at login unless it says Hidden=true; an entry of the same name in $XDG_CONFIG_DIRS counts when the user
// has none of their own. The user's entry is found, read, written and removed as the settings file is (see
// defaults::findGuarded): never through another user's link, and run as root, left theirs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/AppId.h"
#include "platform/LoginItem.h"

namespace velaro {

class XdgLoginItem final : public LoginItem {
public:
    static constexpr const char* kEntryName = VELARO_APP_ID ".desktop";

    // `configHome` is the user's configuration directory (empty: none, and every call fails), `configDirs`
    // the system-wide ones in order of preference; the entry starts `executable`.
    XdgLoginItem(std::string configHome, std::vector<std::string> configDirs, std::string executable);
    // The directories from $XDG_CONFIG_HOME (else ~/.config) and $XDG_CONFIG_DIRS (else /etc/xdg); relative
    // paths in either are ignored, as the base-directory rules say.
    static std::unique_ptr<XdgLoginItem> fromEnvironment(std::string executable);

    LoginItemStatus status() const override;
    std::optional<LoginItemError> registerItem() override;
    std::optional<LoginItemError> unregisterItem() override;

    // The user's own entry, whether or not it exists; empty without a configuration directory.
    std::string entryPath() const;

private:
    bool systemEntryEnabled() const;
    std::optional<LoginItemError> writeEntry(bool hidden) const;

    std::string configHome_;
    std::vector<std::string> configDirs_;
    std::string executable_;
};

// The Exec= value that runs `program` with no arguments: quoted when it holds characters the desktop-entry
// rules reserve, with the two levels of escaping those rules ask for.
std::string desktopEntryExec(const std::string& program);

// Whether a desktop entry's text has Hidden=true in its [Desktop Entry] group.
bool desktopEntryHidden(const std::string& text);

}  // namespace velaro
