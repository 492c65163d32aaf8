// The paced read thread of the services that follow the X server's lists, and its hand-over to the main
// thread.
#include "platform/linux/X11ReadThread.h"

#include <QMetaObject>
#include <QObject>
#include <algorithm>

namespace velaro::x11 {

ReadThread::ReadThread(Read read, std::chrono::milliseconds quiet, std::chrono::milliseconds longest)
    : read_(std::move(read)), quiet_(quiet), longest_(longest), thread_([this] { run(); }) {}

ReadThread::~ReadThread() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ReadThread::ask() {
    {
        std::lock_guard lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        if (!asked_) firstAsk_ = now;
        asked_ = true;
        lastAsk_ = now;
    }
    wake_.notify_all();
}

void ReadThread::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return asked_ || stop_; });
        // Waits out the burst: until the asks pause, or for the longest wait since the first.
        for (;;) {
            if (stop_) return;
            const auto due = std::min(lastAsk_ + quiet_, firstAsk_ + longest_);
            if (std::chrono::steady_clock::now() >= due) break;
            wake_.wait_until(lock, due);
        }
        asked_ = false;
        lock.unlock();
        const bool whole = read_(stop_);
        lock.lock();
        // A read that left work for later goes on after the quiet wait, without an ask: the server, busy
        // with the burst that made the work, gets a pause between the parts.
        if (!whole && !asked_) {
            asked_ = true;
            firstAsk_ = lastAsk_ = std::chrono::steady_clock::now();
        }
    }
}

ToMainThread::ToMainThread() : context_(std::make_unique<QObject>()) {}

ToMainThread::~ToMainThread() = default;

void ToMainThread::post(std::function<void()> block) {
    QMetaObject::invokeMethod(context_.get(), std::move(block), Qt::QueuedConnection);
}

}  // namespace velaro::x11
