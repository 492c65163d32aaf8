// The appearance and behaviour pages of the real settings window in the test desktop: "Pill" on the Menu Bar
// Shape page and "Behind Windows" on the Behavior page land in the settings file a turn later; "Start at
// Login" writes the autostart entry, and falls back to off when the autostart folder is a plain file; the
// Appearance page, scrolled to its end, and the Menu Bar Shape page show their sections.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "e2e/E2eSupport.h"
#include "e2e/SettingsTwin.h"
#include "settings/CornerSettings.h"
#include "support/RowSearch.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/pages/AppearanceSettingsView.h"
#include "ui/settings/pages/BackgroundBlurSection.h"
#include "ui/settings/pages/BehaviorSection.h"
#include "ui/settings/pages/GeneralPage.h"
#include "ui/settings/pages/GeneralSwitches.h"
#include "ui/settings/pages/OverlayCornersSection.h"
#include "ui/settings/pages/PillShapeSection.h"

namespace velaro::e2e {
namespace {

const QByteArray kTourDone = R"({"onboardingStep": 4})";

class OverlayPagesDesktopTest : public SettingsWindowTest {
protected:
    void SetUp() override { openOver(kTourDone); }

    std::optional<CornerSettings> storedCorners() const {
        const QByteArray data = storedData(QStringLiteral("cornerSettings"));
        return CornerSettings::decode(std::string_view(data.constData(), std::size_t(data.size())));
    }
    // Clicks a segment of a twin's segmented row.
    void clickSegment(const SettingsTwin& twin, SettingsChoiceRow* row, int index) {
        const QPoint at =
            twin.onScreen(tiles, twin.centreOf(test::segmentsOf(row)[index]));
        click(at.x(), at.y());
    }
    // Text where a twin's section header lies (the header's title starts 28 points below its top).
    int headerInk(const QImage& shot, const SettingsTwin& twin, const QWidget* header) {
        const QPoint at = twin.onScreen(tiles, twin.rectOf(header).topLeft() + QPoint(0, 28));
        return inkIn(shot, QRect(at, QSize(140, 18)));
    }
};

TEST_F(OverlayPagesDesktopTest, PillOnTheShapePageStoresThePillShapeAndShowsItsGroups) {
    selectPage(SettingsCategory::pillShape);
    SettingsTwin twin(window.size(), kTourDone, SettingsCategory::pillShape);
    auto* page = twin.page<PillShapeSection>();
    ASSERT_NE(page, nullptr);
    clickSegment(twin, test::rowTitled<SettingsChoiceRow>(page, QStringLiteral("Mode")), 1);
    ASSERT_TRUE(waitUntil([&] {
        const auto corners = storedCorners();
        return corners && corners->shapeMode == ShapeMode::pill;
    })) << "the settings file never held the pill shape";

    twin.settings().corners = [&] {
        CornerSettings c = twin.settings().corners();
        c.shapeMode = ShapeMode::pill;
        return c;
    }();
    twin.settle();
    const auto groupsShow = [&](const QImage& s) {
        return headerInk(s, twin, test::sectionTitled(page, QStringLiteral("Pill Shape"))) > 30 &&
               !closeTo(
                   s.pixelColor(twin.onScreen(tiles, twin.centreOf(test::rowTitled<SettingsSliderRow>(
                                                                       page, QStringLiteral("Corner radius"))
                                                                       ->slider()))),
                   s.pixelColor(twin.onScreen(
                       tiles, twin.rectOf(test::sectionTitled(page, QStringLiteral("Pill Shape"))).topLeft() +
                                  QPoint(4, 8))),
                   4);
    };
    const QImage shot = screenshotWhen(groupsShow);
    shot.copy(window).save(buildDir() + QStringLiteral("/e2e-menu-bar-shape-page.png"));
    EXPECT_TRUE(groupsShow(shot)) << "no \"Pill Shape\" group; see e2e-menu-bar-shape-page.png";
}

TEST_F(OverlayPagesDesktopTest, BehindWindowsOnTheBehaviorPageStoresTheLayer) {
    selectPage(SettingsCategory::behavior);
    SettingsTwin twin(window.size(), kTourDone, SettingsCategory::behavior);
    auto* page = twin.page<BehaviorSection>();
    ASSERT_NE(page, nullptr);
    clickSegment(twin, test::rowTitled<SettingsChoiceRow>(page, QStringLiteral("Layer")), 1);
    EXPECT_TRUE(waitUntil([&] {
        return storedSettings().value(QStringLiteral("layerPosition")).toString() ==
               QStringLiteral("behindWindows");
    })) << "the settings file never held \"behindWindows\"";
}

TEST_F(OverlayPagesDesktopTest, StartAtLoginWritesTheAutostartEntryOrFallsBackToOff) {
    selectPage(SettingsCategory::general);
    SettingsTwin twin(window.size(), kTourDone, SettingsCategory::general);
    auto* page = twin.page<GeneralPage>();
    ASSERT_NE(page, nullptr);
    SettingsSwitch* toggle = test::findWidget<LaunchAtLoginToggle>(page)->row()->toggle();
    const QPoint at = twin.onScreen(tiles, twin.centreOf(toggle));
    // The switch's track: accent while on, grey while off (its right part, away from the knob when off).
    const QPoint track = twin.onScreen(tiles, twin.rectOf(toggle).center() + QPoint(toggle->width() / 4, 0));
    const QColor offTrack = screenshot().pixelColor(track);

    const QString entry = configHome() + QStringLiteral("/autostart/com.quornet.Velaro.desktop");
    click(at.x(), at.y());
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(entry); }))
        << "no autostart entry at " << entry.toStdString();
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("Exec=")) << "not a desktop entry";
    click(at.x(), at.y());
    ASSERT_TRUE(waitUntil([&] { return !QFile::exists(entry); })) << "switching off left the entry";

    // The autostart folder is a plain file: the item cannot be made, and the switch goes back to off.
    QDir(configHome()).rmdir(QStringLiteral("autostart"));
    QFile blocker(configHome() + QStringLiteral("/autostart"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    click(at.x(), at.y());
    waitUntil([] { return false; }, std::chrono::milliseconds(800));
    const auto showsOff = [&](const QImage& s) { return closeTo(s.pixelColor(track), offTrack, 8); };
    const QImage shot = screenshotWhen(showsOff);
    EXPECT_TRUE(showsOff(shot)) << "the refused switch stayed on";
    EXPECT_TRUE(QFileInfo(configHome() + QStringLiteral("/autostart")).isFile());
}

TEST_F(OverlayPagesDesktopTest, TheAppearancePageEndsWithTheBlurAndCornerSections) {
    SettingsTwin twin(window.size(), kTourDone, SettingsCategory::appearance);
    auto* page = twin.page<AppearanceSettingsView>();
    ASSERT_NE(page, nullptr);
    twin.scrollToEnd();
    scrollPageToEnd(twin);
    const auto sectionsShow = [&](const QImage& s) {
        return headerInk(s, twin, test::findWidget<BackgroundBlurSection>(page)) > 30 &&
               headerInk(s, twin, test::findWidget<OverlayCornersSection>(page)) > 30;
    };
    const QImage shot = screenshotWhen(sectionsShow);
    shot.copy(window).save(buildDir() + QStringLiteral("/e2e-appearance-page-end.png"));
    EXPECT_TRUE(sectionsShow(shot)) << "no blur or corner section header; see e2e-appearance-page-end.png";
}

}  // namespace
}  // namespace velaro::e2e
