// The painted content of one screen's menu-bar band: the fill in the current style from the sampled, held,
// chosen or drifting colours, the empty-desktop backdrop, the fade over a camera notch, and the hairlines
// along the band's top edge and around the notch in a low-opacity black or white ink chosen for contrast.
#pragma once

#include <QRectF>
#include <functional>
#include <optional>
#include <vector>

#include "base/AnimatedValue.h"
#include "base/Color.h"
#include "base/Geometry.h"
#include "base/MainLoop.h"
#include "overlay/BarFillStyles.h"
#include "overlay/LiveStripView.h"
#include "overlay/OverlayFeed.h"

class QPainter;
class QRegion;
class QSize;

namespace velaro {

class HueDriftClock;
class OverlaySettings;

// A snapshot of one screen's colours, painted instead of the live ones while a reveal or a colour memory
// holds them.
struct RevealColorHold {
    Color dominant;
    std::vector<Color> zones;
    std::optional<LiveLine> line;
    Color leftCorner;
    Color rightCorner;
};

// The relative luminance of a colour that is at least half opaque; nothing for a fainter or unreadable one
// (the ink then follows the colour scheme).
std::optional<double> opaqueLuminance(const Color& color);
// Black (dark) or white hairline ink whose opacity grows as the contrast with luminance L shrinks: the
// weaker ink (0.0765) in the light scheme, the stronger (0.1753) in the dark one.
Color contrastShade(bool dark, bool strong, double luminance);
// What the always-on overlay shows over an empty desktop: black, nothing, or the blurred strip beneath.
void paintEmptyDesktopBackdrop(QPainter& p, const QRectF& rect, EmptyDesktopMode mode,
                               const std::optional<BackdropImage>& backdrop);
// The ink when no colour decides it: black about 12 % in the light scheme, white about 20 % in the dark.
Color schemeInk(bool darkScheme);
// Dark ink over light colours (L > 0.6), light ink over dark (L < 0.4); between them `keep` (a decision
// with hysteresis from elsewhere) when given, else dark from 0.5 up.
bool inkIsDark(double luminance, std::optional<bool> keep);

// The camera notch's rectangle in the band's points, from the screen's top inset and the areas left and
// right of the notch (global x); nothing without an inset or either area.
std::optional<QRectF> notchRect(double safeAreaTop, std::optional<Rect> auxiliaryTopLeft,
                                std::optional<Rect> auxiliaryTopRight, double screenMinX);

// A vertical hairline one point wide centred at `centreX` from `top` to `bottom`: solid ink that fades out
// over its last `fadeLength` points (from the very top when the fade is at least the line's length).
void paintFadingSideLine(QPainter& painter, double centreX, double top, double bottom, const Color& ink,
                         double fadeLength);

class MenuBarOverlayView {
public:
    MenuBarOverlayView(const OverlaySettings& settings, OverlayFeed feed, HueDriftClock& driftClock,
                       MainLoop& loop, std::optional<RevealColorHold> heldColor = std::nullopt);
    MenuBarOverlayView(const MenuBarOverlayView&) = delete;
    MenuBarOverlayView& operator=(const MenuBarOverlayView&) = delete;

    void setDarkScheme(bool dark) { darkScheme_ = dark; }
    bool darkScheme() const { return darkScheme_; }
    void setNotchRect(std::optional<QRectF> rect) { notch_ = rect; }
    // Called whenever what the view shows changed: a refresh that changed something, an animation step.
    void setOnNeedsDisplay(std::function<void()> callback);

    // Reads the inputs again and moves the shown values to them, animated where the band animates.
    void refresh();
    // With `outline` off the lines along the band's edges (the edge stroke, the line around the camera
    // housing) are left out: the band is cut to another shape, which draws its own.
    void paint(QPainter& painter, Size size, bool outline = true);

    // Derived values, read fresh from the inputs.
    bool isEmptyDesktop() const;
    Color solidColor() const;
    std::vector<Color> sampledZoneColors() const;
    std::vector<Color> multicolorZoneColors() const;
    std::vector<Color> driftPattern() const;
    std::optional<LiveLine> liveLine() const;
    // The band's base colour: the uniform drift's colour now, else the solid colour.
    Color baseColor() const;
    Color strokeInk() const;
    // The fill the band heads for (animated members at their targets).
    MenuBarStyleFill targetFill() const;
    // Whether a colour of the band is still moving toward its target.
    bool isAnimating() const;
    // Whether the next paint covers every device pixel wholly inside the band with opaque paint.
    bool paintsOpaque() const;
    // Where in a band of `size` the next paint lays the same pixels on every row of a part as on its first
    // row (see OverlayWindow::setRepeatedArea): the fill wherever the edge stroke leaves it bare, while
    // nothing else laid under or over the fill changes down the band. Empty where it cannot tell.
    std::vector<Rect> repeatedArea(Size size) const;

private:
    MenuBarStyleFill shownFill() const;
    void paintFillLayer(QPainter& p, const QRectF& r);
    void paintEdgeStroke(QPainter& p, const QRectF& r, const Color& ink) const;
    // The whole points of a band of `band` points the edge stroke may paint in.
    QRegion edgeStrokeFootprint(QSize band) const;
    void paintNotchStroke(QPainter& p, const QRectF& r, const QRectF& notch, const Color& ink) const;
    void changed();

    const OverlaySettings& settings_;
    OverlayFeed feed_;
    HueDriftClock& drift_;
    MainLoop& loop_;
    const std::optional<RevealColorHold> held_;  // a new hold comes with a new view
    bool darkScheme_ = false;
    std::optional<QRectF> notch_;
    std::function<void()> onNeedsDisplay_;
    LiveStripView strip_;

    AnimatedValue<Color> base_;
    AnimatedValue<Color> gradientTop_;
    AnimatedValue<Color> gradientBottom_;
    AnimatedValue<std::vector<Color>> zones_;
    AnimatedValue<double> driftPhase_;
    AnimatedValue<double> emptyDesktopMix_;
    AnimatedValue<double> blurShown_;
    AnimatedValue<double> blurOpacityFactor_;
    // A change of style cross-fades from the fill as it last was to the new one.
    MenuBarStyleFill lastTarget_;
    std::optional<MenuBarStyleFill> outgoing_;
    AnimatedValue<double> styleMix_;
};

}  // namespace velaro
