// Qt-backed main loop: timers are QTimers owned by one context object on the main thread.
#include "base/QtMainLoop.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

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

// Every timer of the loop is a timer of this one object, told apart by its id: a timer started, restarted
// and cancelled every frame (animations, paced flushes) then costs no object, connection or deferred
// delete (each of which posts an event and wakes the loop once more).
//
// Blocks posted from the loop's own thread wait here too, behind one timer of no delay, instead of in Qt's
// event queue: every event Qt posts writes the dispatcher's wake-up descriptor (a system call, and another
// one to read it back), although the loop posting to itself is awake already. A frame's results reach the
// views as a dozen posts in a row. They run, in the order posted, before any other timer of the loop fires,
// as posted events did.
class QtMainLoop::Timers final : public QObject {
public:
    struct Entry {
        int id = 0;
        bool repeating = false;
        bool done = false;  // fired (single shot) or cancelled: its id may already belong to another timer
        bool running = false;
        std::function<void()> block;
    };

    std::shared_ptr<Entry> start(int milliseconds, bool repeating, std::function<void()> block) {
        auto entry = std::make_shared<Entry>();
        entry->repeating = repeating;
        entry->block = std::move(block);
        entry->id = startTimer(milliseconds, Qt::PreciseTimer);
        if (entry->id == 0) {
            entry->done = true;
            return entry;
        }
        entries_[entry->id] = entry;
        return entry;
    }

    void cancel(const std::shared_ptr<Entry>& entry) {
        if (entry->done) return;
        entry->done = true;
        killTimer(entry->id);
        entries_.erase(entry->id);
        // What the block holds is let go now, not when the handle goes.
        if (!entry->running) entry->block = nullptr;
    }

    // Stops every timer and lets every block go, while this object is still whole: a block's captures may
    // cancel handles or post again as they go.
    void close() {
        for (auto& [id, entry] : entries_) {
            killTimer(id);
            entry->done = true;
        }
        if (postTimer_) killTimer(std::exchange(postTimer_, 0));
        const auto entries = std::exchange(entries_, {});
        // Handles may keep their entries: the blocks go now, not with the last handle.
        for (const auto& [id, entry] : entries)
            if (!entry->running) (void)std::exchange(entry->block, nullptr);
        (void)std::exchange(posted_, {});
    }

    void post(std::function<void()> block) {
        posted_.push_back({nextPost_++, std::move(block)});
        // A fresh timer for each run of the queue: Qt never fires a timer again while its own event still
        // runs, so a block that spins a loop of its own (a modal dialog) still has later posts run.
        if (!postTimer_) postTimer_ = QObject::startTimer(0, Qt::PreciseTimer);
    }

protected:
    void timerEvent(QTimerEvent* event) override {
        if (event->timerId() == postTimer_) {
            killTimer(std::exchange(postTimer_, 0));
            runPosted();
            return;
        }
        runPosted();
        const auto found = entries_.find(event->timerId());
        if (found == entries_.end()) return;
        // Held while it runs: the block may cancel its own handle, which drops the table's reference.
        const std::shared_ptr<Entry> entry = found->second;
        if (!entry->repeating) {
            const auto block = std::move(entry->block);
            cancel(entry);
            block();
            return;
        }
        entry->running = true;
        entry->block();
        entry->running = false;
        if (entry->done) entry->block = nullptr;
    }

private:
    // Runs the blocks posted before this call; those they post run on the next turn.
    void runPosted() {
        const std::uint64_t end = nextPost_;
        while (!posted_.empty() && posted_.front().number < end) {
            const auto block = std::move(posted_.front().block);
            posted_.pop_front();
            block();
        }
        // Emptied from another timer's event: the waiting timer has nothing left to run.
        if (posted_.empty() && postTimer_) killTimer(std::exchange(postTimer_, 0));
    }

    struct Posted {
        std::uint64_t number;
        std::function<void()> block;
    };
    std::unordered_map<int, std::shared_ptr<Entry>> entries_;
    std::deque<Posted> posted_;
    std::uint64_t nextPost_ = 0;
    int postTimer_ = 0;
};

QtMainLoop::QtMainLoop() : timers_(std::make_unique<Timers>()) {}

QtMainLoop::~QtMainLoop() {
    {
        std::lock_guard lock(closing_);
        closed_ = true;
    }
    timers_->close();
    // Blocks posted from other threads wait in Qt's queue; they would go with the context object, after the
    // timers, as members go.
    QCoreApplication::removePostedEvents(&context_);
}

double QtMainLoop::uptime() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::chrono::system_clock::time_point QtMainLoop::wallTime() const {
    return std::chrono::system_clock::now();
}

void QtMainLoop::post(std::function<void()> block) {
    if (QThread::currentThread() == timers_->thread()) {
        // The loop's own thread is the one that closes it: no lock needed to look.
        if (closed_) return;
        timers_->post(std::move(block));
        return;
    }
    std::function<void()> dropped;
    {
        std::lock_guard lock(closing_);
        if (!closed_) {
            QMetaObject::invokeMethod(&context_, std::move(block), Qt::QueuedConnection);
            return;
        }
        dropped = std::move(block);
    }
    // Let go outside the lock: what it holds may post again as it goes.
}

Cancellable QtMainLoop::startTimer(double seconds, bool repeating, std::function<void()> block) {
    if (closed_) return Cancellable();
    auto entry = timers_->start(toMilliseconds(seconds), repeating, std::move(block));
    return Cancellable([entry, timers = QPointer<Timers>(timers_.get())] {
        if (!timers) return;  // the loop is gone, and its timers with it
        if (QThread::currentThread() == timers->thread()) {
            timers->cancel(entry);
            return;
        }
        // Timers are stopped on their own thread.
        QMetaObject::invokeMethod(timers.data(), [entry, timers] {
            if (timers) timers->cancel(entry);
        });
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
    bool busy = false;  // a block runs, on the worker or on a caller of runOrAsync
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
            if (!ready.empty() && !busy) {
                auto block = std::move(ready.front());
                ready.pop_front();
                busy = true;
                lock.unlock();
                block();
                lock.lock();
                busy = false;
                continue;
            }
            // A block running on a caller's thread wakes the worker when it ends.
            if (delayed.empty() || busy)
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

void ThreadSerialQueue::runOrAsync(std::function<void()> block) {
    {
        std::unique_lock lock(impl_->mutex);
        if (impl_->stopping) return;
        if (impl_->busy || !impl_->ready.empty()) {
            impl_->ready.push_back(std::move(block));
            lock.unlock();
            impl_->wake.notify_one();
            return;
        }
        impl_->busy = true;
    }
    block();
    bool more;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->busy = false;
        more = !impl_->ready.empty() || !impl_->delayed.empty();
    }
    if (more) impl_->wake.notify_one();
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
