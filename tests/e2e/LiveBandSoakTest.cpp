// A soak of the live band in the real app at pixel ratios 1 and 2: a seeded random walk of window maps,
// closes, raises, minimises and (un)maximises (undecorated solid windows and terminals with their title
// bars), tops left empty, the pointer resting on the panel, style and rate changes, and openings of the
// popover, the tray menu and the settings window. After every step the band over the panel must show what
// lies under it in the strip below the panel (our own windows left out), or be gone while no window fills the
// top, within a second of the scene settling.
//
// The short form runs with the other desktop tests. By hand, VELARO_SOAK_MINUTES=20 walks that long in
// sessions of a fresh app at alternating ratios, some started as a new user (no settings, the tour open).
// Every run walks from the same seed, so that a failure in the suite comes again the next time;
// VELARO_SOAK_SEED=n walks from seed n, VELARO_SOAK_SEED=random from a new one each run (every run prints its
// seed, and so does every failure). VELARO_SOAK_APP=path runs another build of the app (an optimised one,
// whose timing differs most from this build's). ctest ends a test after two minutes, so run the long form
// directly, inside the test desktop:
//   QT_QPA_PLATFORM=xcb VELARO_SOAK_MINUTES=20 build/bin/velaro_tests_e2e --gtest_filter='LiveBandSoakTest.*'
#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "e2e/E2eSupport.h"
#include "e2e/ForeignWindow.h"
#include "e2e/SettingsTwin.h"
#include "e2e/TrayApp.h"
#include "e2e/X11StackProbe.h"

namespace velaro::e2e {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kFollowWithin{1000};  // how soon the band must show a settled scene
constexpr milliseconds kWatchMissFor{6000};  // how long a miss is watched before it counts as stuck
constexpr milliseconds kSettledFor{250};     // what lies under the probes stayed the same this long
constexpr int kTolerance = 12;
constexpr int kShortSteps = 12;  // a session of the short form, one at each ratio
constexpr std::uint32_t kDefaultSeed = 65;  // the walk of every run that asks for no other
const QColor kManual(0x8a, 0x2b, 0xe2);  // the solid style's colour; nothing in the scene has it
const std::uint32_t kPalette[] = {0x2e8b57, 0xc83c28, 0x503cc8, 0xc8a028, 0x28a0a0, 0xa02878, 0x3c3c3c};
// The style is live at 15 frames a second by default; a new user has not been through the tour either.
const QByteArray kSettings = R"({"onboardingStep": 4, "manualOverrideColor": "#8a2be2"})";
const QByteArray kNewUser = R"({"manualOverrideColor": "#8a2be2"})";

void pause(milliseconds time) {
    waitUntil([] { return false; }, time);
}
// The pointer moved and clicked as a hand on a mouse does: the raw motion the app follows (a warp is not).
void handTo(QPoint at) {
    movePointerByDevice(at.x(), at.y());
}
void handClick(QPoint at, int button) {
    handTo(at);
    run(QStringLiteral("xdotool"), {QStringLiteral("click"), QString::number(button)});
}
void xdotool(const char* command, std::uint32_t window) {
    run(QStringLiteral("xdotool"), {QString::fromLatin1(command), QString::number(window)});
}

// A window of another program: a solid undecorated one or a terminal with its title bar.
struct SceneWindow {
    std::unique_ptr<ForeignWindow> solid;
    std::unique_ptr<OtherProgram> terminal;
    QString name;
    bool maximised = true;
    bool minimised = false;
    std::uint32_t window() const { return solid ? solid->window() : terminal->window(); }
    bool fillsTheTop() const { return maximised && !minimised; }
};

struct Totals {
    int sessions = 0, steps = 0, failures = 0;
    double slowest = 0;
};

// One run of the app at one ratio, with its scene.
class SoakSession {
public:
    SoakSession(int ratio, bool longForm, std::mt19937& rng, Totals& totals, QString tag)
        : ratio_(ratio), longForm_(longForm), rng_(rng), totals_(totals), tag_(std::move(tag)) {}

    // The app starts with nothing filling the top; the settings window may be opened, then a window comes to
    // fill the top while the pointer rests on the tray icon after the click that opened the popover, as a
    // user's first minute may go.
    bool start(bool newUser) {
        panel_ = panelHeight();
        screen_ = QGuiApplication::primaryScreen()->geometry();
        if (panel_ <= 0) return fail("no panel");
        // The panel as it shows without the band, which is gone while no window fills the top.
        for (int x : probeColumns()) panelColours_.push_back(screenPixel(QPoint(x, bandRow())));
        app_.setEnvironment(QStringLiteral("QT_SCALE_FACTOR"), QString::number(ratio_));
        if (const QString program = qEnvironmentVariable("VELARO_SOAK_APP"); !program.isEmpty())
            app_.setProgram(program);
        QString why;
        if (!app_.launch(newUser ? kNewUser : kSettings, &why)) return fail(why);
        appPid_ = app_.pid().toLongLong();
        log(QStringLiteral("app %1 at ratio %2%3").arg(appPid_).arg(ratio_).arg(newUser ? ", a new user" : ""));
        if (!check()) return false;
        if (coin(0.5) && !(openSettings() && check())) return false;
        if (longForm_ && coin(0.5)) return true;
        return fillWhileOnTheIcon() && check();
    }

    // One step of the walk and its check; false when the band failed to follow (the session then ends).
    bool step() {
        static const std::pair<int, bool (SoakSession::*)()> actions[] = {
            {3, &SoakSession::mapSolid},       {2, &SoakSession::mapTerminal},
            {2, &SoakSession::closeWindow},    {4, &SoakSession::raiseWindow},
            {4, &SoakSession::minimiseOrRestore}, {4, &SoakSession::maximiseOrNot},
            {1, &SoakSession::emptyTheTop},    {2, &SoakSession::hoverThePanel},
            {4, &SoakSession::changeStyle},    {1, &SoakSession::changeRate},
            {3, &SoakSession::openPopover},    {1, &SoakSession::closePopover},
            {1, &SoakSession::trayMenu},       {2, &SoakSession::openSettings},
            {1, &SoakSession::closeSettings},  {1, &SoakSession::settingsToTheTop},
            {2, &SoakSession::burst},          {2, &SoakSession::fillWhileOnTheIcon},
        };
        std::vector<int> weights;
        for (const auto& a : actions) weights.push_back(a.first);
        const auto chosen = actions[std::discrete_distribution<std::size_t>(weights.begin(), weights.end())(rng_)];
        ++steps_;
        ++totals_.steps;
        return (this->*chosen.second)() && check();
    }

private:
    // ---- the scene ----

    bool mapSolid() {
        if (std::count_if(windows_.begin(), windows_.end(), [](auto& w) { return w.solid != nullptr; }) >= 3)
            return closeWindow();
        const std::uint32_t rgb = kPalette[pick(std::size(kPalette))];
        SceneWindow w;
        w.name = QStringLiteral("solid #%1").arg(rgb, 6, 16, QLatin1Char('0'));
        w.solid = std::make_unique<ForeignWindow>(ForeignWindow::Options{.rgb = rgb, .maximised = true});
        if (!w.solid->window()) return fail("the solid window did not show");
        return add(std::move(w));
    }

    bool mapTerminal() {
        if (std::count_if(windows_.begin(), windows_.end(), [](auto& w) { return w.terminal != nullptr; }) >= 2)
            return raiseWindow();
        SceneWindow w;
        w.name = QStringLiteral("soak-terminal-%1").arg(++terminalsMade_);
        w.terminal = std::make_unique<OtherProgram>(QStringLiteral("xterm"), w.name,
                                                    QStringList{"+sb", "-geometry", "80x24+120+120"});
        if (!w.terminal->started() || !waitUntil([&] { return w.terminal->framedWindow() != 0; }))
            return fail("the terminal did not show");
        setMaximised(w.terminal->window(), true);
        return add(std::move(w));
    }

    bool add(SceneWindow w) {
        log(QStringLiteral("map ") + w.name);
        windows_.push_back(std::move(w));
        return waitFor(windows_.back());
    }

    bool closeWindow() {
        if (windows_.empty()) return mapSolid();
        const auto at = windows_.begin() + static_cast<std::ptrdiff_t>(pick(windows_.size()));
        log(QStringLiteral("close ") + at->name);
        const std::uint32_t id = at->window();
        windows_.erase(at);
        return hurry_ || waitUntil([&] { return !frameAround(id); }) || fail("a closed window stayed");
    }

    bool raiseWindow() {
        auto* w = pickWhere([](const SceneWindow& w) { return !w.minimised; });
        if (!w) return minimiseOrRestore();
        log(QStringLiteral("raise ") + w->name);
        xdotool("windowactivate", w->window());
        restPointer();
        return true;
    }

    bool minimiseOrRestore() {
        if (windows_.empty()) return mapSolid();
        return change(windows_[pick(windows_.size())], &SceneWindow::minimised, "minimise", "restore");
    }

    bool maximiseOrNot() {
        auto* w = pickWhere([](const SceneWindow& w) { return !w.minimised; });
        return w ? change(*w, &SceneWindow::maximised, "maximise", "unmaximise") : minimiseOrRestore();
    }

    // Turns a state of the window the other way, as the user would ask the window manager.
    bool change(SceneWindow& w, bool SceneWindow::*state, const char* on, const char* off) {
        w.*state = !(w.*state);
        log(QStringLiteral("%1 %2").arg(QLatin1String(w.*state ? on : off), w.name));
        ask(w);
        return waitFor(w);
    }

    // Nothing fills the top for a while: every window minimised, then a pause; now and then in the long form a
    // pause past the time capture goes on after the top emptied.
    bool emptyTheTop() {
        const bool pastTeardown = longForm_ && coin(0.25);
        log(QStringLiteral("empty the top for %1").arg(pastTeardown ? "65 s" : "a moment"));
        if (!minimiseAll() || !check()) return false;
        pause(pastTeardown ? milliseconds(65000) : milliseconds(1500));
        return minimiseOrRestore();
    }

    // A click on the tray icon opens the popover and leaves the pointer there, on the panel (where it pauses
    // sampling); only then a window comes to fill the top, and the band must take its colour all the same.
    bool fillWhileOnTheIcon() {
        log(QStringLiteral("fill the top while the pointer rests on the tray icon"));
        if (!minimiseAll() || !check()) return false;
        if (app_.popupUnderPanel()) dismissPopup();
        if (!clickIconForPopover()) return false;
        pointerStays_ = true;
        const bool followed = (windows_.empty() || coin(0.5) ? mapSolid() : minimiseOrRestore()) && check();
        pointerStays_ = false;
        restPointer();
        return followed;
    }

    bool minimiseAll() {
        for (auto& w : windows_) {
            if (!w.fillsTheTop()) continue;
            w.minimised = true;
            ask(w);
        }
        return std::all_of(windows_.begin(), windows_.end(), [&](const auto& w) { return waitFor(w); });
    }

    // Several changes of the scene in quick succession, each let go before the window manager has done the
    // last: the check comes once they have all landed.
    bool burst() {
        const int count = std::uniform_int_distribution<int>(2, 5)(rng_);
        log(QStringLiteral("a burst of %1 changes").arg(count));
        static bool (SoakSession::*const changes[])() = {&SoakSession::mapSolid, &SoakSession::raiseWindow,
                                                         &SoakSession::minimiseOrRestore,
                                                         &SoakSession::maximiseOrNot, &SoakSession::closeWindow};
        hurry_ = true;
        bool ok = true;
        for (int i = 0; i < count && ok; ++i) ok = (this->*changes[pick(std::size(changes))])();
        hurry_ = false;
        return ok && std::all_of(windows_.begin(), windows_.end(), [&](const auto& w) { return waitFor(w); });
    }

    // The pointer rests on the panel (which pauses sampling), then leaves.
    bool hoverThePanel() {
        log(QStringLiteral("rest the pointer on the panel"));
        handTo(QPoint(screen_.width() * 2 / 5, panel_ / 2));
        pause(milliseconds(700));
        restPointer();
        return true;
    }

    // ---- the app ----

    // Solid and back to live, through the popover's style buttons or the settings file.
    bool changeStyle() {
        if (coin(0.5)) return setStyle(QStringLiteral("solid")) && check() && setStyle(QStringLiteral("live"));
        popover_ = app_.popupUnderPanel();  // it may have closed meanwhile
        if (!popover_ && !openPopover()) return false;
        if (!check()) return false;
        return clickStyle(78, QStringLiteral("solid")) && check() && clickStyle(281, QStringLiteral("live"));
    }

    // Another rate: every stream starts again.
    bool changeRate() {
        const int rates[] = {10, 15, 20, 30};
        const int rate = rates[pick(std::size(rates))];
        log(QStringLiteral("rate %1 through the file").arg(rate));
        return store(QStringLiteral("liveCaptureFPS"), rate);
    }

    bool openPopover() {
        if ((popover_ = app_.popupUnderPanel())) return raiseWindow();
        log(QStringLiteral("open the popover"));
        if (!clickIconForPopover()) return false;
        restPointer();
        return true;
    }

    bool clickIconForPopover() {
        handClick(app_.icon().center(), 1);
        return waitUntil([&] { return (popover_ = app_.popupUnderPanel()).has_value(); }) ||
               fail("no popover appeared");
    }

    bool closePopover() {
        if (!popover_) return openPopover();
        log(QStringLiteral("close the popover"));
        return dismissPopup() || fail("the popover did not close");
    }

    // The tray icon's menu, opened and let go: our own menu over the strip.
    bool trayMenu() {
        log(QStringLiteral("open the tray menu and let it go"));
        handClick(app_.icon().center(), 3);
        if (!waitUntil([&] { return app_.popupUnderPanel().has_value(); })) return fail("no menu appeared");
        restPointer();
        pause(milliseconds(300));
        return dismissPopup() || fail("the menu did not close");
    }

    bool openSettings() {
        if (const auto id = settingsWindow()) {
            log(QStringLiteral("raise the settings window"));
            xdotool("windowactivate", id);
        } else {
            log(QStringLiteral("open the settings window"));
            if (popover_) dismissPopup();
            if (openSettingsFromTrayMenu(app_).isEmpty()) return fail("the settings window did not open");
        }
        restPointer();
        return true;
    }

    bool closeSettings() {
        const std::uint32_t id = settingsWindow();
        if (!id) return openSettings();
        log(QStringLiteral("close the settings window"));
        // What is under test is the band: a window that stays is left to the next step.
        if (!e2e::closeWindow(id, [&] { return settingsWindow() == 0; }))
            log(QStringLiteral("  the settings window stayed open"));
        restPointer();
        return true;
    }

    // The settings window dragged up to the panel: its title bar over the strip.
    bool settingsToTheTop() {
        const std::uint32_t id = settingsWindow();
        if (!id) return openSettings();
        log(QStringLiteral("drag the settings window up to the panel"));
        run(QStringLiteral("xdotool"), {QStringLiteral("windowmove"), QString::number(id),
                                        QString::number(screen_.width() / 8), QString::number(panel_)});
        waitUntil([&] {
            const auto frame = frameAround(id);
            return frame && frame->outer.top() == panel_;
        });
        restPointer();
        return true;
    }

    // ---- the check ----

    // Two columns of the panel's free space, away from its clock and tray; the band's row there, and the row of
    // the strip below the panel that the live line is read from.
    std::vector<int> probeColumns() const { return {screen_.width() / 5, screen_.width() / 3}; }
    int bandRow() const { return panel_ / 2; }
    int stripRow() const { return panel_ + 3 * ratio_; }

    bool filled() const {
        return std::any_of(windows_.begin(), windows_.end(), [](const auto& w) { return w.fillsTheTop(); });
    }
    // What the probes should show: the strip beneath in the live style, the style's colour in the solid one,
    // the bare panel while no window fills the top.
    std::vector<QColor> expected() const {
        std::vector<QColor> out;
        const std::uint32_t settings = filled() ? 0 : settingsWindow();
        const auto frame = settings ? frameAround(settings) : std::nullopt;
        for (std::size_t i = 0; i < probeColumns().size(); ++i) {
            const QPoint probe(probeColumns()[i], bandRow());
            if (filled())
                out.push_back(live_ ? colourBeneathWindowsOf(appPid_, QPoint(probe.x(), stripRow())) : kManual);
            // Where a settings window taller than the work area lies over the panel, the panel does not show.
            else if (frame && frame->viewable && frame->outer.contains(probe))
                out.push_back(screenPixel(probe));
            else
                out.push_back(panelColours_[i]);
        }
        return out;
    }
    std::vector<QColor> band() const {
        std::vector<QColor> out;
        for (int x : probeColumns()) out.push_back(screenPixel(QPoint(x, bandRow())));
        return out;
    }
    static bool same(const std::vector<QColor>& a, const std::vector<QColor>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](QColor x, QColor y) {
            return x.isValid() && y.isValid() && closeTo(x, y, kTolerance);
        });
    }
    static QString names(const std::vector<QColor>& colours) {
        QStringList out;
        for (const auto& c : colours) out << (c.isValid() ? c.name() : QStringLiteral("?"));
        return out.join(QLatin1Char(' '));
    }

    // Waits for the scene to settle, then for the band to show it: a band later than kFollowWithin fails the
    // step, as "stuck" when it never shows it within kWatchMissFor.
    bool check() {
        const auto acted = Clock::now();
        auto stableSince = acted;
        std::vector<QColor> want = expected(), shown;
        waitUntil(
            [&] {
                if (auto now = expected(); !same(now, want)) {
                    want = std::move(now);
                    stableSince = Clock::now();
                }
                return Clock::now() - stableSince >= kSettledFor;
            },
            std::chrono::seconds(5));
        const auto from = Clock::now();
        // The scene may still move (a window manager finishing a request, a terminal's title bar changing
        // with the focus): the band follows it.
        const bool followed = waitUntil(
            [&] {
                shown = band();
                want = expected();
                return same(shown, want);
            },
            kWatchMissFor);
        const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
        const double took = seconds(Clock::now() - from);
        totals_.slowest = std::max(totals_.slowest, took);
        const QString mode = !filled() ? QStringLiteral("nothing fills the top")
                                       : QLatin1String(live_ ? "live" : "solid");
        const QString line = QStringLiteral("  band %1, expected %2 (%3): %4")
                                 .arg(names(shown), names(want), mode,
                                      followed ? QStringLiteral("followed %1 s after the scene settled (%2 s "
                                                                "after the step)")
                                                     .arg(took, 0, 'f', 2)
                                                     .arg(seconds(Clock::now() - acted), 0, 'f', 2)
                                               : QStringLiteral("NOT FOLLOWED"));
        log(line);
        if (followed && took <= seconds(kFollowWithin)) return true;
        const QString shot = buildDir() + QStringLiteral("/soak-%1-step%2.png").arg(tag_).arg(steps_);
        screenshot().save(shot);
        return fail(QStringLiteral("the band %1 after \"%2\":%3\nsee %4")
                        .arg(followed ? "was slow to follow" : "never followed", lastAction_, line, shot));
    }

    // ---- helpers ----

    bool fail(const QString& why) {
        ++totals_.failures;
        ADD_FAILURE() << tag_.toStdString() << ": " << why.toStdString() << "\nthe walk so far:\n"
                      << walk_.join(QLatin1Char('\n')).toStdString();
        return false;
    }
    void log(const QString& line) {
        if (!line.startsWith(QLatin1Char(' '))) lastAction_ = line;
        walk_ << QStringLiteral("[%1 #%2] %3").arg(tag_).arg(steps_).arg(line);
        std::printf("%s\n", qPrintable(walk_.back()));
        std::fflush(stdout);
    }

    bool coin(double p) { return std::bernoulli_distribution(p)(rng_); }
    std::size_t pick(std::size_t count) { return std::uniform_int_distribution<std::size_t>(0, count - 1)(rng_); }
    template <class Test>
    SceneWindow* pickWhere(Test test) {
        std::vector<SceneWindow*> fitting;
        for (auto& w : windows_)
            if (test(w)) fitting.push_back(&w);
        return fitting.empty() ? nullptr : fitting[pick(fitting.size())];
    }

    // Asks the window manager for the window's state in the scene.
    static void ask(const SceneWindow& w) {
        if (w.minimised) return xdotool("windowminimize", w.window());
        setMaximised(w.window(), w.maximised);
        xdotool("windowactivate", w.window());
    }
    // Waits until the window shows as the scene says (minimised or not, filling the screen's width or not).
    bool waitFor(const SceneWindow& w) {
        if (hurry_) return true;
        const auto shows = [&] {
            const auto frame = frameAround(w.window());
            if (!frame || w.minimised) return frame && !frame->viewable;
            return frame->viewable && (frame->outer.width() >= screen_.width()) == w.maximised;
        };
        const bool done = askUntil([&] { ask(w); }, shows);
        restPointer();
        return done || fail(w.name + QStringLiteral(" does not show as asked"));
    }

    std::uint32_t settingsWindow() const {
        const auto found = run(QStringLiteral("xdotool"),
                               QStringList{QStringLiteral("search"), QStringLiteral("--onlyvisible")} +
                                   settingsWindowSearch());
        return found.out.trimmed().split('\n').front().trimmed().toUInt();
    }

    // Closes the popover or menu hanging under the panel: Escape, else a click where no window of ours lies.
    bool dismissPopup() {
        popover_.reset();
        pressKeys({QStringLiteral("Escape")});
        if (!waitUntil([&] { return !app_.popupUnderPanel(); }, milliseconds(2000)))
            handClick(QPoint(20 * ratio_, screen_.height() - 120), 1);
        const bool gone = waitUntil([&] { return !app_.popupUnderPanel(); });
        restPointer();
        return gone;
    }

    // The pointer off the panel (where it would pause sampling): inside the popover while it is open, else low
    // on the screen.
    void restPointer() {
        if (pointerStays_) return;
        handTo(popover_ ? QPoint(popover_->center().x(), popover_->bottom() - 60 * ratio_)
                        : QPoint(screen_.width() / 2, screen_.height() - 150));
    }

    bool store(const QString& key, const QJsonValue& value) {
        return app_.storeSetting(key, value) || fail("cannot write the settings file");
    }
    bool setStyle(const QString& style) {
        log(QStringLiteral("style %1 through the file").arg(style));
        live_ = style == QLatin1String("live");
        return store(QStringLiteral("menuBarStyle"), style);
    }
    // A click on a style button of the popover, `x` points from its left on the buttons' row.
    bool clickStyle(int x, const QString& style) {
        log(QStringLiteral("style %1 in the popover").arg(style));
        handClick(QPoint(popover_->left() + x * ratio_, popover_->top() + 317 * ratio_), 1);
        restPointer();
        const auto stored = [&] { return app_.storedSettings().value(QStringLiteral("menuBarStyle")) == style; };
        if (waitUntil(stored, milliseconds(2000))) {
            live_ = style == QLatin1String("live");
            return true;
        }
        log(QStringLiteral("  the popover's button missed"));
        return setStyle(style);
    }

    const int ratio_;
    const bool longForm_;
    std::mt19937& rng_;
    Totals& totals_;
    const QString tag_;
    TrayApp app_;
    qint64 appPid_ = 0;
    int panel_ = 0;
    QRect screen_;
    std::vector<QColor> panelColours_;
    std::vector<SceneWindow> windows_;
    int terminalsMade_ = 0;
    std::optional<QRect> popover_;
    bool live_ = true;
    bool hurry_ = false;         // within a burst: changes are not waited for
    bool pointerStays_ = false;  // the pointer is left where a step put it
    int steps_ = 0;
    QStringList walk_;
    QString lastAction_;
};

TEST(LiveBandSoakTest, TheLiveBandFollowsWhatLiesUnderItThroughARandomWalk) {
    VELARO_REQUIRE_DESKTOP();
    if (!QFile::exists(TrayApp::executable())) GTEST_SKIP() << "the app is not built yet";
    const QString seedText = qEnvironmentVariable("VELARO_SOAK_SEED");
    std::uint32_t seed = kDefaultSeed;
    if (seedText == QLatin1String("random"))
        seed = std::random_device{}();
    else if (!seedText.isEmpty())
        seed = seedText.toUInt();
    const double minutes = qEnvironmentVariable("VELARO_SOAK_MINUTES").toDouble();
    const bool longForm = minutes > 0;
    std::printf("soak seed %u (VELARO_SOAK_SEED=%u walks the same way)\n", seed, seed);
    // Every failure of the walk names the seed that takes the same walk again.
    SCOPED_TRACE(
        QStringLiteral("soak seed %1 (VELARO_SOAK_SEED=%1 walks the same way)").arg(seed).toStdString());
    std::mt19937 rng(seed);
    Totals totals;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(minutes * 60));
    for (int session = 0; longForm ? Clock::now() < deadline : session < 2; ++session) {
        const int ratio = session % 2 == 0 ? 2 : 1;
        const bool newUser = longForm && std::bernoulli_distribution(0.3)(rng);
        const int steps = longForm ? std::uniform_int_distribution<int>(20, 60)(rng) : kShortSteps;
        SoakSession s(ratio, longForm, rng, totals, QStringLiteral("s%1r%2").arg(session).arg(ratio));
        ++totals.sessions;
        if (!s.start(newUser)) continue;
        for (int i = 0; i < steps && (!longForm || Clock::now() < deadline); ++i)
            if (!s.step()) break;
    }
    std::printf("soak: %d sessions, %d steps, %d failures, slowest follow %.2f s (seed %u)\n", totals.sessions,
                totals.steps, totals.failures, totals.slowest, seed);
}

}  // namespace
}  // namespace velaro::e2e
