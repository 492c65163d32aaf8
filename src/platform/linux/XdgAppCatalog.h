// Installed applications from XDG desktop entries: identifiers, names, icons, and which entry a running
// program belongs to.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppCatalog.h"

namespace velaro {

// The parts of a desktop entry the catalog uses.
struct DesktopEntry {
    std::string id;    // the desktop-file id without ".desktop" ("org.example.Editor")
    std::string path;  // where the file is
    std::string name;  // Name
    std::optional<std::string> localizedName;  // Name[<locale>] for the given locale
    std::string icon;
    std::string exec;  // the program of Exec (first word, without arguments)
    std::string startupWMClass;
    bool isApplication = false;
    bool hidden = false;
};

// Parses the [Desktop Entry] group of a desktop file's text; `locale` like "de_DE". Absent when the text
// has no such group.
std::optional<DesktopEntry> parseDesktopEntry(const std::string& text, const std::string& locale);

// What is known of a running program when looking up its application.
struct ProgramIdentity {
    std::int32_t pid = 0;
    std::string instanceName;  // WM_CLASS instance
    std::string windowClass;   // WM_CLASS class
    std::string executable;    // the program's file
};

class XdgAppCatalog final : public AppCatalog {
public:
    // Reads the entries of `dataDirs` (each holding an "applications" folder; earlier dirs win), or of
    // $XDG_DATA_HOME and $XDG_DATA_DIRS when empty. `ownPID` (0: this process) has `ownBundleID`.
    explicit XdgAppCatalog(std::vector<std::string> dataDirs = {}, std::int32_t ownPID = 0,
                           std::string ownBundleID = "com.quornet.Velaro");

    std::optional<std::string> urlForApplication(const std::string& bundleID) const override;
    std::optional<AppBundle> openBundle(const std::string& url) const override;
    std::string fileDisplayName(const std::string& url) const override;
    QImage iconForFile(const std::string& url) const override;

    // The identifier of a running program: its desktop entry's id (matched by StartupWMClass, the window
    // class or instance, or the executable), else its window class; empty when nothing is known.
    std::string bundleIdentifierFor(const ProgramIdentity& program) const;
    // The entry with that id.
    std::optional<DesktopEntry> entry(const std::string& bundleID) const;

    void rescan();

private:
    std::vector<std::string> dataDirs_;
    std::int32_t ownPID_;
    std::string ownBundleID_;
    std::string locale_;
    mutable std::mutex mutex_;
    std::map<std::string, DesktopEntry> byID_;
};

}  // namespace velaro
