// The session's end while the server answers nobody (another client holds it grabbed, as a server busy with a
// storm of other clients' work holds every answer back): every wait on the desktop connection and on the
// capture connection ends at once, whichever threads wait together, and the capture worker stops in the
// middle of its job without taking the cut for a lost server.
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

// Another client, which holds the server while the test waits on it.
struct Holder {
    Holder() : connection(x11::Connection::open()) {}
    void sync() {
        auto* c = connection->get();
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    void grab() {
        xcb_grab_server(connection->get());
        sync();
    }
    void ungrab() {
        xcb_ungrab_server(connection->get());
        sync();
    }
    std::unique_ptr<x11::Connection> connection;
};

// The session and the holder of the server, on the test desktop.
class ConnectionEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        ASSERT_TRUE(session);
        ASSERT_TRUE(holder.connection);
    }
    TestSession session;
    Holder holder;
    QtMainLoop loop;
};

// Waits until `done` or `limit` passed; whether it was done.
bool within(const std::atomic<bool>& done, Clock::duration limit) {
    const auto end = Clock::now() + limit;
    while (!done && Clock::now() < end) std::this_thread::sleep_for(1ms);
    return done;
}

// A frame queue's pointer read and a reading thread's wait on the desktop connection, the pointer's the later
// request but the first wait, so that it reads the socket (the event thread is busy with a batch): the
// session's end ends both. xcb loops without end when the thread reading the socket leaves before one that
// waits for an earlier answer; waits that each take the connection's turn never meet that way.
TEST_F(ConnectionEndTest, APointerReadAndAReaderWaitingTogetherBothEndWithTheSession) {
    X11PointerSource pointer(loop, *session);
    auto& desktop = session->desktop();
    auto* c = desktop.get();

    // The event thread is kept in a filter of the test's from a message the holder sends until the end: it
    // reads nothing meanwhile, as while it hands a batch over.
    const xcb_window_t target = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, target, desktop.root(), -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    x11::awaitReply(c, xcb_get_input_focus(c), xcb_get_input_focus_reply);  // made before the holder sends
    // Shared with the filter, which the event thread may still run after the test's body has returned; let go
    // on every way out of the body.
    struct Keeping {
        std::atomic<bool> kept{false}, letGo{false};
    };
    const auto keeping = std::make_shared<Keeping>();
    const std::unique_ptr<Keeping, void (*)(Keeping*)> letGoAtTheEnd(keeping.get(),
                                                                     [](Keeping* k) { k->letGo = true; });
    auto keep = session->addEventFilter([keeping, target](x11::EventPump::Batch& batch) {
        for (const auto& e : batch)
            if (e && (e->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                reinterpret_cast<const xcb_client_message_event_t&>(*e).window == target) {
                keeping->kept = true;
                while (!keeping->letGo) std::this_thread::sleep_for(1ms);
            }
    });
    const std::atomic<bool>& pumpKept = keeping->kept;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = target;
    message.type = XCB_ATOM_STRING;
    xcb_send_event(holder.connection->get(), 0, target, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(holder.connection->get());
    ASSERT_TRUE(within(pumpKept, 10s)) << "the message never reached the event thread";

    holder.grab();
    const auto earlier = xcb_get_input_focus(c);
    std::atomic<bool> pointerBack{false}, readerBack{false};
    std::thread frameQueue([&] {
        pointer.location();  // not followed yet: asked of the server, on this thread
        pointerBack = true;
    });
    std::this_thread::sleep_for(100ms);  // the pointer's wait reads the socket
    std::thread reader([&] {
        x11::awaitReply<xcb_get_input_focus_reply_t>(c, earlier.sequence, x11::neverStop);
        readerBack = true;
    });
    std::this_thread::sleep_for(100ms);
    session->stopReading();
    const bool bothBack = within(pointerBack, 5s) && within(readerBack, 1s);
    keeping->letGo = true;
    holder.ungrab();
    EXPECT_TRUE(pointerBack) << "the pointer read stayed inside xcb after the session's end";
    EXPECT_TRUE(readerBack) << "the reader stayed inside xcb after the session's end";
    if (!bothBack) {
        // Caught in xcb for good: the test cannot end cleanly.
        std::fflush(nullptr);
        std::_Exit(1);
    }
    frameQueue.join();
    reader.join();
}

// The capture worker in the middle of a job whose answers the server holds back, beside a running stream:
// the session's end cuts the capture connection too, so the job ends at once and the worker with it, and
// nothing is told or logged as if the server had gone away.
TEST_F(ConnectionEndTest, ACaptureJobWaitingOnTheServerEndsAtOnceWithTheSession) {
    test::LogCapture logs;
    auto service = std::make_unique<X11CaptureService>(loop, *session);

    // The worker's reader of the screen is set up while the server answers.
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

    holder.grab();
    std::atomic<bool> inJob{false}, jobEnded{false}, ended{false};
    service->onWorker([&](x11capture::Session* s, const CaptureError&) {
        inJob = true;
        if (s) s->shareableContent(false, false);  // the monitors and the window stack, asked afresh
        jobEnded = true;
    });
    // A wait that ignores the end would last as long as the grab: it is ended here rather than hang the test.
    std::thread release([&] {
        within(ended, 5s);
        holder.ungrab();
    });
    ASSERT_TRUE(within(inJob, 5s));
    std::this_thread::sleep_for(100ms);  // waiting on the server

    const auto began = Clock::now();
    session->stopReading();
    service.reset();  // waits for the worker
    const auto took = Clock::now() - began;
    ended = true;
    release.join();
    stream.reset();

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
