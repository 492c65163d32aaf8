// The band's fill styles.
#include "overlay/BarFillStyles.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "overlay/LiveStripView.h"

namespace velaro {

namespace {

double unitOr(double value, double fallback) {
    return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : fallback;
}

void fillHorizontal(QPainter& p, const QRectF& rect, const QGradientStops& stops) {
    QLinearGradient g(rect.topLeft(), rect.topRight());
    g.setStops(strictlyIncreasing(stops));
    p.fillRect(rect, g);
}

void fillEvenlySpaced(QPainter& p, const QRectF& rect, const std::vector<Color>& colors) {
    QGradientStops stops;
    const auto last = static_cast<double>(colors.size() - 1);
    for (std::size_t i = 0; i < colors.size(); ++i) stops.push_back({double(i) / last, toQColor(colors[i])});
    fillHorizontal(p, rect, stops);
}

// Equal bands side by side; the borders fall on pixel centres' sides so no pixel is painted twice.
void fillHardBands(QPainter& p, const QRectF& rect, const std::vector<Color>& colors) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    const auto n = static_cast<double>(colors.size());
    for (std::size_t i = 0; i < colors.size(); ++i) {
        const double x0 = rect.left() + rect.width() * double(i) / n;
        const double x1 = rect.left() + rect.width() * double(i + 1) / n;
        p.fillRect(QRectF(x0, rect.top(), x1 - x0, rect.height()), toQColor(colors[i]));
    }
    p.restore();
}

void fillBlendedZones(QPainter& p, const QRectF& rect, const std::vector<Color>& colors, double width) {
    const auto locations = zoneStopLocations(colors.size(), width);
    QGradientStops stops;
    for (std::size_t k = 0; k < locations.size(); ++k)
        stops.push_back({locations[k], toQColor(colors[k / 2])});
    fillHorizontal(p, rect, stops);
}

}  // namespace

QColor toQColor(const Color& c) {
    return QColor::fromRgbF(float(unitOr(c.red, 0)), float(unitOr(c.green, 0)), float(unitOr(c.blue, 0)),
                            float(unitOr(c.alpha, 0)));
}

Color fromQColor(const QColor& c) {
    return {c.redF(), c.greenF(), c.blueF(), c.alphaF()};
}

QGradientStops toQGradientStops(const std::vector<GradientStop>& stops) {
    QGradientStops out;
    out.reserve(qsizetype(stops.size()));
    for (const auto& s : stops) out.push_back({s.location, toQColor(s.color)});
    return strictlyIncreasing(std::move(out));
}

QGradientStops strictlyIncreasing(QGradientStops stops) {
    constexpr double hair = 1e-6;
    QGradientStops out;
    out.reserve(stops.size());
    for (auto stop : stops) {
        stop.first = unitOr(stop.first, 0);
        if (!out.empty() && stop.first <= out.back().first) {
            if (out.back().first + hair <= 1) {
                stop.first = out.back().first + hair;
            } else {
                const double floor = out.size() >= 2 ? out[out.size() - 2].first : 0.0;
                out.back().first = std::max(1 - hair, (floor + 1) / 2);
                stop.first = 1;
            }
        }
        out.push_back(stop);
    }
    return out;
}

std::vector<double> zoneStopLocations(std::size_t count, double transitionWidth) {
    std::vector<double> out;
    if (count == 0) return out;
    const auto n = static_cast<double>(count);
    const double h = unitOr(transitionWidth, 0) / (2 * n);
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(i == 0 ? 0.0 : double(i) / n + h);
        out.push_back(i + 1 == count ? 1.0 : double(i + 1) / n - h);
    }
    return out;
}

double driftScrollOffset(double phase, double stopCount, bool rightToLeft, double contentWidth) {
    const double d = stopCount > 1 ? stopCount : 1;
    const double q = std::isfinite(phase) ? phase / d : 0;
    double f = q - std::floor(q);
    if (!(f < 1)) f = 0;
    const double k = rightToLeft ? f : 1 - f;
    return k * (-0.5 * contentWidth);
}

bool MenuBarStyleFill::isUniformDown() const {
    switch (style) {
        case MenuBarStyle::solid:
            return true;
        case MenuBarStyle::gradient:
            return false;
        case MenuBarStyle::live:
            return !liveLine || liveLine->image.isNull() || liveLine->image.height() == 1;
    }
    return false;
}

bool MenuBarStyleFill::isOpaque() const {
    if (!(unitOr(opacity, 0) >= 1)) return false;
    const auto opaque = [](const Color& c) { return unitOr(c.alpha, 0) >= 1; };
    const auto allOpaque = [&](const std::vector<Color>& colors) {
        return std::all_of(colors.begin(), colors.end(), opaque);
    };
    switch (style) {
        case MenuBarStyle::solid:
            if (driftPattern.size() >= 2) return false;
            if (zoneColors.size() >= 2) return allOpaque(zoneColors);
            return opaque(zoneColors.size() == 1 ? zoneColors.front() : color);
        case MenuBarStyle::gradient:
            return opaque(gradientTopColor.value_or(color)) && opaque(gradientBottomColor.value_or(color)) &&
                   unitOr(gradientTopOpacity, 0) >= 1 && unitOr(gradientBottomOpacity, 0) >= 1;
        case MenuBarStyle::live:
            if (liveLine && !liveLine->image.isNull()) return LiveStripView::isOpaque(liveLine->image);
            if (colorStrip.size() >= 2) return allOpaque(colorStrip);
            return opaque(color);
    }
    return false;
}

void MenuBarStyleFill::paint(QPainter& p, const QRectF& rect, LiveStripView* strip) const {
    if (rect.isEmpty()) return;
    p.save();
    p.setOpacity(p.opacity() * unitOr(opacity, 0));
    p.setClipRect(rect, Qt::IntersectClip);
    switch (style) {
        case MenuBarStyle::solid:
            if (driftPattern.size() >= 2) {
                const double w = rect.width();
                const auto stops = toQGradientStops(
                    HueDriftClock::gradientStops(driftPattern, driftBlend, driftTransitionWidth));
                const double offset =
                    driftScrollOffset(driftPhase, double(driftPattern.size()), driftRightToLeft, 2 * w);
                // Two copies side by side: the strip repeats after w, so any offset in (-w, 0] fills the
                // band.
                for (int copy = 0; copy < 2; ++copy) {
                    const QRectF r(rect.left() + offset + copy * w, rect.top(), w, rect.height());
                    fillHorizontal(p, r, stops);
                }
            } else if (zoneColors.size() >= 2) {
                if (!zoneBlend)
                    fillHardBands(p, rect, zoneColors);
                else if (zoneTransitionWidth >= 1)
                    fillEvenlySpaced(p, rect, zoneColors);
                else
                    fillBlendedZones(p, rect, zoneColors, zoneTransitionWidth);
            } else {
                p.fillRect(rect, toQColor(zoneColors.size() == 1 ? zoneColors.front() : color));
            }
            break;
        case MenuBarStyle::gradient: {
            const Color topBase = gradientTopColor.value_or(color);
            const Color bottomBase = gradientBottomColor.value_or(color);
            const Color top = topBase.withAlpha(topBase.alpha * unitOr(gradientTopOpacity, 0));
            const Color bottom = bottomBase.withAlpha(bottomBase.alpha * unitOr(gradientBottomOpacity, 0));
            QLinearGradient g(QPointF(rect.left(), rect.bottom()), QPointF(rect.left(), rect.top()));
            g.setStops({{0.0, toQColor(bottom)}, {1.0, toQColor(top)}});
            p.fillRect(rect, g);
            break;
        }
        case MenuBarStyle::live:
            if (liveLine && !liveLine->image.isNull()) {
                if (strip) {
                    strip->push(liveLine->image);
                    strip->paint(p, rect);
                } else {
                    LiveStripView once;
                    once.push(liveLine->image);
                    once.paint(p, rect);
                }
            } else if (colorStrip.size() >= 2) {
                fillEvenlySpaced(p, rect, colorStrip);
            } else {
                p.fillRect(rect, toQColor(color));
            }
            break;
    }
    p.restore();
}

}  // namespace velaro
