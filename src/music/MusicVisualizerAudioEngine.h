// The visualizer's system-audio engine: capture of the output, spectrum and bands. Until the capture is
// wired in it cannot start, which the shell reports as it reports a missing audio permission.
#pragma once

namespace velaro {

class MusicVisualizerAudioEngine {
public:
    MusicVisualizerAudioEngine() = default;
    virtual ~MusicVisualizerAudioEngine() = default;
    MusicVisualizerAudioEngine(const MusicVisualizerAudioEngine&) = delete;
    MusicVisualizerAudioEngine& operator=(const MusicVisualizerAudioEngine&) = delete;

    // Builds the capture and starts processing; `isRunning` stays false when that fails.
    virtual void start() {}
    // Tears everything down.
    virtual void stop() {}
    virtual bool isRunning() const { return false; }
};

}  // namespace velaro
