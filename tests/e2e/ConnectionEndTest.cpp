// The session's end while the server answers nobody (another client holds it grabbed, as a server busy with a
// storm of other clients' work holds every answer back).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TestSession.h"
#include "platform/linux/X11CaptureService.h"
#include "platform/linux/X11PointerSource.h"
#include "platform/linux/XcbUtil.h"
#include "support/LogCapture.h"

namespace velaro::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Waits until `done` or `limit` passed; whether it was done.
bool within(const std::atomic<bool>& done, Clock::duration limit) {
    const auto end = Clock::now() + limit;
    while (!done && Clock::now() < end) std::this_thread::sleep_for(1ms);
    return done;
}

// While another client holds the server, three waits at once:
// - on the desktop connection, a frame queue's pointer read and a reading thread's wait, the pointer's the
//   later request but the first wait, so that it reads the socket (the event thread is kept busy with a
//   batch). xcb loops without end when the thread reading the socket leaves before one that waits for an
//   earlier answer; waits that each take the connection's turn never meet that way;
// - on the capture connection, the worker in the middle of a job, beside a running stream.
// The session's end ends all of them at once and the worker with them, and nothing is told or logged as if
// the server had gone away.
TEST(ConnectionEndTest, EveryWaitOnEitherConnectionEndsAtOnceWithTheSession) {
    VELARO_REQUIRE_DESKTOP();
    TestSession session;
    ASSERT_TRUE(session);
    const auto holder = x11::Connection::open();
    ASSERT_TRUE(holder);
    auto* h = holder->get();
    const auto hold = [h](bool held) {
        held ? xcb_grab_server(h) : xcb_ungrab_server(h);
        std::free(xcb_get_input_focus_reply(h, xcb_get_input_focus(h), nullptr));
    };
    QtMainLoop loop;
    test::LogCapture logs;
    X11PointerSource pointer(loop, *session);
    auto service = std::make_unique<X11CaptureService>(loop, *session);

    // The worker's reader of the screen is set up, and a stream runs, while the server answers.
    std::atomic<bool> ready{false};
    std::atomic<std::uint32_t> display{0};
    service->onWorker([&](x11capture::Session* s, const CaptureError&) {
        if (s && !s->monitors().empty()) display = s->monitors().front().displayID;
        ready = true;
    });
    ASSERT_TRUE(within(ready, 10s));
    ASSERT_NE(display.load(), 0u) << "capture could not read the screen";
    std::atomic<int> stopped{0};
    auto stream = service->makeStream(ContentFilter::displayExcludingWindows({display.load(), {}}, {}),
                                      {{0, 0, 200, 6}, 200, 6, 1.0 / 30, 4},
                                      [&](CaptureStream&, const CaptureError&) { ++stopped; });
    std::shared_ptr<SerialQueue> frames = loop.makeSerialQueue("capture-end-test.frames");
    ASSERT_FALSE(stream->addStreamOutput([](const CaptureFrame&) {}, frames));
    stream->startCapture([](std::optional<CaptureError>) {});
    std::this_thread::sleep_for(200ms);  // a few frames

    // The event thread is kept in a filter of the test's from the next event (a change on the root, which the
    // session follows) until the end: it reads nothing meanwhile, as while it hands a batch over.
    auto* c = session->desktop().get();
    // Shared with the filter, which the event thread may still run after the test's body has returned; let go
    // on every way out of the body.
    struct Keeping {
        std::atomic<bool> kept{false}, letGo{false};
    };
    const auto keeping = std::make_shared<Keeping>();
    const std::unique_ptr<Keeping, void (*)(Keeping*)> letGoAtTheEnd(keeping.get(),
                                                                     [](Keeping* k) { k->letGo = true; });
    auto keep = session->addEventFilter([keeping](x11::EventPump::Batch&) {
        keeping->kept = true;
        while (!keeping->letGo) std::this_thread::sleep_for(1ms);
    });
    const xcb_atom_t mark = holder->atom("VELARO_CONNECTION_END_TEST");
    xcb_change_property(h, XCB_PROP_MODE_REPLACE, holder->root(), mark, XCB_ATOM_STRING, 8, 1, "x");
    xcb_delete_property(h, holder->root(), mark);
    xcb_flush(h);
    ASSERT_TRUE(within(keeping->kept, 10s)) << "the change never reached the event thread";

    hold(true);
    std::atomic<bool> inJob{false}, jobEnded{false}, pointerBack{false}, readerBack{false}, ended{false};
    // A wait that ignores the end would last as long as the grab: it is ended here rather than hang the test.
    std::thread release([&] {
        within(ended, 5s);
        hold(false);
    });
    service->onWorker([&](x11capture::Session* s, const CaptureError&) {
        inJob = true;
        if (s) s->shareableContent(false, false);  // the monitors and the window stack, asked afresh
        jobEnded = true;
    });
    const auto earlier = xcb_get_input_focus(c);
    std::thread frameQueue([&] {
        pointer.location();  // not followed yet: asked of the server, on this thread
        pointerBack = true;
    });
    std::this_thread::sleep_for(100ms);  // the pointer's wait reads the socket
    std::thread reader([&] {
        x11::awaitReply<xcb_get_input_focus_reply_t>(c, earlier.sequence, x11::neverStop);
        readerBack = true;
    });
    // Not an assertion: the threads above must be joined on every way out.
    const bool jobBegun = within(inJob, 2s);
    std::this_thread::sleep_for(100ms);  // all three waiting on the server

    const auto began = Clock::now();
    session->stopReading();
    service.reset();  // waits for the worker
    const auto took = Clock::now() - began;
    const bool bothBack = within(pointerBack, 5s) && within(readerBack, 1s);
    keeping->letGo = true;
    ended = true;
    release.join();
    EXPECT_TRUE(pointerBack) << "the pointer read stayed inside xcb after the session's end";
    EXPECT_TRUE(readerBack) << "the reader stayed inside xcb after the session's end";
    if (!bothBack) {
        // Caught in xcb for good: the test cannot end cleanly.
        std::fflush(nullptr);
        std::_Exit(1);
    }
    frameQueue.join();
    reader.join();
    stream.reset();

    EXPECT_TRUE(jobBegun) << "the capture job did not begin while the server was held";
    EXPECT_TRUE(jobEnded);
    EXPECT_LT(took, 1s) << "the capture worker's end waited "
                        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                        << " ms for the server";
    waitUntil([] { return false; }, 100ms);  // anything the worker posted
    EXPECT_EQ(stopped.load(), 0) << "the stream was told it stopped by itself";
    for (const auto& line : logs.lines) ADD_FAILURE() << "logged at the end: " << line;
}

}  // namespace
}  // namespace velaro::e2e
