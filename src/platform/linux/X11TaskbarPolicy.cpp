// Taskbar and pager presence of our windows, and activation, through the window manager's EWMH interface.
#include "platform/linux/X11TaskbarPolicy.h"

#include <unistd.h>

#include <QGuiApplication>
#include <QWindow>
#include <algorithm>
#include <optional>

#include "platform/linux/X11Session.h"

namespace velaro {
namespace {

constexpr std::uint32_t kRemove = 0, kAdd = 1;
// Pagers and taskbars ask with this source; window managers honour it without focus-stealing checks, which is
// what "activate ignoring other apps" means here.
constexpr std::uint32_t kSourcePager = 2;
constexpr std::uint32_t kWithdrawnState = 0, kIconicState = 3;

// The window manager gives the focus only to windows it manages: the overlay windows, the tray icon, popups
// and tooltips all bypass it.
bool showsManagedWindow() {
    const auto windows = QGuiApplication::topLevelWindows();
    return std::any_of(windows.begin(), windows.end(), [](const QWindow* window) {
        const Qt::WindowType type = window->type();
        return window->isVisible() && !window->flags().testFlag(Qt::BypassWindowManagerHint) &&
               type != Qt::Popup && type != Qt::ToolTip;
    });
}

}  // namespace

X11TaskbarPolicy::X11TaskbarPolicy(X11Session& session) : session_(session) {
    session_.desktop().intern({"WM_STATE", "_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR",
                               "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_HIDDEN", "_NET_ACTIVE_WINDOW",
                               "_NET_CLIENT_LIST_STACKING", "_NET_WM_PID", "_NET_WM_WINDOW_TYPE",
                               "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_WINDOW_TYPE_DIALOG",
                               "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_MINIMIZE"});
    handler_ = session_.addEventHandler([this](const xcb_generic_event_t& event) {
        if ((event.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return;
        const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
        const auto tracked = windows_.find(notify.window);
        if (tracked == windows_.end()) return;
        if (notify.atom == session_.desktop().atom("_NET_WM_ALLOWED_ACTIONS")) {
            // Asked again only when the answer changes: a window manager may rewrite the actions whenever a
            // state changes, the state this policy asks for included. Where the actions do not count, nothing
            // is asked at all.
            if (!readsActions(tracked->second) && skips(tracked->second, Facts{}) == tracked->second.skipping)
                return;
            const auto facts = factsOf({notify.window}).front();
            if (skips(tracked->second, facts) != tracked->second.skipping) apply(notify.window, facts);
            return;
        }
        // The window manager forgets a window's state when it is withdrawn; when it takes the window on again
        // (WM_STATE appears), the policy has to be said again.
        if (notify.atom != session_.desktop().atom("WM_STATE")) return;
        const auto facts = factsOf({notify.window}).front();
        if (facts.wmState == kIconicState)
            iconic_.insert(notify.window);
        else
            iconic_.erase(notify.window);
        apply(notify.window, facts);
    });
}

X11TaskbarPolicy::~X11TaskbarPolicy() = default;

void X11TaskbarPolicy::setActivationPolicy(ActivationPolicy policy) {
    policy_ = policy;
    std::vector<xcb_window_t> windows;
    for (const auto& entry : windows_) windows.push_back(entry.first);
    const auto facts = factsOf(windows);
    for (std::size_t i = 0; i < windows.size(); ++i) apply(windows[i], facts[i]);
}

void X11TaskbarPolicy::addWindow(WindowNumber number, TaskbarEntry entry) {
    const auto window = static_cast<xcb_window_t>(number);
    if (window == 0 || windows_.contains(window)) return;
    everAdded_ = true;
    windows_.emplace(window, Tracked{session_.selectEvents(window, XCB_EVENT_MASK_PROPERTY_CHANGE), entry});
    const auto facts = factsOf({window}).front();
    if (facts.wmState == kIconicState) iconic_.insert(window);
    apply(window, facts);
}

void X11TaskbarPolicy::removeWindow(WindowNumber number) {
    const auto window = static_cast<xcb_window_t>(number);
    windows_.erase(window);
    iconic_.erase(window);
}

bool X11TaskbarPolicy::readsActions(const Tracked& tracked) const {
    return policy_ == ActivationPolicy::accessory && tracked.entry == TaskbarEntry::whileMinimisable;
}

std::vector<X11TaskbarPolicy::Facts> X11TaskbarPolicy::factsOf(
    const std::vector<xcb_window_t>& windows) const {
    auto& desktop = session_.desktop();
    auto* c = desktop.get();
    const xcb_atom_t wmState = desktop.atom("WM_STATE"), netState = desktop.atom("_NET_WM_STATE");
    const xcb_atom_t allowed = desktop.atom("_NET_WM_ALLOWED_ACTIONS");
    // Every question asked before any answer is read; the state is asked even where the window turns out to
    // be managed (and it goes unused): a second round trip for the rare withdrawn window costs more.
    struct Asked {
        xcb_get_property_cookie_t wmState, netState;
        std::optional<xcb_get_property_cookie_t> actions;
    };
    std::vector<Asked> asked;
    asked.reserve(windows.size());
    for (auto window : windows) {
        const auto tracked = windows_.find(window);
        Asked ask{x11::askProperty(c, window, wmState, XCB_ATOM_ANY, 2),
                  x11::askProperty(c, window, netState, XCB_ATOM_ATOM), std::nullopt};
        if (tracked != windows_.end() && readsActions(tracked->second))
            ask.actions = x11::askProperty(c, window, allowed, XCB_ATOM_ATOM);
        asked.push_back(ask);
    }
    const xcb_atom_t minimise = desktop.atom("_NET_WM_ACTION_MINIMIZE");
    std::vector<Facts> facts(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const auto state = x11::values32(x11::awaitReply(c, asked[i].wmState, xcb_get_property_reply).get());
        facts[i].wmState = state.empty() ? kWithdrawnState : state[0];
        facts[i].netState =
            x11::values32(x11::awaitReply(c, asked[i].netState, xcb_get_property_reply).get());
        if (!asked[i].actions) continue;
        const auto reply = x11::awaitReply(c, *asked[i].actions, xcb_get_property_reply);
        if (!reply || reply->type == XCB_ATOM_NONE) continue;  // the window manager does not say
        const auto actions = x11::values32(reply.get());
        facts[i].minimisable = std::find(actions.begin(), actions.end(), minimise) != actions.end();
    }
    return facts;
}

bool X11TaskbarPolicy::skips(const Tracked& tracked, const Facts& facts) const {
    if (policy_ != ActivationPolicy::accessory) return false;
    return tracked.entry != TaskbarEntry::whileMinimisable || !facts.minimisable;
}

void X11TaskbarPolicy::apply(xcb_window_t window, const Facts& facts) {
    auto* c = session_.desktop().get();
    Tracked& tracked = windows_.at(window);
    const bool skip = skips(tracked, facts);
    tracked.skipping = skip;
    const xcb_atom_t netState = session_.desktop().atom("_NET_WM_STATE");
    const xcb_atom_t taskbar = session_.desktop().atom("_NET_WM_STATE_SKIP_TASKBAR");
    const xcb_atom_t pager = session_.desktop().atom("_NET_WM_STATE_SKIP_PAGER");
    if (facts.wmState != kWithdrawnState) {
        // A managed window's state belongs to the window manager: ask it.
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = netState;
        message.data.data32[0] = skip ? kAdd : kRemove;
        message.data.data32[1] = taskbar;
        message.data.data32[2] = pager;
        message.data.data32[3] = 1;  // a normal application asks
        xcb_send_event(c, 0, session_.desktop().root(),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
    } else {
        // Before it is mapped the property is ours to write; the window manager reads it when it maps the
        // window.
        auto atoms = facts.netState;
        std::erase_if(atoms, [&](std::uint32_t a) { return a == taskbar || a == pager; });
        if (skip) atoms.insert(atoms.end(), {taskbar, pager});
        if (atoms.empty()) {
            xcb_delete_property(c, window, netState);
        } else {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, netState, XCB_ATOM_ATOM, 32,
                                static_cast<std::uint32_t>(atoms.size()), atoms.data());
        }
    }
    xcb_flush(c);
}

void X11TaskbarPolicy::sendActivation(xcb_window_t window, xcb_window_t active) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = session_.desktop().atom("_NET_ACTIVE_WINDOW");
    message.data.data32[0] = kSourcePager;
    message.data.data32[1] = XCB_CURRENT_TIME;
    message.data.data32[2] = active;
    xcb_send_event(session_.desktop().get(), 0, session_.desktop().root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(session_.desktop().get());
}

void X11TaskbarPolicy::activate(WindowNumber number) {
    const auto window = static_cast<xcb_window_t>(number);
    if (window == 0) return;
    // A minimised window is unmapped: mapping it again is how a client asks for it back (ICCCM), and a
    // window manager that does not restore on activation alone still does on the map. Only a window known
    // to be minimised is mapped, since a map from this connection could overtake the toolkit's own set-up of
    // a window it is about to show.
    if (iconic_.contains(window)) xcb_map_window(session_.desktop().get(), window);
    sendActivation(window, activeWindow());
}

xcb_get_property_cookie_t X11TaskbarPolicy::askRootWindows(const char* property, std::uint32_t most) const {
    auto& desktop = session_.desktop();
    return x11::askProperty(desktop.get(), desktop.root(), desktop.atom(property), XCB_ATOM_WINDOW, most);
}

xcb_window_t X11TaskbarPolicy::activeWindow() const {
    return activeFrom(askRootWindows("_NET_ACTIVE_WINDOW", 1));
}

xcb_window_t X11TaskbarPolicy::activeFrom(xcb_get_property_cookie_t ask) const {
    const auto values =
        x11::values32(x11::awaitReply(session_.desktop().get(), ask, xcb_get_property_reply).get());
    return values.empty() ? 0 : values[0];
}

std::vector<bool> X11TaskbarPolicy::ours(const std::vector<xcb_window_t>& windows) const {
    // Windows of this process that were never added (a message box) are ours too.
    std::vector<xcb_window_t> others;
    for (auto window : windows)
        if (!windows_.contains(window)) others.push_back(window);
    const auto pids =
        others.empty() ? std::vector<std::int32_t>{} : x11::processesOfWindows(session_.desktop(), others);
    const auto self = static_cast<std::int32_t>(::getpid());
    std::vector<bool> mine;
    mine.reserve(windows.size());
    std::size_t other = 0;
    for (auto window : windows) {
        if (windows_.contains(window)) {
            mine.push_back(true);
        } else {
            mine.push_back(other < pids.size() && pids[other] == self);
            ++other;
        }
    }
    return mine;
}

bool X11TaskbarPolicy::isActive() const {
    const xcb_window_t active = activeWindow();
    return active != 0 && ours({active}).front();
}

void X11TaskbarPolicy::deactivate() {
    // Until a window of ours is added or shown none can have had the focus (so at launch): no need to ask
    // the server whose window is active.
    if (!everAdded_ && !showsManagedWindow()) return;
    auto& desktop = session_.desktop();
    auto* c = desktop.get();
    // Two round trips whatever the number of windows (a third for windows without _NET_WM_PID): the active
    // window with the stacking order, then every window's state, type and process together.
    const auto activeAsk = askRootWindows("_NET_ACTIVE_WINDOW", 1);
    const auto stackAsk = askRootWindows("_NET_CLIENT_LIST_STACKING", 4096);
    const xcb_window_t active = activeFrom(activeAsk);
    const auto windows = x11::values32(x11::awaitReply(c, stackAsk, xcb_get_property_reply).get());
    if (active == 0) return;
    struct Asked {
        xcb_get_property_cookie_t state, type;
    };
    std::vector<Asked> asked;
    asked.reserve(windows.size());
    for (auto window : windows)
        asked.push_back({x11::askProperty(c, window, desktop.atom("_NET_WM_STATE"), XCB_ATOM_ATOM),
                         x11::askProperty(c, window, desktop.atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM)});
    // The processes are asked after the states and types, whose answers then come on the same round trip.
    std::vector<xcb_window_t> whose(windows.begin(), windows.end());
    whose.push_back(active);
    const auto mine = ours(whose);
    struct Told {
        std::vector<std::uint32_t> states, types;
    };
    std::vector<Told> told(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        told[i].states = x11::values32(x11::awaitReply(c, asked[i].state, xcb_get_property_reply).get());
        told[i].types = x11::values32(x11::awaitReply(c, asked[i].type, xcb_get_property_reply).get());
    }
    if (!mine.back()) return;  // another app's window has the focus already
    const xcb_atom_t hidden = desktop.atom("_NET_WM_STATE_HIDDEN");
    const xcb_atom_t normal = desktop.atom("_NET_WM_WINDOW_TYPE_NORMAL");
    const xcb_atom_t dialog = desktop.atom("_NET_WM_WINDOW_TYPE_DIALOG");
    // Topmost first: the window the user would see under ours.
    for (std::size_t i = windows.size(); i-- > 0;) {
        if (mine[i]) continue;
        const auto& states = told[i].states;
        if (std::find(states.begin(), states.end(), hidden) != states.end()) continue;
        const auto& types = told[i].types;
        // Docks, desktops and the like never take the focus; a window without a type is a normal one.
        if (!types.empty() && types[0] != normal && types[0] != dialog) continue;
        sendActivation(windows[i], active);
        return;
    }
}

}  // namespace velaro
