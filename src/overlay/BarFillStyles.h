// The fill of the menu-bar band in each style: one colour, colour zones (hard or blended), the scrolling
// hue-drift pattern, the two-colour vertical gradient and the live strip. It lays colours out; which colours
// to show, and animating their changes, is the caller's business.
#pragma once

#include <QColor>
#include <QGradientStops>
#include <QRectF>
#include <optional>
#include <vector>

#include "base/Color.h"
#include "overlay/HueDriftClock.h"
#include "sampling/LiveLine.h"
#include "settings/ValueTypes.h"

class QPainter;

namespace velaro {

class LiveStripView;

QColor toQColor(const Color& color);
Color fromQColor(const QColor& color);
QGradientStops toQGradientStops(const std::vector<GradientStop>& stops);
// Stops ready for a Qt gradient, which keeps only the last of several stops at one location: each stop
// after the first at a location is moved a hair's breadth past it (before it at the right end), so a pair
// of stops at one location still makes a hard edge. Locations are clamped to 0...1.
QGradientStops strictlyIncreasing(QGradientStops stops);

// The blended zones' stops for a transition width t (0 ≤ t < 1): two stops per colour, at its start and
// end, so each inner border i/n is crossed by a blend t/n wide and the outer edges stay pure.
std::vector<double> zoneStopLocations(std::size_t count, double transitionWidth);

// The horizontal offset of the doubled drift pattern (content `contentWidth` wide, twice the band) at
// `phase`: one pass takes a phase advance of `stopCount` colours; right-to-left moves it leftwards.
double driftScrollOffset(double phase, double stopCount, bool rightToLeft, double contentWidth);

struct MenuBarStyleFill {
    MenuBarStyle style = MenuBarStyle::solid;
    Color color = Color::black();
    std::vector<Color> colorStrip;  // live style without a line: a row of colours across the bar
    double opacity = 1.0;           // of the whole fill, applied once
    std::optional<Color> gradientTopColor;
    std::optional<Color> gradientBottomColor;
    double gradientTopOpacity = 1.0;
    double gradientBottomOpacity = 1.0;
    std::optional<LiveLine> liveLine;
    std::vector<Color> zoneColors;
    bool zoneBlend = false;
    double zoneTransitionWidth = 1.0;
    std::vector<Color> driftPattern;  // two or more colours switch the solid style to the drift
    double driftPhase = 0;
    bool driftBlend = true;
    double driftTransitionWidth = 1.0;
    bool driftRightToLeft = true;

    // Paints the fill over `rect`. The live line is shown through `strip` when given (it keeps the shown
    // image between frames), else drawn directly.
    void paint(QPainter& painter, const QRectF& rect, LiveStripView* strip = nullptr) const;
    // Whether paint() covers every device pixel wholly inside its rectangle with opaque paint. False where
    // it cannot tell cheaply: the drift's two copies meet at a fraction of a pixel, where both blend.
    bool isOpaque() const;
    // Whether paint() lays the same pixels on every device row wholly inside its rectangle: the colours
    // vary across the band only (a live line of one row, the solid colours, zones and drift).
    bool isUniformDown() const;
};

}  // namespace velaro
