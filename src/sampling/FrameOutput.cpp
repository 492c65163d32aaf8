// The frame analysis of one capture stream.
#include "sampling/FrameOutput.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "sampling/LightReflections.h"

namespace velaro {

namespace {

// Colour tolerances: live capture paints the line itself, so even small moves of the dominant colour must
// reach the bar; without it a coarser step avoids repainting for noise.
constexpr double kLiveTolerance = 0.004;
constexpr double kStillTolerance = 0.02;
constexpr double kEdgeTolerance = 0.004;
// A freeze nobody can explain after this long is taken to be stuck and is broken.
constexpr double kFreezeWatchdogSeconds = 10.0;
constexpr int kForeignMenuScanEvery = 10;
// After another app's menu closes, the bar shows the menu's fade-out for a moment: wait it out.
constexpr double kResumeAfterMenuSeconds = 0.4;
// The hover guard: no flip within this of the last one, the exit zone reaches this far below the bar,
// and frames count again only this long after the pointer left.
constexpr double kHoverFlipSeconds = 0.15;
constexpr double kHoverExitExtraHeight = 6.0;
constexpr double kHoverSettleSeconds = 0.25;
// Lines with no more inner pixels than this are too short to stand for the bar.
constexpr int kMinInnerLinePixels = 100;
constexpr double kBeamBandWidthPoints = 18.0;

Color colorOfSums(std::uint64_t r, std::uint64_t g, std::uint64_t b, std::uint64_t n) {
    const double d = static_cast<double>(n) * 255.0;
    return Color::rgb(static_cast<double>(r) / d, static_cast<double>(g) / d, static_cast<double>(b) / d);
}

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
    backdrop_.setRadius(settings.blurRadius);
    if (settings.smoothingEnabled != smoothingEnabled_) {
        smoothedAverage_.reset();
        smoothedZones_.clear();
    }
    smoothingEnabled_ = settings.smoothingEnabled;
    hoverGuardEnabled_ = settings.hoverGuardEnabled;
    overviewActive_ = settings.overviewActive;
    setExternalFreeze(settings.externallyFrozen);
}

void FrameOutput::setExternalFreeze(bool frozen) {
    const bool was = externallyFrozen_;
    externallyFrozen_ = frozen;
    if (was && !frozen) invalidateCaches();
}

void FrameOutput::resetPublishState() {
    freezeStartTime_.reset();
    forcePublishNextFrame_ = false;
    snapSmoothingOnForcedPublish_ = false;
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
}

void FrameOutput::setLineConfig(LineConfig config) {
    lineConfig_ = std::move(config);
    invalidateCaches();
}

// ---- pointer ----

void FrameOutput::setCachedPointer(Point p) {
    std::lock_guard lock(pointerLock_);
    cachedPointer_ = p;
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
    const double now = loop_->uptime();
    framePointer_.reset();  // a new frame reads the pointer anew, once, if the guard needs it
    // A pointer that has left the band turns the beam off even when the frame itself is dropped below.
    if (lineConfig_ && lineConfig_->lightReflections && !beamPointer(*lineConfig_)) {
        if (onBeam) onBeam(Color::clear(), 0.5);
    }
    if (!frame.complete) return;
    if (!passesGate(frame, now)) return;
    if (!frame.pixels || !lineConfig_) return;
    // The gate may have called out (callbacks, scans); look again just before the work.
    if (externallyFrozen_ || foreignMenuOpen_ || now < activityResumeAfter_ ||
        (hoverGuardEnabled_ && pointerInZones(0)))
        return;
    if (!frame.isValid()) return;
    analyse(frame, now);
}

bool FrameOutput::passesGate(const CaptureFrame&, double now) {
    const auto foreignMenuOpenNow = [this] { return isForeignMenuOpenScan_ && isForeignMenuOpenScan_(); };

    if (freezeStartTime_ && now - *freezeStartTime_ > kFreezeWatchdogSeconds) {
        if (overviewActive_ || pointerInMenuBar_ || foreignMenuOpenNow()) {
            freezeStartTime_ = now;
        } else {
            setExternalFreeze(false);
            foreignMenuOpen_ = false;
            freezeStartTime_.reset();
            invalidateCaches();
            if (onForceUnfreeze) onForceUnfreeze();
        }
    }

    if (externallyFrozen_) {
        if (!freezeStartTime_) freezeStartTime_ = now;
        return false;
    }

    if (++foreignMenuCheckCounter_ >= kForeignMenuScanEvery) {
        foreignMenuCheckCounter_ = 0;
        const bool open = foreignMenuOpenNow();
        if (open != foreignMenuOpen_) {
            foreignMenuOpen_ = open;
            if (!open) {
                activityResumeAfter_ = now + kResumeAfterMenuSeconds;
                notifyActivityEnded_ = true;
                invalidateCaches();
            }
        }
    }
    if (foreignMenuOpen_) {
        if (!freezeStartTime_) freezeStartTime_ = now;
        return false;
    }
    if (now < activityResumeAfter_) return false;
    if (notifyActivityEnded_) {
        notifyActivityEnded_ = false;
        if (onActivityEnded) onActivityEnded();
    }
    freezeStartTime_.reset();

    if (!hoverGuardEnabled_) return true;
    if (pointerInMenuBar_) {
        // Leaving needs the pointer clear of a zone reaching a little below the bar, so a pointer resting
        // on the bar's lower edge does not flicker the guard.
        if (pointerInZones(kHoverExitExtraHeight)) return false;
        if (now - lastPointerFlip_ <= kHoverFlipSeconds) return false;
        lastPointerFlip_ = now;
        pointerInMenuBar_ = false;
        pointerLeftZoneAt_ = now;
        invalidateCaches();
    } else if (pointerInZones(0)) {
        if (now - lastPointerFlip_ > kHoverFlipSeconds) {
            lastPointerFlip_ = now;
            pointerInMenuBar_ = true;
        }
        return false;
    }
    if (pointerLeftZoneAt_) {
        if (now - *pointerLeftZoneAt_ < kHoverSettleSeconds) return false;
        pointerLeftZoneAt_.reset();
    }
    return true;
}

std::optional<FrameOutput::LineSpan> FrameOutput::lineSpan(const CaptureFrame& frame, int insetPixels,
                                                           int rowY) {
    const int W = frame.width;
    const int inset = std::max(0, std::min((W - 1) / 2, insetPixels));
    if (W - 2 * inset <= kMinInnerLinePixels) return std::nullopt;
    return LineSpan{std::clamp(rowY, 0, frame.height - 1), inset, W};
}

bool FrameOutput::sameColorsAsLastRow(const std::uint8_t* inner, std::size_t pixels) const {
    // Alpha is not part of the line (it is written opaque), so only the colour bytes count.
    constexpr std::uint32_t kColorBits =
        std::endian::native == std::endian::little ? 0x00FFFFFFu : 0xFFFFFF00u;
    // Blocks keep the inner loop free of branches (it vectorises) and still stop soon at a changed row.
    constexpr std::size_t kBlock = 64;
    const std::uint8_t* last = lastRowBytes_.data();
    for (std::size_t begin = 0; begin < pixels; begin += kBlock) {
        const std::size_t end = std::min(pixels, begin + kBlock);
        std::uint32_t diff = 0;
        for (std::size_t i = begin; i < end; ++i) {
            std::uint32_t a, b;
            std::memcpy(&a, inner + i * 4, 4);
            std::memcpy(&b, last + i * 4, 4);
            diff |= a ^ b;
        }
        if ((diff & kColorBits) != 0) return false;
    }
    return true;
}

void FrameOutput::writeLine(const std::uint8_t* row, const LineSpan& span, std::uint8_t* rgba) {
    const int W = span.width;
    const int inset = span.inset;
    const std::uint8_t* __restrict src = row;
    std::uint8_t* __restrict dst = rgba;
    // BGRA with the alpha byte skipped → RGBA, opaque; a word at a time so the loop vectorises.
    for (int x = inset; x < W - inset; ++x) {
        std::uint32_t v;
        std::memcpy(&v, src + x * 4, 4);
        if constexpr (std::endian::native == std::endian::little)
            v = (v & 0x0000FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16) | 0xFF000000u;
        else
            v = (v & 0x00FF0000u) | ((v >> 16) & 0xFF00u) | ((v & 0xFF00u) << 16) | 0xFFu;
        std::memcpy(dst + x * 4, &v, 4);
    }
    // The ends (rounded screen corners, the bezel's shadow) repeat the nearest inner pixel.
    for (int x = 0; x < inset; ++x) {
        std::memcpy(dst + x * 4, dst + inset * 4, 4);
        std::memcpy(dst + (W - 1 - x) * 4, dst + (W - inset - 1) * 4, 4);
    }
}

namespace {

struct ChannelSums {
    std::uint64_t r = 0, g = 0, b = 0;
};

// The red, green and blue sums of `count` RGBA pixels.
ChannelSums sumPixels(const std::uint8_t* rgba, int count) {
    // Red and blue share a 32-bit lane as two 16-bit fields and green has a lane of its own, so the loop
    // runs in plain 32-bit vector lanes. A field holds 257 bytes of 255 before it could carry into the
    // next: blocks of 256 pixels, each folded into the 64-bit sums.
    constexpr int kBlock = 256;
    ChannelSums sums;
    for (int begin = 0; begin < count; begin += kBlock) {
        const int n = std::min(kBlock, count - begin);
        const std::uint8_t* p = rgba + static_cast<std::size_t>(begin) * 4;
        std::uint32_t redBlue = 0, green = 0;
        for (int i = 0; i < n; ++i) {
            std::uint32_t v;
            std::memcpy(&v, p + i * 4, 4);
            if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
            redBlue += v & 0x00FF00FFu;
            green += (v >> 8) & 0xFFu;
        }
        sums.r += redBlue & 0xFFFFu;
        sums.b += redBlue >> 16;
        sums.g += green;
    }
    return sums;
}

}  // namespace

bool FrameOutput::analyzeLine(const std::uint8_t* rgba, int width, LineAnalysis& out) {
    if (!rgba || width < 1) return false;
    out.zones.resize(kZoneCount);
    const int step = std::max(width, kZoneCount) / kZoneCount;
    ChannelSums total;
    for (int i = 0; i < kZoneCount; ++i) {
        const int start = i * step;
        const int end = i == kZoneCount - 1 ? width : std::min(width, (i + 1) * step);
        if (start >= end) {
            // Only rows narrower than the zone count get here: repeat the zone before.
            out.zones[i] = i > 0 ? out.zones[i - 1] : Color::black();
            continue;
        }
        const ChannelSums zone = sumPixels(rgba + static_cast<std::size_t>(start) * 4, end - start);
        out.zones[i] = colorOfSums(zone.r, zone.g, zone.b, static_cast<std::uint64_t>(end - start));
        total.r += zone.r;
        total.g += zone.g;
        total.b += zone.b;
    }
    out.mean = colorOfSums(total.r, total.g, total.b, static_cast<std::uint64_t>(width));
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

void FrameOutput::analyse(const CaptureFrame& frame, double) {
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
    const std::uint8_t* inner = row + static_cast<std::size_t>(span->inset) * 4;
    const std::size_t innerPixels = static_cast<std::size_t>(w - 2 * span->inset);
    const double tolerance = config.publishesImage ? kLiveTolerance : kStillTolerance;

    // The line is made of the inner pixels alone, so a row whose inner colours match the last one's makes
    // the same line: compared before any work.
    const bool duplicate = hasLastLine_ && lastLineWidth_ == w && lastRowBytes_.size() == innerPixels * 4 &&
                           sameColorsAsLastRow(inner, innerPixels);
    if (duplicate) {
        // A repeated row still moves a smoothing that has not reached the raw colour yet.
        const bool smoothingMoving =
            smoothingEnabled_ && (!smoothedAverage_ || !lastRawDominant_ ||
                                  !colorsClose(*smoothedAverage_, *lastRawDominant_, tolerance));
        if (!forcePublishNextFrame_ && !smoothingMoving) return;
    }

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

    if (!analyzeLine(line, w, analysis_)) return;
    if (!duplicate) {
        if (lastRowBytes_.size() != innerPixels * 4) lastRowBytes_.resize(innerPixels * 4);
        std::memcpy(lastRowBytes_.data(), inner, innerPixels * 4);
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
            for (std::size_t i = 0; i < smoothedZones_.size(); ++i)
                smoothedZones_[i] = interpolated(smoothedZones_[i], analysis_.zones[i], alpha);
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
