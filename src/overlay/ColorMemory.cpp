// The per-app colour cache, the owner-tick rule that fills it and the settle rule of the colour hold.
#include "overlay/ColorMemory.h"

#include <algorithm>

namespace velaro {

void AppearanceCache::record(const std::string& app, RevealColorHold hold, double at) {
    entries_[app] = CachedAppearance{std::move(hold), at};
    std::erase(lru_, app);
    lru_.push_back(app);
    if (lru_.size() > kCapacity) {
        entries_.erase(lru_.front());
        lru_.erase(lru_.begin());
    }
}

const CachedAppearance* AppearanceCache::find(const std::string& app) const {
    auto it = entries_.find(app);
    return it == entries_.end() ? nullptr : &it->second;
}

bool ColorMemory::recordOwnerTick(const std::optional<std::string>& owner, double now,
                                  bool filledWindowActive, double cacheFreezeUntil,
                                  const std::function<RevealColorHold()>& snapshot) {
    const bool record = owner && prevTickOwner_ == owner && filledWindowActive && now >= cacheFreezeUntil &&
                        now - prevTickAt_ <= kMaxTickGap;
    if (record) cache_.record(*owner, snapshot(), now);
    prevTickOwner_ = owner;
    prevTickAt_ = now;
    return record;
}

std::uint64_t ColorMemory::beginHold(double now, std::int64_t publishSeq) {
    ++edgeGeneration_;
    holdEdgeAt_ = now;
    holdEdgeSeq_ = publishSeq;
    return edgeGeneration_;
}

bool ColorMemory::holdSettled(double now, std::int64_t publishSeq) const {
    if (!holdEdgeAt_) return false;
    // A check scheduled exactly at a limit must count as reaching it, whatever the rounding of the times.
    const double dt = now - *holdEdgeAt_ + 1e-9;
    if (dt < kMinHold) return false;
    if (dt < kMaxHold) return publishSeq > holdEdgeSeq_;
    return true;
}

}  // namespace velaro
