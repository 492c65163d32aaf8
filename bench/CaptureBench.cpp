// Cost of grabbing one 1920 × 12 strip the way a capture stream does (SHM grab, content filter, frame),
// against a bare xcb_shm_get_image of the same pixels. Needs a display; without one both skip.
#include <benchmark/benchmark.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>
#include <unistd.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

#include "platform/linux/X11CaptureSession.h"
#include "support/CaptureReader.h"

namespace {

using namespace velaro;
using namespace velaro::x11capture;

constexpr double kFrameInterval = 1.0 / 60;

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

bool haveDisplay(benchmark::State& state) {
    const char* display = std::getenv("DISPLAY");
    if (display && *display) return true;
    state.SkipWithError("DISPLAY is not set; run inside scripts/desktop-session");
    return false;
}

// The strip just below a 28 px panel across the primary monitor, clipped to it.
PixelRect strip(Session& session) {
    const auto monitors = session.monitors();
    const PixelRect primary = monitors.empty() ? PixelRect{0, 0, 1920, 1080} : monitors.front().root;
    return PixelRect{primary.x, primary.y + 28, 1920, 12}.intersection(primary);
}

// One of our own windows over the strip, as an overlay corner or a blur capture of the bar has, made on a
// connection of its own and closed with it.
class OwnWindowOver {
public:
    explicit OwnWindowOver(const PixelRect& r) : c_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(c_)) return;
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        const xcb_window_t w = xcb_generate_id(c_);
        const std::uint32_t values[] = {0x22aa44, 1};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, screen->root, static_cast<std::int16_t>(r.x),
                          static_cast<std::int16_t>(r.y), static_cast<std::uint16_t>(r.width),
                          static_cast<std::uint16_t>(r.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        const char name[] = "_NET_WM_PID";
        auto* atom = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, sizeof name - 1, name), nullptr);
        const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
        if (atom)
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom->atom, XCB_ATOM_CARDINAL, 32, 1, &pid);
        std::free(atom);
        xcb_map_window(c_, w);
        std::free(
            xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));  // mapped once this returns
    }
    ~OwnWindowOver() { xcb_disconnect(c_); }

private:
    xcb_connection_t* c_;
};

// The strip grab as a stream does it: `covered` puts one of our windows over its left quarter.
void grabStrip(benchmark::State& state, bool covered) {
    if (!haveDisplay(state)) return;
    auto session = velaro::bench::openCaptureReader();
    if (!session) {
        state.SkipWithError("cannot connect to the display");
        return;
    }
    const PixelRect area = strip(*session);
    std::unique_ptr<OwnWindowOver> own;
    if (covered) own = std::make_unique<OwnWindowOver>(PixelRect{area.x, area.y - 8, area.width / 4, 14});
    // As the sampler asks: our own windows left out.
    const ContentFilter filter = ContentFilter::displayExcludingApplications(
        {}, {CaptureApplication{static_cast<std::int64_t>(getpid()), "com.quornet.Velaro", "velaro"}});
    session->pollEvents();
    const double cpuStart = threadCpuSeconds();
    for (auto _ : state) {
        session->pollEvents();
        auto image = session->grabFiltered(area, filter);
        if (!image) {
            state.SkipWithError("the grab failed");
            return;
        }
        CaptureFrame frame = toFrame(scaled(std::move(*image), area.width, area.height), 0);
        benchmark::DoNotOptimize(frame.pixels->data());
    }
    const double cpuPerFrame = (threadCpuSeconds() - cpuStart) / static_cast<double>(state.iterations());
    state.counters["cpu_share_of_60fps_frame_pct"] = cpuPerFrame / kFrameInterval * 100;
    state.counters["shm"] = session->usesShm() ? 1 : 0;
    state.counters["compositor"] = session->compositorRunning() ? 1 : 0;
    state.SetBytesProcessed(state.iterations() * area.width * area.height * 4);
}

void BM_GrabStrip1920x12(benchmark::State& state) {
    grabStrip(state, false);
}
BENCHMARK(BM_GrabStrip1920x12)->Unit(benchmark::kMicrosecond);

void BM_GrabStripUnderOwnWindow1920x12(benchmark::State& state) {
    grabStrip(state, true);
}
BENCHMARK(BM_GrabStripUnderOwnWindow1920x12)->Unit(benchmark::kMicrosecond);

void BM_GrabStrip1920x12_Baseline(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    auto session = velaro::bench::openCaptureReader();
    if (!session || !session->usesShm()) {
        state.SkipWithError("no display with MIT-SHM");
        return;
    }
    const PixelRect area = strip(*session);
    xcb_connection_t* c = session->connection();
    const std::size_t bytes = static_cast<std::size_t>(area.width) * area.height * 4;
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    void* addr = shmat(id, nullptr, 0);
    const std::uint32_t seg = xcb_generate_id(c);
    std::free(xcb_request_check(c, xcb_shm_attach_checked(c, seg, id, 0)));
    shmctl(id, IPC_RMID, nullptr);
    const double cpuStart = threadCpuSeconds();
    for (auto _ : state) {
        auto* reply = xcb_shm_get_image_reply(
            c,
            xcb_shm_get_image(c, session->root(), static_cast<std::int16_t>(area.x),
                              static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                              static_cast<std::uint16_t>(area.height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, seg,
                              0),
            nullptr);
        benchmark::DoNotOptimize(reply);
        std::free(reply);
    }
    const double cpuPerFrame = (threadCpuSeconds() - cpuStart) / static_cast<double>(state.iterations());
    state.counters["cpu_share_of_60fps_frame_pct"] = cpuPerFrame / kFrameInterval * 100;
    xcb_shm_detach(c, seg);
    xcb_flush(c);
    shmdt(addr);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_GrabStrip1920x12_Baseline)->Unit(benchmark::kMicrosecond);
// The same bare grab, as the limit of the covered strip.
BENCHMARK(BM_GrabStrip1920x12_Baseline)
    ->Name("BM_GrabStripUnderOwnWindow1920x12_Baseline")
    ->Unit(benchmark::kMicrosecond);

}  // namespace
