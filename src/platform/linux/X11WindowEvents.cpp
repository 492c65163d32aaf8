// Window events of one process from the X server.
#include "platform/linux/X11WindowEvents.h"

#include <algorithm>

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
    // States are read as soon as they are asked: one round trip for all those asked meanwhile.
    reads_ = std::make_unique<x11::ReadThread>(
        [this](const std::atomic<bool>& stop) {
            auto states = readStates(stop);
            if (!stop && !states.empty())
                toMain_.post(lifetime_.guard([this, states = std::move(states)] { take(states); }));
            return true;
        },
        std::chrono::milliseconds(0), std::chrono::milliseconds(0));
}

X11WindowEvents::~X11WindowEvents() {
    reads_.reset();
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

void X11WindowEvents::adoptWindows(const std::vector<Watch*>& watches) {
    // Windows the reading has not come to yet are adopted after a later one.
    const auto reading = session_.clients().reading();
    // Listen first, then read the state, so no change falls between the two.
    std::vector<StateAsk> asks;
    for (Watch* watch : watches) {
        for (auto w : reading->windows) {
            const auto* facts = reading->find(w);
            if (!facts || facts->pid != watch->pid || watch->windows.count(w)) continue;
            watch->selections[w] = session_.selectEvents(w, kWatchMask);
            watch->windows[w] = std::nullopt;
            asks.push_back({w, true, std::nullopt});
        }
    }
    askStates(std::move(asks));
}

void X11WindowEvents::askStates(std::vector<StateAsk> asks) {
    if (asks.empty()) return;
    {
        std::lock_guard lock(asksMutex_);
        asks_.insert(asks_.end(), asks.begin(), asks.end());
    }
    reads_->ask();
}

std::vector<X11WindowEvents::State> X11WindowEvents::readStates(const std::atomic<bool>& stop) {
    std::vector<StateAsk> asks;
    {
        std::lock_guard lock(asksMutex_);
        asks.swap(asks_);
    }
    auto& connection = session_.desktop();
    auto* c = connection.get();
    const auto wmState = connection.atom("WM_STATE");
    // Every state asked at once; the answers come in the order asked.
    std::vector<xcb_get_property_cookie_t> cookies;
    cookies.reserve(asks.size());
    for (const auto& ask : asks)
        cookies.push_back(ask.known ? xcb_get_property_cookie_t{0}
                                    : x11::askProperty(c, ask.window, wmState, wmState, 2));
    std::vector<State> states;
    states.reserve(asks.size());
    for (std::size_t i = 0; i < asks.size(); ++i) {
        bool iconic = asks[i].known.value_or(false);
        if (!asks[i].known) {
            auto reply = x11::awaitReply<xcb_get_property_reply_t>(c, cookies[i].sequence, stop);
            if (stop) return {};
            iconic = iconicIn(reply.get());
        }
        states.push_back({asks[i].window, asks[i].first, iconic});
    }
    return states;
}

void X11WindowEvents::take(const std::vector<State>& states) {
    // Callbacks may end watches (and so change `watches_`): collect first, then call each watch that is
    // still there.
    std::vector<std::pair<std::uint64_t, WindowEventKind>> calls;
    for (const auto& state : states) {
        for (auto& [id, watch] : watches_) {
            auto it = watch.windows.find(state.window);
            if (it == watch.windows.end()) continue;
            // A first state only starts a watch that has none yet; a later one means nothing to a watch still
            // waiting for its first.
            if (state.first != !it->second.has_value()) continue;
            if (!state.first)
                if (auto kind = windowStateChange(*it->second, state.iconic)) calls.emplace_back(id, *kind);
            it->second = state.iconic;
        }
    }
    call(calls);
}

void X11WindowEvents::handle(const xcb_generic_event_t& e) {
    const auto type = e.response_type & 0x7f;
    if (type == XCB_PROPERTY_NOTIFY) {
        const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(e);
        if (p.atom != session_.desktop().atom("WM_STATE")) return;
        const bool watched = std::any_of(watches_.begin(), watches_.end(), [&](const auto& entry) {
            return entry.second.windows.count(p.window);
        });
        if (!watched) return;
        askStates(
            {{p.window, false, p.state == XCB_PROPERTY_DELETE ? std::optional<bool>(false) : std::nullopt}});
    } else if (type == XCB_DESTROY_NOTIFY) {
        const auto& d = reinterpret_cast<const xcb_destroy_notify_event_t&>(e);
        std::vector<std::pair<std::uint64_t, WindowEventKind>> calls;
        for (auto& [id, watch] : watches_) {
            if (!watch.windows.erase(d.window)) continue;
            watch.selections.erase(d.window);
            calls.emplace_back(id, WindowEventKind::destroyed);
        }
        call(calls);
    }
}

void X11WindowEvents::call(const std::vector<std::pair<std::uint64_t, WindowEventKind>>& calls) {
    for (const auto& [id, kind] : calls) {
        auto it = watches_.find(id);
        if (it == watches_.end()) continue;
        auto callback = it->second.callback;
        callback(kind);
    }
}

}  // namespace velaro
