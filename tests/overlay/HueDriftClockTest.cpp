// The drift clock: its pace and clamps on the virtual loop, the palette, the uniform and scrolling colours
// and the stops of the scrolling pattern, against worked values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "overlay/HueDriftClock.h"
#include "overlay/OverlayTestSupport.h"

namespace velaro::test {
namespace {

class HueDriftClockTest : public OverlayViewTest {
protected:
    void setDrift(auto change) {
        auto drift = settings.hueDrift();
        change(drift);
        settings.hueDrift = drift;
    }
    static Color hex(const char* text) { return *colorFromHex(text); }
};

void expectColorNear(const Color& actual, const Color& expected, double tolerance = 1e-9) {
    EXPECT_NEAR(actual.red, expected.red, tolerance) << actual << " vs " << expected;
    EXPECT_NEAR(actual.green, expected.green, tolerance) << actual << " vs " << expected;
    EXPECT_NEAR(actual.blue, expected.blue, tolerance) << actual << " vs " << expected;
}

TEST_F(HueDriftClockTest, AdvancesOneStepPerPeriodOnlyWhileRunning) {
    setDrift([](auto& d) { d.periodSeconds = 2.0; });
    clock.setRunning(true);
    loop.advance(1.05);  // ten ticks
    EXPECT_NEAR(clock.phase().value(), 0.5, 1e-9);

    // Stopped, the phase holds; started again a minute later it resumes without a jump.
    clock.setRunning(false);
    EXPECT_EQ(loop.pendingTimers(), 0u) << "a stopped clock keeps no timer";
    loop.advance(60);
    EXPECT_NEAR(clock.phase().value(), 0.5, 1e-9);
    clock.setRunning(true);
    clock.setRunning(true);  // a running clock is not restarted
    loop.advance(0.45);
    EXPECT_NEAR(clock.phase().value(), 0.7, 1e-9);
}

TEST_F(HueDriftClockTest, ShortOrCorruptPeriodsAndStallsAreClamped) {
    // Periods of 0.5 s or less drift at the 0.5 s pace.
    setDrift([](auto& d) { d.periodSeconds = 0.2; });
    clock.setRunning(true);
    loop.advance(0.55);
    EXPECT_NEAR(clock.phase().value(), 1.0, 1e-9);

    // A stall of 3 s counts as half a second.
    clock.setRunning(false);
    loop.advance(3.0);
    clock.tick();
    EXPECT_NEAR(clock.phase().value(), 2.0, 1e-9);

    // A period from a corrupt store never makes the phase or a colour undefined.
    for (double period :
         {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity(), 0.0, -5.0}) {
        setDrift([&](auto& d) { d.periodSeconds = period; });
        const double before = clock.phase().value();
        loop.advance(0.1);
        clock.tick();
        ASSERT_TRUE(std::isfinite(clock.phase().value())) << "period " << period;
        EXPECT_NEAR(clock.phase().value() - before, 0.2, 1e-9) << "period " << period;
    }
    setDrift([](auto& d) { d.periodSeconds = std::numeric_limits<double>::infinity(); });
    loop.advance(0.1);
    clock.tick();
    EXPECT_TRUE(std::isfinite(clock.phase().value()));
}

TEST_F(HueDriftClockTest, PaletteFallsBackToTheRainbow) {
    EXPECT_EQ(clock.colors(), HueDriftClock::rainbow());
    ASSERT_EQ(HueDriftClock::rainbow().size(), 8u);
    EXPECT_EQ(hexString(HueDriftClock::rainbow()[1]), "#FFC619");

    setDrift([](auto& d) {
        d.source = OverlayHueDrift::Source::palette;
        d.paletteStops = {"#102030", "#405060", "nonsense"};
    });
    EXPECT_EQ(clock.colors(), (std::vector<Color>{hex("#102030"), hex("#405060")}));

    // One colour that parses (or none) drifts through the rainbow.
    setDrift([](auto& d) { d.paletteStops = {"#102030", "#zzzzzz"}; });
    EXPECT_EQ(clock.colors(), HueDriftClock::rainbow());
    setDrift([](auto& d) { d.paletteStops = {"bad", "worse", "x"}; });
    EXPECT_EQ(clock.colors(), HueDriftClock::rainbow());
}

TEST_F(HueDriftClockTest, UniformColourBlendsNeighboursAndWraps) {
    const auto& c = HueDriftClock::rainbow();
    expectColorNear(clock.color(0), c[0]);
    expectColorNear(clock.color(2.5), interpolated(c[2], c[3], 0.5));
    expectColorNear(clock.color(8.25), interpolated(c[0], c[1], 0.25));
    // Behind the start: 75 % of the way from the last colour to the first.
    expectColorNear(clock.color(-0.25), interpolated(c[7], c[0], 0.75));
    // The largest value below a whole cycle must not index past the palette: it is all but the first.
    expectColorNear(clock.color(std::nextafter(8.0, 0.0)), c[0], 1e-6);
    expectColorNear(clock.color(std::numeric_limits<double>::quiet_NaN()), c[0]);
    expectColorNear(clock.color(std::numeric_limits<double>::infinity()), c[0]);
    expectColorNear(clock.color(-1e-300), c[0], 1e-6);
}

TEST_F(HueDriftClockTest, StopsOfOneCycleWithAndWithoutBlend) {
    const std::vector<Color> four{hex("#FF0000"), hex("#00FF00"), hex("#0000FF"), hex("#FFFFFF")};
    const auto stops = HueDriftClock::gradientStops(four, true, 0.5);
    ASSERT_EQ(stops.size(), 10u);
    const double expected[] = {0, 0.0625, 0.1875, 0.3125, 0.4375, 0.5625, 0.6875, 0.8125, 0.9375, 1};
    for (std::size_t i = 0; i < stops.size(); ++i) EXPECT_NEAR(stops[i].location, expected[i], 1e-12) << i;
    const Color seam = interpolated(four[3], four[0], 0.5);
    EXPECT_EQ(stops.front().color, seam);
    EXPECT_EQ(stops.back().color, seam);
    EXPECT_EQ(stops[1].color, four[0]);
    EXPECT_EQ(stops[8].color, four[3]);

    // A width above 1 counts as 1; blend off ignores the width.
    EXPECT_NEAR(HueDriftClock::gradientStops(four, true, 7)[1].location, 0.125, 1e-12);
    const auto hard = HueDriftClock::gradientStops(four, false, 0.5);
    EXPECT_EQ(hard[2].location, 0.25);
    EXPECT_EQ(hard[3].location, 0.25);

    // At a border of hard bands the band that ends there wins; inside a blend, the colours mix.
    EXPECT_EQ(HueDriftClock::gradientColor(0.25, four, false, 0), four[0]);
    EXPECT_EQ(HueDriftClock::gradientColor(0.3, four, false, 0), four[1]);
    expectColorNear(HueDriftClock::gradientColor(0.25, four, true, 0.5), interpolated(four[0], four[1], 0.5));
    // Both ends show the seam, so the pattern repeats without a jump; positions wrap.
    expectColorNear(HueDriftClock::gradientColor(0, four, true, 0.5), seam);
    expectColorNear(HueDriftClock::gradientColor(1.3, four, true, 0.5),
                    HueDriftClock::gradientColor(0.3, four, true, 0.5));
    expectColorNear(HueDriftClock::gradientColor(-0.7, four, true, 0.5),
                    HueDriftClock::gradientColor(0.3, four, true, 0.5));
    EXPECT_EQ(HueDriftClock::gradientColor(0.5, {}, true, 1), Color::black());
    EXPECT_EQ(HueDriftClock::gradientColor(0.5, {four[2]}, true, 1), four[2]);
    EXPECT_EQ(HueDriftClock::gradientColor(std::numeric_limits<double>::quiet_NaN(), four, false, 0),
              four[0]);
}

TEST_F(HueDriftClockTest, ScrollColourMovesWithThePhaseInTheChosenDirection) {
    setDrift([](auto& d) {
        d.blend = false;
        d.periodSeconds = 1.0;
        d.direction = OverlayHueDrift::Direction::rightToLeft;
    });
    const auto& c = HueDriftClock::rainbow();
    EXPECT_EQ(clock.scrollColor(0.05), c[0]);
    // One colour step later the colour that was one band to the right has reached the left edge.
    clock.setRunning(true);
    loop.advance(1.05);
    EXPECT_EQ(clock.scrollColor(0.05), c[1]);

    setDrift([](auto& d) { d.direction = OverlayHueDrift::Direction::leftToRight; });
    EXPECT_EQ(clock.scrollColor(0.05), c[7]);
    EXPECT_EQ(clock.scrollColor(std::numeric_limits<double>::quiet_NaN()), clock.scrollColor(0));
}

}  // namespace
}  // namespace velaro::test
