// The frame analysis of one capture stream: gates every frame (incomplete, frozen, another app's menu open,
// pointer resting in the bar), then derives the live line, 64 zone colours, the dominant and edge colours,
// the blurred backdrops and the beam colour, and hands each result to its callback. A stream sends a frame
// only when its strip changed, so the analysis asks for one more whenever it has something left to do with
// the strip as it stands: a frame a gate held back, a smoothing on its way, a blur owed, a forced publish.
#pragma once

#include <QImage>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/AppId.h"
#include "base/Color.h"
#include "base/Geometry.h"
#include "base/MainLoop.h"
#include "platform/CaptureFrame.h"
#include "platform/PointerSource.h"
#include "sampling/BlurredBackdrop.h"
#include "sampling/ImageRing.h"
#include "sampling/LiveLine.h"

namespace velaro {

// Everything below runs on the output's serial frame queue: frames arrive there, the settings operations
// must be queued there (async()), and the result callbacks are called there. The one exception is the
// pointer cache, which the main thread's pointer monitors write under a lock.
class FrameOutput {
public:
    static constexpr int kZoneCount = 64;

    using UnifiedBlur = velaro::UnifiedBlur;

    // Geometry and options of the current stream, replaced whole whenever the stream is configured.
    struct LineConfig {
        int generation = 0;          // handed back with every line image
        int edgeInsetPixels = 0;     // pixels at each end replaced by the nearest inner pixel
        double imagePointWidth = 0;  // width in points given to each LiveLine
        // Live capture is on: line images go out, and the tight colour tolerance holds.
        bool publishesImage = false;
        int lineRowY = 0;                        // pixel row of the frame that forms the line
        std::optional<UnifiedBlur> unifiedBlur;  // present when blurred backdrops are wanted
        bool lightReflections = false;           // beam sampling on
        int lightRowY = 0;                       // centre row of the beam sample band
        int lightBandHeightPx = 1;
        double scale = 1;               // pixels per point of the frame
        double displayWidthPoints = 0;  // the captured screen's width
        // The captured screen's top-left corner in top-left global points. The pointer is global, so it is
        // taken relative to this before it becomes a column of the frame or a height under the screen's top.
        Point displayOrigin;
        // Points below the screen's top between which the pointer keeps the beam alive.
        double beamActivationMinY = 0;
        double beamActivationMaxY = 0;
        double smoothingAlpha = 1;  // fraction of the gap to the raw colour closed per frame
    };

    // The values the sampler pushes in one block ("apply settings").
    struct Settings {
        double blurRadius = 12.0;
        bool smoothingEnabled = false;
        bool hoverGuardEnabled = true;
        bool overviewActive = false;
        bool externallyFrozen = false;
    };

    struct Dependencies {
        MainLoop* loop = nullptr;  // clock, and maker of the frame queue
        std::string queueLabel = VELARO_APP_ID ".frames";
        // Fresh pointer reads for the hover guard; without one the pointer is never inside the bar.
        const PointerSource* pointer = nullptr;
        // The window-list scan that tells whether another app's menu hangs from the bar; called on the
        // frame queue. Empty: never.
        std::function<bool()> isForeignMenuOpen;
    };

    explicit FrameOutput(Dependencies deps);
    ~FrameOutput();
    FrameOutput(const FrameOutput&) = delete;
    FrameOutput& operator=(const FrameOutput&) = delete;

    SerialQueue& queue() { return *queue_; }
    // Runs `block` on the frame queue with this output; safe from any thread. Blocks still queued when the
    // output is destroyed are dropped.
    void async(std::function<void(FrameOutput&)> block);
    // Queues a frame for analysis.
    void submit(CaptureFrame frame);

    // ---- result callbacks: install before frames flow, or from the frame queue; each may be empty ----
    std::function<void(const Color& color, double normalizedX)> onBeam;
    std::function<void(const BackdropImage& bar)> onBackdrop;
    std::function<void(const std::optional<BackdropImage>& left, const std::optional<BackdropImage>& right)>
        onCornerBackdrops;
    std::function<void(const LiveLine& line, int generation)> onLine;
    std::function<void(const Color& left, const Color& right)> onEdgeColors;
    std::function<void(const Color& dominant, const std::vector<Color>& zones)> onUpdate;
    std::function<void()> onForceUnfreeze;  // the watchdog broke a freeze
    std::function<void()> onActivityEnded;  // frames count again after another app's menu closed
    // Asks the stream for another frame though nothing may have changed (the stream's requestFrame).
    std::function<void()> onWantsFrame;
    // Told when the analysis starts or stops waiting for the pointer to move: a change is held back while
    // the pointer rests on the bar, and only a move can let it through. The pointer's moves are then to
    // reach setCachedPointer, each asking for a frame.
    std::function<void(bool waits)> onWaitsForPointer;

    // ---- on the frame queue ----
    // The per-frame algorithm; asks for another frame when it could not finish with this one.
    void receive(const CaptureFrame& frame);

    void applySettings(const Settings& settings);
    void setExternalFreeze(bool frozen);
    void unfreeze() { setExternalFreeze(false); }
    void setOverviewActive(bool active) { overviewActive_ = active; }
    void setHoverGuardEnabled(bool enabled) {
        hoverGuardEnabled_ = enabled;
        if (held_) askForFrame();  // the guard may be what held it
    }
    void forcePublish() {
        forcePublishNextFrame_ = true;
        askForFrame();
    }
    void forcePublish(bool snapSmoothing) {
        forcePublishNextFrame_ = true;
        snapSmoothingOnForcedPublish_ = snapSmoothing;
        askForFrame();
    }
    void resetPublishState();
    void holdBlurCommit() { backdrop_.holdCommit(); }
    void invalidateCaches();
    // Guard rectangles in top-left global points.
    void setGuardZones(std::vector<Rect> zones);
    void setLineConfig(LineConfig config);

    // ---- any thread ----
    // The pointer in global points (x as is, y in points below the primary screen's top), written by the
    // pointer monitors. A new position asks for a frame while the beam is sampled, which follows it, or
    // while a change waits for the pointer to leave the bar.
    void setCachedPointer(Point p);
    std::optional<Point> cachedPointer() const;

    // True when `location` (top-left global points) lies in one of the rectangles with their height grown
    // by `extraHeight`. False for no rectangles or no location.
    static bool pointerInGuardZones(const std::optional<Point>& location, const std::vector<Rect>& zones,
                                    double extraHeight);

    // ---- the pure steps, public for the sampler and for tests ----
    struct LineAnalysis {
        Color mean;
        std::vector<Color> zones;  // always kZoneCount
        Color left, right;
    };
    // Zones, mean and end colours of a row of RGBA bytes; false (and `out` untouched) for an empty row.
    static bool analyzeLine(const std::uint8_t* rgba, int width, LineAnalysis& out);
    // The beam colour under the pointer and its position across the screen (0…1), or nullopt.
    std::optional<std::pair<Color, double>> sampleBeamColor(const CaptureFrame& frame,
                                                            const LineConfig& config) const;

    // ---- the settings as they stand, which the sampler reads back when it changes one of them ----
    bool isExternallyFrozen() const { return externallyFrozen_; }
    bool smoothingEnabled() const { return smoothingEnabled_; }
    bool hoverGuardEnabled() const { return hoverGuardEnabled_; }
    bool overviewActive() const { return overviewActive_; }
    double blurRadius() const { return backdrop_.radius(); }

private:
    // The frame's time, read from the loop's clock when the gate first needs it: most frames never do.
    class FrameTime {
    public:
        explicit FrameTime(const MainLoop& loop) : loop_(loop) {}
        double operator()() {
            if (!now_) now_ = loop_.uptime();
            return *now_;
        }

    private:
        const MainLoop& loop_;
        std::optional<double> now_;
    };

    // The per-frame algorithm; true when a gate held the frame back.
    bool look(const CaptureFrame& frame);
    // Whether the frame just held back waits for the pointer alone: it rests on the bar, and no other gate
    // holds the frame.
    bool heldForPointer();
    void setWaitsForPointer(bool waits);
    // Whether the analysis has something left to do with the strip as it stands.
    bool wantsAnotherFrame() const;
    bool smoothingMoving(double tolerance) const;
    void askForFrame() {
        if (onWantsFrame) onWantsFrame();
    }
    // While a freeze holds a frame back, one ask when the watchdog may break it.
    void askWhenWatchdogDue();
    bool passesGate(const CaptureFrame& frame, FrameTime& now);
    // The hover guard's step: whether the pointer on the bar (or just leaving it) holds this frame back.
    bool hoverPauses(FrameTime& now);
    // Whether the frame comes within the first moments of a scene a publish was forced for, which pass the
    // hover guard.
    bool newSceneSettling(FrameTime& now) const;
    // Whether the pointer lies in the guard zones grown by `extraHeight`. The pointer is read from the
    // server at most once per frame (reads are round trips), and not at all without zones.
    bool pointerInZones(double extraHeight);
    // The cached pointer relative to the captured screen's top-left, when it keeps the beam alive.
    std::optional<Point> beamPointer(const LineConfig& config) const;
    // Where a frame's line comes from: its row, the pixels replaced at each end, the full width.
    struct LineSpan {
        int row = 0;
        int inset = 0;
        int width = 0;
    };
    // Nothing when the inner width is 100 pixels or less.
    static std::optional<LineSpan> lineSpan(const CaptureFrame& frame, int insetPixels, int rowY);
    // The RGBA line of `span.width` pixels from a BGRA row.
    static void writeLine(const std::uint8_t* row, const LineSpan& span, std::uint8_t* rgba);
    void analyse(const CaptureFrame& frame);

    MainLoop* loop_;
    const PointerSource* pointer_;
    std::function<bool()> isForeignMenuOpenScan_;

    std::optional<LineConfig> lineConfig_;

    mutable std::mutex pointerLock_;
    std::optional<Point> cachedPointer_;  // nullopt until first written: the beam is off
    // A pointer move's ask for a frame is queued and not yet run.
    std::atomic<bool> pointerAskQueued_{false};
    // The last frame was held back by a gate, and only a move of the pointer can let it through.
    bool held_ = false;
    bool waitsForPointer_ = false;
    // The freeze start a watchdog ask was queued for.
    std::optional<double> watchdogAskFor_;
    // The guard's reading of the pointer for the frame being looked at; absent until it is needed.
    std::optional<std::optional<Point>> framePointer_;

    BlurredBackdrop backdrop_;
    std::optional<Color> lastEdgeLeft_, lastEdgeRight_;

    bool externallyFrozen_ = false;
    bool overviewActive_ = false;
    int foreignMenuCheckCounter_ = 0;
    bool foreignMenuOpen_ = false;
    std::optional<double> activityResumeAfter_;  // frames wait until then after another app's menu closed
    bool notifyActivityEnded_ = false;
    std::optional<double> freezeStartTime_;

    bool hoverGuardEnabled_ = true;
    std::vector<Rect> menuBarGuardZones_;
    bool pointerInMenuBar_ = false;
    std::optional<double> pointerLeftZoneAt_;
    double lastPointerFlip_;  // far in the past until the first flip

    bool smoothingEnabled_ = false;
    std::optional<Color> lastPublished_;
    bool forcePublishNextFrame_ = false;
    bool snapSmoothingOnForcedPublish_ = false;
    std::optional<double> newSceneUntil_;  // frames pass the hover guard until then
    std::optional<Color> smoothedAverage_;
    std::vector<Color> smoothedZones_;  // empty: absent
    bool hasLastLine_ = false;          // the dedup key below is present
    // The last line written (in its ring image or in `lineBytes_`), which no one writes to until the next
    // line is: the dedup key.
    const std::uint8_t* lastLine_ = nullptr;
    int lastLineWidth_ = 0;
    std::optional<Color> lastRawDominant_;

    // Per-frame working space, sized once per stream geometry.
    std::vector<std::uint8_t> lineBytes_;  // the line when it is not published as an image
    LineAnalysis analysis_;
    std::vector<Color> outZones_;
    ImageRing lineImages_;

    std::unique_ptr<SerialQueue>
        queue_;  // last: destroyed first, so no block runs on a half-destroyed output
};

}  // namespace velaro
