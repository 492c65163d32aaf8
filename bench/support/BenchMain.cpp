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
#include <QRegion>
#include <QScreen>
#include <QSurfaceFormat>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "BareShmGrab.h"
#include "BenchDesktop.h"
#include "LoopGaps.h"

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

// A translucent window placed as VELARO_BENCH_BARE_BAND says, as the live band's is, whose band and ears
// (squares: no shape of ours) take a new colour at every refresh of the screen, painted and flushed only
// there as a Qt window does.
int runBareBand(QApplication& app) {
    int x = 0, y = 0, width = 1920, height = 60, band = 32, ear = 28;
    if (const char* place = std::getenv(velaro::bench::kBareBandVariable))
        std::sscanf(place, "%d %d %d %d %d %d", &x, &y, &width, &height, &band, &ear);
    const QRegion painted =
        QRegion(0, 0, width, band) + QRegion(0, band, ear, ear) + QRegion(width - ear, band, ear, ear);
    class Band final : public QRasterWindow {
    public:
        QColor colour = Qt::black;
        QRegion painted;

    protected:
        void paintEvent(QPaintEvent*) override {
            QPainter p(this);
            for (const QRect& r : painted) p.fillRect(r, colour);
        }
    } window;
    window.painted = painted;
    QSurfaceFormat format;
    format.setAlphaBufferSize(8);
    window.setFormat(format);
    window.setFlags(Qt::FramelessWindowHint | Qt::BypassWindowManagerHint | Qt::WindowStaysOnTopHint |
                    Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
    window.setGeometry(x, y, width, height);
    window.show();
    const double hz = app.primaryScreen()->refreshRate() >= 30 ? app.primaryScreen()->refreshRate() : 60.0;
    const auto period = std::chrono::duration<double>(1 / hz);
    auto next = std::chrono::steady_clock::now();
    int step = 0;
    QTimer refresh;
    refresh.setSingleShot(true);
    refresh.setTimerType(Qt::PreciseTimer);
    QObject::connect(&refresh, &QTimer::timeout, [&] {
        window.colour = QColor::fromHsv((step++ * 7) % 360, 200, 200);
        window.update(painted);
        next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(next - std::chrono::steady_clock::now());
        refresh.start(std::max(0, int(wait.count())));
    });
    refresh.start(0);
    return QApplication::exec();
}

// The live capture's baseline over a still window: a bare MIT-SHM grab of the strip VELARO_BENCH_BARE_GRAB
// names, 60 times a second, on a connection of its own, and nothing else.
int runBareGrab() {
    int x = 0, y = 28, width = 1920, height = 6;
    if (const char* strip = std::getenv(velaro::bench::kBareGrabVariable))
        std::sscanf(strip, "%d %d %d %d", &x, &y, &width, &height);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) return 1;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    velaro::bench::BareShmGrab grab(c, root, {x, y, width, height});
    const auto period = std::chrono::microseconds(16667);
    for (auto next = std::chrono::steady_clock::now();; next += period) {
        if (!grab.grab()) return 1;
        std::this_thread::sleep_until(next + period);
    }
}

// A plain window doing nothing, whose main loop's stands go to the file VELARO_BENCH_BARE_GAPS names.
int runBareGaps() {
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare"));
    window.setGeometry(900, 500, 300, 200);
    window.show();
    const char* path = std::getenv(velaro::bench::kBareGapsVariable);
    FILE* out = std::fopen(path ? path : "/dev/null", "w");
    if (!out) return 1;
    velaro::bench::LoopGaps gaps([out](const velaro::bench::LoopGap& gap) {
        std::fprintf(out, "%.6f %.6f\n", gap.end, gap.length);
        std::fflush(out);
    });
    return QApplication::exec();
}

// A bare Qt Widgets app with a tray icon and one black strip over the top of the screen, as the band is;
// with "band", the translucent band above instead of the strip; with "line", a progress line (runBareLine);
// with "window" an ordinary window shows beside the strip, doing nothing; "gaps" is runBareGaps, alone.
int runBareApp(const char* kind, int argc, char** argv) {
    if (std::strcmp(kind, "grab") == 0) return runBareGrab();
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    if (std::strcmp(kind, "gaps") == 0) return runBareGaps();
    QPixmap icon(22, 22);
    icon.fill(Qt::white);
    QSystemTrayIcon tray{QIcon(icon)};
    tray.show();
    if (std::strcmp(kind, "line") == 0) return runBareLine(app);
    if (std::strcmp(kind, "band") == 0) return runBareBand(app);
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
