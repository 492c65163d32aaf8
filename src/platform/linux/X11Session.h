// The app's one X11 session, made once at start-up and handed to every X11 service: the connections by role,
// the screens as one snapshot (monitors, pixel ratio, and the single conversion between root pixels and
// points), the app identity of a window's program, and the desktop connection's events on the main thread.
#pragma once

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Cancellable.h"
#include "base/Geometry.h"
#include "base/Lifetime.h"
#include "base/Published.h"
#include "platform/linux/X11ListedClients.h"
#include "platform/linux/XcbUtil.h"

class QObject;

namespace velaro {

class XdgAppCatalog;

namespace x11 {

// Root pixels and points, both global conventions, from one reading of the primary monitor and the ratio.
// Points are root pixels divided by the ratio; global points put their origin at the primary monitor's
// bottom-left (y up), top-left global points at its top-left (y down).
class ScreenSpace {
public:
    ScreenSpace() = default;
    ScreenSpace(Rect primaryInRootPixels, double pixelsPerPoint);

    double pixelsPerPoint() const { return k_; }
    // The same conversion on root points, for code that has divided by the ratio already.
    const CoordinateSpace& points() const { return points_; }

    Rect globalFromRoot(const Rect& rootPixels) const;
    Point globalFromRoot(Point rootPixels) const;
    Rect topLeftFromRoot(const Rect& rootPixels) const;
    Point topLeftFromRoot(Point rootPixels) const;
    Rect rootFromGlobal(const Rect& global) const;
    Point rootFromTopLeft(Point topLeft) const;
    Rect rootFromTopLeft(const Rect& topLeft) const;

    friend bool operator==(const ScreenSpace& a, const ScreenSpace& b) {
        return a.primary_ == b.primary_ && a.k_ == b.k_;
    }

private:
    Rect scaled(const Rect& r, double by) const;

    Rect primary_;
    double k_ = 1;
    CoordinateSpace points_;
};

// A monitor as RandR reports it, before conversion.
struct RawMonitor {
    std::string name;
    std::uint32_t number = 0;
    bool primary = false;
    Rect root;         // root pixels
    std::string edid;  // raw EDID bytes, empty when the output has none
    std::uint32_t nameAtom = 0;
    std::uint32_t output = 0;  // the first RandR output, 0 when none
    friend bool operator==(const RawMonitor&, const RawMonitor&) = default;
};

// The monitors of a RandR reply (names and EDIDs not yet filled in).
std::vector<RawMonitor> monitorsOf(const xcb_randr_get_monitors_reply_t* reply);

// Which monitor is the primary (the origin of the global coordinates): the one RandR marks, else the one
// at the root's origin, else the first. 0 for an empty list.
std::size_t primaryIndex(const std::vector<RawMonitor>& monitors);

// One reading of the screens that every conversion of the session goes through.
struct ScreenSnapshot {
    std::vector<RawMonitor> monitors;  // the primary first; the whole root as one monitor without RandR
    double rootWidth = 0, rootHeight = 0;
    ScreenSpace space;
    friend bool operator==(const ScreenSnapshot& a, const ScreenSnapshot& b) {
        return a.monitors == b.monitors && a.rootWidth == b.rootWidth && a.rootHeight == b.rootHeight &&
               a.space == b.space;
    }
};

// The snapshot of `monitors` (any order) on a root of the given size at `pixelsPerPoint`.
ScreenSnapshot snapshotOf(std::vector<RawMonitor> monitors, double rootWidth, double rootHeight,
                          double pixelsPerPoint);

// What the server tells of the program behind a window.
struct WindowOwner {
    std::int32_t pid = 0;
    std::string instanceName;  // WM_CLASS instance
    std::string windowClass;   // WM_CLASS class
};

// The app id of a window's program, the one every service names apps by (capture content, the window list's
// owners, the workspace, the excluded apps, the profiles). The rule is the catalog's (see
// XdgAppCatalog::appIdFor); this resolver feeds it what the system knows of the process and keeps
// the answer per process, so that every window of one process gets the id its first window got, until the
// catalog's entries change (an app installed while its program runs is named by its desktop file from then).
class AppIdentity {
public:
    // The program file of a process; empty once the process has ended.
    using ExecutableOf = std::function<std::string(std::int32_t pid)>;
    AppIdentity(const XdgAppCatalog& catalog, std::int32_t ownPid,
                ExecutableOf executableOf = processExecutable);

    // The id; empty when nothing at all is known of the program. Any thread.
    std::string appIdOf(const WindowOwner& owner);
    // The id and the name the app shows: its entry's name, else the window's class, else the process's
    // short name (empty when none is known). Any thread.
    struct AppName {
        std::string id, name;
    };
    AppName nameOf(const WindowOwner& owner);
    std::int32_t ownPid() const { return ownPid_; }

private:
    struct Known {
        std::string executable;  // tells a reused process id from the process the id was found for
        std::string id;
        std::uint64_t catalogGeneration = 0;
    };
    // The table is looked through for ended processes once it holds this many, and then each time it has
    // doubled since the last look.
    static constexpr std::size_t kFirstSweep = 512;
    const XdgAppCatalog& catalog_;
    std::int32_t ownPid_;
    ExecutableOf executableOf_;
    std::mutex mutex_;
    std::unordered_map<std::int32_t, Known> byPid_;
    std::size_t sweepAt_ = kFirstSweep;
};

}  // namespace x11

class X11Session {
public:
    // The device pixel ratio the app's points follow; read again whenever the screens may have changed.
    using PixelRatioReader = std::function<double()>;

    // Opens the desktop connection to `display` (empty: $DISPLAY); null, with `error` set, without an X
    // server. `catalog` names the apps and must outlive the session. Main thread, with the Qt application
    // object made.
    static std::unique_ptr<X11Session> open(const std::string& display, PixelRatioReader pixelRatio,
                                            const XdgAppCatalog& catalog, std::string* error = nullptr);
    // The ratio of Qt's primary screen.
    static PixelRatioReader qtPixelRatio();
    // Stops reading first (see stopReading).
    ~X11Session();
    X11Session(const X11Session&) = delete;
    X11Session& operator=(const X11Session&) = delete;

    // ---- connections by role ----
    // Every query and watch of the services, from any thread; its events reach the handlers on the main
    // thread.
    x11::Connection& desktop() { return *desktop_; }
    // Qt's own connection, for requests that must stay in order with Qt's window requests (stacking, key
    // grabs whose events Qt's event filters see); null when the application does not run on xcb.
    xcb_connection_t* toolkit() const;
    // The capture worker's own connection (grabs are long, and a worker polls its events itself), opened on
    // first use; null when that fails or the session's reading has stopped. Any thread.
    x11::Connection* capture();

    const std::string& displayName() const { return displayName_; }
    // The end of the reading of both connections, the desktop's and the capture's, for the app's end before
    // its services go: every wait on them ends at once (the event pump's, each reading thread's between or
    // during its answers, a round trip on the main thread, the capture worker's grab or window reading), so
    // that no service's end waits for a server busy with other clients. Nothing is read on either from then
    // on, and no capture connection is opened. Main thread.
    void stopReading();
    // Whether stopReading was called: a reader whose connection broke since ends as told, without taking it
    // for a server that went away. Any thread.
    bool readingStopped() const { return readingStopped_.load(); }

    // ---- events of the desktop connection ----
    // Main thread, in the order added.
    [[nodiscard]] Subscription addEventHandler(x11::EventPump::Handler handler);
    // On the event thread, before the main thread sees the events.
    [[nodiscard]] Subscription addEventFilter(x11::EventPump::Filter filter);
    // Selects `mask` on `window` for as long as the handle lives; the server gets the union of what every
    // holder asked for, since one client has one event mask per window. Any thread.
    [[nodiscard]] Subscription selectEvents(xcb_window_t window, std::uint32_t mask);
    std::uint8_t randrEventBase() const { return randrEventBase_; }
    // The root's client list and its windows' facts, read off the main loop; main thread.
    x11::ListedClients& clients() { return *clients_; }

    // ---- the screens ----
    // The current snapshot and its conversion; any thread.
    x11::ScreenSnapshot screens() const;
    x11::ScreenSpace space() const;
    double pixelsPerPoint() const { return space().pixelsPerPoint(); }
    // Told on the main thread after the snapshot changed (monitors, root size or ratio), before anything else
    // hears of the change.
    Stream<int> screensChanged() const { return screensChanged_.stream(); }
    // Reads the monitors and the ratio again now and tells of a change (of any reading with `force`); main
    // thread.
    void refreshScreens(bool force = false);

    // ---- apps ----
    x11::AppIdentity& identity() { return identity_; }
    const XdgAppCatalog& catalog() const { return catalog_; }
    std::int32_t ownPid() const { return identity_.ownPid(); }

private:
    X11Session(std::unique_ptr<x11::Connection> desktop, std::shared_ptr<x11::AtomTable> atoms,
               std::string display, PixelRatioReader pixelRatio, const XdgAppCatalog& catalog);
    void followQtScreens();
    void scheduleRefresh();
    void setMask(xcb_window_t window);

    std::string displayName_;
    std::shared_ptr<x11::AtomTable> atoms_;
    std::unique_ptr<x11::Connection> desktop_;
    PixelRatioReader pixelRatio_;
    const XdgAppCatalog& catalog_;
    x11::AppIdentity identity_;
    std::uint8_t randrEventBase_ = 0;

    std::atomic<bool> readingStopped_{false};
    std::mutex captureMutex_;  // guards capture_ (never held while the connection opens)
    std::unique_ptr<x11::Connection> capture_;

    // A process-wide count: a value names one state of one session's screens.
    static std::uint64_t nextSpaceVersion();

    mutable std::mutex screensMutex_;
    x11::ScreenSnapshot screens_;
    // Changed with every write of `screens_`, under the lock: a copy of the space tagged with it is current
    // while it stays the same.
    std::atomic<std::uint64_t> spaceVersion_{nextSpaceVersion()};
    int generation_ = 0;
    PassthroughSubject<int> screensChanged_;
    bool refreshPosted_ = false;

    // Event selections: per window, each holder's mask.
    std::mutex selectionsMutex_;
    std::map<xcb_window_t, std::map<std::uint64_t, std::uint32_t>> selections_;
    std::uint64_t nextSelection_ = 0;
    Lifetime lifetime_;

    std::unique_ptr<QObject> qtWatch_;  // Qt's screen notifications, while the session lives
    std::unique_ptr<x11::EventPump> pump_;
    std::unique_ptr<x11::ListedClients> clients_;
    Subscription ownHandler_;
    Subscription rootSelection_;
};

}  // namespace velaro
