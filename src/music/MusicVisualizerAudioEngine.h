// The visualizer's system-audio engine: captures what the computer plays, feeds it to the band analysis,
// and rebuilds the capture when the default output changes or the analysis finds it has gone silent. An
// output that plays nothing, or no output at all, is a wait, not a failure. Main thread: start, stop, set-up
// and rebuild; the capture's thread only ingests and says whether the output plays.
#pragma once

#include <functional>
#include <memory>

#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "music/VizAudioCore.h"

namespace velaro {

class AudioCapture;
class MainLoop;

class MusicVisualizerAudioEngine {
public:
    // Several output changes within this many seconds rebuild the capture once, after the last.
    static constexpr double outputChangeDebounce = 0.5;

    // `logSummaries` also prints the analysis' once-a-second summary line (for debugging); its health
    // lines always print.
    MusicVisualizerAudioEngine(MainLoop& loop, std::unique_ptr<AudioCapture> capture,
                               bool logSummaries = false);
    // Stops first: no block reaches the analysis, and no analysis runs, once its buffers go.
    ~MusicVisualizerAudioEngine();
    MusicVisualizerAudioEngine(const MusicVisualizerAudioEngine&) = delete;
    MusicVisualizerAudioEngine& operator=(const MusicVisualizerAudioEngine&) = delete;

    // Sets up the capture and starts the analysis; `isRunning` answers at once whether that worked. Does
    // nothing while running.
    void start();
    // Ends capture and analysis; the engine can be started again.
    void stop();
    bool isRunning() const { return running_; }

    // The newest 64 band levels in the analysis' raw units (all zeros before the first analysis). Read by
    // the visualizer's frame loop on the main thread.
    VizBands latestBands() { return core_.latestBands(); }
    // How often the frame loop reads the bands: the analysis makes about one set a read, no more.
    void setBandsReadInterval(double seconds) { core_.setReadInterval(seconds); }
    // Called on the main thread when the engine stopped by itself: a rebuild could not set the capture up
    // again. The engine is not running by then; the owner may drop it on a later turn.
    void setOnFailure(std::function<void()> handler) { onFailure_ = std::move(handler); }

private:
    bool setup();
    void rebuild();
    void listenForOutputChanges();
    void stopListening();

    MainLoop& loop_;
    std::unique_ptr<AudioCapture> capture_;
    VizAudioCore core_;
    bool running_ = false;
    std::function<void()> onFailure_;
    Cancellable rebuildDebounce_;
    Lifetime lifetime_;
};

}  // namespace velaro
