// The now-playing progress bar over the shared engine.
#pragma once

namespace velaro {

class MusicProgressEngine;
class OverlaySettings;
class ScreenSampler;

class ProgressBarController {
public:
    ProgressBarController(MusicProgressEngine& engine, ScreenSampler& sampler, OverlaySettings& settings)
        : engine_(engine), sampler_(sampler), settings_(settings) {}
    ProgressBarController(const ProgressBarController&) = delete;
    ProgressBarController& operator=(const ProgressBarController&) = delete;

    // Removes the bar.
    void stop() { stopped_ = true; }
    // Disarms and hides the bar while the desktop overview shows.
    void setOverviewActive(bool active) { overviewActive_ = active; }

    bool isStopped() const { return stopped_; }
    bool overviewActive() const { return overviewActive_; }

private:
    [[maybe_unused]] MusicProgressEngine& engine_;
    [[maybe_unused]] ScreenSampler& sampler_;
    [[maybe_unused]] OverlaySettings& settings_;
    bool stopped_ = false;
    bool overviewActive_ = false;
};

}  // namespace velaro
