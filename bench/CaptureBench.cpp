// Cost of grabbing one 1920 × 12 strip the way a capture stream does (SHM grab, content filter, frame),
// against a bare xcb_shm_get_image of the same pixels. Needs a display; without one both skip.
#include <benchmark/benchmark.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>
#include <unistd.h>
#include <xcb/shm.h>

#include <cstdlib>
#include <memory>

#include "platform/linux/X11CaptureSession.h"

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

void BM_GrabStrip1920x12(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    auto session = Session::open({}, nullptr);
    if (!session) {
        state.SkipWithError("cannot connect to the display");
        return;
    }
    const PixelRect area = strip(*session);
    // As the sampler asks: our own windows left out.
    const ContentFilter filter = ContentFilter::displayExcludingApplications(
        {}, {CaptureApplication{static_cast<std::int64_t>(getpid()), "com.quornet.Velaro", "velaro"}});
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
    state.SetBytesProcessed(state.iterations() * area.width * area.height * 4);
}
BENCHMARK(BM_GrabStrip1920x12)->Unit(benchmark::kMicrosecond);

void BM_GrabStrip1920x12_Baseline(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    auto session = Session::open({}, nullptr);
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

}  // namespace
