// The real app in the pill shape on the test desktop, at one and at two pixels a point: on the panel's row
// the band is cut to a short capsule around the tray and the clock beside it, with room on both sides of
// them, not drawn across the screen nor over a task list or a clock across free space, wherever the panel
// puts its tray, and again once the panel has reloaded or restarted. The panel keeps its size in pixels at
// every scale the app draws at, so at two pixels a point its 28 px are 14 points.
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "e2e/E2eSupport.h"
#include "e2e/TrayApp.h"
#include "platform/linux/XcbUtil.h"

namespace velaro::e2e {
namespace {

const QColor kWindow(0xc8, 0x3c, 0x28);

// Where the clock sits: right before the tray, right after it, or apart from it (across free space or a task
// list), when the capsule wraps the tray alone.
enum class ClockPlace { before, after, apart };

// The panel's items in tint2's letters (S tray, C clock, T task list, F free space) and where its clock sits.
struct Layout {
    QString items;
    ClockPlace clock;
};
// The tray at the panel's left end with the clock after it, and the tray at its right end after the clock.
// The desktop's own order puts the tray right before the clock.
const Layout kTrayFirst{QStringLiteral("SC"), ClockPlace::after};
const Layout kTrayLast{QStringLiteral("FCS"), ClockPlace::before};

// Solid style in the colour sampled below the panel, the pill shape with its default look, the tour done.
QByteArray pillSettings() {
    const QByteArray pill = QByteArray(R"({"shapeMode": "Pill"})").toBase64();
    return R"({"onboardingStep": 4, "menuBarStyle": "solid", "autoSampleColor": true, "cornerSettings": {"$data": ")" +
           pill + R"("}})";
}

bool tinted(const QImage& shot, int x, int y) {
    return closeTo(shot.pixelColor(x, y), kWindow, 40);
}

// The rows of the panel the band tints in column x.
int rowsAt(const QImage& shot, int x, int top, int panel) {
    int rows = 0;
    for (int y = top; y < top + panel; ++y) rows += tinted(shot, x, y) ? 1 : 0;
    return rows;
}

// The room a status item keeps on either side of what it shows, in points: the capsule leaves at least that
// before the first thing it wraps and after the last, unless the screen's edge comes first.
constexpr int kItemRoom = 10;
// What the capsule's antialiased, stroked ends and the glyphs' faint edges may take from that room, in
// device pixels.
constexpr int kEdgeSlack = 2;

// The runs of the panel's columns on the monitor that hold light glyphs (the clock's, a task's title) or
// light parts of an icon, leaving out the tray's icon: runs broken by fewer than 8 columns are one.
std::vector<std::pair<int, int>> lightRuns(const QImage& shot, const QRect& monitor, const QRect& icon,
                                           int panel) {
    std::vector<std::pair<int, int>> runs;
    for (int x = monitor.left(); x <= monitor.right(); ++x) {
        if (x >= icon.left() && x <= icon.right()) continue;
        for (int y = monitor.top(); y < monitor.top() + panel; ++y) {
            const QColor c = shot.pixelColor(x, y);
            if (c.red() > 200 && c.green() > 200 && c.blue() > 200) {
                if (!runs.empty() && x - runs.back().second < 8)
                    runs.back().second = x;
                else
                    runs.emplace_back(x, x);
                break;
            }
        }
    }
    return runs;
}

// Why the panel's row shows no capsule wrapping the tray's icon and the clock where it sits beside it; empty
// when it does. The capsule is short, tints a good part of the panel's height at both ratios, holds the icon
// in its full-height middle, leaves room on both sides of what it wraps but ends within a few times that
// room (so it takes in no task list or clock across free space), ends rounded on both sides (the screen's
// edge does not cut it flat), and leaves the rest of the panel bare.
std::string capsuleFault(const QImage& shot, const QRect& monitor, const QRect& icon, int panel, int ratio,
                         ClockPlace clock, const std::optional<QRect>& taskButton) {
    const int top = monitor.top(), row = top + panel / 2;
    int first = -1, last = -1, count = 0;
    for (int x = monitor.left(); x <= monitor.right(); ++x) {
        if (tinted(shot, x, row)) {
            if (first < 0) first = x;
            last = x;
            ++count;
        }
    }
    const auto at = [](int a, int b) {
        return " (x " + std::to_string(a) + " to " + std::to_string(b) + ")";
    };
    if (first < 0) return "no band on the panel's row";
    // The clock beside the tray: the nearest light drawing on its side.
    int from = icon.left(), to = icon.right();
    const auto runs = lightRuns(shot, monitor, icon, panel);
    if (clock != ClockPlace::apart) {
        std::optional<std::pair<int, int>> nearest;
        for (const auto& r : runs)
            if (clock == ClockPlace::after
                    ? r.first > icon.right() && (!nearest || r.first < nearest->first)
                    : r.second < icon.left() && (!nearest || r.second > nearest->second))
                nearest = r;
        if (!nearest)
            return clock == ClockPlace::after ? "no clock after the tray" : "no clock before the tray";
        from = std::min(from, nearest->first);
        to = std::max(to, nearest->second);
    }
    if (last - first >= monitor.width() / 4) return "the band is no capsule" + at(first, last);
    const std::string wrapped = clock == ClockPlace::apart ? " the tray" : " the tray and clock";
    if (first > from || last <= to)
        return "the capsule" + at(first, last) + " leaves out part of" + wrapped + at(from, to);
    // The room reaches as far as the screen's edge, or the task list's button (the panel spaces its items in
    // pixels, the room is points), which the capsule never runs onto.
    const int room = kItemRoom * ratio;
    int roomBefore = std::min(room, from - monitor.left()), roomAfter = std::min(room, monitor.right() - to);
    if (taskButton && taskButton->left() > to) {
        roomAfter = std::min(roomAfter, taskButton->left() - to - 1);
        if (last >= taskButton->left() + kEdgeSlack)
            return "the capsule" + at(first, last) + " runs onto the task list from x " +
                   std::to_string(taskButton->left());
    }
    if (taskButton && taskButton->right() < from) {
        roomBefore = std::min(roomBefore, from - taskButton->right() - 1);
        if (first <= taskButton->right() - kEdgeSlack)
            return "the capsule" + at(first, last) + " runs onto the task list up to x " +
                   std::to_string(taskButton->right());
    }
    if (from - first < roomBefore - kEdgeSlack || last - to < roomAfter - kEdgeSlack)
        return "the capsule" + at(first, last) + " leaves less than " + std::to_string(room) + " px beside" +
               wrapped + at(from, to);
    // The default padding and offsets keep 22 points before what the capsule wraps and 12 after it.
    if (from - first > 5 * room / 2 || last - to > 5 * room / 2)
        return "the capsule" + at(first, last) + " reaches past" + wrapped + at(from, to);
    if (count <= (last - first) / 3) return "the capsule is mostly bare";
    int most = 0;
    for (int x = first; x <= last; ++x) most = std::max(most, rowsAt(shot, x, top, panel));
    if (most < panel / 3) return "the capsule is too thin: " + std::to_string(most) + " rows";
    if (rowsAt(shot, icon.left() - 1, top, panel) < most - 2) return "the icon sits in the capsule's end";
    if (rowsAt(shot, first, top, panel) > most * 2 / 3 || rowsAt(shot, last, top, panel) > most * 2 / 3)
        return "an end of the capsule is cut flat" + at(first, last);
    const int bare = first > monitor.center().x() ? monitor.left() + monitor.width() / 3
                                                  : monitor.left() + monitor.width() * 2 / 3;
    if (tinted(shot, bare, row)) return "the rest of the panel is tinted";
    return {};
}

// Why the panel's rows on the monitor, read from the server now, show the band across the bar instead of a
// capsule: the tinted columns of a row, when more than half the monitor's; empty when no row has as many.
std::string fullBarNow(const QRect& monitor, int panel) {
    auto* x = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x ? x->connection() : nullptr;
    if (!c) return "no connection to the X server";
    const auto image = x11::own(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root,
                      std::int16_t(monitor.x()), std::int16_t(monitor.y()), std::uint16_t(monitor.width()),
                      std::uint16_t(panel), ~0u),
        nullptr));
    const int width = monitor.width();
    // The test desktops run at depth 24, 32 bits a pixel: blue, green, red, unused.
    if (!image || xcb_get_image_data_length(image.get()) < width * panel * 4)
        return "no picture of the panel";
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(image.get()));
    for (int y = 0; y < panel; ++y) {
        int tinted = 0;
        for (const std::uint32_t* p = pixels + y * width; p < pixels + (y + 1) * width; ++p)
            tinted += closeTo(QColor::fromRgb(*p), kWindow, 40) ? 1 : 0;
        if (tinted > width / 2) return std::to_string(tinted) + " columns tinted in row " + std::to_string(y);
    }
    return {};
}

class PillShapeDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        panel = panelHeight();
        ASSERT_GT(panel, 0);
    }
    void TearDown() override {
        QString why;
        if (panelChanged) {
            EXPECT_TRUE(renewPanel(QStringLiteral("reload"), {}, &why)) << why.toStdString();
        }
    }

    // Reloads the test desktop's panel as an edit of its settings does (SIGUSR1), or ends it and starts
    // another, with its items in the order `items` (the usual order when empty); the usual panel comes back
    // when the test ends.
    bool renewPanel(const QString& how, const QString& items, QString* why) {
        QStringList arguments{how + QStringLiteral("-panel")};
        if (!items.isEmpty()) arguments << QStringLiteral("--items") << items;
        panelChanged = true;
        const auto r = run(sourceDir() + QStringLiteral("/scripts/desktop-session"), arguments,
                           std::chrono::seconds(60));
        if (r.exitCode != 0) *why = r.describe();
        return r.exitCode == 0;
    }

    // Renews the panel as renewPanel does while reading its rows as fast as the server answers, from the
    // moment it is asked until 1.5 s after the new panel holds its strut and tray; why a reading showed the
    // band across the bar, and when; empty when none did.
    std::string fullBarWhileRenewing(const QString& how, const QString& items) {
        panelChanged = true;
        QProcess script;
        script.start(sourceDir() + QStringLiteral("/scripts/desktop-session"),
                     {how + QStringLiteral("-panel"), QStringLiteral("--items"), items});
        QElapsedTimer since;
        since.start();
        std::optional<qint64> renewed;
        std::string fault;
        int readings = 0;
        for (; !renewed || since.elapsed() < *renewed + 1500; ++readings) {
            if (!renewed && script.state() == QProcess::NotRunning) renewed = since.elapsed();
            if (since.elapsed() > 60'000) return "the panel was not renewed within 60 s";
            if (const auto bar = fullBarNow(monitor, panel); fault.empty() && !bar.empty())
                fault = bar + " at " + std::to_string(since.elapsed()) + " ms";
            QCoreApplication::processEvents();
        }
        std::cout << readings << " readings of the panel's rows through a panel " << how.toStdString()
                  << " with items " << items.toStdString() << '\n';
        if (script.exitStatus() != QProcess::NormalExit || script.exitCode() != 0)
            return "the panel script failed: " + script.readAllStandardError().toStdString();
        return fault;
    }

    // The test's window below the panel's rows, not under them: a maximised one takes them whenever the panel
    // is gone for a moment, in the band's colour.
    void placeWindowBelowPanel() {
        window->widget().showNormal();
        window->widget().setGeometry(monitor.adjusted(0, panel, 0, 0));
    }

    // The app at `ratio` pixels a point through reloads and a restart of the panel with the tray first, last
    // and between a task list and the clock, several times each: no reading of the panel's rows shows the
    // band across the bar, and the capsule is back around the tray after each.
    void expectNoFullBarThroughRenewals(int ratio) {
        const QString reload = QStringLiteral("reload"), restart = QStringLiteral("restart");
        const std::pair<QString, Layout> renewals[] = {{reload, {QStringLiteral("STC"), ClockPlace::apart}},
                                                       {reload, {QStringLiteral("STC"), ClockPlace::apart}},
                                                       {reload, {QStringLiteral("TCS"), ClockPlace::before}},
                                                       {restart, {QStringLiteral("TCS"), ClockPlace::before}},
                                                       {reload, {QStringLiteral("TSC"), ClockPlace::after}},
                                                       {reload, {QStringLiteral("TSC"), ClockPlace::after}}};
        TrayApp app;
        ASSERT_NO_FATAL_FAILURE(launch(app, ratio));
        placeWindowBelowPanel();
        expectCapsule(app, QStringLiteral("e2e-pill-steady-ratio%1.png").arg(ratio));
        for (const auto& [how, layout] : renewals) {
            SCOPED_TRACE(testing::Message()
                         << "a panel " << how.toStdString() << " with items " << layout.items.toStdString());
            EXPECT_EQ(fullBarWhileRenewing(how, layout.items), "");
            ASSERT_TRUE(waitUntil([&] { return app.iconNow().has_value(); }, std::chrono::seconds(20)))
                << "the app's icon never docked in the new panel";
            expectCapsule(app, QStringLiteral("e2e-pill-renewed-%1-ratio%2.png").arg(layout.items).arg(ratio),
                          layout.clock, true);
        }
    }

    // The app at `ratio` pixels a point over a maximised window on the tray's monitor.
    void launch(TrayApp& app, int ratio) {
        appRatio = ratio;
        app.setEnvironment(QStringLiteral("QT_SCALE_FACTOR"), QString::number(ratio));
        QString why;
        ASSERT_TRUE(app.launch(pillSettings(), &why)) << why.toStdString();
        QScreen* trayScreen = QGuiApplication::screenAt(app.icon().center());
        ASSERT_TRUE(trayScreen) << "the tray icon lies on no monitor";
        monitor = trayScreen->geometry();
        window = std::make_unique<SolidWindow>(kWindow);
        window->widget().windowHandle()->setScreen(trayScreen);
        window->widget().setGeometry(monitor);
        window->widget().showMaximized();
    }

    // Waits for the capsule around the app's icon where the panel has it now, and the clock where it sits
    // beside the icon; `shotName` keeps the last screenshot in the build directory. The reveal rises from
    // the band's bottom: the whole capsule is waited for, not only its middle.
    // With `tasks`, the panel shows a task list, where the test's window has its button.
    void expectCapsule(const TrayApp& app, const QString& shotName, ClockPlace clock = ClockPlace::after,
                       bool tasks = false) {
        std::string fault = "the app's icon is in no tray";
        const QImage shot = screenshotWhen(
            [&](const QImage& s) {
                const auto icon = app.iconNow();
                fault = icon ? capsuleFault(s, monitor, *icon, panel, appRatio, clock,
                                            tasks ? taskButton() : std::nullopt)
                             : "the app's icon is in no tray";
                return fault.empty();
            },
            std::chrono::seconds(20));
        shot.save(buildDir() + QLatin1Char('/') + shotName);
        EXPECT_EQ(fault, "") << "see " << shotName.toStdString();
    }

    // The panel renewed, the app's icon docks in it again and the capsule follows it there, with no setting
    // touched; prints how long the capsule took after the icon was back.
    void expectCapsuleAfter(const QString& how, const Layout& layout, const TrayApp& app,
                            const QString& shotName) {
        SCOPED_TRACE(testing::Message() << "after a panel " << how.toStdString() << " with items "
                                        << layout.items.toStdString());
        QString why;
        ASSERT_TRUE(renewPanel(how, layout.items, &why)) << why.toStdString();
        ASSERT_TRUE(waitUntil([&] { return app.iconNow().has_value(); }, std::chrono::seconds(20)))
            << "the app's icon never docked in the new panel";
        QElapsedTimer sinceIcon;
        sinceIcon.start();
        expectCapsule(app, shotName, layout.clock, layout.items.contains(QLatin1Char('T')));
        std::cout << "the capsule was back " << sinceIcon.elapsed() << " ms after the icon, after a panel "
                  << how.toStdString() << '\n';
    }

    // The app started at one and at two pixels a point in turn, each time with its capsule; the screenshots
    // are kept as `<shotName>-ratio<n>.png`.
    void expectCapsuleAtBothRatios(const QString& shotName, ClockPlace clock = ClockPlace::after) {
        for (const int ratio : {1, 2}) {
            SCOPED_TRACE(testing::Message() << ratio << " pixels a point");
            TrayApp app;
            ASSERT_NO_FATAL_FAILURE(launch(app, ratio));
            expectCapsule(app, QStringLiteral("%1-ratio%2.png").arg(shotName).arg(ratio), clock);
        }
    }

    // Where the panel's task list shows the test's window: the place the panel gives the window.
    std::optional<QRect> taskButton() const {
        const auto g = cardinalProperty("_NET_WM_ICON_GEOMETRY", std::uint32_t(window->widget().winId()));
        if (g.size() < 4 || g[2] == 0) return std::nullopt;
        return QRect(int(std::int32_t(g[0])), int(std::int32_t(g[1])), int(g[2]), int(g[3]));
    }

    int panel = 0;
    int appRatio = 1;  // the pixels a point the app was launched at
    bool panelChanged = false;
    QRect monitor;
    std::unique_ptr<SolidWindow> window;
};

TEST_F(PillShapeDesktopTest, AtOneAndTwoPixelsAPointTheCapsuleWrapsTheTrayAndClock) {
    expectCapsuleAtBothRatios(QStringLiteral("e2e-pill"));
}

TEST_F(PillShapeDesktopTest,
       WithTheTrayFirstOrLastOnThePanelTheCapsuleWrapsItAndTheClockAtOneAndTwoPixelsAPoint) {
    QString why;
    for (const Layout& layout : {kTrayFirst, kTrayLast}) {
        SCOPED_TRACE(testing::Message() << "panel items " << layout.items.toStdString());
        ASSERT_TRUE(renewPanel(QStringLiteral("restart"), layout.items, &why)) << why.toStdString();
        expectCapsuleAtBothRatios(QStringLiteral("e2e-pill-") + layout.items, layout.clock);
    }
}

TEST_F(PillShapeDesktopTest, ThePillFollowsThePanelThroughAReloadAndARestartAtOneAndTwoPixelsAPoint) {
    for (const int ratio : {1, 2}) {
        SCOPED_TRACE(testing::Message() << ratio << " pixels a point");
        TrayApp app;
        ASSERT_NO_FATAL_FAILURE(launch(app, ratio));
        expectCapsule(app, QStringLiteral("e2e-pill-before-reload-ratio%1.png").arg(ratio));
        // The panel is ended and started again with the tray last; then an edit of its settings puts the
        // tray first, and the panel reloads.
        expectCapsuleAfter(QStringLiteral("restart"), kTrayLast, app,
                           QStringLiteral("e2e-pill-restarted-ratio%1.png").arg(ratio));
        expectCapsuleAfter(QStringLiteral("reload"), kTrayFirst, app,
                           QStringLiteral("e2e-pill-reloaded-ratio%1.png").arg(ratio));
    }
}

// The panel edited into each layout in turn, reloading each time as an edit does: the tray first with the
// clock at the panel's far end, with a task list (the test's window has its button) between them, and with
// the clock beside the tray and the task list after it; the tray right before the clock; the clock right
// before the tray.
TEST_F(PillShapeDesktopTest,
       OnEveryPanelLayoutTheCapsuleWrapsTheTrayAndOnlyAClockBesideItAtOneAndTwoPixelsAPoint) {
    const Layout layouts[] = {{QStringLiteral("SFC"), ClockPlace::apart},
                              {QStringLiteral("STC"), ClockPlace::apart},
                              {QStringLiteral("SCT"), ClockPlace::after},
                              {QStringLiteral("SC"), ClockPlace::after},
                              {QStringLiteral("CS"), ClockPlace::before}};
    for (const int ratio : {1, 2}) {
        SCOPED_TRACE(testing::Message() << ratio << " pixels a point");
        TrayApp app;
        ASSERT_NO_FATAL_FAILURE(launch(app, ratio));
        for (const auto& layout : layouts)
            expectCapsuleAfter(QStringLiteral("reload"), layout, app,
                               QStringLiteral("e2e-pill-%1-ratio%2.png").arg(layout.items).arg(ratio));
    }
}

// As the panel reloads or restarts (an edit of its settings, a layout move), its tray is gone for a while and
// then the panel itself; the strip keeps the capsule where it was, or shows nothing, until the tray is back,
// and never the band across the bar. The panel's rows are read as fast as the server answers through each
// renewal, with the tray first, last and between a task list and the clock.
TEST_F(PillShapeDesktopTest, ThroughAPanelReloadTheStripNeverShowsTheBandAcrossTheBarAtOnePixelAPoint) {
    expectNoFullBarThroughRenewals(1);
}

TEST_F(PillShapeDesktopTest, ThroughAPanelReloadTheStripNeverShowsTheBandAcrossTheBarAtTwoPixelsAPoint) {
    expectNoFullBarThroughRenewals(2);
}

TEST_F(PillShapeDesktopTest, OnTwoMonitorsTheCapsuleWrapsTheTrayOnItsMonitorAtOneAndTwoPixelsAPoint) {
    if (QGuiApplication::screens().size() < 2)
        GTEST_SKIP() << "needs the two-monitor desktop (desktop-session start --dual)";
    expectCapsuleAtBothRatios(QStringLiteral("e2e-pill-two-monitors"));
}

}  // namespace
}  // namespace velaro::e2e
