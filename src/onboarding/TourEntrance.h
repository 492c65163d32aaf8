// How a piece of a tour page comes in: from transparent, blurred and 16 points low to sharp and in place. The
// piece is drawn once into an image; while it moves, only that image is faded, blurred and shifted.
#pragma once

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <functional>

#include "base/AnimatedValue.h"
#include "base/Cancellable.h"
#include "base/MainLoop.h"
#include "onboarding/TourPalette.h"

class QPainter;

namespace velaro::tour {

// The start pose: the blur radius and the drop, in points.
inline constexpr double entranceBlur = 8;
inline constexpr double entranceDrop = 16;

// A piece drawn once: the image (with its pixel ratio) and where its top-left lies on the page.
struct PieceImage {
    QImage image;
    QPointF origin;
};

// Draws what `paint` draws inside `bounds` (page points) into an image with room around it for the blur.
PieceImage renderPiece(const QRectF& bounds, qreal scale, const std::function<void(QPainter&)>& paint);

// Blurs a premultiplied image in place: three box passes that approximate a Gaussian of `sigma` pixels.
// Transparent beyond the edges.
void blurImage(QImage& image, double sigma);

// Draws the piece at `progress` along its entrance (0 = start pose, 1 = at rest).
void paintEntrance(QPainter& painter, const PieceImage& piece, double progress);

// One piece's entrance state: its progress moves on the main loop; `onChange` asks for a repaint.
class Entrance {
public:
    explicit Entrance(MainLoop& loop) : loop_(loop), progress_(loop, 0.0) {}

    void setOnChange(std::function<void()> onChange) { progress_.setOnChange(std::move(onChange)); }
    // Puts the piece in place: at once without an animation, else along the entrance curve after `delay`.
    void show(bool animated, double delay = 0);
    double progress() const { return progress_.value(); }

private:
    MainLoop& loop_;
    AnimatedValue<double> progress_;
    Cancellable pending_;
};

}  // namespace velaro::tour
