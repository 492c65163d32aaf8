// The main loop, clocks, timers, display links and serial queues that all models are written against.
// The app runs them on Qt's event loop and worker threads; tests run them on one virtual loop.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "base/Cancellable.h"

namespace velaro {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic seconds since an arbitrary start: every interval is measured with this.
    virtual double uptime() const = 0;
    // Wall-clock time, only for dates that are shown or stored.
    virtual std::chrono::system_clock::time_point wallTime() const = 0;
};

// A worker that runs blocks one after another in the order they were queued, off the main thread.
class SerialQueue {
public:
    virtual ~SerialQueue() = default;
    virtual const std::string& label() const = 0;
    // Queues a block; safe from any thread. Blocks still queued when the queue is destroyed are dropped.
    virtual void async(std::function<void()> block) = 0;
    // Queues a block to run no sooner than `seconds` from now.
    virtual void asyncAfter(double seconds, std::function<void()> block) = 0;
    // Runs `block` at once on the calling thread when the queue is idle with nothing queued, as one of the
    // queue's blocks (none of its other blocks runs meanwhile); else queues it as async does. For a
    // producer that would otherwise wake the queue's thread for every block it hands over and then go to
    // sleep itself. The caller keeps the queue alive until this returns.
    virtual void runOrAsync(std::function<void()> block) { async(std::move(block)); }
};

// Calls back once per display frame while started, at the preferred rate within [minimum, maximum].
class DisplayLink {
public:
    virtual ~DisplayLink() = default;
    virtual void setPreferredFrameRateRange(double minimum, double maximum, double preferred) = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
};

class MainLoop : public Clock {
public:
    // Runs `block` on the main thread on a later turn of the loop; safe from any thread.
    virtual void post(std::function<void()> block) = 0;
    // Runs `block` once after `seconds`, unless the returned handle is cancelled or destroyed first.
    [[nodiscard]] virtual Cancellable postAfter(double seconds, std::function<void()> block) = 0;
    // Runs `block` every `seconds` (first after one interval) until the handle is cancelled or destroyed.
    [[nodiscard]] virtual Cancellable every(double seconds, std::function<void()> block) = 0;
    // A display link calling `frame` with the loop's uptime at each frame; created stopped.
    virtual std::unique_ptr<DisplayLink> makeDisplayLink(std::function<void(double timestamp)> frame) = 0;
    // A serial worker queue with the given label.
    virtual std::unique_ptr<SerialQueue> makeSerialQueue(const std::string& label) = 0;
    // True when called on the thread that runs the loop.
    virtual bool isMainThread() const = 0;
};

}  // namespace velaro
