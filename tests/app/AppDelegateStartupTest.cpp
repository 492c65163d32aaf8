// Start-up: what the launch does with each stored tour step and permission, the runtime started exactly once
// whichever path comes first, the reminder banner, the editing query and the reopen handler.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <algorithm>

#include "app/StatusItemController.h"
#include "onboarding/OnboardingWindowController.h"
#include "onboarding/TourControls.h"
#include "overlay/OverlayDisabledBanner.h"
#include "support/AppDelegateRig.h"
#include "support/WidgetSearch.h"
#include "ui/settings/SettingsWindow.h"

namespace velaro {
namespace {

using test::AppDelegateRig;

// Clicks the tour's button of that object name.
void press(QWidget* tour, const char* name) {
    auto* button = test::findNamed<QAbstractButton>(tour, name);
    ASSERT_NE(button, nullptr) << name;
    button->click();
}

TEST(AppDelegateStartup, CompletedTourStartsTheRuntimeWithoutTheTourEvenOutsideAnX11Session) {
    AppDelegateRig rig;
    rig.storeStep(OnboardingStep::completed);
    rig.permissions[Capability::x11Session] = false;
    rig.launch();
    EXPECT_TRUE(rig.runtimeStarted());
    EXPECT_EQ(rig.updater.startCalls, 1) << "the updater starts with the delegate, once";
    EXPECT_FALSE(rig.tour()) << "a completed tour never opens";
    ASSERT_NE(rig.delegate->appWatcher(), nullptr);
    ASSERT_EQ(rig.controllers.size(), 1u);
    EXPECT_EQ(rig.controller().attachCount, 1) << "the controller follows the overview detector";
    ASSERT_TRUE(rig.settings().isEditingActive) << "the settings got their editing query";
    EXPECT_FALSE(rig.settings().isEditingActive());
}

TEST(AppDelegateStartup, WelcomeStepOutsideAnX11SessionWaitsForTheTour) {
    AppDelegateRig rig;  // nothing stored: the welcome step
    rig.permissions[Capability::x11Session] = false;
    auto& d = rig.launch();
    EXPECT_FALSE(rig.runtimeStarted());
    ASSERT_NE(rig.tour(), nullptr);
    EXPECT_TRUE(d.isTourVisible());
    EXPECT_EQ(rig.delegate->appWatcher(), nullptr);
    EXPECT_TRUE(rig.controllers.empty());
    EXPECT_EQ(rig.hostWindow("overlay-beam"), nullptr);
    EXPECT_EQ(rig.hostWindow("overlay-banner"), nullptr);

    // The tour asks for the runtime before its style pages: it starts, once.
    d.tourRequestsRuntime();
    d.tourRequestsRuntime();
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.runtimeStarted());
    EXPECT_EQ(rig.controllers.size(), 1u);

    // Closing the tour later does not start it again, and lets the tour controller go.
    rig.closeTour();
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.controllers.size(), 1u);
    EXPECT_EQ(rig.tour(), nullptr);
}

TEST(AppDelegateStartup, TheTourStartsTheRuntimeAtTheFirstFeaturePageAndDoneClosesIt) {
    AppDelegateRig rig;
    rig.permissions[Capability::x11Session] = false;
    auto& d = rig.launch();
    ASSERT_NE(rig.tour(), nullptr);
    OnboardingRootView* tour = rig.tour();
    ASSERT_NE(tour, nullptr);
    press(tour, "letsStart");
    EXPECT_EQ(tour->step(), OnboardingStep::permissions);
    EXPECT_EQ(rig.defaults.integerValue(onboardingStepKey), 1);
    press(tour, "next");
    EXPECT_EQ(tour->step(), OnboardingStep::permissions) << "Next waits for the screen capture";
    EXPECT_FALSE(rig.runtimeStarted());

    rig.permissions[Capability::x11Session] = true;
    rig.loop.advance(1.0);
    press(tour, "next");
    EXPECT_EQ(tour->step(), OnboardingStep::menubarShape);
    EXPECT_TRUE(rig.runtimeStarted()) << "started before the first feature page shows";
    EXPECT_EQ(rig.controllers.size(), 1u);

    tour->go(OnboardingStep::allSet);
    press(tour, "next");
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.defaults.integerValue(onboardingStepKey),
              static_cast<std::int64_t>(OnboardingStep::completed));
    EXPECT_FALSE(d.isTourVisible());
    EXPECT_EQ(rig.tour(), nullptr) << "the shell lets the closed tour go";
    EXPECT_EQ(rig.controllers.size(), 1u) << "closing starts nothing again";
}

TEST(AppDelegateStartup, ClosingTheTourMidWelcomeLeavesNoStepBehind) {
    AppDelegateRig rig;
    rig.launch();
    rig.loop.advance(1.4);
    rig.closeTour();
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.tour(), nullptr);
    // The welcome button's pulse would end at 4.1 s; with the view gone, nothing of it is left to run.
    rig.loop.advance(5);
}

TEST(AppDelegateStartup, ASessionThatAnswersLateStartsTheRuntimeWhenItDoes) {
    AppDelegateRig rig;
    rig.permissions.heldBack = {Capability::x11Session};
    rig.launch();
    EXPECT_FALSE(rig.runtimeStarted());
    rig.permissions.answerPending();
    EXPECT_TRUE(rig.runtimeStarted());
}

TEST(AppDelegateStartup, ClosingTheTourStartsTheRuntimeWhenNothingElseDid) {
    AppDelegateRig rig;
    rig.storeStep(OnboardingStep::permissions);
    rig.permissions[Capability::x11Session] = false;
    auto& d = rig.launch();
    ASSERT_FALSE(rig.runtimeStarted());
    rig.closeTour();
    EXPECT_FALSE(rig.runtimeStarted()) << "the close is handled on the next turn";
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.runtimeStarted());
    d.tourRequestsRuntime();
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.controllers.size(), 1u);
}

TEST(AppDelegateStartup, WelcomeStepInAnX11SessionAndLaterStepsStartAtOnceBesideTheTour) {
    for (auto step : {OnboardingStep::welcome, OnboardingStep::lightReflections, OnboardingStep::allSet}) {
        AppDelegateRig rig;
        rig.storeStep(step);
        rig.permissions[Capability::x11Session] = step == OnboardingStep::welcome;
        if (step != OnboardingStep::welcome) rig.permissions[Capability::x11Session] = false;
        auto& d = rig.launch();
        EXPECT_TRUE(rig.runtimeStarted()) << int(step);
        EXPECT_TRUE(d.isTourVisible()) << int(step);
        // The tour shows, so no launch banner even with the master switch off (checked below); one
        // controller.
        EXPECT_EQ(rig.controllers.size(), 1u);
    }
}

TEST(AppDelegateStartup, StoredStepsOutsideTheRangeResumeAsTheTourSays) {
    EXPECT_EQ(resumedOnboardingStep(-3), OnboardingStep::welcome);
    EXPECT_EQ(resumedOnboardingStep(2), OnboardingStep::menubarShape) << "the retired style page";
    EXPECT_EQ(resumedOnboardingStep(10), OnboardingStep::fillWindow);
    EXPECT_EQ(resumedOnboardingStep(11), OnboardingStep::completed);
    EXPECT_EQ(startPage(OnboardingStep::style), OnboardingStep::welcome);
    EXPECT_EQ(startPage(OnboardingStep::completed), OnboardingStep::welcome);
    EXPECT_EQ(startPage(OnboardingStep::allSet), OnboardingStep::allSet);

    AppDelegateRig rig;
    rig.storeStep(static_cast<OnboardingStep>(99));
    rig.launch();
    EXPECT_FALSE(rig.tour()) << "an unknown stored step counts as completed";
}

TEST(AppDelegateStartup, MasterOffAtLaunchShowsTheBannerFor3Point5SecondsUnlessTheTourShows) {
    {
        AppDelegateRig rig;
        rig.storeStep(OnboardingStep::completed);
        rig.defaults.set("masterEnabled", PlistValue(false));
        rig.launch();
        ASSERT_NE(rig.hostWindow("overlay-banner"), nullptr);
        auto& w = *rig.hostWindow("overlay-banner");
        EXPECT_TRUE(w.isVisible());
        rig.loop.advance(0.3);
        EXPECT_DOUBLE_EQ(w.alphaValue(), 1.0);
        rig.loop.advance(3.3);
        EXPECT_TRUE(w.isVisible()) << "fading out";
        rig.loop.advance(0.3);
        EXPECT_FALSE(w.isVisible());
        rig.readyCapture();
        EXPECT_FALSE(rig.sampler().isFilledWindowActive()) << "sampling is off: no refresh looks";
        EXPECT_FALSE(rig.capturing());
    }
    {
        AppDelegateRig rig;
        rig.storeStep(OnboardingStep::allSet);
        rig.defaults.set("masterEnabled", PlistValue(false));
        rig.launch();
        EXPECT_TRUE(rig.runtimeStarted());
        EXPECT_EQ(rig.hostWindow("overlay-banner"), nullptr) << "the tour is in front of the user";
    }
    {
        AppDelegateRig rig;
        rig.storeStep(OnboardingStep::completed);
        rig.launch();
        EXPECT_EQ(rig.hostWindow("overlay-banner"), nullptr) << "master on: nothing to remind of";
    }
}

TEST(AppDelegateStartup, EditingIsActiveWhileSettingsShowAndTheTourDoesNot) {
    AppDelegateRig rig;
    rig.storeStep(OnboardingStep::completed);
    auto& d = rig.launch();
    auto query = rig.settings().isEditingActive;
    EXPECT_FALSE(query());
    d.openSettings(SettingsCategory::shortcuts);
    EXPECT_TRUE(query());
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.settingsPage(), QStringLiteral("Shortcuts"));
    d.showOnboarding();
    EXPECT_FALSE(d.isSettingsVisible()) << "the tour and the settings never show together";
    EXPECT_FALSE(query());
    // A replay after completion starts at the welcome page and leaves the stored step alone.
    ASSERT_NE(rig.tour(), nullptr);
    EXPECT_EQ(rig.tour()->model().step, OnboardingStep::welcome);
    EXPECT_FALSE(rig.tour()->model().persistsProgress);

    // The query outlives the delegate in the settings' hands only as long as the settings; still safe.
    rig.delegate.reset();
}

TEST(AppDelegateStartup, StatusItemTakesTheStoredSwitchAtLaunchAndFollowsIt) {
    AppDelegateRig rig;
    rig.provideTray = true;
    rig.storeStep(OnboardingStep::completed);
    rig.defaults.set("masterEnabled", PlistValue(false));
    rig.launch();
    EXPECT_TRUE(rig.tray.visible) << "the status item is in the tray";
    EXPECT_EQ(rig.tray.appearance, StatusItemController::appearanceFor(false));
    rig.settings().masterEnabled = true;
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.tray.appearance, StatusItemController::appearanceFor(true));

    // The menu's "Check for Updates…" reaches the updater.
    rig.tray.rightClick();
    rig.tray.choose("Check for Updates…");
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.updater.checks, 1);
}

TEST(AppDelegateStartup, LaunchAppliesTheTaskbarPolicyAndTheSettingsWindowFollowsIt) {
    AppDelegateRig rig;
    rig.storeStep(OnboardingStep::completed);
    auto& d = rig.launch();
    EXPECT_EQ(rig.taskbarPolicy.policy, ActivationPolicy::accessory)
        << "tray-only unless the icon is asked for";
    d.openSettings();
    ASSERT_NE(rig.settingsWindow(), nullptr);
    EXPECT_EQ(rig.taskbarPolicy.windows.size(), 1u) << "the settings window follows the taskbar policy";
    EXPECT_EQ(rig.settingsWindow()->width(), SettingsWindow::windowWidth);

    rig.settings().showTaskbarIcon = true;
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.taskbarPolicy.policy, ActivationPolicy::regular);
}

TEST(AppDelegateStartup, ReopenBringsTheTourForwardElseOpensTheSettings) {
    AppDelegateRig rig;
    rig.storeStep(OnboardingStep::allSet);
    rig.needNoCapture();
    auto& d = rig.launch();
    rig.readyCapture();
    d.setPopoverOpen(true);
    ASSERT_TRUE(rig.capturing()) << "the open popover wants capture";
    EXPECT_FALSE(d.applicationShouldHandleReopen());
    EXPECT_FALSE(rig.capturing()) << "the popover closed";
    EXPECT_TRUE(d.isTourVisible());
    EXPECT_FALSE(d.isSettingsVisible());

    rig.closeTour();
    rig.loop.runUntilIdle();
    EXPECT_FALSE(d.applicationShouldHandleReopen());
    EXPECT_TRUE(d.isSettingsVisible());
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.settingsPage(), QStringLiteral("Appearance"));
    EXPECT_FALSE(AppDelegate::applicationShouldTerminateAfterLastWindowClosed());
}

TEST(AppDelegateStartup, TheTrayTakesTheDesktopsIconsAndTheBandItsCornersOnlyOnceTheLaunchsWindowsAreShown) {
    // With the tour done (the band first) and with the tour pending (its window first), and without a way
    // to learn when windows are shown.
    for (const auto step : {OnboardingStep::completed, OnboardingStep::welcome}) {
        for (const bool toldWhenShown : {true, false}) {
            SCOPED_TRACE(::testing::Message()
                         << "step " << static_cast<int>(step) << ", told " << toldWhenShown);
            AppDelegateRig rig;
            rig.storeStep(step);
            rig.provideTray = true;
            std::vector<std::function<void()>> waiting;
            if (toldWhenShown)
                rig.afterWindowsShown = [&](std::function<void()> block) {
                    waiting.push_back(std::move(block));
                };
            rig.launch();
            EXPECT_TRUE(rig.tray.visible) << "the icon is in the tray from the launch on";
            const auto heldWindowsMade = [&] {
                if (rig.controllers.empty()) return 0l;
                const auto& calls = rig.controller().calls;
                return static_cast<long>(std::count(calls.begin(), calls.end(), "held windows"));
            };
            if (toldWhenShown) {
                EXPECT_EQ(rig.tray.desktopIconRequests, 0) << "not before the windows are shown";
                EXPECT_EQ(heldWindowsMade(), 0);
                ASSERT_FALSE(waiting.empty());
                for (const auto& block : waiting) block();
            }
            EXPECT_EQ(rig.tray.desktopIconRequests, 1);
            EXPECT_EQ(heldWindowsMade(), 1) << "the band's corners follow it";
            rig.loop.runUntilIdle();
            EXPECT_EQ(rig.tray.desktopIconRequests, 1) << "asked once";
        }
    }
}

TEST(AppDelegateStartup, ARuntimeTheTourStartsLaterMakesItsHeldWindowsToo) {
    AppDelegateRig rig;  // the welcome step outside an X11 session: no runtime at launch
    rig.permissions[Capability::x11Session] = false;
    auto& d = rig.launch();
    ASSERT_TRUE(rig.controllers.empty());
    d.tourRequestsRuntime();
    rig.loop.runUntilIdle();
    ASSERT_EQ(rig.controllers.size(), 1u);
    const auto& calls = rig.controller().calls;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "held windows"), 1);
}

TEST(AppDelegateStartup, WindowsShownAfterTheDelegateIsGoneRunNothingOfIt) {
    AppDelegateRig rig;
    rig.storeStep(OnboardingStep::completed);
    rig.provideTray = true;
    std::function<void()> waiting;
    rig.afterWindowsShown = [&](std::function<void()> block) { waiting = std::move(block); };
    rig.launch();
    rig.delegate.reset();
    ASSERT_TRUE(waiting);
    waiting();
    EXPECT_EQ(rig.tray.desktopIconRequests, 0);
}

}  // namespace
}  // namespace velaro
