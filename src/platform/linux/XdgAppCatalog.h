// Installed applications from XDG desktop entries: identifiers, names, icons, and which entry a running
// program belongs to.
#pragma once

#include <atomic>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QByteArray>
#include <QImage>
#include <QString>

#include "base/AppId.h"
#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "platform/AppCatalog.h"

class QFileSystemWatcher;

namespace velaro {

class MainLoop;

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
    bool hidden = false;     // Hidden: deleted for the user
    bool noDisplay = false;  // NoDisplay: installed, but kept out of the menus

    friend bool operator==(const DesktopEntry&, const DesktopEntry&) = default;
};

// Parses the [Desktop Entry] group of a desktop file's text; `locale` like "de_DE". Absent when the text
// has no such group.
std::optional<DesktopEntry> parseDesktopEntry(const std::string& text, const std::string& locale);

// What a desktop entry's Icon= names, judged before anything is read: an absolute path is a file, a plain
// name (letters, digits, "._+-", not starting with a dot) an icon of the theme. Anything else (a relative
// path, "..", a name with a slash) names nothing, since the entry may be anyone's.
struct IconReference {
    enum class Kind { none, file, themed } kind = Kind::none;
    std::string value;
};
IconReference iconReference(const std::string& iconValue);

// An icon file's bytes as an image, or a null image: raster files and SVG that names no other file, at most
// 4096 pixels a side before scaling, scaled down to fit 512.
QImage decodeIconImage(const QByteArray& bytes);

// What is known of a running program when looking up its application.
struct ProgramIdentity {
    std::int32_t pid = 0;
    std::string instanceName;  // WM_CLASS instance
    std::string windowClass;   // WM_CLASS class
    std::string executable;    // the program's file
    std::string processName;   // the process's short name (/proc/<pid>/comm)
};

class XdgAppCatalog final : public AppCatalog {
public:
    // Reads the entries of `dataDirs` (each holding an "applications" folder; earlier dirs win), or of
    // $XDG_DATA_HOME and $XDG_DATA_DIRS when empty. `ownPID` (0: this process) has `ownAppId`.
    explicit XdgAppCatalog(std::vector<std::string> dataDirs = {}, std::int32_t ownPID = 0,
                           std::string ownAppId = velaroAppId);
    ~XdgAppCatalog() override;
    XdgAppCatalog(const XdgAppCatalog&) = delete;
    XdgAppCatalog& operator=(const XdgAppCatalog&) = delete;

    std::optional<std::string> urlForApplication(const std::string& appId) const override;
    std::optional<AppEntry> openApp(const std::string& url) const override;
    std::string fileDisplayName(const std::string& url) const override;
    QImage iconForFile(const std::string& url) const override;
    std::vector<InstalledApp> installedApplications() const override;
    Stream<int> changed() const override { return changed_.stream(); }

    // Follows the applications folders from now on, those that do not exist yet included: once a change
    // has been followed by `quiet` seconds without another, the files that changed are read again, and
    // `changed()` tells when that changed an entry. Main thread; the loop must outlive the catalog.
    void followChanges(MainLoop& loop, double quiet = 1.0);
    // Counts the changes to the entries, so that what was worked out from them can tell it is stale. Any
    // thread.
    std::uint64_t generation() const { return generation_.load(); }

    // The identifier of a running program, the one rule every service names apps by:
    //  1. our own process: our own id;
    //  2. its desktop entry's id, matched by StartupWMClass, then by the window class or instance against
    //     the id (or its last dot-separated part), then by the executable against the entry's program;
    //  3. without a desktop entry: the window class, else the window instance, else the process's short
    //     name, as they stand;
    //  4. empty when nothing at all is known.
    std::string appIdFor(const ProgramIdentity& program) const;
    // The entry with that id.
    std::optional<DesktopEntry> entry(const std::string& appId) const;

private:
    // What a desktop file was when it was last read; a file found as it was is not read again.
    struct FileStamp {
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t modified = 0;  // nanoseconds
        friend bool operator==(const FileStamp&, const FileStamp&) = default;
    };
    struct KnownFile {
        FileStamp stamp;
        std::optional<DesktopEntry> entry;  // absent: no desktop entry
    };
    // Reads the entries of every applications folder again, only the files that changed since the last
    // scan; true when the entries differ. One scan at a time.
    bool scan();
    // The entries, once the first scan (started by the constructor on a thread of its own) has ended.
    std::unique_lock<std::mutex> scannedEntries() const;
    // What to watch: every applications folder and the folders in it (for one that does not exist, the
    // nearest folder above it that does), and the user's own entries (the first data dir's): a folder's
    // watch sees files come and go but not a file written in place, as a text editor may.
    std::set<QString> pathsToWatch() const;
    void watchPaths();
    void changeSeen();
    void rescan();

    std::vector<std::string> dataDirs_;
    std::int32_t ownPID_;
    std::string ownAppId_;
    std::string locale_;
    mutable std::mutex mutex_;
    std::map<std::string, DesktopEntry> byID_;
    std::atomic<std::uint64_t> generation_{0};
    // By path; touched only by the scans.
    std::map<std::string, KnownFile> files_;
    std::shared_future<void> firstScan_;
    MainLoop* loop_ = nullptr;
    double quiet_ = 1.0;
    std::unique_ptr<QFileSystemWatcher> watcher_;
    Cancellable pendingRescan_;
    PassthroughSubject<int> changed_;
    int changes_ = 0;
    Lifetime lifetime_;
};

}  // namespace velaro
