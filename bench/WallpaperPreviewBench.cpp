// The Corner Rounding page's wallpaper preview, whose work is done once per new wallpaper (nothing runs while
// it stays the same). The capture worker's share for the usual desktop picture, a small tile the server
// repeats over a 1920 × 1080 display, scaled to 920 pixels straight from the tile, against expanding the
// tile over the display first and scaling that. The main thread's share of the new 920 × 575 picture (the
// capture's pixels copied into an image of their own, then the digest that tells whether it changed), against
// copying the same bytes with memcpy. And one repaint of the canvas (460 pt wide at 2 pixels a point) from
// its cached copy, against drawing the picture afresh on every repaint, which the ring layer above would
// cause at the pointer's rate while a ring fades or is dragged.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/CaptureFrame.h"
#include "platform/linux/X11CaptureCompose.h"
#include "sampling/WallpaperSnapshot.h"
#include "ui/settings/rings/WallpaperPreview.h"

namespace velaro {
namespace {

constexpr int kPictureWidth = 920, kPictureHeight = 575;
constexpr double kCanvasWidth = 460, kCanvasHeight = 460 / 1.6, kScale = 2;

CaptureFrame pictureFrame() {
    CaptureFrame frame;
    frame.width = kPictureWidth;
    frame.height = kPictureHeight;
    frame.bytesPerRow = kPictureWidth * 4;
    auto pixels = std::make_shared<std::vector<std::uint8_t>>(std::size_t(frame.bytesPerRow) * kPictureHeight);
    for (std::size_t i = 0; i < pixels->size(); ++i) (*pixels)[i] = std::uint8_t(i * 31 + (i >> 12));
    frame.pixels = pixels;
    return frame;
}

x11capture::BgraImage tile() {
    x11capture::BgraImage tile(8, 8);
    for (std::size_t i = 0; i < tile.bytes.size(); ++i) tile.bytes[i] = std::uint8_t(i * 31);
    return tile;
}
constexpr x11capture::PixelRect kDisplay{0, 0, 1920, 1080};
constexpr int kTileWidth = 920, kTileHeight = 517;

void BM_WallpaperFromTile(benchmark::State& state) {
    const auto from = tile();
    for (auto _ : state)
        benchmark::DoNotOptimize(x11capture::scaledTile(from, kDisplay, kTileWidth, kTileHeight));
}
BENCHMARK(BM_WallpaperFromTile)->Unit(benchmark::kMillisecond);

// The full-screen expansion the tile would otherwise go through.
void BM_WallpaperFromTile_Baseline(benchmark::State& state) {
    const auto from = tile();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            x11capture::scaled(x11capture::tiled(from, kDisplay), kTileWidth, kTileHeight));
}
BENCHMARK(BM_WallpaperFromTile_Baseline)->Unit(benchmark::kMillisecond);

void BM_WallpaperNewPicture(benchmark::State& state) {
    const CaptureFrame frame = pictureFrame();
    for (auto _ : state) {
        QImage image = imageFromFrame(frame);
        benchmark::DoNotOptimize(wallpaperDigest(image));
    }
}
BENCHMARK(BM_WallpaperNewPicture);

// The physical limit: the same bytes copied once.
void BM_WallpaperNewPicture_Baseline(benchmark::State& state) {
    const CaptureFrame frame = pictureFrame();
    std::vector<std::uint8_t> copy(frame.pixels->size());
    for (auto _ : state) {
        std::memcpy(copy.data(), frame.pixels->data(), copy.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_WallpaperNewPicture_Baseline);

QImage canvasImage() {
    QImage image(int(kCanvasWidth * kScale), int(kCanvasHeight * kScale), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(kScale);
    image.fill(Qt::white);
    return image;
}

std::optional<QImage> picture() {
    return imageFromFrame(pictureFrame());
}

void BM_WallpaperCanvasPaint(benchmark::State& state) {
    QImage rendered = canvasImage();
    WallpaperCanvas::render(rendered, picture(), QColor(0, 0, 0, 25));
    QImage window = canvasImage();
    const QRect all(0, 0, int(kCanvasWidth), int(kCanvasHeight));
    for (auto _ : state) {
        QPainter p(&window);
        WallpaperCanvas::paintRendered(p, rendered, all);
        p.end();
        benchmark::DoNotOptimize(window.constBits());
    }
}
BENCHMARK(BM_WallpaperCanvasPaint);

// Without the cache: the picture scaled, clipped and outlined again on every repaint.
void BM_WallpaperCanvasPaint_Baseline(benchmark::State& state) {
    const std::optional<QImage> shown = picture();
    QImage window = canvasImage();
    for (auto _ : state) {
        WallpaperCanvas::render(window, shown, QColor(0, 0, 0, 25));
        benchmark::DoNotOptimize(window.constBits());
    }
}
BENCHMARK(BM_WallpaperCanvasPaint_Baseline);

}  // namespace
}  // namespace velaro
