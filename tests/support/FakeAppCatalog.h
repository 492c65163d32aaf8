// Installed apps known to the test, by identifier and location.
#pragma once

#include <map>

#include <QImage>

#include "platform/AppCatalog.h"

namespace velaro::test {

class FakeAppCatalog final : public AppCatalog {
public:
    struct Entry {
        AppEntry bundle;
        QImage icon;
        // Found by its identifier and listed among the installed apps, as a file in the applications folders
        // is; else only by its location.
        bool listed = true;
    };

    std::optional<std::string> urlForApplication(const std::string& appId) const override {
        for (const auto& [url, e] : apps)
            if (e.listed && e.bundle.appId == appId) return url;
        return std::nullopt;
    }
    std::optional<AppEntry> openApp(const std::string& url) const override {
        auto it = apps.find(url);
        if (it == apps.end()) return std::nullopt;
        return it->second.bundle;
    }
    std::string fileDisplayName(const std::string& url) const override {
        const auto slash = url.find_last_of('/');
        return slash == std::string::npos ? url : url.substr(slash + 1);
    }
    QImage iconForFile(const std::string& url) const override {
        ++iconLookups;
        auto it = apps.find(url);
        return it == apps.end() ? QImage() : it->second.icon;
    }
    std::vector<InstalledApp> installedApplications() const override {
        std::vector<InstalledApp> out;
        for (const auto& [url, e] : apps)
            if (e.listed)
                out.push_back({e.bundle.appId, applicationDisplayName(e.bundle, e.bundle.appId), url});
        return out;
    }
    Stream<int> changed() const override { return changed_.stream(); }

    // Installs an app at "/apps/<id>.desktop" with a 1×1 icon of `rgb`; returns its location.
    std::string install(const std::string& appId, std::optional<std::string> displayName,
                        unsigned rgb = 0xff0000) {
        QImage icon(1, 1, QImage::Format_RGB32);
        icon.fill(rgb);
        const std::string url = "/apps/" + appId + ".desktop";
        apps[url] = Entry{AppEntry{appId, std::move(displayName), std::nullopt}, icon};
        return url;
    }

    // Removes the app at a location.
    void uninstall(const std::string& url) { apps.erase(url); }
    // Tells the catalog's users that apps were installed or removed since they last asked.
    void announceChange() { changed_.send(++changes_); }

    std::map<std::string, Entry> apps;
    mutable int iconLookups = 0;

private:
    PassthroughSubject<int> changed_;
    int changes_ = 0;
};

}  // namespace velaro::test
