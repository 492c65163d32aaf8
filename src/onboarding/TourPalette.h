// The tour's look in one place: its colours, gradient stops, blend modes, fonts, page animation and the
// artwork it draws (our own SVGs, compiled into the app as resources).
#pragma once

#include <QColor>
#include <QFont>
#include <QGradientStops>
#include <QImage>
#include <QPainter>
#include <QSizeF>
#include <QString>

#include "platform/OverlayWindowHost.h"

class QPaintDevice;

namespace velaro::tour {

// Colours, sRGB.
inline QColor rgb(double r, double g, double b, double a = 1.0) {
    return QColor::fromRgbF(float(r), float(g), float(b), float(a));
}
inline QColor withAlpha(QColor colour, double alpha) {
    colour.setAlphaF(float(alpha));
    return colour;
}
inline const QColor text = rgb(0.9608, 0.9608, 0.9608);
inline const QColor white = rgb(1, 1, 1);
inline const QColor black = rgb(0, 0, 0);
inline const QColor shadeDark = rgb(0, 0, 0, 0.6);
inline const QColor shadeLight = rgb(1, 1, 1, 0.6);
inline const QColor granted = rgb(0.2039, 0.7804, 0.349);
inline const QColor dotIdle = rgb(1, 1, 1, 0.4);
inline const QColor buttonInk = rgb(0.0941, 0.0275, 0.0039);
inline const QColor accentStart = rgb(1.0, 0.3176, 0.0039);
inline const QColor accentEnd = rgb(1.0, 0.4471, 0.0039);
inline const QColor welcomeTop = rgb(1.0, 0.451, 0.0);
inline const QColor welcomeBottom = rgb(1.0, 0.2745, 0.0039);

// The radial ground behind every page after the welcome page.
QGradientStops groundStops();

// Card edges draw with the overlay blend; the shape picker's ground with soft light.
inline constexpr QPainter::CompositionMode sheenBlend = QPainter::CompositionMode_Overlay;
inline constexpr QPainter::CompositionMode softBlend = QPainter::CompositionMode_SoftLight;

// A font by its size in points and weight; the family is the desktop's own sans.
struct FontSpec {
    double size;
    QFont::Weight weight = QFont::Normal;
    // Width in percent: the desktop's sans runs wider than the lines were laid out for.
    int stretch = 100;
};
inline constexpr FontSpec headlineFont{46, QFont::DemiBold, 88};
inline constexpr FontSpec welcomeFont{32, QFont::Medium};
inline constexpr FontSpec buttonFont{14, QFont::Medium};
inline constexpr FontSpec startButtonFont{12, QFont::Medium};
inline constexpr FontSpec segmentFont{8, QFont::Medium};
inline constexpr FontSpec bodyFont{13};
inline constexpr FontSpec badgeFont{11, QFont::Bold};
inline constexpr FontSpec captionFont{8};
inline constexpr FontSpec rowStateFont{5};
inline constexpr FontSpec pageNoteFont{5};

// The size `spec` is drawn at, in points: its own, or the smallest size legible on a screen of scale 1 where
// its own is smaller (the sizes were drawn for screens of scale 2). The same at every scale, so that a page
// at scale 2 is the page at scale 1 with every pixel doubled: raised only where the screen needs it, the
// smallest texts stayed at their own size beside text that had doubled.
double renderedSize(const FontSpec& spec);
// The font for drawing on `device`: its size (`renderedSize`) is exact in points (device-independent pixels)
// whatever the device's logical resolution, fractional sizes included.
QFont font(const FontSpec& spec, const QPaintDevice& device);

// Page changes, and the entrance of the welcome pieces.
inline constexpr OverlayAnimation pageAnimation{0.18, TimingCurve::easeOut};
inline constexpr OverlayAnimation entranceAnimation{0.45, TimingCurve::easeOut};

// The tour's artwork by name ("TourWelcomeBackdrop", …) drawn stretched to `size` points at the pixel ratio
// `scale`; a null image when the artwork is missing or unreadable, so its layer stays empty.
QImage artwork(const QString& name, QSizeF size, qreal scale);

// One artwork stretched over the page, made once per pixel ratio (a missing one is not looked for again).
class PageArtwork {
public:
    explicit PageArtwork(QString name) : name_(std::move(name)) {}
    void draw(QPainter& painter, qreal scale);

private:
    QString name_;
    QImage image_;
    qreal scale_ = 0;
};

}  // namespace velaro::tour
