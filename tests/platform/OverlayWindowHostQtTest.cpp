// The Qt overlay windows without a display: their configuration, frames in global points, painting, and the
// shape that stands in for translucency where no compositor runs.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWindow>
#include <vector>

#include "platform/linux/QtOverlayStorePainter.h"
#include "platform/linux/QtOverlayWindowHost.h"
#include "support/OverlayQtWindow.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

// A quarter disc in the top-left of a `size` square, as a corner ear is cut: opaque inside the arc.
QImage quarterDisc(int size, double dpr, QColor colour) {
    QImage image(size * dpr, size * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.moveTo(0, 0);
    path.arcTo(QRectF(-size, -size, 2 * size, 2 * size), 0, -90);
    path.closeSubpath();
    p.fillPath(path, colour);
    return image;
}

TEST(OverlayShapeTest, TheShapeFollowsEveryPaintedPixelHoweverFaint) {
    const QRegion ear = overlayShapeFromImage(quarterDisc(20, 1.0, QColor(200, 40, 40)), 1.0);
    EXPECT_TRUE(ear.contains(QPoint(2, 2)));
    EXPECT_TRUE(ear.contains(QPoint(12, 12)));   // inside the arc (distance 17)
    EXPECT_FALSE(ear.contains(QPoint(17, 17)));  // outside the arc (distance 24)
    EXPECT_FALSE(ear.contains(QPoint(19, 19)));

    // A tint at 2% opacity still shows without a compositor (as an opaque pixel), so it must stay in.
    const QRegion faint = overlayShapeFromImage(quarterDisc(20, 1.0, QColor(0, 0, 0, 5)), 1.0);
    EXPECT_TRUE(faint.contains(QPoint(12, 12)));

    QImage empty(30, 10, QImage::Format_ARGB32_Premultiplied);
    empty.fill(Qt::transparent);
    EXPECT_TRUE(overlayShapeFromImage(empty, 1.0).isEmpty());

    QImage straight(30, 10, QImage::Format_ARGB32);  // any format is read by its alpha
    straight.fill(QColor(0, 255, 0, 128));
    EXPECT_EQ(overlayShapeFromImage(straight, 1.0), QRegion(0, 0, 30, 10));
}

TEST(OverlayShapeTest, TheShapeIsInPointsOnScaledScreens) {
    const QRegion ear = overlayShapeFromImage(quarterDisc(20, 2.0, Qt::black), 2.0);
    EXPECT_TRUE(ear.contains(QPoint(12, 12)));
    EXPECT_FALSE(ear.contains(QPoint(17, 17)));
    EXPECT_LE(ear.boundingRect().right(), 19);
    EXPECT_LE(ear.boundingRect().bottom(), 19);
}

// Only the rows that differ from what the window shows are put: the rows of the asked area whose pixels are
// the same in both pictures, and no row where any pixel of the area differs (outside it nothing counts).
TEST(OverlayUploadTest, UnchangedRowsAreThoseOfTheAreaWithEveryPixelTheSame) {
    QImage before(40, 12, QImage::Format_ARGB32_Premultiplied);
    before.fill(QColor(10, 20, 30));
    QImage now = before;
    now.setPixelColor(39, 3, QColor(10, 20, 31));   // the last pixel of a row
    now.setPixelColor(0, 7, QColor(0, 0, 0, 0));    // the first, in alpha alone
    now.setPixelColor(25, 10, QColor(99, 20, 30));  // outside the left part of the area
    const QRegion area = QRegion(0, 0, 40, 9) + QRegion(0, 9, 20, 3);
    const QRegion expected =
        QRegion(0, 0, 40, 3) + QRegion(0, 4, 40, 3) + QRegion(0, 8, 40, 1) + QRegion(0, 9, 20, 3);
    EXPECT_EQ(unchangedRows(now, before, area), expected);
    EXPECT_EQ(unchangedRows(now, now, area), area);
    EXPECT_TRUE(unchangedRows(now, before.copy(0, 0, 40, 11), area).isEmpty()) << "pictures of two sizes";
}

class QtOverlayWindowHostTest : public ::testing::Test {
protected:
    test::VirtualLoop loop;
    QtOverlayWindowHost host{loop, nullptr};
};

TEST_F(QtOverlayWindowHostTest, WindowsAreBorderlessClickThroughAndNeverFocused) {
    auto w = host.makeWindow({"overlay-bar", {0, 0, 100, 20}, OverlayWindowLevel::belowPanel, 1.0, {}});
    QWindow* qt = test::qtWindowOf(*w);
    ASSERT_NE(qt, nullptr);
    const auto flags = qt->flags();
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::BypassWindowManagerHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(flags.testFlag(Qt::NoDropShadowWindowHint));
    EXPECT_EQ(qt->title(), "overlay-bar");
    EXPECT_NE(w->windowNumber(), 0);
    EXPECT_EQ(host.windowWithNumber(w->windowNumber()), w.get());
    EXPECT_TRUE(host.supportsTranslucency()) << "offscreen images blend";
    EXPECT_EQ(qt->requestedFormat().alphaBufferSize(), 8);

    w->orderFrontRegardless();
    EXPECT_TRUE(qt->isVisible());
    EXPECT_FALSE(qt->isActive());
    w->orderOut();
    EXPECT_FALSE(qt->isVisible());
}

TEST_F(QtOverlayWindowHostTest, FramesInGlobalPointsLandTopDownOnTheScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    // A 28 pt band hanging from the top edge of the primary screen, and a 12 pt ear at its bottom-right.
    auto band =
        host.makeWindow({"band", {0, double(screen.height() - 28), double(screen.width()), 28}, 24, 1.0, {}});
    EXPECT_EQ(test::qtWindowOf(*band)->geometry(),
              QRect(screen.x(), screen.y(), screen.width(), 28));
    band->setFrame({double(screen.width() - 12), 0, 12, 12}, false);
    EXPECT_EQ(test::qtWindowOf(*band)->geometry(),
              QRect(screen.x() + screen.width() - 12, screen.y() + screen.height() - 12, 12, 12));
}

TEST_F(QtOverlayWindowHostTest, AlphaAndAnimationsReachTheNativeWindow) {
    auto w = host.makeWindow({"w", {0, 0, 40, 40}, 0, 0.0, {}});
    QWindow* qt = test::qtWindowOf(*w);
    EXPECT_EQ(qt->opacity(), 0.0);
    w->orderFrontRegardless();
    host.animate({0.25, TimingCurve::linear}, {{w.get(), 1.0, Rect{0, 0, 80, 40}}});
    loop.advance(0.125);
    EXPECT_NEAR(qt->opacity(), 0.5, 0.05);
    loop.advance(0.2);
    EXPECT_EQ(qt->opacity(), 1.0);
    EXPECT_EQ(qt->geometry().width(), 80);
}

TEST_F(QtOverlayWindowHostTest, ContentIsPaintedInTheWindowsPoints) {
    std::vector<Size> sizes;
    auto w = host.makeWindow({"w", {0, 0, 64, 24}, 0, 1.0, [&](QPainter& p, Size s) {
                                  sizes.push_back(s);
                                  p.fillRect(QRectF(0, 0, s.width, s.height), Qt::blue);
                              }});
    w->orderFrontRegardless();
    // The platform exposes the window on its own event loop; the expose paints it, with the flush that
    // follows on the main loop.
    for (int i = 0; i < 50 && sizes.empty(); ++i) {
        QCoreApplication::processEvents();
        loop.runUntilIdle();
    }
    ASSERT_FALSE(sizes.empty()) << "the expose never painted";
    sizes.clear();
    // Asked for twice within a display refresh of the last flush: painted once, at that refresh's end.
    w->setNeedsDisplay();
    w->displayIfNeeded();
    w->setNeedsDisplay();
    w->displayIfNeeded();
    loop.runUntilIdle();
    EXPECT_TRUE(sizes.empty());
    loop.advance(0.05);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes.back(), (Size{64, 24}));
}

// Pictures asked for at the display's rate are flushed in the turn that asks, at most one a refresh: one
// that comes a little early counts against the coming refresh; when the flushes fell out of step with
// pictures that come mid-refresh, they step back in line after a few, dropping one picture; a faster
// stream of requests is held to one flush a refresh.
TEST_F(QtOverlayWindowHostTest, FlushesFollowPicturesAtTheDisplayRateAndNeverOutrunTheRefreshes) {
    std::vector<double> paints;
    auto w = host.makeWindow(
        {"w", {0, 0, 64, 24}, 0, 1.0, [&](QPainter&, Size) { paints.push_back(loop.uptime()); }});
    w->orderFrontRegardless();
    for (int i = 0; i < 50 && paints.empty(); ++i) {
        QCoreApplication::processEvents();
        loop.runUntilIdle();
    }
    ASSERT_FALSE(paints.empty()) << "the expose never painted";
    const double refresh = 1.0 / 60;
    auto ask = [&] {
        const std::size_t before = paints.size();
        w->setNeedsDisplay();
        w->displayIfNeeded();
        loop.runUntilIdle();
        return paints.size() > before;
    };
    struct Case {
        const char* name;
        double phase;     // of the requests, in refreshes after a first picture that sets the flushes' step
        double interval;  // between requests, in refreshes
        double jitter;    // every other request this much late, the others as much early
        int requests;
        int paintedAtOnceOfTheLastTen;  // -1: not checked
    };
    const Case cases[] = {
        {"in step", 1.0, 1.0, 0, 30, 10},
        {"a little early or late", 1.0, 1.0, 0.1, 30, 10},
        {"mid-refresh, out of step", 0.4, 1.0, 0, 30, 10},
        {"four a refresh", 0.4, 0.25, 0, 120, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        loop.advance(4 * refresh);  // idle before each case
        ASSERT_TRUE(ask()) << "after a pause a picture goes at once";
        const double start = loop.uptime();
        paints.clear();
        int atOnce = 0;
        for (int i = 0; i < c.requests; ++i) {
            const double at = start + (c.phase + i * c.interval + (i % 2 ? -c.jitter : c.jitter)) * refresh;
            loop.advance(at - loop.uptime());
            if (ask() && i >= c.requests - 10) ++atOnce;
        }
        loop.advance(3 * refresh);
        if (c.paintedAtOnceOfTheLastTen >= 0) {
            EXPECT_EQ(atOnce, c.paintedAtOnceOfTheLastTen);
        }
        ASSERT_FALSE(paints.empty());
        EXPECT_GE(paints.back(), start + (c.phase + (c.requests - 1) * c.interval - c.jitter) * refresh)
            << "the last picture is painted";
        const double span = paints.back() - paints.front();
        EXPECT_LE(double(paints.size() - 1), span / refresh + 1.01) << "more flushes than refreshes";
        for (std::size_t i = 1; i < paints.size(); ++i)
            EXPECT_GE(paints[i] - paints[i - 1], 0.74 * refresh) << "flush " << i;
    }
}

// Where no compositor runs, transparent pixels would show black and alpha would be ignored: the window
// is cut to what it paints, and an alpha of 0 (or nothing painted) takes it off the screen.
TEST_F(QtOverlayWindowHostTest, WithoutACompositorWindowsAreCutToShapeAndHiddenAtAlphaZero) {
    bool paintNothing = false;
    auto ear =
        host.makeWindow({"ear", {0, 0, 20, 20}, 24, 1.0, [&](QPainter& p, Size s) {
                             if (paintNothing) return;
                             QPainterPath path;
                             path.moveTo(0, 0);
                             path.arcTo(QRectF(-s.width, -s.height, 2 * s.width, 2 * s.height), 0, -90);
                             path.closeSubpath();
                             p.fillPath(path, Qt::black);
                         }});
    ear->orderFrontRegardless();
    const WindowNumber before = ear->windowNumber();
    host.setTranslucency(false);
    EXPECT_FALSE(host.supportsTranslucency());
    EXPECT_NE(ear->windowNumber(), before) << "a new native window with an opaque visual";
    EXPECT_EQ(host.windowWithNumber(ear->windowNumber()), ear.get());
    QWindow* qt = test::qtWindowOf(*ear);
    EXPECT_EQ(qt->requestedFormat().alphaBufferSize(), -1);
    EXPECT_TRUE(qt->isVisible());
    EXPECT_TRUE(qt->mask().contains(QPoint(3, 3)));
    EXPECT_FALSE(qt->mask().contains(QPoint(18, 18)));

    ear->setAlphaValue(0);
    EXPECT_FALSE(qt->isVisible()) << "alpha 0 must hide what would otherwise show fully";
    EXPECT_TRUE(ear->isVisible()) << "the window stays ordered in";
    ear->setAlphaValue(0.3);
    EXPECT_TRUE(qt->isVisible());

    paintNothing = true;
    ear->setNeedsDisplay();
    ear->displayIfNeeded();
    EXPECT_FALSE(qt->isVisible()) << "an empty shape would otherwise mean no shape at all";

    paintNothing = false;
    host.setTranslucency(true);
    qt = test::qtWindowOf(*ear);
    EXPECT_TRUE(qt->isVisible());
    EXPECT_TRUE(qt->mask().isEmpty()) << "translucent windows are not cut";
    EXPECT_DOUBLE_EQ(qt->opacity(), 0.3);
}

// A GL-surface window is an OpenGL 3.3 core surface with alpha; it shows only while translucency does, since
// an ARGB surface cannot be cut to a painted shape.
TEST_F(QtOverlayWindowHostTest, GLSurfaceWindowsShowOnlyWithTranslucency) {
    OverlayWindowOptions options{"viz-bar", {0, 0, 300, 80}, OverlayWindowLevel::belowPanel, 1.0, {}};
    options.surface = OverlaySurfaceKind::gl;
    auto w = host.makeWindow(options);
    ASSERT_NE(w->glSurface(), nullptr);
    QWindow* qt = test::qtWindowOf(*w);
    EXPECT_EQ(qt->surfaceType(), QSurface::OpenGLSurface);
    EXPECT_EQ(qt->requestedFormat().alphaBufferSize(), 8);
    EXPECT_EQ(qt->requestedFormat().profile(), QSurfaceFormat::CoreProfile);
    EXPECT_TRUE(qt->flags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_EQ(w->glSurface()->pixelWidth(), 300);
    EXPECT_EQ(w->glSurface()->pixelHeight(), 80);

    w->orderFrontRegardless();
    EXPECT_TRUE(qt->isVisible());
    host.setTranslucency(false);
    qt = test::qtWindowOf(*w);
    EXPECT_EQ(qt->requestedFormat().alphaBufferSize(), 8) << "still a GL surface with alpha";
    EXPECT_FALSE(qt->isVisible());
    EXPECT_TRUE(w->isVisible()) << "ordered in, shown again with a compositor";
    host.setTranslucency(true);
    EXPECT_TRUE(test::qtWindowOf(*w)->isVisible());

    auto painted = host.makeWindow({"overlay-bar", {0, 0, 100, 20}, OverlayWindowLevel::belowPanel, 1.0, {}});
    EXPECT_EQ(painted->glSurface(), nullptr);
}

}  // namespace
}  // namespace velaro
