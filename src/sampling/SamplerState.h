// What the screen sampler keeps behind its public surface, grouped by the concern that owns it: the stream
// reconcile, the settings pushed into every frame analysis, the filled-top watch, the refresh cycle, and the
// menu poll, slide gate, seam and freezes. Only src/sampling reads this.
#pragma once

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
#include "sampling/CaptureStreams.h"
#include "sampling/LiveLine.h"
#include "sampling/OwnMenuTracker.h"
#include "sampling/SamplerParts.h"
#include "sampling/StreamReconciler.h"

namespace velaro {

class ScreenChannel;
class ScreenSampler;

struct SamplerState {
    SamplerState(MainLoop& loop, ScreenSampler& sampler);

    // The stream reconcile: its decisions, one context per screen (the screens the decisions name), the
    // switches that shape the streams, and the counters the logs read.
    struct Streams {
        StreamReconciler reconciler;
        std::shared_ptr<StreamContext> primaryContext;
        std::map<ScreenID, std::shared_ptr<StreamContext>> contexts;
        std::map<ScreenID, std::shared_ptr<ScreenChannel>> channelsByScreen;
        bool masterEnabled = true;
        bool captureDemand = true;
        bool enabled = false;
        bool liveCaptureEnabled = false;
        int liveCaptureFPS = 15;
        bool blurCaptureEnabled = false;
        bool lightReflectionsEnabled = false;
        std::map<ScreenID, CaptureGeometry> captureGeometryByScreen;
        TopBlurGeometry topBlurGeometry;
        bool isReconciling = false;
        bool reconcileDirty = false;
        std::set<std::string> appliedSampleStop;
        bool isUpdatingFilter = false;
        std::int64_t contextsOpenedTotal = 0;
        std::optional<std::string> loggedDemandSignature;
        bool undemandedOpenLogged = false;
        Cancellable idleTeardownTimer;
        // Reads the pointer now and then while a frame analysis waits for it to leave the bar.
        Cancellable pointerPoll;
    } streams;

    // The settings every frame analysis gets, kept for the analyses of contexts made later.
    struct FrameSettings {
        bool smoothingEnabled = false;
        bool hoverGuardEnabled = true;
        double blurRadius = 12;
        bool overviewActive = false;
    } frames;

    // The filled-top watch: a window filling the top is confirmed after a short wait, and the colours a
    // screen showed before a capture stop come back when it ends.
    struct Filled {
        std::optional<bool> pending;
        Cancellable confirmTimer;
        double lastActivity = -std::numeric_limits<double>::infinity();  // uptime
        std::int64_t colorPublishSeq = 0;
        std::int64_t colorSeqAtFillStart = 0;
        std::int32_t lastResolvedPID = 0;
        std::optional<std::string> lastResolvedAppId;
        std::set<ScreenID> overlayHideScreens;
        struct LastGood {
            Color color;
            std::optional<LiveLine> line;
        };
        std::map<ScreenID, LastGood> lastGoodByScreen;
        // Uptimes until which the overlay snaps recolours and keeps its colour cache as it is.
        double recolorSnapUntil = 0;
        double cacheFreezeUntil = 0;
    } filled;

    // Who hears of the sampler's edges.
    struct Hooks {
        std::function<void()> menuBarActivityEnded;
        std::function<void(const std::optional<std::string>& ownerAppId)> ownerTick;
        std::function<void()> slideGateChanged;
    } hooks;

    // The refresh cycle: the poll and the delayed refreshes after events.
    struct Cycle {
        Cancellable pollTimer;
        // The poll's grid: a tick every 0.5 s from `anchor`, the uptime of its latest tick (or start).
        double anchor = 0;
        // Parked: the poll sleeps because a check could decide nothing new until an input changes. Every
        // park and resume moves `parkSeq`, so a wake meant for an earlier park does nothing.
        bool parked = false;
        std::uint64_t parkSeq = 0;
        // A resumed poll's first tick, at its place on the grid.
        Cancellable resumeTimer;
        std::map<std::uint64_t, Cancellable> delayed;
        std::uint64_t nextDelayed = 0;
        std::vector<Subscription> observers;
    } cycle;

    MenuPoll menuPoll;
    SlideGate slideGate;
    SeamHider seam;
    SamplingFreezes freezes;
    // Holds the "ownMenu" freeze; after the freezes it sets.
    OwnMenuTracker ownMenu;
};

}  // namespace velaro
