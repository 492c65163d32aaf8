// The frame analysis of one capture stream.
#include "sampling/FrameOutput.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "sampling/LightReflections.h"
#include "sampling/LineKernels.h"

namespace velaro {

namespace {

// Colour tolerances: live capture paints the line itself, so even small moves of the dominant colour must
// reach the bar; without it a coarser step avoids repainting for noise.
constexpr double kLiveTolerance = 0.004;
constexpr double kStillTolerance = 0.02;
constexpr double kEdgeTolerance = 0.004;
// A freeze nobody can explain after this long is taken to be stuck and is broken.
constexpr double kFreezeWatchdogSeconds = 10.0;
constexpr double kWatchdogAskMargin = 0.05;
constexpr int kForeignMenuScanEvery = 10;
// After another app's menu closes, the bar shows the menu's fade-out for a moment: wait it out.
constexpr double kResumeAfterMenuSeconds = 0.4;
// The hover guard: no flip within this of the last one, the exit zone reaches this far below the bar,
// and frames count again only this long after the pointer left.
constexpr double kHoverFlipSeconds = 0.15;
constexpr double kHoverExitExtraHeight = 6.0;
constexpr double kHoverSettleSeconds = 0.25;
// A new scene passes the hover guard for this long from its first frame.
constexpr double kNewSceneSettleSeconds = 1.0;
// Lines with no more inner pixels than this are too short to stand for the bar.
constexpr int kMinInnerLinePixels = 100;
constexpr double kBeamBandWidthPoints = 18.0;

}  // namespace

FrameOutput::FrameOutput(Dependencies deps)
    : loop_(deps.loop),
      pointer_(deps.pointer),
      isForeignMenuOpenScan_(std::move(deps.isForeignMenuOpen)),
      lastPointerFlip_(-std::numeric_limits<double>::infinity()),
      queue_(deps.loop->makeSerialQueue(deps.queueLabel)) {
    analysis_.zones.resize(kZoneCount);
    smoothedZones_.reserve(kZoneCount);
}

FrameOutput::~FrameOutput() = default;

void FrameOutput::async(std::function<void(FrameOutput&)> block) {
    queue_->async([this, block = std::move(block)] { block(*this); });
}

void FrameOutput::submit(CaptureFrame frame) {
    queue_->async([this, frame = std::move(frame)] { receive(frame); });
}

// ---- settings operations ----

void FrameOutput::applySettings(const Settings& settings) {
    // A new radius or smoothing shows on the strip as it stands, not only on its next change.
    const bool restyled =
        settings.blurRadius != backdrop_.radius() || settings.smoothingEnabled != smoothingEnabled_;
    backdrop_.setRadius(settings.blurRadius);
    if (settings.smoothingEnabled != smoothingEnabled_) {
        smoothedAverage_.reset();
        smoothedZones_.clear();
    }
    smoothingEnabled_ = settings.smoothingEnabled;
    hoverGuardEnabled_ = settings.hoverGuardEnabled;
    overviewActive_ = settings.overviewActive;
    setExternalFreeze(settings.externallyFrozen);
    if (restyled) askForFrame();
}

void FrameOutput::setExternalFreeze(bool frozen) {
    const bool was = externallyFrozen_;
    externallyFrozen_ = frozen;
    if (was && !frozen) {
        invalidateCaches();
        // What the freeze held back, or the strip as it stands, is analysed again.
        askForFrame();
    }
}

void FrameOutput::resetPublishState() {
    held_ = false;
    setWaitsForPointer(false);
    freezeStartTime_.reset();
    forcePublishNextFrame_ = false;
    snapSmoothingOnForcedPublish_ = false;
    newSceneUntil_.reset();
}

void FrameOutput::invalidateCaches() {
    hasLastLine_ = false;
    lastLineWidth_ = 0;
    lastRawDominant_.reset();
    backdrop_.invalidate();
}

void FrameOutput::setGuardZones(std::vector<Rect> zones) {
    menuBarGuardZones_ = std::move(zones);
    framePointer_.reset();
    pointerInMenuBar_ = hoverGuardEnabled_ && pointerInZones(0);
    pointerLeftZoneAt_.reset();
    if (held_) askForFrame();  // the bar it rested on may be elsewhere now
}

void FrameOutput::setLineConfig(LineConfig config) {
    lineConfig_ = std::move(config);
    invalidateCaches();
}

// ---- pointer ----

void FrameOutput::setCachedPointer(Point p) {
    {
        std::lock_guard lock(pointerLock_);
        if (cachedPointer_ == p) return;
        cachedPointer_ = p;
    }
    // Moves come faster than frames: one ask waits on the queue at a time.
    if (pointerAskQueued_.exchange(true)) return;
    queue_->async([this] {
        pointerAskQueued_ = false;
        if (lineConfig_ && (lineConfig_->lightReflections || waitsForPointer_)) askForFrame();
    });
}

std::optional<Point> FrameOutput::cachedPointer() const {
    std::lock_guard lock(pointerLock_);
    return cachedPointer_;
}

bool FrameOutput::pointerInGuardZones(const std::optional<Point>& location, const std::vector<Rect>& zones,
                                      double extraHeight) {
    if (!location) return false;
    return std::any_of(zones.begin(), zones.end(), [&](const Rect& zone) {
        return Rect(zone.x(), zone.y(), zone.width(), zone.height() + extraHeight).contains(*location);
    });
}

bool FrameOutput::pointerInZones(double extraHeight) {
    if (menuBarGuardZones_.empty() || !pointer_) return false;
    if (!framePointer_) framePointer_ = pointer_->topLeftLocation();
    return pointerInGuardZones(*framePointer_, menuBarGuardZones_, extraHeight);
}

std::optional<Point> FrameOutput::beamPointer(const LineConfig& config) const {
    const auto cached = cachedPointer();
    if (!cached) return std::nullopt;
    const Point local{cached->x - config.displayOrigin.x, cached->y - config.displayOrigin.y};
    if (local.x < 0 || local.y < config.beamActivationMinY || local.y > config.beamActivationMaxY)
        return std::nullopt;
    return local;
}

// ---- per frame ----

void FrameOutput::receive(const CaptureFrame& frame) {
    held_ = look(frame);
    setWaitsForPointer(held_ && heldForPointer());
    if (held_ && externallyFrozen_) askWhenWatchdogDue();
    if (wantsAnotherFrame()) askForFrame();
}

bool FrameOutput::heldForPointer() {
    return hoverGuardEnabled_ && !externallyFrozen_ && !foreignMenuOpen_ && !activityResumeAfter_ &&
           pointerInZones(kHoverExitExtraHeight);
}

void FrameOutput::setWaitsForPointer(bool waits) {
    if (waits == waitsForPointer_) return;
    waitsForPointer_ = waits;
    if (onWaitsForPointer) onWaitsForPointer(waits);
}

bool FrameOutput::wantsAnotherFrame() const {
    if (!lineConfig_) return false;
    // A freeze may last: what it holds back is asked for again when it ends, or when the watchdog may break
    // it. A pointer resting on the bar may too: a move of it asks. The other gates are judged frame by
    // frame.
    if (held_) return !externallyFrozen_ && !waitsForPointer_;
    const double tolerance = lineConfig_->publishesImage ? kLiveTolerance : kStillTolerance;
    return smoothingMoving(tolerance) || (lineConfig_->unifiedBlur && backdrop_.owesStep());
}

bool FrameOutput::smoothingMoving(double tolerance) const {
    return smoothingEnabled_ && (!smoothedAverage_ || !lastRawDominant_ ||
                                 !colorsClose(*smoothedAverage_, *lastRawDominant_, tolerance));
}

void FrameOutput::askWhenWatchdogDue() {
    if (!freezeStartTime_ || watchdogAskFor_ == freezeStartTime_) return;
    watchdogAskFor_ = freezeStartTime_;
    // Just past the moment the watchdog looks at the freeze again.
    const double due = *freezeStartTime_ + kFreezeWatchdogSeconds + kWatchdogAskMargin - loop_->uptime();
    queue_->asyncAfter(std::max(due, 0.0), [this] {
        if (externallyFrozen_ && held_) askForFrame();
    });
}

bool FrameOutput::look(const CaptureFrame& frame) {
    FrameTime now(*loop_);
    framePointer_.reset();  // a new frame reads the pointer anew, once, if the guard needs it
    // A pointer that has left the band turns the beam off even when the frame itself is dropped below.
    if (lineConfig_ && lineConfig_->lightReflections && !beamPointer(*lineConfig_)) {
        if (onBeam) onBeam(Color::clear(), 0.5);
    }
    if (!frame.complete) return false;
    if (!passesGate(frame, now)) return true;
    if (!frame.pixels || !lineConfig_) return false;
    // The gate may have called out (callbacks, scans); look again just before the work.
    if (externallyFrozen_ || foreignMenuOpen_ || (activityResumeAfter_ && now() < *activityResumeAfter_) ||
        (hoverGuardEnabled_ && !newSceneSettling(now) && pointerInZones(0)))
        return true;
    if (!frame.isValid()) return false;
    analyse(frame);
    return false;
}

bool FrameOutput::passesGate(const CaptureFrame&, FrameTime& now) {
    const auto foreignMenuOpenNow = [this] { return isForeignMenuOpenScan_ && isForeignMenuOpenScan_(); };

    if (freezeStartTime_ && now() - *freezeStartTime_ > kFreezeWatchdogSeconds) {
        if (overviewActive_ || pointerInMenuBar_ || foreignMenuOpenNow()) {
            freezeStartTime_ = now();
        } else {
            // This very frame goes on: nothing to ask for.
            externallyFrozen_ = false;
            foreignMenuOpen_ = false;
            freezeStartTime_.reset();
            invalidateCaches();
            if (onForceUnfreeze) onForceUnfreeze();
        }
    }

    if (externallyFrozen_) {
        if (!freezeStartTime_) freezeStartTime_ = now();
        return false;
    }

    if (++foreignMenuCheckCounter_ >= kForeignMenuScanEvery) {
        foreignMenuCheckCounter_ = 0;
        const bool open = foreignMenuOpenNow();
        if (open != foreignMenuOpen_) {
            foreignMenuOpen_ = open;
            if (!open) {
                activityResumeAfter_ = now() + kResumeAfterMenuSeconds;
                notifyActivityEnded_ = true;
                invalidateCaches();
            }
        }
    }
    if (foreignMenuOpen_) {
        if (!freezeStartTime_) freezeStartTime_ = now();
        return false;
    }
    if (activityResumeAfter_) {
        if (now() < *activityResumeAfter_) return false;
        activityResumeAfter_.reset();  // the clock only moves on
    }
    if (notifyActivityEnded_) {
        notifyActivityEnded_ = false;
        if (onActivityEnded) onActivityEnded();
    }
    freezeStartTime_.reset();

    if (forcePublishNextFrame_) newSceneUntil_ = now() + kNewSceneSettleSeconds;
    if (!hoverGuardEnabled_) return true;
    return !hoverPauses(now) || newSceneSettling(now);
}

// The pause keeps the band as it is while the pointer rests on the bar. A colour asked for at once (a stream
// just started, a window just came to fill the top, another app's window fills it now) belongs to a scene the
// band does not show yet: held back, the band would keep another window's colour, or none at all (black) when
// nothing was sampled since the app started, for as long as the pointer rests there (as it does on the tray
// icon after the click that opened the popover). Nor is the scene's first frame enough: it may show the scene
// half drawn (a window's title bar not yet lit by the focus, the compositor's picture of the screen a frame
// behind the windows' own), so the scene's first second goes through; the frames after it wait for the pointer
// as before.
bool FrameOutput::newSceneSettling(FrameTime& now) const {
    return newSceneUntil_ && now() < *newSceneUntil_;
}

bool FrameOutput::hoverPauses(FrameTime& now) {
    if (pointerInMenuBar_) {
        // Leaving needs the pointer clear of a zone reaching a little below the bar, so a pointer resting
        // on the bar's lower edge does not flicker the guard.
        if (pointerInZones(kHoverExitExtraHeight)) return true;
        if (now() - lastPointerFlip_ <= kHoverFlipSeconds) return true;
        lastPointerFlip_ = now();
        pointerInMenuBar_ = false;
        pointerLeftZoneAt_ = now();
        invalidateCaches();
    } else if (pointerInZones(0)) {
        if (now() - lastPointerFlip_ > kHoverFlipSeconds) {
            lastPointerFlip_ = now();
            pointerInMenuBar_ = true;
        }
        return true;
    }
    if (pointerLeftZoneAt_) {
        if (now() - *pointerLeftZoneAt_ < kHoverSettleSeconds) return true;
        pointerLeftZoneAt_.reset();
    }
    return false;
}

std::optional<FrameOutput::LineSpan> FrameOutput::lineSpan(const CaptureFrame& frame, int insetPixels,
                                                           int rowY) {
    const int W = frame.width;
    const int inset = std::max(0, std::min((W - 1) / 2, insetPixels));
    if (W - 2 * inset <= kMinInnerLinePixels) return std::nullopt;
    return LineSpan{std::clamp(rowY, 0, frame.height - 1), inset, W};
}

void FrameOutput::writeLine(const std::uint8_t* row, const LineSpan& span, std::uint8_t* rgba) {
    const int W = span.width;
    const int inset = span.inset;
    lineKernels().convertRow(row + static_cast<std::size_t>(inset) * 4,
                             static_cast<std::size_t>(W - 2 * inset),
                             rgba + static_cast<std::size_t>(inset) * 4);
    // The ends (rounded screen corners, the bezel's shadow) repeat the nearest inner pixel. One loop per end,
    // each storing a single value, so that they vectorise.
    std::uint32_t first, last;
    std::memcpy(&first, rgba + static_cast<std::size_t>(inset) * 4, 4);
    std::memcpy(&last, rgba + static_cast<std::size_t>(W - inset - 1) * 4, 4);
    std::uint8_t* end = rgba + static_cast<std::size_t>(W - inset) * 4;
    for (int x = 0; x < inset; ++x) std::memcpy(rgba + static_cast<std::size_t>(x) * 4, &first, 4);
    for (int x = 0; x < inset; ++x) std::memcpy(end + static_cast<std::size_t>(x) * 4, &last, 4);
}

bool FrameOutput::analyzeLine(const std::uint8_t* rgba, int width, LineAnalysis& out) {
    if (!rgba || width < 1) return false;
    out.zones.resize(kZoneCount);
    if (width >= kZoneCount) {
        lineKernels().zoneColors(rgba, width, kZoneCount, out.zones.data(), out.mean);
    } else {
        // A pixel a zone, and the zones past the row's end repeat the last one.
        std::uint64_t r = 0, g = 0, b = 0;
        for (int i = 0; i < kZoneCount; ++i) {
            const std::uint8_t* p = rgba + std::min(i, width - 1) * 4;
            out.zones[i] = colorOfSums(p[0], p[1], p[2], 1);
            if (i < width) {
                r += p[0];
                g += p[1];
                b += p[2];
            }
        }
        out.mean = colorOfSums(r, g, b, static_cast<std::uint64_t>(width));
    }
    const std::uint8_t* last = rgba + (width - 1) * 4;
    out.left = colorOfSums(rgba[0], rgba[1], rgba[2], 1);
    out.right = colorOfSums(last[0], last[1], last[2], 1);
    return true;
}

std::optional<std::pair<Color, double>> FrameOutput::sampleBeamColor(const CaptureFrame& frame,
                                                                     const LineConfig& config) const {
    if (!(config.displayWidthPoints > 0) || !frame.isValid()) return std::nullopt;
    const auto local = beamPointer(config);
    if (!local) return std::nullopt;
    if (!(config.scale > 0) || !std::isfinite(config.scale) || !std::isfinite(local->x)) return std::nullopt;
    const int W = frame.width, H = frame.height;
    const int bw =
        static_cast<int>(std::clamp(std::trunc(config.scale * kBeamBandWidthPoints), 1.0, double(W)));
    const double column = std::clamp(std::trunc(local->x * config.scale), 0.0, static_cast<double>(W - 1));
    const int x0 = std::max(static_cast<int>(column) - bw / 2, 0);
    const int bh = std::max(config.lightBandHeightPx, 1);
    const int r = std::clamp(config.lightRowY, 0, H - 1);
    const int y0 = std::max(r - bh / 2, 0);
    if (W - x0 < 1 || H - y0 < 1) return std::nullopt;
    const auto color =
        averageColorOfPixels(frame.row(y0) + static_cast<std::size_t>(x0) * 4, std::min(bw, W - x0),
                             std::min(bh, H - y0), frame.bytesPerRow, PixelOrder::BGRA);
    if (!color) return std::nullopt;
    return std::make_pair(*color, std::clamp(local->x / config.displayWidthPoints, 0.0, 1.0));
}

void FrameOutput::analyse(const CaptureFrame& frame) {
    const LineConfig& config = *lineConfig_;

    if (config.lightReflections) {
        const auto beam = sampleBeamColor(frame, config);
        if (onBeam) {
            if (beam)
                onBeam(beam->first, beam->second);
            else
                onBeam(Color::clear(), 0.5);
        }
    }

    if (config.unifiedBlur) backdrop_.step(frame, *config.unifiedBlur, onBackdrop, onCornerBackdrops);

    const auto span = lineSpan(frame, config.edgeInsetPixels, config.lineRowY);
    if (!span) return;
    const int w = span->width;
    const std::uint8_t* row = frame.row(span->row);
    const std::size_t innerPixels = static_cast<std::size_t>(w - 2 * span->inset);
    const double tolerance = config.publishesImage ? kLiveTolerance : kStillTolerance;

    // The line is made of the inner pixels alone, so a row whose inner colours match the last line's makes
    // the same line: compared before any work. (The inset follows from the width and the configuration,
    // whose change drops the key.)
    const std::size_t insetBytes = static_cast<std::size_t>(span->inset) * 4;
    const bool duplicate = hasLastLine_ && lastLineWidth_ == w &&
                           lineKernels().sameColors(row + insetBytes, lastLine_ + insetBytes, innerPixels);
    // A repeated row still moves a smoothing that has not reached the raw colour yet.
    if (duplicate && !forcePublishNextFrame_ && !smoothingMoving(tolerance)) return;

    // The line is written once: straight into the image it is published in, or into working space.
    QImage* image = nullptr;
    if (config.publishesImage && onLine) {
        image = &lineImages_.acquire(w, 1, QImage::Format_RGBA8888_Premultiplied);
        if (image->isNull()) image = nullptr;
    }
    std::uint8_t* line = nullptr;
    if (image) {
        line = image->bits();
    } else {
        const std::size_t bytes = static_cast<std::size_t>(w) * 4;
        if (lineBytes_.size() != bytes) lineBytes_.resize(bytes);
        line = lineBytes_.data();
    }
    writeLine(row, *span, line);
    // Where the line was written it stays until the next one is: the key of the next comparison.
    lastLine_ = line;

    if (!analyzeLine(line, w, analysis_)) return;
    if (!duplicate) {
        lastLineWidth_ = w;
        hasLastLine_ = true;
        lastRawDominant_ = analysis_.mean;
    }

    if (image) onLine(LiveLine{*image, config.imagePointWidth}, config.generation);

    const Color& left = analysis_.left;
    const Color& right = analysis_.right;
    if (forcePublishNextFrame_ || !lastEdgeLeft_ || !lastEdgeRight_ ||
        !colorsClose(*lastEdgeLeft_, left, kEdgeTolerance) ||
        !colorsClose(*lastEdgeRight_, right, kEdgeTolerance)) {
        lastEdgeLeft_ = left;
        lastEdgeRight_ = right;
        if (onEdgeColors) onEdgeColors(left, right);
    }

    Color out;
    const std::vector<Color>* outZones = &analysis_.zones;
    if (!smoothingEnabled_) {
        out = analysis_.mean;
    } else if (forcePublishNextFrame_ && snapSmoothingOnForcedPublish_) {
        smoothedAverage_ = analysis_.mean;
        smoothedZones_ = analysis_.zones;
        out = analysis_.mean;
    } else {
        const double alpha = config.smoothingAlpha;
        out = interpolated(smoothedAverage_.value_or(analysis_.mean), analysis_.mean, alpha);
        if (smoothedZones_.size() == analysis_.zones.size()) {
            lineKernels().blendColors(smoothedZones_.data(), analysis_.zones.data(), smoothedZones_.size(),
                                      alpha);
        } else {
            smoothedZones_ = analysis_.zones;
        }
        smoothedAverage_ = out;
        outZones = &smoothedZones_;
    }

    if (forcePublishNextFrame_ || !lastPublished_ || !colorsClose(*lastPublished_, out, tolerance)) {
        lastPublished_ = out;
        forcePublishNextFrame_ = false;
        snapSmoothingOnForcedPublish_ = false;
        if (onUpdate) onUpdate(out, *outZones);
    }
}

}  // namespace velaro
