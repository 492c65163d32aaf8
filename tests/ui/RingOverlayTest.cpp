// The corner-rounding preview's ring layer over real settings, a fake store and the virtual loop, driven by
// the pointer, wheel and key events a user makes: dragging around a ring, scrolling over it, typing a radius,
// tapping rings, menus and badges, and the colour panel's link; offscreen renders of what it shows; and what
// assistive technologies are told of it and can do through it.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QColorDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>
#include <numbers>

#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/VirtualLoop.h"
#include "support/WidgetSearch.h"
#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/rings/ColorRingPanelLink.h"
#include "ui/settings/rings/CornerMutators.h"
#include "ui/settings/rings/RingOverlay.h"

namespace velaro {
namespace {

constexpr double kPi = std::numbers::pi;
using GC = GaugeCorner;
const QColor kBackground(128, 128, 128);

class RingOverlayTest : public ::testing::Test {
protected:
    RingOverlayTest() {
        settings = std::make_unique<OverlaySettings>(defaults, loop);
        loop.runUntilIdle();
        link = std::make_unique<ColorRingPanelLink>(loop);
        overlay = std::make_unique<RingOverlay>(*settings, loop, router, edit, *link);
        // 400 points tall: rings of 37.6 points.
        overlay->resize(600, 400);
        router.install(*overlay, ringRadiusReader(*settings), ringRadiusApplier(*settings, loop, edit));
        settle();
        defaults.clearWrites();
    }
    ~RingOverlayTest() override {
        router.uninstall();
        closeSharedColorPanel();
    }

    void settle() {
        loop.runUntilIdle();
        loop.advance(0.5);  // past every fade
    }
    void editCorners(const std::function<void(CornerSettings&)>& change) {
        CornerSettings c = settings->corners();
        change(c);
        settings->corners = c;
        settle();
        defaults.clearWrites();
    }
    void unlinkAll(double left, double right) {
        editCorners([&](CornerSettings& c) {
            c.bottomLinked = c.screenTopLinked = false;
            c.bottomLeftRadius = c.screenTopLeftRadius = left;
            c.bottomRightRadius = c.screenTopRightRadius = right;
        });
    }
    int cornerWrites() const {
        int n = 0;
        for (const auto& w : defaults.writes()) n += w.key == "cornerSettings";
        return n;
    }
    double radius(GC corner) const { return storedRadius(settings->corners(), screenCornerOf(corner)); }

    RingOverlayLayout layout() const { return overlay->ringLayout(); }
    QPointF centre(GC corner) const { return layout().cell(corner).ring.center(); }
    // A point on the ring's band at `angle` (radians, clockwise from 3 o'clock).
    QPointF onBand(GC corner, double angle) const {
        const double r = layout().diameter / 2 - 3.25;
        return centre(corner) + r * QPointF(std::cos(angle), std::sin(angle));
    }

    void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, overlay->mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(overlay.get(), &event);
    }
    void press(QPointF at) { mouse(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton); }
    void dragTo(QPointF at) { mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton); }
    void hover(QPointF at) {
        mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
        settle();
    }
    void release(QPointF at) { mouse(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton); }
    void click(QPointF at) {
        hover(at);
        press(at);
        release(at);
        settle();
    }

    // Starts a drag on the ring's band: the press a little before `angle`, then the move to `angle` that
    // passes the drag's minimum distance (the anchor).
    void startDrag(GC corner, double angle) {
        press(onBand(corner, angle - 0.3));
        dragTo(onBand(corner, angle));
    }
    // Turns from `from` by `sweep` radians in small steps; returns the end angle.
    double turn(GC corner, double from, double sweep) {
        const int steps = int(std::ceil(std::abs(sweep) / (kPi / 10)));
        for (int i = 1; i <= steps; ++i) dragTo(onBand(corner, from + sweep * i / steps));
        loop.runUntilIdle();
        return from + sweep;
    }

    // A wheel event over the layer: whether it was eaten (an event the layer lets pass is ignored by it,
    // and the page behind would scroll).
    bool wheel(QPointF at, QPoint pixels, QPoint angle, Qt::ScrollPhase phase = Qt::NoScrollPhase,
               bool inverted = false) {
        QWheelEvent event(at, overlay->mapToGlobal(at), pixels, angle, Qt::NoButton, Qt::NoModifier, phase,
                          inverted);
        event.setAccepted(true);
        QApplication::sendEvent(overlay.get(), &event);
        return event.isAccepted();
    }
    bool notch(QPointF at) { return wheel(at, {}, {0, 120}); }

    void key(QWidget* to, int code, const QString& text = {}) {
        QKeyEvent event(QEvent::KeyPress, code, Qt::NoModifier, text);
        QApplication::sendEvent(to, &event);
    }
    // Types into the open field as a user would: the start text is selected, so typing replaces it.
    void type(const QString& text) {
        QLineEdit* field = test::findWidget<QLineEdit>(overlay.get());
        if (text.isEmpty()) key(field, Qt::Key_Backspace);
        for (QChar ch : text) key(field, ch == ' ' ? Qt::Key_Space : Qt::Key_unknown, QString(ch));
    }
    bool fieldShown() const { return !test::findWidget<QLineEdit>(overlay.get())->isHidden(); }

    QImage renderLayer() {
        QImage image(overlay->size() * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(kBackground);
        overlay->render(&image, {}, {}, QWidget::RenderFlags());
        return image.convertToFormat(QImage::Format_ARGB32);
    }
    static QColor pixel(const QImage& image, QPointF at) {
        return QColor::fromRgba(image.pixel(int(at.x() * 2), int(at.y() * 2)));
    }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    std::unique_ptr<OverlaySettings> settings;
    GaugeScrollRouter router;
    RingEditState edit;
    std::unique_ptr<ColorRingPanelLink> link;
    std::unique_ptr<RingOverlay> overlay;
};

TEST_F(RingOverlayTest, LayoutFollowsTheHeight) {
    struct Case {
        QSize size;
        double diameter;
    };
    for (const Case c : {Case{{160, 100}, 16}, Case{{600, 400}, 37.6}, Case{{300, 150}, 16}}) {
        const RingOverlayLayout l = RingOverlayLayout::of(c.size);
        EXPECT_NEAR(l.diameter, c.diameter, 1e-9) << c.size.height();
        const double inset = 0.04 * std::min(c.size.width(), c.size.height());
        EXPECT_NEAR(l.cell(GC::topLeft).ring.left(), inset + 2, 1e-9);
        EXPECT_NEAR(l.cell(GC::bottomRight).ring.bottom(), c.size.height() - inset, 1e-9);
        // Each badge sits level with its row's rings, midway between them.
        EXPECT_NEAR(l.badge(RingRow::top).center().y(), l.cell(GC::topLeft).ring.center().y(), 1e-9);
        EXPECT_NEAR(l.badge(RingRow::bottom).center().y(), l.cell(GC::bottomRight).ring.center().y(), 1e-9);
        EXPECT_NEAR(l.badge(RingRow::top).center().x(), c.size.width() / 2.0, 1e-9);
    }
    // A top ring's menu hangs below it and a bottom ring's stands above it, the swatch farthest out.
    const RingOverlayLayout l = layout();
    EXPECT_LT(l.cell(GC::topLeft).ring.bottom(), l.cell(GC::topLeft).capsule.top());
    EXPECT_LT(l.cell(GC::topLeft).capsule.bottom(), l.cell(GC::topLeft).swatch.top());
    EXPECT_GT(l.cell(GC::bottomLeft).ring.top(), l.cell(GC::bottomLeft).capsule.bottom());
    EXPECT_GT(l.cell(GC::bottomLeft).capsule.top(), l.cell(GC::bottomLeft).swatch.bottom());
    EXPECT_NEAR(l.cell(GC::topLeft).centreSpot.width(), 20, 1e-9);
}

TEST_F(RingOverlayTest, DraggingAroundARingTurnsItsRadius) {
    unlinkAll(10, 40);
    startDrag(GC::bottomLeft, 0);
    loop.runUntilIdle();
    EXPECT_EQ(cornerWrites(), 0) << "nothing on the anchor";
    double at = turn(GC::bottomLeft, 0, kPi);  // clockwise half a turn, ending on the ±π seam
    EXPECT_NEAR(radius(GC::bottomLeft), 34, 1e-6);
    at = turn(GC::bottomLeft, at, 2 * kPi);
    EXPECT_DOUBLE_EQ(radius(GC::bottomLeft), 48) << "a further turn stops at the end";
    at = turn(GC::bottomLeft, at, -kPi / 2);
    EXPECT_NEAR(radius(GC::bottomLeft), 36, 1e-6) << "turning back leaves the end at once";
    release(onBand(GC::bottomLeft, at));
    EXPECT_DOUBLE_EQ(radius(GC::bottomRight), 40) << "the twin of an unlinked row stays";
    EXPECT_TRUE(settings->corners().bottomLeftEnabled) << "a drag is no tap";

    // Across the left side, where the angle jumps from π to −π, the radius does not jump.
    startDrag(GC::topLeft, 0.8 * kPi);
    turn(GC::topLeft, 0.8 * kPi, 0.4 * kPi);
    EXPECT_NEAR(radius(GC::topLeft), 10 + 9.6, 1e-6);
    turn(GC::topLeft, 1.2 * kPi, -0.5 * kPi);
    EXPECT_NEAR(radius(GC::topLeft), 7.6, 1e-6);
    release(onBand(GC::topLeft, 0.7 * kPi));
}

TEST_F(RingOverlayTest, DragAnchorsAtTheStoredRadiusClampedAndOnItsOwnRing) {
    struct Case {
        bool linked;
        double stored;
        double after;  // after a quarter turn clockwise
    };
    for (const Case c : {Case{true, 20, 32}, Case{false, 60, 48}, Case{false, -5, 12}}) {
        editCorners([&](CornerSettings& s) {
            s.bottomLinked = c.linked;
            s.bottomRadius = c.linked ? c.stored : 5;
            s.bottomLeftRadius = c.stored;
        });
        startDrag(GC::bottomLeft, 0);
        turn(GC::bottomLeft, 0, kPi / 2);
        release(onBand(GC::bottomLeft, kPi / 2));
        loop.runUntilIdle();
        EXPECT_NEAR(radius(GC::bottomLeft), c.after, 1e-6) << c.stored;
        if (c.linked) {
            EXPECT_NEAR(settings->corners().bottomRadius, c.after, 1e-6) << "the row radius is written";
        }
    }
    // A stored 60 anchors at 48: a quarter back from it gives 36.
    editCorners([](CornerSettings& s) { s.bottomLeftRadius = 60; });
    startDrag(GC::bottomLeft, 0);
    turn(GC::bottomLeft, 0, -kPi / 2);
    release(onBand(GC::bottomLeft, -kPi / 2));
    EXPECT_NEAR(radius(GC::bottomLeft), 36, 1e-6);
}

TEST_F(RingOverlayTest, ADragAfterALostGrabStartsFromItsOwnRing) {
    unlinkAll(10, 30);
    startDrag(GC::bottomLeft, 0);
    turn(GC::bottomLeft, 0, kPi / 2);
    ASSERT_NEAR(radius(GC::bottomLeft), 22, 1e-6);
    // No release reaches the layer (the grab was taken away); the next press is on the other ring.
    startDrag(GC::bottomRight, 0);
    turn(GC::bottomRight, 0, kPi / 4);
    EXPECT_NEAR(radius(GC::bottomRight), 36, 1e-6) << "from its own 30, not the first ring's anchor";
    EXPECT_NEAR(radius(GC::bottomLeft), 22, 1e-6);
    release(onBand(GC::bottomRight, kPi / 4));

    // Hiding the layer mid-drag ends the drag too.
    overlay->show();
    startDrag(GC::bottomRight, 0);
    overlay->hide();
    overlay->show();
    dragTo(onBand(GC::bottomRight, 0.5));
    loop.runUntilIdle();
    EXPECT_NEAR(radius(GC::bottomRight), 36, 1e-6) << "a move after the hide starts nothing";
    overlay->hide();
}

TEST_F(RingOverlayTest, ScrollingOverAHoveredRing) {
    unlinkAll(20, 10);
    EXPECT_FALSE(notch(centre(GC::bottomLeft))) << "no ring hovered: the page scrolls";
    hover(centre(GC::bottomLeft));
    EXPECT_EQ(router.hoveredCorner()(), GC::bottomLeft);
    EXPECT_TRUE(notch(centre(GC::bottomLeft)));
    loop.runUntilIdle();
    EXPECT_DOUBLE_EQ(radius(GC::bottomLeft), 22.5);
    EXPECT_TRUE(notch(centre(GC::bottomLeft)));
    loop.runUntilIdle();
    EXPECT_DOUBLE_EQ(radius(GC::bottomLeft), 25);

    // Momentum after a flick and the end of a gesture are eaten and change nothing.
    EXPECT_TRUE(wheel(centre(GC::bottomLeft), {0, 40}, {}, Qt::ScrollMomentum));
    EXPECT_TRUE(wheel(centre(GC::bottomLeft), {0, 40}, {}, Qt::ScrollEnd));
    loop.runUntilIdle();
    EXPECT_DOUBLE_EQ(radius(GC::bottomLeft), 25);

    // A new ring starts a new run from its own value; an inverted trackpad moves a quarter of its points.
    hover(centre(GC::bottomRight));
    EXPECT_EQ(router.hoveredCorner()(), GC::bottomRight);
    EXPECT_TRUE(wheel(centre(GC::bottomRight), {0, 8}, {0, 96}, Qt::ScrollUpdate, true));
    loop.runUntilIdle();
    EXPECT_DOUBLE_EQ(radius(GC::bottomRight), 8);
    EXPECT_DOUBLE_EQ(radius(GC::bottomLeft), 25);

    // Over the open menu: eaten, nothing changes.
    hover(layout().cell(GC::bottomRight).capsule.center());
    EXPECT_EQ(router.hoveredCorner()(), GC::bottomRight) << "the open region covers the menu";
    EXPECT_TRUE(notch(layout().cell(GC::bottomRight).capsule.center()));
    loop.runUntilIdle();
    EXPECT_DOUBLE_EQ(radius(GC::bottomRight), 8) << "the router knows the pointer is on the menu";

    // Leaving the layer: everything passes again.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(overlay.get(), &leave);
    EXPECT_EQ(router.hoveredCorner()(), std::nullopt);
    EXPECT_FALSE(notch(centre(GC::bottomRight)));

    // While the ring's radius is typed the scroll is eaten and changes nothing.
    click(layout().cell(GC::bottomRight).centreSpot.center());
    ASSERT_TRUE(edit.isEditing(GC::bottomRight));
    EXPECT_TRUE(notch(centre(GC::bottomRight)));
    loop.runUntilIdle();
    EXPECT_DOUBLE_EQ(radius(GC::bottomRight), 8);
}

TEST_F(RingOverlayTest, RouterRunsAndItsInstallation) {
    std::vector<std::pair<GC, double>> applied;
    GaugeScrollRouter r;
    r.step({1, false});  // nothing hovered, nothing installed
    r.install(*overlay, [](GC) { return 10.0; }, [&](GC c, double v) { applied.emplace_back(c, v); });
    r.install(*overlay, [](GC) { return 99.0; }, [&](GC, double) { ADD_FAILURE() << "second hooks used"; });
    r.setHovered(GC::topLeft, true);
    EXPECT_TRUE(r.step({-1, false}));
    EXPECT_TRUE(r.step({-100, false}));  // no clamp here: the overshoot must be scrolled back first
    EXPECT_TRUE(r.step({2, true}));
    r.setPointerOverMenu(true);  // ends the run
    r.setPointerOverMenu(false);
    EXPECT_TRUE(r.step({4, true}));
    r.setHovered(GC::topRight, false);  // not the hovered ring: nothing
    EXPECT_TRUE(r.step({4, true}));
    const std::vector<std::pair<GC, double>> expected{
        {GC::topLeft, 7.5}, {GC::topLeft, -242.5}, {GC::topLeft, -242}, {GC::topLeft, 11}, {GC::topLeft, 12}};
    EXPECT_EQ(applied, expected);
    r.uninstall();
    EXPECT_EQ(r.hoveredCorner()(), std::nullopt);
    r.setHovered(GC::topLeft, true);
    EXPECT_FALSE(notch(centre(GC::topLeft))) << "uninstalled, it lets the wheel pass even over its ring";
    EXPECT_EQ(applied, expected);
    r.uninstall();  // nothing installed: still fine
    EXPECT_FALSE(notch(centre(GC::topLeft)));
}

TEST_F(RingOverlayTest, TypingARadius) {
    unlinkAll(10, 30);
    struct Case {
        QString typed;
        double expected;
    };
    const Case cases[] = {
        {" 20 ", 20}, {"+7", 7}, {"-3", 0}, {"99", 48}, {"12.5", 10}, {"1e3", 10}, {"", 10}, {"abc", 10}, {"-", 10},
    };
    for (const Case& c : cases) {
        editCorners([](CornerSettings& s) { s.bottomLeftRadius = 10; });
        click(layout().cell(GC::bottomLeft).centreSpot.center());
        ASSERT_TRUE(fieldShown());
        EXPECT_EQ(test::findWidget<QLineEdit>(overlay.get())->text(), "10");
        type(c.typed);
        key(test::findWidget<QLineEdit>(overlay.get()), Qt::Key_Return);
        EXPECT_FALSE(fieldShown()) << "every text closes the field";
        settle();
        EXPECT_DOUBLE_EQ(radius(GC::bottomLeft), c.expected) << c.typed.toStdString();
        EXPECT_DOUBLE_EQ(radius(GC::bottomRight), 30);
    }
}

TEST_F(RingOverlayTest, EscapeAndFocusLossAndASecondRing) {
    unlinkAll(10, 30);
    // Escape closes the field; the focus loss that follows applies nothing.
    click(layout().cell(GC::bottomLeft).centreSpot.center());
    type("40");
    key(test::findWidget<QLineEdit>(overlay.get()), Qt::Key_Escape);
    QFocusEvent focusOut(QEvent::FocusOut, Qt::OtherFocusReason);
    QApplication::sendEvent(test::findWidget<QLineEdit>(overlay.get()), &focusOut);
    settle();
    EXPECT_DOUBLE_EQ(radius(GC::bottomLeft), 10);
    EXPECT_FALSE(fieldShown());
    EXPECT_EQ(cornerWrites(), 0);

    // A focus loss commits an open edit.
    click(layout().cell(GC::bottomLeft).centreSpot.center());
    type("15");
    QApplication::sendEvent(test::findWidget<QLineEdit>(overlay.get()), &focusOut);
    settle();
    EXPECT_DOUBLE_EQ(radius(GC::bottomLeft), 15);

    // Opening the field on a second ring commits the first ring's own text, then shows the second's radius.
    click(layout().cell(GC::bottomLeft).centreSpot.center());
    type("42");
    click(layout().cell(GC::bottomRight).centreSpot.center());
    EXPECT_DOUBLE_EQ(radius(GC::bottomLeft), 42);
    EXPECT_DOUBLE_EQ(radius(GC::bottomRight), 30);
    EXPECT_TRUE(edit.isEditing(GC::bottomRight));
    EXPECT_EQ(test::findWidget<QLineEdit>(overlay.get())->text(), "30");
    const QRectF ring = layout().cell(GC::bottomRight).ring;
    EXPECT_TRUE(ring.contains(test::findWidget<QLineEdit>(overlay.get())->geometry().center()))
        << "the field moved to the second ring";

    // A tap on the ring being typed does not switch it off.
    click(onBand(GC::bottomRight, 0));
    EXPECT_TRUE(settings->corners().bottomRightEnabled);
    key(test::findWidget<QLineEdit>(overlay.get()), Qt::Key_Return);
    settle();
    EXPECT_DOUBLE_EQ(radius(GC::bottomRight), 30);
    click(onBand(GC::bottomRight, 0));
    EXPECT_FALSE(settings->corners().bottomRightEnabled) << "once the field is closed, a tap toggles";
}

TEST_F(RingOverlayTest, TapsOnRingsMenusAndBadges) {
    editCorners([](CornerSettings& c) {
        c.bottomLinked = false;
        c.screenTopLeftEnabled = c.screenTopRightEnabled = false;
    });
    // A tap on the ring toggles its corner; it lands on the next turn.
    press(centre(GC::bottomLeft) + QPointF(0, 12));
    release(centre(GC::bottomLeft) + QPointF(0, 12));
    EXPECT_TRUE(settings->corners().bottomLeftEnabled);
    settle();
    EXPECT_FALSE(settings->corners().bottomLeftEnabled);
    click(onBand(GC::bottomLeft, 1));
    EXPECT_TRUE(settings->corners().bottomLeftEnabled);

    // The top badge is dead while both top corners are off; the bottom badge toggles its row.
    click(layout().badge(RingRow::top).center());
    EXPECT_TRUE(settings->corners().screenTopLinked);
    EXPECT_EQ(cornerWrites(), 2) << "the two ring taps only";
    click(layout().badge(RingRow::bottom).center());
    EXPECT_TRUE(settings->corners().bottomLinked);

    // The eyedropper flips between black and custom.
    hover(centre(GC::bottomRight));
    const RingCellLayout cell = layout().cell(GC::bottomRight);
    click(cell.colorButton.center());
    EXPECT_EQ(settings->corners().bottomRightColorMode, BottomColorMode::custom);
    EXPECT_EQ(settings->corners().bottomLeftColorMode, BottomColorMode::custom) << "the row is linked now";
    click(cell.colorButton.center());
    EXPECT_EQ(settings->corners().bottomRightColorMode, BottomColorMode::black);

    // The arrow flips the placement, except below the active window, where it is inert.
    ASSERT_TRUE(settings->isCornerAtWallpaperLevel(ScreenCorner::bottomRight)) << "bottom corners start behind";
    click(cell.arrowButton.center());
    EXPECT_FALSE(settings->isCornerAtWallpaperLevel(ScreenCorner::bottomRight));
    EXPECT_FALSE(settings->isCornerAtWallpaperLevel(ScreenCorner::bottomLeft)) << "linked: both";
    click(cell.arrowButton.center());
    EXPECT_TRUE(settings->isCornerAtWallpaperLevel(ScreenCorner::bottomRight));
    settings->cornerBottomRightZ = BottomCornerZ::belowActive;
    settings->cornerBottomLeftZ = BottomCornerZ::above;
    settle();
    defaults.clearWrites();
    click(cell.arrowButton.center());
    EXPECT_EQ(settings->cornerBottomRightZ(), BottomCornerZ::belowActive);
    EXPECT_EQ(settings->cornerBottomLeftZ(), BottomCornerZ::above);
    EXPECT_TRUE(defaults.writes().empty());

    // A tap that slides off its target before the release does nothing.
    press(onBand(GC::topLeft, 0));
    release(onBand(GC::bottomLeft, 0));
    settle();
    EXPECT_FALSE(settings->corners().screenTopLeftEnabled);
    EXPECT_TRUE(settings->corners().bottomLeftEnabled);
}

TEST_F(RingOverlayTest, TheSwatchLinksTheColourPanelToItsCorner) {
    editCorners([](CornerSettings& c) {
        c.bottomLinked = true;
        c.bottomLeftColorMode = c.bottomRightColorMode = BottomColorMode::custom;
        c.bottomLeftCustomColorHex = "not a colour";
        c.screenTopLeftColorMode = BottomColorMode::custom;
        c.screenTopLeftCustomColorHex = "#112233";
    });
    // Another control holds the panel at green.
    QObject other;
    std::vector<Color> otherPicks;
    openSharedColorPanel(other, Color::rgb(0, 1, 0), true, [&](const Color& c) { otherPicks.push_back(c); });
    QColorDialog* panel = sharedColorPanelIfCreated();
    ASSERT_NE(panel, nullptr);

    hover(centre(GC::bottomLeft));
    click(layout().cell(GC::bottomLeft).swatch.center());
    EXPECT_TRUE(sharedColorPanelServes(*link)) << "the link holds the panel";
    EXPECT_EQ(panel->currentColor(), QColor(0, 255, 0)) << "an unparsable colour leaves the panel's own";
    EXPECT_FALSE(panel->testOption(QColorDialog::ShowAlphaChannel));
    settle();
    EXPECT_EQ(cornerWrites(), 0) << "nothing until the user picks";
    EXPECT_TRUE(otherPicks.empty());

    panel->setCurrentColor(QColor(255, 0, 0));
    settle();
    const CornerSettings& c = settings->corners();
    EXPECT_EQ(c.bottomLeftCustomColorHex, "#FF0000");
    EXPECT_EQ(c.bottomRightCustomColorHex, "#FF0000") << "linked: both corners";
    EXPECT_EQ(c.bottomCustomColorHex, "#FF0000");
    EXPECT_TRUE(otherPicks.empty()) << "the previous consumer never hears this corner's colours";

    // Retargeting to a top ring sets the panel to its colour without writing it anywhere.
    hover(centre(GC::topLeft));
    click(layout().cell(GC::topLeft).swatch.center());
    EXPECT_EQ(panel->currentColor(), QColor(0x11, 0x22, 0x33));
    settle();
    EXPECT_EQ(settings->corners().bottomLeftCustomColorHex, "#FF0000");
    EXPECT_EQ(settings->corners().screenTopLeftCustomColorHex, "#112233");
    EXPECT_EQ(link->corner(), ScreenCorner::screenTopLeft);

    // The page going away closes the panel it opened, once.
    link->detach();
    EXPECT_FALSE(panel->isVisible());
    openSharedColorPanel(other, Color::black(), false, [](const Color&) {});
    link->detach();
    EXPECT_TRUE(panel->isVisible()) << "a panel the link no longer holds is left alone";
}

TEST_F(RingOverlayTest, RendersTheHoveredMenuTheTwinsRimAndTheBadgeCaption) {
    editCorners([](CornerSettings& c) {
        c.bottomLinked = false;
        c.bottomLeftColorMode = BottomColorMode::custom;
        c.bottomLeftCustomColorHex = "#FF0000";
    });
    const QImage before = renderLayer();
    const RingCellLayout bl = layout().cell(GC::bottomLeft);
    EXPECT_EQ(pixel(before, bl.swatch.center()), kBackground) << "no menu before the hover";
    const QPointF plateOnly(bl.cell.center().x(), bl.ring.top() - 1.5);
    EXPECT_EQ(pixel(before, plateOnly), kBackground);

    hover(centre(GC::bottomLeft));
    const QImage open = renderLayer();
    EXPECT_EQ(pixel(open, bl.swatch.center()), QColor(255, 0, 0)) << "a custom corner's swatch";
    const QColor dropper = pixel(open, bl.colorButton.center() + QPointF(-0.5, 0.5));
    EXPECT_GT(dropper.red(), 120);
    EXPECT_LT(dropper.green(), 60) << "the eyedropper in the corner's colour";
    EXPECT_LT(pixel(open, plateOnly).lightness(), kBackground.lightness() - 20) << "the dark plate";

    // The hovered ring's twin has the brighter rim; another ring's stays.
    const auto rimAt = [&](const QImage& image, GC corner) {
        const QRectF ring = layout().cell(corner).ring;
        return pixel(image, QPointF(ring.right() - 0.25, ring.center().y())).lightness();
    };
    EXPECT_GT(rimAt(open, GC::bottomRight), rimAt(before, GC::bottomRight) + 5);
    EXPECT_EQ(rimAt(open, GC::topRight), rimAt(before, GC::topRight));

    // The badge's caption shows only while the pointer is over it, under the top chip.
    const QRectF chip = layout().badge(RingRow::top);
    const QRectF caption = linkBadgeCaptionRect(chip, RingRow::top, true);
    EXPECT_GT(caption.top(), chip.bottom());
    const auto lit = [&](const QImage& image) {
        int n = 0;
        for (double x = caption.left(); x < caption.right(); x += 0.5)
            for (double y = caption.top(); y < caption.bottom(); y += 0.5)
                n += std::abs(pixel(image, {x, y}).lightness() - kBackground.lightness()) > 30;
        return n;
    };
    EXPECT_EQ(lit(open), 0);
    hover(chip.center());
    EXPECT_GT(lit(renderLayer()), 20);
    EXPECT_LT(linkBadgeCaptionRect(layout().badge(RingRow::bottom), RingRow::bottom, false).bottom(),
              layout().badge(RingRow::bottom).top());
    EXPECT_EQ(linkBadgeCaption(true), "LEFT & RIGHT CORNERS ARE LINKED");
    EXPECT_EQ(linkBadgeCaption(false), "LINK LEFT & RIGHT CORNERS");
}

TEST_F(RingOverlayTest, AssistiveTechnologiesFindEveryRingBadgeAndMenuButtonAndActThroughThem) {
    editCorners([](CornerSettings& c) {
        c.screenTopLinked = c.screenTopLeftEnabled = c.screenTopRightEnabled = true;
        c.screenTopRadius = 12;
        c.bottomLinked = c.bottomRightEnabled = false;
        c.bottomLeftRadius = 20.7;
        c.bottomLeftColorMode = BottomColorMode::custom;
    });
    settings->cornerBottomRightZ = BottomCornerZ::belowActive;
    settle();
    QAccessibleInterface* layer = QAccessible::queryAccessibleInterface(overlay.get());
    ASSERT_NE(layer, nullptr);
    // Each painted piece (the widgets, such as the radius field, come first): its name, its value, whether
    // it is checked, and the names of its menu's buttons.
    std::vector<QAccessibleInterface*> pieces;
    QStringList seen;
    for (int i = 0; i < layer->childCount(); ++i) {
        QAccessibleInterface* piece = layer->child(i);
        ASSERT_EQ(piece->parent(), layer);
        if (piece->object()) continue;
        pieces.push_back(piece);
        QStringList menu;
        for (int b = 0; b < piece->childCount(); ++b) menu << piece->child(b)->text(QAccessible::Name);
        seen << piece->text(QAccessible::Name) + " = " + piece->text(QAccessible::Value) +
                    (piece->state().checked ? " on" : "") +
                    (menu.isEmpty() ? "" : " [" + menu.join(", ") + "]");
    }
    const QString top =
        ringPlacementHelp(GC::topLeft, settings->isCornerAtWallpaperLevel(ScreenCorner::screenTopLeft));
    EXPECT_EQ(seen, QStringList({"Top left corner = 12px on [" + top + ", Custom color]",
                                 "Top right corner = 12px on [" + top + ", Custom color]",
                                 "Bottom left corner = 20px on [Behind windows, Custom color]",
                                 // Below the active window its arrow cannot change anything: it is left out.
                                 "Bottom right corner = " + QString::number(int(radius(GC::bottomRight))) +
                                     "px [Custom color]",
                                 "Link left and right corners = Linked",
                                 "Link left and right corners = Not linked"}));
    ASSERT_EQ(pieces.size(), 6u);
    QAccessibleInterface *topLeft = pieces[0], *bottomLeft = pieces[2], *topBadge = pieces[4],
                         *bottomBadge = pieces[5];
    EXPECT_EQ(topLeft->rect(),
              layout().cell(GC::topLeft).ring.toAlignedRect().translated(overlay->mapToGlobal(QPoint())));

    // The actions are the taps, landing on the next turn: switching a ring, stepping and setting its radius
    // (held inside its range), its menu's buttons and the badges.
    topLeft->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    topLeft->actionInterface()->doAction(QAccessibleActionInterface::increaseAction());
    bottomLeft->valueInterface()->setCurrentValue(60.0);
    bottomLeft->child(0)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    loop.runUntilIdle();
    EXPECT_FALSE(settings->corners().screenTopLeftEnabled);
    EXPECT_EQ(radius(GC::topRight), 13) << "linked: the row's radius";
    EXPECT_EQ(radius(GC::bottomLeft), 48);
    EXPECT_FALSE(settings->isCornerAtWallpaperLevel(ScreenCorner::bottomLeft));
    bottomBadge->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    loop.runUntilIdle();
    EXPECT_EQ(bottomBadge->text(QAccessible::Value), QStringLiteral("Linked"));

    // A row with both corners off: its badge is disabled and offers nothing.
    editCorners([](CornerSettings& c) { c.screenTopLeftEnabled = c.screenTopRightEnabled = false; });
    EXPECT_TRUE(topBadge->state().disabled);
    EXPECT_TRUE(topBadge->actionInterface()->actionNames().isEmpty());
}

}  // namespace
}  // namespace velaro
