// The damage ledger of the capture worker.
#include "platform/linux/X11CaptureDamage.h"

#include <algorithm>

namespace velaro::x11capture {

void DamageLedger::watchStarted(std::uint32_t drawable) {
    drawables_[drawable] = {turn_, 0};
}

void DamageLedger::watchEnded(std::uint32_t drawable) {
    drawables_.erase(drawable);
}

void DamageLedger::drawableChanged(std::uint32_t drawable) {
    if (auto it = drawables_.find(drawable); it != drawables_.end()) it->second.changed = turn_;
}

void DamageLedger::rootDamaged(const PixelRect& rect) {
    if (!watchingRoot() || rect.isEmpty()) return;
    rootDamage_.push_back({turn_, rect});
    while (rootDamage_.size() > kKeptRootDamage) {
        rootForgottenTurn_ = std::max(rootForgottenTurn_, rootDamage_.front().turn);
        rootDamage_.pop_front();
    }
}

void DamageLedger::rootWatchStarted() {
    rootSince_ = turn_;
    rootDamage_.clear();
    rootForgottenTurn_ = 0;
}

void DamageLedger::rootWatchEnded() {
    rootSince_ = 0;
    rootDamage_.clear();
    rootForgottenTurn_ = 0;
}

namespace {

// Whether `rect` (root pixels) covers a pixel of `area` the grab kept from the root.
bool touchesKept(const PixelRect& rect, const PixelRect& area, const std::vector<std::uint8_t>& replaced) {
    const PixelRect hit = rect.intersection(area);
    if (hit.isEmpty()) return false;
    if (replaced.empty()) return true;
    for (int y = hit.y; y < hit.maxY(); ++y) {
        const auto* row = replaced.data() + static_cast<std::size_t>(y - area.y) * area.width;
        if (std::find(row + (hit.x - area.x), row + (hit.maxX() - area.x), 0) != row + (hit.maxX() - area.x))
            return true;
    }
    return false;
}

}  // namespace

bool DamageLedger::unchangedSince(const Reading& reading) const {
    // What the notices of the grab's own turn told, the grab already saw: it was made after they came in.
    if (reading.turn == 0 || layoutTurn_ > reading.turn) return false;
    for (const std::uint32_t drawable : reading.drawables) {
        const auto it = drawables_.find(drawable);
        if (it == drawables_.end() || it->second.since > reading.turn || it->second.changed > reading.turn)
            return false;
    }
    if (!reading.readRoot) return true;
    if (!watchingRoot() || rootSince_ > reading.turn || rootForgottenTurn_ > reading.turn) return false;
    return std::none_of(rootDamage_.begin(), rootDamage_.end(), [&](const RootDamage& d) {
        return d.turn > reading.turn && touchesKept(d.rect, reading.area, reading.replaced);
    });
}

}  // namespace velaro::x11capture
