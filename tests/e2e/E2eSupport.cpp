// Helpers shared by the end-to-end tests: screenshots, external commands, event-driven waits, X properties,
// maximising and another program's window.
#include "e2e/E2eSupport.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <xcb/res.h>
#include <xcb/xcb.h>


#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QTimer>

#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "platform/linux/XcbUtil.h"

namespace velaro::e2e {

namespace {

// The test target asks for the xcb platform, but Qt aborts at start-up when that platform has no display.
// Without a display every test skips anyway, so let the application come up offscreen to report the skips.
// This runs before main(), which creates the application.
const bool kPlatformChosen = [] {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return true;
}();

// Every test starts with the pointer in the middle of the screen. A pointer an earlier test left on the panel
// (after clicking the tray icon, say) holds sampling through the hover pause, and the colour never comes.
class PointerOffThePanel final : public ::testing::Environment {
public:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display && *display)
            QProcess::execute(QStringLiteral("xdotool"),
                              {QStringLiteral("mousemove"), QStringLiteral("960"), QStringLiteral("540")});
    }
};
[[maybe_unused]] ::testing::Environment* const kPointerOffThePanel =
    ::testing::AddGlobalTestEnvironment(new PointerOffThePanel);

struct XcbConnection {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = XCB_WINDOW_NONE;
    XcbConnection() {
        int screenNumber = 0;
        connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection)) return;
        auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
        root = screens.data->root;
    }
    ~XcbConnection() { xcb_disconnect(connection); }
    bool ok() const { return root != XCB_WINDOW_NONE; }
};

// The atom of `name`; XCB_ATOM_NONE when it cannot be had (or, with `onlyIfExists`, when no client made it).
xcb_atom_t atomOf(const XcbConnection& x, const char* name, bool onlyIfExists) {
    if (!x.ok()) return XCB_ATOM_NONE;
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(x.connection,
                              xcb_intern_atom(x.connection, onlyIfExists ? 1 : 0, std::strlen(name), name),
                              nullptr),
        &std::free);
    return atom ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
}

std::vector<uint32_t> property32(const XcbConnection& x, xcb_window_t window, const char* name,
                                 xcb_atom_t type) {
    const xcb_atom_t atom = atomOf(x, name, true);
    if (atom == XCB_ATOM_NONE) return {};
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(
            x.connection, xcb_get_property(x.connection, 0, window ? window : x.root, atom, type, 0, 4096),
            nullptr),
        &std::free);
    if (!reply || reply->format != 32) return {};
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return {values, values + xcb_get_property_value_length(reply.get()) / 4};
}

}  // namespace

bool haveDisplay() {
    const char* display = std::getenv("DISPLAY");
    return display && *display;
}

QString sourceDir() {
    return QStringLiteral(VELARO_SOURCE_DIR);
}
QString buildDir() {
    return QStringLiteral(VELARO_BUILD_DIR);
}
QString binDir() {
    return QStringLiteral(VELARO_BIN_DIR);
}

QString CommandResult::describe() const {
    if (!started) return QStringLiteral("did not start: ") + QString::fromLocal8Bit(err);
    if (!finished) return QStringLiteral("timed out; stderr: ") + QString::fromLocal8Bit(err);
    return QStringLiteral("exit code %1; stderr: %2").arg(exitCode).arg(QString::fromLocal8Bit(err));
}

CommandResult run(const QString& program, const QStringList& arguments, std::chrono::milliseconds timeout,
                  const QProcessEnvironment& environment, const QByteArray& input) {
    CommandResult result;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForStarted(static_cast<int>(timeout.count()))) {
        result.err = process.errorString().toLocal8Bit();
        return result;
    }
    result.started = true;
    if (!input.isEmpty()) process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(static_cast<int>(timeout.count()))) {
        process.kill();
        process.waitForFinished(5000);
    } else {
        result.finished = process.exitStatus() == QProcess::NormalExit;
    }
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

CommandResult click(int x, int y, int button) {
    return run(QStringLiteral("xdotool"),
               {QStringLiteral("mousemove"), QString::number(x), QString::number(y), QStringLiteral("click"),
                QString::number(button)});
}

bool movePointerByDevice(int x, int y) {
    // Pointer acceleration may stretch a relative move: correct until it lands.
    for (int attempt = 0; attempt < 6; ++attempt) {
        int atX = -1, atY = -1;
        for (const auto& line : run("xdotool", {"getmouselocation", "--shell"}).out.split('\n')) {
            if (line.startsWith("X=")) atX = line.mid(2).toInt();
            if (line.startsWith("Y=")) atY = line.mid(2).toInt();
        }
        if (atX == x && atY == y) return true;
        if (atX < 0 || atY < 0) return false;
        run("xdotool", {"mousemove_relative", "--", QString::number(x - atX), QString::number(y - atY)});
    }
    return false;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        // Let Qt deliver what arrived (X events, process output) and give the desktop a moment to act.
        QEventLoop loop;
        QTimer::singleShot(15, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

bool askUntil(const std::function<void()>& ask, const std::function<bool()>& condition,
              std::chrono::milliseconds timeout, std::chrono::milliseconds askEvery) {
    ask();
    auto asked = std::chrono::steady_clock::now();
    return waitUntil(
        [&] {
            if (condition()) return true;
            if (const auto now = std::chrono::steady_clock::now(); now - asked >= askEvery) {
                ask();
                asked = now;
            }
            return false;
        },
        timeout);
}

// Read straight from the server, as screenPixel reads one pixel: an outside program writing and this process
// reading back a PNG took a third of a second a picture, which every wait on a screenshot polled at.
QImage screenshot(QString* error) {
    XcbConnection x;
    const auto fail = [&](const char* why) {
        if (error) *error = QStringLiteral("screenshot of the root window: ") + QString::fromLatin1(why);
        return QImage();
    };
    if (!x.ok()) return fail("no connection to the X server");
    auto* c = x.connection;
    const auto geometry = x11::own(xcb_get_geometry_reply(c, xcb_get_geometry(c, x.root), nullptr));
    if (!geometry) return fail("no geometry");
    const int width = geometry->width, height = geometry->height;
    const auto reply = x11::own(xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, x.root, 0, 0, geometry->width, geometry->height, ~0u),
        nullptr));
    // The test desktops run at depth 24 with 32 bits a pixel: blue, green, red, unused, as QImage's RGB32.
    const qsizetype rowBytes = qsizetype(width) * 4;
    if (!reply || reply->depth != 24 || xcb_get_image_data_length(reply.get()) < rowBytes * height)
        return fail("no picture of depth 24 with 32 bits a pixel");
    QImage image(width, height, QImage::Format_RGB32);
    const uint8_t* data = xcb_get_image_data(reply.get());
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(image.scanLine(y));
        std::memcpy(line, data + y * rowBytes, std::size_t(rowBytes));
        for (int i = 0; i < width; ++i) line[i] |= 0xff000000u;  // the unused byte, opaque as RGB32 wants
    }
    return image;
}

QImage screenshotWhen(const std::function<bool(const QImage&)>& accept, std::chrono::milliseconds timeout) {
    QImage last;
    waitUntil(
        [&] {
            last = screenshot();
            return !last.isNull() && accept(last);
        },
        timeout);
    return last;
}

QColor pixelOf(uint32_t drawable, QPoint at) {
    XcbConnection x;
    if (!x.ok()) return {};
    auto* c = x.connection;
    const auto reply = x11::own(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable ? drawable : x.root, static_cast<int16_t>(at.x()),
                      static_cast<int16_t>(at.y()), 1, 1, ~0u),
        nullptr));
    // The test desktops run at depth 24 with 32 bits a pixel: blue, green, red, unused.
    if (!reply || xcb_get_image_data_length(reply.get()) < 4) return {};
    const auto* p = xcb_get_image_data(reply.get());
    return QColor(p[2], p[1], p[0]);
}

QColor screenPixel(QPoint at) {
    return pixelOf(0, at);
}

bool closeTo(QColor actual, QColor expected, int tolerance) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

std::vector<uint32_t> cardinalProperty(const char* property, uint32_t window) {
    XcbConnection x;
    return property32(x, window, property, XCB_ATOM_CARDINAL);
}

std::vector<uint32_t> clientWindows() {
    XcbConnection x;
    return property32(x, 0, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW);
}

int panelHeight() {
    int top = 0;
    for (auto window : clientWindows()) {
        const auto strut = cardinalProperty("_NET_WM_STRUT_PARTIAL", window);
        if (strut.size() >= 3) top = std::max(top, int(strut[2]));
    }
    return top;
}

namespace {

// Sends a client message about `window` to the window manager, as pagers and other clients ask it.
void askWindowManager(uint32_t window, const char* type, std::array<uint32_t, 4> data) {
    XcbConnection x;
    if (!x.ok()) {
        ADD_FAILURE() << "no X display to ask the window manager (" << type << ")";
        return;
    }
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atomOf(x, type, false);
    for (std::size_t i = 0; i < data.size(); ++i) message.data.data32[i] = data[i];
    // Checked: the connection closes right after, and a message only flushed on a connection closed at once
    // was at times dropped by the server, never reaching the window manager (on a busy machine, one run in
    // ten closed no window, however often it was asked).
    std::free(xcb_request_check(
        x.connection,
        xcb_send_event_checked(x.connection, 0, x.root,
                               XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                               reinterpret_cast<const char*>(&message))));
}

}  // namespace

void setMaximised(uint32_t window, bool on) {
    // Add or remove both states; the last word says the request comes from an application.
    XcbConnection x;
    if (!x.ok()) {
        ADD_FAILURE() << "no X display to ask for the maximised state";
        return;
    }
    askWindowManager(window, "_NET_WM_STATE",
                     {on ? 1u : 0u, atomOf(x, "_NET_WM_STATE_MAXIMIZED_VERT", false),
                      atomOf(x, "_NET_WM_STATE_MAXIMIZED_HORZ", false), 1u});
}

void requestClose(uint32_t window) {
    askWindowManager(window, "_NET_CLOSE_WINDOW", {XCB_CURRENT_TIME, 1u, 0u, 0u});
}

bool closeWindow(uint32_t window, const std::function<bool()>& closed, std::chrono::milliseconds timeout) {
    return askUntil([window] { requestClose(window); }, closed, timeout);
}

OtherProgram::OtherProgram(const QString& name, const QString& geometry)
    : OtherProgram("xmessage", name, {"-geometry", geometry, "another program: " + name}) {}

OtherProgram::OtherProgram(const QString& program, const QString& name, const QStringList& arguments)
    : name_(name) {
    process_.start(program, QStringList{"-name", name} + arguments);
}

OtherProgram::~OtherProgram() {
    process_.kill();
    process_.waitForFinished(5000);
}

bool OtherProgram::ended() const {
    std::ifstream stat("/proc/" + std::to_string(process_.processId()) + "/stat");
    std::string pid, name, state;
    return !(stat >> pid >> name >> state) || state == "Z";
}

bool OtherProgram::endsWithin(std::chrono::milliseconds timeout) const {
    // A process descriptor turns readable when the process ends, whether or not its parent has reaped it.
    const int descriptor = static_cast<int>(syscall(SYS_pidfd_open, pid(), 0));
    if (descriptor < 0) return ended();
    pollfd end{descriptor, POLLIN, 0};
    const int ready = ::poll(&end, 1, static_cast<int>(timeout.count()));
    ::close(descriptor);
    return ready > 0 || ended();
}

uint32_t OtherProgram::window() {
    if (window_) return window_;
    auto x = x11::Connection::open();
    if (!x) return 0;
    for (auto w : clientWindows()) {
        auto reply = x11::own(xcb_get_property_reply(
            x->get(), x11::askProperty(x->get(), w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING), nullptr));
        if (x11::splitWindowClass(x11::bytes8(reply.get())).first == name_.toStdString()) window_ = w;
    }
    return window_;
}

uint32_t OtherProgram::framedWindow() {
    const auto w = window();
    return w && cardinalProperty("_NET_FRAME_EXTENTS", w).size() == 4 ? w : 0;
}

OwnWindow::OwnWindow(QColor colour, QRect place) : colour_(colour) {
    setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setGeometry(place);
}

void OwnWindow::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), colour_);
}

void setUndecorated(uint32_t window) {
    auto x = x11::Connection::open();
    if (!x) return;
    // flags: decorations given; decorations: none.
    const std::uint32_t hints[5] = {2, 0, 0, 0, 0};
    const auto atom = x->atom("_MOTIF_WM_HINTS");
    // Checked, so that the server has the hints before the connection closes: a change only flushed on a
    // connection closed at once was at times never seen by the window manager.
    std::free(xcb_request_check(
        x->get(), xcb_change_property_checked(x->get(), XCB_PROP_MODE_REPLACE, window, atom, atom, 32, 5, hints)));
}

int xClientsOf(int64_t pid) {
    auto x = x11::Connection::open();
    const auto clients = x ? x11::clientsOfProcess(*x, pid) : std::nullopt;
    return clients ? static_cast<int>(clients->size()) : -1;
}

int xResourcesOf(int64_t pid, const char* type) {
    auto x = x11::Connection::open();
    const auto clients = x ? x11::clientsOfProcess(*x, pid) : std::nullopt;
    if (!clients) return -1;
    auto* c = x->get();
    const xcb_atom_t wanted = x->atom(type);
    int count = 0;
    for (const auto client : *clients) {
        auto held = x11::own(xcb_res_query_client_resources_reply(c, xcb_res_query_client_resources(c, client), nullptr));
        if (!held) return -1;
        for (auto t = xcb_res_query_client_resources_types_iterator(held.get()); t.rem; xcb_res_type_next(&t))
            if (t.data->resource_type == wanted) count += static_cast<int>(t.data->count);
    }
    return count;
}

PressCountingWindow::PressCountingWindow(QColor colour) : colour_(colour) {
    setWindowFlags(Qt::FramelessWindowHint);
}

void PressCountingWindow::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), colour_);
}

void PressCountingWindow::mousePressEvent(QMouseEvent*) {
    ++presses;
}

SolidWindow::SolidWindow(QColor colour) {
    window_.setWindowFlag(Qt::FramelessWindowHint);
    window_.setAutoFillBackground(true);
    paint(colour);
    window_.setWindowTitle(QStringLiteral("solid"));
    window_.showMaximized();
}

void SolidWindow::paint(QColor colour) {
    QPalette palette = window_.palette();
    palette.setColor(QPalette::Window, colour);
    window_.setPalette(palette);
    window_.update();
}

}  // namespace velaro::e2e
