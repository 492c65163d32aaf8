// The status item: its look following the master switch, the menu before and after the runtime starts, and
// the popover's opening and every way it closes.
#include <gtest/gtest.h>

#include "app/StatusItemController.h"
#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeTray.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

using test::FakeTray;

class StatusItemTest : public ::testing::Test {
protected:
    StatusItemController& make() {
        settings = std::make_unique<OverlaySettings>(defaults, loop);
        StatusItemController::Hooks hooks;
        hooks.runtimeStarted = [this] { return runtimeStarted; };
        hooks.showOnboarding = [this] { ++toursShown; };
        hooks.tourShown = [this] { return tourShown; };
        hooks.openSettings = [this] { ++settingsOpened; };
        hooks.checkForUpdates = [this] { ++updateChecks; };
        hooks.quit = [this] { ++quits; };
        hooks.popoverOpenChanged = [this](bool open) { demand.push_back(open); };
        hooks.makePopoverContent = [this](StatusItemController&) {
            ++contentsMade;
            return std::make_shared<TrayPopoverContent>();
        };
        controller = std::make_unique<StatusItemController>(tray, *settings, hooks);
        controller->setup();
        return *controller;
    }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    FakeTray tray;
    std::unique_ptr<OverlaySettings> settings;
    std::unique_ptr<StatusItemController> controller;
    bool runtimeStarted = true;
    bool tourShown = false;
    int toursShown = 0;
    int settingsOpened = 0;
    int updateChecks = 0;
    int quits = 0;
    int contentsMade = 0;
    std::vector<bool> demand;
};

using Titles = std::vector<std::string>;

TEST_F(StatusItemTest, TheIconToolTipAndAccessibleValueFollowTheMasterSwitch) {
    defaults.seed("masterEnabled", PlistValue(false));
    auto& c = make();
    ASSERT_TRUE(tray.visible);
    EXPECT_EQ(tray.appearance.icon, StatusIcon::off) << "the first look is the stored switch's";
    EXPECT_EQ(tray.appearance.toolTip, "Velaro — Disabled");
    EXPECT_EQ(tray.appearance.accessibilityValue, "Disabled");

    c.updateAppearance(true);
    EXPECT_EQ(tray.appearance.icon, StatusIcon::on);
    EXPECT_EQ(tray.appearance.toolTip, "Velaro — Enabled");
    EXPECT_EQ(tray.appearance.accessibilityLabel, "Velaro");
    EXPECT_EQ(tray.appearance.accessibilityValue, "Enabled");
}

TEST_F(StatusItemTest, TheLookFollowsTheSwitchEvenBeforeTheRuntimeRuns) {
    runtimeStarted = false;
    make();
    settings->masterEnabled = false;  // the hot key, during the tour
    EXPECT_EQ(tray.appearance.icon, StatusIcon::off);
    EXPECT_EQ(tray.appearance.toolTip, "Velaro — Disabled");
    settings->masterEnabled = true;
    EXPECT_EQ(tray.appearance.toolTip, "Velaro — Enabled");
}

TEST_F(StatusItemTest, BeforeTheRuntimeStartsTheMenuHasNoSwitchAndALeftClickOpensTheTour) {
    runtimeStarted = false;
    make();
    tray.rightClick();
    EXPECT_EQ(tray.lastMenuTitles(), (Titles{"Settings…", "Check for Updates…", "-", "Quit"}));

    tray.leftClick();
    EXPECT_EQ(toursShown, 1);
    EXPECT_EQ(contentsMade, 0) << "the popover needs the runtime's app watcher";
    EXPECT_TRUE(tray.popovers.empty());
    EXPECT_TRUE(demand.empty());
}

TEST_F(StatusItemTest, TheMasterItemReadsAndFlipsTheSwitchAndPersistsIt) {
    make();
    tray.rightClick();
    ASSERT_EQ(tray.lastMenuTitles(), (Titles{"Disable", "Settings…", "Check for Updates…", "-", "Quit"}));
    EXPECT_EQ(tray.lastMenu()[0].symbol, "eye.slash");

    tray.choose("Disable");
    EXPECT_FALSE(settings->masterEnabled());
    EXPECT_EQ(defaults.boolValue("masterEnabled"), false);

    tray.rightClick();
    EXPECT_EQ(tray.lastMenu()[0].title, "Enable") << "the menu is built afresh on each click";
    EXPECT_EQ(tray.lastMenu()[0].symbol, "eye");
    tray.choose("Enable");
    EXPECT_TRUE(settings->masterEnabled());
    EXPECT_EQ(defaults.boolValue("masterEnabled"), true);
}

TEST_F(StatusItemTest, TheOtherItemsReachTheirHandlers) {
    make();
    tray.rightClick();
    tray.choose("Settings…");
    tray.choose("Check for Updates…");
    tray.choose("Quit");
    EXPECT_EQ(settingsOpened, 1);
    EXPECT_EQ(updateChecks, 1);
    EXPECT_EQ(quits, 1);
    for (const auto& item : tray.lastMenu()) EXPECT_TRUE(item.enabled);
}

TEST_F(StatusItemTest, LeftClicksOpenAndCloseOnePopoverBuiltOnce) {
    make();
    tray.leftClick();
    ASSERT_EQ(tray.popovers.size(), 1u);
    EXPECT_TRUE(tray.popovers[0]->shown);
    EXPECT_TRUE(demand.back()) << "the delegate was told it opened";

    tray.leftClick();
    EXPECT_FALSE(tray.popovers[0]->shown);
    EXPECT_FALSE(demand.back()) << "the delegate was told it closed";

    tray.leftClick();
    EXPECT_TRUE(tray.popovers[0]->shown);
    EXPECT_EQ(tray.popovers.size(), 1u);
    EXPECT_EQ(contentsMade, 1);
    EXPECT_EQ(demand, (std::vector<bool>{true, false, true})) << "the capture demand follows each change";
}

TEST_F(StatusItemTest, WhileTheTourShowsALeftClickBringsItForwardInsteadOfThePopover) {
    make();
    tray.leftClick();
    ASSERT_TRUE(tray.popovers[0]->shown);
    // The tour opened from the settings window (the runtime runs), then minimised.
    tourShown = true;
    tray.leftClick();
    EXPECT_EQ(toursShown, 1);
    EXPECT_FALSE(tray.popovers[0]->shown) << "an open popover closes";
    EXPECT_FALSE(demand.back());
    tray.leftClick();
    EXPECT_EQ(toursShown, 2);
    EXPECT_EQ(tray.popovers[0]->showCount, 1) << "no popover while the tour shows";

    tourShown = false;
    tray.leftClick();
    EXPECT_TRUE(tray.popovers[0]->shown);
    EXPECT_EQ(toursShown, 2);
}

TEST_F(StatusItemTest, ARightOrControlClickWhileOpenClosesThePopoverAndShowsTheMenu) {
    make();
    tray.leftClick();
    tray.rightClick();
    EXPECT_FALSE(tray.popovers[0]->shown);
    EXPECT_FALSE(demand.back()) << "the delegate was told it closed";
    EXPECT_EQ(tray.menus.size(), 1u);

    tray.leftClick();
    tray.leftClick(/*control=*/true);
    EXPECT_FALSE(tray.popovers[0]->shown) << "a Control-click acts as a right click";
    EXPECT_EQ(tray.menus.size(), 2u);

    tray.rightClick();
    EXPECT_EQ(tray.popovers[0]->showCount, 2) << "a secondary click never opens the popover";
    EXPECT_EQ(demand, (std::vector<bool>{true, false, true, false}));
}

TEST_F(StatusItemTest, AClickOutsideClosesThePopoverAndLowersTheDemandOnce) {
    auto& c = make();
    tray.leftClick();
    auto* popover = tray.popovers[0];
    popover->clickOutside({10, 10});
    EXPECT_FALSE(popover->shown);
    EXPECT_FALSE(demand.back()) << "the delegate was told it closed";
    EXPECT_EQ(demand, (std::vector<bool>{true, false}));

    // Reopened and closed from the delegate (the settings command): no stale outside watch is left behind.
    tray.leftClick();
    c.closePopover();
    c.closePopover();
    EXPECT_EQ(popover->closeCount, 2);
    EXPECT_EQ(demand, (std::vector<bool>{true, false, true, false}));
}

TEST_F(StatusItemTest, ClosingBeforeAnyPopoverWasBuiltDoesNothing) {
    auto& c = make();
    c.closePopover();
    EXPECT_TRUE(tray.popovers.empty());
    EXPECT_TRUE(demand.empty());
}

}  // namespace
}  // namespace velaro
