// The visualizer's frame loop and window over a running audio engine.
#pragma once

namespace velaro {

class MusicVisualizerAudioEngine;
class OverlaySettings;
class ScreenSampler;

class VizRenderController {
public:
    VizRenderController(MusicVisualizerAudioEngine& engine, ScreenSampler& sampler, OverlaySettings& settings)
        : engine_(engine), sampler_(sampler), settings_(settings) {}
    VizRenderController(const VizRenderController&) = delete;
    VizRenderController& operator=(const VizRenderController&) = delete;

    void stop() { stopped_ = true; }
    // The bars hide while the desktop overview shows.
    void setOverviewActive(bool active) { overviewActive_ = active; }

    bool isStopped() const { return stopped_; }
    bool overviewActive() const { return overviewActive_; }

private:
    [[maybe_unused]] MusicVisualizerAudioEngine& engine_;
    [[maybe_unused]] ScreenSampler& sampler_;
    [[maybe_unused]] OverlaySettings& settings_;
    bool stopped_ = false;
    bool overviewActive_ = false;
};

}  // namespace velaro
