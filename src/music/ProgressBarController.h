// The now-playing progress bar: a thin line along the top of the main screen, in a window under the top
// panel, that shows the track's position in one of three colour modes adapted to the menu bar behind it,
// fades with playback, the panel, the desktop overview and an optional auto-hide after a pause, and stays in
// front of the visualizer. Holding the progress modifier over a seekable track arms it: it then takes the
// mouse above the panel, and clicks, drags and touchpad swipes seek and skip; four arrow hot keys seek and
// skip too.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/AnimatedValue.h"
#include "base/Cancellable.h"
#include "base/Color.h"
#include "base/Lifetime.h"
#include "music/MenuBarBackdrop.h"
#include "music/NowPlayingState.h"
#include "music/ProgressBarView.h"
#include "platform/Hotkeys.h"
#include "platform/OverlayWindowHost.h"
#include "platform/Screens.h"

namespace velaro {

class MainLoop;
class MusicProgressEngine;
class OverlaySettings;
class PointerSource;
class ScreenSampler;

struct ProgressBarServices {
    MainLoop& loop;
    OverlayWindowHost& host;
    const Screens& screens;
    PointerSource& pointer;
    Hotkeys& hotkeys;
    // The now-playing engine (every function set): the picture now, its one change listener (an empty
    // function clears it), the absolute and the keyboard seek, and the player commands.
    std::function<ProgressSnapshot()> snapshot;
    std::function<void(std::function<void(const ProgressSnapshot&)>)> setOnChange;
    std::function<void(double seconds, double settle)> seek;
    std::function<void(double step, double settle, double debounce)> keySeek;
    std::function<void(int number, const std::string& label)> sendCommand;
    // What the ink is chosen from: the colours sampled under the menu bar and the desktop's light or dark.
    MenuBarInkSources menuBar;
    // The desktop's double-click interval, in seconds.
    std::function<double()> doubleClickInterval;

    // The app's services: the shared engine, the sampler's colours and the desktop's appearance (if any).
    static ProgressBarServices make(MainLoop& loop, OverlayWindowHost& host, const Screens& screens,
                                    PointerSource& pointer, Hotkeys& hotkeys, MusicProgressEngine& engine,
                                    ScreenSampler& sampler, const DesktopAppearance* appearance);
};

class ProgressBarController {
public:
    // The hot keys' signature; their ids are 1 to 4 (back, forward, next track, previous track).
    static constexpr std::uint32_t hotKeySignature = fourCharCode("PROG");

    // Starts at once: builds the window (hidden), listens to the engine and the screens, and looks at the
    // engine's picture on the next turn of the loop.
    ProgressBarController(ProgressBarServices services, OverlaySettings& settings);
    ~ProgressBarController();
    ProgressBarController(const ProgressBarController&) = delete;
    ProgressBarController& operator=(const ProgressBarController&) = delete;

    // Ends everything: the tick, pending seeks and flashes, the hot keys and their handler, the engine's
    // listener, the window. Blocks queued before it find the controller stopped.
    void stop();
    // While the desktop overview shows the bar hides at once, disarmed; it fades back in afterwards.
    void setOverviewActive(bool active);
    bool overviewActive() const { return overviewActive_; }

    // ---- for diagnostics and tests ----
    const OverlayWindow* window() const { return window_.get(); }
    // What the window paints now.
    ProgressBarLook look() const;

private:
    // ---- display (ProgressBarController.cpp) ----
    ProgressSnapshot snapshot() const;
    void buildWindow();
    void screensChanged();
    void engineChanged();
    void tick();
    void updateTicking(const ProgressSnapshot& snap);
    void planWake();
    void wake();
    void layoutFill(bool scrubbing, double fraction);
    void stepFill();
    void updateBackdropLight();
    void refreshVisibility();
    void animateVisibility(bool show, bool fast, bool instant);
    void keepOnTop();
    void applyAutoHide(bool isPlaying, bool isValid, double duration);
    bool pointerInTopStrip() const;
    void lookChanged();
    void noteChange(const ProgressBarLook& now);
    std::vector<Rect> changedArea() const;

    // ---- input (ProgressBarInput.cpp) ----
    std::uint32_t requiredFlag() const;
    bool modifierHeld() const;
    void setArmed(bool armed);
    void applyArmed(bool armed);
    void disarm();
    void updateArmedState(bool isValid, double duration);
    void mouse(const OverlayMouseEvent& event);
    void mouseDown(const OverlayMouseEvent& event);
    void mouseDragged(const OverlayMouseEvent& event);
    void mouseUp(const OverlayMouseEvent& event);
    void scrollWheel(const OverlayMouseEvent& event);
    double fractionAt(double x) const;
    void cancelPendingSeek();
    void flash();
    void skipTrack(bool next);
    void clearSwipe();
    void updateHotKeys(bool canSeek);
    void registerHotKeys();
    void unregisterHotKeys();
    HotKeyStatus handleHotKey(const HotKeyID& id);

    ProgressBarServices services_;
    OverlaySettings& settings_;
    std::unique_ptr<OverlayWindow> window_;
    std::optional<ScreenInfo> builtFor_;  // the main screen the window was laid out on
    double backingScale_ = 1;
    std::uint64_t windowGeneration_ = 0;
    // One timer serves the tick and the fill's steps, so that a tick shares its wake-up with a step due
    // about then.
    Cancellable wake_;
    double wakeAt_ = 0;
    // The 0.1 s tick runs only while there is a track, the bar shows or something of the input side is in
    // progress.
    std::optional<double> tickDue_;
    std::optional<double> stepDue_;
    double lastStep_ = 0;
    std::vector<Subscription> subscriptions_;
    long tickCount_ = 0;
    double lastTick_ = 0;

    bool targetVisible_ = false;
    bool menuBarVisible_ = true;
    bool overviewActive_ = false;
    MenuBarLightness lightness_;
    bool backdropLight_ = false;
    double colorMix_ = 0;
    double huePhase_ = 0;

    // What the window paints, animated.
    FillGlide fill_;
    AnimatedValue<std::vector<Color>> fillStops_;
    std::optional<ProgressColorInput> fillColors_;  // what the stops were made from, the rainbow's turn aside
    AnimatedValue<double> line_;
    AnimatedValue<double> armedMix_;
    // What the window is to show, and where that differs from what it showed at its last paint.
    std::optional<ProgressBarLook> painted_;
    std::optional<Rect> changed_;
    double wholeFillWidth_ = 0;  // the fill's width when it was last painted all along

    // Input.
    bool seekArmed_ = false;
    bool scrubbing_ = false;
    double scrubFraction_ = 0;
    bool didDrag_ = false;
    double mouseDownX_ = 0;
    Cancellable pendingSeek_;
    std::optional<double> pendingSeekFraction_;
    Cancellable flashEnd_;
    std::vector<std::uint64_t> hotKeyRefs_;
    std::uint64_t hotKeyHandler_ = 0;
    bool hotKeysRegistered_ = false;
    std::string activeModifier_;
    double lastTrackSkip_;
    double swipeAccum_ = 0;
    bool swipeLatched_ = false;
    bool swipeActive_ = false;

    // Auto-hide.
    double pauseAnchor_ = 0;
    bool wasPlayingTick_ = false;
    bool lastValidTick_ = false;
    double lastDurationTick_ = 0;
    bool pausedHidden_ = false;

    bool stopped_ = false;
    Lifetime lifetime_;
};

}  // namespace velaro
