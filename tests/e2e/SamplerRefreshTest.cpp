// The sampler's refresh on the real desktop: a window of another program maximised and restored by the
// window manager turns the filled state on within one poll and its confirmation, and off within one poll.
#include <QProcess>

#include <chrono>
#include <memory>

#include "E2eSupport.h"
#include "base/QtMainLoop.h"
#include "platform/linux/X11CaptureService.h"
#include "platform/linux/X11PointerSource.h"
#include "platform/linux/X11Screens.h"
#include "platform/linux/X11WindowList.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XcbUtil.h"
#include "platform/linux/XdgAppCatalog.h"
#include "sampling/ScreenSampler.h"
#include "sampling/ScreenTopology.h"
#include "sampling/WindowListScans.h"
#include "support/FakeDefaultsStore.h"

namespace velaro::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// The poll's period plus the confirmation; timers and event delivery under the sanitizers add a little.
constexpr double kFlipBound = 0.6;
constexpr double kJitter = 0.1;

// Adds or removes both maximised states, as a pager asks the window manager.
void setMaximised(std::uint32_t window, bool on) {
    auto x = x11::Connection::open();
    ASSERT_TRUE(x);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = x->atom("_NET_WM_STATE");
    message.data.data32[0] = on ? 1 : 0;
    message.data.data32[1] = x->atom("_NET_WM_STATE_MAXIMIZED_VERT");
    message.data.data32[2] = x->atom("_NET_WM_STATE_MAXIMIZED_HORZ");
    message.data.data32[3] = 1;
    xcb_send_event(x->get(), 0, x->root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(x->get());
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class SamplerRefreshE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        loop = std::make_unique<QtMainLoop>();
        screens = X11Screens::create();
        windows = X11WindowList::create();
        catalog = std::make_unique<XdgAppCatalog>();
        ASSERT_TRUE(screens && windows);
        workspace = X11Workspace::create(*catalog);
        ASSERT_TRUE(workspace);
        capture = std::make_unique<X11CaptureService>(*loop);
        pointer = std::make_unique<X11PointerSource>(*loop);
        topology = std::make_unique<ScreenTopology>(*screens, workspace.get());
        scans = std::make_unique<WindowListScans>(*windows, *screens, defaults, *workspace,
                                                  workspace->ownProcessIdentifier());
        sampler = std::make_unique<ScreenSampler>(ScreenSampler::Services{
            .loop = *loop,
            .capture = *capture,
            .screens = *screens,
            .topology = *topology,
            .scans = *scans,
            .defaults = defaults,
            .workspace = *workspace,
            .pointer = *pointer,
        });
        sampler->enabled = true;
    }
    void TearDown() override {
        sampler.reset();
        if (client.state() != QProcess::NotRunning) {
            client.kill();
            client.waitForFinished(5000);
        }
        waitUntil([] { return false; }, std::chrono::milliseconds(200));
    }

    // The coverage of the top by the client's window, as the window list shows it right now.
    double clientCoverage() {
        const auto r = scans->scanWindows({});
        return r.filledPID == client.processId() ? r.filledCoverage : 0;
    }

    test::FakeDefaultsStore defaults;
    std::unique_ptr<QtMainLoop> loop;
    std::unique_ptr<X11Screens> screens;
    std::unique_ptr<X11WindowList> windows;
    std::unique_ptr<XdgAppCatalog> catalog;
    std::unique_ptr<X11Workspace> workspace;
    std::unique_ptr<X11CaptureService> capture;
    std::unique_ptr<X11PointerSource> pointer;
    std::unique_ptr<ScreenTopology> topology;
    std::unique_ptr<WindowListScans> scans;
    std::unique_ptr<ScreenSampler> sampler;
    QProcess client;
};

TEST_F(SamplerRefreshE2eTest, MaximisingAndRestoringAWindowFlipsTheFilledStateWithinAPollAndAConfirmation) {
    client.start("xmessage",
                 {"-name", "velaro-refresh", "-geometry", "300x200+200+200", "velaro refresh test"});
    ASSERT_TRUE(client.waitForStarted(5000));
    std::uint32_t window = 0;
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& w : windows->snapshot())
            if (w.ownerPID == client.processId() && w.number) window = static_cast<std::uint32_t>(*w.number);
        return window != 0;
    })) << "the client never showed a window";
    ASSERT_TRUE(waitUntil([&] { return !sampler->isFilledWindowActive(); }));

    // The window manager may still be taking the window in: ask again until the list shows it maximised.
    int polls = 0;
    ASSERT_TRUE(waitUntil([&] {
        if (polls++ % 20 == 0) setMaximised(window, true);
        return clientCoverage() >= 0.9;
    })) << "never maximised";
    const auto maximisedSeen = Clock::now();
    ASSERT_TRUE(waitUntil([&] { return sampler->isFilledWindowActive(); }, std::chrono::seconds(3)));
    EXPECT_LE(secondsSince(maximisedSeen), kFlipBound + kJitter);

    polls = 0;
    ASSERT_TRUE(waitUntil([&] {
        if (polls++ % 20 == 0) setMaximised(window, false);
        return clientCoverage() < 0.5;
    })) << "never restored";
    const auto restoredSeen = Clock::now();
    ASSERT_TRUE(waitUntil([&] { return !sampler->isFilledWindowActive(); }, std::chrono::seconds(3)));
    EXPECT_LE(secondsSince(restoredSeen), kFlipBound + kJitter);
}

}  // namespace
}  // namespace velaro::e2e
