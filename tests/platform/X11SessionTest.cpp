// The session's one conversion between root pixels and points, and how a screen snapshot picks its primary.
#include "platform/linux/X11Session.h"
#include "platform/linux/XdgAppCatalog.h"

#include <gtest/gtest.h>

#include <limits>

namespace velaro {
namespace {

using x11::RawMonitor;
using x11::ScreenSpace;

TEST(ScreenSpace, RootPixelsAndBothGlobalConventionsAgreeAtEveryRatio) {
    struct Case {
        const char* what;
        Rect primary;  // root pixels
        double ratio;
        Point root;     // a point in root pixels
        Point global;   // the same in global points (y up from the primary's bottom)
        Point topLeft;  // the same in top-left global points
    };
    const Case cases[] = {
        {"ratio 1, primary at the origin", {0, 0, 1920, 1080}, 1, {100, 40}, {100, 1040}, {100, 40}},
        {"ratio 2: pixels are halved", {0, 0, 1920, 1080}, 2, {100, 40}, {50, 520}, {50, 20}},
        {"a primary right of another monitor", {1280, 0, 1920, 1080}, 1, {1380, 40}, {100, 1040}, {100, 40}},
        {"ratio 2 and an offset primary", {1280, 200, 3840, 2160}, 2, {1380, 240}, {50, 1060}, {50, 20}},
        {"left of the primary is negative", {1280, 0, 1920, 1080}, 2, {0, 0}, {-640, 540}, {-640, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ScreenSpace space(c.primary, c.ratio);
        EXPECT_EQ(space.globalFromRoot(c.root), c.global);
        EXPECT_EQ(space.topLeftFromRoot(c.root), c.topLeft);
        EXPECT_EQ(space.rootFromTopLeft(c.topLeft), c.root);
        const Rect box(c.root.x, c.root.y, 40, 20);
        EXPECT_EQ(space.rootFromGlobal(space.globalFromRoot(box)), box);
        EXPECT_EQ(space.rootFromTopLeft(space.topLeftFromRoot(box)), box);
        EXPECT_EQ(space.globalFromRoot(box).size, (Size{40 / c.ratio, 20 / c.ratio}));
    }
    // A ratio that is no ratio cannot be divided by.
    EXPECT_EQ(ScreenSpace({0, 0, 100, 100}, 0).pixelsPerPoint(), 1);
    EXPECT_EQ(ScreenSpace({0, 0, 100, 100}, std::numeric_limits<double>::quiet_NaN()).pixelsPerPoint(), 1);
}

TEST(ScreenSnapshot, ThePrimaryComesFirstAndTheRootStandsInWithoutMonitors) {
    const RawMonitor left{"DP-1", 1, false, {0, 0, 1280, 1024}};
    const RawMonitor right{"DP-2", 2, true, {1280, 0, 1920, 1080}};
    auto snapshot = x11::snapshotOf({left, right}, 3200, 1080, 2);
    ASSERT_EQ(snapshot.monitors.size(), 2u);
    EXPECT_EQ(snapshot.monitors.front().name, "DP-2") << "the one RandR marks";
    // Global points start at the marked monitor: its frame is the origin, halved by the ratio.
    EXPECT_EQ(snapshot.space.globalFromRoot(right.root), (Rect{0, 0, 960, 540}));
    EXPECT_TRUE(snapshot.space == ScreenSpace(right.root, 2));
    EXPECT_EQ(snapshot.space.pixelsPerPoint(), 2);

    RawMonitor unmarked = right;
    unmarked.primary = false;
    snapshot = x11::snapshotOf({unmarked, left}, 3200, 1080, 1);
    EXPECT_EQ(snapshot.monitors.front().name, "DP-1") << "unmarked: the one at the root's origin";

    snapshot = x11::snapshotOf({}, 1024, 768, 1);
    ASSERT_EQ(snapshot.monitors.size(), 1u);
    EXPECT_EQ(snapshot.monitors.front().root, (Rect{0, 0, 1024, 768})) << "no RandR: the whole root";
    EXPECT_EQ(snapshot, x11::snapshotOf({}, 1024, 768, 1));
    EXPECT_FALSE(snapshot == x11::snapshotOf({}, 1024, 768, 2)) << "another ratio is another snapshot";
}

TEST(X11SessionOpen, WithoutAServerThereIsNoSessionAndItSaysWhy) {
    // A display name no server answers, so this runs the same with or without a desktop.
    XdgAppCatalog catalog({"/nonexistent"});
    std::string why;
    EXPECT_EQ(X11Session::open(
                  ":31999", [] { return 1.0; }, catalog, &why),
              nullptr);
    EXPECT_EQ(why, "cannot reach the X display");
    EXPECT_EQ(X11Session::open(":31999", {}, catalog, &why), nullptr) << "no ratio to convert with";
}

}  // namespace
}  // namespace velaro
