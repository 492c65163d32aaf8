// The unified view: band and ears in rendered pixels, the ears' radii and ink, the reveal driven by the
// presenter (instant flag, hide mid-reveal), the remembered appearance and its end-of-recolour tick, and
// the pills placed in the screen's bare menu-bar height.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "overlay/OverlayTestSupport.h"
#include "overlay/PillMask.h"
#include "overlay/UnifiedOverlayView.h"

namespace velaro::test {
namespace {

constexpr double kWidth = 200, kBand = 30, kBar = 24, kEars = 20;

class UnifiedOverlayViewTest : public OverlayViewTest {
protected:
    UnifiedOverlayViewTest() {
        settings.style = MenuBarStyle::solid;
        settings.autoSample = true;
        settings.strokeEnabled = false;
        sampler.dominantColor = Color::rgb(1, 0, 0);
        sampler.liveLeftCornerColor = Color::rgb(1, 0, 0);
        sampler.liveRightCornerColor = Color::rgb(1, 0, 0);
        changeCorners([](auto& c) {
            c.topRadius = kEars;
            c.topLinked = true;
        });
    }
    std::unique_ptr<UnifiedOverlayView> makeView() {
        auto view = std::make_unique<UnifiedOverlayView>(
            settings, sampler.feed(), clock, loop, presenter,
            UnifiedScreenMetrics{"A", [this] { return band; }, [this] { return bar; }});
        return view;
    }
    void changeCorners(auto change) {
        auto corners = settings.corners();
        change(corners);
        settings.corners = corners;
    }
    void showAtOnce() {
        presenter.revealInstant = true;
        presenter.shown = true;
    }
    QImage paint(UnifiedOverlayView& view) {
        return renderView(kWidth, band + kEars, [&](QPainter& p, Size s) { view.paint(p, s); });
    }
    RevealColorHold held(Color c) { return RevealColorHold{c, {}, std::nullopt, c, c}; }

    UnifiedPresenter presenter;
    double band = kBand;
    double bar = kBar;
};

TEST_F(UnifiedOverlayViewTest, DrawsTheBandAndBothEarsOnceShown) {
    auto view = makeView();
    EXPECT_EQ(paint(*view).pixelColor(100, 10).alpha(), 0) << "not revealed yet";
    showAtOnce();
    const auto image = paint(*view);
    EXPECT_TRUE(pixelNear(image, 100, 10, Qt::red));
    EXPECT_TRUE(pixelNear(image, 1, kBand + 1, Qt::red)) << "left ear's outer corner";
    EXPECT_TRUE(pixelNear(image, kWidth - 2, kBand + 1, Qt::red)) << "right ear";
    EXPECT_EQ(image.pixelColor(kEars - 2, kBand + kEars - 2).alpha(), 0) << "inside the ear's arc";
    EXPECT_EQ(image.pixelColor(100, kBand + 5).alpha(), 0) << "between the ears";
}

TEST_F(UnifiedOverlayViewTest, ARadiusOfZeroLeavesThatEarOut) {
    changeCorners([](auto& c) { c.topLeftEnabled = false; });
    auto view = makeView();
    showAtOnce();
    EXPECT_EQ(view->topRadius(ScreenCorner::topLeft), 0);
    const auto image = paint(*view);
    EXPECT_EQ(image.pixelColor(1, kBand + 1).alpha(), 0);
    EXPECT_TRUE(pixelNear(image, kWidth - 2, kBand + 1, Qt::red));
}

TEST_F(UnifiedOverlayViewTest, AlwaysOnUsesItsRadiusForBothEarsAndKeepsTheMaskOpen) {
    settings.keepOverlayAlwaysOn = true;
    settings.alwaysOnCornerRadius = 12;
    changeCorners([](auto& c) {
        c.topLeftEnabled = false;
        c.topRightEnabled = false;
    });
    auto view = makeView();
    EXPECT_EQ(view->topRadius(ScreenCorner::topLeft), 12);
    EXPECT_EQ(view->topRadius(ScreenCorner::topRight), 12);
    EXPECT_FALSE(presenter.shown());
    EXPECT_DOUBLE_EQ(view->revealMaskProgress(), 1);
    EXPECT_TRUE(pixelNear(paint(*view), 100, 10, Qt::red)) << "a window fills the top; the band shows";
}

TEST_F(UnifiedOverlayViewTest, InstantFlagIsConsumedSoTheNextRevealAnimates) {
    auto view = makeView();
    showAtOnce();
    EXPECT_FALSE(presenter.revealInstant);
    EXPECT_DOUBLE_EQ(view->reveal().progress(), 1);
    EXPECT_FALSE(view->reveal().hold());
    presenter.shown = false;
    presenter.shown = true;
    EXPECT_DOUBLE_EQ(view->reveal().progress(), 0);
    EXPECT_TRUE(view->reveal().hold()) << "an animated reveal freezes the colours";
    loop.advance(0.6);
    EXPECT_DOUBLE_EQ(view->reveal().progress(), 1);
    EXPECT_FALSE(view->reveal().hold());
}

TEST_F(UnifiedOverlayViewTest, AnAnimatedRevealKeepsTheColoursItBeganWithUntilItSettles) {
    auto view = makeView();
    presenter.shown = true;
    loop.advance(0.05);
    sampler.dominantColor = Color::rgb(0, 0, 1);
    sampler.liveLeftCornerColor = Color::rgb(0, 0, 1);
    view->refresh();
    loop.advance(0.31);  // open; the frozen layer has just begun to fade
    auto image = paint(*view);
    EXPECT_TRUE(pixelNear(image, 100, 10, Qt::red, 40)) << "the band still shows the frozen colour";
    EXPECT_TRUE(pixelNear(image, 1, kBand + 1, Qt::red, 3)) << "and so does the ear";
    loop.advance(0.5);
    image = paint(*view);
    EXPECT_TRUE(pixelNear(image, 100, 10, Qt::blue));
    EXPECT_TRUE(pixelNear(image, 1, kBand + 1, Qt::blue));
}

TEST_F(UnifiedOverlayViewTest, HidingMidRevealLeavesNothingOnScreen) {
    auto view = makeView();
    presenter.shown = true;
    loop.advance(0.1);
    presenter.shown = false;
    EXPECT_FALSE(view->reveal().hold());
    EXPECT_DOUBLE_EQ(view->reveal().progress(), 0);
    loop.advance(1);
    const auto image = paint(*view);
    EXPECT_EQ(image.pixelColor(100, kBand + kEars - 1).alpha(), 0);
    EXPECT_EQ(image.pixelColor(1, kBand + 1).alpha(), 0);
}

TEST_F(UnifiedOverlayViewTest, RiseRevealGrowsFromTheWindowsBottom) {
    settings.animationKind = OverlayAnimationKind::rise;
    auto view = makeView();
    presenter.shown = true;
    loop.advance(0.15);
    const double shown = view->reveal().progress() * (kBand + kEars);
    ASSERT_GT(shown, 10);
    ASSERT_LT(shown, kBand + kEars - 10);
    const auto image = paint(*view);
    const int y = int(kBand + kEars - shown);
    EXPECT_TRUE(pixelNear(image, 100, std::min(y + 2, int(kBand) - 1), Qt::red)) << "the lower part shows";
    EXPECT_EQ(image.pixelColor(100, y - 2).alpha(), 0) << "the top not yet";
}

TEST_F(UnifiedOverlayViewTest, RememberedAppearanceCoversTheLiveOneUntilTheRecolourWindowEnds) {
    auto view = makeView();
    showAtOnce();
    sampler.recolorSnapUntil = loop.uptime() + 0.5;
    presenter.memoryHold = held(Color::rgb(0, 1, 0));
    presenter.memoryGeneration = presenter.memoryGeneration() + 1;
    EXPECT_DOUBLE_EQ(view->liveOpacity(), 0);
    auto image = paint(*view);
    EXPECT_TRUE(pixelNear(image, 100, 10, Qt::green));
    EXPECT_TRUE(pixelNear(image, 1, kBand + 1, Qt::green)) << "the ears remember too";

    int repaints = 0;
    view->setOnNeedsDisplay([&] { ++repaints; });
    loop.advance(0.52);
    EXPECT_EQ(repaints, 0) << "the window is still open";
    loop.advance(0.04);
    EXPECT_GT(repaints, 0) << "re-rendered 0.05 s after the window ended";
    image = paint(*view);
    EXPECT_TRUE(pixelNear(image, 100, 10, Qt::red));
}

TEST_F(UnifiedOverlayViewTest, AWindowEndMovedLaterPostponesTheTickAndANewerGenerationWins) {
    auto view = makeView();
    sampler.recolorSnapUntil = 0.5;
    presenter.memoryHold = held(Color::rgb(0, 1, 0));
    presenter.memoryGeneration = 1;
    loop.advance(0.3);
    presenter.memoryGeneration = 2;  // a second edge at once after the first
    sampler.recolorSnapUntil = 1.0;
    int repaints = 0;
    view->setOnNeedsDisplay([&] { ++repaints; });
    loop.advance(0.3);  // past 0.55: the tick finds the window still open and waits again
    EXPECT_EQ(repaints, 0);
    loop.advance(0.43);
    EXPECT_EQ(repaints, 0) << "the tick waits for the moved end";
    loop.advance(0.07);
    EXPECT_GT(repaints, 0) << "0.05 s after the moved end";
}

TEST_F(UnifiedOverlayViewTest, EarInkFollowsTheFillWithAnUndecidedTieWhileHolding) {
    auto view = makeView();
    const Color grey = Color::rgb(0.5, 0.5, 0.5);
    sampler.strokeInkIsDark = false;
    EXPECT_EQ(view->earInk(grey, ScreenCorner::topLeft, true).red, 0) << "L = 0.5 held: dark ink";
    EXPECT_EQ(view->earInk(grey, ScreenCorner::topLeft, false).red, 1) << "live: the sampler's tie decides";
    EXPECT_EQ(view->earInk(Color::white().withAlpha(0.4), ScreenCorner::topLeft, false), schemeInk(false))
        << "a faint fill gives the scheme ink";
    settings.overlayOpacity = 0.8;
    EXPECT_EQ(view->earInk(Color::white(), ScreenCorner::topLeft, false), schemeInk(false));
}

TEST_F(UnifiedOverlayViewTest, BlurOverAnEmptyDesktopWithoutBackdropLeavesTheEarsClear) {
    settings.keepOverlayAlwaysOn = true;
    settings.alwaysOnCornerRadius = kEars;
    settings.emptyDesktopMode = EmptyDesktopMode::blur;
    sampler.isFilledWindowActive = false;
    auto view = makeView();
    EXPECT_EQ(paint(*view).pixelColor(1, kBand + 1).alpha(), 0) << "clear, not black";

    settings.emptyDesktopMode = EmptyDesktopMode::black;
    EXPECT_TRUE(pixelNear(paint(*view), 1, kBand + 1, Qt::black));
}

TEST_F(UnifiedOverlayViewTest, PillsSitInTheBareMenuBarHeightWhateverTheBandsDepth) {
    changeCorners([](auto& c) {
        c.shapeMode = ShapeMode::pill;
        c.pillFillOpacity = 0;
        c.pillStrokeWidth = 0;
    });
    settings.pillGeometryByScreen =
        PillGeometryByScreen{{"A", PillGeometry{PillSpan{20, 120}, std::nullopt}}};
    band = 44;  // deep extra depth below a 24 pt menu bar
    auto view = makeView();
    showAtOnce();
    const auto image = paint(*view);
    EXPECT_TRUE(pixelNear(image, 70, 12, Qt::red)) << "pill centred in the 24 pt strip";
    EXPECT_EQ(image.pixelColor(70, 20).alpha(), 0);
    EXPECT_EQ(image.pixelColor(150, 12).alpha(), 0) << "no right pill";
    EXPECT_EQ(image.pixelColor(1, 45).alpha(), 0) << "the ears are cut away";

    settings.pillGeometryByScreen =
        PillGeometryByScreen{{"B", PillGeometry{PillSpan{20, 120}, std::nullopt}}};
    EXPECT_TRUE(pixelNear(paint(*view), 150, 30, Qt::red)) << "nothing measured here: the full band shows";
}

// A pill that reaches the screen's edge (the tray at a panel's end) takes in the band's corner, where the
// band's edge stroke curves down: inside the pill only the band's fill shows, under the pill's own fill, at
// one and two pixels a point on a 28-px panel (a pill 8 pt and 3.5 pt round), at both ends of the screen.
TEST_F(UnifiedOverlayViewTest, PillsAtTheScreensEdgesShowTheBandsFillAndNoneOfItsEdgeStroke) {
    settings.strokeEnabled = true;
    changeCorners([](auto& c) { c.shapeMode = ShapeMode::pill; });
    settings.pillGeometryByScreen =
        PillGeometryByScreen{{"A", PillGeometry{PillSpan{0, 60}, PillSpan{kWidth - 60, kWidth}}}};
    for (const double scale : {1.0, 2.0}) {
        SCOPED_TRACE(testing::Message() << scale << " pixels a point");
        bar = 28 / scale;
        band = bar + 4;
        auto view = makeView();
        showAtOnce();
        const auto image = renderView(
            kWidth, band, [&](QPainter& p, Size s) { view->paint(p, s); }, scale);
        const PillBand pill = pillBand(settings.corners(), bar);
        // A point inside each pill's outline, its antialiased edge and its own hairline.
        const double in = 1;
        QPainterPath inner;
        for (const double x : {0.0, kWidth - 60})
            inner.addRoundedRect(QRectF(x + in, pill.top + in, 60 - 2 * in, pill.height - 2 * in),
                                 pill.radius - in, pill.radius - in);
        const QColor fill = image.pixelColor(int(30 * scale), int((pill.top + pill.height / 2) * scale));
        int differing = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (inner.contains(QPointF((x + 0.5) / scale, (y + 0.5) / scale)) &&
                    !pixelNear(image, x, y, fill, 2))
                    ++differing;
        EXPECT_EQ(differing, 0) << "pixels inside the pills unlike their fill";
        presenter.shown = false;
        loop.advance(1.0);
    }
}

// The window repaints and shows only the area the view names: a pixel painted outside it would never
// reach the screen, or would stay there after the view stopped painting it.
TEST_F(UnifiedOverlayViewTest, PaintsNothingOutsideTheAreaItNames) {
    struct Case {
        const char* name;
        std::function<void()> set;  // on top of the cases before
        std::size_t parts;          // the band, and an ear at each end with a radius
    };
    const Case cases[] = {
        {"band and both ears", [] {}, 3},
        {"with the edge stroke", [this] { settings.strokeEnabled = true; }, 3},
        {"left ear off", [this] { changeCorners([](auto& c) { c.topLeftEnabled = false; }); }, 2},
        {"always on, small ears",
         [this] {
             settings.keepOverlayAlwaysOn = true;
             settings.alwaysOnCornerRadius = 12;
         },
         3},
        {"a taller band", [this] { band = kBand + 6; }, 3},
    };
    const Size size{kWidth, kBand + kEars};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.set();
        auto view = makeView();
        showAtOnce();
        const auto area = view->paintedArea(size);
        EXPECT_EQ(area.size(), c.parts);
        const QImage image =
            renderView(size.width, size.height, [&](QPainter& p, Size s) { view->paint(p, s); });
        int outside = 0, inside = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y).alpha() == 0) continue;
                const Point centre{x + 0.5, y + 0.5};
                const bool covered =
                    std::any_of(area.begin(), area.end(), [&](const Rect& r) { return r.contains(centre); });
                ++(covered ? inside : outside);
            }
        }
        EXPECT_GT(inside, 0);
        EXPECT_EQ(outside, 0);
        presenter.shown = false;
    }
}
// Where the view says its next paint is opaque, a window leaves the old pixels there uncleared: painting
// over anything must then give what painting over clear pixels gives. The live band over a window says so,
// and a band that shows anything beneath it anywhere does not. Where it says a part's rows repeat its first
// row, a window paints that row only and copies it down: every row there must be the first, the edge
// stroke's curved ends left out; a band with rows of its own (a gradient, a mask) says nothing.
TEST_F(UnifiedOverlayViewTest, ItsOpaqueAreaIsCoveredAndItsRepeatedRowsRepeat) {
    const auto line = [](int alpha) {
        QImage image(64, 1, QImage::Format_RGBA8888_Premultiplied);
        for (int x = 0; x < 64; ++x)
            image.setPixelColor(x, 0, QColor::fromHsv(x * 5, 200, 200, x == 40 ? alpha : 255));
        return LiveLine{image, kWidth};
    };
    struct Case {
        const char* name;
        std::function<void()> set;  // on top of the cases before
        bool opaque;
        bool repeats;
        bool instant = true;  // shown at once, else revealed
    };
    const Case cases[] = {
        {"one colour", [] {}, true, true},
        {"while it is revealed", [] {}, false, false, false},
        {"live",
         [&] {
             settings.style = MenuBarStyle::live;
             sampler.liveLine = line(255);
         },
         true, true},
        {"live with the edge stroke", [&] { settings.strokeEnabled = true; }, true, true},
        {"a live line with a translucent pixel", [&] { sampler.liveLine = line(128); }, false, true},
        {"translucent",
         [&] {
             sampler.liveLine = line(255);
             settings.overlayOpacity = 0.9;
         },
         false, true},
        {"a gradient fading out",
         [&] {
             settings.overlayOpacity = 1.0;
             settings.style = MenuBarStyle::gradient;
             settings.gradientTopOpacity = 0.0;
         },
         false, false},
        {"black over an empty desktop",
         [&] {
             settings.keepOverlayAlwaysOn = true;
             settings.emptyDesktopMode = EmptyDesktopMode::black;
             sampler.isFilledWindowActive = false;
         },
         true, false},
        {"clear over an empty desktop", [&] { settings.emptyDesktopMode = EmptyDesktopMode::transparent; },
         false, false},
        {"cut to pills",
         [&] {
             settings.keepOverlayAlwaysOn = false;
             sampler.isFilledWindowActive = true;
             settings.style = MenuBarStyle::solid;
             changeCorners([](auto& c) { c.shapeMode = ShapeMode::pill; });
             settings.pillGeometryByScreen =
                 PillGeometryByScreen{{"A", PillGeometry{PillSpan{20, 120}, std::nullopt}}};
         },
         false, false},
    };
    const Size size{kWidth, kBand + kEars};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.set();
        auto view = makeView();
        presenter.revealInstant = c.instant;
        presenter.shown = true;
        if (c.instant) loop.advance(1.0);  // every colour where it heads
        const auto area = view->opaqueArea(size);
        EXPECT_EQ(!area.empty(), c.opaque);
        const QImage clean = paint(*view);
        QImage stale(clean.size(), QImage::Format_ARGB32_Premultiplied);
        stale.fill(QColor(0, 255, 0));
        {
            QPainter p(&stale);
            p.setClipRegion(QRegion(stale.rect()));
            for (const Rect& r : area)
                p.setClipRegion(p.clipRegion() - QRectF(r.x(), r.y(), r.width(), r.height()).toAlignedRect());
            p.setCompositionMode(QPainter::CompositionMode_Clear);
            p.fillRect(stale.rect(), Qt::transparent);
            p.setClipping(false);
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
            view->paint(p, size);
        }
        EXPECT_EQ(stale, clean) << "a pixel of the opaque area let the old one through";
        const auto repeated = view->repeatedArea(size);
        EXPECT_EQ(!repeated.empty(), c.repeats);
        for (const Rect& r : repeated) {
            const QRect rows(QPoint(int(std::ceil(r.minX())), int(std::ceil(r.minY()))),
                             QPoint(int(std::floor(r.maxX())) - 1, int(std::floor(r.maxY())) - 1));
            for (int y = rows.top() + 1; y <= rows.bottom(); ++y)
                EXPECT_EQ(clean.copy(rows.left(), y, rows.width(), 1),
                          clean.copy(rows.left(), rows.top(), rows.width(), 1))
                    << "row " << y << " of the part at x " << rows.left() << ", y " << rows.top();
        }
        presenter.shown = false;
        loop.advance(1.0);
    }
}

// Where the painter lands on whole device pixels, the ears, the edge stroke and the side lines are laid
// down from pictures made once (the live colours repaint them every frame); they must show what painting
// them directly does, at one and at two pixels a point, in dark and light inks of any strength (a
// picture of a side line made in the ink at full strength is laid down at the ink's opacity).
TEST_F(UnifiedOverlayViewTest, PicturesOfEarsAndHairlinesShowWhatPaintingThemDoes) {
    settings.strokeEnabled = true;
    struct Case {
        const char* name;
        Color colour;
        bool dark;
    };
    const Case cases[] = {
        {"light band, light scheme", Color::rgb(0.9, 0.85, 0.8), false},
        {"dark band, dark scheme", Color::rgb(0.1, 0.15, 0.3), true},
        {"mid band", Color::rgb(0.5, 0.45, 0.4), false},
    };
    const Size size{kWidth, kBand + kEars};
    for (const auto& c : cases) {
        for (const double scale : {1.0, 2.0}) {
            SCOPED_TRACE(std::string(c.name) + (scale > 1 ? ", two pixels a point" : ""));
            sampler.dominantColor = c.colour;
            sampler.liveLeftCornerColor = c.colour;
            sampler.liveRightCornerColor = c.colour;
            auto view = makeView();
            view->setDarkScheme(c.dark);
            showAtOnce();
            loop.advance(1.0);
            QImage pictures(int(size.width * scale), int(size.height * scale),
                            QImage::Format_ARGB32_Premultiplied);
            pictures.setDevicePixelRatio(scale);
            pictures.fill(Qt::transparent);
            {
                QPainter p(&pictures);
                view->paint(p, size);
            }
            // A shift far below a pixel's worth takes the painter off whole pixels: everything is painted.
            QImage direct(pictures.size(), QImage::Format_ARGB32_Premultiplied);
            direct.fill(Qt::transparent);
            {
                QPainter p(&direct);
                p.translate(1e-7, 1e-7);
                p.scale(scale, scale);
                view->paint(p, size);
            }
            // Premultiplied channels, as they are blended: a faint pixel's colour alone means little.
            int worst = 0;
            for (int y = 0; y < direct.height(); ++y)
                for (int x = 0; x < direct.width(); ++x) {
                    const QRgb a = pictures.pixel(x, y), b = direct.pixel(x, y);
                    worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                      std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
                }
            EXPECT_LE(worst, 2);
            presenter.shown = false;
            loop.advance(1.0);
        }
    }
}

}  // namespace
}  // namespace velaro::test
