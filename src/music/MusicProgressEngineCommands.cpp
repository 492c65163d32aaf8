// Seeks and player commands: each runs a one-shot adapter process and does not wait for it, one of each kind
// (the seek; each player command number) at a time and none for longer than a "get" may take; the seeks also
// move the engine's own position at once, and a settle time keeps late positions from pulling it back.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "base/Log.h"
#include "music/MusicProgressEngine.h"

namespace velaro {

namespace {

// A position as the adapter's "seek" takes it: whole microseconds from the start, never negative, and
// within the 64-bit range however large the position.
std::int64_t seekMicroseconds(double seconds) {
    const double micros = std::max(0.0, seconds) * 1e6;
    if (micros >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(micros);
}

// "m:ss" of a position in seconds, as the diagnostics show it.
std::string minutesAndSeconds(double seconds) {
    const double clamped = std::clamp(std::trunc(seconds), -9.2e18, 9.2e18);
    const long long whole = static_cast<long long>(clamped);
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole - 60 * (whole / 60));
    return text;
}

}  // namespace

// One seek or send from launch to exit; guarded by the engine's lock.
struct MusicProgressEngine::OneShot {
    std::string kind;
    std::string label;
    std::shared_ptr<ChildProcess> process;
    bool exited = false;
};

bool MusicProgressEngine::runOneShot(std::string kind, const std::string& label,
                                     std::vector<std::string> arguments) {
    const auto program = services_.locateAdapter ? services_.locateAdapter() : std::nullopt;
    if (!program) {
        qCWarning(lcPlayer) << tagged("PROG", label + " FAILED: adapter resources not found");
        return false;
    }
    auto shot = std::make_shared<OneShot>();
    shot->kind = std::move(kind);
    shot->label = label;
    // The older command goes before the newer one starts, so that it cannot land after it (a seek to where
    // the user no longer wants to be). Its exit is no longer news.
    std::shared_ptr<OneShot> older;
    {
        std::lock_guard lock(mutex_);
        if (const auto it = oneShots_.find(shot->kind); it != oneShots_.end()) {
            older = std::move(it->second);
            oneShots_.erase(it);
        }
    }
    if (older && older->process && older->process->isRunning()) {
        older->process->dropHandlers();
        older->process->terminate();
        qCDebug(lcPlayer) << tagged("PROG",
                                    older->label + " still running → superseded by a newer " + shot->label);
    }
    // The child holds its handlers and the command its child: the handlers see the command only weakly.
    ProcessLauncher::Handlers handlers{
        .onOutput = {},
        .onExit = guarded([weak = std::weak_ptr(shot), label](MusicProgressEngine& e, int status) {
            e.oneShotExited(weak.lock(), label, status);
        }),
    };
    std::string error;
    auto process = services_.launcher.launch(
        ProcessLauncher::Spec{.program = *program, .arguments = std::move(arguments), .pipeOutput = false},
        std::move(handlers), &error);
    if (!process) {
        qCWarning(lcPlayer) << tagged("PROG", label + " FAILED: " + error);
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        shot->process = process;
        // A command that ended while it was being launched holds no place.
        if (!shot->exited) oneShots_[shot->kind] = shot;
    }
    workQueue_->asyncAfter(kCommandDeadline,
                           guarded([shot](MusicProgressEngine& e) { e.oneShotDeadline(shot); }));
    return true;
}

void MusicProgressEngine::oneShotExited(const std::shared_ptr<OneShot>& shot, const std::string& label,
                                        int status) {
    if (shot) {
        std::lock_guard lock(mutex_);
        shot->exited = true;
        if (const auto it = oneShots_.find(shot->kind); it != oneShots_.end() && it->second == shot)
            oneShots_.erase(it);
    }
    if (status != 0)
        qCWarning(lcPlayer) << tagged("PROG", label + " command exited " + std::to_string(status));
}

void MusicProgressEngine::oneShotDeadline(const std::shared_ptr<OneShot>& shot) {
    {
        std::lock_guard lock(mutex_);
        const auto it = oneShots_.find(shot->kind);
        if (shot->exited || it == oneShots_.end() || it->second != shot) return;
        oneShots_.erase(it);
    }
    if (!shot->process->isRunning()) return;
    // A player that never answers holds the command on the bus; the launcher sends SIGKILL a second later.
    qCWarning(lcPlayer) << tagged("PROG", shot->label + " TIMEOUT → SIGTERM");
    shot->process->dropHandlers();
    shot->process->terminate();
}

bool MusicProgressEngine::runSeekCommand(double seconds) {
    if (!std::isfinite(seconds)) {
        qCWarning(lcPlayer) << tagged("PROG", "seek FAILED: position is not a number");
        return false;
    }
    return runOneShot(std::string(adapter::commands::seek), "seek",
                      {std::string(adapter::commands::seek), std::to_string(seekMicroseconds(seconds))});
}

void MusicProgressEngine::seek(double seconds, double settle) {
    if (!runSeekCommand(seconds)) return;
    const double now = wallSeconds();
    {
        std::lock_guard lock(mutex_);
        state_.seek(seconds, now, now + settle);
    }
    qCDebug(lcPlayer) << tagged("PROG", "seek → " + minutesAndSeconds(seconds) +
                                            " (µs=" + std::to_string(seekMicroseconds(seconds)) + ")");
}

void MusicProgressEngine::keySeek(double step, double settle, double debounce) {
    if (!std::isfinite(step)) return;
    const double now = wallSeconds();
    std::uint64_t token;
    {
        std::lock_guard lock(mutex_);
        if (!state_.hasData() || !(state_.duration() > 0)) return;
        const double target = std::clamp(state_.position(now) + step, 0.0, state_.duration());
        state_.seek(target, now, now + settle);
        pendingKeySeekTarget_ = target;
        pendingKeySeekDelta_ += step;
        token = keySeekToken_ = ++nextKeySeekToken_;
    }
    workQueue_->asyncAfter(debounce, guarded([token](MusicProgressEngine& e) { e.fireKeySeek(token); }));
}

void MusicProgressEngine::fireKeySeek(std::uint64_t token) {
    double target, delta;
    {
        std::lock_guard lock(mutex_);
        // A newer key seek, a track change or a stop took its place: the target it would read is not its own.
        if (keySeekToken_ != token) return;
        target = pendingKeySeekTarget_;
        delta = pendingKeySeekDelta_;
        pendingKeySeekDelta_ = 0;
        keySeekToken_ = 0;
    }
    if (!runSeekCommand(target)) return;
    char step[32];
    std::snprintf(step, sizeof step, "%+.0fs", delta);
    qCDebug(lcPlayer) << tagged("PROG", "seek(key) → " + minutesAndSeconds(target) + " (Δ=" + step + ")");
}

void MusicProgressEngine::sendCommand(int number, const std::string& label) {
    // The engine's state stays: the new play state or track arrives through the stream. Only the same command
    // takes the place of one still running: a track skip must not end a play/pause the player has not yet
    // answered, or the toggle is lost.
    const std::string code = std::to_string(number);
    const std::string send(adapter::commands::send);
    runOneShot(send + " " + code, label, {send, code});
}

}  // namespace velaro
