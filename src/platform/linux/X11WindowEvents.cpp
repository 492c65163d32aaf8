// Window events of one process from the X server.
#include "platform/linux/X11WindowEvents.h"

#include "platform/linux/X11Session.h"

namespace velaro {

namespace {
constexpr std::uint32_t kIconicState = 3;  // ICCCM WM_STATE value
constexpr std::uint32_t kWatchMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
}  // namespace

std::optional<WindowEventKind> windowStateChange(bool wasIconic, bool isIconic) {
    if (!wasIconic && isIconic) return WindowEventKind::minimised;
    if (wasIconic && !isIconic) return WindowEventKind::restored;
    return std::nullopt;
}

class X11WindowEvents::Observation final : public WindowEventObservation {
public:
    Observation(X11WindowEvents& owner, std::uint64_t id, Lifetime::Token owners)
        : owner_(owner), id_(id), ownerLives_(std::move(owners)) {}
    ~Observation() override {
        if (ownerLives_.alive()) owner_.end(id_);
    }

private:
    X11WindowEvents& owner_;
    std::uint64_t id_;
    Lifetime::Token ownerLives_;
};

X11WindowEvents::X11WindowEvents(X11Session& session) : session_(session) {
    auto& connection = session_.desktop();
    connection.intern({"_NET_CLIENT_LIST", "_NET_WM_PID", "WM_STATE"});
    rootSelection_ = session_.selectEvents(connection.root(), XCB_EVENT_MASK_PROPERTY_CHANGE);
    handler_ = session_.addEventHandler([this](const xcb_generic_event_t& e) { handle(e); });
}

X11WindowEvents::~X11WindowEvents() {
    lifetime_.end();
}

std::unique_ptr<WindowEventObservation> X11WindowEvents::observe(std::int32_t pid, Callback callback) {
    if (pid < 1 || !callback || session_.desktop().broken()) return nullptr;
    const auto id = ++nextId_;
    auto& watch = watches_[id];
    watch.pid = pid;
    watch.callback = std::move(callback);
    adoptWindows(watch);
    return std::make_unique<Observation>(*this, id, lifetime_.token());
}

void X11WindowEvents::end(std::uint64_t id) {
    // Its selections go with it; windows other watches follow stay selected.
    watches_.erase(id);
}

bool X11WindowEvents::isIconic(std::uint32_t window) {
    auto& connection = session_.desktop();
    auto* c = connection.get();
    const auto wmState = connection.atom("WM_STATE");
    auto reply =
        x11::own(xcb_get_property_reply(c, x11::askProperty(c, window, wmState, wmState, 2), nullptr));
    const auto v = x11::values32(reply.get());
    return !v.empty() && v[0] == kIconicState;
}

void X11WindowEvents::adoptWindows(Watch& watch) {
    auto& connection = session_.desktop();
    const auto windows = x11::rootWindowList(connection, "_NET_CLIENT_LIST");
    const auto pids = x11::processesOfWindows(connection, windows);
    for (std::size_t i = 0; i < windows.size(); ++i) {
        if (pids[i] != watch.pid || watch.windows.count(windows[i])) continue;
        // Listen first, then read the state, so no change falls between the two.
        watch.selections[windows[i]] = session_.selectEvents(windows[i], kWatchMask);
        watch.windows[windows[i]] = isIconic(windows[i]);
    }
}

void X11WindowEvents::handle(const xcb_generic_event_t& e) {
    const auto type = e.response_type & 0x7f;
    // Callbacks may end watches (and so change `watches_`): collect first, then call each watch that is
    // still there.
    std::vector<std::pair<std::uint64_t, WindowEventKind>> calls;
    if (type == XCB_PROPERTY_NOTIFY) {
        const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(e);
        auto& connection = session_.desktop();
        if (p.window == connection.root()) {
            if (p.atom == connection.atom("_NET_CLIENT_LIST"))
                for (auto& [id, watch] : watches_) adoptWindows(watch);
            return;
        }
        if (p.atom != connection.atom("WM_STATE")) return;
        std::optional<bool> iconic;
        for (auto& [id, watch] : watches_) {
            auto it = watch.windows.find(p.window);
            if (it == watch.windows.end()) continue;
            if (!iconic) iconic = p.state == XCB_PROPERTY_DELETE ? false : isIconic(p.window);
            if (auto kind = windowStateChange(it->second, *iconic)) calls.emplace_back(id, *kind);
            it->second = *iconic;
        }
    } else if (type == XCB_DESTROY_NOTIFY) {
        const auto& d = reinterpret_cast<const xcb_destroy_notify_event_t&>(e);
        for (auto& [id, watch] : watches_) {
            if (!watch.windows.erase(d.window)) continue;
            watch.selections.erase(d.window);
            calls.emplace_back(id, WindowEventKind::destroyed);
        }
    }
    for (const auto& [id, kind] : calls) {
        auto it = watches_.find(id);
        if (it == watches_.end()) continue;
        auto callback = it->second.callback;
        callback(kind);
    }
}

}  // namespace velaro
