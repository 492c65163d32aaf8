// Ring gauge drawing: the gauge's layers, composited as one group so that a dimmed gauge fades as a whole
// and an off one turns grey as a whole; the gap mask and our symbol paths.
#include "ui/settings/rings/RingGauge.h"

#include <QPainter>
#include <QPainterPathStroker>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "base/NumberCast.h"
#include "ui/settings/kit/SettingsStyle.h"

namespace velaro {
namespace {

constexpr double kFullTurnPoints = 48;
constexpr double kArcInset = 3.25;
constexpr double kArcWidth = 2.5;
constexpr double kGapDegrees = 45;
// A switched-off gauge is drawn at this opacity, and without colour.
constexpr double kOffOpacity = 0.45;
// Room around the gauge's square in the group image for the outer half of the rim's line.
constexpr double kRimMargin = 1;

// Rec. 709 grey of every pixel, mixed back toward its colour by `saturation` (premultiplied pixels stay
// premultiplied: the weights sum to 1).
void desaturate(QImage& image, double saturation) {
    const int keep = int(std::lround(std::clamp(saturation, 0.0, 1.0) * 256));
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            if (qAlpha(p) == 0) continue;
            const int r = qRed(p), g = qGreen(p), b = qBlue(p);
            const int grey = (r * 2126 + g * 7152 + b * 722 + 5000) / 10000;
            const auto mix = [&](int c) { return grey + ((c - grey) * keep >> 8); };
            line[x] = qRgba(mix(r), mix(g), mix(b), qAlpha(p));
        }
    }
}

// The wedge of the gap as a closed subpath of `path`: from the centre of `rect` out past its edges.
void addGapWedge(QPainterPath& path, const QRectF& rect, double gapCenterDegrees, double gapDegrees) {
    const QPointF c = rect.center();
    const double R = std::max(rect.width(), rect.height());
    const double a0 = (gapCenterDegrees - gapDegrees / 2) * std::numbers::pi / 180;
    path.moveTo(c);
    path.lineTo(c + R * QPointF(std::cos(a0), std::sin(a0)));
    // Qt's arc angles run counter-clockwise on screen; ours run with the y axis pointing down, so the sweep
    // through increasing angles is a negative Qt sweep.
    path.arcTo(QRectF(c.x() - R, c.y() - R, 2 * R, 2 * R), -(gapCenterDegrees - gapDegrees / 2), -gapDegrees);
    path.closeSubpath();
}

QPainterPath scaled(const QPainterPath& unit, double size) {
    return QTransform::fromScale(size, size).map(unit);
}

// The gauge's layers, alone on a clear image (the gap and the disc are drawn with composition modes that
// rely on it), in `frame`.
void paintGaugeGroup(QPainter& p, const QRectF& frame, const RingGauge& gauge,
                     const RingGaugeMotion& motion) {
    const double d = gauge.diameter;
    const QPointF centre = frame.center();

    // The arcs first, on their own, so that the gap can be erased from them alone.
    const QRectF arcs = frame.adjusted(kArcInset, kArcInset, -kArcInset, -kArcInset);
    if (arcs.width() > 0) {
        QPen track(QColor::fromRgbF(1, 1, 1, 0.15f), kArcWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        track.setMiterLimit(10);
        p.setPen(track);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(arcs);
        if (const double f = ringArcFraction(gauge.valuePX); f > 0) {
            QPen value(ringValueGreen(), kArcWidth, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
            value.setMiterLimit(10);
            p.setPen(value);
            QPainterPath arc;
            // From 12 o'clock, clockwise on screen (a negative Qt sweep).
            arc.arcMoveTo(arcs, 90);
            arc.arcTo(arcs, 90, -360 * f);
            p.drawPath(arc);
        }
        // The gap toward the row's screen edge is erased from the arcs alone. Only the wedge goes: the arcs'
        // own square would also shave the outer half of the line flat at 3, 6 and 9 o'clock.
        p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        QPainterPath wedge;
        addGapWedge(wedge, arcs, gauge.isTop ? -90 : 90, kGapDegrees);
        p.fillPath(wedge, Qt::black);
    }

    // Under the arcs: the disc, and under it the faint disc that stands in for the glass.
    p.setCompositionMode(QPainter::CompositionMode_DestinationOver);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0, 0, 0, 0.45f));
    p.drawEllipse(frame);
    p.setBrush(QColor::fromRgbF(1, 1, 1, 0.06f));
    p.drawEllipse(frame);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);

    if (gauge.showsCenterValue) {
        QFont font = SettingsStyle::systemFont(9, QFont::DemiBold);
        font.setStyleHint(QFont::SansSerif);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(frame, Qt::AlignCenter, QString::number(saturatedCast<std::int64_t>(gauge.valuePX)));
    }

    // The arrow sits in the gap and turns half a turn as the corner goes behind.
    const double arrow = 6;
    const double offset = (d / 2 - kArcInset) * (gauge.isTop ? -1 : 1);
    p.save();
    p.translate(centre.x(), centre.y() + offset);
    p.rotate(180 * std::clamp(motion.behind, 0.0, 1.0));
    p.translate(-arrow / 2, -arrow / 2);
    p.fillPath(arrowShapeUpPath(arrow), Qt::white);
    p.restore();

    const double rim = 0.25 + 0.2 * std::clamp(motion.rim, 0.0, 1.0);
    QPen rimPen(QColor::fromRgbF(1, 1, 1, float(rim)), 1);
    rimPen.setMiterLimit(10);
    p.setPen(rimPen);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(frame);
}

}  // namespace

const QColor& ringValueGreen() {
    static const QColor green = QColor::fromRgbF(0.26f, 0.9f, 0.45f);
    return green;
}

const QColor& ringBehindPink() {
    static const QColor pink = QColor::fromRgbF(227 / 255.0f, 111 / 255.0f, 176 / 255.0f);
    return pink;
}

double ringArcFraction(double valuePX) {
    if (!(valuePX > 0)) return 0;
    return std::min(valuePX, kFullTurnPoints) / kFullTurnPoints;
}

QPainterPath ringGapMask(const QRectF& rect, double gapCenterDegrees, double gapDegrees) {
    QPainterPath mask;
    mask.setFillRule(Qt::OddEvenFill);
    mask.addRect(rect);
    if (gapDegrees > 0) addGapWedge(mask, rect, gapCenterDegrees, gapDegrees);
    return mask;
}

QPainterPath arrowShapeUpPath(double size) {
    // A broad head over a short shaft, corners softened by the stroke added round it.
    static const QPainterPath unit = [] {
        QPainterPath outline;
        outline.moveTo(0.5, 0.1);
        outline.lineTo(0.92, 0.52);
        outline.lineTo(0.68, 0.52);
        outline.lineTo(0.68, 0.9);
        outline.lineTo(0.32, 0.9);
        outline.lineTo(0.32, 0.52);
        outline.lineTo(0.08, 0.52);
        outline.closeSubpath();
        QPainterPathStroker soft;
        soft.setWidth(0.1);
        soft.setJoinStyle(Qt::RoundJoin);
        return outline.united(soft.createStroke(outline)).simplified();
    }();
    return scaled(unit, size);
}

QPainterPath eyedropperPath(double size) {
    // Drawn upright (bulb on top, tip at the bottom), then leant 45° so the tip points down to the left.
    static const QPainterPath unit = [] {
        QPainterPath upright;
        upright.addRoundedRect(QRectF(0.38, 0.0, 0.24, 0.3), 0.1, 0.1);
        upright.addRoundedRect(QRectF(0.28, 0.28, 0.44, 0.1), 0.04, 0.04);
        upright.addRect(QRectF(0.42, 0.36, 0.16, 0.46));
        QPainterPath tip;
        tip.moveTo(0.42, 0.82);
        tip.lineTo(0.58, 0.82);
        tip.lineTo(0.5, 1.0);
        tip.closeSubpath();
        upright = upright.united(tip);
        QTransform lean;
        lean.translate(0.5, 0.5);
        lean.rotate(45);
        lean.translate(-0.5, -0.5);
        return lean.map(upright).simplified();
    }();
    return scaled(unit, size);
}

QPainterPath chainLinkPath(double size) {
    // Two overlapping rounded links side by side, as outlines.
    static const QPainterPath unit = [] {
        QPainterPath links;
        links.addRoundedRect(QRectF(0.04, 0.3, 0.56, 0.4), 0.2, 0.2);
        links.addRoundedRect(QRectF(0.4, 0.3, 0.56, 0.4), 0.2, 0.2);
        QPainterPathStroker line;
        line.setWidth(0.13);
        return line.createStroke(links).simplified();
    }();
    return scaled(unit, size);
}

void paintRingGauge(QPainter& painter, const QPointF& topLeft, const RingGauge& gauge,
                    const RingGaugeMotion& motion, qreal scale, RingGaugeCache& cache) {
    const double d = gauge.diameter;
    if (!(d > 0)) return;
    const QRectF frame(topLeft, QSizeF(d, d));
    const double on = std::clamp(motion.enabled, 0.0, 1.0);
    painter.save();
    painter.setOpacity(painter.opacity() * (kOffOpacity + (1 - kOffOpacity) * on));
    // The gauge is one group: drawn alone into its piece, turned grey there as a whole, and faded as a whole.
    cache.draw(
        painter, {gauge, motion}, frame.adjusted(-kRimMargin, -kRimMargin, kRimMargin, kRimMargin), scale,
        [&](QPainter& p) { paintGaugeGroup(p, frame, gauge, motion); },
        [on](QImage& image) {
            if (on < 1) desaturate(image, on);
        });
    painter.restore();
}

}  // namespace velaro
