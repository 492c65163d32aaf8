// Installed applications: their identifiers, display names and icons, from desktop entries and the icon
// theme.
#pragma once

#include <optional>
#include <string>

#include <QImage>

#include "base/Published.h"

namespace velaro {

// What an application's desktop entry says about it.
struct AppEntry {
    // The desktop-file id, the application's "app id".
    std::string appId;
    std::optional<std::string> displayName;  // the localised Name
    std::optional<std::string> name;         // the untranslated Name
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
    // Apps were installed, changed or removed: what was asked before may read otherwise now. On the main
    // loop.
    virtual Stream<int> changed() const = 0;
};

// The name to show for the app at a location: its localised Name, else its Name, else the file's display name.
inline std::string applicationDisplayName(const AppCatalog& catalog, const std::string& url) {
    if (auto bundle = catalog.openApp(url)) {
        if (bundle->displayName && !bundle->displayName->empty()) return *bundle->displayName;
        if (bundle->name && !bundle->name->empty()) return *bundle->name;
    }
    return catalog.fileDisplayName(url);
}

}  // namespace velaro
