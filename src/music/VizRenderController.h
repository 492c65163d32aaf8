// The visualizer on the main loop: its window and renderer, a display link that runs the frame step, and a
// 0.25 s tick that decides whether music plays and takes the colour and style settings. It shows only while
// music plays, the menu bar is on screen and the desktop overview is not showing.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "base/Cancellable.h"
#include "base/Color.h"
#include "base/Lifetime.h"
#include "base/Published.h"
#include "music/MenuBarBackdrop.h"
#include "music/VizBarWindow.h"
#include "music/VizFrameStep.h"

namespace velaro {

class DisplayLink;
class MainLoop;
class MusicProgressEngine;
class MusicVisualizerAudioEngine;
class OverlaySettings;
class OverlayWindow;
class OverlayWindowHost;
class ScreenSampler;
class Screens;

using VizRendererFactory =
    std::function<std::unique_ptr<VizRenderer>(OverlayWindow& window, const std::vector<VizBarSlot>& bars)>;

struct VizRenderServices {
    MainLoop& loop;
    OverlayWindowHost& host;
    const Screens& screens;
    // The newest band levels; the span stays valid until the next call.
    std::function<std::span<const float>()> bands;
    // Tells the analysis how often the frames read the bands (seconds); nothing when empty.
    std::function<void(double)> bandsReadInterval;
    // What the ink is chosen from: the colours sampled under the bars and the desktop's light or dark.
    MenuBarInkSources menuBar;
    // The playing track's cover colour, when there is one; the picked colour stands in for it otherwise.
    std::function<std::optional<Color>()> artworkColor;
    // Builds the GPU side for the window and bar layout; the OpenGL renderer when empty.
    VizRendererFactory makeRenderer;
    // Which path draws, asked once with the first GL-surface window; the GPU path when empty. On the raster
    // path the window is a painted one and the CPU renderer draws it.
    std::function<VizRenderPath(OverlayWindow& glWindow)> renderPath;

    // The app's services: the engine's bands, the sampler's colours, the desktop's appearance (if any), the
    // now-playing engine's cover colour (if it is built), the window host and the screens.
    static VizRenderServices make(MainLoop& loop, OverlayWindowHost& host, const Screens& screens,
                                  MusicVisualizerAudioEngine& engine, ScreenSampler& sampler,
                                  const DesktopAppearance* appearance, MusicProgressEngine* nowPlaying);
};

class VizRenderController {
public:
    // Starts at once: builds the window and renderer, paused, and subscribes to the settings and screens.
    VizRenderController(VizRenderServices services, OverlaySettings& settings);
    ~VizRenderController();
    VizRenderController(const VizRenderController&) = delete;
    VizRenderController& operator=(const VizRenderController&) = delete;

    // (Re)builds the display side: window, bar layout, renderer and a paused display link; the fade starts
    // over. Nothing without a main screen, a compositor or a renderer: the visualizer stays dark.
    void start();
    // Ends everything: link, tick, subscriptions, window and renderer.
    void stop();
    // The bars hide at once while the desktop overview shows, and no fade resumes while it lasts.
    void setOverviewActive(bool active);
    bool overviewActive() const { return overviewActive_; }

    // For diagnostics and tests.
    const OverlayWindow* window() const { return window_.get(); }

private:
    void tick();
    void frame(double timestamp);
    // Whether a frame now would show what the last one drawn showed: the same bands, the same fade, and
    // either the bands came in since that frame was drawn or the picture stands still.
    bool frameWouldRepeat(double timestamp, double alpha, std::span<const float> bands) const;
    void updateVisibility();
    void hideForOverview();
    void keepAbove();
    void updateInk();
    void takeSettings();
    VizStepSettings stepSettings() const;

    VizRenderServices services_;
    OverlaySettings& settings_;
    std::unique_ptr<OverlayWindow> window_;
    std::unique_ptr<VizRenderer> renderer_;  // after the window: it draws into the window's surface
    std::unique_ptr<DisplayLink> displayLink_;
    Cancellable tickTimer_;
    std::vector<Subscription> subscriptions_;
    VizFrameStep step_;
    MenuBarLightness lightness_;

    bool musicActive_ = false;
    double silenceAccum_ = 0;
    std::array<float, kVizBandCount> lastSnapshot_{};
    std::size_t lastSnapshotSize_ = 0;
    double lastSnapshotChange_ = -1e300;
    bool menuBarVisible_ = true;
    bool overviewActive_ = false;
    bool targetVisible_ = false;
    double alpha_ = 0;
    double fadeRate_ = 0;
    VizStyle styleActive_ = VizStyle::bars;
    double backingScale_ = 2.0;
    std::optional<double> lastFrameTime_;  // the last frame drawn
    std::optional<double> lastCallback_;   // the last display-link frame, drawn or left out
    std::optional<VizRenderPath> path_;  // chosen at the first start that made a window
    std::array<float, kVizBandCount> drawnBands_{};
    std::size_t drawnBandCount_ = 0;
    VizWindowUnavailable unavailable_ = VizWindowUnavailable::none;
    bool saidWhy_ = false;
    bool stopped_ = false;
    Lifetime lifetime_;
};

}  // namespace velaro
