// Helpers shared by the end-to-end tests: the desktop's presence, screenshots, external commands (xdotool,
// the desktop scripts), waiting on a condition while Qt processes events, reading root-window properties and
// asking the window manager to maximise a window.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <algorithm>
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

// Moves the pointer to a global position as an input device would (relative motion through XTest, which
// the input extension reports as raw motion, unlike xdotool's warp); false when it did not get there.
bool movePointerByDevice(int x, int y);

// Processes Qt events until `condition` holds or `timeout` passes; returns whether it held.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Asks (`ask`) at once and again every `askEvery` until `condition` holds or `timeout` passes, processing Qt
// events meanwhile as waitUntil does; returns whether it held. A window manager still taking a window on, or
// busy with another, may let a request about it pass.
bool askUntil(const std::function<void()>& ask, const std::function<bool()>& condition,
              std::chrono::milliseconds timeout = std::chrono::seconds(10),
              std::chrono::milliseconds askEvery = std::chrono::milliseconds(500));

// A picture of the whole root window as the compositor shows it; null (and `error` set) when it fails.
QImage screenshot(QString* error = nullptr);

// Takes screenshots until `accept` is true for one (returned) or `timeout` passes (the last one is returned).
QImage screenshotWhen(const std::function<bool(const QImage&)>& accept,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));

// One pixel of the root window as the compositor shows it, read straight from the server (a screenshot
// through an outside program takes long enough to blur a timing); invalid when it cannot be read.
QColor screenPixel(QPoint at);

// One pixel of a drawable (a window's own picture, a pixmap; the root's, as the compositor shows it, when 0);
// invalid when it cannot be read.
QColor pixelOf(uint32_t drawable, QPoint at);

// True when every channel of `actual` is within `tolerance` of `expected`.
bool closeTo(QColor actual, QColor expected, int tolerance = 3);

// A 32-bit CARDINAL[] property of a window (the root when `window` is 0); empty when unset or on error.
std::vector<uint32_t> cardinalProperty(const char* property, uint32_t window = 0);
// The windows listed in the root's _NET_CLIENT_LIST.
std::vector<uint32_t> clientWindows();
// The panel's height at the top of the primary monitor: the largest top strut of the docks.
int panelHeight();

// Adds or removes both maximised states of a client window, as a pager asks the window manager.
void setMaximised(uint32_t window, bool on);

// Asks the window manager to close a client window, as a pager or its close button does.
void requestClose(uint32_t window);
// Asks the window manager to close a client window until `closed` holds; whether it did within `timeout`.
bool closeWindow(uint32_t window, const std::function<bool()>& closed,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Our own override-redirect window of one colour that takes no input, as the overlay windows are.
class OwnWindow : public QWidget {
public:
    OwnWindow(QColor colour, QRect place);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor colour_;
};

// A decorated window of another program (xmessage, its WM_CLASS instance `name`) in a process of its own,
// so that its windows are another app's. The program ends with this object.
class OtherProgram {
public:
    explicit OtherProgram(const QString& name, const QString& geometry = "300x200+200+200");
    // Any program that takes the toolkit's "-name" for its WM_CLASS instance (xterm, say).
    OtherProgram(const QString& program, const QString& name, const QStringList& arguments);
    ~OtherProgram();
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    bool started() { return process_.waitForStarted(5000); }
    int32_t pid() const { return static_cast<int32_t>(process_.processId()); }
    bool running() const { return process_.state() == QProcess::Running; }
    // Ended, as the system sees it (Qt learns of it only on a later turn of its loop).
    bool ended() const;
    // Blocks this thread, its event loop with it, until the program ends or `timeout` passes; whether it
    // ended. For a test of what the desktop does while this thread does not answer.
    bool endsWithin(std::chrono::milliseconds timeout) const;
    void kill() { process_.kill(); }

    // The managed client window once the window manager lists it, else 0.
    uint32_t window();
    // The same, once the window manager has also put its frame around it.
    uint32_t framedWindow();
    // The window's number as xdotool takes it.
    QString id() { return QString::number(window()); }

private:
    QString name_;
    QProcess process_;
    uint32_t window_ = 0;
};

// Asks the window manager to draw no decorations around a client window (Motif hints, which openbox follows
// also after the window is mapped).
void setUndecorated(uint32_t window);

// How many connections the process `pid` holds to the X server, as the server counts its clients
// (X-Resource); -1 when the server cannot tell.
int xClientsOf(int64_t pid);
// How many resources of a type ("DamageExt", "PIXMAP", …) the connections of process `pid` hold on the server;
// -1 when the server cannot tell.
int xResourcesOf(int64_t pid, const char* type);

// A frameless window of this test process in one colour that counts the mouse presses it gets: what a
// click through the app's windows should reach.
class PressCountingWindow : public QWidget {
public:
    explicit PressCountingWindow(QColor colour);
    int presses = 0;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;

private:
    QColor colour_;
};

// A borderless window of this test process (another program to the app) in one colour, maximised.
class SolidWindow {
public:
    explicit SolidWindow(QColor colour);
    void paint(QColor colour);
    QWidget& widget() { return window_; }

private:
    QWidget window_;
};

// The longest time this thread's event loop did not turn while the watch lives (a 5-ms timer's late
// firings), in milliseconds: what a test reads to tell that the app's main loop never waited on anything.
class LoopStandWatch {
public:
    LoopStandWatch() {
        QObject::connect(&tick_, &QTimer::timeout,
                         [this] { longest_ = std::max(longest_, since_.restart()); });
        since_.start();
        tick_.start(5);
    }
    qint64 longest() const { return longest_; }

private:
    QElapsedTimer since_;
    qint64 longest_ = 0;
    QTimer tick_;
};

}  // namespace velaro::e2e
