// The live colour source: one capture stream per screen, the frame results published per screen
// (`ScreenSampler::ScreenChannel`) and as the primary screen's own copies, and the context state that decides
// when and where the strip is captured.
#pragma once

#include <QImage>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/AppId.h"
#include "base/Cancellable.h"
#include "base/Color.h"
#include "base/Lifetime.h"
#include "base/MainLoop.h"
#include "base/Published.h"
#include "platform/CaptureService.h"
#include "platform/Screens.h"
#include "sampling/BlurredBackdrop.h"
#include "sampling/CaptureStreams.h"
#include "sampling/FrameOutput.h"
#include "sampling/LiveLine.h"
#include "sampling/PointerBand.h"
#include "sampling/StreamReconciler.h"

namespace velaro {

class DefaultsStore;
class MenuTracking;
class PointerSource;
class ScreenTopology;
class WindowListScans;
class Workspace;
struct SamplerState;

// One screen's published copies (`ScreenSampler::ScreenChannel`); every value starts absent and is absent
// until that screen produced it.
class ScreenChannel {
public:
    Published<std::optional<Color>> dominantColor;
    Published<std::optional<std::vector<Color>>> zoneColors;
    Published<std::optional<LiveLine>> liveLine;
    Published<std::optional<BackdropImage>> blurredBackdropImage;
    Published<std::optional<Color>> liveLeftCornerColor;
    Published<std::optional<Color>> liveRightCornerColor;
    Published<std::optional<BackdropImage>> blurredTopLeftCorner;
    Published<std::optional<BackdropImage>> blurredTopRightCorner;
};

class ScreenSampler {
public:
    using TopBlurGeometry = velaro::TopBlurGeometry;
    using CaptureGeometry = velaro::CaptureGeometry;

    using ScreenChannel = velaro::ScreenChannel;

    struct Services {
        MainLoop& loop;
        CaptureService& capture;
        Screens& screens;
        ScreenTopology& topology;
        WindowListScans& scans;
        const DefaultsStore& defaults;
        Workspace& workspace;
        PointerSource& pointer;
        // Our own menus opening and closing: the strip is not sampled while one of them hangs over it.
        MenuTracking& menus;
        // Our own application identifier as the capture service names it.
        std::optional<std::string> ownAppId = std::string(velaroAppId);
    };

    explicit ScreenSampler(Services services);
    ~ScreenSampler();
    ScreenSampler(const ScreenSampler&) = delete;
    ScreenSampler& operator=(const ScreenSampler&) = delete;

    // ---- published values (main thread) ----
    Published<Color> dominantColor{Color::black()};
    Published<bool> strokeInkIsDark{false};
    Published<std::vector<Color>> zoneColors;
    Published<std::optional<LiveLine>> liveLine;
    Published<std::optional<BackdropImage>> blurredBackdropImage;
    Published<std::optional<BackdropImage>> blurredTopLeftCorner;
    Published<std::optional<BackdropImage>> blurredTopRightCorner;
    Published<Color> liveLeftCornerColor{Color::black()};
    Published<Color> liveRightCornerColor{Color::black()};
    Published<Color> beamColor{Color::clear()};
    Published<Color> beamVividColor{Color::white()};
    Published<double> beamNormalizedX{0.5};
    Published<bool> isFilledWindowActive{false};
    Published<std::optional<std::string>> filledOwnerAppId;
    Published<bool> excludedAppCovering{false};
    Published<std::set<ScreenID>> captureStopScreens;
    Published<bool> isSamplingFrozen{false};
    Published<bool> screensAsleep{false};
    Published<bool> seamSuppressed{false};
    Published<std::int64_t> colorPulse{0};

private:
    // The pointer's side of the beam, watched only while light reflections and the master switch are on.
    // Declared before the published value below that refers into it.
    PointerBand pointerBand_;

public:
    // Whether the pointer is in the band under the bar where the beam follows it.
    Published<bool>& pointerInBeamBand;

    // ---- what the sampler tells (main thread) ----
    bool isEnabled() const;
    bool hasActiveStream() const;
    // Open while the desktop slides to another workspace.
    bool isSlideGateOpen() const;
    // A filled-top sighting waiting for its confirmation, if any.
    std::optional<bool> pendingFilledState() const;
    // Counts the primary screen's colour publications.
    std::int64_t colorPublishSeq() const;
    // A colour was published since the current fill began.
    bool colorPublishedSinceFillStart() const;
    // Uptime until which the overlay snaps recolours instead of animating them.
    const double& recolorSnapUntil() const;
    // Uptime until which the overlay keeps its per-app colour cache as it is.
    double colorCacheFrozenUntil() const;
    // One screen's channel, made on first ask.
    std::shared_ptr<ScreenChannel> channel(const ScreenID& screen);
    // The channel of the screen that feeds the primary values, if it is still listed.
    std::shared_ptr<ScreenChannel> liveContextScreenValue();
    // Another app's menu hangs from the main screen's bar (a fresh window-list read).
    bool isForeignMenuOpen() const;
    // The vivid-weighted average colour of an image; nullopt for an empty one. Any thread.
    static std::optional<Color> averageColor(const QImage& image);
    static Color vividBeamColor(const Color& color);
    MainLoop& loop() const { return services_.loop; }

    // ---- what others ask of it (main thread) ----
    // The context cycle: runs every 0.5 s and after every event that can change what lies under the bar.
    void refresh();
    // The switches that shape the streams; each restarts the running streams only when its value changes.
    void setLiveCaptureEnabled(bool enabled);
    void setLiveCaptureFPS(int fps);
    void setBlurCaptureEnabled(bool enabled);
    void setLightReflectionsEnabled(bool enabled);
    // The master switch: off stops the poll and every stream; on resumes them with a fresh refresh.
    void setMasterEnabled(bool enabled);
    // Whether any feature wants the live colour now; without demand no stream runs.
    void setCaptureDemand(bool demand);
    // Capture may start once the app watcher knows the front app; reconciles the streams.
    void enable();
    void setOverviewActive(bool active);
    void setSmoothingEnabled(bool on);
    void setHoverGuardEnabled(bool on);
    void setBlurRadius(double radius);
    // Replaces the geometry map and restarts only the streams whose geometry changed.
    void setCaptureGeometry(std::map<ScreenID, CaptureGeometry> geometry);
    // The blurred bar's height and ear radii; blurred ears whose radius went to zero are dropped.
    void setTopBlurGeometry(const TopBlurGeometry& geometry);
    // The bar height of the main screen, for the beam's band.
    void setBeamBandMenuBarHeight(double height);
    void forcePublishNextFrame(bool snapSmoothing);
    void snapRecolorsUntil(double uptime);
    void freezeColorCacheUntil(double uptime);
    void clearBlurredBackdrops();
    void clearBlurredCorners(bool left, bool right);

    // Who hears of the sampler's edges: the end of another app's menu activity, every refresh's owner of
    // the filled top, and the slide gate opening or closing.
    void setOnMenuBarActivityEnded(std::function<void()> handler);
    void setOnOwnerTick(std::function<void(const std::optional<std::string>& ownerAppId)> handler);
    void setOnSlideGateChanged(std::function<void()> handler);

private:
    friend struct SamplerState;
    using State = SamplerState;

    // ---- capture streams ----
    // What the reconciler weighs now.
    CaptureWish captureWish() const;
    bool shouldCapture() const;
    bool wantsCapture(const ScreenID& screen) const;
    void reconcile();
    void reconcilePass();
    std::shared_ptr<StreamContext> makeContext(const ScreenInfo& screen);
    void applyCaptureGeometry(StreamContext& context, const ScreenID& screen);
    void startStream(const ScreenInfo& screen, const std::shared_ptr<StreamContext>& context);
    ContentFilter makeContentFilter(const ShareableContent& content, const CaptureDisplay& display);
    void stopStream(StreamContext& context);
    // Watches the pointer while the beam shows or a frame analysis of a running stream waits for it.
    void followPointer();
    void stopAllStreams();
    bool isAnyStreamConfiguring() const;
    bool needsStreamRestart() const;
    void handleStreamStopped(const CaptureStream* stream);
    void scheduleIdleTeardown(double delay);
    void idleTeardownFired();
    void continueStart(const ScreenID& screen, const std::shared_ptr<StreamContext>& context,
                       std::int64_t generation, const ShareableContent& content);
    void finishStart(const ScreenID& screen, const std::shared_ptr<StreamContext>& context,
                     std::int64_t generation, std::shared_ptr<CaptureStream> stream,
                     std::optional<CaptureError> error);
    void updateUndemandedLog();
    // The primary context, then every other context.
    std::vector<std::shared_ptr<StreamContext>> allContexts() const;
    void forEachFrameOutput(const std::function<void(FrameOutput&)>& block) const;
    void bumpConfigGenerations();
    bool isLive(const StreamContext& context) const { return !context.retired && context.stream != nullptr; }
    bool isCurrent(const ScreenID& screen, const std::shared_ptr<StreamContext>& context) const;
    std::shared_ptr<FrameOutput> makeFrameOutput(const std::string& label);
    std::optional<ScreenInfo> screenNamed(const ScreenID& id) const;

    // ---- publishing ----
    void wireCallbacks(const std::shared_ptr<StreamContext>& context);
    void publishDominant(const Color& color, StreamContext* from);
    void dominantColorDidSet(const Color& color);
    std::shared_ptr<ScreenChannel> channelFor(StreamContext& context);
    void clearLiveLines();
    void clearChannel(const ScreenID& screen);
    void pruneScreens(const std::set<ScreenID>& keeping);

    // ---- refresh ----
    void startPollTimer();
    void stopPollTimer();
    void pollTick();
    // The poll parks after a check that a repeat at the same inputs would leave as it is, and resumes on
    // its grid when an input changes (or the sampler's own state leaves the plainly idle one).
    bool canParkPoll() const;
    void settlePoll(bool scanSettled);
    void parkPoll();
    void resumePoll(double changedAt);
    void stopParking();
    bool isFilledNow();
    void confirmPendingFilledState();
    std::optional<std::string> appIdOf(std::int32_t pid);
    // Rebuilds the running streams' filters after the sample-stop set changed.
    void updateContentFilters();
    void applyFiltersTo(const ShareableContent& content);
    void failFilterUpdate();
    void notifyMenuBarActivityEnded(double after);
    void announceSlideGate();
    std::set<std::string> storedSampleStop() const;
    void registerObservers();
    void handleScreenParametersChanged();
    // Runs `block` after `seconds` unless the sampler is gone by then.
    void after(double seconds, std::function<void()> block);
    // Runs `block` on a later turn of the main loop unless the sampler is gone by then.
    void later(std::function<void()> block);

    Services services_;
    std::unique_ptr<State> state_;
    Lifetime lifetime_;
};

}  // namespace velaro
