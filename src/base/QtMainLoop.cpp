// Qt-backed main loop: timers are QTimers owned by one context object on the main thread.
#include "base/QtMainLoop.h"

#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include <pthread.h>

namespace velaro {

namespace {

int toMilliseconds(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0) return 0;
    return static_cast<int>(std::min(seconds * 1000.0 + 0.5, 2.0e9));
}

class QtDisplayLink final : public DisplayLink {
public:
    QtDisplayLink(QtMainLoop* loop, std::function<void(double)> frame)
        : loop_(loop), frame_(std::move(frame)) {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { frame_(loop_->uptime()); });
        applyRate();
    }
    void setPreferredFrameRateRange(double minimum, double maximum, double preferred) override {
        double rate = std::isfinite(preferred) && preferred > 0 ? preferred : 60.0;
        if (std::isfinite(minimum) && minimum > 0) rate = std::max(rate, minimum);
        if (std::isfinite(maximum) && maximum > 0) rate = std::min(rate, maximum);
        rate_ = rate;
        applyRate();
    }
    void start() override { timer_.start(); }
    void stop() override { timer_.stop(); }
    bool isRunning() const override { return timer_.isActive(); }

private:
    void applyRate() { timer_.setInterval(std::max(1, toMilliseconds(1.0 / rate_))); }
    QtMainLoop* loop_;
    std::function<void(double)> frame_;
    QTimer timer_;
    double rate_ = 60.0;
};

}  // namespace

QtMainLoop::QtMainLoop() = default;
QtMainLoop::~QtMainLoop() = default;

double QtMainLoop::uptime() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::chrono::system_clock::time_point QtMainLoop::wallTime() const {
    return std::chrono::system_clock::now();
}

void QtMainLoop::post(std::function<void()> block) {
    QMetaObject::invokeMethod(&context_, std::move(block), Qt::QueuedConnection);
}

Cancellable QtMainLoop::startTimer(double seconds, bool repeating, std::function<void()> block) {
    auto* timer = new QTimer(&context_);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(!repeating);
    timer->setInterval(toMilliseconds(seconds));
    auto cancelled = std::make_shared<bool>(false);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, cancelled, repeating, block = std::move(block)] {
        if (*cancelled) return;
        if (!repeating) {
            *cancelled = true;
            timer->deleteLater();
        }
        block();  // may cancel its own handle: the timer is only ever deleted later
    });
    timer->start();
    return Cancellable([cancelled, guard = QPointer<QTimer>(timer)] {
        if (*cancelled) return;
        *cancelled = true;
        if (guard) {
            guard->stop();
            guard->deleteLater();
        }
    });
}

Cancellable QtMainLoop::postAfter(double seconds, std::function<void()> block) {
    return startTimer(seconds, false, std::move(block));
}

Cancellable QtMainLoop::every(double seconds, std::function<void()> block) {
    return startTimer(seconds, true, std::move(block));
}

std::unique_ptr<DisplayLink> QtMainLoop::makeDisplayLink(std::function<void(double)> frame) {
    return std::make_unique<QtDisplayLink>(this, std::move(frame));
}

std::unique_ptr<SerialQueue> QtMainLoop::makeSerialQueue(const std::string& label) {
    return std::make_unique<ThreadSerialQueue>(label);
}

bool QtMainLoop::isMainThread() const {
    return QThread::currentThread() == context_.thread();
}

struct ThreadSerialQueue::Impl {
    using TimePoint = std::chrono::steady_clock::time_point;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> ready;
    std::multimap<TimePoint, std::function<void()>> delayed;
    bool stopping = false;
    std::thread worker;

    void run() {
        std::unique_lock lock(mutex);
        while (true) {
            const auto now = std::chrono::steady_clock::now();
            while (!delayed.empty() && delayed.begin()->first <= now) {
                ready.push_back(std::move(delayed.begin()->second));
                delayed.erase(delayed.begin());
            }
            if (stopping) return;
            if (!ready.empty()) {
                auto block = std::move(ready.front());
                ready.pop_front();
                lock.unlock();
                block();
                lock.lock();
                continue;
            }
            if (delayed.empty())
                wake.wait(lock);
            else
                wake.wait_until(lock, delayed.begin()->first);
        }
    }
};

ThreadSerialQueue::ThreadSerialQueue(std::string label)
    : label_(std::move(label)), impl_(std::make_unique<Impl>()) {
    impl_->worker = std::thread([impl = impl_.get(), name = label_] {
        // Thread names are limited to 15 bytes; keep the most specific end of the label.
        const std::string shortName = name.size() > 15 ? name.substr(name.size() - 15) : name;
        pthread_setname_np(pthread_self(), shortName.c_str());
        impl->run();
    });
}

ThreadSerialQueue::~ThreadSerialQueue() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wake.notify_all();
    if (impl_->worker.get_id() == std::this_thread::get_id()) {
        // Destroyed by one of its own blocks: the worker still runs on the state, so it outlives us.
        impl_->worker.detach();
        (void)impl_.release();
    } else
        impl_->worker.join();
}

void ThreadSerialQueue::async(std::function<void()> block) {
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->stopping) return;
        impl_->ready.push_back(std::move(block));
    }
    impl_->wake.notify_one();
}

void ThreadSerialQueue::asyncAfter(double seconds, std::function<void()> block) {
    const auto delay = std::chrono::duration<double>(std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0);
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->stopping) return;
        impl_->delayed.emplace(std::chrono::steady_clock::now() +
                                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay),
                               std::move(block));
    }
    impl_->wake.notify_one();
}

}  // namespace velaro
