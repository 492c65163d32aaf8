// The settings window: its title, its first size and place inside the screen's free area and its resizing
// (in height only), the header row's master switch following the switch however it changes, the profile
// selector setting the scope, and the close and focus notices.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>

#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"
#include "support/FakeDefaultsStore.h"
#include "support/VirtualLoop.h"
#include "support/WidgetSearch.h"
#include "ui/settings/SettingsWindow.h"

namespace velaro {
namespace {

class SettingsWindowTest : public ::testing::Test {
protected:
    SettingsWindowTest() {
        profiles = std::make_unique<ProfileManager>(defaults);
        profiles->addProfile("org.example.Editor", "Editor");
        settings = std::make_unique<OverlaySettings>(defaults, loop);
        loop.runUntilIdle();
        window = std::make_unique<SettingsWindow>(*settings, *profiles, loop, new QWidget,
                                                  [this] { ++overridesChanged; });
        window->setAttribute(Qt::WA_DontShowOnScreen);
    }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    std::unique_ptr<ProfileManager> profiles;
    std::unique_ptr<OverlaySettings> settings;
    std::unique_ptr<SettingsWindow> window;
    int overridesChanged = 0;
};

TEST_F(SettingsWindowTest, TheWindowIsTitledAndResizesOnlyInHeightDownToItsMinimum) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Velaro Settings"));
    window->show();
    EXPECT_EQ(window->width(), 700);
    window->resize(900, 300);
    EXPECT_EQ(window->size(), QSize(700, 500));
    window->resize(500, 800);
    EXPECT_EQ(window->size(), QSize(700, 800));
}

TEST_F(SettingsWindowTest, ItOpensInsideTheScreensFreeAreaWithItsFrame) {
    // A window's position is its frame's; the frame here has an 11-point title bar.
    const QMargins frame(1, 11, 1, 1);
    const auto framed = [&] { return QRect(window->pos(), window->size().grownBy(frame)); };
    // A 1920 × 1080 screen at scale 2 under a 28-pixel panel: 960 × 526 points free.
    const QRect scaled(0, 14, 960, 526);
    window->placeInside(scaled, frame);
    EXPECT_TRUE(scaled.contains(framed())) << "title bar and all on the screen";
    EXPECT_EQ(window->size(), QSize(700, 526 - 12));
    EXPECT_EQ(window->minimumSize(), QSize(700, 500));
    window->resize(900, 514);
    EXPECT_EQ(window->width(), 700) << "a roomy screen does not widen it";
    // A screen smaller than the least size: the window fills it, may shrink no further and keeps the
    // screen's width.
    const QRect tiny(100, 50, 640, 480);
    window->placeInside(tiny, frame);
    EXPECT_EQ(framed(), tiny);
    EXPECT_EQ(window->minimumSize(), QSize(638, 468));
    window->resize(700, 468);
    EXPECT_EQ(window->width(), 638);
}

TEST_F(SettingsWindowTest, TheHeaderSwitchTextFollowsTheMasterSwitchFromAnywhereAndWritesIt) {
    auto& master = *test::findWidget<TitlebarMasterSwitch>(window.get());
    EXPECT_EQ(master.text(), QStringLiteral("Enabled"));
    EXPECT_EQ(master.toggle()->accessibleName(), QStringLiteral("Top panel overlay"));

    settings->masterEnabled = false;  // the menu, a hot key or the popover
    loop.runUntilIdle();
    EXPECT_EQ(master.text(), QStringLiteral("Disabled"));
    EXPECT_FALSE(master.toggle()->isChecked());

    master.toggle()->click();
    EXPECT_TRUE(settings->masterEnabled());
    EXPECT_EQ(defaults.boolValue("masterEnabled"), true);
    loop.runUntilIdle();
    EXPECT_EQ(master.text(), QStringLiteral("Enabled"));
}

TEST_F(SettingsWindowTest, TheHeaderSelectorSetsTheScopeWithoutReResolvingTheOverrides) {
    // The settings follow the scope by themselves; only a reset of overrides asks for them again.
    ProfileSelectorView& selector = *test::findWidget<ProfileSelectorView>(window.get());
    EXPECT_EQ(selector.scopeName(), QStringLiteral("Global Settings"));
    selector.choose(ProfileScope::app("org.example.Editor"));
    EXPECT_EQ(profiles->selectedScope(), ProfileScope::app("org.example.Editor"));
    EXPECT_EQ(overridesChanged, 0);

    profiles->selectedScope = ProfileScope::global();  // the window closed and reset it
    loop.runUntilIdle();
    EXPECT_EQ(selector.scopeName(), QStringLiteral("Global Settings"));
}

TEST_F(SettingsWindowTest, ClosingAndFocusingAreReported) {
    int closes = 0;
    int focuses = 0;
    window->onWillClose = [&] { ++closes; };
    window->onDidBecomeKey = [&] { ++focuses; };
    window->show();
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(window.get(), &activate);
    EXPECT_EQ(focuses, 1);
    window->close();
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(window->isVisible());

    // Opening the tour hides the window: the profile scope must go back all the same.
    window->show();
    window->hide();
    EXPECT_EQ(closes, 2);
}

}  // namespace
}  // namespace velaro
