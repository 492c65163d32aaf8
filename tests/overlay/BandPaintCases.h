// The settings every paint path of the band is checked in, the band windows painted in them, and the plain
// full paint their pixels are compared with: each fill style, the top corners on and off, the edge stroke on
// and off with a straight or a curved top, in the unified and the separate render mode. Shared by the
// offscreen check of the own window store and the desktop check of the X server's copies.
#pragma once

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "overlay/MenuBarOverlayWindow.h"
#include "overlay/OverlayTestSupport.h"
#include "overlay/UnifiedOverlayWindow.h"

namespace velaro::test {

enum class BandFill { solid, hardZones, blendedZones, drift, gradient, liveLine, liveStrip };

struct BandPaintCase {
    BandFill fill;
    bool corners;  // the top corners' ears on (radius kEarRadius) or off
    bool stroke;
    double strokeRadius;

    std::string name() const {
        static const char* const fills[] = {"solid",    "hard zones", "blended zones", "drift",
                                            "gradient", "live line",  "live strip"};
        return std::string(fills[int(fill)]) + (corners ? ", corners" : ", no corners") +
               (stroke ? ", stroke" : ", no stroke") + ", curve radius " + std::to_string(int(strokeRadius));
    }
};

// Every combination, the fill changing least often: one case after another changes a few rows or columns
// of the band, as a user's edits do.
inline std::vector<BandPaintCase> allBandPaintCases() {
    std::vector<BandPaintCase> cases;
    for (int fill = 0; fill <= int(BandFill::liveStrip); ++fill)
        for (const bool corners : {true, false})
            for (const bool stroke : {true, false})
                for (const double radius : {0.0, 20.0})
                    cases.push_back({BandFill(fill), corners, stroke, radius});
    return cases;
}

// A band window of either render mode with its view, over the settings and sampled values of the rig.
class BandPaintRig {
public:
    static constexpr double kWidth = 240, kBand = 30, kEarRadius = 16;

    BandPaintRig() : settings(store, loop), clock(settings, loop) {
        settings.autoSample = true;
        settings.strokeFadeLength = 12;
        // The drift shows a phase between two colours of its pattern.
        clock.setRunning(true);
        loop.advance(0.75);
        clock.setRunning(false);
    }

    // Ordered front, `origin` its top-left corner in global points.
    void makeBand(OverlayWindowHost& host, bool unified, Point origin = {0, 0}) {
        const double height = unified ? kBand + kEarRadius : kBand;
        const Rect frame(origin.x, origin.y - height, kWidth, height);
        if (unified) {
            unified_ = std::make_unique<UnifiedOverlayWindow>(
                host, loop, settings, feed_, clock, frame, OverlayWindowLevel::panel,
                UnifiedScreenMetrics{"A", [] { return kBand; }, [] { return kBand; }});
            unified_->presenter()->revealInstant = true;
            unified_->presenter()->shown = true;
        } else {
            bar_ = std::make_unique<MenuBarOverlayWindow>(host, loop, settings, feed_, clock, frame,
                                                          OverlayWindowLevel::panel);
        }
        window().orderFrontRegardless();
        loop.advance(1.0);
    }
    OverlayWindow& window() { return unified_ ? unified_->window() : bar_->window(); }

    // Shows the case's settings and the sampled values of one of two frames, every animation at its end.
    void apply(const BandPaintCase& c, int frame = 0) {
        const bool live = c.fill == BandFill::liveLine || c.fill == BandFill::liveStrip;
        settings.style = c.fill == BandFill::gradient ? MenuBarStyle::gradient
                         : live                       ? MenuBarStyle::live
                                                      : MenuBarStyle::solid;
        const bool zones = c.fill == BandFill::hardZones || c.fill == BandFill::blendedZones;
        settings.autoSample = !zones && c.fill != BandFill::drift;
        settings.overlayColorZones = OverlayColorZones({"#d04020", "#20a060", "#3050c0"},
                                                       c.fill == BandFill::blendedZones, zones, 0.5);
        auto drift = settings.hueDrift();
        drift.enabled = c.fill == BandFill::drift;
        settings.hueDrift = drift;
        settings.gradientTopFollowsSample = false;
        settings.gradientTopColor = Color::rgb(0.9, 0.8, 0.3);
        settings.gradientTopOpacity = 1.0;
        const double shade = frame == 0 ? 0 : 0.25;
        sampler.dominantColor = Color::rgb(0.85 - shade, 0.55, 0.3 + shade);
        sampler.liveLeftCornerColor = Color::rgb(0.8, 0.5 - shade, 0.3);
        sampler.liveRightCornerColor = Color::rgb(0.3, 0.5, 0.8 - shade);
        sampler.zoneColors = {Color::rgb(0.9, 0.2, 0.2 + shade), Color::rgb(0.2, 0.7, 0.3),
                              Color::rgb(0.2 + shade, 0.3, 0.9)};
        sampler.liveLine = c.fill == BandFill::liveLine ? std::optional(stripes(frame)) : std::nullopt;
        auto corners = settings.corners();
        corners.topLinked = true;
        corners.topRadius = kEarRadius;
        corners.topLeftEnabled = corners.topRightEnabled = c.corners;
        settings.corners = corners;
        settings.strokeEnabled = c.stroke;
        settings.strokeCurveRadius = c.strokeRadius;
        loop.advance(1.0);
    }

    // Four stripes of colour side by side, as a captured row shows four windows, 7 pixels each: stretched
    // over the band no pixel's border meets a device pixel's centre, where nearest sampling may go either
    // way. The next frame shows them in the opposite order.
    static LiveLine stripes(int frame = 0) {
        const QRgb colours[] = {qRgb(220, 40, 40), qRgb(40, 200, 60), qRgb(40, 60, 220), qRgb(230, 210, 40)};
        QImage row(28, 1, QImage::Format_RGB32);
        for (int x = 0; x < row.width(); ++x) row.setPixel(x, 0, colours[frame == 0 ? x / 7 : 3 - x / 7]);
        return LiveLine{row, kWidth};
    }

    VirtualLoop loop;
    FakeDefaultsStore store;
    OverlaySettings settings;
    HueDriftClock clock;
    FakeSamplerValues sampler;

private:
    OverlayFeed feed_ = sampler.feed();
    std::unique_ptr<MenuBarOverlayWindow> bar_;
    std::unique_ptr<UnifiedOverlayWindow> unified_;
};

// The window's content painted whole the plain way, `dpr` pixels a point: a shift far below a pixel's worth
// takes the painter off whole device pixels, so nothing is laid down from a picture made before.
inline QImage plainPaint(const OverlayWindow& window, double dpr) {
    const Size size = window.frame().size;
    QImage image(QSize(int(std::lround(size.width * dpr)), int(std::lround(size.height * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(1e-7, 1e-7);
    p.scale(dpr, dpr);
    window.content()(p, size);
    return image;
}

// The largest difference of a premultiplied channel between two pictures of one size, and where it is.
struct PixelDifference {
    int worst = 0;
    QPoint at;
};
inline PixelDifference largestDifference(const QImage& a, const QImage& b) {
    PixelDifference d;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int row = 0; row < std::min(x.height(), y.height()); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < std::min(x.width(), y.width()); ++col) {
            const QRgb u = p[col], v = q[col];
            const int diff = std::max({std::abs(qRed(u) - qRed(v)), std::abs(qGreen(u) - qGreen(v)),
                                       std::abs(qBlue(u) - qBlue(v)), std::abs(qAlpha(u) - qAlpha(v))});
            if (diff > d.worst) d = {diff, QPoint(col, row)};
        }
    }
    return d;
}

}  // namespace velaro::test
