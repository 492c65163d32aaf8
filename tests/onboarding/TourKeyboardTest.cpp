// The tour from the keyboard: Tab walks a page's controls and then the chrome, Space presses the focused
// control, Left and Right turn the page where the chrome would, Escape closes the tour, the keys keep working
// when the focused control goes with its page, and the focused control wears a ring.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <functional>

#include "onboarding/AllSetPage.h"
#include "onboarding/TourSwitches.h"
#include "onboarding/TourTestRig.h"
#include "support/WidgetSearch.h"

namespace velaro {
namespace {

using test::TourRig;

void activate(QWidget& view) {
    view.show();
    QApplication::setActiveWindow(&view);
}

// A key pressed and let go, each sent where the keyboard's focus is then (the view when no widget has it), as
// the window system would: a press that turns the page takes the focused control away with the old page.
void press(QWidget& view, int key) {
    const QString text = key == Qt::Key_Space ? QStringLiteral(" ") : QString();
    const auto target = [&]() -> QWidget* {
        return QApplication::focusWidget() ? QApplication::focusWidget() : &view;
    };
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target(), &down);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target(), &up);
}

QAbstractButton* named(QWidget& view, const char* name) {
    return test::findNamed<QAbstractButton>(&view, QString::fromLatin1(name));
}

TEST(TourKeyboard, TabWalksThePageThenTheChromeAndSpacePicksTheFocusedShape) {
    TourRig rig;
    auto& view = rig.open(OnboardingStep::menubarShape);
    activate(view);
    ASSERT_EQ(QApplication::focusWidget(), &view) << "the view holds the keys, no control is ringed yet";
    auto* picker = test::findWidget<tour::TourSegmentedShape>(&view);
    ASSERT_NE(picker, nullptr);

    const std::vector<QWidget*> expected{picker->row(0), picker->row(1), named(view, "back"),
                                         named(view, "next")};
    for (QWidget* stop : expected) {
        press(view, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), stop) << stop->accessibleName().toStdString();
    }
    press(view, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), picker->row(0)) << "round again, past the hidden Let’s Start";
    press(view, Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), named(view, "next"));

    press(view, Qt::Key_Tab);
    press(view, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), picker->row(1));
    press(view, Qt::Key_Space);
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.settings->corners().shapeMode, ShapeMode::pill);
    EXPECT_EQ(view.step(), OnboardingStep::menubarShape) << "Space picks; it does not turn the page";
}

TEST(TourKeyboard, SpaceSwitchesTheFocusedSwitchAndTheChromeButtonsPress) {
    TourRig rig;
    auto& view = rig.open(OnboardingStep::allSet);
    activate(view);
    const auto switches = test::findWidgets<tour::TourSwitch>(&view);
    ASSERT_EQ(switches.size(), 2u);
    press(view, Qt::Key_Tab);
    press(view, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), switches[1]) << "the login switch, then the taskbar switch";
    press(view, Qt::Key_Space);
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.settings->showTaskbarIcon());

    press(view, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget()->accessibleName(), QStringLiteral("View Settings"));
    press(view, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), named(view, "back"));
    press(view, Qt::Key_Space);
    EXPECT_EQ(view.step(), OnboardingStep::fillWindow);
}

TEST(TourKeyboard, ArrowsTurnThePageOnlyWhereTheChromeCould) {
    TourRig rig;
    rig.permissions[Capability::x11Session] = false;
    auto& view = rig.open(OnboardingStep::welcome);
    activate(view);
    press(view, Qt::Key_Left);
    EXPECT_EQ(view.step(), OnboardingStep::welcome) << "the welcome page has no Back";
    EXPECT_FALSE(rig.storedStep()) << "and nothing is stored";
    press(view, Qt::Key_Right);
    EXPECT_EQ(view.step(), OnboardingStep::permissions) << "Right is Let’s Start";
    press(view, Qt::Key_Right);
    EXPECT_EQ(view.step(), OnboardingStep::permissions) << "not before the session is usable";
    rig.permissions[Capability::x11Session] = true;
    rig.loop.advance(2 * TourPermissionModel::pollInterval);
    press(view, Qt::Key_Right);
    EXPECT_EQ(view.step(), OnboardingStep::menubarShape);
    EXPECT_EQ(rig.runtimeStarts, 1);

    // From a focused control too: the arrows are the tour's, not the control's.
    press(view, Qt::Key_Tab);
    ASSERT_NE(QApplication::focusWidget(), &view);
    press(view, Qt::Key_Right);
    EXPECT_EQ(view.step(), OnboardingStep::roundedCorners);
    press(view, Qt::Key_Left);
    EXPECT_EQ(view.step(), OnboardingStep::menubarShape);

    view.go(OnboardingStep::allSet);
    press(view, Qt::Key_Right);
    EXPECT_EQ(view.step(), OnboardingStep::allSet) << "the last page ends only by Done";
    EXPECT_EQ(rig.finishes, 0);
    EXPECT_EQ(rig.storedStep(), static_cast<std::int64_t>(OnboardingStep::allSet));
}

TEST(TourKeyboard, EscapeClosesTheTourKeepingTheStepItReached) {
    TourRig rig;
    auto& view = rig.open(OnboardingStep::progressBar);
    activate(view);
    press(view, Qt::Key_Tab);
    press(view, Qt::Key_Escape);
    EXPECT_EQ(rig.finishes, 1);
    EXPECT_EQ(rig.storedStep(), std::nullopt) << "not stored as completed, as Done would";
}

TEST(TourKeyboard, TheKeysKeepWorkingWhenTheFocusedControlGoesWithItsPage) {
    TourRig rig;
    auto& view = rig.open(OnboardingStep::allSet);
    activate(view);
    press(view, Qt::Key_Tab);
    ASSERT_NE(dynamic_cast<tour::TourSwitch*>(QApplication::focusWidget()), nullptr);
    // Back to a feature page: the All Set page slides out while the new one comes in.
    press(view, Qt::Key_Left);
    ASSERT_EQ(view.step(), OnboardingStep::fillWindow);
    EXPECT_EQ(QApplication::focusWidget(), &view) << "back with the view, not lost with the old page";
    press(view, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->accessibleName(), QStringLiteral("Fill Window"))
        << "the new page's switch: the page sliding out is no Tab stop";
    rig.loop.advance(1);
    press(view, Qt::Key_Right);
    EXPECT_EQ(view.step(), OnboardingStep::allSet);
}

TEST(TourKeyboard, TheFocusedControlWearsAWhiteRingAndOnlyWhileFocused) {
    struct Case {
        OnboardingStep step;
        std::function<QWidget*(QWidget&)> control;
        QPointF ring;  // a point of its ring, in page points
    };
    const Case cases[] = {
        {OnboardingStep::roundedCorners,
         [](QWidget& view) { return test::findWidget<tour::TourSwitch>(&view); },
         {642.5, 295.1}},
        {OnboardingStep::menubarShape,
         [](QWidget& view) { return test::findWidget<tour::TourSegmentedShape>(&view)->row(1); },
         {626, 328.4}},
        {OnboardingStep::progressBar, [](QWidget& view) { return named(view, "next"); }, {642.5, 406}},
    };
    for (const auto& c : cases) {
        for (const qreal scale : {1.0, 2.0}) {
            TourRig rig;
            auto& view = rig.open(c.step);
            activate(view);
            rig.loop.advance(1);
            EXPECT_LT(test::pixelAt(test::render(view, scale), c.ring).lightness(), 180) << int(c.step);
            c.control(view)->setFocus(Qt::TabFocusReason);
            ASSERT_TRUE(c.control(view)->hasFocus());
            EXPECT_GT(test::pixelAt(test::render(view, scale), c.ring).lightness(), 220)
                << int(c.step) << " at scale " << scale;
        }
    }
}

}  // namespace
}  // namespace velaro
