// A thread that reads the X server when asked, paced for bursts of notices, and that ends without waiting
// for a read to finish; and the hand-over of what it read to the Qt main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QObject;

namespace velaro::x11 {

// Runs a read on a thread of its own once asked: when the asks pause for `quiet`, or `longest` after the
// first ask of a stream that never pauses, so that a burst of hundreds of notices costs one read, and the
// main loop never waits on the server for any of it. A read that leaves part of the work for later (a long
// list read in parts) says so and runs again after the quiet wait. Ending asks a read in progress to stop:
// a read passes `stop` to every wait for a reply (see awaitReply), so the end waits at most for the reply
// being waited for, and not even for that once the connection stopped reading, as the session's end has it
// do before its services go.
class ReadThread {
public:
    // `read` returns true once it did all there was to do; false to run again without being asked.
    using Read = std::function<bool(const std::atomic<bool>& stop)>;
    ReadThread(Read read, std::chrono::milliseconds quiet, std::chrono::milliseconds longest);
    // Stops a read in progress and waits only for it to notice.
    ~ReadThread();
    ReadThread(const ReadThread&) = delete;
    ReadThread& operator=(const ReadThread&) = delete;

    // Any thread.
    void ask();

private:
    void run();

    Read read_;
    const std::chrono::milliseconds quiet_, longest_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool asked_ = false;
    std::chrono::steady_clock::time_point firstAsk_, lastAsk_;
    std::atomic<bool> stop_{false};
    std::thread thread_;  // last: it starts once everything above exists
};

// Hands blocks from a reading thread to the Qt main thread, in order. A block still on its way when this goes
// is dropped; the threads that post must have ended by then (declare this before the ReadThread).
class ToMainThread {
public:
    // Main thread, with the Qt application object made.
    ToMainThread();
    ~ToMainThread();
    ToMainThread(const ToMainThread&) = delete;
    ToMainThread& operator=(const ToMainThread&) = delete;

    // Any thread.
    void post(std::function<void()> block);

private:
    std::unique_ptr<QObject> context_;
};

}  // namespace velaro::x11
