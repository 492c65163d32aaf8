// The band view: the hairline ink table and its helpers, the colours it paints in each state, the
// empty-desktop backdrop, the notch fade, the edge stroke and the recolour timing.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "overlay/BarOverlayView.h"
#include "overlay/OverlayTestSupport.h"

namespace velaro::test {
namespace {

const Color grey50 = Color::rgb(0.5, 0.5, 0.5);

TEST(StrokeInkTest, ContrastShadeFollowsTheTable) {
    // Over black (L = 0): white, strong in the dark scheme, weak in the light one.
    EXPECT_EQ(contrastShade(false, true, 0), Color::white().withAlpha(0.1753));
    EXPECT_EQ(contrastShade(false, false, 0), Color::white().withAlpha(0.0765));
    // Over white: black.
    EXPECT_EQ(contrastShade(true, false, 1), Color::black().withAlpha(0.0765));
    // Low contrast raises the opacity, but never past the floor just under 0.4.
    EXPECT_DOUBLE_EQ(contrastShade(true, true, 0.45).alpha, 0.1753 / 0.45);
    EXPECT_DOUBLE_EQ(contrastShade(true, true, 0.1).alpha, 0.1753 / 0.39999997615814209);
    EXPECT_DOUBLE_EQ(contrastShade(false, false, 0.7).alpha, 0.0765 / 0.39999997615814209);
    // The scheme inks.
    EXPECT_NEAR(schemeInk(false).alpha, 0.0765 / 0.637, 1e-12);
    EXPECT_EQ(schemeInk(false).red, 0);
    EXPECT_NEAR(schemeInk(true).alpha, 0.1753 / 0.876, 1e-12);
    EXPECT_EQ(schemeInk(true).red, 1);
}

TEST(StrokeInkTest, LuminanceNeedsAnOpaqueReadableColour) {
    EXPECT_NEAR(*opaqueLuminance(Color::rgb(1, 0, 0)), 0.2126, 1e-12);
    EXPECT_TRUE(opaqueLuminance(Color::white().withAlpha(0.5)).has_value());
    EXPECT_FALSE(opaqueLuminance(Color::white().withAlpha(0.49)).has_value());
    EXPECT_FALSE(opaqueLuminance(Color::rgb(std::nan(""), 0, 0)).has_value());
    EXPECT_FALSE(opaqueLuminance(Color::rgb(0, 0, 0, std::nan(""))).has_value());
}

TEST(StrokeInkTest, DecisionUsesSinglePrecisionThresholdsAndTheKeptDecision) {
    EXPECT_TRUE(inkIsDark(0.61, false));
    EXPECT_FALSE(inkIsDark(0.39, true));
    // 0.6 itself lies below the threshold 0.6f, and 0.4 below 0.4f: the latter is light whatever is kept.
    EXPECT_FALSE(inkIsDark(0.6, false));
    EXPECT_TRUE(inkIsDark(0.6, std::nullopt));
    EXPECT_FALSE(inkIsDark(0.4, true));
    EXPECT_TRUE(inkIsDark(0.45, true));
    EXPECT_FALSE(inkIsDark(0.55, false));
    // Without a kept decision the middle splits at 0.5.
    EXPECT_TRUE(inkIsDark(0.5, std::nullopt));
    EXPECT_FALSE(inkIsDark(0.49, std::nullopt));
}

TEST(StrokeInkTest, NotchRectNeedsTheInsetAndBothAreas) {
    EXPECT_FALSE(notchRect(0, Rect(0, 0, 100, 30), Rect(200, 0, 100, 30), 0));
    EXPECT_FALSE(notchRect(32, std::nullopt, Rect(200, 0, 100, 30), 0));
    const auto notch = notchRect(32, Rect(1000, 0, 700, 32), Rect(1900, 0, 700, 32), 1000);
    ASSERT_TRUE(notch);
    EXPECT_EQ(*notch, QRectF(700, 0, 200, 32));
}

class BarOverlayViewTest : public OverlayViewTest {
protected:
    std::unique_ptr<MenuBarOverlayView> makeView(std::optional<RevealColorHold> held = std::nullopt) {
        auto view =
            std::make_unique<MenuBarOverlayView>(settings, sampler.feed(), clock, loop, std::move(held));
        return view;
    }
    void solidManual(Color color) {
        settings.style = MenuBarStyle::solid;
        settings.autoSample = false;
        settings.manualColor = color;
    }
    QImage paint(MenuBarOverlayView& view, double w = 200, double h = 24) {
        return renderView(w, h, [&](QPainter& p, Size s) { view.paint(p, s); });
    }
    static QColor q(const Color& c) { return toQColor(c); }
};

TEST_F(BarOverlayViewTest, InkFollowsTheFirstMatchingRowOfTheTable) {
    solidManual(Color::white());
    auto view = makeView();
    view->setDarkScheme(false);
    EXPECT_EQ(view->strokeInk(), Color::black().withAlpha(0.0765)) << "solid white: black ink";

    settings.manualColor = grey50;  // no kept decision for a chosen colour: 0.5 is dark
    EXPECT_EQ(view->strokeInk().red, 0);

    // A sampled solid colour keeps the sampler's decision in the middle band.
    settings.autoSample = true;
    sampler.dominantColor = grey50;
    sampler.strokeInkIsDark = false;
    EXPECT_EQ(view->strokeInk().red, 1);

    // Translucent overlays, gradients, drift and multicolour zones follow the scheme.
    settings.autoSample = false;
    settings.overlayOpacity = 0.9;
    EXPECT_EQ(view->strokeInk(), schemeInk(false));
    settings.overlayOpacity = 1.0;
    settings.blurEnabled = true;
    settings.styleOpacityOverBlur = 0.5;
    EXPECT_EQ(view->strokeInk(), schemeInk(false));
    settings.blurEnabled = false;
    auto drift = settings.hueDrift();
    drift.enabled = true;
    settings.hueDrift = drift;
    view->setDarkScheme(true);
    EXPECT_EQ(view->strokeInk(), schemeInk(true));
    drift.enabled = false;
    settings.hueDrift = drift;
    settings.style = MenuBarStyle::gradient;
    EXPECT_EQ(view->strokeInk(), schemeInk(true));

    // An empty desktop: black gives white ink over L = 0; transparent or blur follow the scheme.
    settings.style = MenuBarStyle::solid;
    settings.keepOverlayAlwaysOn = true;
    sampler.isFilledWindowActive = false;
    settings.emptyDesktopMode = EmptyDesktopMode::black;
    EXPECT_EQ(view->strokeInk(), Color::white().withAlpha(0.1753));
    view->setDarkScheme(false);
    EXPECT_EQ(view->strokeInk(), Color::white().withAlpha(0.0765));
    settings.emptyDesktopMode = EmptyDesktopMode::blur;
    EXPECT_EQ(view->strokeInk(), schemeInk(false));
}

TEST_F(BarOverlayViewTest, LiveInkUsesTheLiveOrHeldColourOnlyWithSomethingToShow) {
    settings.style = MenuBarStyle::live;
    sampler.dominantColor = Color::white();
    auto view = makeView();
    EXPECT_EQ(view->strokeInk(), schemeInk(false)) << "no line and no strip: nothing decides";

    sampler.zoneColors = std::vector<Color>{Color::white(), Color::white()};
    EXPECT_EQ(view->strokeInk().red, 0) << "a strip of two: the dominant colour decides";
    sampler.channelDominant = Color::black();  // the screen's channel wins over the sampler
    EXPECT_EQ(view->strokeInk().red, 1);

    // A held colour with a line decides by itself, without the kept decision.
    RevealColorHold held{grey50, {}, LiveLine{QImage(4, 1, QImage::Format_RGB32), 100}, {}, {}};
    sampler.strokeInkIsDark = false;
    auto heldView = makeView(held);
    EXPECT_EQ(heldView->strokeInk().red, 0);
    // Held without a line while a line exists now: the scheme. A new hold comes with a view of its own.
    held.line.reset();
    sampler.channelLine = LiveLine{QImage(4, 1, QImage::Format_RGB32), 100};
    heldView = makeView(held);
    EXPECT_EQ(heldView->strokeInk(), schemeInk(false));
    // Held without a line, no line now, a strip of two: the held colour.
    sampler.channelLine = std::nullopt;
    EXPECT_EQ(heldView->strokeInk().red, 0);
    sampler.zoneColors = std::vector<Color>{};
    EXPECT_EQ(heldView->strokeInk(), schemeInk(false));
}

TEST_F(BarOverlayViewTest, HeldColourReplacesEveryLiveValue) {
    settings.style = MenuBarStyle::live;
    sampler.dominantColor = Color::rgb(1, 0, 0);
    sampler.zoneColors = std::vector<Color>{Color::rgb(1, 0, 0), Color::rgb(1, 0, 0)};
    QImage live(2, 1, QImage::Format_RGB32);
    live.fill(Qt::red);
    sampler.liveLine = LiveLine{live, 200};
    const Color held = Color::rgb(0, 0, 1);
    auto view = makeView(RevealColorHold{held, {held, held}, std::nullopt, held, held});
    EXPECT_EQ(view->solidColor(), held);
    EXPECT_EQ(view->sampledZoneColors(), (std::vector<Color>{held, held}));
    EXPECT_FALSE(view->liveLine());
    const auto image = paint(*view);
    EXPECT_TRUE(pixelNear(image, 100, 12, Qt::blue));
}

TEST_F(BarOverlayViewTest, PaintsTheFillAtTheOverlayOpacityOnce) {
    solidManual(Color::rgb(0, 0.5, 0));
    settings.overlayOpacity = 0.5;
    settings.strokeEnabled = false;
    auto view = makeView();
    const auto image = paint(*view);
    const QColor pixel = image.pixelColor(100, 12);
    EXPECT_NEAR(pixel.alpha(), 128, 1);
    EXPECT_NEAR(pixel.green(), 128, 2);

    // Over blur the style's own opacity multiplies in, and the backdrop shows under it.
    QImage backdrop(8, 2, QImage::Format_RGB32);
    backdrop.fill(Qt::white);
    sampler.blurredBackdropImage = BackdropImage{backdrop, {200, 24}};
    settings.overlayOpacity = 1.0;
    settings.blurEnabled = true;
    settings.styleOpacityOverBlur = 0.5;
    view->refresh();
    loop.advance(0.35);
    const QColor over = paint(*view).pixelColor(100, 12);
    EXPECT_EQ(over.alpha(), 255);
    EXPECT_NEAR(over.red(), 128, 2) << "half white backdrop, half dark green";
}

TEST_F(BarOverlayViewTest, EmptyDesktopShowsItsBackdropInsteadOfTheFill) {
    solidManual(Color::rgb(1, 0, 0));
    settings.strokeEnabled = false;
    settings.keepOverlayAlwaysOn = true;
    settings.emptyDesktopMode = EmptyDesktopMode::black;
    sampler.isFilledWindowActive = false;
    auto view = makeView();
    EXPECT_TRUE(view->isEmptyDesktop());
    EXPECT_TRUE(pixelNear(paint(*view), 100, 12, Qt::black));

    settings.emptyDesktopMode = EmptyDesktopMode::blur;  // no blurred image anywhere: clear
    EXPECT_EQ(paint(*view).pixelColor(100, 12).alpha(), 0);

    // A window fills the top again: the fill fades back in over 0.25 s.
    sampler.isFilledWindowActive = true;
    view->refresh();
    loop.advance(0.1);
    const int midway = paint(*view).pixelColor(100, 12).alpha();
    EXPECT_GT(midway, 10);
    EXPECT_LT(midway, 245);
    loop.advance(0.2);
    EXPECT_TRUE(pixelNear(paint(*view), 100, 12, Qt::red));
}

TEST_F(BarOverlayViewTest, RecolourSnapsInsideTheSnapWindowAndEasesOutsideIt) {
    settings.style = MenuBarStyle::solid;
    settings.autoSample = true;
    settings.strokeEnabled = false;
    sampler.dominantColor = Color::black();
    auto view = makeView();
    int repaints = 0;
    view->setOnNeedsDisplay([&] { ++repaints; });

    // Outside the window: ease-in-out over 0.25 s.
    sampler.dominantColor = Color::white();
    view->refresh();
    EXPECT_TRUE(view->isAnimating());
    loop.advance(0.125);
    const int half = paint(*view).pixelColor(100, 12).red();
    EXPECT_GT(half, 60);
    EXPECT_LT(half, 200);
    loop.advance(0.2);
    EXPECT_FALSE(view->isAnimating());
    EXPECT_TRUE(pixelNear(paint(*view), 100, 12, Qt::white));
    EXPECT_GT(repaints, 5) << "each animation step asks for a repaint";

    // Inside the window: at once.
    sampler.recolorSnapUntil = loop.uptime() + 1.0;
    sampler.dominantColor = Color::rgb(0, 0, 1);
    view->refresh();
    EXPECT_FALSE(view->isAnimating());
    EXPECT_TRUE(pixelNear(paint(*view), 100, 12, Qt::blue));
}

TEST_F(BarOverlayViewTest, ChangeOfStyleCrossFadesOverAQuarterSecond) {
    solidManual(Color::rgb(1, 0, 0));
    settings.strokeEnabled = false;
    settings.gradientTopColor = Color::rgb(0, 0, 1);
    settings.gradientBottomColor = Color::rgb(0, 0, 1);
    settings.gradientTopOpacity = 1.0;
    settings.gradientBottomOpacity = 1.0;
    auto view = makeView();
    EXPECT_TRUE(pixelNear(paint(*view), 100, 12, Qt::red));

    settings.style = MenuBarStyle::gradient;
    settings.autoSample = false;
    view->refresh();
    EXPECT_TRUE(pixelNear(paint(*view), 100, 12, Qt::red)) << "the old style shows first";
    loop.advance(0.125);
    const QColor midway = paint(*view).pixelColor(100, 12);
    EXPECT_GT(midway.red(), 40);
    EXPECT_GT(midway.blue(), 40);
    loop.advance(0.2);
    EXPECT_FALSE(view->isAnimating());
    EXPECT_TRUE(pixelNear(paint(*view), 100, 12, Qt::blue));
}

TEST_F(BarOverlayViewTest, UniformDriftPaintsTheClockColourAndMovesLinearly) {
    solidManual(Color::black());
    settings.strokeEnabled = false;
    auto drift = settings.hueDrift();
    drift.enabled = true;
    drift.variant = OverlayHueDrift::Variant::uniform;
    drift.periodSeconds = 1.0;
    settings.hueDrift = drift;
    auto view = makeView();
    EXPECT_EQ(view->baseColor(), HueDriftClock::rainbow()[0]);
    EXPECT_TRUE(pixelNear(paint(*view), 100, 12, q(HueDriftClock::rainbow()[0])));

    clock.setRunning(true);
    loop.advance(1.05);
    clock.setRunning(false);
    view->refresh();
    const Color target = clock.color(clock.phase().value());
    EXPECT_EQ(hexString(target), "#FFC619") << "one step on";
    loop.advance(0.05);  // linear: halfway after half of 0.1 s
    EXPECT_TRUE(
        pixelNear(paint(*view), 100, 12, q(interpolated(HueDriftClock::rainbow()[0], target, 0.5)), 3));
    loop.advance(0.06);
    EXPECT_TRUE(pixelNear(paint(*view), 100, 12, q(target), 1));
}

TEST_F(BarOverlayViewTest, EdgeStrokeDrawsTheTopLineAndFadingSides) {
    solidManual(Color::black());
    settings.strokeEnabled = true;
    settings.strokeCurveRadius = 0;
    settings.strokeFadeLength = 24;
    auto corners = settings.corners();
    corners.topLeftEnabled = false;  // the left side fades, the right side (a rounded corner) does not
    settings.corners = corners;
    auto view = makeView();
    view->setDarkScheme(true);
    const auto image = paint(*view);
    // White ink at 0.1753 over black: about 45 on every channel.
    EXPECT_NEAR(image.pixelColor(100, 0).red(), 45, 2);
    EXPECT_EQ(image.pixelColor(100, 1).red(), 0);
    EXPECT_NEAR(image.pixelColor(0, 2).red(), 42, 4);
    EXPECT_LT(image.pixelColor(0, 22).red(), 6) << "the left side has faded by the bottom";
    EXPECT_NEAR(image.pixelColor(199, 22).red(), 45, 2) << "the right side runs solid to the bottom";

    // A radius larger than the band is limited to H − 2, and the top line curves away from the corners.
    settings.strokeCurveRadius = 100;
    const auto curved = paint(*view);
    EXPECT_EQ(curved.pixelColor(2, 0).red(), 0);
    EXPECT_NEAR(curved.pixelColor(100, 0).red(), 45, 2);
    EXPECT_EQ(curved.pixelColor(0, 10).red(), 0) << "the side starts below the curve (at r + 0.5 = 22.5)";
}

TEST_F(BarOverlayViewTest, NotchFadeClearsTheBandAcrossTheNotchOnly) {
    solidManual(Color::rgb(1, 0, 0));
    settings.strokeEnabled = false;
    settings.notchFadeEnabled = true;
    settings.notchFadeDistance = 10;
    auto view = makeView();
    view->setNotchRect(QRectF(80, 0, 40, 24));
    const auto image = paint(*view);
    EXPECT_TRUE(pixelNear(image, 20, 12, Qt::red));
    EXPECT_EQ(image.pixelColor(100, 12).alpha(), 0);
    const int fading = image.pixelColor(75, 12).alpha();
    EXPECT_GT(fading, 60);
    EXPECT_LT(fading, 200);
    EXPECT_TRUE(pixelNear(image, 180, 12, Qt::red));

    // Without a notch the setting does nothing.
    view->setNotchRect(std::nullopt);
    EXPECT_TRUE(pixelNear(paint(*view), 100, 12, Qt::red));
}

TEST_F(BarOverlayViewTest, NotchStrokeOutlinesTheNotchAndFadesOutAlongTheTop) {
    solidManual(Color::black());
    settings.strokeEnabled = false;
    settings.notchStrokeEnabled = true;
    settings.notchStrokeTopRadius = 4;
    settings.notchStrokeBottomRadius = 4;
    settings.notchStrokeXOffset = 0;
    settings.notchStrokeWidthAdjust = 0;
    settings.notchStrokeHeight = 0;
    auto view = makeView();
    view->setDarkScheme(true);
    EXPECT_EQ(paint(*view).pixelColor(80, 12).red(), 0) << "no notch, no stroke";

    view->setNotchRect(QRectF(80, 0, 40, 20));
    const auto image = paint(*view);
    // The sides lie inside the fade that runs from 4 pt beyond each top corner to its radius inside.
    EXPECT_NEAR(image.pixelColor(80, 10).red(), 45 * 8.5 / 12, 3) << "down the notch's left side";
    EXPECT_NEAR(image.pixelColor(119, 10).red(), 45 * 8.5 / 12, 3) << "and its right side";
    EXPECT_NEAR(image.pixelColor(100, 19).red(), 45, 3) << "along its bottom";
    EXPECT_EQ(image.pixelColor(100, 10).red(), 0) << "the notch itself stays unpainted";
    EXPECT_EQ(image.pixelColor(60, 0).red(), 0) << "the ends fade out beyond the corners";
}

TEST(RecolourTiming, DependsOnTheSnapWindowAndTheDrift) {
    EXPECT_FALSE(recolorAnimation(10, 10.5, false));
    EXPECT_FALSE(recolorAnimation(10, 10.5, true));
    const auto eased = recolorAnimation(10, 10, false);
    ASSERT_TRUE(eased);
    EXPECT_EQ(eased->duration, 0.25);
    EXPECT_EQ(eased->curve, TimingCurve::easeInEaseOut);
    const auto drift = recolorAnimation(10, 0, true);
    ASSERT_TRUE(drift);
    EXPECT_EQ(drift->duration, 0.1);
    EXPECT_EQ(drift->curve, TimingCurve::linear);
}

}  // namespace
}  // namespace velaro::test
