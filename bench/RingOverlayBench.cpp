// Painting the corner-rounding preview's ring layer (600 × 400 pt at 2 pixels a point: four rings of 37.6 pt,
// one hovered with its plate, menu capsule and colour swatch, both link badges) for one frame of a drag while
// the hovered ring's menu fades in: the dragged ring shows a new radius and the menu a new opacity and scale
// on every frame. Against drawing a cached image of the whole layer onto the same pixels. The layer repaints
// at pointer rate while this goes on, and must stay a small part of a 16.7 ms frame.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include "ui/settings/rings/RingScene.h"

namespace velaro {
namespace {

constexpr double kWidth = 600, kHeight = 400, kScale = 2;

QImage layerImage() {
    QImage image(int(kWidth * kScale), int(kHeight * kScale), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(kScale);
    image.fill(Qt::transparent);
    return image;
}

RingScene hoveredScene(double diameter) {
    RingScene scene;
    for (GaugeCorner corner : allGaugeCorners) {
        RingCellLook& look = scene.cells[std::size_t(corner)];
        look.gauge.valuePX = 12 + 9 * int(corner);
        look.gauge.isTop = isTopGauge(corner);
        look.gauge.diameter = diameter;
        look.gauge.enabled = corner != GaugeCorner::topRight;  // one grey ring
        look.motion = RingGaugeMotion::settled(look.gauge);
    }
    RingCellLook& hovered = scene.cells[std::size_t(GaugeCorner::bottomLeft)];
    hovered.open = 1;
    hovered.customSelected = true;
    hovered.customHex = "#FF6618";
    scene.cells[std::size_t(GaugeCorner::bottomRight)].motion.rim = 1;
    scene.badges[0] = {true, true, 1, 0};
    scene.badges[1] = {false, true, 0, 1};
    return scene;
}

void BM_RingLayerPaint(benchmark::State& state) {
    QImage image = layerImage();
    const RingOverlayLayout layout = RingOverlayLayout::of({kWidth, kHeight});
    RingScene scene = hoveredScene(layout.diameter);
    RingCellLook& dragged = scene.cells[std::size_t(GaugeCorner::bottomLeft)];
    RingPaintCache cache;
    int frame = 0;
    for (auto _ : state) {
        ++frame;
        dragged.gauge.valuePX = 5 + (frame % 160) * 0.25;
        dragged.open = 0.5 + (frame % 50) / 100.0;
        image.fill(Qt::transparent);
        QPainter p(&image);
        paintRingScene(p, layout, scene, kScale, cache);
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_RingLayerPaint);

// The limit: the same pixels cleared and then covered by one cached image of the layer.
void BM_RingLayerPaint_Baseline(benchmark::State& state) {
    QImage image = layerImage();
    QImage cached = layerImage();
    {
        QPainter p(&cached);
        RingPaintCache cache;
        const RingOverlayLayout layout = RingOverlayLayout::of({kWidth, kHeight});
        paintRingScene(p, layout, hoveredScene(layout.diameter), kScale, cache);
    }
    for (auto _ : state) {
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.drawImage(QPointF(0, 0), cached);
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_RingLayerPaint_Baseline);

}  // namespace
}  // namespace velaro
