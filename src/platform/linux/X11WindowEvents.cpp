// Window events of one process from the X server.
#include "platform/linux/X11WindowEvents.h"

#include "platform/linux/X11Session.h"

namespace velaro {

namespace {
constexpr std::uint32_t kIconicState = 3;  // ICCCM WM_STATE value
constexpr std::uint32_t kWatchMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;

bool iconicIn(const xcb_get_property_reply_t* wmState) {
    const auto v = x11::values32(wmState);
    return !v.empty() && v[0] == kIconicState;
}
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
    session_.desktop().intern({"WM_STATE"});
    // The list is read off the main loop, however often any client rewrites it.
    clientChanges_ = session_.clients().changed().sink([this](int) {
        if (!watches_.empty()) adoptWindows(allWatches());
    });
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
    adoptWindows({&watch});
    return std::make_unique<Observation>(*this, id, lifetime_.token());
}

std::vector<X11WindowEvents::Watch*> X11WindowEvents::allWatches() {
    std::vector<Watch*> all;
    for (auto& [id, watch] : watches_) all.push_back(&watch);
    return all;
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
    return iconicIn(reply.get());
}

void X11WindowEvents::adoptWindows(const std::vector<Watch*>& watches) {
    auto& connection = session_.desktop();
    auto* c = connection.get();
    // Windows the reading has not come to yet are adopted after a later one.
    const auto reading = session_.clients().reading();
    const auto& windows = reading->windows;
    // Listen first, then read the state, so no change falls between the two; every new window's state is
    // asked at once.
    const auto wmState = connection.atom("WM_STATE");
    std::vector<std::pair<std::uint32_t, xcb_get_property_cookie_t>> asks;
    for (Watch* watch : watches) {
        asks.clear();
        for (auto w : windows) {
            const auto* facts = reading->find(w);
            if (!facts || facts->pid != watch->pid || watch->windows.count(w)) continue;
            watch->selections[w] = session_.selectEvents(w, kWatchMask);
            watch->windows[w] = false;
            asks.emplace_back(w, x11::askProperty(c, w, wmState, wmState, 2));
        }
        for (const auto& [w, ask] : asks) {
            auto reply = x11::own(xcb_get_property_reply(c, ask, nullptr));
            watch->windows[w] = iconicIn(reply.get());
        }
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
