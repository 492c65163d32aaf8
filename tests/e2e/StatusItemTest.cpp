// The real app's status icon in the test desktop: it docks in the panel's tray, a left click opens the
// popover under the panel, a window filling the top while the popover is open still colours the band, the
// popover names the program beneath as the front app (also after the settings window was open), a right
// click shows the menu whose "Disable" turns the icon off and takes the tint away, and "Settings…" opens the
// settings window 700 wide.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonObject>
#include <QRect>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <optional>

#include "e2e/E2eSupport.h"
#include "e2e/ForeignWindow.h"
#include "e2e/SettingsTwin.h"
#include "e2e/TrayApp.h"

namespace velaro::e2e {
namespace {

const QColor kDesktop(0x3a, 0x6e, 0xa5);
// A point of the panel's free space: the tint shows through it, no item covers it.
constexpr int kProbeX = 700;
constexpr int kProbeY = 4;
// Where the pointer rests when it must be off the panel and off the popover.
constexpr QPoint kAwayFromPanel = TrayApp::awayFromPanel;
// A finished tour; with the overlay kept on over the empty desktop too, so the tint shows at once.
const QByteArray kTourDone = R"({"onboardingStep": 4})";
const QByteArray kTourDoneKeptOn =
    R"({"onboardingStep": 4, "masterEnabled": true, "keepOverlayAlwaysOn": true, "emptyDesktopMode": "black"})";

class StatusItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        if (!QFile::exists(TrayApp::executable()))
            GTEST_SKIP() << "the app is not built yet: " << TrayApp::executable().toStdString();
    }

    // Starts the app over a settings file holding `json` and waits for its icon in the tray.
    void launch(const QByteArray& json) {
        QString why;
        ASSERT_TRUE(app.launch(json, &why)) << why.toStdString();
        icon = app.icon();
    }

    QString settingsPath() const { return app.settingsPath(); }
    std::optional<QRect> popupUnderPanel() { return app.popupUnderPanel(); }
    std::optional<bool> storedMaster() {
        const auto object = app.storedSettings();
        if (!object.contains(QStringLiteral("masterEnabled"))) return std::nullopt;
        return object.value(QStringLiteral("masterEnabled")).toBool();
    }
    void key(const QStringList& keys) { pressKeys(keys); }
    // Whether the status row (its icon, its swatch) and the preview, in the popover's upper part, show
    // `colour`.
    static std::function<bool(const QImage&)> popoverShows(const QRect& popover, QColor colour) {
        const QRect upper(popover.left(), popover.top(), popover.width(), 220);
        return [upper, colour](const QImage& s) {
            int hits = 0;
            for (int y = upper.top(); y <= upper.bottom(); ++y)
                for (int x = upper.left(); x <= upper.right(); ++x)
                    hits += closeTo(s.pixelColor(x, y), colour, 12);
            return hits > 200;
        };
    }
    // Shows `window` maximised in one colour, as another program's window filling the screen.
    static void fillScreen(QWidget& window, QColor colour) {
        window.setWindowFlag(Qt::FramelessWindowHint);
        window.setAutoFillBackground(true);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, colour);
        window.setPalette(palette);
        window.showMaximized();
        const QPoint inWindow(960, 600);
        const auto shows = [&](const QImage& s) { return closeTo(s.pixelColor(inWindow), colour, 10); };
        ASSERT_TRUE(shows(screenshotWhen(shows))) << "the coloured window never showed";
    }
    void rightClickIcon() { app.rightClickIcon(); }
    QImage iconPixels() { return screenshot().copy(icon); }

    TrayApp app;
    QRect icon;
};

TEST_F(StatusItemTest, ALeftClickOpensThePopoverUnderThePanelWithTheLiveView) {
    ASSERT_NO_FATAL_FAILURE(launch(kTourDone));
    EXPECT_GT(icon.left(), 1920 / 2) << "the tray sits at the panel's right end";
    // Another program's window fills the screen in one colour: the live colour to show.
    const QColor colour(0xc8, 0x3c, 0x28);
    QWidget window;
    ASSERT_NO_FATAL_FAILURE(fillScreen(window, colour));
    // Time for the sampler to take the colour: the band over the panel shows it once it has (the band is
    // the overlay's business, so it is waited for, not judged).
    const QPoint inPanel(kProbeX, kProbeY);
    screenshotWhen([&](const QImage& s) { return closeTo(s.pixelColor(inPanel), colour, 10); },
                   std::chrono::seconds(8));

    click(icon.center().x(), icon.center().y(), 1);
    std::optional<QRect> popover;
    ASSERT_TRUE(waitUntil([&] { return (popover = popupUnderPanel()).has_value(); }))
        << "no popover appeared";
    EXPECT_EQ(popover->width(), 360);
    EXPECT_LE(popover->height(), 760);
    EXPECT_LE(popover->left(), icon.right());
    EXPECT_GE(popover->right(), icon.left());

    // The status row's swatch and the preview show the live colour in the popover's upper part.
    const auto showsColour = popoverShows(*popover, colour);
    const QImage shot = screenshotWhen(showsColour);
    shot.save(buildDir() + QStringLiteral("/e2e-status-popover.png"));
    EXPECT_TRUE(showsColour(shot)) << "no live colour in the popover; see e2e-status-popover.png";

    // A click elsewhere closes it.
    click(kAwayFromPanel.x(), kAwayFromPanel.y(), 1);
    EXPECT_TRUE(waitUntil([&] { return !popupUnderPanel().has_value(); })) << "an outside click left it open";
}

TEST_F(StatusItemTest,
       WithThePopoverOpenFirstAWindowFillingTheTopColoursTheBandOnceThePointerLeavesThePanel) {
    ASSERT_NO_FATAL_FAILURE(launch(kTourDone));
    click(icon.center().x(), icon.center().y(), 1);
    std::optional<QRect> popover;
    ASSERT_TRUE(waitUntil([&] { return (popover = popupUnderPanel()).has_value(); }))
        << "no popover appeared";

    // Only now does another program's window fill the screen, while the pointer still rests on the icon.
    const QColor colour(0x80, 0x40, 0xc0);
    QWidget window;
    ASSERT_NO_FATAL_FAILURE(fillScreen(window, colour));

    // The pointer on the panel holds sampling, popover or not; once it moves into the popover, our own popup
    // over the strip must neither keep the colour away nor tint it.
    movePointer(QPoint(popover->center().x(), popover->bottom() - 20));
    // The live band follows the strip column by column: above the popover it shows the popover itself
    // unless capture leaves our own windows out.
    const QPoint inPanel(kProbeX, kProbeY), abovePopover(popover->left() + 20, kProbeY);
    const auto bandShows = [&](const QImage& s) {
        return closeTo(s.pixelColor(inPanel), colour, 10) && closeTo(s.pixelColor(abovePopover), colour, 10);
    };
    QImage shot = screenshotWhen(bandShows, std::chrono::seconds(8));
    shot.save(buildDir() + QStringLiteral("/e2e-status-popover-first.png"));
    EXPECT_TRUE(bandShows(shot))
        << "the band never took the window's colour; see e2e-status-popover-first.png";
    const auto showsColour = popoverShows(*popover, colour);
    EXPECT_TRUE(showsColour(screenshotWhen(showsColour))) << "the popover's preview never took the colour";
    ASSERT_TRUE(popupUnderPanel().has_value()) << "the popover closed by itself";
}

TEST_F(StatusItemTest, WithThePopoverOpenTheFrontAppIsTheProgramBeneathAlsoOnceTheSettingsWindowClosed) {
    // Another program with a desktop entry whose icon is one plain colour: the popover's status row shows
    // that icon while the program is the front app.
    const QColor iconColour(0xe0, 0x20, 0xd0);
    QTemporaryDir data;
    ASSERT_TRUE(QDir(data.path()).mkpath(QStringLiteral("applications")));
    const QString iconPath = data.filePath(QStringLiteral("front-probe.png"));
    QImage picture(64, 64, QImage::Format_RGB32);
    picture.fill(iconColour);
    ASSERT_TRUE(picture.save(iconPath));
    QFile entry(data.filePath(QStringLiteral("applications/org.example.FrontProbe.desktop")));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write(
        "[Desktop Entry]\nType=Application\nName=Front Probe\nExec=true\nStartupWMClass=VelaroFrontProbe\n"
        "Icon=" +
        iconPath.toUtf8() + "\n");
    entry.close();
    app.setEnvironment(QStringLiteral("XDG_DATA_HOME"), data.path());
    ASSERT_NO_FATAL_FAILURE(launch(kTourDone));

    ForeignWindow program({.rgb = 0x2a9d4b,
                           .maximised = true,
                           .instance = "velaro-front-probe",
                           .className = "VelaroFrontProbe"});
    ASSERT_NE(program.window(), 0u);
    ASSERT_EQ(run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                              QString::number(program.window())})
                  .exitCode,
              0);
    const auto openPopover = [&]() -> std::optional<QRect> {
        click(icon.center().x(), icon.center().y(), 1);
        std::optional<QRect> popover;
        waitUntil([&] { return (popover = popupUnderPanel()).has_value(); });
        return popover;
    };
    const auto showsProgram = [&](const QRect& popover) { return popoverShows(popover, iconColour); };

    std::optional<QRect> popover = openPopover();
    ASSERT_TRUE(popover) << "no popover appeared";
    QImage shot = screenshotWhen(showsProgram(*popover));
    shot.save(buildDir() + QStringLiteral("/e2e-status-popover-front.png"));
    EXPECT_TRUE(showsProgram(*popover)(shot))
        << "the popover names another front app; see e2e-status-popover-front.png";
    click(kAwayFromPanel.x(), kAwayFromPanel.y(), 1);
    ASSERT_TRUE(waitUntil([&] { return !popupUnderPanel().has_value(); }));

    // The settings window is an ordinary window and takes the front while it is open; once it closes, the
    // program beneath is the front app again.
    ASSERT_FALSE(openSettingsFromTrayMenu(app).isEmpty());
    const std::uint32_t settingsWindow =
        QString::fromLatin1(
            run(QStringLiteral("xdotool"), QStringList{QStringLiteral("search")} + settingsWindowSearch())
                .out)
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
            .value(0)
            .trimmed()
            .toUInt();
    // The window manager closes only a window it manages.
    ASSERT_TRUE(waitUntil([&] {
        const auto managed = clientWindows();
        return std::find(managed.begin(), managed.end(), settingsWindow) != managed.end();
    })) << "the window manager never took the settings window on";
    ASSERT_TRUE(closeWindow(settingsWindow, [&] { return visibleWindows(settingsWindowSearch()).empty(); }))
        << "the settings window did not close";
    popover = openPopover();
    ASSERT_TRUE(popover) << "no popover appeared";
    shot = screenshotWhen(showsProgram(*popover));
    shot.save(buildDir() + QStringLiteral("/e2e-status-popover-front-after-settings.png"));
    EXPECT_TRUE(showsProgram(*popover)(shot))
        << "after the settings window closed the popover names another front app; see "
           "e2e-status-popover-front-after-settings.png";
}

TEST_F(StatusItemTest, DisableFromTheMenuTurnsTheIconOffAndTakesTheTintAway) {
    ASSERT_NO_FATAL_FAILURE(launch(kTourDoneKeptOn));
    const auto tinted = [](const QImage& s) { return s.pixelColor(kProbeX, kProbeY).lightness() < 20; };
    ASSERT_TRUE(tinted(screenshotWhen(tinted))) << "the kept-on overlay never painted the panel";
    const QImage onIcon = iconPixels();

    rightClickIcon();
    ASSERT_TRUE(waitUntil([&] { return popupUnderPanel().has_value(); })) << "no menu appeared";
    key({QStringLiteral("Down"), QStringLiteral("Return")});  // the first item: "Disable"
    ASSERT_TRUE(waitUntil([&] { return storedMaster() == false; })) << "the switch was not stored off";

    const auto untinted = [](const QImage& s) {
        return closeTo(s.pixelColor(kProbeX, kProbeY), kDesktop, 12);
    };
    EXPECT_TRUE(untinted(screenshotWhen(untinted))) << "the tint stayed";
    EXPECT_TRUE(waitUntil([&] { return iconPixels() != onIcon; }))
        << "the icon did not change to the off icon";
}

TEST_F(StatusItemTest, SettingsFromTheMenuOpensTheSettingsWindow700Wide) {
    ASSERT_NO_FATAL_FAILURE(launch(kTourDone));
    rightClickIcon();
    ASSERT_TRUE(waitUntil([&] { return popupUnderPanel().has_value(); })) << "no menu appeared";
    key({QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")});  // "Settings…"
    std::vector<QRect> windows;
    ASSERT_TRUE(waitUntil([&] {
        windows = visibleWindows({QStringLiteral("--name"), QStringLiteral("^Velaro Settings$")});
        return !windows.empty();
    })) << "no window titled \"Velaro Settings\"";
    EXPECT_EQ(windows.front().width(), 700);
}

}  // namespace
}  // namespace velaro::e2e
