// The settings and tour windows' rules: where a tour starts and whether it keeps its progress, the taskbar
// policy and the focus hand-back that waits for the tour, and the profile scope on closing the settings.
#include <gtest/gtest.h>

#include <QWidget>

#include "app/WindowPolicy.h"
#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeTaskbarPolicy.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

TEST(TourLaunchTest, AStoredStepResumesAndACompletedTourKeepsNoProgress) {
    EXPECT_EQ(tourLaunch(std::nullopt, std::nullopt, 1), (TourLaunch{OnboardingStep::permissions, true}));
    EXPECT_EQ(tourLaunch(std::nullopt, std::nullopt, 2), (TourLaunch{OnboardingStep::menubarShape, true}))
        << "the retired style page resumes at the shape page";
    EXPECT_EQ(tourLaunch(std::nullopt, std::nullopt, 4), (TourLaunch{OnboardingStep::completed, false}));
    EXPECT_EQ(tourLaunch(std::nullopt, std::nullopt, 99), (TourLaunch{OnboardingStep::completed, false}));
    EXPECT_EQ(tourLaunch(std::nullopt, std::nullopt, -3), (TourLaunch{OnboardingStep::welcome, true}));
}

TEST(TourLaunchTest, AGivenStepIsUsedAndAGivenPersistenceChoiceWins) {
    EXPECT_EQ(tourLaunch(OnboardingStep::completed, std::nullopt, 1),
              (TourLaunch{OnboardingStep::completed, false}));
    EXPECT_EQ(tourLaunch(OnboardingStep::welcome, std::nullopt, 4),
              (TourLaunch{OnboardingStep::welcome, true}));
    EXPECT_EQ(tourLaunch(OnboardingStep::welcome, false, 1), (TourLaunch{OnboardingStep::welcome, false}));
    EXPECT_EQ(tourLaunch(std::nullopt, true, 4), (TourLaunch{OnboardingStep::completed, true}));
}

TEST(EditingActiveTest, OnlyTheSettingsWindowWithoutTheTour) {
    EXPECT_TRUE(isEditingActive(true, false));
    EXPECT_FALSE(isEditingActive(true, true));
    EXPECT_FALSE(isEditingActive(false, false));
}

class TaskbarIconPolicyTest : public ::testing::Test {
protected:
    test::VirtualLoop loop;
    test::FakeTaskbarPolicy dock;
    WindowPolicy policy{dock, loop};
};

TEST_F(TaskbarIconPolicyTest, ShowingTheIconMakesARegularAppAndBringsOurWindowForward) {
    policy.applyTaskbarIconPolicy(true, false, 42);
    EXPECT_EQ(dock.policy, ActivationPolicy::regular);
    EXPECT_EQ(dock.activations, std::vector<WindowNumber>{42});

    policy.applyTaskbarIconPolicy(true, false, 0);
    EXPECT_EQ(dock.activations.size(), 1u)
        << "with no window of ours showing there is nothing to bring forward";
}

TEST_F(TaskbarIconPolicyTest, HidingItGivesTheFocusAwayAtOnceWithoutTheTour) {
    policy.applyTaskbarIconPolicy(false, false, 0);
    EXPECT_EQ(dock.policy, ActivationPolicy::accessory);
    EXPECT_EQ(dock.deactivations, 1);
    policy.tourDidClose();
    EXPECT_EQ(dock.deactivations, 1) << "nothing was left for the tour's close";
}

TEST_F(TaskbarIconPolicyTest, WhileTheTourShowsTheFocusStaysUntilItCloses) {
    dock.activate(7);
    policy.applyTaskbarIconPolicy(false, true, 0);
    EXPECT_EQ(dock.policy, ActivationPolicy::accessory);
    EXPECT_EQ(dock.deactivations, 0);

    policy.tourDidClose();
    EXPECT_EQ(dock.deactivations, 1);
    policy.tourDidClose();
    EXPECT_EQ(dock.deactivations, 1) << "handed back once";
}

TEST_F(TaskbarIconPolicyTest, ShowingTheIconAgainBeforeTheTourClosesCancelsTheHandBack) {
    policy.applyTaskbarIconPolicy(false, true, 0);
    policy.applyTaskbarIconPolicy(true, true, 9);
    policy.tourDidClose();
    EXPECT_EQ(dock.deactivations, 0);
}

TEST_F(TaskbarIconPolicyTest, AWindowFollowsThePolicyByEachNativeWindowItGetsUntilItGoes) {
    auto window = std::make_unique<QWidget>();
    policy.follow(*window, TaskbarEntry::whileMinimisable);
    const auto first = WindowNumber(window->internalWinId());
    ASSERT_NE(first, 0) << "made at once, so that it is under the policy before it first shows";
    EXPECT_EQ(dock.windows, std::vector<WindowNumber>{first});
    EXPECT_EQ(dock.entries[first], TaskbarEntry::whileMinimisable);

    // Closing destroys the native window; showing the window again makes another, with another number.
    window->show();
    window->close();
    EXPECT_TRUE(dock.windows.empty());
    window->show();
    const auto second = WindowNumber(window->internalWinId());
    ASSERT_NE(second, 0);
    EXPECT_NE(second, first);
    EXPECT_EQ(dock.windows, std::vector<WindowNumber>{second});
    EXPECT_EQ(dock.entries[second], TaskbarEntry::whileMinimisable);

    window.reset();
    EXPECT_TRUE(dock.windows.empty()) << "a destroyed window leaves no number behind";
}

class SettingsScopeTest : public ::testing::Test {
protected:
    SettingsScopeTest() {
        profiles = std::make_unique<ProfileManager>(defaults);
        settings = std::make_unique<OverlaySettings>(defaults, loop);
        loop.runUntilIdle();
        // The front app's profile is not in force yet: the app came to the front while the settings window
        // was being edited, and the window is now closing.
        settings->isEditingActive = [this] { return editing; };
        settings->attachProfileManager(*profiles);
        profiles->addProfile(kEditor, "Editor");
        profiles->setOverride(PlistValue(0.5), "overlayOpacity", kEditor);
        settings->setRuntimeAppId(kEditor);
        editing = false;
    }
    static constexpr const char* kEditor = "org.example.Editor";
    bool editing = true;
    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    test::FakeTaskbarPolicy dock;
    std::unique_ptr<ProfileManager> profiles;
    std::unique_ptr<OverlaySettings> settings;
};

TEST_F(SettingsScopeTest, ClosingTheSettingsReturnsToTheGlobalScope) {
    WindowPolicy policy{dock, loop};
    profiles->selectedScope = ProfileScope::app("org.example.Editor");
    const double global = settings->overlayOpacity();
    ASSERT_NE(global, 0.5);
    policy.settingsWindowWillClose(*profiles, *settings);
    EXPECT_TRUE(profiles->selectedScope().isGlobal());
    EXPECT_EQ(settings->overlayOpacity(), global) << "not while the window is still closing";
    loop.runUntilIdle();
    EXPECT_EQ(settings->overlayOpacity(), 0.5) << "the front app's profile is re-applied once it has closed";
}

TEST_F(SettingsScopeTest, AReapplyQueuedByAPolicyThatIsGoneDoesNothing) {
    auto policy = std::make_unique<WindowPolicy>(dock, loop);
    const double global = settings->overlayOpacity();
    policy->settingsWindowWillClose(*profiles, *settings);
    policy.reset();
    loop.runUntilIdle();
    EXPECT_EQ(settings->overlayOpacity(), global) << "the queued re-apply went with its policy";
}

}  // namespace
}  // namespace velaro
