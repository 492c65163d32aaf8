// One frame of each demonstration clip painted into its well (281 × 207 points at pixel ratio 2), against
// drawing an image of that size already made (the cost a decoded video frame would have). Goal: each clip's
// frame under 10 % of a 30 fps frame (3.3 ms).
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include "onboarding/TourClips.h"
#include "onboarding/TourVideoWell.h"

namespace {

constexpr qreal kScale = 2;
constexpr QSizeF kWell{281, 207};

QImage wellImage() {
    QImage image((kWell * kScale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(kScale);
    return image;
}

void BM_TourClipFrame(benchmark::State& state) {
    const auto clip = velaro::findTourClip(velaro::tourClipNames[std::size_t(state.range(0))]);
    const QRectF frame = velaro::coverFrame(clip->naturalSize(), kWell, {0, 0});
    QImage image = wellImage();
    double t = 0;
    for (auto _ : state) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(frame.topLeft());
        painter.scale(frame.width() / clip->naturalSize().width(),
                      frame.height() / clip->naturalSize().height());
        clip->paint(painter, t);
        painter.end();
        // Every frame is a new moment of the clip.
        t += 1.0 / 30;
        if (t > clip->duration()) t = 0;
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetLabel(std::string(velaro::tourClipNames[std::size_t(state.range(0))]));
}
BENCHMARK(BM_TourClipFrame)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);

void BM_TourClipFrame_Baseline(benchmark::State& state) {
    QImage cached = wellImage();
    cached.fill(Qt::darkCyan);
    QImage image = wellImage();
    for (auto _ : state) {
        QPainter painter(&image);
        painter.drawImage(QPointF(0, 0), cached);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_TourClipFrame_Baseline)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);

}  // namespace
