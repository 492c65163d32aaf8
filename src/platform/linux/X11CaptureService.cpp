// Screen capture on X11: one worker thread for every stream, screenshot and content read, so capture holds
// one connection however many screens it streams, and a stream that stops never waits for a thread.
#include "platform/linux/X11CaptureService.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "base/AppId.h"
#include "base/Log.h"
#include "platform/linux/X11Session.h"

namespace velaro {

using namespace x11capture;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr double kDisplayInterval = 1.0 / 60;  // what "the display's rate" means on a server with no vsync
constexpr int kLargestFrameSide = 16384;
constexpr int kDeepestQueue = 16;
constexpr double kUnwokenLook = 0.05;
constexpr std::chrono::seconds kClientMonitorCheck{1};

// The part of a monitor a configuration asks for: its source rectangle, or the whole monitor when empty.
PixelRect captureArea(const StreamConfiguration& config, const Monitor& monitor, double pixelsPerPoint) {
    if (config.sourceRect.isEmpty()) return monitor.root;
    return sourceRectInRoot(config.sourceRect, monitor.root, pixelsPerPoint);
}

CaptureError displayGone(std::uint32_t id) {
    return {CaptureErrorCode::displayUnavailable, "display " + std::to_string(id) + " is not connected"};
}

// Frames in flight to the output, and whether the output still wants them. One per run of a stream, so
// frames of an earlier run never reach the output after its stop.
struct DeliveryGate {
    std::atomic<bool> open{true};
    std::atomic<int> inFlight{0};
    // Held shared while a frame is in the output, so that closing the gate for good can wait for it.
    std::shared_mutex delivering;

    // Closes the gate and returns once no frame is in the output: what the output reads may go after this.
    void closeAndWait() {
        open = false;
        std::unique_lock wait(delivering);
    }
};

// What a stream and the worker share: what the stream wants (its filter, the filter changes waiting for a
// frame, whether it runs) and which run is the current one.
struct StreamState {
    std::mutex mutex;
    ContentFilter filter;
    std::vector<CaptureCompletion> pendingUpdates;
    // The completion of the current run's start, until the worker or a stop takes it.
    CaptureCompletion pendingStart;
    bool running = false;
    bool stopRequested = false;
    // The output asked for a frame whether or not anything changed.
    bool frameAsked = false;
    std::uint64_t generation = 0;
    std::shared_ptr<DeliveryGate> gate;
};

class X11CaptureStream;

// One run of a stream, from its start to its stop, as the worker schedules it.
struct Run {
    std::shared_ptr<StreamState> state;
    std::weak_ptr<X11CaptureStream> stream;
    std::uint64_t generation = 0;
    StreamConfiguration config;
    CaptureStream::FrameHandler output;
    std::shared_ptr<SerialQueue> queue;
    std::shared_ptr<DeliveryGate> gate;
    // The worker's own.
    bool begun = false;
    bool delivered = false;  // its gate is among those the worker's stop closes
    std::optional<Monitor> monitor;
    // The last frame, and what tells when it stops holding.
    KeptStrip strip;
    // Nothing to grab until the damage notices tell of a change under the strip, or a frame is asked for.
    bool waiting = false;
    std::uint32_t displayID = 0;
    std::uint64_t monitorsSeen = 0;
    // The earliest time of the next grab: the configured rate bounds how often a changing strip is grabbed.
    SteadyClock::time_point due{}, monitorsRead{};

    // Its stream stopped, restarted or went away since.
    bool ended() const {
        std::lock_guard lock(state->mutex);
        return state->stopRequested || state->generation != generation;
    }
};

void complete(MainLoop& loop, CaptureCompletion completion, std::optional<CaptureError> error) {
    if (completion) loop.post([completion = std::move(completion), error] { completion(error); });
}

void completeUpdates(MainLoop& loop, StreamState& state, std::optional<CaptureError> error) {
    std::vector<CaptureCompletion> done;
    {
        std::lock_guard lock(state.mutex);
        done.swap(state.pendingUpdates);
    }
    for (auto& c : done) complete(loop, std::move(c), error);
}

}  // namespace

// The capture thread: sleeps until a job comes, a stream starts, stops or asks for a frame, the server sends
// a notice, or a run's next grab is due; and drops runs whose stream has stopped. A run whose last frame
// still holds waits for the damage notices: over a strip nothing draws on, the thread does not wake.
class X11CaptureService::Worker {
public:
    Worker(MainLoop& loop, X11Session& session, CaptureOptions options)
        : loop_(loop),
          x11_(session),
          options_(options),
          wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          thread_([this] { work(); }) {}
    ~Worker() {
        stop();
        if (wakeFd_ >= 0) close(wakeFd_);
    }

    MainLoop& loop() { return loop_; }

    // False once the worker has ended.
    bool post(Job job) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return false;
            jobs_.push_back(std::move(job));
        }
        wake();
        return true;
    }
    bool start(std::shared_ptr<Run> run) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return false;
            runs_.push_back(std::move(run));
        }
        wake();
        return true;
    }
    // Has the worker look at everything again. Called on the worker itself (an output asking for a frame
    // while it takes one), it needs no wake: the worker looks again before it sleeps.
    void wake() {
        if (std::this_thread::get_id() == workerId_.load()) return;
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
    }

    // Ends the worker, then waits for any frame an output is still taking: the outputs read services that
    // may be destroyed once capture has ended, and the streams that fed them may outlive it. The reader of
    // the screen goes here too, over the session's connection while that is still there: a stream holds the
    // worker for as long as anything holds the stream (a completion queued on the main loop, which goes
    // last), and would otherwise let go of the shared segment and the window pictures after the connection.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake();
        if (thread_.joinable()) thread_.join();
        for (const auto& gate : gates_) gate->closeAndWait();
        gates_.clear();
        session_.reset();
    }

private:
    void work() {
        workerId_ = std::this_thread::get_id();
        // Named, so that whoever looks for what wakes finds it.
        pthread_setname_np(pthread_self(), "velaro-capture");
        for (;;) {
            std::deque<Job> jobs;
            std::vector<std::shared_ptr<Run>> runs;
            {
                std::lock_guard lock(mutex_);
                if (stopping_) return;
                // The session's end cut the capture connection (maybe in the middle of the last turn's
                // grabs): the worker ends as if stopped, and takes no more work.
                if (x11_.readingStopped()) {
                    stopping_ = true;
                    return;
                }
                // A run its stream has stopped is dropped here, whenever the stream stopped.
                std::erase_if(runs_, [](const std::shared_ptr<Run>& r) { return r->ended(); });
                jobs.swap(jobs_);
                runs = runs_;
            }
            CaptureError error;
            Session* session = reader(&error);
            if (session) {
                // The last run gone, notices are no longer followed: they would pile up at the server for
                // nobody while the worker sleeps.
                session->setFollowing(!runs.empty());
                following_ = !runs.empty();
                if (!session->pollEvents()) {
                    if (x11_.readingStopped()) continue;  // the end's cut: ended at the top
                    error = {CaptureErrorCode::connectionLost, "the X display connection was lost"};
                    session_.reset();
                    session = nullptr;
                }
            }
            if (!session) following_ = false;
            for (auto& job : jobs) job(session, error);
            const auto now = SteadyClock::now();
            for (const auto& run : runs) {
                if (x11_.readingStopped()) break;
                if (session && run->waiting) run->waiting = stillWaits(*run, *session);
                if (session && (run->waiting || run->due > now)) continue;
                const bool goesOn = session ? step(*run, *session) : fail(*run, error);
                if (goesOn) continue;
                std::lock_guard lock(mutex_);
                std::erase(runs_, run);
            }
            sleep(session);
        }
    }

    // Sleeps until anything is to be done; returns at once when something is.
    void sleep(Session* session) {
        std::optional<SteadyClock::time_point> next;
        // The server's notices matter only to a run that waits for a change; one that saw its change
        // takes them in with its grab, so a burst of drawing wakes the worker once a frame, not once a
        // notice.
        bool listen = false;
        {
            std::lock_guard lock(mutex_);
            if (stopping_ || !jobs_.empty()) return;
            // One more turn stops following the notices once the last run is gone.
            if (runs_.empty() && following_) return;
            for (const auto& r : runs_) {
                if (r->ended()) return;
                const bool waits = r->waiting && !asked(*r);
                listen = listen || waits;
                const auto at = waits ? monitorCheckDue(*r) : r->due;
                if (at != SteadyClock::time_point::max() && (!next || at < *next)) next = at;
            }
        }
        double timeout = -1;
        if (next) {
            timeout = std::chrono::duration<double>(*next - SteadyClock::now()).count();
            if (timeout <= 0) return;
        }
        // Without a descriptor to be woken through (the system refused one), the worker looks now and then.
        if (wakeFd_ < 0 && (timeout < 0 || timeout > kUnwokenLook)) timeout = kUnwokenLook;
        if (session && !listen) session->flush();
        const bool woken =
            session && listen ? session->waitForEvents(wakeFd_, timeout) : waitForWake(wakeFd_, timeout);
        if (woken) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto read = ::read(wakeFd_, &count, sizeof count);
        }
    }

    // When a waiting run's display is to be read again: a monitor a client defined changes without a
    // notice, so it is read once a second; any other, never.
    static SteadyClock::time_point monitorCheckDue(const Run& run) {
        if (!run.monitor || !run.monitor->byClient) return SteadyClock::time_point::max();
        return run.monitorsRead + kClientMonitorCheck;
    }

    static bool asked(Run& run) {
        std::lock_guard lock(run.state->mutex);
        return run.state->frameAsked || !run.state->pendingUpdates.empty();
    }

    // Whether a run that waits for a change may go on waiting: nothing asked of it, its display as it was,
    // and the damage notices vouch that its last frame still holds.
    bool stillWaits(Run& run, Session& session) {
        ContentFilter filter;
        {
            std::lock_guard lock(run.state->mutex);
            if (run.state->frameAsked || !run.state->pendingUpdates.empty()) return false;
            filter = run.state->filter;
        }
        if (!run.monitor || session.monitorsGeneration() != run.monitorsSeen ||
            filter.display.displayID != run.displayID || monitorCheckDue(run) <= SteadyClock::now())
            return false;
        return run.strip.stillHolds(session, captureArea(run.config, *run.monitor, session.pixelsPerPoint()),
                                    filter, run.config.width, run.config.height);
    }

    Session* reader(CaptureError* error) {
        if (!session_) session_ = Session::open(x11_, options_, error);
        return session_.get();
    }

    // Takes the run's start completion, unless a stop took it first.
    CaptureCompletion takeStart(Run& run) {
        std::lock_guard lock(run.state->mutex);
        if (run.state->generation != run.generation) return {};
        return std::exchange(run.state->pendingStart, nullptr);
    }

    bool fail(Run& run, const CaptureError& error) {
        // A connection the session's end cut failed nobody: the worker ends on its next look.
        if (x11_.readingStopped()) return true;
        if (!run.begun) {
            {
                std::lock_guard lock(run.state->mutex);
                if (run.state->generation == run.generation) run.state->running = false;
            }
            completeUpdates(loop_, *run.state, std::nullopt);
            complete(loop_, takeStart(run), error);
        } else {
            stopWithError(run, error);
        }
        return false;
    }

    // One turn of a run: its start on the first, then a frame when one is due.
    bool step(Run& run, Session& session) {
        const auto now = SteadyClock::now();
        if (!run.begun) {
            ContentFilter filter;
            {
                std::lock_guard lock(run.state->mutex);
                filter = run.state->filter;
            }
            run.displayID = filter.display.displayID;
            run.monitor = session.monitor(run.displayID);
            if (!run.monitor) return fail(run, displayGone(run.displayID));
            if (captureArea(run.config, *run.monitor, session.pixelsPerPoint()).isEmpty())
                // Nothing to grab would mean a stream that runs and never delivers.
                return fail(run, {CaptureErrorCode::invalidParameter,
                                  "the source rectangle lies outside the display"});
            complete(loop_, takeStart(run), std::nullopt);
            run.begun = true;
            run.monitorsSeen = session.monitorsGeneration();
            run.monitorsRead = now;
        }
        ContentFilter filter;
        std::vector<CaptureCompletion> applied;
        bool wanted = false;
        {
            std::lock_guard lock(run.state->mutex);
            if (run.state->stopRequested || run.state->generation != run.generation) return false;
            filter = run.state->filter;
            applied.swap(run.state->pendingUpdates);
            wanted = std::exchange(run.state->frameAsked, false);
        }
        // A new filter's first frame goes out whatever it shows: it is the one its completion speaks of.
        wanted = wanted || !applied.empty();
        // Client-defined monitors come and go without a notice, so the list is also read again when a grab
        // comes a second or more after the last reading.
        if (session.monitorsGeneration() != run.monitorsSeen || filter.display.displayID != run.displayID ||
            now - run.monitorsRead >= kClientMonitorCheck) {
            run.monitorsSeen = session.monitorsGeneration();
            run.monitorsRead = now;
            run.displayID = filter.display.displayID;
            run.monitor = session.monitor(run.displayID);
            if (!run.monitor) {
                for (auto& c : applied) complete(loop_, std::move(c), displayGone(run.displayID));
                stopWithError(run, displayGone(run.displayID));
                return false;
            }
        }
        run.waiting = false;
        if (run.gate->inFlight.load() < run.config.queueDepth) {
            const PixelRect area = captureArea(run.config, *run.monitor, session.pixelsPerPoint());
            if (auto frame = run.strip.frame(session, area, filter, run.config.width, run.config.height,
                                             loop_.uptime())) {
                // Nothing new goes out unless it was asked for: a grab that found the pixels of the frame
                // before tells the output nothing.
                const bool changed = !run.strip.repeated();
                if (changed || wanted) deliver(run, std::move(*frame));
                // While the strip changes, the next look comes at the next frame's time, taking in every
                // notice since at once; the first look that finds nothing changed waits for the notices.
                run.waiting = run.strip.vouched() && !changed;
            }
        } else if (wanted) {
            // The output lags: the frame it asked for comes once it has caught up.
            std::lock_guard lock(run.state->mutex);
            run.state->frameAsked = true;
        }
        for (auto& c : applied) complete(loop_, std::move(c), std::nullopt);
        const double interval =
            run.config.minimumFrameInterval > 0 ? run.config.minimumFrameInterval : kDisplayInterval;
        // A late frame does not cause a burst of catch-up grabs.
        run.due += std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(interval));
        if (const auto after = SteadyClock::now(); run.due < after) run.due = after;
        return true;
    }

    void deliver(Run& run, CaptureFrame frame) {
        keepGate(run);
        ++run.gate->inFlight;
        // Handed over on this thread when the output is idle (the usual case at any rate the analysis keeps
        // up with): waking the output's thread for each frame while this one goes back to sleep costs more
        // than the analysis itself.
        run.queue->runOrAsync([gate = run.gate, output = run.output, frame = std::move(frame)] {
            {
                std::shared_lock delivering(gate->delivering);
                if (gate->open.load()) output(frame);
            }
            --gate->inFlight;
        });
    }

    // Ends the run from the worker and tells the owner on the main loop, unless it was stopped meanwhile.
    void stopWithError(Run& run, const CaptureError& error);

    // Remembers the gate of a run about to deliver its first frame, for the stop; gates closed with nothing
    // left in flight are let go on the way.
    void keepGate(Run& run) {
        if (run.delivered) return;
        run.delivered = true;
        std::erase_if(gates_,
                      [](const std::shared_ptr<DeliveryGate>& g) { return !g->open && g->inFlight == 0; });
        gates_.push_back(run.gate);
    }

    MainLoop& loop_;
    X11Session& x11_;
    const CaptureOptions options_;
    std::mutex mutex_;
    bool stopping_ = false;
    std::deque<Job> jobs_;
    std::vector<std::shared_ptr<Run>> runs_;
    std::unique_ptr<Session> session_;  // the worker thread's own, until it has ended
    bool following_ = false;            // the session follows the server's notices; the worker's own
    // Written to wake the worker from its sleep; read by the worker.
    const int wakeFd_;
    std::atomic<std::thread::id> workerId_{};
    // Every gate a frame may still be going through; the worker thread's own until it has ended.
    std::vector<std::shared_ptr<DeliveryGate>> gates_;
    std::thread thread_;  // last: it starts once everything above exists
};

namespace {

class X11CaptureStream final : public CaptureStream, public std::enable_shared_from_this<X11CaptureStream> {
public:
    X11CaptureStream(MainLoop& loop, std::shared_ptr<X11CaptureService::Worker> worker, ContentFilter filter,
                     StreamConfiguration config, StreamStoppedHandler onStopped)
        : loop_(loop),
          worker_(std::move(worker)),
          state_(std::make_shared<StreamState>()),
          config_(config),
          onStopped_(std::move(onStopped)) {
        state_->filter = std::move(filter);
    }

    ~X11CaptureStream() override {
        // The worker drops the run on its next turn; nothing waits for it here.
        if (auto start = requestStop()) complete(loop_, std::move(start), std::nullopt);
    }

    std::optional<CaptureError> addStreamOutput(FrameHandler output,
                                                std::shared_ptr<SerialQueue> queue) override {
        if (!output || !queue)
            return CaptureError{CaptureErrorCode::invalidParameter, "an output needs a handler and a queue"};
        std::lock_guard lock(state_->mutex);
        if (state_->running)
            return CaptureError{CaptureErrorCode::alreadyStarted, "outputs cannot change while capturing"};
        output_ = std::move(output);
        queue_ = std::move(queue);
        return std::nullopt;
    }

    void startCapture(CaptureCompletion completion) override {
        std::optional<CaptureError> refusal = X11CaptureService::validate(config_);
        auto run = std::make_shared<Run>();
        {
            std::lock_guard lock(state_->mutex);
            if (!refusal && state_->filter.kind != ContentFilter::Kind::display)
                refusal = CaptureError{CaptureErrorCode::invalidParameter, "a stream captures a display"};
            if (!refusal && state_->running)
                refusal = CaptureError{CaptureErrorCode::alreadyStarted, "the stream is capturing"};
            if (!refusal) {
                state_->running = true;
                state_->stopRequested = false;
                state_->frameAsked = false;
                state_->gate = std::make_shared<DeliveryGate>();
                state_->pendingStart = std::move(completion);
                run->generation = ++state_->generation;
                run->gate = state_->gate;
            }
        }
        if (refusal) {
            complete(loop_, std::move(completion), refusal);
            return;
        }
        run->state = state_;
        run->stream = weak_from_this();
        run->config = config_;
        run->output = output_;
        run->queue = queue_ ? queue_ : loop_.makeSerialQueue(VELARO_APP_ID ".capture.discard");
        run->due = SteadyClock::now();
        if (worker_->start(run)) return;
        CaptureCompletion start;
        {
            std::lock_guard lock(state_->mutex);
            state_->running = false;
            start = std::exchange(state_->pendingStart, nullptr);
        }
        complete(loop_, std::move(start), CaptureError{CaptureErrorCode::unavailable, "capture has ended"});
    }

    void stopCapture(CaptureCompletion completion) override {
        bool wasRunning;
        {
            std::lock_guard lock(state_->mutex);
            wasRunning = state_->running;
        }
        if (!wasRunning) {
            complete(loop_, std::move(completion),
                     CaptureError{CaptureErrorCode::notStarted, "the stream is not capturing"});
            return;
        }
        // A start the worker has not reached yet is told first, so that its completion comes before the
        // stop's.
        if (auto start = requestStop()) complete(loop_, std::move(start), std::nullopt);
        completeUpdates(loop_, *state_, std::nullopt);
        complete(loop_, std::move(completion), std::nullopt);
    }

    void updateContentFilter(ContentFilter filter, CaptureCompletion completion) override {
        if (filter.kind != ContentFilter::Kind::display) {
            complete(loop_, std::move(completion),
                     CaptureError{CaptureErrorCode::invalidParameter, "a stream captures a display"});
            return;
        }
        std::unique_lock lock(state_->mutex);
        state_->filter = std::move(filter);
        if (!state_->running) {
            lock.unlock();
            complete(loop_, std::move(completion), std::nullopt);
            return;
        }
        // Told once a frame has been taken with it.
        state_->pendingUpdates.push_back(std::move(completion));
        lock.unlock();
        worker_->wake();
    }

    void requestFrame() override {
        {
            std::lock_guard lock(state_->mutex);
            if (!state_->running || state_->frameAsked) return;
            state_->frameAsked = true;
        }
        worker_->wake();
    }

    ContentFilter contentFilter() const override {
        std::lock_guard lock(state_->mutex);
        return state_->filter;
    }
    StreamConfiguration configuration() const override { return config_; }

    // Tells the owner that the run of `generation` stopped by itself, unless the stream restarted since.
    void reportStopped(std::uint64_t generation, const CaptureError& error) {
        {
            std::lock_guard lock(state_->mutex);
            if (state_->generation != generation) return;
        }
        if (onStopped_) onStopped_(*this, error);
    }

private:
    // Marks the run stopped and closes its gate; returns a start completion nobody has told yet.
    CaptureCompletion requestStop() {
        CaptureCompletion start;
        {
            std::lock_guard lock(state_->mutex);
            state_->stopRequested = true;
            state_->running = false;
            if (state_->gate) state_->gate->open = false;
            start = std::exchange(state_->pendingStart, nullptr);
        }
        worker_->wake();
        return start;
    }

    MainLoop& loop_;
    std::shared_ptr<X11CaptureService::Worker> worker_;
    std::shared_ptr<StreamState> state_;
    const StreamConfiguration config_;
    StreamStoppedHandler onStopped_;
    FrameHandler output_ = [](const CaptureFrame&) {};
    std::shared_ptr<SerialQueue> queue_;
};

}  // namespace

void X11CaptureService::Worker::stopWithError(Run& run, const CaptureError& error) {
    // What failed after the session's end cut the connection is the end's doing, not the stream's.
    if (x11_.readingStopped()) return;
    {
        std::lock_guard lock(run.state->mutex);
        if (run.state->stopRequested || run.state->generation != run.generation) return;
        run.state->running = false;
        if (run.state->gate) run.state->gate->open = false;
    }
    qCWarning(lcSampling) << tagged("CAPTURE", "stream stopped: " + error.message);
    completeUpdates(loop_, *run.state, std::nullopt);
    loop_.post([stream = run.stream, generation = run.generation, error] {
        if (auto self = stream.lock()) self->reportStopped(generation, error);
    });
}

X11CaptureService::X11CaptureService(MainLoop& loop, X11Session& session, CaptureOptions options)
    : loop_(loop), worker_(std::make_shared<Worker>(loop, session, options)) {}

X11CaptureService::~X11CaptureService() {
    worker_->stop();
}

std::optional<CaptureError> X11CaptureService::validate(const StreamConfiguration& c) {
    const auto bad = [](std::string why) {
        return CaptureError{CaptureErrorCode::invalidParameter, std::move(why)};
    };
    if (c.width < 1 || c.height < 1 || c.width > kLargestFrameSide || c.height > kLargestFrameSide)
        return bad("frame size " + std::to_string(c.width) + "x" + std::to_string(c.height) +
                   " is out of range");
    if (!std::isfinite(c.minimumFrameInterval) || c.minimumFrameInterval < 0)
        return bad("the frame interval must be a finite number of seconds, 0 or more");
    if (c.queueDepth < 1 || c.queueDepth > kDeepestQueue) return bad("the queue depth must be 1 to 16");
    const Rect& r = c.sourceRect;
    if (!std::isfinite(r.x()) || !std::isfinite(r.y()) || !std::isfinite(r.width()) ||
        !std::isfinite(r.height()) || r.width() < 0 || r.height() < 0)
        return bad("the source rectangle is not a rectangle");
    return std::nullopt;
}

void X11CaptureService::onWorker(Job job) {
    auto copy = job;
    if (!worker_->post(std::move(job)))
        copy(nullptr, CaptureError{CaptureErrorCode::unavailable, "capture has ended"});
}

void X11CaptureService::getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                                            ContentHandler handler) {
    onWorker([&loop = loop_, excludeDesktopWindows, onScreenWindowsOnly, handler = std::move(handler)](
                 Session* session, const CaptureError& error) {
        std::optional<ShareableContent> content;
        if (session) content = session->shareableContent(excludeDesktopWindows, onScreenWindowsOnly);
        loop.post([handler, content = std::move(content), error]() mutable {
            if (content)
                handler(std::move(content), std::nullopt);
            else
                handler(std::nullopt, error);
        });
    });
}

std::shared_ptr<CaptureStream> X11CaptureService::makeStream(ContentFilter filter,
                                                             StreamConfiguration configuration,
                                                             StreamStoppedHandler onStopped) {
    return std::make_shared<X11CaptureStream>(loop_, worker_, std::move(filter), configuration,
                                              std::move(onStopped));
}

void X11CaptureService::captureImage(ContentFilter filter, StreamConfiguration configuration,
                                     ImageHandler handler) {
    // A screenshot may keep the picture's own size: width and height 0 ask for that.
    const bool nativeSize = configuration.width == 0 && configuration.height == 0;
    StreamConfiguration checked = configuration;
    if (nativeSize) checked.width = checked.height = 1;
    if (auto error = validate(checked)) {
        loop_.post([handler = std::move(handler), error] { handler(std::nullopt, error); });
        return;
    }
    onWorker([&loop = loop_, filter = std::move(filter), configuration, nativeSize,
              handler = std::move(handler)](Session* s, const CaptureError& failure) {
        CaptureError error = failure;
        std::optional<BgraImage> image;
        if (s) {
            if (filter.kind == ContentFilter::Kind::window) {
                const TopLevel* window = s->findWindow(filter.window.windowID);
                if (window && window->viewable)
                    image = s->grabWindow(*window);
                else
                    error = {CaptureErrorCode::windowUnavailable, "the window is not on screen"};
            } else if (auto monitor = s->monitor(filter.display.displayID)) {
                image = s->grabFiltered(captureArea(configuration, *monitor, s->pixelsPerPoint()), filter);
            } else {
                error = displayGone(filter.display.displayID);
            }
            if (!image && error.code == CaptureErrorCode::failedToStart)
                error.message = "the picture could not be read";
        }
        std::optional<CaptureFrame> frame;
        if (image) {
            if (!nativeSize) *image = scaled(std::move(*image), configuration.width, configuration.height);
            frame = toFrame(std::move(*image), loop.uptime());
        }
        loop.post([handler, frame = std::move(frame), error]() mutable {
            if (frame)
                handler(std::move(frame), std::nullopt);
            else
                handler(std::nullopt, error);
        });
    });
}

}  // namespace velaro
