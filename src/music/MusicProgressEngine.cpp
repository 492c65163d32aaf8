// The engine's life and the adapter's stream: launch, reading, restart with a growing delay, the health
// check, stopping, and the change notifications.
#include "music/MusicProgressEngine.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/AppId.h"
#include "base/Log.h"

namespace velaro {

struct MusicProgressEngine::StreamRun {
    std::uint64_t id = 0;
    adapter::LineSplitter lines;
    std::shared_ptr<ChildProcess> process;  // set once the launch is known to be wanted
};

MusicProgressEngine::MusicProgressEngine(Services services)
    : services_(std::move(services)),
      guard_(std::make_shared<Guard>()),
      workQueue_(services_.loop.makeSerialQueue(std::string(velaroAppId) + ".progress-engine")),
      artworkQueue_(services_.loop.makeSerialQueue(std::string(velaroAppId) + ".artwork-fetch")) {
    guard_->engine = this;
}

MusicProgressEngine::~MusicProgressEngine() {
    {
        std::unique_lock lock(guard_->mutex);
        guard_->engine = nullptr;
    }
    std::shared_ptr<ChildProcess> process, fetch;
    {
        std::lock_guard lock(mutex_);
        if (run_) process = std::move(run_->process);
        run_.reset();
        fetch = std::move(artworkFetch_);
    }
    for (const auto& child : {process, fetch}) {
        if (!child) continue;
        child->dropHandlers();
        child->terminate();
    }
}

double MusicProgressEngine::wallSeconds() const {
    return std::chrono::duration<double>(services_.loop.wallTime().time_since_epoch()).count();
}

void MusicProgressEngine::post(std::function<void()> block) {
    services_.loop.post(guarded([block = std::move(block)](MusicProgressEngine&) { block(); }));
}

bool MusicProgressEngine::isRunning() const {
    std::lock_guard lock(mutex_);
    return !stopped_;
}

void MusicProgressEngine::start() {
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        if (!stopped_) return;
        stopped_ = false;
        generation = ++spawnGeneration_;
        restartDelay_ = 1.0;
    }
    qCInfo(lcPlayer) << tagged("PROG", "engine v1 start (source=adapter, vendor=3ac3d4b)");
    spawnAdapter(generation);
    post([this] {
        if (!terminateObserved_ && services_.onWillTerminate) {
            terminateObserved_ = true;
            services_.onWillTerminate(guarded([](MusicProgressEngine& engine) { engine.stop(); }));
        }
        summaryTimer_.cancel();
        if (services_.positionSummary)
            summaryTimer_ =
                services_.loop.every(1.0, guarded([](MusicProgressEngine& engine) { engine.summaryTick(); }));
    });
}

void MusicProgressEngine::stop() {
    std::shared_ptr<ChildProcess> process, fetch;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        ++spawnGeneration_;
        cancelKeySeekLocked();
        state_.forgetTrack();
        artworkKey_.reset();
        ++artworkGeneration_;
        artworkColor_.reset();
        artworkRetryAvailable_ = false;
        artworkPendingGen_.reset();
        fetch = std::move(artworkFetch_);
        if (run_) process = std::move(run_->process);
        run_.reset();
    }
    // The stream's exit must not start a restart: its handlers go before it is told to end.
    if (process) {
        process->dropHandlers();
        process->terminate();
    }
    // A running fetch ends; its result, if any, is dropped as stale.
    if (fetch) fetch->terminate();
    post([this] { summaryTimer_.cancel(); });
    qCInfo(lcPlayer) << tagged("PROG", "engine stopped");
}

ProgressSnapshot MusicProgressEngine::snapshot() const {
    const double now = wallSeconds();
    std::lock_guard lock(mutex_);
    return state_.snapshot(now);
}

void MusicProgressEngine::setOnChange(std::function<void(const ProgressSnapshot&)> onChange) {
    std::lock_guard lock(mutex_);
    onChange_ = std::move(onChange);
}

void MusicProgressEngine::cancelKeySeekLocked() {
    keySeekToken_ = 0;
    pendingKeySeekTarget_ = 0;
    pendingKeySeekDelta_ = 0;
}

void MusicProgressEngine::spawnAdapter(std::uint64_t generation) {
    const auto program = services_.locateAdapter ? services_.locateAdapter() : std::nullopt;
    if (!program) {
        // Nothing is retried: the engine stays started without a stream until it is started again.
        qCWarning(lcPlayer) << tagged("PROG", "spawn FAILED: adapter resources not found in bundle");
        return;
    }
    std::uint64_t runId;
    {
        std::lock_guard lock(mutex_);
        // A restart that raced a stop and a new start, or a second launch for the same start, goes no
        // further.
        if (stopped_ || generation != spawnGeneration_ || run_) return;
        run_ = std::make_shared<StreamRun>();
        runId = run_->id = ++nextRunId_;
        state_.clearPayload();
        receivedFirstLine_ = false;
    }

    ProcessLauncher::Handlers handlers{
        .onOutput =
            guarded([runId](MusicProgressEngine& e, std::string_view chunk) { e.receive(runId, chunk); }),
        .onExit = guarded([runId](MusicProgressEngine& e, int status) { e.adapterExited(runId, status); }),
    };
    std::string error;
    auto process = services_.launcher.launch(
        ProcessLauncher::Spec{
            .program = *program,
            .arguments = {std::string(adapter::commands::stream), std::string(adapter::commands::noArtwork)},
            .pipeOutput = true},
        std::move(handlers), &error);
    if (!process) {
        qCWarning(lcPlayer) << tagged("PROG", "spawn FAILED: " + error);
        {
            std::lock_guard lock(mutex_);
            if (run_ && run_->id == runId) run_.reset();
        }
        scheduleRestart(generation);
        return;
    }

    bool wanted;
    {
        std::lock_guard lock(mutex_);
        // A stop (and maybe a new start) while launching, or an exit that already came: not ours to keep.
        wanted = !stopped_ && generation == spawnGeneration_ && run_ && run_->id == runId && !run_->process;
        if (wanted) run_->process = process;
    }
    if (!wanted) {
        process->dropHandlers();
        process->terminate();
        return;
    }
    workQueue_->asyncAfter(5.0, guarded([generation](MusicProgressEngine& e) { e.healthCheck(generation); }));
}

void MusicProgressEngine::receive(std::uint64_t runId, std::string_view chunk) {
    if (chunk.empty()) return;  // end of output; the exit brings the restart
    std::vector<std::string> lines;
    std::size_t dropped;
    {
        std::lock_guard lock(mutex_);
        if (!run_ || run_->id != runId) return;
        dropped = run_->lines.append(chunk, lines);
    }
    for (std::size_t i = 0; i < dropped; ++i)
        qCWarning(lcPlayer) << tagged("PROG", "adapter line over 1 MiB dropped");
    for (const auto& line : lines) handleLine(runId, line);
}

void MusicProgressEngine::handleLine(std::uint64_t runId, std::string_view line) {
    auto data = adapter::parseDataLine(line);
    if (!data) return;
    const double now = wallSeconds();
    ProgressSnapshot snap;
    {
        std::lock_guard lock(mutex_);
        if (stopped_ || !run_ || run_->id != runId) return;
        receivedFirstLine_ = true;
        restartDelay_ = 1.0;
        const auto outcome = state_.apply(std::move(*data), now);
        if (outcome.trackChanged) cancelKeySeekLocked();
        requestArtworkLocked();
        if (!outcome.changed) return;
        snap = state_.snapshot(now);
    }
    // The listener is read when the call runs: one cleared or replaced meanwhile is never called.
    post([this, snap = std::move(snap)] {
        std::function<void(const ProgressSnapshot&)> listener;
        {
            std::lock_guard lock(mutex_);
            listener = onChange_;
        }
        if (listener) listener(snap);
    });
}

void MusicProgressEngine::adapterExited(std::uint64_t runId, int status) {
    std::shared_ptr<ChildProcess> process;
    bool stopped;
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        if (!run_ || run_->id != runId) return;
        process = std::move(run_->process);
        run_.reset();
        stopped = stopped_;
        generation = spawnGeneration_;
    }
    if (process) process->dropHandlers();
    if (stopped) return;
    qCWarning(lcPlayer) << tagged("PROG",
                                  "adapter exited (status=" + std::to_string(status) + ") — restarting");
    scheduleRestart(generation);
}

void MusicProgressEngine::scheduleRestart(std::uint64_t generation) {
    double delay;
    {
        std::lock_guard lock(mutex_);
        if (stopped_ || generation != spawnGeneration_) return;
        delay = restartDelay_;
        restartDelay_ = std::min(2 * delay, 30.0);
    }
    qCInfo(lcPlayer) << tagged("PROG", "restart in " + std::to_string(static_cast<long long>(delay)) + "s");
    workQueue_->asyncAfter(delay, guarded([generation](MusicProgressEngine& e) { e.restart(generation); }));
}

void MusicProgressEngine::restart(std::uint64_t generation) {
    bool current, stopped;
    {
        std::lock_guard lock(mutex_);
        current = generation == spawnGeneration_;
        stopped = stopped_;
    }
    if (!current)
        qCDebug(lcPlayer) << tagged("PROG", "restart skipped (stale generation)");
    else if (!stopped)
        spawnAdapter(generation);
}

void MusicProgressEngine::healthCheck(std::uint64_t generation) {
    bool received, stopped, current;
    {
        std::lock_guard lock(mutex_);
        received = receivedFirstLine_;
        stopped = stopped_;
        current = generation == spawnGeneration_;
    }
    if (!current)
        qCDebug(lcPlayer) << tagged("PROG", "health check skipped (stale generation)");
    else if (!received && !stopped)
        qCWarning(lcPlayer) << tagged("PROG", "health: no data line within 5s — adapter may be blocked");
}

void MusicProgressEngine::summaryTick() {
    const ProgressSnapshot snap = snapshot();
    if (!snap.isValid) {
        if (wasValid_) {
            wasValid_ = false;
            qCDebug(lcPlayer) << tagged("PROG", "invalid (no source / live stream)");
        }
        return;
    }
    wasValid_ = true;
    const double now = wallSeconds();
    double elapsed, duration, rate;
    std::string source;
    {
        std::lock_guard lock(mutex_);
        elapsed = state_.position(now);
        duration = state_.duration();
        rate = state_.rate();
        source = state_.appId() ? *state_.appId() : "?";
    }
    const char* format = "elapsed=%.1f dur=%.1f rate=%.2f src=%s";
    // Sized by a first pass: an adapter may send lengths of hundreds of digits.
    std::string line(std::snprintf(nullptr, 0, format, elapsed, duration, rate, source.c_str()), '\0');
    std::snprintf(line.data(), line.size() + 1, format, elapsed, duration, rate, source.c_str());
    qCDebug(lcPlayer) << tagged("PROG", line);
}

}  // namespace velaro
