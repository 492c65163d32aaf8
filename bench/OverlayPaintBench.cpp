// Painting one screen's band (1920 × 24 pt at 2 pixels a point) in each fill style, against filling the same
// image with one colour: what laying out zones, the drift pattern or the live strip adds to the bare fill.
// The band is painted as its window paints it: into pixels of the screen's ratio, the painter unscaled.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include "overlay/BarFillStyles.h"
#include "overlay/LiveStripView.h"

namespace velaro {
namespace {

constexpr double kWidth = 1920, kHeight = 24, kScale = 2;

QImage bandImage() {
    QImage image(int(kWidth * kScale), int(kHeight * kScale), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(kScale);
    image.fill(Qt::transparent);
    return image;
}

std::vector<Color> palette(int n) {
    std::vector<Color> out;
    for (int i = 0; i < n; ++i) out.push_back(Color::rgb(double(i) / n, 1 - double(i) / n, 0.5));
    return out;
}

void paintLoop(benchmark::State& state, const MenuBarStyleFill& fill, LiveStripView* strip = nullptr) {
    QImage image = bandImage();
    for (auto _ : state) {
        QPainter p(&image);
        fill.paint(p, QRectF(0, 0, kWidth, kHeight), strip);
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}

// The fill of each style: 0 solid, 1 hard zones, 2 blended zones, 3 drift, 4 live strip.
MenuBarStyleFill fillOfStyle(int which) {
    MenuBarStyleFill fill;
    fill.color = Color::rgb(0.2, 0.4, 0.6);
    fill.opacity = 0.9;
    switch (which) {
        case 1:
        case 2:
            fill.zoneColors = palette(10);
            fill.zoneBlend = which == 2;
            fill.zoneTransitionWidth = 0.4;
            break;
        case 3:
            fill.driftPattern = palette(8);
            fill.driftPhase = 3.3;
            break;
        case 4: {
            QImage line(int(kWidth * kScale), 1, QImage::Format_RGB32);
            for (int x = 0; x < line.width(); ++x) line.setPixel(x, 0, qRgb(x % 256, 80, 255 - x % 256));
            fill.style = MenuBarStyle::live;
            fill.liveLine = LiveLine{line, kWidth};
            break;
        }
        default:
            break;
    }
    return fill;
}

void BM_Band(benchmark::State& state) {
    const auto fill = fillOfStyle(int(state.range(0)));
    LiveStripView strip;
    paintLoop(state, fill, &strip);
}
BENCHMARK(BM_Band)->DenseRange(0, 4);

// The physical limit: one opaque-colour fill of the same pixels through the same painter set-up.
void BM_Band_Baseline(benchmark::State& state) {
    QImage image = bandImage();
    for (auto _ : state) {
        QPainter p(&image);
        p.fillRect(QRectF(0, 0, kWidth, kHeight), QColor(51, 102, 153));
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_Band_Baseline)->DenseRange(0, 4);

}  // namespace
}  // namespace velaro
