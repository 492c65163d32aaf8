// The strip, rate and line configuration of a stream, its content filter, the guard zones of the bars, and
// the per-frame batch of results.
#include "sampling/CaptureStreams.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "sampling/ScreenTopology.h"

namespace velaro {

namespace {

// Strip heights in points below the capture height: the sampled strip, and the taller band the beam reads.
constexpr double kStripHeight = 6;
constexpr double kReflectionStripHeight = 36;
constexpr int kStillFramesPerSecond = 15;
constexpr int kQueueDepth = 4;

// Whole pixels toward zero (or down, for `floorPixels`), 0 for anything that is not a positive number, so
// that bad geometry never turns into an out-of-range conversion.
int truncPixels(double v) {
    if (!(v > 0)) return 0;
    return v >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(v);
}
int floorPixels(double v) {
    return truncPixels(std::floor(v));
}
double finiteOrZero(double v) {
    return std::isfinite(v) ? v : 0;
}

}  // namespace

StreamContext::StreamContext(std::shared_ptr<FrameOutput> output) : frameOutput(std::move(output)) {}

void FrameResultBatch::add(std::function<void()> block) {
    if (!inFrame_) {
        loop_.post(std::move(block));
        return;
    }
    pending_.push_back(std::move(block));
}

void FrameResultBatch::runFrame(const std::function<void()>& analyse) {
    inFrame_ = true;
    analyse();
    inFrame_ = false;
    if (pending_.empty()) return;
    if (pending_.size() == 1) {
        loop_.post(std::move(pending_.front()));
        pending_.clear();
        return;
    }
    loop_.post([blocks = std::exchange(pending_, {})] {
        for (const auto& block : blocks) block();
    });
}

StreamConfiguration StreamPlan::configuration() const {
    StreamConfiguration c;
    c.sourceRect = sourceRect;
    c.width = width;
    c.height = height;
    c.minimumFrameInterval = 1.0 / framesPerSecond;
    c.queueDepth = kQueueDepth;
    return c;
}

int streamFramesPerSecond(bool liveCaptureEnabled, int liveCaptureFPS) {
    if (!liveCaptureEnabled) return kStillFramesPerSecond;
    return std::max(1, liveCaptureFPS);
}

StreamPlan planStream(const StreamPlanInput& in) {
    StreamPlan plan;
    const double W = finiteOrZero(in.displayWidth), H = finiteOrZero(in.displayHeight);
    const double c = finiteOrZero(in.geometry.captureHeight);
    const TopBlurGeometry blur{finiteOrZero(in.geometry.topBlur.overlayHeight),
                               finiteOrZero(in.geometry.topBlur.leftCornerRadius),
                               finiteOrZero(in.geometry.topBlur.rightCornerRadius)};

    Rect source;
    if (in.blurCaptureEnabled) {
        double h = std::max(blur.overlayHeight + std::max(blur.leftCornerRadius, blur.rightCornerRadius),
                            c + kStripHeight);
        if (in.lightReflectionsEnabled) h = std::max(h, c + kReflectionStripHeight);
        source = Rect{0, 0, W, h};
    } else {
        source = Rect{0, c, W, in.lightReflectionsEnabled ? kReflectionStripHeight : kStripHeight};
    }
    // Integral outward, as the capture service works in whole points, then cut to the display.
    const double x0 = std::floor(source.minX()), y0 = std::floor(source.minY());
    source = Rect{x0, y0, std::ceil(source.maxX()) - x0, std::ceil(source.maxY()) - y0};
    plan.sourceRect = source.intersection(Rect{0, 0, W, H});

    const double s = in.liveCaptureEnabled && in.backingScale > 0 ? in.backingScale : 1.0;
    const double r = finiteOrZero(in.cornerRadius);
    plan.width = std::max(1, truncPixels(plan.sourceRect.width() * s));
    plan.height = std::max(1, truncPixels(plan.sourceRect.height() * s));
    plan.framesPerSecond = streamFramesPerSecond(in.liveCaptureEnabled, in.liveCaptureFPS);

    FrameOutput::LineConfig& lc = plan.lineConfig;
    lc.edgeInsetPixels = truncPixels((r + 8) * s);
    lc.imagePointWidth = plan.sourceRect.width();
    lc.publishesImage = in.liveCaptureEnabled;
    lc.lineRowY = floorPixels(s * (in.blurCaptureEnabled ? c + 3 : 3));
    if (in.blurCaptureEnabled) {
        UnifiedBlur u;
        u.overlayHeightPixels = truncPixels(blur.overlayHeight * s);
        u.leftRadiusPixels = truncPixels(blur.leftCornerRadius * s);
        u.rightRadiusPixels = truncPixels(blur.rightCornerRadius * s);
        u.overlayPointSize = Size{plan.sourceRect.width(), blur.overlayHeight};
        u.leftPointSize = Size{blur.leftCornerRadius, blur.leftCornerRadius};
        u.rightPointSize = Size{blur.rightCornerRadius, blur.rightCornerRadius};
        lc.unifiedBlur = u;
    }
    lc.lightReflections = in.lightReflectionsEnabled;
    lc.lightRowY = floorPixels(s * (c + 21 - plan.sourceRect.minY()));
    lc.lightBandHeightPx = std::max(1, truncPixels(s * 30));
    lc.scale = s;
    lc.displayWidthPoints = W;
    lc.displayOrigin = in.displayOrigin;
    lc.beamActivationMinY = c + 6;
    lc.beamActivationMaxY = c + 56;
    lc.smoothingAlpha = 1 - std::pow(0.7, 30.0 / plan.framesPerSecond);
    return plan;
}

std::vector<Rect> menuBarGuardZones(const std::vector<ScreenInfo>& screens, double statusBarThickness) {
    std::vector<Rect> zones;
    if (screens.empty()) return zones;
    const double top = screens.front().frame.maxY();
    for (const auto& s : screens)
        zones.push_back(Rect{s.frame.minX(), top - s.frame.maxY(), s.frame.width(),
                             menuBarHeight(s, statusBarThickness) + 4});
    return zones;
}

ContentFilterChoice makeContentFilter(const ShareableContent& content, const CaptureDisplay& display,
                                      const std::optional<std::string>& ownAppId, std::int64_t ownProcessID,
                                      const std::set<std::string>& sampleStop) {
    ContentFilterChoice choice;
    std::vector<CaptureApplication> excluded;
    for (const auto& app : content.applications) {
        if (sampleStop.contains(app.appId)) {
            excluded.push_back(app);
            choice.appliedSampleStop.insert(app.appId);
        }
    }
    std::optional<CaptureApplication> own;
    if (ownAppId) {
        for (const auto& app : content.applications) {
            if (app.appId == *ownAppId) {
                own = app;
                break;
            }
        }
        // Before our first window shows we are not in the content, yet the overlay windows that show later
        // must still be left out, or the bar would sample its own tint. Our process is known either way.
        if (!own && ownProcessID > 0) own = CaptureApplication{ownProcessID, *ownAppId, {}};
    }
    if (own) {
        std::vector<CaptureApplication> apps{*own};
        apps.insert(apps.end(), excluded.begin(), excluded.end());
        choice.filter = ContentFilter::displayExcludingApplications(display, std::move(apps));
    } else {
        std::vector<CaptureWindow> ownWindows;
        for (const auto& w : content.windows) {
            const bool ours = ownAppId ? (w.owningApplication && w.owningApplication->appId == *ownAppId)
                                       : !w.owningApplication;
            if (ours) ownWindows.push_back(w);
        }
        choice.filter = ContentFilter::displayExcludingWindows(display, std::move(ownWindows));
        // Left out as applications too, so the colour still comes from beneath them.
        choice.filter.excludedApplications = std::move(excluded);
    }
    choice.filter.includeMenuBar = false;
    return choice;
}

}  // namespace velaro
