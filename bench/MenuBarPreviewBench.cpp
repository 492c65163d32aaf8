// Painting the settings' bar miniature once (460 × 24 pt at 2 pixels a point, ten blended colour zones, the
// mock items), against filling the same image with one colour: the miniature repaints on every step of its
// fades and on every sampler publication while the popover or the Appearance page shows it.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>

#include "ui/settings/kit/MenuBarPreview.h"

namespace velaro {
namespace {

constexpr double kWidth = 460, kHeight = MenuBarPreview::barHeight, kScale = 2;

QImage previewImage() {
    QImage image(int(kWidth * kScale), int(kHeight * kScale), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(kScale);
    image.fill(Qt::white);
    return image;
}

MenuBarPreview::Inputs tenBlendedZones() {
    MenuBarPreview::Inputs in;
    in.opacity = 0.8;
    for (int i = 0; i < 10; ++i) in.zoneColors.push_back(Color::rgb(i / 10.0, 1 - i / 10.0, 0.5));
    in.zoneBlend = true;
    in.zoneTransitionWidth = 0.6;
    return in;
}

void BM_MenuBarPreviewPaint(benchmark::State& state) {
    QImage image = previewImage();
    const MenuBarPreview::Inputs inputs = tenBlendedZones();
    const QPalette palette = QGuiApplication::palette();
    for (auto _ : state) {
        QPainter p(&image);
        MenuBarPreview::paint(p, QRectF(0, 0, kWidth, kHeight), inputs, palette, kScale);
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_MenuBarPreviewPaint);

// The physical limit: one colour over the same pixels through the same painter set-up.
void BM_MenuBarPreviewPaint_Baseline(benchmark::State& state) {
    QImage image = previewImage();
    for (auto _ : state) {
        QPainter p(&image);
        p.fillRect(QRectF(0, 0, kWidth, kHeight), QColor(40, 80, 120));
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_MenuBarPreviewPaint_Baseline);

}  // namespace
}  // namespace velaro
