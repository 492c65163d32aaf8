// The progress bar on the virtual loop (counting the moments the bar's timers wake it) with the recording
// window host, a scripted engine, the fake hot keys and a pointer the test moves and whose modifier keys it
// holds.
#pragma once

#include <QImage>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "music/ProgressBarController.h"
#include "music/WakeCountingLoop.h"
#include "platform/ModifierFlags.h"
#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeDesktopAppearance.h"
#include "support/FakeHotkeys.h"
#include "support/FakeOverlayWindowHost.h"
#include "support/FakePointerSource.h"
#include "support/FakeScreens.h"
#include "support/VirtualLoop.h"

namespace velaro::test {

// The engine as the bar sees it: a picture the test sets, and the seeks and commands it was asked for. Like
// the real engine it tells its listener of a change on a later turn of the loop; unlike it, the call takes
// the listener it had when it was queued, so a late call after a stop reaches a stopped bar.
struct ScriptedEngine {
    explicit ScriptedEngine(VirtualLoop& loop) : loop(loop) {}

    void show(std::optional<double> progress, double duration, bool playing, const char* player = "player") {
        snap = {};
        snap.isValid = progress.has_value() && duration > 0;
        snap.progress01 = snap.isValid ? progress : std::nullopt;
        snap.duration = snap.isValid ? duration : 0;
        snap.isPlaying = playing;
        if (snap.isValid && player) snap.appId = std::make_shared<const std::string>(player);
        if (auto listener = onChange) loop.post([listener, s = snap] { listener(s); });
    }

    VirtualLoop& loop;
    ProgressSnapshot snap;
    std::function<void(const ProgressSnapshot&)> onChange;
    std::vector<std::pair<double, double>> seeks;  // position, settle
    std::vector<std::tuple<double, double, double>> keySeeks;
    std::vector<std::pair<int, std::string>> commands;
};

class ProgressBarRig {
public:
    static constexpr double kWidth = 1920, kScreenHeight = 1080;

    ProgressBarRig() {
        screens.setScreens({FakeScreens::make("main", Rect(0, 0, kWidth, kScreenHeight), 28)});
        pointer.moveTo({960, 500});
    }
    ~ProgressBarRig() { bar.reset(); }

    void make() {
        bar = std::make_unique<ProgressBarController>(
            ProgressBarServices{
                .loop = barLoop,
                .host = host,
                .screens = screens,
                .pointer = pointer,
                .hotkeys = hotkeys,
                .snapshot = [this] { return engine.snap; },
                .setOnChange = [this](auto f) { engine.onChange = std::move(f); },
                .seek = [this](double s, double settle) { engine.seeks.emplace_back(s, settle); },
                .keySeek = [this](double step, double settle,
                                  double debounce) { engine.keySeeks.emplace_back(step, settle, debounce); },
                .sendCommand = [this](int n,
                                      const std::string& label) { engine.commands.emplace_back(n, label); },
                .menuBar = {.filledWindowColor = [this] { return filled; },
                            .sampledColor = [this] { return sampled; },
                            .appearance = &appearance},
                .doubleClickInterval = [this] { return doubleClick; },
            },
            settings);
        loop.runUntilIdle();
    }

    // A playing track at `progress` of 200 s, made and shown (its fade-in done).
    void makePlaying(double progress = 0.25) {
        engine.show(progress, 200, true);
        make();
        loop.advance(0.5);
    }

    FakeOverlayWindow* window() const {
        return const_cast<FakeOverlayWindow*>(static_cast<const FakeOverlayWindow*>(bar->window()));
    }
    bool shown() const { return window() && window()->isVisible() && window()->alphaValue() > 0; }
    double fillWidth() const { return bar->look().fillWidth; }

    // The painted window at one pixel a point.
    QImage render() const { return FakeOverlayWindowHost::render(*window()); }

    // Holds the bar's modifier (Alt by default) and lets a tick see it.
    void holdModifier(std::uint32_t flags = ModifierFlag::option) {
        pointer.holdModifiers(flags);
        loop.advance(0.1);
    }

    static OverlayMouseEvent mouse(OverlayMouseEvent::Kind kind, double x,
                                   std::uint32_t modifiers = ModifierFlag::option, int clickCount = 1,
                                   OverlayMouseEvent::Button button = OverlayMouseEvent::Button::left) {
        OverlayMouseEvent e;
        e.kind = kind;
        e.location = {x, 1};
        e.modifiers = modifiers;
        e.clickCount = clickCount;
        e.button = button;
        return e;
    }
    // A press and release at `x` (a click), optionally the second of a double click.
    bool click(double x, int clickCount = 1) {
        const bool down =
            window()->sendMouse(mouse(OverlayMouseEvent::Kind::down, x, ModifierFlag::option, clickCount));
        const bool up =
            window()->sendMouse(mouse(OverlayMouseEvent::Kind::up, x, ModifierFlag::option, clickCount));
        return down && up;
    }
    static OverlayMouseEvent swipe(ScrollPhase phase, double deltaX, bool precise = true) {
        OverlayMouseEvent e;
        e.kind = OverlayMouseEvent::Kind::scroll;
        e.phase = phase;
        e.deltaX = deltaX;
        e.hasPreciseDeltas = precise;
        return e;
    }

    VirtualLoop loop;
    WakeCountingLoop barLoop{loop};
    FakeDefaultsStore store;
    OverlaySettings settings{store, loop};
    FakeOverlayWindowHost host{loop};
    FakeScreens screens;
    FakePointerSource pointer{kScreenHeight};
    FakeHotkeys hotkeys;
    ScriptedEngine engine{loop};
    std::optional<Color> filled;
    // The wallpaper under the menu bar, as sampled.
    std::optional<Color> sampled = Color::black();
    FakeDesktopAppearance appearance;
    double doubleClick = 0.4;
    std::unique_ptr<ProgressBarController> bar;
};

}  // namespace velaro::test
