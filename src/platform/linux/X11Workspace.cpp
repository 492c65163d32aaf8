// The X11 session as the workspace: running apps, the frontmost app, desktops, sleep and wake.
#include "platform/linux/X11Workspace.h"

#include <unistd.h>

#include <xcb/dpms.h>
#include <xcb/screensaver.h>

#include <QDBusConnection>
#include <QTimer>
#include <algorithm>
#include <set>

#include "base/Log.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/XdgAppCatalog.h"

namespace velaro {

namespace {
constexpr std::uint16_t kDpmsOn = 0;
}  // namespace

bool displaysAsleep(const DisplayPowerReading& reading) {
    const bool saverOn =
        reading.saverState == XCB_SCREENSAVER_STATE_ON || reading.saverState == XCB_SCREENSAVER_STATE_CYCLE;
    const bool powerOff = reading.dpmsEnabled && reading.dpmsPowerLevel && *reading.dpmsPowerLevel != kDpmsOn;
    return saverOn || powerOff;
}

bool displaysAsleepAfterSaverNotice(bool asleep, std::uint8_t saverState) {
    switch (saverState) {
        case XCB_SCREENSAVER_STATE_ON:
            return true;
        case XCB_SCREENSAVER_STATE_CYCLE:
            return asleep;
        default:
            return false;
    }
}

X11Workspace::X11Workspace(MainLoop& loop, X11Session& session) : loop_(loop), session_(session) {
    auto& connection = session_.desktop();
    connection.intern({"_NET_CLIENT_LIST", "_NET_ACTIVE_WINDOW", "_NET_CURRENT_DESKTOP", "_NET_WM_PID"});
    rootSelection_ = session_.selectEvents(connection.root(), XCB_EVENT_MASK_PROPERTY_CHANGE);
    handler_ = session_.addEventHandler([this](const xcb_generic_event_t& e) {
        if (saverEvents_ && (e.response_type & 0x7f) == saverEventBase_ + XCB_SCREENSAVER_NOTIFY) {
            const auto& notice = reinterpret_cast<const xcb_screensaver_notify_event_t&>(e);
            setDisplaysAsleep(displaysAsleepAfterSaverNotice(displaysAsleep_, notice.state));
            return;
        }
        if ((e.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return;
        auto& c = session_.desktop();
        const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(e);
        if (p.window != c.root()) return;
        // Any client may rewrite the lists, hundreds of times in a burst. The clients are read off the main
        // loop (see x11::ListedClients), and so is the active window.
        if (p.atom == c.atom("_NET_ACTIVE_WINDOW")) {
            askActive();
        } else if (p.atom == c.atom("_NET_CURRENT_DESKTOP")) {
            // An activation that came before the switch is told before it, as it happened.
            if (answered_ == asks_.load())
                send(WorkspaceEvent::Kind::activeSpaceDidChange);
            else
                spaceChanges_.push_back(asks_.load());
        }
    });
    const auto& clients = session_.clients();
    naming_ = clients.reading()->naming;
    clientChanges_ = session_.clients().changed().sink([this](int) {
        // A reading of another naming has every app named anew: the installed apps changed.
        const auto naming = session_.clients().reading()->naming;
        reloadClients(true, std::exchange(naming_, naming) != naming);
    });
    reloadClients(false);
    takeActive(readActive(x11::neverStop), false);
    followDisplayPower();

    sleepReceiver_.onPrepareForSleep = [this](bool sleeping) {
        send(sleeping ? WorkspaceEvent::Kind::willSleep : WorkspaceEvent::Kind::didWake);
    };
    // Without logind (or a system bus) there are no sleep notifications; the rest still works.
    const bool connected = QDBusConnection::systemBus().connect(
        "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
        "PrepareForSleep", &sleepReceiver_, SLOT(prepareForSleep(bool)));
    if (!connected)
        qCInfo(lcDesktop) << tagged("WORKSPACE",
                                    "no logind on the system bus; sleep and wake are not followed");
    activeReads_ = std::make_unique<x11::ReadThread>(
        [this](const std::atomic<bool>& stop) {
            auto reading = readActive(stop);
            if (!stop)
                loop_.post(
                    lifetime_.guard([this, reading = std::move(reading)] { takeActive(reading, true); }));
            return true;
        },
        std::chrono::milliseconds(0), std::chrono::milliseconds(0));
}

X11Workspace::~X11Workspace() {
    activeReads_.reset();
}

void X11Workspace::followDisplayPower() {
    auto& connection = session_.desktop();
    auto* c = connection.get();
    DisplayPowerReading now;
    // The saver's notifications come as events, so nothing runs while the displays stay as they are. DPMS
    // tells of no change by itself, but the server starts the saver whenever DPMS turns the displays off
    // and stops it when they come back, so its state is only read here, once.
    if (const auto* saver = x11::extension(c, &xcb_screensaver_id); saver && saver->present) {
        saverEventBase_ = saver->first_event;
        saverEvents_ = true;
        xcb_screensaver_select_input(c, connection.root(), XCB_SCREENSAVER_EVENT_NOTIFY_MASK);
        auto info = x11::awaitReply(c, xcb_screensaver_query_info(c, connection.root()),
                                    xcb_screensaver_query_info_reply);
        if (info) now.saverState = info->state;
    } else {
        qCInfo(lcDesktop) << tagged(
            "WORKSPACE", "the X server has no screen saver extension; display sleep is not followed");
    }
    if (const auto* dpms = x11::extension(c, &xcb_dpms_id); dpms && dpms->present) {
        if (auto info = x11::awaitReply(c, xcb_dpms_info(c), xcb_dpms_info_reply)) {
            now.dpmsPowerLevel = info->power_level;
            now.dpmsEnabled = info->state != 0;
        }
    }
    xcb_flush(c);
    if (!displaysAsleep(now)) return;
    // Nobody listens yet while the services are being built: tell on the first turn of the loop.
    QTimer::singleShot(0, &sleepReceiver_, [this] { setDisplaysAsleep(true); });
}

void X11Workspace::setDisplaysAsleep(bool asleep) {
    if (asleep == displaysAsleep_) return;
    displaysAsleep_ = asleep;
    qCInfo(lcDesktop) << tagged(
        "WORKSPACE", asleep ? "the displays sleep (screen saver on)" : "the displays are awake again");
    send(asleep ? WorkspaceEvent::Kind::screensDidSleep : WorkspaceEvent::Kind::screensDidWake);
}

void X11Workspace::send(WorkspaceEvent::Kind kind, std::optional<RunningApp> app) {
    events_.send(WorkspaceEvent{kind, std::move(app)});
}

namespace {
// The app a window's facts name; absent without a process.
std::optional<RunningApp> appOf(const x11::ClientFacts& facts) {
    if (facts.pid == 0) return std::nullopt;
    RunningApp app;
    app.pid = facts.pid;
    if (!facts.appId.empty()) app.appId = facts.appId;
    if (!facts.appName.empty()) app.name = facts.appName;
    return app;
}
}  // namespace

void X11Workspace::reloadClients(bool notify, bool renamed) {
    // A long list of new windows is read in parts: the apps follow what is known meanwhile. The apps were
    // named with the facts, on the reading thread.
    const auto reading = session_.clients().reading();
    const auto& clients = reading->windows;
    std::map<std::int32_t, RunningApp> before;
    {
        std::lock_guard lock(mutex_);
        before = apps_;
    }
    // Each listed process once, by its first listed window; a process already running keeps its app unless
    // the apps are named again.
    std::map<std::int32_t, RunningApp> now;
    for (auto window : clients) {
        const auto* facts = reading->find(window);
        if (!facts || facts->pid == 0 || now.contains(facts->pid)) continue;
        const auto known = before.find(facts->pid);
        now.emplace(facts->pid, !renamed && known != before.end() ? known->second : *appOf(*facts));
    }
    std::vector<RunningApp> launched, terminated;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [pid, app] : now) {
            const auto known = apps_.find(pid);
            if (known == apps_.end()) {
                launched.push_back(app);
            } else if (known->second != app) {
                terminated.push_back(known->second);
                launched.push_back(app);
            }
        }
        for (const auto& [pid, app] : apps_)
            if (!now.count(pid)) terminated.push_back(app);
        apps_ = std::move(now);
    }
    if (notify) {
        for (auto& app : terminated) send(WorkspaceEvent::Kind::didTerminateApplication, app);
        for (auto& app : launched) send(WorkspaceEvent::Kind::didLaunchApplication, app);
    }
    // The frontmost app under its new name.
    if (renamed) {
        askActive();
        renamedAsk_ = asks_.load();
    }
    // The active window was let go of (closed, hidden). When another takes the focus the window manager names
    // it; when none does, some managers (openbox) leave the gone window named, and no change would come.
    else if (activeWindow_ != 0 && std::find(clients.begin(), clients.end(), activeWindow_) == clients.end())
        askActive();
}

void X11Workspace::askActive() {
    asks_.fetch_add(1);
    if (activeReads_) activeReads_->ask();
}

X11Workspace::ActiveReading X11Workspace::readActive(const std::atomic<bool>& stop) {
    ActiveReading reading;
    // Every ask counted so far is answered by what this read finds.
    reading.answers = asks_.load();
    auto& connection = session_.desktop();
    auto* c = connection.get();
    // The active window and the list as they stand now: a window activated as it appears may not be in the
    // last reading yet.
    const auto activeAsk =
        x11::askProperty(c, connection.root(), connection.atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 1);
    const auto clientsAsk =
        x11::askProperty(c, connection.root(), connection.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 8192);
    const auto active =
        x11::values32(x11::awaitReply<xcb_get_property_reply_t>(c, activeAsk.sequence, stop).get());
    reading.clients =
        x11::values32(x11::awaitReply<xcb_get_property_reply_t>(c, clientsAsk.sequence, stop).get());
    std::sort(reading.clients.begin(), reading.clients.end());
    reading.window = active.empty() ? 0 : active[0];
    if (reading.window == 0 || stop) return reading;
    if (const auto* known = session_.clients().current().find(reading.window)) {
        reading.facts = *known;
        return reading;
    }
    auto& facts = reading.facts.emplace();
    const auto classAsk = x11::askProperty(c, reading.window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256);
    facts.pid = x11::processesOfWindows(connection, {reading.window}, stop).front();
    auto wmClass = x11::awaitReply<xcb_get_property_reply_t>(c, classAsk.sequence, stop);
    std::tie(facts.instanceName, facts.windowClass) = x11::splitWindowClass(x11::bytes8(wmClass.get()));
    if (facts.pid != 0) {
        auto app = session_.identity().nameOf({facts.pid, facts.instanceName, facts.windowClass});
        facts.appId = std::move(app.id);
        facts.appName = std::move(app.name);
    }
    return reading;
}

void X11Workspace::takeActive(const ActiveReading& reading, bool notify) {
    answered_ = reading.answers;
    const bool renamed = renamedAsk_ != 0 && reading.answers >= renamedAsk_;
    if (renamed) renamedAsk_ = 0;
    const auto managed = [&](std::uint32_t w) {
        return std::binary_search(reading.clients.begin(), reading.clients.end(), w);
    };
    std::uint32_t window = reading.window;
    // Only a managed window activates an app: one the manager names without managing it (a pop-up such as
    // ours under the tray icon) leaves the front app as it was, and a named window that is no longer managed
    // means that nothing has the focus.
    bool keep = false;
    if (window != 0 && !managed(window)) {
        keep = activeWindow_ != 0 && managed(activeWindow_);
        window = 0;
    }
    if (!keep) {
        activeWindow_ = window;
        std::optional<RunningApp> app;
        if (window != 0 && reading.facts) {
            app = appOf(*reading.facts);
            std::lock_guard lock(mutex_);
            // A running process keeps the app it runs as (after a renaming, its new one).
            if (app)
                if (auto it = apps_.find(app->pid); it != apps_.end()) app = it->second;
        }
        bool changed = false, launched = false;
        {
            std::lock_guard lock(mutex_);
            // Focus moving between windows of one app is no activation; the same app under a new name is.
            changed =
                (app.has_value() != frontmost_.has_value()) ||
                (app && frontmost_ && (app->pid != frontmost_->pid || (renamed && *app != *frontmost_)));
            frontmost_ = app;
            launched = app && apps_.emplace(app->pid, *app).second;
        }
        // Its windows' process was not yet among the running ones (the list not read to its end yet): it is,
        // now.
        if (notify && launched) send(WorkspaceEvent::Kind::didLaunchApplication, app);
        if (notify && changed) send(WorkspaceEvent::Kind::didActivateApplication, app);
    }
    // The desktop switches that came after the activations this read saw.
    std::size_t told = 0;
    while (told < spaceChanges_.size() && spaceChanges_[told] <= answered_) ++told;
    spaceChanges_.erase(spaceChanges_.begin(), spaceChanges_.begin() + static_cast<std::ptrdiff_t>(told));
    if (notify)
        for (std::size_t i = 0; i < told; ++i) send(WorkspaceEvent::Kind::activeSpaceDidChange);
}

std::optional<RunningApp> X11Workspace::frontmostApplication() const {
    std::lock_guard lock(mutex_);
    return frontmost_;
}

std::vector<RunningApp> X11Workspace::runningApplications() const {
    std::lock_guard lock(mutex_);
    std::vector<RunningApp> out;
    for (const auto& [pid, app] : apps_) out.push_back(app);
    return out;
}

std::optional<RunningApp> X11Workspace::runningApplication(std::int32_t pid) const {
    std::lock_guard lock(mutex_);
    if (auto it = apps_.find(pid); it != apps_.end()) return it->second;
    return std::nullopt;
}

std::int32_t X11Workspace::ownProcessIdentifier() const {
    return static_cast<std::int32_t>(::getpid());
}

}  // namespace velaro
