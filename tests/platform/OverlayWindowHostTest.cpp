// The host-independent behaviour of overlay windows: stacking by level, batches, repaints and animations.
#include <gtest/gtest.h>

#include <QPainter>
#include <cmath>
#include <limits>

#include "support/FakeOverlayWindowHost.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

using test::FakeOverlayWindow;
using test::FakeOverlayWindowHost;
using test::VirtualLoop;

class OverlayWindowHostTest : public ::testing::Test {
protected:
    std::unique_ptr<OverlayWindow> make(const std::string& name, int level = OverlayWindowLevel::normal,
                                        double alpha = 1.0, Rect frame = {0, 0, 100, 20}) {
        return host.makeWindow({name, frame, level, alpha, {}});
    }
    static FakeOverlayWindow& fake(const std::unique_ptr<OverlayWindow>& w) {
        return static_cast<FakeOverlayWindow&>(*w);
    }
    std::vector<std::string> stackNames() const {
        std::vector<std::string> names;
        for (auto* w : host.orderedWindows()) names.push_back(w->name());
        return names;
    }

    VirtualLoop loop;
    FakeOverlayWindowHost host{loop};
};

TEST(TimingCurveTest, EndsAreFixedAndCurvesLeanTheirWay) {
    for (auto curve :
         {TimingCurve::linear, TimingCurve::easeIn, TimingCurve::easeOut, TimingCurve::easeInEaseOut}) {
        EXPECT_DOUBLE_EQ(timingCurveProgress(curve, 0), 0);
        EXPECT_DOUBLE_EQ(timingCurveProgress(curve, 1), 1);
        EXPECT_DOUBLE_EQ(timingCurveProgress(curve, -3), 0);
        EXPECT_DOUBLE_EQ(timingCurveProgress(curve, 7), 1);
        EXPECT_DOUBLE_EQ(timingCurveProgress(curve, std::numeric_limits<double>::quiet_NaN()), 0);
        double previous = 0;
        for (int i = 1; i <= 100; ++i) {
            const double p = timingCurveProgress(curve, i / 100.0);
            EXPECT_GE(p, previous - 1e-12) << "curve " << int(curve) << " at " << i;
            previous = p;
        }
    }
    EXPECT_NEAR(timingCurveProgress(TimingCurve::linear, 0.3), 0.3, 1e-9);
    EXPECT_GT(timingCurveProgress(TimingCurve::easeOut, 0.25), 0.25 + 0.1);
    EXPECT_LT(timingCurveProgress(TimingCurve::easeIn, 0.25), 0.25 - 0.1);
    EXPECT_NEAR(timingCurveProgress(TimingCurve::easeInEaseOut, 0.5), 0.5, 1e-6);
}

TEST_F(OverlayWindowHostTest, WindowsStackByLevelThenByLastOrderedFront) {
    auto bar = make("bar", OverlayWindowLevel::belowPanel);
    auto screenTop = make("screenTop", OverlayWindowLevel::panel);
    auto below = make("below", OverlayWindowLevel::normal);
    auto wallpaper = make("wallpaper", OverlayWindowLevel::wallpaper);
    auto corner = make("corner", OverlayWindowLevel::belowPanel);
    EXPECT_TRUE(host.orderedWindows().empty()) << "windows start ordered out";

    for (auto* w : {wallpaper.get(), below.get(), corner.get(), screenTop.get(), bar.get()})
        w->orderFrontRegardless();
    EXPECT_EQ(stackNames(), (std::vector<std::string>{"screenTop", "bar", "corner", "below", "wallpaper"}));

    corner->orderFrontRegardless();
    EXPECT_EQ(stackNames(), (std::vector<std::string>{"screenTop", "corner", "bar", "below", "wallpaper"}));

    // Ordered below a window of the same level: right behind it.
    corner->orderBelow(bar->windowNumber());
    EXPECT_EQ(stackNames(), (std::vector<std::string>{"screenTop", "bar", "corner", "below", "wallpaper"}));

    // Below a window of another level the window keeps to its own level.
    screenTop->orderBelow(bar->windowNumber());
    EXPECT_EQ(stackNames().front(), "screenTop");

    // Raising the level of an ordered-in window moves it among the windows of its new level.
    below->setLevel(OverlayWindowLevel::banner);
    EXPECT_EQ(stackNames().front(), "below");
    EXPECT_EQ(host.log()[host.log().size() - 2], "level below " + std::to_string(OverlayWindowLevel::banner));

    bar->orderOut();
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(stackNames(), (std::vector<std::string>{"below", "screenTop", "corner", "wallpaper"}));
    EXPECT_EQ(host.lastStack(), stackNames()) << "every change outside a batch reaches the screen";
}

TEST_F(OverlayWindowHostTest, OrderingBelowAnotherAppsWindowOrdersInAndIsRememberedUntilFronted) {
    auto corner = make("corner");
    corner->orderBelow(424242);
    EXPECT_TRUE(corner->isVisible());
    ASSERT_TRUE(corner->orderedBelowForeign().has_value());
    EXPECT_EQ(*corner->orderedBelowForeign(), 424242);

    corner->orderFrontRegardless();
    EXPECT_FALSE(corner->orderedBelowForeign().has_value());

    corner->orderBelow(777);
    corner->orderOut();
    EXPECT_FALSE(corner->orderedBelowForeign().has_value());
    EXPECT_EQ(host.windowWithNumber(corner->windowNumber()), corner.get());
    EXPECT_EQ(host.windowWithNumber(0), nullptr);
}

TEST_F(OverlayWindowHostTest, DestroyingAnOrderedWindowTakesItOffTheStack) {
    auto a = make("a");
    auto b = make("b");
    a->orderFrontRegardless();
    b->orderFrontRegardless();
    b.reset();
    EXPECT_EQ(host.lastStack(), std::vector<std::string>{"a"});
    EXPECT_EQ(host.allWindows().size(), 1u);
}

TEST_F(OverlayWindowHostTest, ABatchReachesTheScreenOnceWhenTheOutermostBatchCommits) {
    auto a = make("a");
    auto b = make("b");
    host.clearLog();
    const int before = host.stackUpdates();
    {
        auto outer = host.batch();
        a->orderFrontRegardless();
        host.beginBatch();
        b->orderFrontRegardless();
        a->setNeedsDisplay();
        host.commitBatch();  // inner: nothing reaches the screen yet
        EXPECT_EQ(host.stackUpdates(), before);
        EXPECT_EQ(fake(a).paintCount(), 0) << "repaints wait for the commit";
        b->orderOut();
    }
    EXPECT_EQ(host.stackUpdates(), before + 1);
    EXPECT_EQ(host.lastStack(), std::vector<std::string>{"a"});
    EXPECT_EQ(fake(a).paintCount(), 1);
    EXPECT_EQ(host.log().back(), "commit");

    host.commitBatch();  // an unmatched commit is harmless
    EXPECT_FALSE(host.inBatch());
}

TEST_F(OverlayWindowHostTest, RepaintsAreCoalescedAndWaitForTheWindowToBeOrderedIn) {
    auto w = make("w");
    w->setNeedsDisplay();
    loop.runUntilIdle();
    EXPECT_EQ(fake(w).paintCount(), 0) << "a window that is out is not painted";

    w->orderFrontRegardless();
    EXPECT_EQ(fake(w).paintCount(), 1) << "ordering in paints what was pending";

    w->setNeedsDisplay();
    w->setNeedsDisplay();
    w->setContent([](QPainter&, Size) {});
    EXPECT_EQ(fake(w).paintCount(), 1);
    loop.runUntilIdle();
    EXPECT_EQ(fake(w).paintCount(), 2);

    w->setNeedsDisplay();
    w->displayIfNeeded();
    w->displayIfNeeded();
    EXPECT_EQ(fake(w).paintCount(), 3);
    loop.runUntilIdle();
    EXPECT_EQ(fake(w).paintCount(), 3);

    // A resize repaints on the next turn, or at once when asked to display.
    w->setFrame({0, 0, 50, 20}, false);
    loop.runUntilIdle();
    EXPECT_EQ(fake(w).paintCount(), 4);
    w->setFrame({0, 0, 60, 20}, true);
    EXPECT_EQ(fake(w).paintCount(), 5);
}

TEST_F(OverlayWindowHostTest, CorruptValuesNeverReachTheWindow) {
    auto w = make("w", 0, std::numeric_limits<double>::quiet_NaN(), {0, 0, -5, 10});
    EXPECT_EQ(w->alphaValue(), 0);
    EXPECT_EQ(w->frame(), Rect(0, 0, 0, 10));
    w->setAlphaValue(3);
    EXPECT_EQ(w->alphaValue(), 1);
    w->setAlphaValue(-1);
    EXPECT_EQ(w->alphaValue(), 0);
    w->setFrame({10, 10, 20, 20}, false);
    w->setFrame({std::numeric_limits<double>::infinity(), 0, 20, 20}, false);
    EXPECT_EQ(w->frame(), Rect(10, 10, 20, 20));
}

TEST_F(OverlayWindowHostTest, AlphaAnimationStepsOnTheMainLoopAndCompletesOnce) {
    auto a = make("a", 0, 0.0);
    auto b = make("b", 0, 0.0);
    int completions = 0;
    host.animate({0.35, TimingCurve::easeOut}, {{a.get(), 1.0, {}}, {b.get(), 0.5, {}}},
                 [&] { ++completions; });
    EXPECT_EQ(a->alphaValue(), 0) << "nothing moves before the loop runs";

    loop.advance(0.1);
    const double early = a->alphaValue();
    EXPECT_GT(early, 0.1 / 0.35) << "ease-out runs ahead of linear";
    EXPECT_LT(early, 1);
    EXPECT_NEAR(b->alphaValue(), early / 2, 0.02);
    EXPECT_EQ(completions, 0);

    loop.advance(0.3);
    EXPECT_EQ(a->alphaValue(), 1);
    EXPECT_EQ(b->alphaValue(), 0.5);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(loop.pendingTimers(), 0u) << "the ticker stops when nothing moves";

    loop.advance(1);
    EXPECT_EQ(completions, 1);
    EXPECT_GT(fake(a).alphaHistory().size(), 10u);
}

// A fade-out that is still running when the window is shown again must not pull it back to 0 afterwards.
TEST_F(OverlayWindowHostTest, ADirectSetTakesOverFromARunningAnimation) {
    auto w = make("w", 0, 1.0);
    int completions = 0;
    host.animate({0.35, TimingCurve::easeIn}, {{w.get(), 0.0, {}}}, [&] { ++completions; });
    loop.advance(0.1);
    EXPECT_LT(w->alphaValue(), 1);
    w->setAlphaValue(1);
    loop.advance(0.5);
    EXPECT_EQ(w->alphaValue(), 1);
    EXPECT_EQ(completions, 1) << "the completion still runs, so its owner can see the fade was overtaken";
}

TEST_F(OverlayWindowHostTest, ALaterAnimationTakesOverAndBothGroupsComplete) {
    auto w = make("w", 0, 0.0);
    std::vector<std::string> done;
    host.animate({0.35, TimingCurve::easeOut}, {{w.get(), 1.0, {}}}, [&] { done.push_back("in"); });
    loop.advance(0.1);
    host.animate({0.35, TimingCurve::easeIn}, {{w.get(), 0.0, {}}}, [&] { done.push_back("out"); });
    loop.runUntilIdle();
    EXPECT_EQ(done, std::vector<std::string>{"in"});
    loop.advance(0.5);
    EXPECT_EQ(w->alphaValue(), 0);
    EXPECT_EQ(done, (std::vector<std::string>{"in", "out"}));
}

TEST_F(OverlayWindowHostTest, EmptyInstantAndOrphanedAnimationsStillComplete) {
    int completions = 0;
    host.animate({0.3, TimingCurve::easeOut}, {}, [&] { ++completions; });
    EXPECT_EQ(completions, 0) << "completions never run inside animate()";
    loop.runUntilIdle();
    EXPECT_EQ(completions, 1);

    auto w = make("w", 0, 0.0);
    host.animate({0, TimingCurve::linear}, {{w.get(), 0.8, Rect{5, 5, 10, 10}}}, [&] { ++completions; });
    EXPECT_EQ(w->alphaValue(), 0.8);
    EXPECT_EQ(w->frame(), Rect(5, 5, 10, 10));
    loop.runUntilIdle();
    EXPECT_EQ(completions, 2);

    host.animate({1.0, TimingCurve::linear}, {{w.get(), 0.0, {}}}, [&] { ++completions; });
    loop.advance(0.2);
    w.reset();
    loop.runUntilIdle();
    EXPECT_EQ(completions, 3) << "a window dropped mid-animation ends its part of the group";
    loop.advance(2);
    EXPECT_EQ(completions, 3);
}

TEST_F(OverlayWindowHostTest, FrameAnimationRepaintsEachStepAndLandsExactly) {
    auto w = make("w", OverlayWindowLevel::belowPanel, 1.0, {0, 1050, 1920, 30});
    w->orderFrontRegardless();
    const int paints = fake(w).paintCount();
    bool done = false;
    const Rect target{0, 1040, 1920, 40};
    host.animate({0.3, TimingCurve::easeOut}, {{w.get(), {}, target}}, [&] { done = true; });
    loop.advance(0.15);
    EXPECT_GT(w->frame().height(), 30);
    EXPECT_LT(w->frame().height(), 40);
    EXPECT_NEAR(w->frame().maxY(), 1080, 1e-9) << "the band keeps hanging from the top edge";
    loop.advance(0.2);
    EXPECT_EQ(w->frame(), target);
    EXPECT_TRUE(done);
    EXPECT_GT(fake(w).paintCount() - paints, 5);
}

TEST_F(OverlayWindowHostTest, RenderingPaintsTheContentTopLeftInPoints) {
    Size seen;
    auto w = host.makeWindow({"w", {0, 0, 40, 10}, 0, 1.0, [&](QPainter& p, Size size) {
                                  seen = size;
                                  p.fillRect(QRectF(0, 0, 10, 5), Qt::red);
                              }});
    const QImage image = FakeOverlayWindowHost::render(*w, 2.0);
    EXPECT_EQ(seen, (Size{40, 10}));
    ASSERT_EQ(image.size(), QSize(80, 20));
    EXPECT_EQ(image.pixelColor(1, 1), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(19, 9), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(21, 1).alpha(), 0);
    EXPECT_EQ(image.pixelColor(1, 11).alpha(), 0) << "y grows downwards inside the view";
}

}  // namespace
}  // namespace velaro
