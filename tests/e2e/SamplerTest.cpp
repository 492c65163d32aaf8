// The screen sampler on the real desktop: a maximised window of one colour from another program is what the
// sampler publishes as the dominant colour, it follows that window's colour, and our own overlay window
// over the strip does not change it.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QWidget>
#include <cstring>
#include <memory>

#include "DesktopSampler.h"
#include "E2eSupport.h"

namespace velaro::e2e {
namespace {

constexpr double kPanelHeight = 28;

// A managed window of another process, painted in one colour that the test can change: each 4 bytes
// written to it are a new 0x00RRGGBB colour. The child answers its window number once the window is mapped.
class PaintedWindow {
public:
    explicit PaintedWindow(std::uint32_t rgb) {
        int toChild[2], toParent[2];
        if (pipe(toChild) != 0 || pipe(toParent) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(toChild[1]);
            close(toParent[0]);
            runChild(rgb, toChild[0], toParent[1]);
        }
        close(toChild[0]);
        close(toParent[1]);
        commands_ = toChild[1];
        std::uint32_t id = 0;
        if (read(toParent[0], &id, sizeof id) == sizeof id) window_ = id;
        close(toParent[0]);
    }
    ~PaintedWindow() {
        if (pid_ <= 0) return;
        close(commands_);  // EOF ends the child
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    pid_t pid() const { return pid_; }
    std::uint32_t window() const { return window_; }
    void paint(std::uint32_t rgb) { (void)!write(commands_, &rgb, sizeof rgb); }

private:
    // Only xcb and plain system calls: the child of a threaded process must not touch Qt.
    [[noreturn]] static void runChild(std::uint32_t rgb, int commands, int answer) {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) _exit(1);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t w = xcb_generate_id(c);
        const std::uint32_t values[] = {rgb};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 100, 100, 400, 300, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
        const char wmClass[] = "sampler-test\0SamplerTest";
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            sizeof wmClass, wmClass);
        auto atom = [c](const char* name) {
            auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
            const xcb_atom_t a = r ? r->atom : 0;
            free(r);
            return a;
        };
        const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
        const xcb_atom_t maximised[] = {atom("_NET_WM_STATE_MAXIMIZED_VERT"),
                                        atom("_NET_WM_STATE_MAXIMIZED_HORZ")};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 2,
                            maximised);
        // No title bar: the strip under the panel shows the window's own colour, not the decoration's.
        const std::uint32_t motif[] = {2, 0, 0, 0, 0};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom("_MOTIF_WM_HINTS"), atom("_MOTIF_WM_HINTS"), 32,
                            5, motif);
        xcb_map_window(c, w);
        xcb_flush(c);
        (void)!write(answer, &w, sizeof w);
        close(answer);
        std::uint32_t next;
        while (read(commands, &next, sizeof next) == sizeof next) {
            xcb_change_window_attributes(c, w, XCB_CW_BACK_PIXEL, &next);
            xcb_clear_area(c, 0, w, 0, 0, 0, 0);
            xcb_flush(c);
        }
        _exit(0);
    }

    pid_t pid_ = -1;
    int commands_ = -1;
    std::uint32_t window_ = 0;
};

// Our own override-redirect window of one colour, as the overlay windows are.
class OwnWindow : public QWidget {
public:
    OwnWindow(QColor colour, QRect place) {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint |
                       Qt::WindowDoesNotAcceptFocus);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, colour);
        setPalette(p);
        setGeometry(place);
    }
};

bool within(const Color& c, std::uint32_t rgb, double tolerance = 2.0 / 255) {
    const Color want =
        Color::rgb(((rgb >> 16) & 0xff) / 255.0, ((rgb >> 8) & 0xff) / 255.0, (rgb & 0xff) / 255.0);
    return std::abs(c.red - want.red) <= tolerance && std::abs(c.green - want.green) <= tolerance &&
           std::abs(c.blue - want.blue) <= tolerance;
}

std::string describe(const Color& c) {
    char text[32];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", int(std::lround(c.red * 255)),
                  int(std::lround(c.green * 255)), int(std::lround(c.blue * 255)));
    return text;
}

class SamplerTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        ASSERT_TRUE(desktop.start());
        std::map<ScreenID, CaptureGeometry> geometry;
        for (const auto& s : desktop.screens->screens())
            geometry[s.id] = CaptureGeometry{menuBarHeight(s, desktop.screens->statusBarThickness()), {}};
        sampler().setCaptureGeometry(geometry);
        sampler().enabled = true;
    }
    void TearDown() override {
        desktop.sampler.reset();
        // Let stop completions and queued frames drain before the services go.
        waitUntil([] { return false; }, std::chrono::milliseconds(200));
    }
    ScreenSampler& sampler() { return *desktop.sampler; }

    // Waits until the window fills the top and the sampler publishes `rgb`.
    bool waitForColour(PaintedWindow& window, std::uint32_t rgb) {
        int polls = 0;
        return waitUntil(
            [&] {
                if (polls++ % 50 == 0) setMaximised(window.window(), true);
                return within(sampler().dominantColor(), rgb);
            },
            std::chrono::seconds(15));
    }

    DesktopSampler desktop;
};

TEST_F(SamplerTest, TheDominantColourIsTheFilledWindowsAndFollowsIt) {
    ASSERT_FALSE(desktop.screens->screens().empty());
    EXPECT_DOUBLE_EQ(menuBarHeight(desktop.screens->screens().front(), desktop.screens->statusBarThickness()),
                     kPanelHeight);
    PaintedWindow window(0xC83C8C);
    ASSERT_GT(window.pid(), 0);
    ASSERT_NE(window.window(), 0u);

    ASSERT_TRUE(waitForColour(window, 0xC83C8C))
        << "published " << describe(sampler().dominantColor()) << ", filled "
        << sampler().isFilledWindowActive() << ", streaming " << sampler().hasActiveStream();
    EXPECT_TRUE(waitUntil([&] { return sampler().isFilledWindowActive(); }));
    EXPECT_EQ(sampler().streamStartsTotal, 1);

    window.paint(0x2878C8);
    EXPECT_TRUE(waitForColour(window, 0x2878C8)) << "published " << describe(sampler().dominantColor());
}

TEST_F(SamplerTest, OurOwnOverlayOverTheStripDoesNotChangeTheColour) {
    PaintedWindow window(0x30A050);
    ASSERT_NE(window.window(), 0u);
    ASSERT_TRUE(waitForColour(window, 0x30A050)) << "published " << describe(sampler().dominantColor());

    // Over the sampled strip, just below the panel, across part of the screen.
    const int top = static_cast<int>(kPanelHeight);
    OwnWindow overlay(QColor(0xF0, 0xC0, 0x20), QRect(200, top, 700, 40));
    overlay.show();
    // Give the stream time to see it, had it not been left out: several frames at 15 a second.
    ASSERT_TRUE(waitUntil([&] { return overlay.isVisible(); }));
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    bool stayed = true;
    waitUntil(
        [&] {
            if (!within(sampler().dominantColor(), 0x30A050)) stayed = false;
            return std::chrono::steady_clock::now() > until;
        },
        std::chrono::seconds(5));
    EXPECT_TRUE(stayed) << "published " << describe(sampler().dominantColor());
    // The overlay really is on the screen where the strip is taken.
    const QImage shot = screenshot();
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(closeTo(shot.pixelColor(400, top + 3), QColor(0xF0, 0xC0, 0x20)));
}

}  // namespace
}  // namespace velaro::e2e
