// Values animated on the virtual loop: curves, completions, take-overs and the end of the ticking.
#include <gtest/gtest.h>

#include "base/AnimatedValue.h"
#include "support/VirtualLoop.h"

namespace velaro::test {
namespace {

TEST(AnimatedValueTest, ChangesAtOnceWithoutAnAnimation) {
    VirtualLoop loop;
    AnimatedValue<double> value(loop, 0.0);
    int changes = 0, completions = 0;
    value.setOnChange([&] { ++changes; });
    value.set(5.0, std::nullopt, [&] { ++completions; });
    EXPECT_EQ(value.value(), 5.0);
    EXPECT_FALSE(value.isAnimating());
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(changes, 1);
    value.set(6.0, OverlayAnimation{0, TimingCurve::linear});  // a zero duration is no animation
    EXPECT_EQ(value.value(), 6.0);
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST(AnimatedValueTest, FollowsTheCurveAndCompletesOnceAtTheEnd) {
    VirtualLoop loop;
    AnimatedValue<double> linear(loop, 0.0), eased(loop, 0.0);
    int completions = 0;
    linear.set(1.0, OverlayAnimation{1.0, TimingCurve::linear}, [&] { ++completions; });
    eased.set(1.0, OverlayAnimation{1.0, TimingCurve::easeInEaseOut});
    EXPECT_EQ(linear.value(), 0.0);
    loop.advance(0.25);
    EXPECT_NEAR(linear.value(), 0.25, 1e-9);
    EXPECT_LT(eased.value(), 0.2) << "ease-in starts slowly";
    loop.advance(0.25);
    EXPECT_NEAR(eased.value(), 0.5, 1e-6);
    EXPECT_EQ(completions, 0);
    loop.advance(0.6);
    EXPECT_EQ(linear.value(), 1.0);
    EXPECT_FALSE(linear.isAnimating());
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(loop.pendingTimers(), 0u) << "nothing ticks once every animation ended";
    loop.advance(1.0);
    EXPECT_EQ(completions, 1);
}

TEST(AnimatedValueTest, ALaterChangeTakesOverFromWhereTheValueIs) {
    VirtualLoop loop;
    AnimatedValue<Color> colour(loop, Color::black());
    int first = 0, second = 0;
    colour.set(Color::white(), OverlayAnimation{1.0, TimingCurve::linear}, [&] { ++first; });
    loop.advance(0.5);
    const double grey = colour.value().red;
    EXPECT_NEAR(grey, 0.5, 0.02);

    colour.set(Color::rgb(0, 0, 0), OverlayAnimation{1.0, TimingCurve::linear}, [&] { ++second; });
    EXPECT_EQ(first, 1) << "the replaced change completes when it is taken over";
    EXPECT_NEAR(colour.value().red, grey, 1e-9) << "no jump";
    loop.advance(0.5);
    EXPECT_NEAR(colour.value().red, grey / 2, 0.02);
    loop.advance(0.6);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(colour.value(), Color::black());

    // The same target again changes nothing and completes at once.
    int same = 0;
    colour.set(Color::black(), OverlayAnimation{1.0, TimingCurve::linear}, [&] { ++same; });
    EXPECT_EQ(same, 1);
    EXPECT_FALSE(colour.isAnimating());
}

TEST(AnimatedValueTest, OpacityAndListsBlend) {
    EXPECT_EQ(interpolateValue(Color::clear(), Color::white(), 0.5), Color::rgb(0.5, 0.5, 0.5, 0.5));
    const std::vector<Color> two{Color::black(), Color::white()};
    const std::vector<Color> three{Color::white(), Color::white(), Color::white()};
    EXPECT_EQ(interpolateValue(two, std::vector<Color>{Color::white(), Color::black()}, 0.5)[0].red, 0.5);
    EXPECT_EQ(interpolateValue(two, three, 0.1), three) << "different lengths change at once";
}

TEST(AnimatedValueTest, GoingAwayMidAnimationStopsTheTicking) {
    VirtualLoop loop;
    bool completed = false;
    {
        AnimatedValue<double> value(loop, 0.0);
        value.set(1.0, OverlayAnimation{1.0, TimingCurve::linear}, [&] { completed = true; });
        loop.advance(0.2);
    }
    EXPECT_EQ(loop.pendingTimers(), 0u);
    loop.advance(2.0);
    EXPECT_FALSE(completed);
}

}  // namespace
}  // namespace velaro::test
