// Seeks and player commands: each runs a one-shot adapter process and does not wait for it; the seeks also
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

bool MusicProgressEngine::runOneShot(const std::string& label, std::vector<std::string> arguments) {
    const auto program = services_.locateAdapter ? services_.locateAdapter() : std::nullopt;
    if (!program) {
        logLine("PROG", label + " FAILED: adapter resources not found");
        return false;
    }
    ProcessLauncher::Handlers handlers{
        .onOutput = {},
        .onExit = guarded([label](MusicProgressEngine&, int status) {
            if (status != 0) logLine("PROG", label + " command exited " + std::to_string(status));
        }),
    };
    std::string error;
    const auto process = services_.launcher.launch(
        ProcessLauncher::Spec{.program = *program, .arguments = std::move(arguments), .pipeOutput = false},
        std::move(handlers), &error);
    if (!process) {
        logLine("PROG", label + " FAILED: " + error);
        return false;
    }
    return true;
}

bool MusicProgressEngine::runSeekCommand(double seconds) {
    if (!std::isfinite(seconds)) {
        logLine("PROG", "seek FAILED: position is not a number");
        return false;
    }
    return runOneShot("seek",
                      {std::string(adapter::commands::seek), std::to_string(seekMicroseconds(seconds))});
}

void MusicProgressEngine::seek(double seconds, double settle) {
    if (!runSeekCommand(seconds)) return;
    const double now = wallSeconds();
    {
        std::lock_guard lock(mutex_);
        state_.seek(seconds, now, now + settle);
    }
    logLine("PROG", "seek → " + minutesAndSeconds(seconds) +
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
    logLine("PROG", "seek(key) → " + minutesAndSeconds(target) + " (Δ=" + step + ")");
}

void MusicProgressEngine::sendCommand(int number, const std::string& label) {
    // The engine's state stays: the new play state or track arrives through the stream.
    runOneShot(label, {std::string(adapter::commands::send), std::to_string(number)});
}

}  // namespace velaro
