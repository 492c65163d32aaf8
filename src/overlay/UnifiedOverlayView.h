// The content of one screen's unified overlay window: the band, the two ears hanging below it at the
// screen's top corners, the backdrop over an empty desktop, the fading hairline down each ear, and for a
// short while after the front app changed, a remembered appearance over the live one. Cut to pills in the
// pill shape and masked by the reveal.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/AnimatedValue.h"
#include "base/Cancellable.h"
#include "base/Geometry.h"
#include "base/MainLoop.h"
#include "overlay/BarOverlayView.h"
#include "overlay/OverlayFeed.h"
#include "overlay/RevealAnimations.h"
#include "overlay/UnifiedPresenter.h"
#include "settings/CornerSettings.h"

class QPainter;

namespace velaro {

class HueDriftClock;
class OverlaySettings;

// The heights the view needs of its screen, read afresh at every paint: the band (bar height with its
// extra depth and seam cover, at least 4 pt) and the screen's bare menu-bar height, which places the pills;
// and each ear's radius as the screen can show it (without it, the radius the settings ask for).
struct UnifiedScreenMetrics {
    std::string screenID;
    std::function<double()> bandHeight;
    std::function<double()> menuBarHeight;
    std::function<double(ScreenCorner)> earRadius;
};

class UnifiedOverlayView {
public:
    UnifiedOverlayView(const OverlaySettings& settings, OverlayFeed feed, HueDriftClock& driftClock,
                       MainLoop& loop, UnifiedPresenter& presenter, UnifiedScreenMetrics metrics);
    UnifiedOverlayView(const UnifiedOverlayView&) = delete;
    UnifiedOverlayView& operator=(const UnifiedOverlayView&) = delete;

    void setDarkScheme(bool dark);
    void setOnNeedsDisplay(std::function<void()> callback) { onNeedsDisplay_ = std::move(callback); }
    void refresh();
    void paint(QPainter& painter, Size size);
    // What paint() can cover in a window of `size`: the band across the whole width and the ears below its
    // two ends. The window's rows under the band between the ears stay clear.
    std::vector<Rect> paintedArea(Size size) const;
    // What the next paint covers with opaque paint whatever lay beneath: the band, while it shows whole and
    // its fill is opaque; else nothing.
    std::vector<Rect> opaqueArea(Size size) const;
    // Where the next paint repeats a part's first row down the part: the live band's, while it shows whole
    // with nothing laid over it; else nothing.
    std::vector<Rect> repeatedArea(Size size) const;

    // Derived values, read fresh from the inputs.
    double bandHeight() const;
    double topRadius(ScreenCorner corner) const;  // the ear's radius; 0 leaves it out
    bool isEmptyDesktop() const;
    bool recolorWindowActive() const;
    // 0 while a remembered appearance covers the live one, else 1.
    double liveOpacity() const;
    Color liveCornerColor(ScreenCorner corner) const;
    Color earFill(ScreenCorner corner, const std::optional<RevealColorHold>& hold) const;
    Color earInk(const Color& fill, ScreenCorner corner, bool holding) const;
    double revealMaskProgress() const;

    const RevealAnimator& reveal() const { return reveal_; }

private:
    void changed() {
        if (onNeedsDisplay_) onNeedsDisplay_();
    }
    RevealColorHold freezeColors() const;
    void hold(std::optional<MenuBarOverlayView>& bar, const std::optional<RevealColorHold>& colors);
    void memoryGenerationChanged();
    void scheduleMemoryTick();
    void memoryTick(int generation);
    // The pills the window is cut to on this screen, when the pill shape applies.
    std::optional<PillGeometry> pillClip() const;
    // `outline` off leaves out the bands' edge lines (see MenuBarOverlayView::paint).
    void paintLayers(QPainter& p, double width, double band, bool outline);
    void paintEar(QPainter& p, ScreenCorner corner, double band, double width, const Color& fill,
                  const std::optional<RevealColorHold>& hold);

    const OverlaySettings& settings_;
    OverlayFeed feed_;
    HueDriftClock& drift_;
    MainLoop& loop_;
    UnifiedPresenter& presenter_;
    UnifiedScreenMetrics metrics_;
    bool darkScheme_ = false;
    std::function<void()> onNeedsDisplay_;

    MenuBarOverlayView liveBar_;
    // The held bars exist only while they hold something: each is built with its colours, so it shows them
    // at once instead of animating from whatever it held before, and costs nothing the rest of the time.
    std::optional<MenuBarOverlayView> revealBar_;  // the frozen colours while a reveal opens
    std::optional<MenuBarOverlayView> memoryBar_;  // the remembered colours after an app switch
    RevealAnimator reveal_;
    AnimatedValue<Color> leftEarFill_;
    AnimatedValue<Color> rightEarFill_;
    AnimatedValue<double> emptyDesktopMix_;
    int memoryTickGeneration_ = 0;
    Cancellable memoryTick_;
    std::vector<Subscription> presenterWatch_;
};

}  // namespace velaro
