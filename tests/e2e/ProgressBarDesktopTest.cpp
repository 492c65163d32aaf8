// The real app's progress bar over the test player: the thin line under the transparent panel moving on as
// the track plays, an Alt+click that seeks the player, the arrow hot keys, and the bar leaving a paused
// track alone after five seconds.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>

#include <optional>

#include "e2e/E2eSupport.h"
#include "e2e/RunningApp.h"
#include "e2e/TestPlayer.h"

namespace velaro::e2e {
namespace {

using namespace std::chrono_literals;

const QString kTrack = QStringLiteral("/org/velaro/track/1");

// The right end of the line drawn along row `y` of the screen's top edge: the last pixel, from the left,
// that differs from the plain desktop behind the transparent panel; none when the row is plain. The panel's
// own tray and clock at its right end are left out.
std::optional<int> lineEnd(const QImage& shot, int y) {
    const int right = shot.width() - 100;
    const QColor plain = shot.pixelColor(right, y);
    for (int x = right - 1; x >= 0; --x)
        if (!closeTo(shot.pixelColor(x, y), plain, 24)) return x;
    return std::nullopt;
}

// The player's position, in seconds, from a "SetPosition TRACK MICROS" line.
std::optional<double> setPosition(const std::string& line) {
    const std::string prefix = "SetPosition " + kTrack.toStdString() + " ";
    if (line.rfind(prefix, 0) != 0) return std::nullopt;
    return std::stod(line.substr(prefix.size())) / 1e6;
}

CommandResult xdotool(const QStringList& arguments) {
    return run(QStringLiteral("xdotool"), arguments);
}

TEST(ProgressBarDesktopTest, TheLineShowsTheTrackAndAltClicksKeysAndPausesActOnThePlayer) {
    VELARO_REQUIRE_DESKTOP();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const int width = screen.width();
    ASSERT_TRUE(movePointerByDevice(width / 2, screen.height() / 2)) << "away from the top strip";

    TestPlayer player(QStringLiteral("velarobar"));
    ASSERT_TRUE(player.ready());
    ASSERT_TRUE(player.command(QStringLiteral("track ") + kTrack + QStringLiteral(" 200 Song")));
    ASSERT_TRUE(player.command(QStringLiteral("seeked 50")));
    ASSERT_TRUE(player.command(QStringLiteral("play")));
    RunningApp app(R"({"onboardingStep": 4, "progressEnabled": true})");
    ASSERT_TRUE(app.start());

    // 50 s of 200 s, and a few more while the app starts: about a quarter of the width, 2 pixels thick.
    // The fill grows to its place as the bar fades in: wait until it is there.
    const QImage shown =
        screenshotWhen([&](const QImage& shot) { return lineEnd(shot, 0).value_or(0) > width * 0.24; }, 15s);
    const auto end = lineEnd(shown, 0);
    ASSERT_TRUE(end) << "no line along the top edge";
    EXPECT_GT(*end, width * 0.24);
    EXPECT_LT(*end, width * 0.40);
    EXPECT_TRUE(lineEnd(shown, 1).has_value());
    EXPECT_FALSE(lineEnd(shown, 2).has_value()) << "the line is 2 pixels thick";
    EXPECT_FALSE(lineEnd(shown, 12).has_value()) << "nothing else is drawn over the panel";

    // Playing, the end moves on pixel by pixel (about ten a second), and only the columns that changed are
    // painted again: the fill still brightens evenly from its left end to its right one.
    const auto evenFade = [](const QImage& shot, int end) {
        for (int x = 1; x <= end; ++x)
            if (shot.pixelColor(x, 0).red() + 2 < shot.pixelColor(x - 1, 0).red()) return false;
        return true;
    };
    EXPECT_TRUE(evenFade(shown, *end));
    const QImage moved =
        screenshotWhen([&](const QImage& shot) { return lineEnd(shot, 0).value_or(0) > *end + 8; }, 5s);
    const auto movedEnd = lineEnd(moved, 0);
    ASSERT_TRUE(movedEnd) << "the line went";
    EXPECT_GT(*movedEnd, *end + 8) << "the line's end stood still";
    EXPECT_TRUE(evenFade(moved, *movedEnd));

    // Holding Alt over the bar arms it: a thicker line that takes the click. A click at three quarters seeks
    // the player to 150 s once the double-click interval has passed.
    ASSERT_TRUE(movePointerByDevice(width * 3 / 4, 5));
    ASSERT_TRUE(xdotool({QStringLiteral("keydown"), QStringLiteral("alt")}).finished);
    const QImage armed = screenshotWhen([&](const QImage& shot) { return lineEnd(shot, 5).has_value(); }, 5s);
    EXPECT_TRUE(lineEnd(armed, 5).has_value()) << "the armed line is 6 pixels thick";
    ASSERT_TRUE(xdotool({QStringLiteral("click"), QStringLiteral("1")}).finished);
    std::optional<double> seeked;
    EXPECT_TRUE(
        player.waitForLine([&](const std::string& l) { return (seeked = setPosition(l)).has_value(); }));
    ASSERT_TRUE(seeked);
    EXPECT_NEAR(*seeked, 150, 1);
    ASSERT_TRUE(xdotool({QStringLiteral("keyup"), QStringLiteral("alt")}).finished);
    const QImage disarmed =
        screenshotWhen([&](const QImage& shot) { return !lineEnd(shot, 5).has_value(); }, 5s);
    EXPECT_FALSE(lineEnd(disarmed, 5).has_value()) << "thin again once Alt is let go";
    const auto seekedEnd = lineEnd(disarmed, 0);
    ASSERT_TRUE(seekedEnd);
    EXPECT_NEAR(*seekedEnd, width * 0.75, width * 0.03);

    // Alt+Right seeks 10 s forward, once, after its debounce; Alt+Up goes to the next track.
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("alt+Right")}).finished);
    std::optional<double> keyed;
    EXPECT_TRUE(
        player.waitForLine([&](const std::string& l) { return (keyed = setPosition(l)).has_value(); }));
    ASSERT_TRUE(keyed);
    EXPECT_GT(*keyed, *seeked + 9);
    EXPECT_LT(*keyed, *seeked + 16);
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("alt+Up")}).finished);
    EXPECT_TRUE(player.waitForLine("Next"));
    int seeks = 0;
    for (const auto& line : player.lines()) seeks += setPosition(line).has_value();
    EXPECT_EQ(seeks, 2) << "one click seek and one key seek";

    // Paused, with the pointer away from the top strip, the bar hides five seconds later.
    ASSERT_TRUE(movePointerByDevice(width / 2, screen.height() / 2));
    ASSERT_TRUE(player.command(QStringLiteral("pause")));
    QElapsedTimer paused;
    paused.start();
    const QImage gone =
        screenshotWhen([&](const QImage& shot) { return !lineEnd(shot, 0).has_value(); }, 12s);
    EXPECT_FALSE(lineEnd(gone, 0).has_value()) << "the paused bar stays";
    EXPECT_GT(paused.elapsed(), 4500) << "hidden before its five seconds";
    EXPECT_TRUE(app.running());
}

}  // namespace
}  // namespace velaro::e2e
