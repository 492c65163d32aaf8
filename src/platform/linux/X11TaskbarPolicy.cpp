// Taskbar and pager presence of our windows, and activation, through the window manager's EWMH interface.
#include "platform/linux/X11TaskbarPolicy.h"

#include <unistd.h>

#include <QGuiApplication>
#include <QWindow>
#include <algorithm>

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
            // state changes, the state this policy asks for included.
            if (skips(notify.window, tracked->second) != tracked->second.skipping)
                apply(notify.window, wmState(notify.window));
            return;
        }
        // The window manager forgets a window's state when it is withdrawn; when it takes the window on again
        // (WM_STATE appears), the policy has to be said again.
        if (notify.atom != session_.desktop().atom("WM_STATE")) return;
        const std::uint32_t state = wmState(notify.window);
        if (state == kIconicState)
            iconic_.insert(notify.window);
        else
            iconic_.erase(notify.window);
        apply(notify.window, state);
    });
}

X11TaskbarPolicy::~X11TaskbarPolicy() = default;

void X11TaskbarPolicy::setActivationPolicy(ActivationPolicy policy) {
    policy_ = policy;
    for (const auto& [window, tracked] : windows_) apply(window, wmState(window));
}

void X11TaskbarPolicy::addWindow(WindowNumber number, TaskbarEntry entry) {
    const auto window = static_cast<xcb_window_t>(number);
    if (window == 0 || windows_.contains(window)) return;
    everAdded_ = true;
    windows_.emplace(window, Tracked{session_.selectEvents(window, XCB_EVENT_MASK_PROPERTY_CHANGE), entry});
    const std::uint32_t state = wmState(window);
    if (state == kIconicState) iconic_.insert(window);
    apply(window, state);
}

void X11TaskbarPolicy::removeWindow(WindowNumber number) {
    const auto window = static_cast<xcb_window_t>(number);
    windows_.erase(window);
    iconic_.erase(window);
}

std::uint32_t X11TaskbarPolicy::wmState(xcb_window_t window) const {
    auto* c = session_.desktop().get();
    auto reply = x11::own(xcb_get_property_reply(
        c, x11::askProperty(c, window, session_.desktop().atom("WM_STATE"), XCB_ATOM_ANY, 2), nullptr));
    const auto state = x11::values32(reply.get());
    return state.empty() ? kWithdrawnState : state[0];
}

bool X11TaskbarPolicy::minimisable(xcb_window_t window) const {
    auto* c = session_.desktop().get();
    auto reply = x11::own(xcb_get_property_reply(
        c, x11::askProperty(c, window, session_.desktop().atom("_NET_WM_ALLOWED_ACTIONS"), XCB_ATOM_ATOM),
        nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE) return true;
    const auto actions = x11::values32(reply.get());
    return std::find(actions.begin(), actions.end(), session_.desktop().atom("_NET_WM_ACTION_MINIMIZE")) !=
           actions.end();
}

bool X11TaskbarPolicy::skips(xcb_window_t window, const Tracked& tracked) const {
    if (policy_ != ActivationPolicy::accessory) return false;
    return tracked.entry != TaskbarEntry::whileMinimisable || !minimisable(window);
}

void X11TaskbarPolicy::apply(xcb_window_t window, std::uint32_t state) {
    auto* c = session_.desktop().get();
    Tracked& tracked = windows_.at(window);
    const bool skip = skips(window, tracked);
    tracked.skipping = skip;
    const xcb_atom_t netState = session_.desktop().atom("_NET_WM_STATE");
    const xcb_atom_t taskbar = session_.desktop().atom("_NET_WM_STATE_SKIP_TASKBAR");
    const xcb_atom_t pager = session_.desktop().atom("_NET_WM_STATE_SKIP_PAGER");
    if (state != kWithdrawnState) {
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
        auto reply = x11::own(
            xcb_get_property_reply(c, x11::askProperty(c, window, netState, XCB_ATOM_ATOM), nullptr));
        auto atoms = x11::values32(reply.get());
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

void X11TaskbarPolicy::sendActivation(xcb_window_t window) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = session_.desktop().atom("_NET_ACTIVE_WINDOW");
    message.data.data32[0] = kSourcePager;
    message.data.data32[1] = XCB_CURRENT_TIME;
    message.data.data32[2] = activeWindow();
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
    sendActivation(window);
}

xcb_window_t X11TaskbarPolicy::activeWindow() const {
    auto* c = session_.desktop().get();
    auto reply = x11::own(xcb_get_property_reply(
        c,
        x11::askProperty(c, session_.desktop().root(), session_.desktop().atom("_NET_ACTIVE_WINDOW"),
                         XCB_ATOM_WINDOW, 1),
        nullptr));
    const auto values = x11::values32(reply.get());
    return values.empty() ? 0 : values[0];
}

bool X11TaskbarPolicy::ours(xcb_window_t window) const {
    if (windows_.contains(window)) return true;
    // Windows of this process that were never added (a message box) are ours too.
    const auto pids = x11::processesOfWindows(session_.desktop(), {window});
    return !pids.empty() && pids[0] == static_cast<std::int32_t>(::getpid());
}

bool X11TaskbarPolicy::isActive() const {
    const xcb_window_t active = activeWindow();
    return active != 0 && ours(active);
}

void X11TaskbarPolicy::deactivate() {
    // Until a window of ours is added or shown none can have had the focus (so at launch): no need to ask
    // the server whose window is active.
    if (!everAdded_ && !showsManagedWindow()) return;
    if (!isActive()) return;
    auto* c = session_.desktop().get();
    auto stack = x11::own(xcb_get_property_reply(
        c,
        x11::askProperty(c, session_.desktop().root(), session_.desktop().atom("_NET_CLIENT_LIST_STACKING"),
                         XCB_ATOM_WINDOW, 4096),
        nullptr));
    auto windows = x11::values32(stack.get());
    const xcb_atom_t hidden = session_.desktop().atom("_NET_WM_STATE_HIDDEN");
    const xcb_atom_t normal = session_.desktop().atom("_NET_WM_WINDOW_TYPE_NORMAL");
    const xcb_atom_t dialog = session_.desktop().atom("_NET_WM_WINDOW_TYPE_DIALOG");
    // Topmost first: the window the user would see under ours.
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        const xcb_window_t window = *it;
        if (ours(window)) continue;
        auto state = x11::own(xcb_get_property_reply(
            c, x11::askProperty(c, window, session_.desktop().atom("_NET_WM_STATE"), XCB_ATOM_ATOM),
            nullptr));
        const auto states = x11::values32(state.get());
        if (std::find(states.begin(), states.end(), hidden) != states.end()) continue;
        auto type = x11::own(xcb_get_property_reply(
            c, x11::askProperty(c, window, session_.desktop().atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM),
            nullptr));
        const auto types = x11::values32(type.get());
        // Docks, desktops and the like never take the focus; a window without a type is a normal one.
        if (!types.empty() && types[0] != normal && types[0] != dialog) continue;
        sendActivation(window);
        return;
    }
}

}  // namespace velaro
