// The now-playing state kept from the adapter's data lines: the stored payload, the track it names, and its
// position as a position at a moment plus a rate, extrapolated whenever a snapshot is asked for.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "music/AdapterProtocol.h"

namespace velaro {

// What the progress bar draws from: valid while a track with a known length is playing or paused.
struct ProgressSnapshot {
    // Fraction of the track played, 0 to 1; absent when not valid.
    std::optional<double> progress01;
    // Track length in seconds; 0 when not valid.
    double duration = 0;
    bool isPlaying = false;
    bool isValid = false;
    // The player's application id; null when not valid. Shared, so a snapshot is taken without allocating.
    std::shared_ptr<const std::string> appId;
};

// Not thread-safe: the engine keeps it under its lock. Times are seconds since 1970.
class NowPlayingState {
public:
    struct Outcome {
        // Listeners must be told: a track came or went, became valid or not, started or stopped playing.
        bool changed = false;
        // The track's identity changed (or appeared, or went).
        bool trackChanged = false;
    };

    // Stores a data line's payload (replacing the stored one, or merging into it) and recomputes the state.
    Outcome apply(adapter::DataLine line, double now);
    // A new run of the adapter starts from nothing.
    void clearPayload() { payload_ = nlohmann::json::object(); }
    // Snapshots are invalid until the next data line that names a track.
    void forgetTrack() { hasData_ = false; }
    // Moves the position at once, and ignores the adapter's positions until `settleUntil`.
    void seek(double position, double now, double settleUntil);

    ProgressSnapshot snapshot(double now) const;
    // The extrapolated position in seconds, not clamped to the track.
    double position(double now) const;

    const nlohmann::json& payload() const { return payload_; }
    bool hasData() const { return hasData_; }
    double duration() const { return duration_; }
    double rate() const { return rate_; }
    const std::shared_ptr<const std::string>& appId() const { return appId_; }

private:
    Outcome applyPayload(double now);

    nlohmann::json payload_ = nlohmann::json::object();
    double lastElapsed_ = 0;
    double lastTimestamp_ = 0;
    double rate_ = 0;
    double duration_ = 0;
    std::shared_ptr<const std::string> appId_;
    std::optional<std::string> trackKey_;
    bool hasData_ = false;
    double settleUntil_ = 0;
};

}  // namespace velaro
