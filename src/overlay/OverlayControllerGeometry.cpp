// Band heights, window frames and levels, the corner pass, and the strip geometry handed to the sampler.
#include <cmath>

#include "overlay/MenuBarOverlayController.h"
#include "sampling/ScreenTopology.h"

namespace velaro {

namespace {

// Band height changes up to this many points snap; larger ones slide.
constexpr double kAnimatedHeightChange = 5.0;
constexpr double kMinimumBandHeight = 4.0;

bool isTopCorner(ScreenCorner c) {
    return c == ScreenCorner::topLeft || c == ScreenCorner::topRight;
}
bool isScreenTopCorner(ScreenCorner c) {
    return c == ScreenCorner::screenTopLeft || c == ScreenCorner::screenTopRight;
}

// `value` within lo...hi; not a number is `lo`. The settings hold whatever their file held, so every size
// taken from them is bounded where the screen it goes on is known.
double bounded(double value, double lo, double hi) {
    return value > lo ? (value < hi ? value : std::max(hi, lo)) : lo;
}

}  // namespace

double MenuBarOverlayController::overlayHeight(const ScreenInfo& screen) const {
    const double barHeight = menuBarHeight(screen, statusBarThickness());
    double height;
    if (settings_.keepOverlayAlwaysOn())
        height = bounded(settings_.alwaysOnOverlayHeight(), barHeight, screen.frame.height());
    else
        height = barHeight + settings_.overlayExtraDepth() +
                 (sampler_.seamSuppressed() ? 0 : settings_.seamCoverDepth());
    return bounded(height, kMinimumBandHeight, screen.frame.height());
}

double MenuBarOverlayController::unifiedBottomCornerDepth(const ScreenInfo& screen) const {
    if (renderMode_ == OverlayRenderMode::separate) return 0;
    return std::max(earRadius(ScreenCorner::topLeft, screen), earRadius(ScreenCorner::topRight, screen));
}

double MenuBarOverlayController::earRadius(ScreenCorner corner, const ScreenInfo& screen) const {
    // Kept on over an empty desktop, both ears take the one radius, whatever the corners' own switches.
    if (settings_.keepOverlayAlwaysOn()) return earRadiusOnScreen(settings_.alwaysOnCornerRadius(), screen);
    return cornerRadius(corner, screen);
}

Rect MenuBarOverlayController::barFrame(const ScreenInfo& screen) const {
    const Rect& f = screen.frame;
    const double h = overlayHeight(screen) + unifiedBottomCornerDepth(screen);
    return Rect{f.minX(), f.maxY() - h, f.width(), h};
}

Rect MenuBarOverlayController::cornerFrame(ScreenCorner corner, const ScreenInfo& screen, double r) const {
    const Rect& f = screen.frame;
    const double h = overlayHeight(screen);
    switch (corner) {
        case ScreenCorner::topLeft:
            return Rect{f.minX(), f.maxY() - h - r, r, r};
        case ScreenCorner::topRight:
            return Rect{f.maxX() - r, f.maxY() - h - r, r, r};
        case ScreenCorner::bottomLeft:
            return Rect{f.minX(), f.minY(), r, r};
        case ScreenCorner::bottomRight:
            return Rect{f.maxX() - r, f.minY(), r, r};
        case ScreenCorner::screenTopLeft:
            return Rect{f.minX(), f.maxY() - r, r, r};
        case ScreenCorner::screenTopRight:
            return Rect{f.maxX() - r, f.maxY() - r, r, r};
    }
    return Rect{};
}

int MenuBarOverlayController::barLevel() const {
    return settings_.layerPosition() == LayerPosition::behindWindows ? OverlayWindowLevel::wallpaper
                                                                     : OverlayWindowLevel::belowPanel;
}

BottomCornerZ MenuBarOverlayController::cornerZ(ScreenCorner corner) const {
    return settings_.zOrder(corner);
}

int MenuBarOverlayController::cornerLevel(ScreenCorner corner) const {
    if (isTopCorner(corner)) return barLevel();
    switch (cornerZ(corner)) {
        case BottomCornerZ::belowActive:
            return OverlayWindowLevel::normal;
        case BottomCornerZ::wallpaper:
            return OverlayWindowLevel::wallpaper;
        case BottomCornerZ::above:
            return isScreenTopCorner(corner) ? OverlayWindowLevel::panel : OverlayWindowLevel::belowPanel;
    }
    return OverlayWindowLevel::belowPanel;
}

double MenuBarOverlayController::cornerRadius(ScreenCorner corner, const ScreenInfo& screen) const {
    const double r = settings_.corners().effectiveRadius(corner);
    if (isTopCorner(corner)) return earRadiusOnScreen(r, screen);
    // Two corners of one side of the screen meet at its middle at most.
    return bounded(r, 0, std::min(screen.frame.width(), screen.frame.height()) / 2);
}

double MenuBarOverlayController::earRadiusOnScreen(double radius, const ScreenInfo& screen) const {
    const Rect& f = screen.frame;
    return bounded(radius, 0, std::min({f.width() / 2, f.height() / 2, f.height() - overlayHeight(screen)}));
}

void MenuBarOverlayController::applyLevelsAndFrames() {
    updateOverviewDemand();
    for (auto& s : screens_) {
        if (auto* band = bandWindowOf(s)) {
            band->setLevel(barLevel());
            band->setFrame(barFrame(s.screen), false);
        }
    }
    for (auto& s : screens_) {
        for (auto& corner : s.corners) {
            const ScreenCorner c = corner->corner();
            corner->window().setLevel(cornerLevel(c));
            const double r = cornerRadius(c, s.screen);
            if (r > 0) corner->window().setFrame(cornerFrame(c, s.screen, r), false);
        }
    }
    refreshWindows();
    orderFrontBarWindows();
}

void MenuBarOverlayController::updateBarFrames() {
    for (auto& s : screens_) {
        auto* band = bandWindowOf(s);
        if (!band) continue;
        const Rect target = barFrame(s.screen);
        if (std::abs(band->frame().height() - target.height()) > kAnimatedHeightChange) {
            animateFrame(target, *band);
        } else {
            auto batch = services_.host.batch();
            band->setFrame(target, true);
            band->displayIfNeeded();
        }
    }
    refreshWindows();
    layoutCornerWindows();
}

void MenuBarOverlayController::refreshWindows() {
    if (!settings_.masterEnabled()) {
        for (auto& s : screens_)
            for (auto& corner : s.corners) corner->window().orderOut();
        updateTopBlurGeometry();
        scheduleBelowActiveRepair();
        return;
    }
    for (auto& s : screens_) {
        auto* band = bandWindowOf(s);
        for (auto& cornerWindow : s.corners) {
            auto& w = cornerWindow->window();
            const ScreenCorner c = cornerWindow->corner();
            const double r = cornerRadius(c, s.screen);
            const bool inUse = r > 0;
            if (inUse) w.setFrame(cornerFrame(c, s.screen, r), false);
            const BottomCornerZ z = isTopCorner(c) ? BottomCornerZ::above : cornerZ(c);

            if (isScreenTopCorner(c) && z != BottomCornerZ::belowActive) {
                if (!inUse) {
                    w.orderOut();
                } else if (!overviewActive_) {
                    w.setAlphaValue(1);
                    if (band && band->isVisible() && band->level() == w.level())
                        w.orderBelow(band->windowNumber());
                    else
                        w.orderFrontRegardless();
                }
            } else if (z == BottomCornerZ::above) {
                // Laid out and shown with the band.
            } else if (!inUse) {
                w.orderOut();
            } else if (!overviewActive_) {
                w.setAlphaValue(1);
                if (z == BottomCornerZ::wallpaper) w.orderFrontRegardless();
            }
        }
    }
    updateTopBlurGeometry();
    scheduleBelowActiveRepair();
}

void MenuBarOverlayController::updateTopBlurGeometry() {
    pushCaptureGeometry();
    auto main = primaryScreen();
    if (!main) return;
    const auto& c = settings_.corners();
    TopBlurGeometry geometry{overlayHeight(*main), 0, 0};
    if (settings_.blurEnabled() && settings_.blurTopCorners() && (c.topLeftEnabled || c.topRightEnabled) &&
        !settings_.usesUnifiedRenderer()) {
        geometry.leftCornerRadius = cornerRadius(ScreenCorner::topLeft, *main);
        geometry.rightCornerRadius = cornerRadius(ScreenCorner::topRight, *main);
    }
    sampler_.setTopBlurGeometry(geometry);
}

void MenuBarOverlayController::pushCaptureGeometry() {
    const auto& c = settings_.corners();
    const bool blurredEars = settings_.blurEnabled() && settings_.blurTopCorners() &&
                             (c.topLeftEnabled || c.topRightEnabled) && !settings_.usesUnifiedRenderer();
    std::map<ScreenID, CaptureGeometry> geometry;
    for (const auto& screen : currentScreens()) {
        if (!showsMenuBar(screen)) continue;
        CaptureGeometry g;
        // The panel's own height, the same measure the sampler and the window scans use: a screen placed
        // below the primary must not capture its whole height.
        g.captureHeight = menuBarHeight(screen, statusBarThickness());
        g.topBlur.overlayHeight = overlayHeight(screen);
        if (blurredEars) {
            g.topBlur.leftCornerRadius = cornerRadius(ScreenCorner::topLeft, screen);
            g.topBlur.rightCornerRadius = cornerRadius(ScreenCorner::topRight, screen);
        }
        geometry[screen.id] = g;
    }
    sampler_.setCaptureGeometry(std::move(geometry));
}

}  // namespace velaro
