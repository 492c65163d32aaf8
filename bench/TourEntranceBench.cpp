// One frame of the welcome page half way through its entrance (the logo and the three lines faded, lowered
// and blurred 4 points, at pixel ratio 2) against the same frame at rest, where every piece is a plain image
// drawn in place. Goal: the moving frame under half of a 60 Hz frame (8.3 ms).
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include "onboarding/WelcomePage.h"

namespace {

constexpr qreal kScale = 2;

void drawFrame(benchmark::State& state, double progress) {
    const velaro::WelcomeArt art(kScale);
    QImage frame(QSize(750, 500) * kScale, QImage::Format_ARGB32_Premultiplied);
    frame.setDevicePixelRatio(kScale);
    for (auto _ : state) {
        frame.fill(Qt::black);
        QPainter painter(&frame);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        art.paint(painter, {progress, progress, progress, progress});
        painter.end();
        benchmark::DoNotOptimize(frame.constBits());
    }
}

void BM_WelcomeEntranceFrame(benchmark::State& state) {
    drawFrame(state, 0.5);
}
BENCHMARK(BM_WelcomeEntranceFrame)->Unit(benchmark::kMillisecond);

void BM_WelcomeEntranceFrame_Baseline(benchmark::State& state) {
    drawFrame(state, 1.0);
}
BENCHMARK(BM_WelcomeEntranceFrame_Baseline)->Unit(benchmark::kMillisecond);

}  // namespace
