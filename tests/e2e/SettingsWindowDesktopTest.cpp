// The real settings window in the test desktop: the tray menu's "Settings…" opens it on Appearance with the
// sidebar's three groups of page tiles (and brings it back when minimised), and About → "Export Logs…" → a
// path typed into the save dialog writes a report whose screen line shows the desktop's screen with its menu
// bar.
#include <QCoreApplication>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <memory>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TrayApp.h"
#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeUpdater.h"
#include "ui/settings/AboutSection.h"
#include "ui/settings/SettingsRootView.h"
#include "ui/settings/SettingsSidebar.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/UpdateCheckModel.h"

namespace velaro::e2e {
namespace {

const QByteArray kTourDone = R"({"onboardingStep": 4})";

bool isAccent(QColor c) {
    return c.red() > 200 && c.green() > 50 && c.green() < 140 && c.blue() < 60;
}

// The settings window built in this process over stand-in services, at the real window's size: both
// processes lay the same widgets out with the same fonts and style, so this says where the real one's
// parts lie, relative to its first tile.
class LayoutTwin {
public:
    explicit LayoutTwin(QSize size) {
        auto* root = new SettingsRootView({
            .showWelcomeTour = [] {},
            .updateCheck = [this]() -> UpdateCheckModel& { return updateCheck; },
            .settings = settings,
            .loginItem = {loginEnabled, [](bool) {}},
            .profileManager = profiles,
            .navigation = navigation,
            .loop = loop,
            .makeExcludedAppsModel = {},
            .about = AboutServices{{}, {}, AppIdentity::current(), defaults, nullptr, {}, {}},
        });
        window = std::make_unique<SettingsWindow>(settings, profiles, loop, root, [] {});
        window->setAttribute(Qt::WA_DontShowOnScreen);
        window->resize(size);
        window->show();
        sidebar = &root->sidebar();
        navigation.selection = SettingsCategory::about;
        waitUntil([&] { return root->navigationTitle() == QStringLiteral("About"); });
        about = dynamic_cast<AboutSection*>(root->currentPage());
        // The new page's layout settles over a few more turns of the event loop.
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }

    // A tile's top-left corner in the window.
    QPoint tile(SettingsCategory category) const {
        SidebarRow* row = sidebar->row(category);
        return row->mapTo(window.get(), QPoint(13, (row->height() - SidebarRow::tileSize) / 2));
    }
    QPoint exportButton() const {
        return about->exportButton()->mapTo(window.get(), about->exportButton()->rect().center());
    }

    QtMainLoop loop;
    test::FakeDefaultsStore defaults;
    OverlaySettings settings{defaults, loop};
    ProfileManager profiles{defaults};
    test::FakeUpdater updater;
    UpdateCheckModel updateCheck{updater};
    Published<bool> loginEnabled{false};
    SettingsNavigation navigation;
    std::unique_ptr<SettingsWindow> window;
    SettingsSidebar* sidebar = nullptr;
    AboutSection* about = nullptr;
};

// The sidebar's tiles in a screenshot of the window: their vertical runs down one column, top to bottom.
struct Tiles {
    int left = -1;            // the first tile's left edge on screen
    std::vector<QLine> runs;  // each tile's extent down the column (x is the column)
};

Tiles findTiles(const QImage& shot, const QRect& window) {
    Tiles found;
    const QRect area = window.adjusted(-2, -2, 2, 2).intersected(shot.rect());
    // The leftmost accent pixel of the window's left part is a tile's left edge.
    for (int x = area.left(); x < area.left() + 80 && found.left < 0; ++x)
        for (int y = area.top(); y <= area.bottom(); ++y)
            if (isAccent(shot.pixelColor(x, y))) {
                found.left = x;
                break;
            }
    if (found.left < 0) return found;
    const int column = found.left + 3;
    int start = -1;
    for (int y = area.top(); y <= area.bottom() + 1; ++y) {
        const bool inTile = y <= area.bottom() && isAccent(shot.pixelColor(column, y));
        if (inTile && start < 0) start = y;
        if (!inTile && start >= 0) {
            if (y - start >= 10) found.runs.emplace_back(column, start, column, y - 1);
            start = -1;
        }
    }
    return found;
}

class SettingsWindowDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        if (!QFile::exists(TrayApp::executable()))
            GTEST_SKIP() << "the app is not built yet: " << TrayApp::executable().toStdString();
        QString why;
        ASSERT_TRUE(app.launch(kTourDone, &why)) << why.toStdString();
    }

    // Opens the settings window from the tray menu's "Settings…" and returns its place.
    QRect openFromTrayMenu() {
        app.rightClickIcon();
        EXPECT_TRUE(waitUntil([&] { return app.popupUnderPanel().has_value(); })) << "no menu appeared";
        pressKeys({QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")});  // "Settings…"
        std::vector<QRect> windows;
        EXPECT_TRUE(waitUntil([&] {
            windows = visibleWindows({QStringLiteral("--name"), QStringLiteral("^Velaro Settings$")});
            return !windows.empty();
        })) << "no window titled \"Velaro Settings\"";
        return windows.empty() ? QRect() : windows.front();
    }

    TrayApp app;
};

TEST_F(SettingsWindowDesktopTest, TrayMenuOpensItOnAppearanceWithThreeSidebarGroups) {
    const QRect window = openFromTrayMenu();
    ASSERT_FALSE(window.isEmpty());
    Tiles tiles;
    const QImage shot = screenshotWhen([&](const QImage& s) {
        tiles = findTiles(s, window);
        return tiles.runs.size() == 12;
    });
    shot.save(buildDir() + QStringLiteral("/e2e-settings-window.png"));
    ASSERT_EQ(tiles.runs.size(), 12u) << "twelve page tiles; see e2e-settings-window.png";

    // Rows of a group sit close together; a group's header opens a wider gap: 6, 3 and 3 rows.
    std::vector<int> gaps;
    for (std::size_t i = 1; i < tiles.runs.size(); ++i)
        gaps.push_back(tiles.runs[i].y1() - tiles.runs[i - 1].y2());
    for (std::size_t i = 0; i < gaps.size(); ++i) {
        const bool groupStart = i == 5 || i == 8;
        if (groupStart)
            EXPECT_GT(gaps[i], 28) << "gap before row " << i + 1;
        else
            EXPECT_LT(gaps[i], 22) << "gap before row " << i + 1;
    }

    // Only the first row, Appearance, is highlighted: far right in each row, away from its title.
    const int probeX = tiles.left + 170;
    const auto at = [&](std::size_t row) { return shot.pixelColor(probeX, tiles.runs[row].center().y()); };
    for (std::size_t row = 2; row < 12; ++row) EXPECT_TRUE(closeTo(at(row), at(1), 2)) << "row " << row;
    EXPECT_FALSE(closeTo(at(0), at(1), 6)) << "the Appearance row shows no highlight";

    // Minimised, the window comes back from the same menu item.
    const QStringList settingsWindow{QStringLiteral("--name"), QStringLiteral("^Velaro Settings$")};
    const auto id =
        run(QStringLiteral("xdotool"), QStringList{QStringLiteral("search")} + settingsWindow).out.trimmed();
    run(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), QString::fromLatin1(id)});
    ASSERT_TRUE(waitUntil([&] { return visibleWindows(settingsWindow).empty(); }))
        << "the window did not minimise";
    EXPECT_FALSE(openFromTrayMenu().isEmpty()) << "a minimised window stayed minimised";
}

TEST_F(SettingsWindowDesktopTest, ExportLogsWritesTheReportWhereTheUserTypedIt) {
    const QRect window = openFromTrayMenu();
    ASSERT_FALSE(window.isEmpty());
    Tiles tiles;
    screenshotWhen([&](const QImage& s) {
        tiles = findTiles(s, window);
        return tiles.runs.size() == 12;
    });
    ASSERT_EQ(tiles.runs.size(), 12u);

    // The twin says where the export button lies relative to the first tile.
    LayoutTwin twin(window.size());
    ASSERT_NE(twin.about, nullptr);
    const QPoint origin = QPoint(tiles.left, tiles.runs[0].y1()) - twin.tile(SettingsCategory::appearance);
    click(tiles.left + 80, tiles.runs[11].center().y());  // "About"
    const int probeX = tiles.left + 170;
    const auto aboutSelected = [&](const QImage& s) {
        return !closeTo(s.pixelColor(probeX, tiles.runs[11].center().y()),
                        s.pixelColor(probeX, tiles.runs[10].center().y()), 6);
    };
    ASSERT_TRUE(aboutSelected(screenshotWhen(aboutSelected))) << "the About row never showed selected";

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("velaro-report.txt"));
    const QPoint button = origin + twin.exportButton();
    // The save dialog: a window of the app's other than the settings window, the icon and the corner windows.
    const auto dialogs = [&] {
        int count = 0;
        for (const QRect& g : visibleWindows({QStringLiteral("--pid"), app.pid()}))
            count += g.width() > 200 && g.height() > 200 && g != window;
        return count;
    };
    click(button.x(), button.y());
    ASSERT_TRUE(waitUntil([&] { return dialogs() > 0; }))
        << "no save dialog after a click at " << button.x() << "," << button.y();
    pressKeys({QStringLiteral("ctrl+a")});
    run(QStringLiteral("xdotool"),
        {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), path});
    pressKeys({QStringLiteral("Return")});

    QByteArray report;
    ASSERT_TRUE(waitUntil([&] {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) report = file.readAll();
        return report.endsWith("\n") && report.contains("[Settings]");
    })) << "no report at "
        << path.toStdString();
    EXPECT_TRUE(report.startsWith("Velaro \xe2\x80\x94 Diagnostics Report\nGenerated: "));
    const QRegularExpression screenLine(
        QStringLiteral("\\n0: \"[^\"\\n]*\"  frame=\\(0,0,1920,1080\\)  scale=1\\.0  notchInset=0\\.0  "
                       "menuBarSurface=yes\\n"));
    EXPECT_TRUE(screenLine.match(QString::fromUtf8(report)).hasMatch()) << report.toStdString();
    EXPECT_TRUE(report.contains("\nonboardingStep = 4\n")) << report.toStdString();
}

}  // namespace
}  // namespace velaro::e2e
