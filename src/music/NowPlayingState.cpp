// Merging the adapter's payloads, telling tracks apart, and extrapolating the position into snapshots.
#include "music/NowPlayingState.h"

#include <algorithm>
#include <cmath>

#include "base/Log.h"

namespace velaro {

using nlohmann::json;

NowPlayingState::Outcome NowPlayingState::apply(adapter::DataLine line, double now) {
    if (!line.diff) {
        payload_ = std::move(line.payload);
    } else {
        for (auto& [key, value] : line.payload.items()) {
            if (value.is_null())
                payload_.erase(key);
            else
                payload_[key] = std::move(value);
        }
    }
    return applyPayload(now);
}

NowPlayingState::Outcome NowPlayingState::applyPayload(double now) {
    const json& p = payload_;
    const auto bundle = p.find(adapter::keys::bundleIdentifier);
    const bool hasBundle = bundle != p.end() && bundle->is_string();
    const auto durationIt = p.find(adapter::keys::duration);
    const double dur = durationIt != p.end() && durationIt->is_number() ? durationIt->get<double>() : 0.0;
    std::optional<double> elapsed;
    if (const auto it = p.find(adapter::keys::elapsedTime); it != p.end() && it->is_number())
        elapsed = it->get<double>();
    const double newRate = adapter::playbackRate(p);
    std::optional<double> stamp;
    if (const auto it = p.find(adapter::keys::timestamp); it != p.end() && it->is_string())
        stamp = adapter::parseTimestamp(it->get_ref<const std::string&>());
    std::optional<std::string> key = adapter::trackKey(p);

    const bool prevHasData = hasData_;
    const bool prevValid = hasData_ && duration_ > 0;
    const double prevRate = rate_;
    Outcome outcome;

    if (key != trackKey_) {
        outcome.trackChanged = true;
        trackKey_ = std::move(key);
        lastElapsed_ = 0;
        lastTimestamp_ = now;
        settleUntil_ = 0;
        rate_ = 0;
        duration_ = 0;
        if (trackKey_) {
            const auto title = p.find(adapter::keys::title);
            qCDebug(lcPlayer) << tagged(
                "PROG", "track → " + (title != p.end() ? adapter::text(*title) : std::string("?")) + " [" +
                            std::string(adapter::prefixCharacters(*trackKey_, 24)) + "…]");
        } else {
            qCDebug(lcPlayer) << tagged("PROG", "source lost");
        }
    }

    hasData_ = trackKey_.has_value() && !p.empty();
    if (!hasBundle)
        appId_.reset();
    else if (!appId_ || *appId_ != bundle->get_ref<const std::string&>())
        appId_ = std::make_shared<const std::string>(bundle->get_ref<const std::string&>());
    duration_ = dur;
    if (elapsed && settleUntil_ <= now) {
        lastElapsed_ = *elapsed;
        lastTimestamp_ = stamp.value_or(now);
    }
    rate_ = newRate;
    if ((newRate > 0) != (prevRate > 0))
        qCDebug(lcPlayer) << tagged("PROG", newRate > 0 ? "rate → playing" : "rate → paused");

    const bool playingFlipped = (prevRate > 0) != (rate_ > 0);
    if (hasData_)
        outcome.changed = !prevHasData || prevValid != (duration_ > 0) || playingFlipped;
    else
        outcome.changed = prevHasData || playingFlipped;
    return outcome;
}

void NowPlayingState::seek(double position, double now, double settleUntil) {
    lastElapsed_ = position;
    lastTimestamp_ = now;
    settleUntil_ = settleUntil;
}

double NowPlayingState::position(double now) const {
    return lastElapsed_ + rate_ * std::max(0.0, now - lastTimestamp_);
}

ProgressSnapshot NowPlayingState::snapshot(double now) const {
    if (!hasData_ || !(duration_ > 0)) return {};
    double p = position(now) / duration_;
    // Huge values from the adapter may overflow to infinity or meet as inf − inf: the bar still gets a
    // fraction.
    if (!(p > 0))
        p = 0;
    else if (p > 1)
        p = 1;
    return ProgressSnapshot{p, duration_, rate_ > 0, true, appId_};
}

}  // namespace velaro
