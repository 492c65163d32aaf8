// Opening the settings window: the page it opens on, the window made once and brought back from the
// taskbar when minimised, the About page's update checker made on first use, and the tour the General
// page's action opens.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>

#include "onboarding/OnboardingWindowController.h"
#include "support/AppDelegateRig.h"
#include "support/RowSearch.h"
#include "ui/settings/SettingsRootView.h"
#include "ui/settings/SettingsSidebar.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/pages/GeneralPage.h"
#include "ui/settings/pages/ShortcutsSection.h"
#include "ui/settings/pages/UpdateCheckModel.h"

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
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.settingsPage(), QStringLiteral("Appearance"));

    window->setWindowState(window->windowState() | Qt::WindowMinimized);
    ASSERT_TRUE(window->isMinimized());
    d.openSettings(SettingsCategory::about);
    EXPECT_EQ(rig.settingsWindow(), window) << "one window, reused";
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(d.isSettingsVisible());
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.settingsPage(), QStringLiteral("About"));
    // The About page asked for the update checker, made once and mirroring the updater.
    EXPECT_EQ(&d.updateCheck(), &d.updateCheck());
    EXPECT_EQ(d.updateCheck().canCheckForUpdates(), rig.updater.canCheck());

    // Without a page the selection stays as it was.
    d.openSettings();
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.settingsPage(), QStringLiteral("About"));
}

// At the window's least height the sidebar closes up its gaps so that every page's row shows without
// scrolling; at its first height it keeps its own spacing; far shorter than either, it scrolls.
TEST(AppDelegateSettingsWindow, TheSidebarShowsEveryPageAtTheLeastHeight) {
    AppDelegateRig rig;
    rig.storeStep(OnboardingStep::completed);
    rig.launch().openSettings();
    SettingsWindow* window = rig.settingsWindow();
    ASSERT_NE(window, nullptr);
    auto* sidebar = test::findWidget<SettingsSidebar>(window);
    ASSERT_NE(sidebar, nullptr);
    const auto rowsShown = [&] {
        int shown = 0;
        for (SettingsCategory category : allSettingsCategories) {
            const SidebarRow* row = sidebar->row(category);
            const QRect inView(row->mapTo(sidebar->viewport(), QPoint()), row->size());
            shown += sidebar->viewport()->rect().contains(inView);
        }
        return shown;
    };
    const struct {
        int height;
        int rowsShown;
        int rowHeight;  // 0: any
        bool scrolls;
    } cases[] = {
        {SettingsWindow::initialHeight, 12, 38, false},
        {SettingsWindow::minimumHeight, 12, 0, false},
        {SettingsWindow::initialHeight, 12, 38, false},  // taller again: the spacing comes back
        {300, 0, 30, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.height);
        window->setMinimumHeight(std::min(c.height, SettingsWindow::minimumHeight));
        window->resize(SettingsWindow::windowWidth, c.height);
        rig.loop.runUntilIdle();
        QApplication::processEvents();
        EXPECT_EQ(window->height(), c.height);
        if (c.rowsShown) { EXPECT_EQ(rowsShown(), c.rowsShown); }
        if (c.rowHeight) { EXPECT_EQ(sidebar->row(SettingsCategory::about)->height(), c.rowHeight); }
        EXPECT_EQ(sidebar->verticalScrollBar()->maximum() > 0, c.scrolls);
    }
}

TEST(AppDelegateSettingsWindow, GeneralPageShowsTheTourWithoutMovingTheStoredStep) {
    AppDelegateRig rig;
    rig.storeStep(OnboardingStep::completed);
    auto& d = rig.launch();
    d.openSettings(SettingsCategory::general);
    rig.loop.runUntilIdle();
    auto* general = test::findWidget<GeneralPage>(rig.settingsWindow());
    ASSERT_NE(general, nullptr);
    test::buttonLabelled(general, QStringLiteral("Show Welcome Tour"))->click();
    EXPECT_TRUE(d.isTourVisible());
    EXPECT_FALSE(d.isSettingsVisible()) << "the tour and the settings never show together";
    EXPECT_EQ(rig.defaults.integerValue(onboardingStepKey),
              static_cast<std::int64_t>(OnboardingStep::completed));
}

// The whole road of a recording: the page's recorder pauses the centre's hot keys, and leaving the page (or
// the window closing) gives them back.
TEST(AppDelegateSettingsWindow, RecordingPausesTheHotKeysUntilThePageIsLeftOrTheWindowCloses) {
    AppDelegateRig rig;
    rig.storeStep(OnboardingStep::completed);
    // Only the desktop's layout names this key; without it the page would show "Key 40".
    rig.keyboardLayout.setKey(40, "k");
    auto& d = rig.launch();
    ShortcutSettings shortcuts;
    shortcuts.assign(ShortcutAction::master, ShortcutKeyCombo{40, ShortcutKeyCombo::controlMask});
    d.overlaySettings().appShortcuts = shortcuts;
    rig.loop.runUntilIdle();
    ASSERT_EQ(rig.hotkeys.registered().size(), 1u);

    const std::vector<std::pair<const char*, std::function<void()>>> leaves{
        {"another page", [&] { d.openSettings(SettingsCategory::about); }},
        {"the window closes", [&] { rig.settingsWindow()->close(); }},
    };
    for (const auto& [what, leave] : leaves) {
        SCOPED_TRACE(what);
        d.openSettings(SettingsCategory::shortcuts);
        rig.loop.runUntilIdle();
        auto* page = test::findWidget<ShortcutsSection>(rig.settingsWindow());
        ASSERT_NE(page, nullptr);
        // The page names keys through the desktop's layout.
        const ShortcutKeyCombo master{40, ShortcutKeyCombo::controlMask};
        EXPECT_EQ(
            test::findWidget<ShortcutRecordButton>(page->row(ShortcutAction::master))->text().toStdString(),
            master.displayString(&rig.keyboardLayout));
        test::findWidget<ShortcutRecordButton>(page->row(ShortcutAction::overlay))->click();
        rig.loop.runUntilIdle();
        EXPECT_TRUE(rig.hotkeys.registered().empty()) << "paused while recording";
        leave();
        rig.loop.runUntilIdle();
        EXPECT_FALSE(d.overlaySettings().shortcutRecordingActive());
        EXPECT_EQ(rig.hotkeys.registered().size(), 1u) << "registered again";
    }
}

}  // namespace
}  // namespace velaro
