// The corner table and the ear and arc shapes built on it, checked by containment and by rendered pixels.
#include <gtest/gtest.h>

#include <numbers>
#include <vector>

#include "overlay/CornerGeometry.h"
#include "overlay/OverlayTestSupport.h"

namespace velaro::test {
namespace {

constexpr double pi = std::numbers::pi;

TEST(CornerGeometryTest, TableOfPointsCentresAndAngles) {
    const QRectF rect(10, 20, 100, 50);
    struct Row {
        ScreenCorner corner;
        Point point, centre;
        double start, end;
    };
    const Row rows[] = {
        {ScreenCorner::topLeft, {10, 20}, {14, 24}, pi, 3 * pi / 2},
        {ScreenCorner::screenTopLeft, {10, 20}, {14, 24}, pi, 3 * pi / 2},
        {ScreenCorner::topRight, {110, 20}, {106, 24}, 3 * pi / 2, 2 * pi},
        {ScreenCorner::screenTopRight, {110, 20}, {106, 24}, 3 * pi / 2, 2 * pi},
        {ScreenCorner::bottomLeft, {10, 70}, {14, 66}, pi / 2, pi},
        {ScreenCorner::bottomRight, {110, 70}, {106, 66}, 0, pi / 2},
    };
    for (const auto& row : rows) {
        const auto g = cornerGeometry(row.corner, rect, 4);
        EXPECT_EQ(g.cornerPoint, row.point) << int(row.corner);
        EXPECT_EQ(g.arcCenter, row.centre) << int(row.corner);
        EXPECT_DOUBLE_EQ(g.startAngle, row.start) << int(row.corner);
        EXPECT_DOUBLE_EQ(g.endAngle, row.end) << int(row.corner);
    }
    // The radius is not clamped here.
    EXPECT_EQ(cornerGeometry(ScreenCorner::topLeft, QRectF(0, 0, 10, 10), 60).arcCenter, (Point{60, 60}));
}

TEST(CornerGeometryTest, EarIsTheCornerSquareOutsideTheArc) {
    const QRectF rect(0, 0, 10, 10);
    const auto ear = cornerNotchPath(ScreenCorner::bottomRight, rect, 4);
    EXPECT_TRUE(ear.contains(QPointF(9.5, 9.5)));
    EXPECT_FALSE(ear.contains(QPointF(7, 7)));
    EXPECT_FALSE(ear.contains(QPointF(3, 3))) << "nothing outside the corner square";

    // Every corner holds its own corner point's neighbourhood and not the arc centre.
    for (auto corner :
         {ScreenCorner::topLeft, ScreenCorner::topRight, ScreenCorner::bottomLeft, ScreenCorner::bottomRight,
          ScreenCorner::screenTopLeft, ScreenCorner::screenTopRight}) {
        const auto g = cornerGeometry(corner, QRectF(0, 0, 40, 40), 20);
        const auto path = cornerNotchPath(corner, QRectF(0, 0, 40, 40), 20);
        const QPointF nearCorner(g.cornerPoint.x == 0 ? 1 : 39, g.cornerPoint.y == 0 ? 1 : 39);
        EXPECT_TRUE(path.contains(nearCorner)) << int(corner);
        EXPECT_FALSE(path.contains(QPointF(g.arcCenter.x, g.arcCenter.y))) << int(corner);
    }

    EXPECT_TRUE(cornerNotchPath(ScreenCorner::topLeft, rect, 0).isEmpty());
    EXPECT_TRUE(cornerNotchPath(ScreenCorner::topLeft, rect, -3).isEmpty());
    EXPECT_TRUE(cornerNotchPath(ScreenCorner::topLeft, rect, std::nan("")).isEmpty());

    // A radius beyond the rectangle is clamped to its shorter side: the ear of 60 in 48×48 uses 48.
    const auto big = cornerNotchPath(ScreenCorner::topLeft, QRectF(0, 0, 48, 48), 60);
    EXPECT_NEAR(big.boundingRect().width(), 48, 1e-6);
    EXPECT_TRUE(big.contains(QPointF(2, 2)));
    EXPECT_FALSE(big.contains(QPointF(30, 30)));
}

TEST(CornerGeometryTest, RenderedEarFillsOnlyOutsideTheArc) {
    const auto image = renderView(40, 40, [](QPainter& p, Size) {
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(cornerNotchPath(ScreenCorner::topLeft, QRectF(0, 0, 40, 40), 40), Qt::black);
    });
    EXPECT_EQ(image.pixelColor(1, 1).alpha(), 255);
    EXPECT_EQ(image.pixelColor(20, 20).alpha(), 0);
    EXPECT_EQ(image.pixelColor(39, 39).alpha(), 0);
    // Along the edges the ear thins out toward the arc's ends: 2 pt in at the middle it is still there.
    EXPECT_EQ(image.pixelColor(20, 2).alpha(), 255);
    EXPECT_EQ(image.pixelColor(2, 20).alpha(), 255);
    EXPECT_EQ(image.pixelColor(20, 8).alpha(), 0);
}

TEST(CornerGeometryTest, ArcFollowsTheEarAndScalesWithItsClamp) {
    const QRectF rect(0, 0, 48, 48);
    EXPECT_TRUE(cornerArcPath(ScreenCorner::bottomLeft, rect, 0, 5).isEmpty());
    EXPECT_TRUE(
        cornerArcPath(ScreenCorner::bottomLeft, rect, 10, 0).isEmpty());  // a centre line of 0 draws nothing

    // Radius 60 clamped to 48: the centre line of 59.5 becomes 59.5 × 48/60 = 47.6 about (48, 0).
    const auto arc = cornerArcPath(ScreenCorner::bottomLeft, rect, 60, 59.5);
    const QPointF start = arc.pointAtPercent(0), end = arc.pointAtPercent(1), mid = arc.pointAtPercent(0.5);
    const QPointF centre(48, 0);
    EXPECT_NEAR(QLineF(centre, start).length(), 47.6, 1e-3);
    EXPECT_NEAR(QLineF(centre, mid).length(), 47.6, 1e-3);
    // From π/2 (straight down from the centre) to π (left of it).
    EXPECT_NEAR(start.x(), 48, 1e-3);
    EXPECT_NEAR(start.y(), 47.6, 1e-3);
    EXPECT_NEAR(end.x(), 0.4, 1e-3);
    EXPECT_NEAR(end.y(), 0, 1e-3);

    const auto topRight = cornerArcPath(ScreenCorner::topRight, QRectF(0, 0, 10, 10), 10, 9.5);
    EXPECT_NEAR(topRight.pointAtPercent(0).x(), 0, 1e-3);  // 3π/2: straight up from (0, 10)
    EXPECT_NEAR(topRight.pointAtPercent(0).y(), 0.5, 1e-3);
    EXPECT_NEAR(topRight.pointAtPercent(1).x(), 9.5, 1e-3);  // 2π: right of the centre
    EXPECT_NEAR(topRight.pointAtPercent(1).y(), 10, 1e-3);
}

// Ears are kept by the numbers they were made from: whatever was asked before, in whatever order and however
// many more shapes than are kept, each answer is the ear of its own corner, rectangle and radius.
TEST(CornerGeometryTest, KeptEarsAnswerForTheirOwnCornerRectangleAndRadius) {
    struct Ask {
        ScreenCorner corner;
        QRectF rect;
        double radius;
    };
    std::vector<Ask> asks;
    for (int i = 0; i < 12; ++i)  // more than are kept
        asks.push_back({i % 2 ? ScreenCorner::topLeft : ScreenCorner::bottomRight,
                        QRectF(0, 0, 20 + i, 20 + i), 4.0 + i});
    std::vector<QPainterPath> first;
    for (const auto& a : asks) first.push_back(cornerNotchPath(a.corner, a.rect, a.radius));
    // Again, backwards and forwards: each ear is the one it was the first time.
    for (int pass = 0; pass < 2; ++pass)
        for (std::size_t k = 0; k < asks.size(); ++k) {
            const std::size_t i = pass ? k : asks.size() - 1 - k;
            EXPECT_EQ(cornerNotchPath(asks[i].corner, asks[i].rect, asks[i].radius), first[i]) << i;
        }
    // Neighbouring asks differ, so an answer for the wrong key would show.
    for (std::size_t i = 1; i < asks.size(); ++i) EXPECT_NE(first[i], first[i - 1]) << i;
    EXPECT_NE(cornerNotchPath(ScreenCorner::topRight, asks[1].rect, asks[1].radius), first[1]);
    EXPECT_NE(cornerNotchPath(ScreenCorner::topLeft, asks[1].rect.translated(1, 0), asks[1].radius), first[1]);
}

}  // namespace
}  // namespace velaro::test
