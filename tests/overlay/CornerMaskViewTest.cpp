// The corner view: which corners show the backdrop, the edge stroke and the arc, the ink of the edge
// stroke, the arc's taper, and the ear in rendered pixels.
#include <gtest/gtest.h>

#include <functional>
#include <numbers>

#include "overlay/BarOverlayView.h"
#include "overlay/CornerMaskView.h"
#include "overlay/OverlayTestSupport.h"

namespace velaro::test {
namespace {

class CornerMaskViewTest : public OverlayViewTest {
protected:
    std::unique_ptr<CornerMaskView> makeView(ScreenCorner corner) {
        return std::make_unique<CornerMaskView>(corner, settings, sampler.feed(), clock, loop);
    }
    void changeCorners(auto change) {
        auto corners = settings.corners();
        change(corners);
        settings.corners = corners;
    }
    QImage paint(CornerMaskView& view, double size = 28) {
        return renderView(size, size, [&](QPainter& p, Size s) { view.paint(p, s); });
    }
};

TEST_F(CornerMaskViewTest, EarTakesTheCornerColourInsideTheArcOnly) {
    sampler.liveLeftCornerColor = Color::rgb(1, 0, 0);
    sampler.channelLeftCorner = Color::rgb(0, 0, 1);  // the screen's channel wins
    settings.strokeEnabled = false;
    auto view = makeView(ScreenCorner::topLeft);
    EXPECT_EQ(view->cornerOverlayColor(), Color::rgb(0, 0, 1));
    const auto image = paint(*view);
    EXPECT_TRUE(pixelNear(image, 1, 1, Qt::blue));
    EXPECT_EQ(image.pixelColor(20, 20).alpha(), 0) << "inside the arc the corner is see-through";

    // Bottom corners never take the overlay's colour: black by default, custom when chosen.
    auto bottom = makeView(ScreenCorner::bottomRight);
    EXPECT_TRUE(pixelNear(paint(*bottom), 27, 27, Qt::black));
    changeCorners([](auto& c) {
        c.bottomRightColorMode = BottomColorMode::custom;
        c.bottomRightCustomColorHex = "#00FF00";
        c.bottomLinked = false;
    });
    bottom->refresh();
    loop.advance(0.3);
    EXPECT_TRUE(pixelNear(paint(*bottom), 27, 27, Qt::green));
    EXPECT_EQ(paint(*bottom).pixelColor(5, 5).alpha(), 0);

    // A corner switched off draws nothing at all.
    changeCorners([](auto& c) { c.bottomRightEnabled = false; });
    EXPECT_EQ(bottom->radius(), 0);
    EXPECT_FALSE(bottom->showsArc());
    EXPECT_EQ(paint(*bottom).pixelColor(27, 27).alpha(), 0);
}

TEST_F(CornerMaskViewTest, DriftColoursTheMenuBarCorners) {
    settings.style = MenuBarStyle::solid;
    settings.autoSample = false;
    auto drift = settings.hueDrift();
    drift.enabled = true;
    drift.variant = OverlayHueDrift::Variant::scroll;
    settings.hueDrift = drift;
    auto left = makeView(ScreenCorner::topLeft);
    auto right = makeView(ScreenCorner::topRight);
    EXPECT_EQ(left->cornerOverlayColor(), clock.scrollColor(0));
    EXPECT_EQ(right->cornerOverlayColor(), clock.scrollColor(1));
    drift.variant = OverlayHueDrift::Variant::uniform;
    settings.hueDrift = drift;
    EXPECT_EQ(right->cornerOverlayColor(), clock.color(clock.phase().value()));
}

TEST_F(CornerMaskViewTest, EdgeStrokeInkContrastsWithAnOpaqueFill) {
    auto view = makeView(ScreenCorner::topLeft);
    view->setDarkScheme(true);
    sampler.liveLeftCornerColor = Color::black();
    EXPECT_EQ(view->strokeInk(), Color::white().withAlpha(0.1753));
    sampler.liveLeftCornerColor = Color::white();
    EXPECT_EQ(view->strokeInk().red, 0);
    sampler.liveLeftCornerColor = Color::rgb(0.5, 0.5, 0.5);
    sampler.strokeInkIsDark = true;
    EXPECT_EQ(view->strokeInk().red, 0);
    sampler.strokeInkIsDark = false;
    EXPECT_EQ(view->strokeInk().red, 1);

    // A translucent corner follows the scheme.
    settings.overlayOpacity = 0.8;
    EXPECT_EQ(view->strokeInk(), schemeInk(true));
    view->setDarkScheme(false);
    EXPECT_EQ(view->strokeInk(), schemeInk(false));
}

TEST_F(CornerMaskViewTest, EdgeStrokeOnlyBelowTheMenuBarCornersAndFades) {
    settings.strokeEnabled = true;
    settings.strokeFadeLength = 0;
    sampler.liveLeftCornerColor = Color::black();
    sampler.liveRightCornerColor = Color::black();
    auto left = makeView(ScreenCorner::topLeft);
    left->setDarkScheme(true);
    // A window taller than the ear: solid ink down the whole left edge, over the ear at the top and over
    // nothing below it.
    auto image = paint(*left, 40);
    EXPECT_NEAR(image.pixelColor(0, 1).red(), 45, 2);
    EXPECT_NEAR(image.pixelColor(0, 38).alpha(), 45, 2);
    EXPECT_EQ(image.pixelColor(1, 38).alpha(), 0);

    settings.strokeFadeLength = 100;  // a fade longer than the window starts at the very top
    image = paint(*left, 40);
    EXPECT_LT(image.pixelColor(0, 38).alpha(), 6);
    EXPECT_NEAR(image.pixelColor(0, 30).alpha(), 11, 3);

    settings.strokeFadeLength = 0;
    auto right = makeView(ScreenCorner::topRight);
    right->setDarkScheme(true);
    image = paint(*right);
    EXPECT_NEAR(image.pixelColor(27, 1).red(), 45, 2);
    EXPECT_EQ(image.pixelColor(0, 1).red(), 0);

    // A bottom corner has no edge stroke (and no backdrop).
    settings.blurEnabled = true;
    settings.blurTopCorners = true;
    auto bottom = makeView(ScreenCorner::bottomLeft);
    EXPECT_FALSE(bottom->showsBlurBackdrop());
    EXPECT_TRUE(left->showsBlurBackdrop());
    image = paint(*bottom);
    EXPECT_EQ(image.pixelColor(0, 2).red(), 0);
}

TEST_F(CornerMaskViewTest, ArcOnlyOnBottomCornersStackedAbove) {
    changeCorners([](auto& c) { c.arcStrokeEnabled = true; });
    settings.cornerBottomLeftZ = BottomCornerZ::above;
    auto bottom = makeView(ScreenCorner::bottomLeft);
    EXPECT_TRUE(bottom->showsArc());
    settings.cornerBottomLeftZ = BottomCornerZ::belowActive;
    EXPECT_FALSE(bottom->showsArc());
    settings.cornerBottomLeftZ = BottomCornerZ::wallpaper;
    EXPECT_FALSE(bottom->showsArc());
    settings.cornerBottomLeftZ = BottomCornerZ::above;
    EXPECT_FALSE(makeView(ScreenCorner::topLeft)->showsArc());

    // The arc hairline is the scheme ink, drawn half a point inside the ear's edge, tapered at both ends.
    bottom->setDarkScheme(true);
    EXPECT_DOUBLE_EQ(bottom->arcCentrelineRadius(), 27.5);
    const auto image = paint(*bottom);
    // Along the centre line at 45°: centre (28, 0), radius 27.5 → (8.6, 19.4).
    // A point of the centre line a fraction t along the sweep from straight below the centre (28, 0).
    auto along = [&](double t) {
        const double a = std::numbers::pi / 2 * (1 + t);
        return image.pixelColor(int(28 + 27.5 * std::cos(a)), int(27.5 * std::sin(a)));
    };
    EXPECT_GT(along(0.5).alpha(), 40) << "the hairline shows in the middle";
    EXPECT_GT(along(0.5).red(), 100) << "in white ink";
    EXPECT_LT(along(0.02).alpha(), 16) << "and tapers away at its start";
    EXPECT_LT(along(0.99).alpha(), 16) << "and at its end";
}

TEST_F(CornerMaskViewTest, ArcTaperIsFivePointsCappedAtAThirdOfTheSweep) {
    changeCorners([](auto& c) {
        c.arcStrokeEnabled = true;
        c.bottomRadius = 4;
    });
    auto view = makeView(ScreenCorner::bottomRight);
    EXPECT_DOUBLE_EQ(view->arcCentrelineRadius(), 3.5);
    auto stops = view->arcGradientStops();
    ASSERT_EQ(stops.size(), 4u);
    EXPECT_DOUBLE_EQ(stops[1].location, 0.35);
    EXPECT_DOUBLE_EQ(stops[2].location, 0.65);
    EXPECT_EQ(stops[0].color.alpha, 0);
    EXPECT_EQ(stops[3].color.alpha, 0);

    changeCorners([](auto& c) { c.bottomRadius = 28; });
    stops = view->arcGradientStops();
    EXPECT_NEAR(stops[1].location, 5 / (27.5 * std::numbers::pi / 2), 1e-12);
    changeCorners([](auto& c) { c.bottomRadius = 0.6; });
    EXPECT_DOUBLE_EQ(view->arcCentrelineRadius(), 0.3);
}

TEST_F(CornerMaskViewTest, BlurredCornerShowsTheBackdropUnderTheColour) {
    settings.blurEnabled = true;
    settings.blurTopCorners = true;
    settings.styleOpacityOverBlur = 0.5;
    settings.strokeEnabled = false;
    sampler.liveRightCornerColor = Color::black();
    auto view = makeView(ScreenCorner::topRight);
    EXPECT_DOUBLE_EQ(view->fillOpacity(), 0.5);
    // No image yet: only the colour layer.
    EXPECT_NEAR(paint(*view).pixelColor(27, 0).alpha(), 128, 2);

    QImage frost(4, 4, QImage::Format_RGB32);
    frost.fill(Qt::white);
    sampler.blurredTopRightCorner = BackdropImage{frost, {28, 28}};
    const QColor pixel = paint(*view).pixelColor(27, 0);
    EXPECT_EQ(pixel.alpha(), 255);
    EXPECT_NEAR(pixel.red(), 128, 2);
}

TEST_F(CornerMaskViewTest, FillRecolourSnapsInsideTheSnapWindow) {
    settings.strokeEnabled = false;
    sampler.liveLeftCornerColor = Color::black();
    auto view = makeView(ScreenCorner::topLeft);
    sampler.liveLeftCornerColor = Color::white();
    view->refresh();
    EXPECT_TRUE(view->isAnimating());
    loop.advance(0.3);
    EXPECT_TRUE(pixelNear(paint(*view), 1, 1, Qt::white));

    sampler.recolorSnapUntil = loop.uptime() + 0.5;
    sampler.liveLeftCornerColor = Color::rgb(1, 0, 0);
    view->refresh();
    EXPECT_FALSE(view->isAnimating());
    EXPECT_TRUE(pixelNear(paint(*view), 1, 1, Qt::red));
}

// The band's colours change every frame while a bottom corner shows only black: such refreshes must not
// repaint it, while every input the corner does show still does.
TEST_F(CornerMaskViewTest, ARefreshAsksForARepaintOnlyWhenWhatTheCornerShowsChanged) {
    sampler.liveLeftCornerColor = Color::black();
    auto top = makeView(ScreenCorner::topLeft);
    auto bottom = makeView(ScreenCorner::bottomRight);
    int topRepaints = 0, bottomRepaints = 0;
    top->setOnNeedsDisplay([&] { ++topRepaints; });
    bottom->setOnNeedsDisplay([&] { ++bottomRepaints; });
    top->refresh();
    bottom->refresh();
    loop.advance(1);
    struct Step {
        const char* what;
        std::function<void()> change;
        bool top, bottom;  // whether each corner repaints
    };
    const std::vector<Step> steps = {
        {"nothing changed", [] {}, false, false},
        {"the band's dominant colour", [&] { sampler.dominantColor = Color::rgb(0.2, 0.4, 0.6); }, false, false},
        {"the left corner's colour", [&] { sampler.liveLeftCornerColor = Color::rgb(1, 0, 0); }, true, false},
        {"the stroke switched off", [&] { settings.strokeEnabled = false; }, true, false},
        {"the bottom corner's custom colour",
         [&] {
             changeCorners([](auto& c) {
                 c.bottomRightColorMode = BottomColorMode::custom;
                 c.bottomRightCustomColorHex = "#00FF00";
                 c.bottomLinked = false;
             });
         },
         false, true},
        {"the scheme turned dark", [&] { bottom->setDarkScheme(true); }, false, true},
    };
    for (const auto& step : steps) {
        topRepaints = bottomRepaints = 0;
        step.change();
        top->refresh();
        bottom->refresh();
        loop.advance(1);  // any animation runs out
        EXPECT_EQ(topRepaints > 0, step.top) << step.what;
        EXPECT_EQ(bottomRepaints > 0, step.bottom) << step.what;
    }
}

}  // namespace
}  // namespace velaro::test
