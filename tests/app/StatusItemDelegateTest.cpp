// The status item over the real application delegate: before the runtime starts the menu has no switch
// and a left click opens the tour; afterwards the popover shows the runtime's live views, raises the
// capture demand, and its own "Settings…" closes it before the settings window opens.
#include <gtest/gtest.h>

#include <QPushButton>
#include <algorithm>

#include "app/StatusItemController.h"
#include "onboarding/OnboardingWindowController.h"
#include "support/AppDelegateRig.h"
#include "support/FakeTray.h"
#include "support/RowSearch.h"
#include "ui/settings/pages/UpdateCheckModel.h"
#include "ui/tray/LivePreviewHeader.h"
#include "ui/tray/StatusPopover.h"

namespace velaro {
namespace {

using Titles = std::vector<std::string>;

class StatusItemDelegateTest : public ::testing::Test {
protected:
    void attach(AppDelegate& delegate) {
        controller = std::make_unique<StatusItemController>(
            tray, delegate.overlaySettings(),
            StatusItemController::hooksFor(
                delegate, {rig.loop, rig.permissions, [this] { ++updateChecks; }, [this] { ++quits; }}));
        controller->setup();
    }
    // Launches the delegate with the tour stored at `step` and the status item attached.
    AppDelegate& launchAt(OnboardingStep step) {
        rig.storeStep(step);
        rig.needNoCapture();
        auto& delegate = rig.make();
        attach(delegate);
        delegate.applicationDidFinishLaunching();
        rig.loop.runUntilIdle();
        return delegate;
    }
    StatusPopover& popoverView() {
        auto content = std::dynamic_pointer_cast<StatusPopoverContent>(tray.popovers.at(0)->content);
        return content->view();
    }

    test::AppDelegateRig rig;
    test::FakeTray tray;
    std::unique_ptr<StatusItemController> controller;
    int updateChecks = 0;
    int quits = 0;
};

TEST_F(StatusItemDelegateTest, BeforeTheRuntimeTheMenuHasNoSwitchAndALeftClickOpensTheTour) {
    rig.permissions[Capability::x11Session] = false;  // first launch: the tour waits for the session
    auto& delegate = launchAt(OnboardingStep::welcome);
    ASSERT_FALSE(rig.runtimeStarted());

    tray.rightClick();
    EXPECT_EQ(tray.lastMenuTitles(), (Titles{"Settings…", "Check for Updates…", "-", "Quit"}));

    tray.leftClick();
    ASSERT_NE(rig.tour(), nullptr);
    EXPECT_TRUE(delegate.isTourVisible());
    EXPECT_TRUE(tray.popovers.empty()) << "the popover needs the runtime's app watcher";
    // No popover opened: once the runtime runs, nothing holds the capture for one.
    delegate.tourRequestsRuntime();
    rig.loop.runUntilIdle();
    rig.readyCapture();
    EXPECT_FALSE(rig.capturing()) << "no popover open";
}

TEST_F(StatusItemDelegateTest, AfterTheRuntimeThePopoverShowsTheLiveViewsAndRaisesTheDemand) {
    auto& delegate = launchAt(OnboardingStep::completed);
    ASSERT_TRUE(rig.runtimeStarted());

    tray.rightClick();
    EXPECT_EQ(tray.lastMenuTitles(), (Titles{"Disable", "Settings…", "Check for Updates…", "-", "Quit"}));

    tray.leftClick();
    ASSERT_EQ(tray.popovers.size(), 1u);

    delegate.screenSampler().isFilledWindowActive = true;
    rig.loop.runUntilIdle();
    EXPECT_NE(test::labelReading(&popoverView(), QStringLiteral("Filled screen")), nullptr);
    rig.readyCapture();
    EXPECT_TRUE(rig.capturing()) << "an open popover wants the live colour";

    test::buttonLabelled(&popoverView(), QStringLiteral("Settings…"))->click();
    EXPECT_FALSE(tray.popovers[0]->shown) << "the popover closes before the settings window opens";
    EXPECT_FALSE(rig.capturing()) << "and its demand goes";
    EXPECT_TRUE(delegate.isSettingsVisible());

    test::buttonLabelled(&popoverView(), QStringLiteral("Quit"))->click();
    EXPECT_EQ(quits, 1);
}

TEST_F(StatusItemDelegateTest, WhileTheTourShowsALeftClickBringsItBackEvenWithTheRuntimeRunning) {
    // Resumed on a feature page: the runtime runs.
    auto& delegate = launchAt(OnboardingStep::roundedCorners);
    ASSERT_TRUE(rig.runtimeStarted());
    ASSERT_TRUE(delegate.isTourVisible());
    const OnboardingRootView* shown = rig.tour();

    tray.leftClick();
    EXPECT_TRUE(tray.popovers.empty()) << "the tour, not the popover";
    EXPECT_TRUE(delegate.isTourVisible());
    EXPECT_EQ(rig.tour(), shown) << "the same tour, on the page it showed";

    test::AppDelegateRig::closeTour();
    rig.loop.runUntilIdle();
    tray.leftClick();
    EXPECT_EQ(tray.popovers.size(), 1u) << "once it is closed the click opens the popover again";
}

TEST_F(StatusItemDelegateTest, TheUpdateItemIsEnabledOnlyWhileTheUpdaterCanCheckAndSaysWhyWithoutAFeed) {
    struct Case {
        const char* what;
        bool hasFeed;
        bool canCheck;
        std::string toolTip;
    };
    const Case cases[] = {
        {"no feed configured: disabled, never a silent no-op, and the tool tip says why", false, false,
         UpdateCheckModel::noFeedReason},
        {"a feed and no check under way: enabled", true, true, ""},
        {"a feed and a check under way: disabled for now, nothing to explain", true, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::AppDelegateRig shell;
        shell.updater.hasFeed = c.hasFeed;
        shell.updater.canCheck = c.canCheck;
        auto& delegate = shell.make();
        test::FakeTray menuTray;
        int checks = 0;
        StatusItemController item(menuTray, delegate.overlaySettings(),
                                  StatusItemController::hooksFor(
                                      delegate, {shell.loop, shell.permissions, [&] { ++checks; }, [] {}}));
        item.setup();
        delegate.applicationDidFinishLaunching();
        shell.loop.runUntilIdle();

        menuTray.rightClick();
        const auto& menu = menuTray.lastMenu();
        const auto update = std::find_if(menu.begin(), menu.end(),
                                         [](const TrayMenuItem& i) { return i.title == "Check for Updates…"; });
        ASSERT_NE(update, menu.end());
        EXPECT_EQ(update->enabled, c.canCheck);
        EXPECT_EQ(update->toolTip, c.toolTip);
        menuTray.choose("Check for Updates…");
        EXPECT_EQ(checks, c.canCheck ? 1 : 0);
        EXPECT_EQ(delegate.updateCheck().canCheckForUpdates(), c.canCheck)
            << "the About page's button follows the same state";

        // The menu is built afresh each time, so the item follows the updater's state as it is then (a
        // check under way disables it).
        shell.updater.canCheck = !c.canCheck;
        menuTray.rightClick();
        menuTray.choose("Check for Updates…");
        EXPECT_EQ(checks, 1);
    }
}

}  // namespace
}  // namespace velaro
