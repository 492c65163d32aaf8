// The window list with 10, 100 and 300 client windows open, against the bare round trips of the same listing
// (the client list, then one geometry request per window, pipelined): a snapshot while nothing changed, and
// one right after a window moved (the list reads the server again). Needs a display (the test desktop is
// started when there is none).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "BenchDesktop.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/X11WindowList.h"
#include "platform/linux/XcbUtil.h"
#include "platform/linux/XdgAppCatalog.h"

namespace {

using namespace velaro;

struct Desktop {
    std::unique_ptr<bench::ClientWindows> clients;
    XdgAppCatalog catalog{{"/nonexistent"}};
    std::unique_ptr<X11Session> session;
    std::unique_ptr<X11WindowList> list;
};

// The desktop with `count` client windows, or null (the state says why).
std::unique_ptr<Desktop> desktopWith(benchmark::State& state, int count) {
    std::string why;
    if (!bench::ensureDesktop(&why)) {
        state.SkipWithError(why.c_str());
        return nullptr;
    }
    auto d = std::make_unique<Desktop>();
    d->clients = std::make_unique<bench::ClientWindows>(count);
    d->session = X11Session::open({}, [] { return 1.0; }, d->catalog);
    if (!d->session || !d->clients->managed()) {
        state.SkipWithError("the test windows were not managed");
        return nullptr;
    }
    d->list = std::make_unique<X11WindowList>(*d->session);
    // The window manager maps its frames in its own time: measure once every window is on screen.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (d->list->snapshot().size() < static_cast<std::size_t>(count)) {
        if (std::chrono::steady_clock::now() > deadline) {
            state.SkipWithError("the test windows never all showed");
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return d;
}

// Nothing changed since the last snapshot: no request at all.
void BM_WindowListSnapshot(benchmark::State& state) {
    auto d = desktopWith(state, static_cast<int>(state.range(0)));
    if (!d) return;
    std::size_t seen = d->list->snapshot().size();
    for (auto _ : state) {
        auto snapshot = d->list->snapshot();
        seen = snapshot.size();
        benchmark::DoNotOptimize(snapshot);
    }
    state.counters["windows"] = static_cast<double>(seen);
    state.counters["goal_ratio"] = 1;
}
BENCHMARK(BM_WindowListSnapshot)->Arg(10)->Arg(100)->Arg(300)->Unit(benchmark::kMicrosecond);

// One window moved just before: the stacking and geometry are read again, what is known of every window
// that did not change is kept. The move and the wait for its notice are outside the timing.
void BM_WindowListAfterMove(benchmark::State& state) {
    auto d = desktopWith(state, static_cast<int>(state.range(0)));
    if (!d) return;
    auto mover = x11::Connection::open();
    std::int64_t moved = 0;
    for (const auto& w : d->list->snapshot())
        if (w.ownerName == "Bench") moved = w.number.value_or(0);
    int step = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const auto before = d->list->generation();
        const std::uint32_t x[] = {std::uint32_t(100 + (++step % 50))};
        xcb_configure_window(mover->get(), static_cast<xcb_window_t>(moved), XCB_CONFIG_WINDOW_X, x);
        xcb_flush(mover->get());
        while (d->list->generation() == before) std::this_thread::sleep_for(std::chrono::microseconds(50));
        state.ResumeTiming();
        benchmark::DoNotOptimize(d->list->snapshot());
    }
    state.counters["goal_ratio"] = 3;
}
BENCHMARK(BM_WindowListAfterMove)->Arg(10)->Arg(100)->Arg(300)->Unit(benchmark::kMicrosecond);

// The bare listing: the stacking list and every window's geometry, one pipelined round trip after the other.
void listingBaseline(benchmark::State& state) {
    auto d = desktopWith(state, static_cast<int>(state.range(0)));
    if (!d) return;
    auto x = x11::Connection::open();
    auto* c = x->get();
    const auto stacking = x->atom("_NET_CLIENT_LIST_STACKING");
    for (auto _ : state) {
        auto reply = x11::own(xcb_get_property_reply(
            c, x11::askProperty(c, x->root(), stacking, XCB_ATOM_WINDOW, 8192), nullptr));
        const auto windows = x11::values32(reply.get());
        std::vector<xcb_get_geometry_cookie_t> asks;
        asks.reserve(windows.size());
        for (auto w : windows) asks.push_back(xcb_get_geometry(c, w));
        for (auto& ask : asks) benchmark::DoNotOptimize(x11::own(xcb_get_geometry_reply(c, ask, nullptr)));
    }
}
void BM_WindowListSnapshot_Baseline(benchmark::State& state) {
    listingBaseline(state);
}
void BM_WindowListAfterMove_Baseline(benchmark::State& state) {
    listingBaseline(state);
}
BENCHMARK(BM_WindowListSnapshot_Baseline)->Arg(10)->Arg(100)->Arg(300)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WindowListAfterMove_Baseline)->Arg(10)->Arg(100)->Arg(300)->Unit(benchmark::kMicrosecond);

}  // namespace
