// One screen's capture record (`StreamContext`) and the pure rules that turn the sampler's switches and a
// screen's capture geometry into a stream configuration and the frame analysis's line configuration.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "base/MainLoop.h"
#include "platform/CaptureService.h"
#include "platform/Screens.h"
#include "sampling/FrameOutput.h"
#include "sampling/StreamReconciler.h"

namespace velaro {

// Per-screen capture geometry in points, set by the overlay: where the captured strip begins below the
// screen's top, and the bar and corner sizes of the blurred backdrops.
struct TopBlurGeometry {
    double overlayHeight = 24;
    double leftCornerRadius = 0;
    double rightCornerRadius = 0;
    friend bool operator==(const TopBlurGeometry&, const TopBlurGeometry&) = default;
};

struct CaptureGeometry {
    double captureHeight = 0;
    TopBlurGeometry topBlur;
    friend bool operator==(const CaptureGeometry&, const CaptureGeometry&) = default;
};

// The results of one frame, gathered on the frame queue while the frame is analysed and handed to the main
// loop as one block, in the order they were made: however many values a frame changes (line, edge colours,
// dominant colour, backdrops, beam), it wakes the main thread once. A result made outside a frame goes out
// on its own. Touched only from the frame queue.
class FrameResultBatch {
public:
    explicit FrameResultBatch(MainLoop& loop) : loop_(loop) {}
    FrameResultBatch(const FrameResultBatch&) = delete;
    FrameResultBatch& operator=(const FrameResultBatch&) = delete;

    void add(std::function<void()> block);
    // Runs `analyse` (which adds the frame's results), then posts what it added.
    void runFrame(const std::function<void()>& analyse);

private:
    MainLoop& loop_;
    bool inFrame_ = false;
    std::vector<std::function<void()>> pending_;
};

// One captured screen: its stream, its frame analysis (which owns the serial frame queue), the start flags
// and the generations that tell stale asynchronous results from current ones. Main thread only; the frame
// analysis itself is touched only through blocks queued on its queue.
class StreamContext {
public:
    // `output` is the frame analysis of this context, made with the queue label of the context.
    explicit StreamContext(std::shared_ptr<FrameOutput> output);

    // The running stream; set only once its capture has started.
    std::shared_ptr<CaptureStream> stream;
    std::shared_ptr<FrameOutput> frameOutput;
    // Gathers the frame analysis's results per frame; shared with the stream's frame handler.
    std::shared_ptr<FrameResultBatch> frameResults;
    bool isConfiguringStream = false;
    // This context's results also feed the sampler's own (primary) published values.
    bool feedsSingular = false;
    // Its frame analysis holds a change back until the pointer leaves the bar, so the pointer is watched.
    bool waitsForPointer = false;
    // The screen the last start matched to a display.
    std::optional<ScreenInfo> capturedScreen;
    // The screen has gone; the context must not start again.
    bool retired = false;
    // Stamp of the capture settings; a start that began under another stamp is stale.
    std::int64_t configGeneration = 0;
    // Counter of line configurations made for this context; lines of older ones are dropped.
    int lineConfigGeneration = 0;
    double lastStartAttempt = -std::numeric_limits<double>::infinity();
    std::optional<CaptureGeometry> geometry;
    // What the reconciler weighs of this context's stream.
    StreamFacts facts() const {
        return {stream != nullptr, isConfiguringStream, geometry.has_value(), lastStartAttempt};
    }

    // Log-once flags; nothing depends on them.
    bool geometryMissingLogged = false;
    bool channelMissingLogged = false;
    bool displayMissLogged = false;
};

// The switches of the sampler and the screen facts a stream configuration is computed from.
struct StreamPlanInput {
    double displayWidth = 0;   // W, points
    double displayHeight = 0;  // H, points
    Point displayOrigin;       // top-left global points
    CaptureGeometry geometry;
    bool liveCaptureEnabled = false;
    int liveCaptureFPS = 15;
    bool blurCaptureEnabled = false;
    bool lightReflectionsEnabled = false;
    double backingScale = 1;  // of the captured screen
    double cornerRadius = 0;  // of the captured screen's display
};

struct StreamPlan {
    Rect sourceRect;  // points, origin at the display's top-left
    int width = 1;    // pixels
    int height = 1;
    int framesPerSecond = 15;
    // Everything but `generation`, which the context stamps.
    FrameOutput::LineConfig lineConfig;

    StreamConfiguration configuration() const;
};

// The strip a stream captures and how its frames are analysed.
StreamPlan planStream(const StreamPlanInput& in);

// The frames a stream asks for: the live-capture rate, else 15 a second. A rate below 1 (unset, or
// garbage from the store) would make the frame interval infinite or negative, so it counts as 1.
int streamFramesPerSecond(bool liveCaptureEnabled, int liveCaptureFPS);

// Rectangles in top-left global points where the pointer counts as resting in a menu bar: each screen's
// bar and 4 pt under it, measured from the first screen's top edge.
std::vector<Rect> menuBarGuardZones(const std::vector<ScreenInfo>& screens, double statusBarThickness);

// The content filter of a stream on `display`, and the sample-stop apps it really leaves out.
struct ContentFilterChoice {
    ContentFilter filter;
    std::set<std::string> appliedSampleStop;
};

// Leaves out our own windows and the windows of the apps in `sampleStop`, so the colour comes from what lies
// beneath them. Our app is left out by its process even while it has no window in the content yet; only
// without an identifier for it are its windows left out one by one. The sample-stop apps are left out in
// every case, and only those actually found count as applied, so an app that is not running yet is tried
// again by the next filter check.
ContentFilterChoice makeContentFilter(const ShareableContent& content, const CaptureDisplay& display,
                                      const std::optional<std::string>& ownAppId, std::int64_t ownProcessID,
                                      const std::set<std::string>& sampleStop);

}  // namespace velaro
