// Entry point of every benchmark program: a Qt application on the offscreen platform, then Google Benchmark.
// Started again by a whole-process benchmark with VELARO_BENCH_BARE_APP set, the program is instead the bare
// app that benchmark compares the real one with (see BenchDesktop.h).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QRasterWindow>
#include <QScreen>
#include <QSurfaceFormat>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdlib>
#include <cstring>

#include "BenchDesktop.h"

namespace {

// The progress line's baseline: a translucent window as wide as the screen and 16 pixels high along its top
// edge, whose 2-pixel line grows by one pixel every 0.1 s from 40 % of the width, each step repainting and
// flushing only the pixel it adds.
int runBareLine(QGuiApplication& app) {
    class Line final : public QRasterWindow {
    public:
        int end = 0;

    protected:
        void paintEvent(QPaintEvent* event) override {
            QPainter painter(this);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(event->rect(), Qt::transparent);
            painter.fillRect(QRect(0, 0, end, 2), QColor(255, 255, 255, 230));
        }
    } line;
    QSurfaceFormat format;
    format.setAlphaBufferSize(8);
    line.setFormat(format);
    line.setFlags(Qt::FramelessWindowHint | Qt::BypassWindowManagerHint | Qt::WindowTransparentForInput |
                  Qt::WindowDoesNotAcceptFocus);
    const int width = app.primaryScreen()->geometry().width();
    line.setGeometry(0, 0, width, 16);
    line.end = width * 2 / 5;
    line.show();
    QTimer step;
    step.setTimerType(Qt::PreciseTimer);
    QObject::connect(&step, &QTimer::timeout, [&] {
        if (line.end >= width) return;
        ++line.end;
        line.update(QRect(line.end - 1, 0, 1, 2));
    });
    step.start(100);
    return QGuiApplication::exec();
}

// A bare Qt Widgets app with a tray icon and one black strip over the top of the screen, as the band is;
// with "repaint" the strip takes a new colour 60 times a second, painted and flushed as a window does; with
// "line" a progress line takes the strip's place (runBareLine).
int runBareApp(const char* kind, int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    QPixmap icon(22, 22);
    icon.fill(Qt::white);
    QSystemTrayIcon tray{QIcon(icon)};
    tray.show();
    if (std::strcmp(kind, "line") == 0) return runBareLine(app);
    class Strip final : public QRasterWindow {
    public:
        QColor colour = Qt::black;

    protected:
        void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(QRect(QPoint(0, 0), size()), colour); }
    } strip;
    strip.setFlags(Qt::FramelessWindowHint | Qt::BypassWindowManagerHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowTransparentForInput);
    strip.setGeometry(0, 0, app.primaryScreen()->geometry().width(), 40);
    strip.show();
    QTimer recolour;
    int step = 0;
    if (std::strcmp(kind, "repaint") == 0) {
        QObject::connect(&recolour, &QTimer::timeout, [&] {
            strip.colour = QColor::fromHsv((step++ * 7) % 360, 200, 200);
            strip.update();
        });
        recolour.start(1000 / 60);
    }
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* bare = std::getenv(velaro::bench::kBareAppVariable)) return runBareApp(bare, argc, argv);
    // Benchmarks that paint or build images need a GUI application object, never a display.
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The offscreen platform gives OpenGL only where it finds a display as it starts.
    if (velaro::bench::desktopFirst()) velaro::bench::ensureDesktop(nullptr);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
