// The light beam: a streak of light along the top edge of the main screen where the pointer is, in the
// colour sampled under it. The sampler measures (colour, strength, position); the view only draws four
// additive layers from those values and the beam settings; the shell decides when the window exists.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/AnimatedValue.h"
#include "base/Cancellable.h"
#include "base/Color.h"
#include "base/Geometry.h"
#include "base/Published.h"
#include "platform/OverlayWindowHost.h"

class QPainter;

namespace velaro {

class MainLoop;
class OverlaySettings;
struct ScreenInfo;

// The beam settings the view reads.
struct BeamSettings {
    double brightness = 1.0;
    double glowBrightness = 0.7;
    double coreBrightness = 1.0;
    double length = 0.1;
    double width = 0.4;
    double height = 0.1;
    double topStreakHotspot = 0.2;
    double topStreakHeight = 1.0;
    bool glowEnabled = true;
    bool bloomEnabled = true;
    bool entryAnimation = true;
    bool coreFollowsSampled = false;
    Color coreColor = Color::white();

    static BeamSettings from(const OverlaySettings& settings);
};

// One layer: a rectangle placed by its centre (y measured down from the top of the view).
struct BeamLayer {
    Point centre;
    Size size;
};

// Everything the beam draws for one set of inputs; a layer that is not drawn is absent.
struct BeamLayout {
    double glowOpacity = 0;
    std::optional<BeamLayer> bloom;  // elliptical, vivid at glowOpacity × 0.55 fading out
    std::optional<BeamLayer> glow;   // elliptical, vivid at glowOpacity fading out
    BeamLayer coreLine;              // capsule, vivid 0 → coreOpacity → 0
    double coreOpacity = 0;
    std::optional<BeamLayer> topStreak;  // capsule, streak colour 0 → opacity over the hot middle → 0
    double topStreakOpacity = 0;
    double topStreakHotHalfWidth = 0;  // h: the solid middle spans 0.5 − h … 0.5 + h
    Color topStreakColor;
};

// `alpha` is the beam's strength (the sampler's beam colour's alpha), `x` the centre in view points and
// `spread` how far the beam has opened (0 to 1).
BeamLayout beamLayout(const BeamSettings& settings, double alpha, const Color& vivid, double x, double spread,
                      double coreThickness);

// Draws the beam's layers added onto what is beneath, in the vivid colour.
void paintBeam(QPainter& painter, const BeamLayout& layout, const Color& vivid);

// The sampler's beam values the view follows.
struct BeamFeed {
    const Published<Color>* beamColor = nullptr;
    const Published<Color>* beamVividColor = nullptr;
    const Published<double>* beamNormalizedX = nullptr;
};

class LightBeamView {
public:
    // The beam counts as visible above this strength.
    static constexpr double visibleAlpha = 0.01;
    static constexpr double entryDuration = 0.22;
    static constexpr double glideDuration = 0.05;

    LightBeamView(MainLoop& loop, const OverlaySettings& settings, BeamFeed feed, double coreThickness = 1.0);
    LightBeamView(const LightBeamView&) = delete;
    LightBeamView& operator=(const LightBeamView&) = delete;

    void setOnNeedsDisplay(std::function<void()> callback) { onNeedsDisplay_ = std::move(callback); }
    void paint(QPainter& painter, Size size) const;

    // The layout for a view `width` points wide, as it would be painted now.
    BeamLayout layout(double width) const;

private:
    void beamColorWillChange(const Color& next);
    void needsDisplay() const {
        if (onNeedsDisplay_) onNeedsDisplay_();
    }

    const OverlaySettings& settings_;
    BeamFeed feed_;
    double coreThickness_;
    AnimatedValue<double> spread_;
    AnimatedValue<double> normalizedX_;
    bool visible_ = false;
    std::function<void()> onNeedsDisplay_;
    std::vector<Subscription> subscriptions_;
};

// The borderless, click-through window over the top 64 pt of a screen that carries the beam.
class LightBeamWindow {
public:
    static constexpr double height = 64;

    // A window over the top of `screen`, configured and ordered out.
    static std::unique_ptr<LightBeamWindow> make(OverlayWindowHost& host, MainLoop& loop,
                                                 const ScreenInfo& screen, BeamFeed feed,
                                                 const OverlaySettings& settings);
    ~LightBeamWindow();

    // The beam's frame over `screen`: its full width, the top 64 pt.
    static Rect frameOver(const ScreenInfo& screen);

    OverlayWindow& window() { return *window_; }
    LightBeamView& view() { return *view_; }

private:
    LightBeamWindow() = default;
    std::unique_ptr<LightBeamView> view_;
    std::unique_ptr<OverlayWindow> window_;  // after the view: it paints the view until it goes
};

}  // namespace velaro
