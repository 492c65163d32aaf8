// Entry point of every benchmark program: a Qt application on the offscreen platform, then Google Benchmark.
// Started again by a whole-process benchmark with VELARO_BENCH_BARE_APP set, the program is instead the bare
// app that benchmark compares the real one with (see BenchDesktop.h).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QRasterWindow>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BenchDesktop.h"

namespace {

// A bare Qt Widgets app with a tray icon and one black strip over the top of the screen, as the band is;
// with "repaint" the strip takes a new colour 60 times a second, painted and flushed as a window does; with
// "window" an ordinary window shows beside them, doing nothing.
int runBareApp(const char* kind, int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    QPixmap icon(22, 22);
    icon.fill(Qt::white);
    QSystemTrayIcon tray{QIcon(icon)};
    tray.show();
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
    // With "window", a plain window of the size VELARO_BENCH_BARE_WINDOW names ("700x640") shows as well.
    QWidget window;
    int width = 0, height = 0;
    if (std::strcmp(kind, "window") == 0) {
        if (const char* size = std::getenv(velaro::bench::kBareWindowVariable))
            std::sscanf(size, "%dx%d", &width, &height);
        window.resize(std::max(width, 100), std::max(height, 100));
        window.show();
    }
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
