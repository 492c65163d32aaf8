// Installed applications: their identifiers, display names and icons, from desktop entries and the icon
// theme.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/Published.h"

// Declared only: this library, and the settings built on it, link Qt Core alone; whoever implements the catalog or
// asks it for an icon includes <QImage>.
class QImage;

namespace velaro {

// What an application's desktop entry says about it.
struct AppEntry {
    // The desktop-file id, the application's "app id".
    std::string appId;
    std::optional<std::string> displayName;  // the localised Name
    std::optional<std::string> name;         // the untranslated Name
};

// An installed application as a list of them shows it.
struct InstalledApp {
    std::string appId;
    std::string name;  // as `applicationDisplayName` gives it
    std::string url;   // its desktop file

    friend bool operator==(const InstalledApp&, const InstalledApp&) = default;
};

class AppCatalog {
public:
    virtual ~AppCatalog() = default;
    // The location (a desktop file path) of the application with that identifier.
    virtual std::optional<std::string> urlForApplication(const std::string& appId) const = 0;
    // Opens the application at a location; absent when it is not an application.
    virtual std::optional<AppEntry> openApp(const std::string& url) const = 0;
    // The name a file manager shows for a location.
    virtual std::string fileDisplayName(const std::string& url) const = 0;
    // The icon of the application at a location; a null image when it has none.
    virtual QImage iconForFile(const std::string& url) const = 0;
    // The applications a user chooses from, as the desktop's menus list them: no entry that is hidden or
    // kept out of menus, nothing that is not an application. In no particular order.
    virtual std::vector<InstalledApp> installedApplications() const = 0;
    // Apps were installed, changed or removed: what was asked before may read otherwise now. On the main
    // loop.
    virtual Stream<int> changed() const = 0;
};

// The name to show for an app: its localised Name, else its Name, else `fallback`.
inline std::string applicationDisplayName(const AppEntry& app, std::string fallback) {
    if (app.displayName && !app.displayName->empty()) return *app.displayName;
    if (app.name && !app.name->empty()) return *app.name;
    return fallback;
}

// The name to show for the app at a location, the file's display name when the entry names none.
inline std::string applicationDisplayName(const AppCatalog& catalog, const std::string& url) {
    if (auto app = catalog.openApp(url)) return applicationDisplayName(*app, catalog.fileDisplayName(url));
    return catalog.fileDisplayName(url);
}

}  // namespace velaro
