// The real app's one X11 session: an app excluded under its desktop-file id is left out of sampling (or
// hides the band) whatever its window class says; the app holds no more than three X connections; at a
// pixel ratio of 2 the band and the hover pause work where the user sees them.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "e2e/E2eSupport.h"
#include "e2e/RunningApp.h"

namespace velaro::e2e {
namespace {

const QColor kBeneath(0x28, 0xa0, 0x50);
const QColor kTerminal(0xc8, 0x3c, 0x28);

// An undecorated xterm of one colour (text and cursor included) over the screen below the panel, in front.
class Terminal {
public:
    // Each its own instance name, so that no window of an earlier one that is still closing is taken for it.
    explicit Terminal(const QString& name)
        : program_("xterm", name,
                   {"-bg", kTerminal.name(), "-fg", kTerminal.name(), "-cr", kTerminal.name(), "+sb",
                    "-geometry", "80x24+100+100"}) {}
    bool show() {
        if (!program_.started() || !waitUntil([&] { return program_.framedWindow() != 0; })) return false;
        // In front and filling the screen below the panel; asked again now and then, since a window manager
        // still taking the window on may let a request pass.
        const QPoint centre = QGuiApplication::primaryScreen()->geometry().center();
        // Where a title bar would be, below the band's reach under the panel.
        const QPoint top(centre.x(), panelHeight() + 14);
        const auto ask = [&] {
            setUndecorated(program_.window());
            // Below the panel, as a maximised window lies (one over the panel would count as full screen).
            run("xdotool", {"windowmove", program_.id(), "0", QString::number(panelHeight())});
            run("xdotool", {"windowsize", program_.id(), "100%", "100%"});
            run("xdotool", {"windowactivate", program_.id()});
        };
        return askUntil(ask, [&] {
            const QImage shot = screenshot();
            return closeTo(shot.pixelColor(centre), kTerminal) && closeTo(shot.pixelColor(top), kTerminal);
        });
    }

private:
    OtherProgram program_;
};

TEST(AppSessionTest, AnAppExcludedByItsDesktopFileIdIsNeitherSampledNorShownUnder) {
    VELARO_REQUIRE_DESKTOP();
    const int panel = panelHeight();
    ASSERT_GT(panel, 0);
    const QPoint inPanel(QGuiApplication::primaryScreen()->geometry().width() / 3, panel / 2);
    const QColor panelColour = screenshot().pixelColor(inPanel);
    struct Case {
        const char* what;
        QByteArray defaults;
        QColor band;  // what the probe point in the panel settles on
    };
    const Case cases[] = {
        {"not excluded: the band takes the terminal's colour", R"({"onboardingStep": 4})", kTerminal},
        {"left out of sampling: the band takes what lies beneath it",
         R"({"onboardingStep": 4, "excludedAppsMembers": ["debian-xterm"], "excludedSampleStop": ["debian-xterm"]})",
         kBeneath},
        {"hiding the overlay: no band over the panel",
         R"({"onboardingStep": 4, "excludedAppsMembers": ["debian-xterm"], "excludedOverlayHide": ["debian-xterm"]})",
         panelColour},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SolidWindow beneath(kBeneath);
        RunningApp app(c.defaults);
        ASSERT_TRUE(app.start());
        Terminal terminal(QStringLiteral("velaro-terminal-%1").arg(++n));
        ASSERT_TRUE(terminal.show()) << "the terminal never filled the screen";
        const QImage settled =
            screenshotWhen([&](const QImage& shot) { return closeTo(shot.pixelColor(inPanel), c.band, 10); },
                           std::chrono::seconds(15));
        EXPECT_TRUE(closeTo(settled.pixelColor(inPanel), c.band, 10))
            << "band " << settled.pixelColor(inPanel).name().toStdString();
        if (c.band == kTerminal) continue;
        // And it stays so: several polls and frames later the terminal's colour has not come through.
        bool leaked = false;
        screenshotWhen(
            [&](const QImage& shot) {
                leaked = leaked || closeTo(shot.pixelColor(inPanel), kTerminal, 24);
                return false;
            },
            std::chrono::seconds(2));
        EXPECT_FALSE(leaked) << "the excluded terminal's colour reached the band";
    }
}

TEST(AppSessionTest, TheRunningAppHoldsAtMostThreeXConnections) {
    VELARO_REQUIRE_DESKTOP();
    const int panel = panelHeight();
    ASSERT_GT(panel, 0);
    const QColor colour(0x50, 0x3c, 0xc8);
    RunningApp app(R"({"onboardingStep": 4})");
    ASSERT_TRUE(app.start());
    // Capturing, so that every role is connected.
    SolidWindow window(colour);
    const QPoint inPanel(QGuiApplication::primaryScreen()->geometry().width() / 3, panel / 2);
    ASSERT_TRUE(closeTo(
        screenshotWhen([&](const QImage& shot) { return closeTo(shot.pixelColor(inPanel), colour, 10); },
                       std::chrono::seconds(15))
            .pixelColor(inPanel),
        colour, 10))
        << "the band never took the window's colour";
    const int clients = xClientsOf(app.pid());
    EXPECT_GT(clients, 0) << "the server did not name the app's clients";
    EXPECT_LE(clients, 3);
}

TEST(AppSessionTest, AtARatioOfTwoTheBandTakesTheWindowsColourAndThePointerOverThePanelPausesIt) {
    VELARO_REQUIRE_DESKTOP();
    const int panel = panelHeight();
    ASSERT_GT(panel, 0);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint inPanel(screen.width() / 3, panel / 2);
    const QColor first(0x50, 0x3c, 0xc8), second(0xc8, 0xa0, 0x28);
    RunningApp app(R"({"onboardingStep": 4})");
    app.setEnvironment(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
    ASSERT_TRUE(app.start());
    SolidWindow window(first);
    const auto bandIs = [&](QColor colour) {
        return closeTo(
            screenshotWhen([&](const QImage& shot) { return closeTo(shot.pixelColor(inPanel), colour, 10); },
                           std::chrono::seconds(15))
                .pixelColor(inPanel),
            colour, 10);
    };
    ASSERT_TRUE(bandIs(first)) << "the band never took the maximised window's colour";

    // Over the panel, three quarters of the way across: in points (half the root pixels) that lies inside
    // the bar; read as points unconverted it would lie beyond the screen's right edge.
    ASSERT_EQ(
        run("xdotool", {"mousemove", QString::number(screen.width() * 3 / 4), QString::number(panel * 2 / 3)})
            .exitCode,
        0);
    // Past the second in which a window that just filled the top may still finish drawing and be taken.
    waitUntil([] { return false; }, std::chrono::milliseconds(1200));
    window.paint(second);
    bool paused = true;
    screenshotWhen(
        [&](const QImage& shot) {
            paused = paused && !closeTo(shot.pixelColor(inPanel), second, 24);
            return false;
        },
        std::chrono::seconds(2));
    EXPECT_TRUE(paused) << "the band took the new colour while the pointer rested on the panel";

    ASSERT_EQ(run("xdotool",
                  {"mousemove", QString::number(screen.center().x()), QString::number(screen.center().y())})
                  .exitCode,
              0);
    EXPECT_TRUE(bandIs(second)) << "sampling never resumed after the pointer left the panel";
}

}  // namespace
}  // namespace velaro::e2e
