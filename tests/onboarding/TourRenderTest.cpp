// The tour's pages drawn offscreen and read at known pixels: backgrounds, the gradient headline, the running
// badge and help button, a disabled Next, the welcome entrance, and the window's size rule.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QResizeEvent>
#include <optional>

#include "onboarding/OnboardingWindowController.h"
#include "onboarding/PermissionsPage.h"
#include "onboarding/TourCard.h"
#include "onboarding/TourControls.h"
#include "onboarding/TourEntrance.h"
#include "onboarding/TourPainting.h"
#include "onboarding/TourTestRig.h"
#include "onboarding/WelcomePage.h"
#include "support/WidgetSearch.h"

namespace velaro {
namespace {

using test::near;
using test::pixelAt;
using test::render;
using test::TourRig;

// Whether some pixel of `rect` (points) is close to `colour`.
bool anyNear(const QImage& image, const QRectF& rect, QColor colour, int tolerance) {
    const qreal s = image.devicePixelRatio();
    for (int y = int(rect.top() * s); y < int(rect.bottom() * s); ++y)
        for (int x = int(rect.left() * s); x < int(rect.right() * s); ++x)
            if (near(image.pixelColor(x, y), colour, tolerance)) return true;
    return false;
}

TEST(TourRender, WelcomeShowsItsGradientAndTheHeadlineOnceAtRest) {
    TourRig rig;
    auto& view = rig.open();
    rig.loop.advance(1.5);
    for (const qreal scale : {1.0, 2.0}) {
        const QImage shot = render(view, scale);
        // The page's gradient runs from orange at the top right to red-orange at the bottom left.
        const QColor topRight = pixelAt(shot, {745, 30});
        const QColor bottomLeft = pixelAt(shot, {5, 495});
        EXPECT_GT(topRight.green(), bottomLeft.green()) << scale;
        EXPECT_GT(topRight.red(), 200);
        // The first line's letters are near-white across the middle of the page.
        EXPECT_TRUE(anyNear(shot, QRectF(250, 235, 250, 25), QColor(245, 245, 245), 20)) << scale;
        // "Let’s Start" is in place: its dark ink at the capsule's left end.
        EXPECT_TRUE(near(pixelAt(shot, {335, 425.5}), QColor(24, 7, 1), 12)) << scale;
    }
}

TEST(TourRender, WelcomeLinesAreHiddenBeforeTheirEntrance) {
    TourRig rig;
    auto& view = rig.open();
    const QImage shot = render(view);
    EXPECT_FALSE(anyNear(shot, QRectF(250, 235, 250, 25), QColor(245, 245, 245), 20));
}

// Where a row's badge or button sits: beside its title, anywhere along the card's text column.
QRectF besideTitle(double rowTop) {
    return QRectF(450, rowTop + 16, 225, 14);
}

TEST(TourRender, PermissionsHeadlineRunningBadgesHelpButtonsAndDisabledNext) {
    TourRig rig;
    rig.permissions[Capability::x11Session] = false;
    rig.permissions[Capability::compositor] = false;
    auto& view = rig.open(OnboardingStep::permissions);
    const QImage shot = render(view, 2.0);

    // The headline's letters carry the accent gradient; the ground beneath them is near black.
    const QRectF headline(69, 210, 150, 44);
    EXPECT_TRUE(anyNear(shot, headline, tour::accentStart.toRgb(), 20) ||
                anyNear(shot, headline, tour::accentEnd.toRgb(), 20));
    EXPECT_TRUE(near(pixelAt(shot, {30, 380}), QColor(19, 8, 0), 12));

    // The rows from the top: X11 session, compositor, media player, sound server. Running ones show the
    // green badge; missing ones an accent button.
    EXPECT_FALSE(anyNear(shot, besideTitle(66), tour::granted.toRgb(), 10));
    EXPECT_TRUE(anyNear(shot, besideTitle(66), tour::accentEnd.toRgb(), 30));
    EXPECT_FALSE(anyNear(shot, besideTitle(140), tour::granted.toRgb(), 10));
    EXPECT_TRUE(anyNear(shot, besideTitle(214), tour::granted.toRgb(), 10));
    EXPECT_TRUE(anyNear(shot, besideTitle(288), tour::granted.toRgb(), 10));

    // Next is drawn at 0.4 over the ground: its capsule is a dim orange until the session is there.
    const QColor disabled = pixelAt(shot, {615, 425.5});
    rig.permissions[Capability::x11Session] = true;
    rig.permissions[Capability::compositor] = true;
    rig.loop.advance(1.0);
    const QImage after = render(view, 2.0);
    EXPECT_TRUE(anyNear(after, besideTitle(140), tour::granted.toRgb(), 10)) << "the compositor turned green";
    const QColor enabled = pixelAt(after, {615, 425.5});
    EXPECT_TRUE(near(enabled, QColor(255, 100, 1), 25)) << enabled.name().toStdString();
    const QColor ground = pixelAt(after, {615, 395});
    for (const auto& [d, e, g] : {std::tuple{disabled.red(), enabled.red(), ground.red()},
                                  std::tuple{disabled.green(), enabled.green(), ground.green()}})
        EXPECT_NEAR(d, g + 0.4 * (e - g), 12);
}

// Light text pixels (the detail grey, never the orange or dark ground) in `rect`.
int textPixels(const QImage& image, const QRectF& rect) {
    int count = 0;
    const qreal s = image.devicePixelRatio();
    for (int y = int(rect.top() * s); y < int(rect.bottom() * s); ++y)
        for (int x = int(rect.left() * s); x < int(rect.right() * s); ++x)
            count += image.pixelColor(x, y).blue() > 110;
    return count;
}

TEST(TourRender, DetailLinesStayInsideTheirCards) {
    // The longest detail line of each page, by its card's top-left; the lines run 32 to 52 pt below it.
    struct Case {
        OnboardingStep step;
        QPointF card;
        std::optional<Capability> missing = std::nullopt;
    };
    for (const auto& c : {Case{OnboardingStep::permissions, {390, 66}},
                          Case{OnboardingStep::permissions, {390, 288}, Capability::soundServer},
                          Case{OnboardingStep::allSet, {390, 321.5}}}) {
        TourRig rig;
        if (c.missing) rig.permissions[*c.missing] = false;
        auto& view = rig.open(c.step);
        rig.loop.advance(2);
        for (const qreal scale : {1.0, 2.0}) {
            const QImage shot = render(view, scale);
            const double top = c.card.y() + 32, right = c.card.x() + TourCard::size.width();
            EXPECT_GT(textPixels(shot, QRectF(right - 90, top, 78, 20)), 20) << "the line is drawn";
            EXPECT_EQ(textPixels(shot, QRectF(right - 11, top, 40, 20)), 0)
                << "past the card's text column, step " << int(c.step) << " scale " << scale;
        }
    }
}

TEST(TourRender, TheMiniaturePanelsClockEndsInsideItsStrip) {
    // The strip over the All Set cards runs from x 390 to 676.5, y 74 to 90; the clock sits at its right end,
    // after the last status glyph (617.6 to 624.1).
    TourRig rig;
    auto& view = rig.open(OnboardingStep::allSet);
    rig.loop.advance(2);
    for (const qreal scale : {1.0, 2.0}) {
        const QImage shot = render(view, scale);
        EXPECT_GT(textPixels(shot, QRectF(640, 75, 28, 14)), 10) << "the clock is drawn, scale " << scale;
        EXPECT_EQ(textPixels(shot, QRectF(673, 75, 8, 14)), 0) << "past the clock's end, scale " << scale;
        EXPECT_EQ(textPixels(shot, QRectF(625, 75, 4.5, 14)), 0)
            << "between the last status glyph and the clock, scale " << scale;
    }
}

TEST(TourRender, MissingArtworkLeavesItsLayerEmpty) {
    EXPECT_TRUE(tour::artwork(QStringLiteral("NoSuchArtwork"), {750, 500}, 1).isNull());
    EXPECT_FALSE(tour::artwork(QStringLiteral("TourWelcomeLogo"), {750, 500}, 1).isNull());
    QImage page(100, 100, QImage::Format_ARGB32_Premultiplied);
    page.fill(Qt::black);
    QPainter painter(&page);
    tour::PageArtwork missing(QStringLiteral("NoSuchArtwork"));
    missing.draw(painter, 1);
    painter.end();
    EXPECT_EQ(page.pixelColor(50, 50), QColor(Qt::black));
}

TEST(TourRender, EntranceFadesBlursAndLowersThePiece) {
    const tour::PieceImage piece = tour::renderPiece(
        QRectF(100, 100, 40, 20), 2, [](QPainter& p) { p.fillRect(QRectF(100, 100, 40, 20), Qt::white); });
    auto draw = [&](double progress) {
        QImage page(600, 400, QImage::Format_ARGB32_Premultiplied);
        page.setDevicePixelRatio(2);
        page.fill(Qt::black);
        QPainter painter(&page);
        tour::paintEntrance(painter, piece, progress);
        return page;
    };
    const QImage rest = draw(1.0), half = draw(0.5), start = draw(0.0);
    EXPECT_EQ(pixelAt(rest, {120, 110}), QColor(Qt::white));
    EXPECT_EQ(pixelAt(rest, {120, 125}), QColor(Qt::black));
    EXPECT_EQ(pixelAt(start, {120, 110}), QColor(Qt::black)) << "transparent at the start";
    // Half way: 8 points lower, half opaque, and its edge soft.
    const QColor middle = pixelAt(half, {120, 118});
    EXPECT_NEAR(middle.red(), 128, 20);
    EXPECT_GT(pixelAt(half, {120, 127.5}).red(), 5) << "the lowered piece spills past its old foot";
    EXPECT_LT(pixelAt(half, {120, 127.5}).red(), middle.red());
}

TEST(TourWindow, FixedAtItsSizeAndAsksOncePerImposedSize) {
    TourWindow window([] {});
    EXPECT_EQ(window.minimumSize(), QSize(750, 500));
    EXPECT_EQ(window.maximumSize(), QSize(750, 500));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Welcome to Velaro"));
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);

    // A window manager that imposes a size ignores the window's limits: the window has that size when it
    // hears of it, and is back at its own only if it asks for it.
    window.setMinimumSize(0, 0);
    window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    auto impose = [&](QSize size) {
        const QSize before = window.size();
        window.resize(size);
        QResizeEvent event(size, before);
        QCoreApplication::sendEvent(&window, &event);
        return window.size() == QSize(750, 500);
    };
    EXPECT_TRUE(impose({900, 700})) << "the window asks for its size back";
    EXPECT_FALSE(impose({900, 700})) << "a manager that insists is asked once";
    EXPECT_FALSE(impose({900, 700}));
    EXPECT_TRUE(impose({1000, 700})) << "a new imposed size is asked about again";
    EXPECT_TRUE(impose({750, 500}));
    EXPECT_TRUE(impose({900, 700}));
}

// The badge beside the compositor row's title, at the image's scale: how many pixel rows its capsule spans,
// and how many of those cross its dark letters.
std::pair<int, int> badgeRows(const QImage& shot) {
    const qreal s = shot.devicePixelRatio();
    int capsuleRows = 0, textRows = 0;
    for (int y = int(140 * s); y < int(180 * s); ++y) {
        int first = -1, last = -1;
        for (int x = int(440 * s); x < int(680 * s); ++x)
            if (const QColor c = shot.pixelColor(x, y); c.green() > 150 && c.red() < 120) {
                if (first < 0) first = x;
                last = x;
            }
        if (first < 0) continue;
        ++capsuleRows;
        bool text = false;
        for (int x = first; x <= last && !text; ++x) text = shot.pixelColor(x, y).green() < 110;
        textRows += text;
    }
    return {capsuleRows, textRows};
}

// Pixel rows of the page's note that hold its light letters.
int noteRows(const QImage& shot) {
    const qreal s = shot.devicePixelRatio();
    int rows = 0;
    for (int y = int(360 * s); y < int(400 * s); ++y) {
        bool lit = false;
        for (int x = int(403 * s); x < int(700 * s) && !lit; ++x) lit = shot.pixelColor(x, y).blue() > 110;
        rows += lit;
    }
    return rows;
}

TEST(TourRender, TheSmallestTextsAreLegibleAtScaleOneAndDoubleWithThePageAtScaleTwo) {
    // "Running" and the note are in the 5-point sizes, drawn for screens of scale 2: at scale 1 they are
    // raised to the least legible nine pixels (the badge's capsule twice as tall), and a screen of scale 2
    // shows that same page with every pixel doubled, not the 5-point sizes beside doubled text.
    TourRig rig;
    auto& view = rig.open(OnboardingStep::permissions);
    rig.loop.advance(2);
    const QImage one = render(view, 1.0), two = render(view, 2.0);
    const auto [capsule1, text1] = badgeRows(one);
    const auto [capsule2, text2] = badgeRows(two);
    EXPECT_GE(text1, 6) << "the letters of a nine-pixel line";
    EXPECT_NEAR(capsule1, 18, 2);
    EXPECT_NEAR(capsule2, 2 * capsule1, 3);
    EXPECT_NEAR(text2, 2 * text1, 3);
    const int note1 = noteRows(one), note2 = noteRows(two);
    EXPECT_GE(note1, 12) << "two lines of nine pixels";
    EXPECT_NEAR(note2, 2 * note1, 4);
    EXPECT_EQ(tour::renderedSize(tour::rowStateFont), 9);
    EXPECT_EQ(tour::renderedSize(tour::headlineFont), 46) << "sizes above the least keep their own";
}

TEST(TourWindow, ControllerReportsClosesAndHoldsThePageAtTheTopLeft) {
    TourRig rig;
    rig.open();
    int closes = 0;
    OnboardingWindowController controller(std::move(rig.view));
    controller.onClose = [&] { ++closes; };
    ASSERT_NE(controller.window(), nullptr);
    auto* page = test::findWidget<OnboardingRootView>(controller.window());
    ASSERT_NE(page, nullptr) << "the window holds the page";
    EXPECT_EQ(page->parentWidget(), controller.window());
    EXPECT_EQ(page->geometry(), QRect(0, 0, 750, 500));
    controller.show();
    EXPECT_TRUE(controller.isVisible());
    controller.closeWindowAction();
    EXPECT_FALSE(controller.isVisible());
    EXPECT_EQ(closes, 1);
}

}  // namespace
}  // namespace velaro
