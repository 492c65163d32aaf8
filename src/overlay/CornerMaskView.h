// The painted content of one rounded-corner window: the corner's ear in its colour and opacity, over the
// frosted backdrop where the blur reaches the menu-bar corners, with a short edge stroke below the menu-bar
// corners and a tapered hairline along the ear of the bottom and screen-top corners.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "base/AnimatedValue.h"
#include "base/Color.h"
#include "base/Geometry.h"
#include "base/MainLoop.h"
#include "overlay/HueDriftClock.h"
#include "overlay/OverlayFeed.h"
#include "settings/CornerSettings.h"

class QPainter;

namespace velaro {

class OverlaySettings;

class CornerMaskView {
public:
    CornerMaskView(ScreenCorner corner, const OverlaySettings& settings, OverlayFeed feed,
                   HueDriftClock& driftClock, MainLoop& loop);
    CornerMaskView(const CornerMaskView&) = delete;
    CornerMaskView& operator=(const CornerMaskView&) = delete;

    ScreenCorner corner() const { return corner_; }
    void setDarkScheme(bool dark) { darkScheme_ = dark; }
    bool darkScheme() const { return darkScheme_; }
    void setOnNeedsDisplay(std::function<void()> callback) { onNeedsDisplay_ = std::move(callback); }

    // Reads the inputs again; a new fill colour animates with the recolour timing. The window is asked to
    // repaint only when something the corner shows has changed: most sampled colours never reach it.
    void refresh();
    void paint(QPainter& painter, Size size);

    // Derived values, read fresh from the inputs.
    double radius() const;  // 0 when the corner is off
    double cornerOpacity() const;
    Color cornerOverlayColor() const;
    std::optional<BackdropImage> blurBackdropImage() const;
    bool showsBlurBackdrop() const;
    Color fillColor() const;
    double fillOpacity() const;
    Color strokeInk() const;
    double arcCentrelineRadius() const;
    bool showsArc() const;
    // The arc's taper along its sweep: transparent at both ends, the scheme ink over the middle.
    std::vector<GradientStop> arcGradientStops() const;
    bool isAnimating() const;

private:
    void changed() {
        if (onNeedsDisplay_) onNeedsDisplay_();
    }

    // What a paint shows besides the animated values (which ask for their own repaints).
    struct Shown {
        double radius = 0, opacity = 0, strokeFadeLength = 0;
        bool stroke = false, arc = false, dark = false;
        Color strokeInk;
        std::int64_t backdrop = 0;  // the frosted image's cache key, 0 for none
        friend bool operator==(const Shown&, const Shown&) = default;
    };
    Shown shown() const;

    ScreenCorner corner_;
    const OverlaySettings& settings_;
    OverlayFeed feed_;
    HueDriftClock& drift_;
    MainLoop& loop_;
    bool darkScheme_ = false;
    std::function<void()> onNeedsDisplay_;
    AnimatedValue<Color> fill_;
    AnimatedValue<double> blurShown_;
    AnimatedValue<double> blurFactor_;
    std::optional<Shown> lastShown_;
};

}  // namespace velaro
