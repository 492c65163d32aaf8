// The real settings window in the test desktop: the tray menu's "Settings…" opens it on Appearance with the
// sidebar's three groups of page tiles (and brings it back when minimised), and About → "Export Logs…" → a
// path typed into the save dialog writes a report whose screen line shows the desktop's screen with its menu
// bar. At scale 2 the window opens wholly on the screen, title bar included, and keeps its width when dragged
// wider.
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "e2e/E2eSupport.h"
#include "e2e/SettingsTwin.h"
#include "e2e/TrayApp.h"
#include "support/RowSearch.h"
#include "ui/settings/pages/AboutSection.h"

namespace velaro::e2e {
namespace {

const QByteArray kTourDone = R"({"onboardingStep": 4})";

class SettingsWindowDesktopTest : public SettingsWindowTest {
protected:
    void SetUp() override { openOver(kTourDone); }
};

TEST_F(SettingsWindowDesktopTest, TrayMenuOpensItOnAppearanceWithThreeSidebarGroups) {
    QImage shot;
    waitForTiles(window, &shot);
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
    const QStringList settingsWindow = settingsWindowSearch();
    const auto id =
        run(QStringLiteral("xdotool"), QStringList{QStringLiteral("search")} + settingsWindow).out.trimmed();
    run(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), QString::fromLatin1(id)});
    ASSERT_TRUE(waitUntil([&] { return visibleWindows(settingsWindow).empty(); }))
        << "the window did not minimise";
    EXPECT_FALSE(openSettingsFromTrayMenu(app).isEmpty()) << "a minimised window stayed minimised";
}

TEST_F(SettingsWindowDesktopTest, ExportLogsWritesTheReportWhereTheUserTypedIt) {
    // The twin says where the export button lies relative to the first tile.
    SettingsTwin twin(window.size(), kTourDone, SettingsCategory::about);
    auto* about = dynamic_cast<AboutSection*>(twin.currentPage());
    ASSERT_NE(about, nullptr);
    click(tiles.left + 80, tiles.runs[11].center().y());  // "About"
    const int probeX = tiles.left + 170;
    const auto aboutSelected = [&](const QImage& s) {
        return !closeTo(s.pixelColor(probeX, tiles.runs[11].center().y()),
                        s.pixelColor(probeX, tiles.runs[10].center().y()), 6);
    };
    ASSERT_TRUE(aboutSelected(screenshotWhen(aboutSelected))) << "the About row never showed selected";

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("velaro-report.txt"));
    const QPoint button =
        twin.onScreen(tiles, twin.centreOf(test::buttonLabelled(about, QStringLiteral("Export Logs…"))));
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

TEST(SettingsWindowAtScaleTwo, LiesWhollyOnTheScreenAndKeepsItsWidthWhenResized) {
    VELARO_REQUIRE_DESKTOP();
    if (!QFile::exists(TrayApp::executable())) GTEST_SKIP() << "the app is not built yet";
    TrayApp app;
    QString why;
    // The app inherits the scale from the environment it starts in.
    qputenv("QT_SCALE_FACTOR", "2");
    const bool launched = app.launch(kTourDone, &why);
    qunsetenv("QT_SCALE_FACTOR");
    ASSERT_TRUE(launched) << why.toStdString();
    ASSERT_FALSE(openSettingsFromTrayMenu(app).isEmpty());
    const QString id = QString::fromLatin1(
        run(QStringLiteral("xdotool"), QStringList{QStringLiteral("search")} + settingsWindowSearch())
            .out.trimmed()
            .split('\n')
            .value(0));
    // The window with its frame (left, right, top and bottom extents), in the screen's pixels; xwininfo
    // tells where the window itself lies.
    const auto framed = [&]() -> QRect {
        const QString info =
            QString::fromLatin1(run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id}).out);
        const auto field = [&](const char* name) {
            return info.section(QLatin1String(name), 1).section(QLatin1Char('\n'), 0, 0).toInt();
        };
        const auto e = cardinalProperty("_NET_FRAME_EXTENTS", id.toUInt());
        if (e.size() != 4) return {};
        return QRect(field("Absolute upper-left X:"), field("Absolute upper-left Y:"), field("Width:"),
                     field("Height:"))
            .marginsAdded(QMargins(int(e[0]), int(e[2]), int(e[1]), int(e[3])));
    };
    const QRect free(0, panelHeight(), 1920, 1080 - panelHeight());
    QRect seen;
    ASSERT_TRUE(waitUntil([&] { return free.contains(seen = framed()) && seen.width() > 1400; }))
        << "framed at " << seen.x() << "," << seen.y() << " " << seen.width() << "x" << seen.height();
    QImage opened;
    // On a screen half as tall in points the window opens near its least height, and the sidebar still
    // shows all twelve pages without a scroll bar of its own.
    const Tiles tiles = waitForTiles(seen, &opened);
    opened.save(buildDir() + QStringLiteral("/e2e-settings-window-scale2.png"));
    EXPECT_TRUE(tiles.complete()) << "the sidebar shows " << tiles.runs.size()
                                  << " of its twelve rows; see e2e-settings-window-scale2.png";
    const int width = seen.width();

    // Dragged wider and a little shorter (the free area leaves little above the least height): the height
    // follows, the width stays 700 points.
    const int height = seen.height();
    run(QStringLiteral("xdotool"),
        {QStringLiteral("windowsize"), id, QStringLiteral("1800"), QString::number(height - 40)});
    EXPECT_TRUE(waitUntil([&] { return (seen = framed()).height() <= height - 10; }))
        << "height " << seen.height() << "; the window did not take the new height";
    EXPECT_EQ(seen.width(), width) << "the window widened";
    EXPECT_TRUE(free.contains(seen));
}

}  // namespace
}  // namespace velaro::e2e
