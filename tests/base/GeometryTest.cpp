// The conversions between X11 root coordinates and the two global conventions the models use.
#include "base/Geometry.h"

#include <gtest/gtest.h>

namespace velaro {
namespace {

TEST(CoordinateSpace, PrimaryAtRootOriginFlipsAboutItsHeight) {
    const CoordinateSpace space(Rect(0, 0, 1920, 1080));
    // The top panel's strip, 28 px high at the top of the root.
    EXPECT_EQ(space.globalFromRoot(Rect(0, 0, 1920, 28)), Rect(0, 1052, 1920, 28));
    EXPECT_EQ(space.topLeftFromRoot(Rect(0, 0, 1920, 28)), Rect(0, 0, 1920, 28));
    EXPECT_EQ(space.globalFromRoot(Point{100, 0}), (Point{100, 1080}));
}

TEST(CoordinateSpace, SecondMonitorBelowAndLeftOfThePrimary) {
    // Primary at root (1280, 0) 1920x1080; another monitor at root (0, 1080) 1280x1024, below-left of it.
    const CoordinateSpace space(Rect(1280, 0, 1920, 1080));
    const Rect other(0, 1080, 1280, 1024);
    const Rect global = space.globalFromRoot(other);
    EXPECT_EQ(global, Rect(-1280, -1024, 1280, 1024));
    EXPECT_EQ(space.rootFromGlobal(global), other);
    EXPECT_EQ(space.topLeftFromRoot(other), Rect(-1280, 1080, 1280, 1024));
    EXPECT_EQ(space.rootFromTopLeft(space.topLeftFromRoot(other)), other);
}

TEST(CoordinateSpace, GlobalAndTopLeftAgreeThroughEitherPath) {
    const CoordinateSpace space(Rect(300, 200, 1600, 900));
    for (const Rect r : {Rect(0, 0, 10, 10), Rect(310, 205, 500, 40), Rect(-50, 1500, 80, 60)}) {
        EXPECT_EQ(space.globalFromTopLeft(space.topLeftFromRoot(r)), space.globalFromRoot(r)) << r;
        EXPECT_EQ(space.topLeftFromGlobal(space.globalFromRoot(r)), space.topLeftFromRoot(r)) << r;
    }
    const Point p{777, 333};
    EXPECT_EQ(space.rootFromGlobal(space.globalFromRoot(p)), p);
    EXPECT_EQ(space.globalFromTopLeft(space.topLeftFromRoot(p)), space.globalFromRoot(p));
}

TEST(Rect, IntersectionAndContainmentAtEdges) {
    const Rect a(0, 0, 100, 50);
    EXPECT_TRUE(a.intersection(Rect(100, 0, 10, 10)).isEmpty());  // touching edges do not overlap
    EXPECT_EQ(a.intersection(Rect(90, 40, 20, 20)), Rect(90, 40, 10, 10));
    EXPECT_TRUE(a.contains({0, 0}));
    EXPECT_FALSE(a.contains({100, 10}));
    EXPECT_EQ(Rect().united(a), a);
    EXPECT_EQ(a.united(Rect(200, 100, 10, 10)), Rect(0, 0, 210, 110));
    EXPECT_EQ(Rect(0, 0, -5, 10).area(), 0);
}

}  // namespace
}  // namespace velaro
