// A pointer the test moves by hand; watchers hear of a move only when the position changed.
#pragma once

#include <atomic>
#include <map>
#include <memory>

#include "platform/PointerSource.h"

namespace velaro::test {

class FakePointerSource final : public PointerSource {
public:
    // `primaryHeight`: height in points of the primary screen, for the top-left reading; 0 means no screen.
    explicit FakePointerSource(double primaryHeight = 900) : primaryHeight_(primaryHeight) {}

    std::optional<Point> location() const override {
        ++reads;
        return location_;
    }
    std::optional<Point> topLeftLocation() const override {
        ++reads;
        if (!location_ || primaryHeight_ <= 0) return std::nullopt;
        return Point{location_->x, primaryHeight_ - location_->y};
    }
    std::uint32_t modifierFlags() const override {
        ++modifierReads_;
        return modifiers_;
    }
    Cancellable watchMotion(std::function<void()> moved) override {
        const int id = ++nextId_;
        watchers_->emplace(id, std::move(moved));
        return Cancellable([weak = std::weak_ptr<Watchers>(watchers_), id] {
            if (auto w = weak.lock()) w->erase(id);
        });
    }

    // Moves the pointer to a position in global points (y up).
    void moveTo(Point global) {
        if (location_ && *location_ == global) return;
        location_ = global;
        const auto snapshot = *watchers_;
        for (const auto& [id, moved] : snapshot) moved();
    }
    // Moves the pointer to a position in top-left global points (y down).
    void moveToTopLeft(Point topLeft) { moveTo({topLeft.x, primaryHeight_ - topLeft.y}); }
    void forget() { location_.reset(); }
    // Holds exactly these modifier keys (ModifierFlag bits) from now on.
    void holdModifiers(std::uint32_t flags) { modifiers_ = flags; }
    int modifierReads() const { return modifierReads_; }
    void setPrimaryHeight(double h) { primaryHeight_ = h; }
    std::size_t watcherCount() const { return watchers_->size(); }

    // Reads of the position: on the real server each one is a round trip.
    mutable std::atomic<int> reads{0};

private:
    using Watchers = std::map<int, std::function<void()>>;
    std::optional<Point> location_;
    std::uint32_t modifiers_ = 0;
    mutable int modifierReads_ = 0;
    double primaryHeight_;
    std::shared_ptr<Watchers> watchers_ = std::make_shared<Watchers>();
    int nextId_ = 0;
};

}  // namespace velaro::test
