// Helpers shared by the end-to-end tests: the desktop's presence, screenshots, external commands (xdotool,
// the desktop scripts), waiting on a condition while Qt processes events, and reading root-window properties.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace velaro::e2e {

// True when a display to run on is set (scripts/test starts the test desktop and exports it).
bool haveDisplay();

// Skips the current test when there is no desktop to run it on.
#define VELARO_REQUIRE_DESKTOP()                                                                       \
    do {                                                                                               \
        if (!::velaro::e2e::haveDisplay())                                                             \
            GTEST_SKIP() << "DISPLAY is not set; end-to-end tests run inside scripts/desktop-session"; \
    } while (0)

QString sourceDir();  // the repository
QString buildDir();   // the CMake build directory these tests belong to
QString binDir();     // where the build puts executables (velaro, velaro-desktop-wait)

struct CommandResult {
    bool started = false;
    bool finished = false;  // false when it was killed at the timeout
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    // For failure messages: the command's status and stderr.
    QString describe() const;
};

// Runs a program to completion (killed after `timeout`), feeding `input` to its stdin.
CommandResult run(const QString& program, const QStringList& arguments,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20),
                  const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                  const QByteArray& input = {});

// Moves the pointer to a global position and clicks the given button there, through xdotool.
CommandResult click(int x, int y, int button = 1);

// Processes Qt events until `condition` holds or `timeout` passes; returns whether it held.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A picture of the whole root window as the compositor shows it; null (and `error` set) when it fails.
QImage screenshot(QString* error = nullptr);

// Takes screenshots until `accept` is true for one (returned) or `timeout` passes (the last one is returned).
QImage screenshotWhen(const std::function<bool(const QImage&)>& accept,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));

// True when every channel of `actual` is within `tolerance` of `expected`.
bool closeTo(QColor actual, QColor expected, int tolerance = 3);

// A 32-bit CARDINAL[] property of a window (the root when `window` is 0); empty when unset or on error.
std::vector<uint32_t> cardinalProperty(const char* property, uint32_t window = 0);
// The windows listed in the root's _NET_CLIENT_LIST.
std::vector<uint32_t> clientWindows();

}  // namespace velaro::e2e
