// The hue-drift time base shared by every overlay view: a phase in colour steps advanced by a 10 Hz tick
// while the drift shows, and the functions that turn a phase or a position along the bar into a colour.
#pragma once

#include <utility>
#include <vector>

#include "base/Cancellable.h"
#include "base/Color.h"
#include "base/MainLoop.h"
#include "base/Published.h"

namespace velaro {

class OverlaySettings;

// One stop of a horizontal gradient: a location in 0...1 and its colour.
struct GradientStop {
    double location = 0;
    Color color;
    friend bool operator==(const GradientStop&, const GradientStop&) = default;
};

class HueDriftClock {
public:
    static constexpr double kTickInterval = 0.1;
    // The shortest period honoured; shorter (or unreadable) periods drift at this pace.
    static constexpr double kMinimumPeriod = 0.5;
    // The most one tick may advance the drift by, in seconds: a stall does not make the colour jump.
    static constexpr double kMaximumTickStep = 0.5;

    HueDriftClock(const OverlaySettings& settings, MainLoop& loop);
    HueDriftClock(const HueDriftClock&) = delete;
    HueDriftClock& operator=(const HueDriftClock&) = delete;

    // Drift position in colour steps: grows by 1 per period of running time, never wrapped.
    const Published<double>& phase() const { return phase_; }

    // Starts or stops the tick. Stopping keeps the phase; starting again resumes from it without a jump.
    void setRunning(bool run);
    bool isRunning() const { return timer_.isActive(); }
    // Advances the phase by the time since the previous tick (at most half a second).
    void tick();

    // The palette of the drift: the chosen colours when two or more of them parse, else the rainbow.
    std::vector<Color> colors() const;
    // The colour of the uniform drift at phase `x`: colour floor(x) blended toward the next one.
    Color color(double x) const;
    // The colour of the scrolling drift at the fraction `x` of the bar's width, at the current phase.
    Color scrollColor(double x) const;

    // The stops of one full cycle through `colors` (2n + 2 of them): each colour holds a band, neighbours
    // blend over min(width, 1)/n when `blend` is on, and both ends show the seam between last and first.
    static std::vector<GradientStop> gradientStops(const std::vector<Color>& colors, bool blend,
                                                   double transitionWidth);
    // The colour of that gradient at `x` (its fractional part); black without colours.
    static Color gradientColor(double x, const std::vector<Color>& colors, bool blend,
                               double transitionWidth);
    // The built-in rainbow, parsed.
    static const std::vector<Color>& rainbow();

private:
    const OverlaySettings& settings_;
    MainLoop& loop_;
    Published<double> phase_{0.0};
    Cancellable timer_;
    double lastTick_ = 0;
};

}  // namespace velaro
