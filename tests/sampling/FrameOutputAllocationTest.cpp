// Steady-state frame analysis allocates nothing: every buffer is sized once per stream geometry, and the
// images handed out are reused once their receivers let go.
#include <gtest/gtest.h>

#include "FrameOutputTestFrames.h"
#include "support/AllocationCounter.h"

namespace velaro::test {
namespace {

TEST(FrameOutputAllocation, SteadyStateFramesAllocateNothing) {
    if (!canCountAllocations())
        GTEST_SKIP() << "allocations are counted in sanitizer builds (and by the frame analysis benchmark)";
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
    long allocations = 0;
    {
        AllocationCounter counter;
        for (int i = 0; i < 40; ++i) output.receive(*frames[i % 3]);
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0);
    // …while every result kept flowing.
    EXPECT_EQ(updates - before[0], 40);
    EXPECT_EQ(lines - before[1], 40);
    EXPECT_EQ(backdrops - before[2], 20);
    EXPECT_EQ(beams - before[3], 40);
}

}  // namespace
}  // namespace velaro::test
