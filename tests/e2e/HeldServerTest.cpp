// The main loop while another client holds the X server (as a server busy with a storm of other clients'
// work holds every answer back): the workspace, the screens and the window events hear of an activation and
// of a watched window's minimise, and read what they need off the main loop, which goes on turning; they
// catch up once the server answers again.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TestSession.h"
#include "platform/linux/X11Screens.h"
#include "platform/linux/X11WindowEvents.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XcbUtil.h"

namespace velaro::e2e {
namespace {

using namespace std::chrono_literals;

TEST(HeldServerTest, AnActivationAndAMinimiseCostTheMainLoopNoWaitForTheServer) {
    VELARO_REQUIRE_DESKTOP();
    TestSession session;
    ASSERT_TRUE(session);
    auto holder = x11::Connection::open();
    ASSERT_TRUE(holder);
    auto* h = holder->get();
    const auto sync = [h] { std::free(xcb_get_input_focus_reply(h, xcb_get_input_focus(h), nullptr)); };
    const auto setActive = [&](std::uint32_t window) {
        xcb_change_property(h, XCB_PROP_MODE_REPLACE, holder->root(), holder->atom("_NET_ACTIVE_WINDOW"),
                            XCB_ATOM_WINDOW, 32, 1, &window);
    };
    OtherProgram program("velaro-held", "300x200+300+300");
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(waitUntil([&] { return program.window() != 0; }));
    QtMainLoop loop;
    X11Workspace workspace(loop, *session);
    X11Screens screens(*session);
    X11WindowEvents events(*session);
    ASSERT_TRUE(waitUntil([&] { return workspace.runningApplication(program.pid()).has_value(); }))
        << "the program never ran";
    // Nothing active to start from, once the window manager has given the new window the focus.
    waitUntil([&] { return workspace.frontmostApplication().has_value(); }, 2s);
    setActive(0);
    sync();
    ASSERT_TRUE(waitUntil([&] { return !workspace.frontmostApplication(); }));
    std::vector<WindowEventKind> kinds;
    auto observation = events.observe(program.pid(), [&](WindowEventKind kind) { kinds.push_back(kind); });
    ASSERT_TRUE(observation);
    waitUntil([] { return false; }, 300ms);  // the watch's first reading of the window's state

    LoopStandWatch stands;

    // The program's window activated and iconified (WM_STATE as the window manager writes it), then the
    // server held: the notices reach the app, the answers to anything it asks do not.
    setActive(program.window());
    const std::uint32_t iconic[2] = {3, 0};
    xcb_change_property(h, XCB_PROP_MODE_REPLACE, program.window(), holder->atom("WM_STATE"),
                        holder->atom("WM_STATE"), 32, 2, iconic);
    xcb_grab_server(h);
    sync();
    // Let go of from another thread: a main loop waiting on the server would never let go itself.
    std::atomic<bool> released{false};
    std::thread release([&] {
        std::this_thread::sleep_for(800ms);
        xcb_ungrab_server(h);
        sync();
        released = true;
    });
    waitUntil([&] { return released.load(); }, 5s);
    release.join();
    const qint64 heldStand = stands.longest();

    std::printf("while the server was held the loop stood at most %lld ms\n", (long long)heldStand);
    EXPECT_LT(heldStand, 300) << "the main loop waited for the held server";
    EXPECT_TRUE(waitUntil([&] {
        const auto front = workspace.frontmostApplication();
        return front && front->pid == program.pid();
    })) << "the activation was never taken";
    EXPECT_TRUE(waitUntil([&] { return !kinds.empty(); })) << "the minimise was never told";
    EXPECT_EQ(kinds, std::vector<WindowEventKind>{WindowEventKind::minimised});
}

}  // namespace
}  // namespace velaro::e2e
