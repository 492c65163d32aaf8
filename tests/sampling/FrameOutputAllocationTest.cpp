// Steady-state frame analysis allocates nothing: every buffer is sized once per stream geometry, and the
// images handed out are reused once their receivers let go.
#include <gtest/gtest.h>

#include <cstddef>

#include "FrameOutputTestFrames.h"

// The sanitizer runtime calls these hooks on every allocation (malloc, operator new, Qt's buffers), so the
// count is complete without replacing the allocator of the whole test program.
#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));
#define VELARO_CAN_COUNT_ALLOCATIONS 1
#endif

namespace {
thread_local bool countingAllocations = false;
thread_local long allocationCount = 0;

#if defined(VELARO_CAN_COUNT_ALLOCATIONS)
void countAllocation(const volatile void*, std::size_t) {
    if (countingAllocations) ++allocationCount;
}
void ignoreFree(const volatile void*) {}
const bool hooksInstalled = __sanitizer_install_malloc_and_free_hooks(countAllocation, ignoreFree) != 0;
#endif
}  // namespace

namespace velaro::test {
namespace {

TEST(FrameOutputAllocation, SteadyStateFramesAllocateNothing) {
#if !defined(VELARO_CAN_COUNT_ALLOCATIONS)
    GTEST_SKIP() << "allocations are counted in sanitizer builds (and by the frame analysis benchmark)";
#else
    ASSERT_TRUE(hooksInstalled);
#endif
    VirtualLoop loop;
    FakePointerSource pointer{900};
    FrameOutput::Dependencies deps;
    deps.loop = &loop;
    deps.pointer = &pointer;
    deps.isForeignMenuOpen = [] { return false; };
    FrameOutput output(std::move(deps));

    int updates = 0, lines = 0, backdrops = 0, beams = 0;
    output.onUpdate = [&](const Color&, const std::vector<Color>&) { ++updates; };
    output.onLine = [&](const LiveLine&, int) { ++lines; };
    output.onBackdrop = [&](const BackdropImage&) { ++backdrops; };
    output.onCornerBackdrops = [](const std::optional<BackdropImage>&, const std::optional<BackdropImage>&) {
    };
    output.onEdgeColors = [](const Color&, const Color&) {};
    output.onBeam = [&](const Color& c, double) { beams += c.alpha > 0; };

    // Everything on: live line, smoothing, hover guard zones, beam, blurred bar and corners.
    auto config = beamLine({}, 800);
    config.edgeInsetPixels = 80;
    config.lineRowY = 100;
    config.smoothingAlpha = 0.3;
    UnifiedBlur blur;
    blur.overlayHeightPixels = 74;
    blur.leftRadiusPixels = 20;
    blur.rightRadiusPixels = 20;
    config.unifiedBlur = blur;
    output.setLineConfig(config);
    output.applySettings({12.0, true, true, false, false});
    output.setGuardZones({Rect(0, 0, 800, 24)});
    pointer.moveToTopLeft({400, 50});
    output.setCachedPointer({400, 50});

    const auto a = makeFrame(1600, 120, [](int x, int y) -> Rgb {
        return {static_cast<std::uint8_t>(x), 30, static_cast<std::uint8_t>(y)};
    });
    const auto b = makeFrame(1600, 120, [](int x, int y) -> Rgb {
        return {static_cast<std::uint8_t>(y), 90, static_cast<std::uint8_t>(x)};
    });
    const auto c = solidFrame(1600, 120, {200, 10, 10});
    // Three frames in turn, so that the even frames that blur differ from one another as well.
    const CaptureFrame* frames[] = {&a, &b, &c};
    for (int i = 0; i < 9; ++i) output.receive(*frames[i % 3]);

    const int before[] = {updates, lines, backdrops, beams};
    countingAllocations = true;
    for (int i = 0; i < 40; ++i) output.receive(*frames[i % 3]);
    countingAllocations = false;

    EXPECT_EQ(allocationCount, 0);
    // …while every result kept flowing.
    EXPECT_EQ(updates - before[0], 40);
    EXPECT_EQ(lines - before[1], 40);
    EXPECT_EQ(backdrops - before[2], 20);
    EXPECT_EQ(beams - before[3], 40);
}

}  // namespace
}  // namespace velaro::test
