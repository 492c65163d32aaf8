// The green-button fill in the test desktop: with the setting on, a click on another program's maximise
// button fills its window to the work area below the panel (not the window manager's maximise); with it
// off, or anywhere else, clicks reach the window manager and the program as before.
#include <unistd.h>

#include <QProcess>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/MaximiseFillController.h"
#include "e2e/E2eSupport.h"
#include "e2e/TempSettings.h"
#include "e2e/TestSession.h"
#include "platform/linux/X11EventTap.h"
#include "platform/linux/X11WindowControl.h"
#include "platform/linux/X11WindowList.h"
#include "platform/linux/XcbUtil.h"

namespace velaro::e2e {
namespace {

constexpr int kPanelHeight = 28;

// The outer frame of a client window in root pixels.
std::optional<Rect> frameOf(std::uint32_t window) {
    auto x = x11::Connection::open();
    auto* c = x->get();
    auto g = x11::own(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    auto t = x11::own(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, x->root(), 0, 0), nullptr));
    const auto e = cardinalProperty("_NET_FRAME_EXTENTS", window);
    if (!g || !t || e.size() != 4) return std::nullopt;
    return Rect(t->dst_x - double(e[0]), t->dst_y - double(e[2]), g->width + double(e[0] + e[1]),
                g->height + double(e[2] + e[3]));
}

bool isMaximised(std::uint32_t window) {
    auto x = x11::Connection::open();
    const auto vert = x->atom("_NET_WM_STATE_MAXIMIZED_VERT");
    auto reply = x11::own(xcb_get_property_reply(
        x->get(), x11::askProperty(x->get(), window, x->atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 32), nullptr));
    const auto states = x11::values32(reply.get());
    return std::find(states.begin(), states.end(), vert) != states.end();
}

// The desktop's event tap as the controller uses it, keeping what became of the taps it made.
class WatchedTap final : public EventTap {
public:
    explicit WatchedTap(EventTap& desktop) : desktop_(desktop) {}
    bool isTrusted() const override { return desktop_.isTrusted(); }
    std::unique_ptr<TapPort> createTap(Callback callback) override {
        auto port = desktop_.createTap([this, callback = std::move(callback)](const TapEvent& event) {
            const bool notice = event.type == TapEventType::tapDisabledByTimeout ||
                                event.type == TapEventType::tapDisabledByUserInput;
            answeringNotice_ = notice;
            auto passed = callback(event);
            answeringNotice_ = false;
            return passed;
        });
        if (!port) return nullptr;
        ++made;
        return std::make_unique<Port>(*this, std::move(port));
    }
    bool hasTap() const { return live_ > 0; }

    int made = 0;
    // Taps enabled again by the controller while it heard that the desktop had disabled them.
    int reenables = 0;

private:
    class Port final : public TapPort {
    public:
        Port(WatchedTap& owner, std::unique_ptr<TapPort> port) : owner_(owner), port_(std::move(port)) {
            ++owner_.live_;
        }
        ~Port() override { --owner_.live_; }
        void setEnabled(bool enabled) override {
            if (enabled && owner_.answeringNotice_) ++owner_.reenables;
            port_->setEnabled(enabled);
        }
        bool isEnabled() const override { return port_->isEnabled(); }

    private:
        WatchedTap& owner_;
        std::unique_ptr<TapPort> port_;
    };
    EventTap& desktop_;
    int live_ = 0;
    bool answeringNotice_ = false;
};

// The desktop's window control, counting the actions that did not succeed (on the fill's worker).
class WatchedWindowControl final : public WindowControl {
public:
    explicit WatchedWindowControl(WindowControl& desktop) : desktop_(desktop) {}
    std::optional<MaximiseButton> maximiseButtonAt(Point point, std::int64_t windowNumber) override {
        return desktop_.maximiseButtonAt(point, windowNumber);
    }
    std::optional<bool> isFullScreen(WindowHandle window) override { return desktop_.isFullScreen(window); }
    std::optional<std::int32_t> processOf(WindowHandle window) override { return desktop_.processOf(window); }
    WindowActionResult raise(WindowHandle window) override { return note(desktop_.raise(window)); }
    WindowActionResult activate(WindowHandle window) override { return desktop_.activate(window); }
    WindowActionResult fill(WindowHandle window) override { return note(desktop_.fill(window)); }

    std::atomic<int> failures{0};

private:
    WindowActionResult note(WindowActionResult result) {
        if (result != WindowActionResult::success) ++failures;
        return result;
    }
    WindowControl& desktop_;
};

struct MaximiseButtonDesktop : ::testing::Test {
    std::unique_ptr<TestSession> session;
    std::unique_ptr<TempSettings> app;
    OverlaySettings* settings = nullptr;
    std::unique_ptr<X11EventTap> tap;
    std::unique_ptr<X11WindowList> windowList;
    std::unique_ptr<X11WindowControl> windowControl;
    std::unique_ptr<WatchedTap> watchedTap;
    std::unique_ptr<WatchedWindowControl> watchedControl;
    std::unique_ptr<MaximiseFillController> controller;

    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        app = std::make_unique<TempSettings>();
        settings = &app->settings;
        session = std::make_unique<TestSession>();
        ASSERT_TRUE(*session);
        tap = std::make_unique<X11EventTap>(**session);
        windowList = std::make_unique<X11WindowList>(**session);
        windowControl = std::make_unique<X11WindowControl>(**session);
        watchedTap = std::make_unique<WatchedTap>(*tap);
        watchedControl = std::make_unique<WatchedWindowControl>(*windowControl);
        controller = std::make_unique<MaximiseFillController>(MaximiseFillServices{
            *watchedTap, *windowList, *watchedControl, app->loop, static_cast<std::int32_t>(getpid())});
        controller->attach(*settings);
    }
    void TearDown() override {
        controller.reset();
        watchedTap.reset();
        watchedControl.reset();
        tap.reset();
        windowControl.reset();
        windowList.reset();
        app.reset();
        session.reset();
    }
    // The monitors in root pixels, the primary first.
    std::vector<Rect> monitors() const {
        std::vector<Rect> out;
        for (const auto& m : (*session)->screens().monitors) out.push_back(m.root);
        return out;
    }

    // Where the test desktop's theme puts the maximise button: the middle of the three buttons at the
    // right end of the title bar.
    static Point maximiseButtonOf(const Rect& frame) { return {frame.maxX() - 27, frame.minY() + 10}; }
    void clickAt(Point p) {
        const auto result = click(int(p.x), int(p.y));
        ASSERT_EQ(result.exitCode, 0) << result.describe().toStdString();
    }
};

TEST_F(MaximiseButtonDesktop, WithTheSettingOnTheMaximiseButtonFillsTheWorkAreaBelowThePanel) {
    settings->maximiseButtonFillsWindow = true;
    ASSERT_TRUE(waitUntil([&] { return watchedTap->hasTap(); }));
    OtherProgram program("gbfill", "300x200+200+240");
    ASSERT_TRUE(waitUntil([&] { return program.framedWindow() != 0; }));
    const auto before = frameOf(program.window());
    ASSERT_TRUE(before);

    clickAt(maximiseButtonOf(*before));
    // The window opens on the primary monitor, whose panel is at its top.
    const auto primary = monitors().front();
    const Rect workArea(primary.minX(), primary.minY() + kPanelHeight, primary.width(),
                        primary.height() - kPanelHeight);
    EXPECT_TRUE(waitUntil([&] { return frameOf(program.window()) == workArea; }))
        << "frame " << *frameOf(program.window()) << ", work area " << workArea;
    EXPECT_FALSE(isMaximised(program.window())) << "filled by us, not maximised by the window manager";
    EXPECT_EQ(watchedControl->failures, 0) << "no lost click, no vanished window";

    // Clicks elsewhere reach the program: its button ends it.
    const auto frame = *frameOf(program.window());
    const auto extents = cardinalProperty("_NET_FRAME_EXTENTS", program.window());
    clickAt({frame.minX() + extents[0] + 27, frame.maxY() - extents[3] - 19});
    EXPECT_TRUE(waitUntil([&] { return !program.running(); }))
        << "the click on the program's button was lost";
}

TEST_F(MaximiseButtonDesktop, ClicksGoOnWhileTheMainThreadDoesNotAnswer) {
    settings->maximiseButtonFillsWindow = true;
    ASSERT_TRUE(waitUntil([&] { return watchedTap->hasTap(); }));
    OtherProgram program("gbstall", "300x200+200+240");
    ASSERT_TRUE(waitUntil([&] { return program.framedWindow() != 0; }));
    const auto frame = *frameOf(program.window());
    const auto extents = cardinalProperty("_NET_FRAME_EXTENTS", program.window());
    const int x = int(frame.minX() + extents[0] + 27), y = int(frame.maxY() - extents[3] - 19);

    // The click on the program's button comes while this thread, which decides on clicks, runs no events: it
    // waits, blocked, for the program to end.
    std::thread clicker([x, y] {
        const auto command = "xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1";
        [[maybe_unused]] const int status = std::system(command.c_str());
    });
    const bool endedDuringStall = program.endsWithin(std::chrono::seconds(20));
    clicker.join();
    EXPECT_TRUE(endedDuringStall) << "the desktop's click waited for the busy main thread";
    // Once the main thread runs again the tap hears that it was passed over.
    EXPECT_TRUE(waitUntil([&] { return watchedTap->reenables == 1; }));
    EXPECT_TRUE(watchedTap->hasTap());
}

TEST_F(MaximiseButtonDesktop, WithTheSettingOffTheWindowManagerMaximisesAsUsual) {
    ASSERT_TRUE(waitUntil([&] { return watchedTap->made == 0 && !watchedTap->hasTap(); }));
    OtherProgram program("gbplain", "300x200+200+240");
    ASSERT_TRUE(waitUntil([&] { return program.framedWindow() != 0; }));
    const auto before = frameOf(program.window());
    ASSERT_TRUE(before);
    clickAt(maximiseButtonOf(*before));
    EXPECT_TRUE(waitUntil([&] { return isMaximised(program.window()); }));

    // Switched on and off again: the tap is gone and clicks pass as before.
    settings->maximiseButtonFillsWindow = true;
    ASSERT_TRUE(waitUntil([&] { return watchedTap->hasTap(); }));
    settings->maximiseButtonFillsWindow = false;
    ASSERT_TRUE(waitUntil([&] { return !watchedTap->hasTap(); }));
    const auto maximised = frameOf(program.window());
    clickAt(maximiseButtonOf(*maximised));
    EXPECT_TRUE(waitUntil([&] { return !isMaximised(program.window()); }));
}

TEST_F(MaximiseButtonDesktop, AWindowOnTheSecondMonitorFillsThatMonitorsWorkArea) {
    const auto monitors = this->monitors();
    if (monitors.size() < 2) GTEST_SKIP() << "needs the two-monitor desktop (desktop-session start --dual)";
    const Rect second = monitors[1];
    settings->maximiseButtonFillsWindow = true;
    ASSERT_TRUE(waitUntil([&] { return watchedTap->hasTap(); }));
    OtherProgram program("gbsecond",
                         QString("300x200+%1+%2").arg(second.minX() + 200).arg(second.minY() + 240));
    ASSERT_TRUE(waitUntil(
        [&] { return program.framedWindow() != 0 && frameOf(program.window())->intersects(second); }));

    clickAt(maximiseButtonOf(*frameOf(program.window())));
    // Every monitor of the test desktop has its panel at the top.
    const Rect workArea(second.minX(), second.minY() + kPanelHeight, second.width(),
                        second.height() - kPanelHeight);
    EXPECT_TRUE(waitUntil([&] { return frameOf(program.window()) == workArea; }))
        << "frame " << *frameOf(program.window()) << ", work area " << workArea;
}

}  // namespace
}  // namespace velaro::e2e
