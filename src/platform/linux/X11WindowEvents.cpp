// Window events of one process from the X server.
#include "platform/linux/X11WindowEvents.h"

#include "platform/linux/XcbUtil.h"

namespace velaro {

namespace {
constexpr std::uint32_t kIconicState = 3;  // ICCCM WM_STATE value
constexpr std::uint32_t kWatchMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
}  // namespace

std::optional<WindowEventKind> windowStateChange(bool wasIconic, bool isIconic) {
    if (!wasIconic && isIconic) return WindowEventKind::miniaturized;
    if (wasIconic && !isIconic) return WindowEventKind::deminiaturized;
    return std::nullopt;
}

class X11WindowEvents::Observation final : public WindowEventObservation {
public:
    Observation(X11WindowEvents& owner, std::uint64_t id, std::weak_ptr<bool> alive)
        : owner_(owner), id_(id), alive_(std::move(alive)) {}
    ~Observation() override {
        if (auto a = alive_.lock(); a && *a) owner_.end(id_);
    }

private:
    X11WindowEvents& owner_;
    std::uint64_t id_;
    std::weak_ptr<bool> alive_;
};

std::unique_ptr<X11WindowEvents> X11WindowEvents::create(const char* display) {
    auto connection = x11::Connection::open(display);
    if (!connection) return nullptr;
    return std::unique_ptr<X11WindowEvents>(new X11WindowEvents(std::move(connection)));
}

X11WindowEvents::X11WindowEvents(std::unique_ptr<x11::Connection> connection)
    : connection_(std::move(connection)) {
    connection_->intern({"_NET_CLIENT_LIST", "_NET_WM_PID", "WM_STATE"});
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_->get(), connection_->root(), XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_->get());
    pump_ = std::make_unique<x11::EventPump>(*connection_);
    handler_ = pump_->addHandler([this](const xcb_generic_event_t& e) { handle(e); });
}

X11WindowEvents::~X11WindowEvents() {
    *alive_ = false;
    handler_.cancel();
    pump_.reset();
}

std::unique_ptr<WindowEventObservation> X11WindowEvents::observe(std::int32_t pid, Callback callback) {
    if (pid < 1 || !callback || connection_->broken()) return nullptr;
    const auto id = ++nextId_;
    auto& watch = watches_[id];
    watch.pid = pid;
    watch.callback = std::move(callback);
    adoptWindows(watch);
    pump_->drainSoon();
    return std::make_unique<Observation>(*this, id, alive_);
}

void X11WindowEvents::end(std::uint64_t id) {
    auto it = watches_.find(id);
    if (it == watches_.end()) return;
    std::set<std::uint32_t> released;
    for (const auto& [window, iconic] : it->second.windows) released.insert(window);
    watches_.erase(it);
    // Stop listening to windows no other watch needs.
    for (const auto& [otherId, other] : watches_)
        for (const auto& [window, iconic] : other.windows) released.erase(window);
    const std::uint32_t none = 0;
    for (auto window : released)
        xcb_change_window_attributes(connection_->get(), window, XCB_CW_EVENT_MASK, &none);
    xcb_flush(connection_->get());
}

bool X11WindowEvents::isIconic(std::uint32_t window) {
    auto* c = connection_->get();
    const auto wmState = connection_->atom("WM_STATE");
    auto reply =
        x11::own(xcb_get_property_reply(c, x11::askProperty(c, window, wmState, wmState, 2), nullptr));
    const auto v = x11::values32(reply.get());
    return !v.empty() && v[0] == kIconicState;
}

void X11WindowEvents::adoptWindows(Watch& watch) {
    auto* c = connection_->get();
    const auto windows = x11::rootWindowList(*connection_, "_NET_CLIENT_LIST");
    const auto pids = x11::processesOfWindows(*connection_, windows);
    for (std::size_t i = 0; i < windows.size(); ++i) {
        if (pids[i] != watch.pid || watch.windows.count(windows[i])) continue;
        // Listen first, then read the state, so no change falls between the two.
        xcb_change_window_attributes(c, windows[i], XCB_CW_EVENT_MASK, &kWatchMask);
        watch.windows[windows[i]] = isIconic(windows[i]);
    }
    xcb_flush(c);
}

void X11WindowEvents::handle(const xcb_generic_event_t& e) {
    const auto type = e.response_type & 0x7f;
    // Callbacks may end watches (and so change `watches_`): collect first, then call each watch that is
    // still there.
    std::vector<std::pair<std::uint64_t, WindowEventKind>> calls;
    if (type == XCB_PROPERTY_NOTIFY) {
        const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(e);
        if (p.window == connection_->root()) {
            if (p.atom == connection_->atom("_NET_CLIENT_LIST"))
                for (auto& [id, watch] : watches_) adoptWindows(watch);
            return;
        }
        if (p.atom != connection_->atom("WM_STATE")) return;
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
        for (auto& [id, watch] : watches_)
            if (watch.windows.erase(d.window)) calls.emplace_back(id, WindowEventKind::destroyed);
    }
    for (const auto& [id, kind] : calls) {
        auto it = watches_.find(id);
        if (it == watches_.end()) continue;
        auto callback = it->second.callback;
        callback(kind);
    }
}

}  // namespace velaro
