// The app's main loop on Qt's event loop, with serial queues on worker threads.
#pragma once

#include <QObject>
#include <chrono>
#include <memory>
#include <mutex>

#include "base/MainLoop.h"

namespace velaro {

class QtMainLoop final : public MainLoop {
public:
    // Must be created on the thread that runs the Qt event loop, after the application object.
    QtMainLoop();
    // Drops what still waits (posted blocks, timers) on its own thread while the loop is still whole, so
    // that whatever their captures do as they go finds a loop that drops it; posts from then on are dropped.
    ~QtMainLoop() override;

    double uptime() const override;
    std::chrono::system_clock::time_point wallTime() const override;
    void post(std::function<void()> block) override;
    Cancellable postAfter(double seconds, std::function<void()> block) override;
    Cancellable every(double seconds, std::function<void()> block) override;
    std::unique_ptr<DisplayLink> makeDisplayLink(std::function<void(double)> frame) override;
    std::unique_ptr<SerialQueue> makeSerialQueue(const std::string& label) override;
    bool isMainThread() const override;

private:
    class Timers;
    Cancellable startTimer(double seconds, bool repeating, std::function<void()> block);
    QObject context_;
    std::unique_ptr<Timers> timers_;
    // Set once as the loop goes; posts from other threads look at it under the lock, so none reaches Qt's
    // queue after the queue has been emptied.
    std::mutex closing_;
    bool closed_ = false;
};

// A worker thread that runs queued blocks in order; delayed blocks run when due, in due order.
class ThreadSerialQueue final : public SerialQueue {
public:
    explicit ThreadSerialQueue(std::string label);
    ~ThreadSerialQueue() override;
    const std::string& label() const override { return label_; }
    void async(std::function<void()> block) override;
    void asyncAfter(double seconds, std::function<void()> block) override;
    void runOrAsync(std::function<void()> block) override;

private:
    struct Impl;
    std::string label_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velaro
