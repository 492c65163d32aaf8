// The colours the overlay remembers per app (the last ones on screen while that app's window filled the top
// of the screen), and the hold that lays them over the live colours for a moment after the filling app
// changed, until fresh colours arrive.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "overlay/BarOverlayView.h"

namespace velaro {

struct CachedAppearance {
    RevealColorHold hold;
    double at = 0;  // uptime when recorded
};

// At most `kCapacity` apps; recording an app beyond that evicts the one recorded longest ago (recency of
// recording, not of use).
class AppearanceCache {
public:
    static constexpr std::size_t kCapacity = 8;

    void record(const std::string& app, RevealColorHold hold, double at);
    const CachedAppearance* find(const std::string& app) const;
    std::size_t size() const { return entries_.size(); }

private:
    std::map<std::string, CachedAppearance> entries_;
    std::vector<std::string> lru_;  // recorded least recently first
};

class ColorMemory {
public:
    // Two ticks of the same owner further apart than this do not record: the app may have left and come
    // back in between, and the colours on screen need not be its own.
    static constexpr double kMaxTickGap = 1.5;
    // Publications within this time of an edge are still the previous app's colours.
    static constexpr double kMinHold = 0.15;
    static constexpr double kMaxHold = 0.5;

    // One poll's owner of the filled window. Records `snapshot()` for the owner when the previous tick named
    // the same owner at most 1.5 s ago, a window fills the top and recording is not frozen. Returns whether
    // it recorded.
    bool recordOwnerTick(const std::optional<std::string>& owner, double now, bool filledWindowActive,
                         double cacheFreezeUntil, const std::function<RevealColorHold()>& snapshot);
    // The next tick counts as a change of owner.
    void resetPrevTickOwner() { prevTickOwner_.reset(); }
    const std::optional<std::string>& prevTickOwner() const { return prevTickOwner_; }

    const AppearanceCache& cache() const { return cache_; }

    // A hold laid at an owner edge at `now`, when `publishSeq` colours had been published; returns the new
    // edge generation (older delayed checks compare against it and do nothing).
    std::uint64_t beginHold(double now, std::int64_t publishSeq);
    // Forgets the hold without touching the generation.
    void endHold() { holdEdgeAt_.reset(); }
    bool isHolding() const { return holdEdgeAt_.has_value(); }
    std::optional<double> holdEdgeAt() const { return holdEdgeAt_; }
    std::uint64_t edgeGeneration() const { return edgeGeneration_; }

    // Whether the hold should end at `now`: never before 0.15 s, from then on once a colour was published
    // after the edge, and at 0.5 s in any case. False without a hold.
    bool holdSettled(double now, std::int64_t publishSeq) const;

private:
    AppearanceCache cache_;
    std::optional<std::string> prevTickOwner_;
    double prevTickAt_ = 0;
    std::optional<double> holdEdgeAt_;
    std::int64_t holdEdgeSeq_ = 0;
    std::uint64_t edgeGeneration_ = 0;
};

}  // namespace velaro
