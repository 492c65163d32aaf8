// Cost of one full window-list snapshot with 30 client windows on the desktop, against the bare round trips
// of the same listing (the client list, then one geometry request per window, pipelined). Needs a display;
// without one both skip.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/linux/X11Session.h"
#include "platform/linux/X11WindowList.h"
#include "platform/linux/XcbUtil.h"
#include "platform/linux/XdgAppCatalog.h"

namespace {

using namespace velaro;

constexpr int kClientWindows = 30;

bool haveDisplay(benchmark::State& state) {
    const char* display = std::getenv("DISPLAY");
    if (display && *display) return true;
    state.SkipWithError("DISPLAY is not set; run inside scripts/desktop-session");
    return false;
}

// Thirty ordinary top-level windows, managed by the window manager while this object lives.
class ClientWindows {
public:
    ClientWindows() : x_(x11::Connection::open()) {
        if (!x_) return;
        auto* c = x_->get();
        const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
        const char wmClass[] = "bench\0Bench";
        for (int i = 0; i < kClientWindows; ++i) {
            const xcb_window_t w = xcb_generate_id(c);
            xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 40 + 20 * i, 60 + 10 * i, 300, 200, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, x_->atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32,
                                1, &pid);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                                sizeof wmClass, wmClass);
            xcb_map_window(c, w);
            windows_.push_back(w);
        }
        xcb_flush(c);
    }
    ~ClientWindows() {
        if (!x_) return;
        for (auto w : windows_) xcb_destroy_window(x_->get(), w);
        xcb_flush(x_->get());
    }
    // Waits (up to 5 s) until the window manager lists every window.
    bool managed() {
        if (!x_) return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            auto* c = x_->get();
            auto reply = x11::own(xcb_get_property_reply(
                c, x11::askProperty(c, x_->root(), x_->atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 8192),
                nullptr));
            const auto listed = x11::values32(reply.get());
            int ours = 0;
            for (auto w : windows_) ours += std::count(listed.begin(), listed.end(), w) > 0;
            if (ours == kClientWindows) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

private:
    std::unique_ptr<x11::Connection> x_;
    std::vector<xcb_window_t> windows_;
};

void BM_WindowListSnapshot30(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    ClientWindows clients;
    XdgAppCatalog catalog;
    auto session = X11Session::open({}, X11Session::qtPixelRatio(), catalog);
    auto list = session ? std::make_unique<X11WindowList>(*session) : nullptr;
    if (!list || !clients.managed()) {
        state.SkipWithError("the test windows were not managed");
        return;
    }
    std::size_t seen = 0;
    for (auto _ : state) {
        auto snapshot = list->snapshot();
        seen = snapshot.size();
        benchmark::DoNotOptimize(snapshot);
    }
    state.counters["windows"] = static_cast<double>(seen);
}
BENCHMARK(BM_WindowListSnapshot30)->Unit(benchmark::kMicrosecond);

void BM_WindowListSnapshot30_Baseline(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    ClientWindows clients;
    auto x = x11::Connection::open();
    if (!x || !clients.managed()) {
        state.SkipWithError("the test windows were not managed");
        return;
    }
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
BENCHMARK(BM_WindowListSnapshot30_Baseline)->Unit(benchmark::kMicrosecond);

}  // namespace
