// The popover's content: which parts the column holds, the cards of what is missing and their buttons, the
// height that follows the column up to its cap, the eye button writing at once and the overlay switch one
// turn later.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>

#include "support/RowSearch.h"
#include "ui/settings/kit/StyleOpacityControls.h"
#include "ui/settings/kit/StylePicker.h"
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

    // The popover's parts as the user sees them.
    static QWidget* column(const StatusPopover& view) { return statusRow(view)->parentWidget(); }
    static LivePreviewHeader::StatusRow* statusRow(const StatusPopover& view) {
        return test::findWidget<LivePreviewHeader::StatusRow>(&view);
    }
    // The column's direct parts from top to bottom, hidden ones left out.
    static std::vector<QWidget*> visibleColumn(const StatusPopover& view) {
        std::vector<QWidget*> parts;
        QLayout* layout = column(view)->layout();
        for (int i = 0; i < layout->count(); ++i)
            if (QWidget* w = layout->itemAt(i)->widget(); w && !w->isHidden()) parts.push_back(w);
        return parts;
    }
    // A card of something missing, by its heading.
    static QWidget* card(const StatusPopover& view, const char* heading) {
        for (QLabel* label : column(view)->findChildren<QLabel*>())
            if (label->text() == QString::fromUtf8(heading)) return label->parentWidget();
        return nullptr;
    }
    static QWidget* sessionCard(const StatusPopover& view) { return card(view, "X11 Session Required"); }
    static QWidget* compositorCard(const StatusPopover& view) { return card(view, "No Compositing Manager"); }
    static QWidget* soundCard(const StatusPopover& view) { return card(view, "No Sound Server"); }
    // The eye button: the bottom row's button that is neither "Settings…" nor "Quit".
    static QPushButton* masterButton(const StatusPopover& view) {
        QAbstractButton* settings = test::findButton(&view, QStringLiteral("Settings…"));
        QAbstractButton* quit = test::findButton(&view, QStringLiteral("Quit"));
        for (QPushButton* button : settings->parentWidget()->findChildren<QPushButton*>())
            if (button != settings && button != quit) return button;
        return nullptr;
    }
    static QCheckBox* overlaySwitch(const StatusPopover& view) { return test::findWidget<QCheckBox>(&view); }
    static StyleOpacityControls* styleControls(const StatusPopover& view) {
        return test::findWidget<StyleOpacityControls>(&view);
    }

    test::PopoverRig rig;
};

TEST_F(StatusPopoverTest, WithEverythingRunningTheColumnHasNoCardsAndNoGap) {
    auto view = rig.makePopover();
    view->show();
    rig.loop.runUntilIdle();
    const auto parts = visibleColumn(*view);
    ASSERT_EQ(parts.size(), 5u) << "header, status row, preview, style group, bottom row";
    EXPECT_EQ(parts[1], static_cast<QWidget*>(statusRow(*view)));
    EXPECT_EQ(parts[2], static_cast<QWidget*>(test::findWidget<LivePreviewHeader::Preview>(view.get())));
    EXPECT_TRUE(sessionCard(*view)->isHidden());
    EXPECT_TRUE(compositorCard(*view)->isHidden());
    EXPECT_TRUE(soundCard(*view)->isHidden());
}

TEST_F(StatusPopoverTest, TheSessionCardStaysAfterOpeningTheHelpUntilAShowingFindsTheSession) {
    rig.permissions[Capability::x11Session] = false;
    auto view = rig.makePopover();
    view->show();
    rig.loop.runUntilIdle();
    ASSERT_FALSE(sessionCard(*view)->isHidden());
    EXPECT_EQ(visibleColumn(*view)[2], sessionCard(*view)) << "the card sits under the status row";

    ASSERT_EQ(cardButton(sessionCard(*view))->text(), QStringLiteral("Open Help"));
    cardButton(sessionCard(*view))->click();
    EXPECT_EQ(rig.permissions.openedHelp, std::vector<Capability>{Capability::x11Session});
    rig.permissions[Capability::x11Session] = true;
    rig.loop.runUntilIdle();
    EXPECT_FALSE(sessionCard(*view)->isHidden()) << "opening the help changes nothing";

    reshow(*view);
    EXPECT_TRUE(sessionCard(*view)->isHidden());
}

TEST_F(StatusPopoverTest, ACardComesOnlyOnceTheDesktopSaysNoAndNoneStandsForAPlayer) {
    // The sound server answers on a later turn; no player running is no card at all.
    rig.permissions.heldBack = {Capability::soundServer};
    rig.permissions[Capability::soundServer] = false;
    rig.permissions[Capability::mediaPlayer] = false;
    rig.permissions[Capability::compositor] = false;
    auto view = rig.makePopover();
    view->show();
    rig.loop.runUntilIdle();
    EXPECT_FALSE(compositorCard(*view)->isHidden());
    EXPECT_TRUE(soundCard(*view)->isHidden()) << "not before the answer";
    rig.permissions.answerPending();
    EXPECT_FALSE(soundCard(*view)->isHidden());
    EXPECT_EQ(visibleColumn(*view).size(), 7u) << "two cards, the media player has none";

    // A compositor started since: the next showing asks again and its card goes.
    rig.permissions[Capability::compositor] = true;
    reshow(*view);
    EXPECT_TRUE(compositorCard(*view)->isHidden());
    EXPECT_EQ(rig.permissions.checks(Capability::soundServer), 2) << "asked again only after it answered";
}

TEST_F(StatusPopoverTest, AHelpPageThatCannotOpenLeavesTheCardAndReportsNothing) {
    rig.permissions[Capability::compositor] = false;
    rig.permissions.helpOpens = false;
    auto view = rig.makePopover();
    view->show();
    cardButton(compositorCard(*view))->click();
    EXPECT_FALSE(compositorCard(*view)->isHidden());
    EXPECT_EQ(rig.permissions.openedHelp, std::vector<Capability>{Capability::compositor});
}

TEST_F(StatusPopoverTest, ThePopoverIsAsTallAsTheColumnUpToTheCapAndThenScrolls) {
    auto view = rig.makePopover();
    // The column and the edge around it.
    constexpr int edges = 2 * StatusPopover::frameWidth;
    EXPECT_EQ(view->height(), 700 + edges) << "the first height stands until the measurement lands";
    rig.loop.runUntilIdle();
    const int measured = view->height();
    EXPECT_NE(measured, 700 + edges);
    EXPECT_EQ(view->width(), StatusPopover::popoverWidth);

    view->columnHeightChanged(1200);
    EXPECT_EQ(view->height(), measured) << "no change before the next turn";
    rig.loop.runUntilIdle();
    EXPECT_EQ(view->height(), 760) << "capped";

    view->columnHeightChanged(420);
    rig.loop.runUntilIdle();
    EXPECT_EQ(view->height(), 420 + edges);

    view->columnHeightChanged(420);
    EXPECT_EQ(rig.loop.pendingPosts(), 0u) << "an unchanged height queues nothing, so measuring never loops";
}

TEST_F(StatusPopoverTest, ThePopoverKeepsWithinTheRoomBelowThePanel) {
    // A 1080-pixel screen at scale 2 leaves 540 points, less the panel: under the cap.
    auto view = rig.makePopover();
    view->columnHeightChanged(1200);
    rig.loop.runUntilIdle();
    ASSERT_EQ(view->height(), 760);
    view->setAvailableHeight(512);
    EXPECT_EQ(view->height(), 512) << "at once, before the popover is placed";
    view->columnHeightChanged(420);
    rig.loop.runUntilIdle();
    EXPECT_EQ(view->height(), 420 + 2 * StatusPopover::frameWidth) << "a short column stays short";
    view->setAvailableHeight(1400);
    view->columnHeightChanged(1200);
    rig.loop.runUntilIdle();
    EXPECT_EQ(view->height(), 760) << "a tall screen gives no more than the cap";
    view->setAvailableHeight(0);
    EXPECT_EQ(view->height(), 760) << "no screen to measure leaves the cap";
}

TEST_F(StatusPopoverTest, ATallColumnScrollsInsideTheCappedPopover) {
    rig.permissions[Capability::x11Session] = false;
    rig.permissions[Capability::compositor] = false;
    auto view = rig.makePopover();
    view->show();
    rig.loop.runUntilIdle();
    view->columnHeightChanged(2000);
    rig.loop.runUntilIdle();
    ASSERT_EQ(view->height(), 760);
    auto* scroll = test::findWidget<QScrollArea>(view.get());
    scroll->widget()->setMinimumHeight(2000);
    scroll->widget()->adjustSize();
    QCoreApplication::processEvents();
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
}

TEST_F(StatusPopoverTest, TheEyeButtonFlipsAndPersistsTheMasterSwitchAtOnce) {
    auto view = rig.makePopover();
    rig.loop.runUntilIdle();
    ASSERT_TRUE(rig.settings->masterEnabled());
    masterButton(*view)->click();
    EXPECT_FALSE(rig.settings->masterEnabled());
    EXPECT_EQ(rig.defaults.boolValue("masterEnabled"), false) << "written before the loop turns";
    rig.loop.runUntilIdle();
    EXPECT_EQ(masterButton(*view)->accessibleName(), QStringLiteral("Enable"));
    EXPECT_TRUE(masterButton(*view)->toolTip().startsWith(QStringLiteral("Enable Velaro")))
        << "a symbol alone says nothing to the pointer: " << masterButton(*view)->toolTip().toStdString();
    EXPECT_EQ(masterButton(*view)->palette().color(QPalette::ButtonText), QColor(142, 142, 147));

    masterButton(*view)->click();
    EXPECT_TRUE(rig.settings->masterEnabled());
    EXPECT_EQ(rig.defaults.boolValue("masterEnabled"), true);
    rig.loop.runUntilIdle();
    EXPECT_TRUE(masterButton(*view)->toolTip().startsWith(QStringLiteral("Disable Velaro")));
}

TEST_F(StatusPopoverTest, AnEdgeKeepsThePopoverApartFromAWindowOfItsColourBehindIt) {
    auto view = rig.makePopover();
    rig.loop.runUntilIdle();
    const QColor edge = view->palette().color(QPalette::Mid);
    const QColor ground = view->palette().color(QPalette::Window);
    ASSERT_NE(edge, ground);
    for (const qreal scale : {1.0, 2.0}) {
        QImage shot((QSizeF(view->size()) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
        shot.setDevicePixelRatio(scale);
        shot.fill(ground);  // a window of the popover's own colour behind it
        view->render(&shot);
        const int w = shot.width(), h = shot.height();
        const int frame = int(StatusPopover::frameWidth * scale);
        for (const QPoint p : {QPoint(0, h / 2), QPoint(w - 1, h / 2), QPoint(w / 2, 0), QPoint(w / 2, h - 1),
                               QPoint(frame - 1, frame - 1)})
            EXPECT_EQ(shot.pixelColor(p).rgb(), edge.rgb()) << p.x() << "," << p.y() << " at scale " << scale;
        EXPECT_NE(shot.pixelColor(frame, h / 2).rgb(), edge.rgb()) << "one point wide, at scale " << scale;
    }
}

TEST_F(StatusPopoverTest, TheOverlaySwitchWritesOnTheNextTurnAndTheStyleControlsSlideAway) {
    auto view = rig.makePopover();
    view->show();
    rig.loop.runUntilIdle();
    auto* controls = styleControls(*view);
    ASSERT_TRUE(overlaySwitch(*view)->isChecked());
    ASSERT_FALSE(controls->isHidden());
    const int fullHeight = controls->sizeHint().height();

    overlaySwitch(*view)->click();
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
    EXPECT_TRUE(overlaySwitch(*view)->isChecked());
    rig.loop.advance(0.05);
    EXPECT_FALSE(controls->isHidden());
    EXPECT_LT(controls->maximumHeight(), fullHeight);
    rig.loop.advance(0.2);
    EXPECT_EQ(controls->maximumHeight(), QWIDGETSIZE_MAX) << "fully shown, free to grow again";
}

TEST_F(StatusPopoverTest, TheStyleChipsAndOpacitySliderWriteOnTheNextTurn) {
    auto view = rig.makePopover();
    rig.loop.runUntilIdle();
    auto* controls = styleControls(*view);
    auto* picker = test::findWidget<StylePicker>(controls);
    auto* opacity = test::findWidget<ResettableSlider>(controls);
    picker->button(MenuBarStyle::gradient)->click();
    EXPECT_NE(rig.settings->style(), MenuBarStyle::gradient);
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.settings->style(), MenuBarStyle::gradient);
    EXPECT_TRUE(picker->button(MenuBarStyle::gradient)->isChecked());
    EXPECT_FALSE(picker->button(MenuBarStyle::solid)->isChecked());
    EXPECT_NE(
        test::labelReading(
            picker, QStringLiteral("Vertical fade — opaque at the bottom edge, lighter toward the top.")),
        nullptr);

    opacity->setValue(opacity->positionOf(29));
    rig.loop.runUntilIdle();
    EXPECT_DOUBLE_EQ(rig.settings->overlayOpacity(), 0.29);
    // 0.29 × 100 is a hair under 29 in binary: the text still shows what the slider was set to.
    EXPECT_NE(test::labelReading(controls, QStringLiteral("29%")), nullptr);
}

TEST_F(StatusPopoverTest, SettingsAndQuitRunTheirHandlers) {
    auto view = rig.makePopover();
    test::buttonLabelled(view.get(), QStringLiteral("Settings…"))->click();
    test::buttonLabelled(view.get(), QStringLiteral("Quit"))->click();
    EXPECT_EQ(rig.settingsOpened, 1);
    EXPECT_EQ(rig.quits, 1);
}

}  // namespace
}  // namespace velaro
