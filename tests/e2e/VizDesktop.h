// What the desktop tests of the visualizer share: loud noise to play into the desktop's sink, the top strip
// of the screen as the compositor shows it, and whether the app's visualizer window exists.
#pragma once

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <chrono>
#include <cstdint>
#include <functional>

#include "e2e/E2eSupport.h"

namespace velaro::e2e {

// Loud noise, 16-bit stereo at 48 kHz, for `seconds`: every band of the analysis gets some of it.
inline QByteArray noise(double seconds) {
    const int frames = int(48000 * seconds);
    QByteArray data(frames * 4, Qt::Uninitialized);
    auto* samples = reinterpret_cast<std::int16_t*>(data.data());
    std::uint32_t state = 12345;
    for (int i = 0; i < frames * 2; ++i) {
        state = state * 1664525u + 1013904223u;
        samples[i] = std::int16_t(int(state >> 16) - 32768) / 3;
    }
    return data;
}

// The top 60 rows of the screen as the compositor shows them, read straight from the X server (a full
// screenshot through a file takes too long to time the bars with).
inline QImage topStrip() {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen->grabWindow(0, 0, 0, screen->geometry().width(), 60)
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// Pixels of the strip that differ clearly from the same pixels of `before`, left of the panel's clock and
// tray (the clock changes on its own).
inline int changedPixels(const QImage& shot, const QImage& before) {
    if (shot.size() != before.size() || shot.isNull()) return -1;
    int changed = 0;
    for (int y = 0; y < shot.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(before.constScanLine(y));
        for (int x = 0; x < shot.width() * 3 / 4; x += 2)
            if (!closeTo(QColor(a[x]), QColor(b[x]), 40)) ++changed;
    }
    return changed;
}

// Reads the strip until `accept` holds for one (returned) or `timeout` passes (the last one is returned).
inline QImage stripWhen(const std::function<bool(const QImage&)>& accept, std::chrono::milliseconds timeout) {
    QImage last;
    waitUntil(
        [&] {
            last = topStrip();
            return accept(last);
        },
        timeout);
    return last;
}

inline bool vizWindowExists() {
    const auto found = run(QStringLiteral("xdotool"),
                           {QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^viz-bar$")});
    return found.exitCode == 0 && !found.out.trimmed().isEmpty();
}

// The strip once the app's band over the panel has settled: the same in two shots in a row; null when it
// did not settle within 10 s.
inline QImage settledStrip() {
    QImage before = topStrip();
    bool same = false;
    const QImage settled = stripWhen(
        [&](const QImage& shot) {
            same = changedPixels(shot, before) == 0;
            before = shot;
            return same;
        },
        std::chrono::seconds(10));
    return same ? settled : QImage();
}

// Starts pacat playing what is written to `player` (16-bit stereo at 48 kHz) into the desktop's sink.
inline bool startPlayingIntoTheSink(QProcess& player) {
    player.start(
        QStringLiteral("pacat"),
        {QStringLiteral("--playback"), QStringLiteral("--device=@DEFAULT_SINK@"),
         QStringLiteral("--format=s16le"), QStringLiteral("--rate=48000"), QStringLiteral("--channels=2")});
    return player.waitForStarted(5000);
}

}  // namespace velaro::e2e
