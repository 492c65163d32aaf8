// Opening the settings window: the page it opens on, the window made once and brought back from the
// taskbar when minimised, the About page's update checker made on first use, and the tour the General
// page's action opens.
#include <gtest/gtest.h>

#include "support/AppDelegateRig.h"
#include "onboarding/OnboardingWindowController.h"
#include "support/WidgetSearch.h"
#include "ui/settings/GeneralPage.h"
#include "ui/settings/SettingsRootView.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/UpdateCheckModel.h"

namespace velaro {
namespace {

using test::AppDelegateRig;

TEST(AppDelegateSettingsWindow, OpensOnThePageAskedForAndRestoresAMinimisedWindow) {
    AppDelegateRig rig;
    rig.storeStep(OnboardingStep::completed);
    auto& d = rig.launch();
    d.openSettings();
    SettingsWindow* window = rig.settingsWindow();
    ASSERT_NE(window, nullptr);
    auto* root = test::findWidget<SettingsRootView>(window);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(rig.settingsNavigation().selection(), SettingsCategory::appearance);
    EXPECT_EQ(root->navigationTitle(), QStringLiteral("Appearance"));

    window->setWindowState(window->windowState() | Qt::WindowMinimized);
    ASSERT_TRUE(window->isMinimized());
    d.openSettings(SettingsCategory::about);
    EXPECT_EQ(rig.settingsWindow(), window) << "one window, reused";
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(d.isSettingsVisible());
    rig.loop.runUntilIdle();
    EXPECT_EQ(root->navigationTitle(), QStringLiteral("About"));
    // The About page asked for the update checker, made once and mirroring the updater.
    EXPECT_EQ(&d.updateCheck(), &d.updateCheck());
    EXPECT_EQ(d.updateCheck().canCheckForUpdates(), rig.updater.canCheck());

    // Without a page the selection stays as it was.
    d.openSettings();
    EXPECT_EQ(rig.settingsNavigation().selection(), SettingsCategory::about);
}

TEST(AppDelegateSettingsWindow, GeneralPageShowsTheTourWithoutMovingTheStoredStep) {
    AppDelegateRig rig;
    rig.storeStep(OnboardingStep::completed);
    auto& d = rig.launch();
    d.openSettings(SettingsCategory::general);
    rig.loop.runUntilIdle();
    auto* general = test::findWidget<GeneralPage>(rig.settingsWindow());
    ASSERT_NE(general, nullptr);
    general->showTourAction()->click();
    EXPECT_TRUE(d.isTourVisible());
    EXPECT_FALSE(d.isSettingsVisible()) << "the tour and the settings never show together";
    EXPECT_EQ(rig.defaults.integerValue(onboardingStepKey),
              static_cast<std::int64_t>(OnboardingStep::completed));
}

}  // namespace
}  // namespace velaro
