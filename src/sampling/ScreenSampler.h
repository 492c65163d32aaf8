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

namespace velaro {

class DefaultsStore;
class PointerSource;
class ScreenTopology;
class WindowListScans;
class Workspace;

// Screens are keyed by their stable identifier (`ScreenInfo::id`).
using ScreenID = std::string;

class ScreenSampler {
public:
    using TopBlurGeometry = velaro::TopBlurGeometry;
    using CaptureGeometry = velaro::CaptureGeometry;

    // One screen's published copies; every value starts absent and is absent until that screen produced it.
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

    struct Services {
        MainLoop& loop;
        CaptureService& capture;
        Screens& screens;
        ScreenTopology& topology;
        WindowListScans& scans;
        const DefaultsStore& defaults;
        Workspace& workspace;
        PointerSource& pointer;
        // Our own application identifier as the capture service names it.
        std::optional<std::string> ownBundleIdentifier = std::string("com.quornet.Velaro");
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
    Published<std::optional<std::string>> filledOwnerBundleID;
    Published<bool> excludedAppCovering{false};
    Published<std::set<ScreenID>> captureStopScreens;
    Published<bool> isSamplingFrozen{false};
    Published<bool> screensAsleep{false};
    Published<bool> seamSuppressed{false};
    Published<std::int64_t> colorPulse{0};

private:
    // Declared before the members below that refer into it.
    PointerBand pointerBand_;

public:
    Published<bool>& pointerInBeamBand;
    double& beamBandMenuBarHeight;

    // ---- plain fields ----
    std::map<ScreenID, std::shared_ptr<ScreenChannel>> channelsByScreen;
    std::shared_ptr<StreamContext> primaryContext;
    std::map<ScreenID, std::shared_ptr<StreamContext>> contexts;
    bool masterEnabled = true;
    bool captureDemand = true;
    bool enabled = false;
    bool liveCaptureEnabled = false;
    int liveCaptureFPS = 15;
    bool blurCaptureEnabled = false;
    bool lightReflectionsEnabled = false;
    bool lastSmoothingEnabled = false;
    bool lastHoverGuardEnabled = true;
    double lastBlurRadius = 12;
    bool lastOverviewActive = false;
    std::map<ScreenID, CaptureGeometry> captureGeometryByScreen;
    TopBlurGeometry topBlurGeometry;
    double recolorSnapUntil = 0;
    double cacheFreezeUntil = 0;
    std::int64_t colorPublishSeq = 0;
    std::int64_t colorSeqAtFillStart = 0;
    std::set<std::string> freezeReasons;
    std::function<void()> onMenuBarActivityEnded;
    std::function<void(const std::optional<std::string>& ownerBundleID)> onOwnerTick;
    std::function<void()> onSlideGateChanged;
    bool isReconciling = false;
    bool reconcileDirty = false;
    std::optional<bool> pendingFilledState;
    double lastFilledActivity = -std::numeric_limits<double>::infinity();  // uptime
    std::int32_t lastResolvedPID = 0;
    std::optional<std::string> lastResolvedBundleID;
    std::set<ScreenID> overlayHideScreens;
    struct LastGood {
        Color color;
        std::optional<LiveLine> line;
    };
    std::map<ScreenID, LastGood> lastGoodByScreen;
    bool glassSurfaceOverTopStrip = false;
    bool pollMenuOpen = false, pollNotifyPending = false, pollResyncDone = false, pollSawOpen = false;
    double pollResumeAfter = 0, pollOwnedSince = 0;
    std::set<std::string> appliedSampleStop;
    bool isUpdatingFilter = false;
    bool isSlideGateOpen = false;
    std::int64_t slideGateGeneration = 0;
    bool slideSignatureDistrusted = false;
    std::map<std::int64_t, double> slidePrevMinX;
    bool slideGateCloseNotifyPending = false;
    std::int64_t contextsOpenedTotal = 0, contextsClosedTotal = 0, streamStartsTotal = 0,
                 reconcilePassesTotal = 0;
    std::optional<std::string> loggedDemandSignature;
    bool undemandedOpenLogged = false;

    // Timers; an inactive handle means none is scheduled.
    Cancellable pollTimer, filledConfirmTimer, seamReleaseTimer, idleTeardownTimer;

    // ---- the sampler's operations (main thread) ----
    void setOverviewActive(bool active);
    void setSmoothingEnabled(bool on);
    void setHoverGuardEnabled(bool on);
    void setBlurRadius(double radius);
    void forcePublishNextFrame(bool snapSmoothing);
    // Replaces the geometry map and restarts only the streams whose geometry changed.
    void setCaptureGeometry(std::map<ScreenID, CaptureGeometry> geometry);
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
    bool isEnabled() const { return enabled; }
    void reconcile();
    bool hasActiveStream() const;
    std::shared_ptr<ScreenChannel> liveContextScreenValue();
    void clearBlurredBackdrops();
    void clearBlurredCorners(bool left, bool right);
    void clearLiveLines();
    void clearChannel(const ScreenID& screen);
    void pruneScreens(const std::set<ScreenID>& keeping);
    void stopAllStreams();
    void startPollTimer();
    void stopPollTimer();
    void wireCallbacks(const std::shared_ptr<StreamContext>& context);
    void publishDominant(const Color& color, StreamContext* from);
    void setFreeze(bool on, const std::string& reason);

    // Another app's menu hangs from the main screen's bar (a fresh window-list read).
    bool isForeignMenuOpen() const;
    // The vivid-weighted average colour of an image; nullopt for an empty one. Any thread.
    static std::optional<Color> averageColor(const QImage& image);
    static Color vividBeamColor(const Color& color);

    // ---- capture streams ----
    bool shouldCapture() const;
    bool wantsCapture(const ScreenID& screen) const;
    void reconcilePass();
    std::shared_ptr<StreamContext> makeContext(const ScreenInfo& screen);
    void applyCaptureGeometry(StreamContext& context, const ScreenID& screen);
    void startStream(const ScreenInfo& screen, const std::shared_ptr<StreamContext>& context);
    ContentFilter makeContentFilter(const ShareableContent& content, const CaptureDisplay& display);
    void stopStream(StreamContext& context);
    bool isAnyStreamConfiguring() const;
    bool needsStreamRestart() const;
    void handleStreamStopped(const CaptureStream* stream);
    void idleTeardownFired();
    void openSlideGate();
    void slideGateTimedOut(std::int64_t generation);

    // ---- refresh and freezes ----
    // The context cycle: runs every 0.5 s and after every event that can change what lies under the bar.
    void refresh();
    bool isFilledNow();
    void confirmPendingFilledState();
    std::optional<std::string> bundleIdentifier(std::int32_t pid);
    // Rebuilds the running streams' filters after the sample-stop set changed.
    void updateContentFilters();
    void notifyMenuBarActivityEnded(double after);
    void scheduleIdleTeardown();
    // The pointer's side of the beam: watched only while light reflections and the master switch are on.
    void installPointerMonitors() { pointerBand_.installPointerMonitors(); }
    void removePointerMonitors() { pointerBand_.removePointerMonitors(); }
    void updatePointerInBeamBand() { pointerBand_.updatePointerInBeamBand(); }
    // Seeds every frame analysis with the pointer; the y in points below the first screen's top.
    double cachePointerPosition() { return pointerBand_.cachePointerPosition(); }

    MainLoop& loop() const { return services_.loop; }

private:
    // Runs `block` after `seconds` unless the sampler is gone by then.
    void after(double seconds, std::function<void()> block);
    // Runs `block` on a later turn of the main loop unless the sampler is gone by then.
    void later(std::function<void()> block);
    // The primary context, then every other context.
    std::vector<std::shared_ptr<StreamContext>> allContexts() const;
    void forEachFrameOutput(const std::function<void(FrameOutput&)>& block) const;
    void bumpConfigGenerations();
    std::shared_ptr<ScreenChannel> channelFor(StreamContext& context);
    bool isLive(const StreamContext& context) const { return !context.retired && context.stream != nullptr; }
    bool isCurrent(const ScreenID& screen, const std::shared_ptr<StreamContext>& context) const;
    void dominantColorDidSet(const Color& color);
    void updateUndemandedLog();
    void continueStart(const ScreenID& screen, const std::shared_ptr<StreamContext>& context,
                       std::int64_t generation, const ShareableContent& content);
    void finishStart(const ScreenID& screen, const std::shared_ptr<StreamContext>& context,
                     std::int64_t generation, std::shared_ptr<CaptureStream> stream,
                     std::optional<CaptureError> error);
    void applyFiltersTo(const ShareableContent& content);
    void failFilterUpdate();
    void registerObservers();
    void handleScreenParametersChanged();
    std::shared_ptr<FrameOutput> makeFrameOutput(const std::string& label);
    std::optional<ScreenInfo> screenNamed(const ScreenID& id) const;
    std::set<std::string> storedSampleStop() const;

    Services services_;
    Lifetime lifetime_;
    std::map<std::uint64_t, Cancellable> delayed_;
    std::uint64_t nextDelayed_ = 0;
    Cancellable slideGateTimer_;
    std::vector<Subscription> observers_;
};

}  // namespace velaro
