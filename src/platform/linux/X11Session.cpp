// The app's X11 session: connections, the screen snapshot and its conversion, app identity, event delivery.
#include "platform/linux/X11Session.h"

#include <QtGui/qguiapplication_platform.h>
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/dpms.h>
#include <xcb/screensaver.h>
#include <xcb/xinput.h>
#include <QGuiApplication>
#include <QObject>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cmath>

#include "base/Log.h"
#include "platform/linux/XdgAppCatalog.h"

namespace velaro {

namespace x11 {

ScreenSpace::ScreenSpace(Rect primaryInRootPixels, double pixelsPerPoint)
    : primary_(primaryInRootPixels),
      k_(std::isfinite(pixelsPerPoint) && pixelsPerPoint > 0 ? pixelsPerPoint : 1),
      points_(scaled(primaryInRootPixels, 1 / k_)) {}

Rect ScreenSpace::scaled(const Rect& r, double by) const {
    return {r.x() * by, r.y() * by, r.width() * by, r.height() * by};
}

Rect ScreenSpace::globalFromRoot(const Rect& rootPixels) const {
    return points_.globalFromRoot(scaled(rootPixels, 1 / k_));
}

Point ScreenSpace::globalFromRoot(Point rootPixels) const {
    return points_.globalFromRoot(Point{rootPixels.x / k_, rootPixels.y / k_});
}

Rect ScreenSpace::topLeftFromRoot(const Rect& rootPixels) const {
    return points_.topLeftFromRoot(scaled(rootPixels, 1 / k_));
}

Point ScreenSpace::topLeftFromRoot(Point rootPixels) const {
    return points_.topLeftFromRoot(Point{rootPixels.x / k_, rootPixels.y / k_});
}

Rect ScreenSpace::rootFromGlobal(const Rect& global) const {
    return scaled(points_.rootFromGlobal(global), k_);
}

Rect ScreenSpace::rootFromTopLeft(const Rect& topLeft) const {
    return scaled(points_.rootFromTopLeft(topLeft), k_);
}

Point ScreenSpace::rootFromTopLeft(Point topLeft) const {
    const Rect r = rootFromTopLeft(Rect(topLeft.x, topLeft.y, 0, 0));
    return {r.x(), r.y()};
}

std::vector<RawMonitor> monitorsOf(const xcb_randr_get_monitors_reply_t* reply) {
    std::vector<RawMonitor> out;
    if (!reply) return out;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply); it.rem;
         xcb_randr_monitor_info_next(&it)) {
        RawMonitor m;
        m.primary = it.data->primary != 0;
        m.root = Rect(it.data->x, it.data->y, it.data->width, it.data->height);
        m.nameAtom = it.data->name;
        if (xcb_randr_monitor_info_outputs_length(it.data) > 0)
            m.output = xcb_randr_monitor_info_outputs(it.data)[0];
        // The output is the display; a monitor without one (set up by hand) is known by its name.
        m.number = m.output ? m.output : m.nameAtom;
        out.push_back(std::move(m));
    }
    return out;
}

std::size_t primaryIndex(const std::vector<RawMonitor>& monitors) {
    for (std::size_t i = 0; i < monitors.size(); ++i)
        if (monitors[i].primary) return i;
    for (std::size_t i = 0; i < monitors.size(); ++i)
        if (monitors[i].root.minX() == 0 && monitors[i].root.minY() == 0) return i;
    return 0;
}

ScreenSnapshot snapshotOf(std::vector<RawMonitor> monitors, double rootWidth, double rootHeight,
                          double pixelsPerPoint) {
    if (monitors.empty())
        monitors.push_back(RawMonitor{"screen", 0, true, Rect(0, 0, rootWidth, rootHeight), {}});
    const auto primary = monitors.begin() + static_cast<std::ptrdiff_t>(primaryIndex(monitors));
    std::rotate(monitors.begin(), primary, primary + 1);
    ScreenSnapshot snapshot;
    snapshot.space = ScreenSpace(monitors.front().root, pixelsPerPoint);
    snapshot.monitors = std::move(monitors);
    snapshot.rootWidth = rootWidth;
    snapshot.rootHeight = rootHeight;
    return snapshot;
}

namespace {

// The monitors with their names and EDIDs, in one pipelined round trip after the monitor list asked with
// `ask`.
std::vector<RawMonitor> readMonitors(Connection& connection, xcb_randr_get_monitors_cookie_t ask) {
    auto* c = connection.get();
    auto reply = awaitReply(c, ask, xcb_randr_get_monitors_reply);
    if (!reply) return {};
    auto monitors = monitorsOf(reply.get());
    std::vector<std::pair<xcb_get_atom_name_cookie_t, xcb_randr_get_output_property_cookie_t>> asks;
    for (const auto& m : monitors)
        asks.emplace_back(xcb_get_atom_name(c, m.nameAtom),
                          m.output ? xcb_randr_get_output_property(c, m.output, connection.atom("EDID"),
                                                                   XCB_ATOM_ANY, 0, 256, 0, 0)
                                   : xcb_randr_get_output_property_cookie_t{0});
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        if (auto name = awaitReply(c, asks[i].first, xcb_get_atom_name_reply))
            monitors[i].name.assign(xcb_get_atom_name_name(name.get()),
                                    xcb_get_atom_name_name_length(name.get()));
        if (asks[i].second.sequence) {
            auto edid = awaitReply(c, asks[i].second, xcb_randr_get_output_property_reply);
            if (edid && edid->format == 8)
                monitors[i].edid.assign(
                    reinterpret_cast<const char*>(xcb_randr_get_output_property_data(edid.get())),
                    xcb_randr_get_output_property_data_length(edid.get()));
        }
    }
    return monitors;
}

}  // namespace

AppIdentity::AppIdentity(const XdgAppCatalog& catalog, std::int32_t ownPid, ExecutableOf executableOf)
    : catalog_(catalog), ownPid_(ownPid), executableOf_(std::move(executableOf)) {}

std::string AppIdentity::appIdOf(const WindowOwner& owner) {
    const std::string executable = owner.pid > 0 ? executableOf_(owner.pid) : std::string();
    // Read before the entries are: a change while they are read leaves an answer that is asked again.
    const std::uint64_t generation = catalog_.generation();
    if (owner.pid > 0) {
        std::lock_guard lock(mutex_);
        if (auto it = byPid_.find(owner.pid); it != byPid_.end() && it->second.executable == executable &&
                                              it->second.catalogGeneration == generation)
            return it->second.id;
    }
    std::string id = catalog_.appIdFor(
        {owner.pid, owner.instanceName, owner.windowClass, executable, processName(owner.pid)});
    // A window of no class (a frame, a helper window) names its process only by the process itself: kept,
    // that would name the process's own windows after it too, whichever reader came first.
    if (owner.pid > 0 && !id.empty() && !(owner.windowClass.empty() && owner.instanceName.empty())) {
        std::lock_guard lock(mutex_);
        // Ended processes are forgotten now and then, so the table never outgrows the desktop; only once it
        // has doubled since the last look, so that a desktop of thousands of programs does not look at every
        // one of them again for each new one.
        if (byPid_.size() >= sweepAt_) {
            std::erase_if(byPid_, [this](const auto& entry) { return executableOf_(entry.first).empty(); });
            sweepAt_ = std::max(kFirstSweep, 2 * byPid_.size());
        }
        byPid_[owner.pid] = Known{executable, id, generation};
    }
    return id;
}

AppIdentity::AppName AppIdentity::nameOf(const WindowOwner& owner) {
    AppName app{appIdOf(owner), {}};
    if (auto entry = app.id.empty() ? std::nullopt : catalog_.entry(app.id))
        app.name = entry->localizedName ? *entry->localizedName : entry->name;
    if (app.name.empty()) app.name = !owner.windowClass.empty() ? owner.windowClass : processName(owner.pid);
    return app;
}

}  // namespace x11

std::unique_ptr<X11Session> X11Session::open(const std::string& display, PixelRatioReader pixelRatio,
                                             const XdgAppCatalog& catalog, std::string* error) {
    auto fail = [error](const char* why) {
        if (error) *error = why;
        return std::unique_ptr<X11Session>();
    };
    if (!pixelRatio) return fail("no pixel ratio to convert with");
    auto atoms = std::make_shared<x11::AtomTable>();
    auto desktop = x11::Connection::open(display.c_str(), atoms);
    if (!desktop) return fail("cannot reach the X display");
    return std::unique_ptr<X11Session>(
        new X11Session(std::move(desktop), std::move(atoms), display, std::move(pixelRatio), catalog));
}

X11Session::PixelRatioReader X11Session::qtPixelRatio() {
    return [] {
        const QScreen* primary = QGuiApplication::primaryScreen();
        return primary ? primary->devicePixelRatio() : 1.0;
    };
}

X11Session::X11Session(std::unique_ptr<x11::Connection> desktop, std::shared_ptr<x11::AtomTable> atoms,
                       std::string display, PixelRatioReader pixelRatio, const XdgAppCatalog& catalog)
    : displayName_(std::move(display)),
      atoms_(std::move(atoms)),
      desktop_(std::move(desktop)),
      pixelRatio_(std::move(pixelRatio)),
      catalog_(catalog),
      identity_(catalog, static_cast<std::int32_t>(::getpid())) {
    auto* c = desktop_->get();
    // The extensions the services use on this connection, asked at once (one round trip for all of them) and
    // taken in before any other thread uses the connection: xcb looks an extension up the first time a
    // request of it is sent, waiting for the server's answer inside the send, outside any turn.
    constexpr std::array<xcb_extension_t*, 6> kExtensions{&xcb_randr_id, &xcb_input_id, &xcb_screensaver_id,
                                                          &xcb_dpms_id,  &xcb_res_id,   &xcb_damage_id};
    for (xcb_extension_t* id : kExtensions) xcb_prefetch_extension_data(c, id);
    for (xcb_extension_t* id : kExtensions) x11::extension(c, id);
    if (const auto* ext = x11::extension(c, &xcb_randr_id); ext && ext->present) {
        // Monitors need RandR 1.5; the server answers what it supports, and get_monitors fails cleanly below.
        // The server takes requests in order, so the monitors asked right behind see the version agreed
        // without waiting for its answer.
        xcb_discard_reply(c, xcb_randr_query_version(c, 1, 5).sequence);
        randrEventBase_ = ext->first_event;
        xcb_randr_select_input(c, desktop_->root(),
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE);
    }
    pump_ = std::make_unique<x11::EventPump>(*desktop_);
    // Added first, so the snapshot is new before any other handler sees the same event.
    ownHandler_ = pump_->addHandler([this](const xcb_generic_event_t& e) {
        const auto type = e.response_type & 0x7f;
        if (randrEventBase_ && (type == randrEventBase_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                                type == randrEventBase_ + XCB_RANDR_NOTIFY)) {
            refreshScreens();
        } else if (type == XCB_CONFIGURE_NOTIFY && randrEventBase_ == 0 &&
                   reinterpret_cast<const xcb_configure_notify_event_t&>(e).window == desktop_->root()) {
            refreshScreens();
        }
    });
    rootSelection_ = selectEvents(desktop_->root(), XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    clients_ = std::make_unique<x11::ListedClients>(*this);
    refreshScreens();
    followQtScreens();
}

X11Session::~X11Session() {
    stopReading();
    rootSelection_.cancel();
    ownHandler_.cancel();
    clients_.reset();
    pump_.reset();
    qtWatch_.reset();
    lifetime_.end();
}

void X11Session::stopReading() {
    readingStopped_ = true;
    if (pump_) pump_->stop();
    // The capture worker makes round trips of its own (a grab, a reading of the window stack: hundreds of
    // answers in a storm) and looks at its stop only between them: its connection is cut the same way, so
    // that the wait under way ends at once and the worker stops in the middle of its job.
    std::lock_guard lock(captureMutex_);
    if (capture_) capture_->stopReading();
}

xcb_connection_t* X11Session::toolkit() const {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

x11::Connection* X11Session::capture() {
    {
        std::lock_guard lock(captureMutex_);
        if (capture_ || readingStopped_) return capture_.get();
    }
    // Opened without the lock (the server's answer to a new client may take long in a storm), so that the
    // end's cut never waits for it; a connection the end overtook is cut as it is kept.
    auto opened = x11::Connection::open(displayName_.c_str(), atoms_);
    std::lock_guard lock(captureMutex_);
    if (!capture_) capture_ = std::move(opened);
    if (capture_ && readingStopped_) capture_->stopReading();
    return capture_.get();
}

Subscription X11Session::addEventHandler(x11::EventPump::Handler handler) {
    return pump_->addHandler(std::move(handler));
}

Subscription X11Session::addEventFilter(x11::EventPump::Filter filter) {
    return pump_->addFilter(std::move(filter));
}

Subscription X11Session::selectEvents(xcb_window_t window, std::uint32_t mask) {
    std::lock_guard lock(selectionsMutex_);
    const auto id = ++nextSelection_;
    selections_[window][id] = mask;
    setMask(window);
    return Subscription([this, window, id, token = lifetime_.token()] {
        if (!token.alive()) return;
        std::lock_guard lock(selectionsMutex_);
        if (auto it = selections_.find(window); it != selections_.end()) it->second.erase(id);
        setMask(window);
    });
}

// With the selections' lock held, so that the mask last sent is the union of the holders at that moment.
void X11Session::setMask(xcb_window_t window) {
    std::uint32_t mask = 0;
    auto it = selections_.find(window);
    if (it != selections_.end())
        for (const auto& [id, bits] : it->second) mask |= bits;
    if (it != selections_.end() && it->second.empty()) selections_.erase(it);
    // A window that is gone answers with an error event, which every handler ignores.
    xcb_change_window_attributes(desktop_->get(), window, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(desktop_->get());
}

x11::ScreenSnapshot X11Session::screens() const {
    std::lock_guard lock(screensMutex_);
    return screens_;
}

std::uint64_t X11Session::nextSpaceVersion() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

x11::ScreenSpace X11Session::space() const {
    // The frame queues convert a pointer reading every frame; the screens change a few times a session. Each
    // thread keeps its last copy while the version says it is current, and takes the lock only after a
    // change. (Versions are unique in the process, so a copy from another session never passes.)
    struct Copy {
        std::uint64_t version = 0;
        x11::ScreenSpace space;
    };
    thread_local Copy copy;
    const auto version = spaceVersion_.load(std::memory_order_acquire);
    if (copy.version != version) {
        std::lock_guard lock(screensMutex_);
        // A change after the version was read is picked up here already, and again on the next call.
        copy.space = screens_.space;
        copy.version = version;
    }
    return copy.space;
}

void X11Session::refreshScreens(bool force) {
    refreshPosted_ = false;
    auto* c = desktop_->get();
    // The root's size and the monitor list in one round trip.
    const auto geometryAsk = xcb_get_geometry(c, desktop_->root());
    const auto monitorsAsk =
        randrEventBase_ ? xcb_randr_get_monitors(c, desktop_->root(), 1) : xcb_randr_get_monitors_cookie_t{0};
    auto geometry = x11::awaitReply(c, geometryAsk, xcb_get_geometry_reply);
    if (!geometry) {
        if (monitorsAsk.sequence) xcb_discard_reply(c, monitorsAsk.sequence);
        return;
    }
    auto monitors =
        randrEventBase_ ? x11::readMonitors(*desktop_, monitorsAsk) : std::vector<x11::RawMonitor>{};
    auto snapshot = x11::snapshotOf(std::move(monitors), geometry->width, geometry->height, pixelRatio_());
    bool changed;
    {
        std::lock_guard lock(screensMutex_);
        changed = !(snapshot == screens_);
        screens_ = std::move(snapshot);
        spaceVersion_.store(nextSpaceVersion(), std::memory_order_release);
    }
    if (changed || force) screensChanged_.send(++generation_);
}

void X11Session::scheduleRefresh() {
    if (refreshPosted_ || !qtWatch_) return;
    refreshPosted_ = true;
    // Told even when our own snapshot stays the same: what Qt made of the screens (its origins and ratios,
    // which windows are placed through) has changed.
    QTimer::singleShot(0, qtWatch_.get(), [this] { refreshScreens(true); });
}

void X11Session::followQtScreens() {
    if (!qGuiApp) return;
    qtWatch_ = std::make_unique<QObject>();
    // Qt learns of a new ratio (another Xft.dpi, a monitor of another scale) on its own connection, in no
    // fixed order with the RandR notice on ours: either one reads the ratio again.
    auto watch = [this](QScreen* screen) {
        QObject::connect(screen, &QScreen::geometryChanged, qtWatch_.get(), [this] { scheduleRefresh(); });
        QObject::connect(screen, &QScreen::logicalDotsPerInchChanged, qtWatch_.get(),
                         [this] { scheduleRefresh(); });
        QObject::connect(screen, &QScreen::physicalDotsPerInchChanged, qtWatch_.get(),
                         [this] { scheduleRefresh(); });
    };
    for (QScreen* screen : QGuiApplication::screens()) watch(screen);
    QObject::connect(qGuiApp, &QGuiApplication::screenAdded, qtWatch_.get(), [this, watch](QScreen* screen) {
        watch(screen);
        scheduleRefresh();
    });
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, qtWatch_.get(), [this] { scheduleRefresh(); });
    QObject::connect(qGuiApp, &QGuiApplication::primaryScreenChanged, qtWatch_.get(),
                     [this] { scheduleRefresh(); });
}

}  // namespace velaro
