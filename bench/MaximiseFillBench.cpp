// Cost of finding the maximise button under a press, which the desktop's pointer waits for: the lookup on
// a framed window's title bar, against the dependent round trips it cannot avoid (the frame's geometry,
// the walk down through frame and title bar to the button, the button's siblings). Runs on the display of
// DISPLAY (with openbox), else on the private test desktop.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "BenchDesktop.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/X11WindowControl.h"
#include "platform/linux/XcbUtil.h"
#include "platform/linux/XdgAppCatalog.h"

namespace {

using namespace velaro;

// One framed top-level window while this object lives, and where its maximise button is.
class FramedWindow {
public:
    FramedWindow() : x_(x11::Connection::open()) {
        if (!x_) return;
        auto* c = x_->get();
        const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        window_ = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, screen->root, 200, 240, 300, 200, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        xcb_map_window(c, window_);
        xcb_flush(c);
    }
    ~FramedWindow() {
        if (!x_) return;
        xcb_destroy_window(x_->get(), window_);
        xcb_flush(x_->get());
    }
    std::uint32_t window() const { return window_; }

    // Waits (up to 5 s) for the frame, then finds a title-bar point the lookup takes for the maximise
    // button by scanning the title bar from the right.
    std::optional<Point> maximiseButton(X11WindowControl& control) {
        if (!x_) return std::nullopt;
        auto* c = x_->get();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            auto extents = x11::own(xcb_get_property_reply(
                c, x11::askProperty(c, window_, x_->atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 4),
                nullptr));
            auto t = x11::own(xcb_translate_coordinates_reply(
                c, xcb_translate_coordinates(c, window_, x_->root(), 0, 0), nullptr));
            auto g = x11::own(xcb_get_geometry_reply(c, xcb_get_geometry(c, window_), nullptr));
            const auto e = x11::values32(extents.get());
            if (e.size() == 4 && e[2] > 0 && t && g) {
                const double y = t->dst_y - e[2] / 2.0;
                for (double x = t->dst_x + g->width; x > t->dst_x; x -= 2)
                    if (control.maximiseButtonAt({x, y}, window_)) return Point{x, y};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return std::nullopt;
    }

private:
    std::unique_ptr<x11::Connection> x_;
    xcb_window_t window_ = 0;
};

bool haveDisplay(benchmark::State& state) {
    std::string why;
    if (bench::ensureDesktop(&why)) return true;
    state.SkipWithError(why.c_str());
    return false;
}

void BM_MaximiseButtonLookup(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    FramedWindow framed;
    XdgAppCatalog catalog;
    auto session = X11Session::open({}, X11Session::qtPixelRatio(), catalog);
    auto control = session ? std::make_unique<X11WindowControl>(*session) : nullptr;
    const auto point = control ? framed.maximiseButton(*control) : std::nullopt;
    if (!point) {
        state.SkipWithError("no maximise button found (is openbox running?)");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(control->maximiseButtonAt(*point, framed.window()));
}
BENCHMARK(BM_MaximiseButtonLookup)->Unit(benchmark::kMicrosecond);

void BM_MaximiseButtonLookup_Baseline(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    FramedWindow framed;
    XdgAppCatalog catalog;
    auto session = X11Session::open({}, X11Session::qtPixelRatio(), catalog);
    auto control = session ? std::make_unique<X11WindowControl>(*session) : nullptr;
    const auto point = control ? framed.maximiseButton(*control) : std::nullopt;
    auto x = x11::Connection::open();
    if (!point || !x) {
        state.SkipWithError("no maximise button found (is openbox running?)");
        return;
    }
    auto* c = x->get();
    const auto px = static_cast<std::int16_t>(point->x), py = static_cast<std::int16_t>(point->y);
    for (auto _ : state) {
        auto g = x11::own(xcb_get_geometry_reply(c, xcb_get_geometry(c, framed.window()), nullptr));
        xcb_window_t parent = x->root(), under = x->root();
        for (;;) {
            auto t = x11::own(xcb_translate_coordinates_reply(
                c, xcb_translate_coordinates(c, x->root(), under, px, py), nullptr));
            if (!t || t->child == XCB_WINDOW_NONE) break;
            parent = under;
            under = t->child;
        }
        auto tree = x11::own(xcb_query_tree_reply(c, xcb_query_tree(c, parent), nullptr));
        benchmark::DoNotOptimize(g);
        benchmark::DoNotOptimize(tree);
    }
}
BENCHMARK(BM_MaximiseButtonLookup_Baseline)->Unit(benchmark::kMicrosecond);

}  // namespace
