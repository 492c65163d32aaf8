// The test desktop itself: windows show where they are put and get clicks, the panel reserves its strip and
// hosts a tray, and sound played to the default sink can be recorded back from its monitor.
#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>

#include <algorithm>
#include <cmath>

#include "e2e/E2eSupport.h"

namespace velaro::e2e {
namespace {

constexpr int kPanelHeight = 28;
const QColor kDesktopColour(0x3a, 0x6e, 0xa5);

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override { VELARO_REQUIRE_DESKTOP(); }
};

// A borderless window of one colour that remembers where it was clicked.
class ClickTarget : public QWidget {
public:
    explicit ClickTarget(QColor colour) : colour_(colour) {
        setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    }
    std::vector<std::pair<QPoint, Qt::MouseButton>> presses;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour_); }
    void mousePressEvent(QMouseEvent* event) override {
        presses.emplace_back(event->position().toPoint(), event->button());
    }

private:
    QColor colour_;
};

TEST_F(DesktopTest, WindowShowsAtItsPlaceInAScreenshotAndReceivesClicks) {
    const QColor colour(0xd0, 0x3c, 0x8c);
    const QRect place(400, 300, 240, 160);
    ClickTarget target(colour);
    target.setGeometry(place);
    target.show();

    const QImage shot = screenshotWhen(
        [&](const QImage& image) { return closeTo(image.pixelColor(place.center()), colour); });
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(target.geometry(), place) << "the window manager moved the window";
    // Its four inner corners carry the colour, the pixels just outside do not.
    for (const QPoint inside : {place.topLeft() + QPoint(1, 1), place.topRight() + QPoint(-1, 1),
                                place.bottomLeft() + QPoint(1, -1), place.bottomRight() + QPoint(-1, -1)}) {
        EXPECT_TRUE(closeTo(shot.pixelColor(inside), colour))
            << "inside at " << inside.x() << "," << inside.y();
    }
    for (const QPoint outside : {place.topLeft() + QPoint(-2, 10), place.topRight() + QPoint(2, 10),
                                 place.topLeft() + QPoint(10, -2), place.bottomLeft() + QPoint(10, 2)}) {
        EXPECT_FALSE(closeTo(shot.pixelColor(outside), colour))
            << "outside at " << outside.x() << "," << outside.y();
    }

    const QPoint offset(37, 21);
    const auto clicked = click(place.x() + offset.x(), place.y() + offset.y());
    ASSERT_EQ(clicked.exitCode, 0) << clicked.describe().toStdString();
    ASSERT_TRUE(waitUntil([&] { return !target.presses.empty(); })) << "the click never reached the window";
    EXPECT_EQ(target.presses.front().first, offset);
    EXPECT_EQ(target.presses.front().second, Qt::LeftButton);
}

TEST_F(DesktopTest, BackgroundShowsTheDesktopColourThroughTheCompositor) {
    // The compositor paints the background from the published root pixmap, not from the root's own colour.
    const QPoint bottomLeft(5, 1075);
    const QImage shot = screenshotWhen(
        [&](const QImage& image) { return closeTo(image.pixelColor(bottomLeft), kDesktopColour); },
        std::chrono::seconds(3));
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(closeTo(shot.pixelColor(bottomLeft), kDesktopColour))
        << shot.pixelColor(bottomLeft).name().toStdString();
}

TEST_F(DesktopTest, PanelReservesItsHeightAtTheTop) {
    const auto desktop = cardinalProperty("_NET_CURRENT_DESKTOP");
    const size_t current = desktop.empty() ? 0 : desktop[0];
    const auto workarea = cardinalProperty("_NET_WORKAREA");
    ASSERT_GE(workarea.size(), (current + 1) * 4);
    EXPECT_EQ(workarea[current * 4 + 1], static_cast<uint32_t>(kPanelHeight));

    // The strut comes from a dock window among the clients, where the app looks for it.
    uint32_t topStrut = 0;
    for (const uint32_t window : clientWindows()) {
        const auto strut = cardinalProperty("_NET_WM_STRUT_PARTIAL", window);
        if (strut.size() >= 12) topStrut = std::max(topStrut, strut[2]);
    }
    EXPECT_EQ(topStrut, static_cast<uint32_t>(kPanelHeight));
    EXPECT_EQ(QGuiApplication::primaryScreen()->availableGeometry().top(), kPanelHeight);
}

TEST_F(DesktopTest, TrayIconDocksInThePanel) {
    ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
    QPixmap pixmap(22, 22);
    const QColor colour(0xff, 0x20, 0x20);
    pixmap.fill(colour);
    QSystemTrayIcon icon{QIcon(pixmap)};
    icon.show();
    // Until the tray embeds it, the icon reports the geometry of its undocked window at the origin.
    const auto docked = [&] {
        return !icon.geometry().isEmpty() && icon.geometry().topLeft() != QPoint(0, 0);
    };
    ASSERT_TRUE(waitUntil(docked)) << "the icon never docked";
    const QRect geometry = icon.geometry();
    EXPECT_GE(geometry.top(), 0);
    EXPECT_LE(geometry.bottom(), kPanelHeight - 1) << "the icon lies outside the panel";
    EXPECT_GT(geometry.left(), 1920 / 2) << "the tray sits at the panel's right end";
    const QImage shot = screenshotWhen(
        [&](const QImage& image) { return closeTo(image.pixelColor(geometry.center()), colour, 8); });
    EXPECT_TRUE(closeTo(shot.pixelColor(geometry.center()), colour, 8))
        << "the icon is not drawn in the panel";
}

TEST_F(DesktopTest, WindowManagerLeavesKeyCombinationsFreeForGlobalShortcuts) {
    // A passive grab on the root fails with BadAccess when another client (a window manager binding) holds
    // it.
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(connection));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
    const struct {
        const char* name;
        uint16_t modifiers;
        xcb_keysym_t key;
    } combinations[] = {
        {"Ctrl+Alt+Right", XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, XK_Right},
        {"Ctrl+Alt+Left", XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, XK_Left},
        {"Alt+Tab", XCB_MOD_MASK_1, XK_Tab},
        {"Alt+F4", XCB_MOD_MASK_1, XK_F4},
        {"Super+D", XCB_MOD_MASK_4, XK_d},
        {"Super+E", XCB_MOD_MASK_4, XK_e},
    };
    for (const auto& combination : combinations) {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, combination.key);
        ASSERT_NE(codes, nullptr) << combination.name;
        xcb_generic_error_t* error = xcb_request_check(
            connection, xcb_grab_key_checked(connection, 0, root, combination.modifiers, codes[0],
                                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        EXPECT_EQ(error, nullptr) << combination.name << " is taken by another client";
        std::free(error);
        xcb_ungrab_key(connection, codes[0], root, combination.modifiers);
        std::free(codes);
    }
    xcb_key_symbols_free(symbols);
    xcb_disconnect(connection);
}

// Reads signed 16-bit mono samples.
std::vector<double> samples(const QByteArray& raw) {
    std::vector<double> out(raw.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
        const auto low = static_cast<uint8_t>(raw[2 * i]);
        const auto high = static_cast<uint8_t>(raw[2 * i + 1]);
        out[i] = static_cast<int16_t>(low | (high << 8));
    }
    return out;
}

// Power of one frequency in a block (Goertzel).
double powerAt(const double* block, size_t count, double frequency, double rate) {
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / rate);
    double previous = 0, beforePrevious = 0;
    for (size_t i = 0; i < count; ++i) {
        const double current = block[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    return previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
}

struct ToneFound {
    double rms = 0;
    double toneToOther = 0;  // power at 440 Hz over power at 1 kHz
};

// The loudest 100 ms block of a recording, and how much of it is the tone.
ToneFound loudestBlock(const std::vector<double>& recording, double rate) {
    const size_t block = static_cast<size_t>(rate / 10);
    ToneFound best;
    for (size_t start = 0; start + block <= recording.size(); start += block / 2) {
        double sum = 0;
        for (size_t i = start; i < start + block; ++i) sum += recording[i] * recording[i];
        const double rms = std::sqrt(sum / block);
        if (rms <= best.rms) continue;
        best.rms = rms;
        best.toneToOther = powerAt(&recording[start], block, 440, rate) /
                           std::max(1.0, powerAt(&recording[start], block, 1000, rate));
    }
    return best;
}

TEST_F(DesktopTest, ToneReachesTheDefaultSinkMonitor) {
    constexpr int kRate = 48000;
    const auto info = run(QStringLiteral("pactl"), {QStringLiteral("info")});
    ASSERT_EQ(info.exitCode, 0) << info.describe().toStdString();
    EXPECT_TRUE(info.out.contains("Default Sink: velaro_null")) << info.out.toStdString();

    // Half a second of 440 Hz at a quarter of full scale.
    QByteArray tone;
    for (int i = 0; i < kRate / 2; ++i) {
        const auto value = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * i / kRate));
        tone.append(static_cast<char>(value & 0xff)).append(static_cast<char>((value >> 8) & 0xff));
    }
    const QStringList format{QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                             QStringLiteral("--rate=%1").arg(kRate), QStringLiteral("--channels=1")};

    QProcess recorder;
    QByteArray recorded;
    QObject::connect(&recorder, &QProcess::readyReadStandardOutput,
                     [&] { recorded += recorder.readAllStandardOutput(); });
    recorder.start(QStringLiteral("parec"), QStringList{QStringLiteral("--device=@DEFAULT_MONITOR@"),
                                                        QStringLiteral("--latency-msec=20")} +
                                                format);
    ASSERT_TRUE(recorder.waitForStarted(5000)) << recorder.errorString().toStdString();

    // The recorder may connect after the first playback has ended, so play until the tone is heard.
    ToneFound found;
    const bool heard = waitUntil(
        [&] {
            found = loudestBlock(samples(recorded), kRate);
            if (found.rms > 1000) return true;
            const auto played = run(
                QStringLiteral("pacat"),
                QStringList{QStringLiteral("--playback"), QStringLiteral("--device=@DEFAULT_SINK@")} + format,
                std::chrono::seconds(10), QProcessEnvironment::systemEnvironment(), tone);
            EXPECT_EQ(played.exitCode, 0) << played.describe().toStdString();
            return false;
        },
        std::chrono::seconds(20));
    recorder.terminate();
    recorder.waitForFinished(5000);

    EXPECT_TRUE(heard) << "loudest block RMS " << found.rms << " of " << recorded.size() / 2 << " samples";
    EXPECT_GT(found.toneToOther, 50) << "the recording is loud but not the tone that was played";
}

}  // namespace
}  // namespace velaro::e2e
