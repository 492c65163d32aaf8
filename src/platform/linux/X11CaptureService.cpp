// Screen capture on X11: shareable content and screenshots on a service worker, one grab thread per stream.
#include "platform/linux/X11CaptureService.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/Log.h"

namespace velaro {

using namespace x11capture;

namespace {

constexpr double kDisplayInterval = 1.0 / 60;  // what "the display's rate" means on a server with no vsync
constexpr int kLargestFrameSide = 16384;
constexpr int kDeepestQueue = 16;

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
};

class X11CaptureStream final : public CaptureStream, public std::enable_shared_from_this<X11CaptureStream> {
public:
    X11CaptureStream(MainLoop& loop, SessionOptions options, ContentFilter filter, StreamConfiguration config,
                     StreamStoppedHandler onStopped)
        : loop_(loop),
          options_(std::move(options)),
          filter_(std::move(filter)),
          config_(config),
          onStopped_(std::move(onStopped)) {}

    ~X11CaptureStream() override {
        requestStop();
        joinWorker();
    }

    std::optional<CaptureError> addStreamOutput(FrameHandler output,
                                                std::shared_ptr<SerialQueue> queue) override {
        if (!output || !queue)
            return CaptureError{CaptureErrorCode::invalidParameter, "an output needs a handler and a queue"};
        std::lock_guard lock(mutex_);
        if (running_)
            return CaptureError{CaptureErrorCode::alreadyStarted, "outputs cannot change while capturing"};
        output_ = std::move(output);
        queue_ = std::move(queue);
        return std::nullopt;
    }

    void startCapture(CaptureCompletion completion) override {
        std::optional<CaptureError> refusal = X11CaptureService::validate(config_);
        if (!refusal && filter_.kind != ContentFilter::Kind::display)
            refusal = CaptureError{CaptureErrorCode::invalidParameter, "a stream captures a display"};
        std::unique_lock lock(mutex_);
        if (!refusal && running_)
            refusal = CaptureError{CaptureErrorCode::alreadyStarted, "the stream is capturing"};
        if (refusal) {
            lock.unlock();
            complete(std::move(completion), refusal);
            return;
        }
        lock.unlock();
        joinWorker();  // a run that ended by itself
        lock.lock();
        running_ = true;
        stopRequested_ = false;
        gate_ = std::make_shared<DeliveryGate>();
        const std::uint64_t generation = ++runGeneration_;
        lock.unlock();
        worker_ = std::thread([this, generation, completion = std::move(completion)]() mutable {
            run(generation, std::move(completion));
        });
    }

    void stopCapture(CaptureCompletion completion) override {
        bool wasRunning;
        {
            std::lock_guard lock(mutex_);
            wasRunning = running_;
        }
        if (!wasRunning) {
            complete(std::move(completion),
                     CaptureError{CaptureErrorCode::notStarted, "the stream is not capturing"});
            return;
        }
        requestStop();
        joinWorker();
        completeUpdates(std::nullopt);
        complete(std::move(completion), std::nullopt);
    }

    void updateContentFilter(ContentFilter filter, CaptureCompletion completion) override {
        if (filter.kind != ContentFilter::Kind::display) {
            complete(std::move(completion),
                     CaptureError{CaptureErrorCode::invalidParameter, "a stream captures a display"});
            return;
        }
        std::unique_lock lock(mutex_);
        filter_ = std::move(filter);
        if (!running_) {
            lock.unlock();
            complete(std::move(completion), std::nullopt);
            return;
        }
        // Told once a frame has been taken with it.
        pendingUpdates_.push_back(std::move(completion));
    }

    ContentFilter contentFilter() const override {
        std::lock_guard lock(mutex_);
        return filter_;
    }
    StreamConfiguration configuration() const override { return config_; }

private:
    void complete(CaptureCompletion completion, std::optional<CaptureError> error) {
        if (completion) loop_.post([completion = std::move(completion), error] { completion(error); });
    }

    void completeUpdates(std::optional<CaptureError> error) {
        std::vector<CaptureCompletion> done;
        {
            std::lock_guard lock(mutex_);
            done.swap(pendingUpdates_);
        }
        for (auto& c : done) complete(std::move(c), error);
    }

    void requestStop() {
        {
            std::lock_guard lock(mutex_);
            stopRequested_ = true;
            running_ = false;
            if (gate_) gate_->open = false;
        }
        wake_.notify_all();
    }

    void joinWorker() {
        if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
    }

    // Ends the run from the worker and tells the owner on the main loop, unless it was stopped meanwhile.
    void stopWithError(std::uint64_t generation, CaptureError error) {
        {
            std::lock_guard lock(mutex_);
            if (stopRequested_ || runGeneration_ != generation) return;
            running_ = false;
            if (gate_) gate_->open = false;
        }
        logLine("CAPTURE", "stream stopped: " + error.message);
        completeUpdates(std::nullopt);
        loop_.post([weak = weak_from_this(), generation, error] {
            auto self = weak.lock();
            if (!self) return;
            {
                std::lock_guard lock(self->mutex_);
                if (self->runGeneration_ != generation) return;  // restarted since
            }
            if (self->onStopped_) self->onStopped_(*self, error);
        });
    }

    void run(std::uint64_t generation, CaptureCompletion started) {
        CaptureError error;
        auto session = Session::open(options_, &error);
        ContentFilter filter = contentFilter();
        std::optional<Monitor> monitor;
        if (session) {
            monitor = session->monitor(filter.display.displayID);
            if (!monitor) {
                error = displayGone(filter.display.displayID);
            } else if (captureArea(config_, *monitor, session->pixelsPerPoint()).isEmpty()) {
                // Nothing to grab would mean a stream that runs and never delivers.
                error = {CaptureErrorCode::invalidParameter, "the source rectangle lies outside the display"};
                monitor.reset();
            }
        }
        if (!session || !monitor) {
            {
                std::lock_guard lock(mutex_);
                if (runGeneration_ == generation) running_ = false;
            }
            completeUpdates(std::nullopt);
            complete(std::move(started), error);
            return;
        }
        complete(std::move(started), std::nullopt);

        std::shared_ptr<DeliveryGate> gate;
        FrameHandler output;
        std::shared_ptr<SerialQueue> queue;
        {
            std::lock_guard lock(mutex_);
            gate = gate_;
            output = output_;
            queue = queue_;
        }
        const double interval =
            config_.minimumFrameInterval > 0 ? config_.minimumFrameInterval : kDisplayInterval;
        const auto step = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(interval));
        auto due = std::chrono::steady_clock::now();
        std::uint32_t displayID = filter.display.displayID;
        auto monitorsRead = std::chrono::steady_clock::now();
        for (;;) {
            std::vector<CaptureCompletion> applied;
            {
                std::unique_lock lock(mutex_);
                wake_.wait_until(lock, due, [this] { return stopRequested_; });
                if (stopRequested_) return;
                filter = filter_;
                applied.swap(pendingUpdates_);
            }
            if (!session->pollEvents()) {
                stopWithError(generation,
                              {CaptureErrorCode::connectionLost, "the X display connection was lost"});
                return;
            }
            // Client-defined monitors come and go without a notice, so the list is also read once a second.
            const auto now = std::chrono::steady_clock::now();
            if (session->monitorsChanged() || filter.display.displayID != displayID ||
                now - monitorsRead >= std::chrono::seconds(1)) {
                monitorsRead = now;
                displayID = filter.display.displayID;
                monitor = session->monitor(displayID);
                if (!monitor) {
                    for (auto& c : applied) complete(std::move(c), displayGone(displayID));
                    stopWithError(generation, displayGone(displayID));
                    return;
                }
            }
            if (gate->inFlight.load() < config_.queueDepth) {
                const PixelRect area = captureArea(config_, *monitor, session->pixelsPerPoint());
                if (auto image = session->grabFiltered(area, filter)) {
                    CaptureFrame frame =
                        toFrame(scaled(std::move(*image), config_.width, config_.height), loop_.uptime());
                    ++gate->inFlight;
                    queue->async([gate, output, frame = std::move(frame)] {
                        if (gate->open.load()) output(frame);
                        --gate->inFlight;
                    });
                }
            }
            for (auto& c : applied) complete(std::move(c), std::nullopt);
            // A late frame does not cause a burst of catch-up grabs.
            due += step;
            if (const auto after = std::chrono::steady_clock::now(); due < after) due = after;
        }
    }

    MainLoop& loop_;
    const SessionOptions options_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    ContentFilter filter_;
    const StreamConfiguration config_;
    StreamStoppedHandler onStopped_;
    FrameHandler output_ = [](const CaptureFrame&) {};
    std::shared_ptr<SerialQueue> queue_;
    std::vector<CaptureCompletion> pendingUpdates_;
    std::shared_ptr<DeliveryGate> gate_;
    bool running_ = false;
    bool stopRequested_ = false;
    std::uint64_t runGeneration_ = 0;
    std::thread worker_;
};

}  // namespace

struct X11CaptureService::Shared {
    SessionOptions options;
    std::unique_ptr<Session> session;  // touched on the service queue only

    // The service queue's session, reconnected when the server went away since.
    Session* ensureSession(CaptureError* error) {
        if (session && !session->pollEvents()) session.reset();
        if (!session) session = Session::open(options, error);
        return session.get();
    }
};

X11CaptureService::X11CaptureService(MainLoop& loop, SessionOptions options)
    : loop_(loop),
      shared_(std::make_shared<Shared>()),
      queue_(loop.makeSerialQueue("com.quornet.Velaro.capture")) {
    shared_->options = std::move(options);
}

X11CaptureService::~X11CaptureService() = default;

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

void X11CaptureService::getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                                            ContentHandler handler) {
    queue_->async([&loop = loop_, shared = shared_, excludeDesktopWindows, onScreenWindowsOnly,
                   handler = std::move(handler)] {
        CaptureError error;
        std::optional<ShareableContent> content;
        if (Session* s = shared->ensureSession(&error))
            content = s->shareableContent(excludeDesktopWindows, onScreenWindowsOnly);
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
    return std::make_shared<X11CaptureStream>(loop_, shared_->options, std::move(filter), configuration,
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
    queue_->async([&loop = loop_, shared = shared_, filter = std::move(filter), configuration, nativeSize,
                   handler = std::move(handler)] {
        CaptureError error;
        std::optional<BgraImage> image;
        if (Session* s = shared->ensureSession(&error)) {
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
