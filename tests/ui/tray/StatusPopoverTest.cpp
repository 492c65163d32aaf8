// The popover's content: which parts the column holds, the permission cards and their buttons, the
// height that follows the column up to its cap, the eye button writing at once and the overlay switch one
// turn later.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>

#include "ui/settings/kit/StyleOpacityControls.h"
#include "ui/tray/LivePreviewHeader.h"
#include "ui/tray/StatusPopoverTestRig.h"

namespace velaro {
namespace {

class StatusPopoverTest : public ::testing::Test {
protected:
    // Shows the popover again, as opening it from the tray does.
    void reshow(StatusPopover& view) {
        view.hide();
        view.show();
        rig.loop.runUntilIdle();
    }
    QPushButton* cardButton(QWidget* card) { return card->findChild<QPushButton*>(); }

    test::PopoverRig rig;
};

TEST_F(StatusPopoverTest, WithBothPermissionsTheColumnHasNoCardsAndNoGap) {
    auto view = rig.makePopover();
    view->show();
    rig.loop.runUntilIdle();
    const auto parts = view->visibleColumn();
    ASSERT_EQ(parts.size(), 5u) << "header, status row, preview, style group, bottom row";
    EXPECT_EQ(parts[1], static_cast<QWidget*>(&view->statusRow()));
    EXPECT_EQ(parts[2], static_cast<QWidget*>(&view->preview()));
    EXPECT_TRUE(view->screenRecordingCard()->isHidden());
    EXPECT_TRUE(view->accessibilityCard()->isHidden());
}

TEST_F(StatusPopoverTest, TheScreenRecordingCardStaysAfterOpeningTheHelpUntilAShowingFindsTheGrant) {
    rig.permissions.screenCapture = false;
    auto view = rig.makePopover();
    view->show();
    rig.loop.runUntilIdle();
    ASSERT_FALSE(view->screenRecordingCard()->isHidden());
    EXPECT_EQ(view->visibleColumn()[2], view->screenRecordingCard()) << "the card sits under the status row";

    cardButton(view->screenRecordingCard())->click();
    EXPECT_EQ(rig.permissions.openedPanes, std::vector<PrivacyPane>{PrivacyPane::screenCapture});
    rig.permissions.screenCapture = true;
    rig.loop.runUntilIdle();
    EXPECT_FALSE(view->screenRecordingCard()->isHidden()) << "opening the help grants nothing";

    reshow(*view);
    EXPECT_TRUE(view->screenRecordingCard()->isHidden());
}

TEST_F(StatusPopoverTest, EnableHidesTheAccessibilityCardAtOnceWhenTrustWasGrantedElsewhere) {
    rig.permissions.accessibility = false;
    auto view = rig.makePopover();
    view->show();
    ASSERT_FALSE(view->accessibilityCard()->isHidden());

    rig.permissions.accessibility = true;  // allowed elsewhere since the card was refreshed
    cardButton(view->accessibilityCard())->click();
    EXPECT_TRUE(view->accessibilityCard()->isHidden());
    EXPECT_EQ(rig.permissions.accessibilityRequests, 1);
    EXPECT_EQ(rig.permissions.openedPanes, std::vector<PrivacyPane>{PrivacyPane::accessibility})
        << "the help page opens whatever the answer";
}

TEST_F(StatusPopoverTest, AHelpPageThatCannotOpenLeavesTheCardAndReportsNothing) {
    rig.permissions.accessibility = false;
    rig.permissions.panesOpen = false;
    auto view = rig.makePopover();
    view->show();
    cardButton(view->accessibilityCard())->click();
    EXPECT_FALSE(view->accessibilityCard()->isHidden());
    EXPECT_FALSE(view->accessibilityGranted());
}

TEST_F(StatusPopoverTest, ThePopoverIsAsTallAsTheColumnUpToTheCapAndThenScrolls) {
    auto view = rig.makePopover();
    EXPECT_EQ(view->popoverHeight(), 700) << "the first height stands until the measurement lands";
    rig.loop.runUntilIdle();
    EXPECT_NE(view->contentHeight(), 700.0);
    EXPECT_EQ(view->height(), view->popoverHeight());
    EXPECT_EQ(view->width(), StatusPopover::popoverWidth);

    const double measured = view->contentHeight();
    view->columnHeightChanged(1200);
    EXPECT_EQ(view->contentHeight(), measured) << "no change before the next turn";
    rig.loop.runUntilIdle();
    EXPECT_EQ(view->contentHeight(), 1200.0);
    EXPECT_EQ(view->popoverHeight(), 760);
    EXPECT_EQ(view->height(), 760);

    view->columnHeightChanged(420);
    rig.loop.runUntilIdle();
    EXPECT_EQ(view->popoverHeight(), 420);

    view->columnHeightChanged(420);
    EXPECT_EQ(rig.loop.pendingPosts(), 0u) << "an unchanged height queues nothing, so measuring never loops";
}

TEST_F(StatusPopoverTest, ATallColumnScrollsInsideTheCappedPopover) {
    rig.permissions.screenCapture = false;
    rig.permissions.accessibility = false;
    auto view = rig.makePopover();
    view->show();
    rig.loop.runUntilIdle();
    view->columnHeightChanged(2000);
    rig.loop.runUntilIdle();
    ASSERT_EQ(view->height(), 760);
    view->scrollArea()->widget()->setMinimumHeight(2000);
    view->scrollArea()->widget()->adjustSize();
    QCoreApplication::processEvents();
    EXPECT_GT(view->scrollArea()->verticalScrollBar()->maximum(), 0);
}

TEST_F(StatusPopoverTest, TheEyeButtonFlipsAndPersistsTheMasterSwitchAtOnce) {
    auto view = rig.makePopover();
    rig.loop.runUntilIdle();
    ASSERT_TRUE(rig.settings->masterEnabled());
    view->masterButton()->click();
    EXPECT_FALSE(rig.settings->masterEnabled());
    EXPECT_EQ(rig.defaults.boolValue("masterEnabled"), false) << "written before the loop turns";
    rig.loop.runUntilIdle();
    EXPECT_EQ(view->masterButton()->accessibleName(), QStringLiteral("Enable"));
    EXPECT_EQ(view->masterButton()->palette().color(QPalette::ButtonText), QColor(142, 142, 147));

    view->masterButton()->click();
    EXPECT_TRUE(rig.settings->masterEnabled());
    EXPECT_EQ(rig.defaults.boolValue("masterEnabled"), true);
}

TEST_F(StatusPopoverTest, TheOverlaySwitchWritesOnTheNextTurnAndTheStyleControlsSlideAway) {
    auto view = rig.makePopover();
    view->show();
    rig.loop.runUntilIdle();
    auto* controls = view->styleControls();
    ASSERT_TRUE(view->overlaySwitch()->isChecked());
    ASSERT_FALSE(controls->isHidden());
    const int fullHeight = controls->sizeHint().height();

    view->overlaySwitch()->click();
    EXPECT_TRUE(rig.settings->overlayEnabled()) << "the click does not write in its own turn";
    EXPECT_NE(rig.defaults.boolValue("overlayEnabled"), std::optional<bool>(false));
    rig.loop.runUntilIdle();
    EXPECT_FALSE(rig.settings->overlayEnabled());
    EXPECT_EQ(rig.defaults.boolValue("overlayEnabled"), false);

    rig.loop.advance(0.1);
    EXPECT_FALSE(controls->isHidden()) << "half way through the slide";
    EXPECT_LT(controls->maximumHeight(), fullHeight);
    EXPECT_GT(controls->maximumHeight(), 0);
    rig.loop.advance(0.15);
    EXPECT_TRUE(controls->isHidden());

    rig.settings->overlayEnabled = true;  // from elsewhere: the switch follows
    rig.loop.runUntilIdle();
    EXPECT_TRUE(view->overlaySwitch()->isChecked());
    rig.loop.advance(0.05);
    EXPECT_FALSE(controls->isHidden());
    EXPECT_LT(controls->maximumHeight(), fullHeight);
    rig.loop.advance(0.2);
    EXPECT_EQ(controls->maximumHeight(), QWIDGETSIZE_MAX) << "fully shown, free to grow again";
}

TEST_F(StatusPopoverTest, TheStyleChipsAndOpacitySliderWriteOnTheNextTurn) {
    auto view = rig.makePopover();
    rig.loop.runUntilIdle();
    auto* controls = view->styleControls();
    controls->styleButton(MenuBarStyle::gradient)->click();
    EXPECT_NE(rig.settings->style(), MenuBarStyle::gradient);
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.settings->style(), MenuBarStyle::gradient);
    EXPECT_TRUE(controls->styleButton(MenuBarStyle::gradient)->isChecked());
    EXPECT_FALSE(controls->styleButton(MenuBarStyle::solid)->isChecked());
    EXPECT_EQ(controls->descriptionText(),
              QStringLiteral("Vertical fade — opaque at the bottom edge, lighter toward the top."));

    controls->opacitySlider()->setValue(controls->opacitySlider()->positionOf(29));
    rig.loop.runUntilIdle();
    EXPECT_DOUBLE_EQ(rig.settings->overlayOpacity(), 0.29);
    // 0.29 × 100 is a hair under 29 in binary: the text still shows what the slider was set to.
    EXPECT_EQ(controls->opacityText(), QStringLiteral("29%"));
}

TEST_F(StatusPopoverTest, SettingsAndQuitRunTheirHandlers) {
    auto view = rig.makePopover();
    view->settingsButton()->click();
    view->quitButton()->click();
    EXPECT_EQ(rig.settingsOpened, 1);
    EXPECT_EQ(rig.quits, 1);
}

}  // namespace
}  // namespace velaro
