// What the progress bar's window shows: the line's colours for the three colour modes, adapted to how light
// the menu bar behind it is, and the painting of the line, its track and the backdrop that catches clicks.
#pragma once

#include <optional>
#include <vector>

#include "base/Color.h"
#include "base/Geometry.h"
#include "settings/ValueTypes.h"

class QPainter;

namespace velaro {

inline constexpr const char* kProgressBarWindowName = "progress-bar";
// The window is this tall, along the top of the screen; the line lies at its top edge.
inline constexpr double kProgressBarHeight = 16;
// The line's thickness in device pixels, unarmed and armed.
inline constexpr double kProgressLinePixels = 2;
inline constexpr double kProgressArmedLinePixels = 6;
// A colour this light (Rec. 709) or lighter is darkened to it on a light menu bar; the visualizer uses the
// same ceiling.
inline constexpr double kProgressLuminanceCeiling = 0.62;

struct ProgressColorInput {
    ProgressColorMode mode = ProgressColorMode::mono;
    double opacity = 1;  // the setting; kept within 0.2...1
    Color solid = Color::white();
    double huePhase = 0;  // degrees the rainbow has turned
    double colorMix = 0;  // 0 on a dark menu bar, 1 on a light one
    friend bool operator==(const ProgressColorInput&, const ProgressColorInput&) = default;
};

// The fill's gradient stops, left to right, evenly spaced.
std::vector<Color> progressGradient(const ProgressColorInput& input);

// `color` darkened towards the luminance ceiling by `colorMix`; near-white colours stay as they are.
Color adaptToBackdrop(const Color& color, double colorMix);

// One paint of the window.
struct ProgressBarLook {
    double fillWidth = 0;          // points from the left edge
    std::vector<Color> fillStops;  // spread over the fill's width
    double line = 2;               // the line's thickness in points
    double armedMix = 0;           // 0 unarmed ... 1 armed: the track and the backdrop fade in with it
    bool trackInkDark = false;     // the track is black (on a light menu bar) rather than white
    bool backdrop = true;          // paint the faint backdrop (only where partly transparent pixels exist)
    friend bool operator==(const ProgressBarLook&, const ProgressBarLook&) = default;
};

void paintProgressBar(QPainter& painter, Size size, const ProgressBarLook& look);

// The fill's end moving at an even speed from one place to another (points) over a stretch of the loop's
// uptime: where it is at a time, and when the window next has something new to show.
struct FillGlide {
    double from = 0, to = 0;
    double start = 0, duration = 0;
    double at(double time) const;
    // The first time after `time` at which the end, rounded to whole device pixels (`scale` a point),
    // reaches another pixel; none once it stays on the pixel the glide ends on.
    std::optional<double> nextPixelTime(double time, double scale) const;
};

// How much any pixel of a fill painted with `stops` stretched over `fromWidth` changes (in colour
// components with their opacity, 0...1) when the gradient is stretched over `toWidth` instead. While this
// is less than a step of 8-bit colour, a fill that grows or shrinks needs only its end repainted.
double gradientStretchChange(const std::vector<Color>& stops, double fromWidth, double toWidth);

}  // namespace velaro
