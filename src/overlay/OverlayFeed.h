// What the overlay views read of the sampler: references to its published values and to one screen's
// channel (a channel value, when present, wins over the sampler's own), and the coalesced refresh that
// repaints a view on the loop turn after any of its inputs changed.
#pragma once

#include <QImage>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/Cancellable.h"
#include "base/Color.h"
#include "base/Lifetime.h"
#include "base/MainLoop.h"
#include "base/Published.h"
#include "platform/OverlayWindowHost.h"
#include "sampling/BlurredBackdrop.h"
#include "sampling/LiveLine.h"

namespace velaro {

class HueDriftClock;
class OverlaySettings;

// The recolour of the overlay views: none inside the sampler's snap window (the change is applied at once),
// else linear 0.1 s while a uniform drift paints the colour (it changes on every tick) or ease-in-out 0.25 s.
std::optional<OverlayAnimation> recolorAnimation(double uptime, double recolorSnapUntil, bool driftTicking);

// The sampler's own values. A missing reference reads as the sampler's initial value.
struct SamplerFeed {
    const Published<Color>* dominantColor = nullptr;
    const Published<std::vector<Color>>* zoneColors = nullptr;
    const Published<std::optional<LiveLine>>* liveLine = nullptr;
    const Published<std::optional<BackdropImage>>* blurredBackdropImage = nullptr;
    const Published<std::optional<BackdropImage>>* blurredTopLeftCorner = nullptr;
    const Published<std::optional<BackdropImage>>* blurredTopRightCorner = nullptr;
    const Published<Color>* liveLeftCornerColor = nullptr;
    const Published<Color>* liveRightCornerColor = nullptr;
    const Published<bool>* strokeInkIsDark = nullptr;
    const Published<bool>* isFilledWindowActive = nullptr;
    // Uptime before which colour changes apply without animation (the recolour window).
    const double* recolorSnapUntil = nullptr;
};

// One screen's values; each is absent until that screen produced it.
struct ChannelFeed {
    const Published<std::optional<Color>>* dominantColor = nullptr;
    const Published<std::optional<std::vector<Color>>>* zoneColors = nullptr;
    const Published<std::optional<LiveLine>>* liveLine = nullptr;
    const Published<std::optional<BackdropImage>>* blurredBackdropImage = nullptr;
    const Published<std::optional<Color>>* liveLeftCornerColor = nullptr;
    const Published<std::optional<Color>>* liveRightCornerColor = nullptr;
    const Published<std::optional<BackdropImage>>* blurredTopLeftCorner = nullptr;
    const Published<std::optional<BackdropImage>>* blurredTopRightCorner = nullptr;
};

struct OverlayFeed {
    SamplerFeed sampler;
    ChannelFeed channel;

    Color dominantColor() const;
    std::vector<Color> zoneColors() const;
    std::optional<LiveLine> liveLine() const;
    std::optional<BackdropImage> blurredBackdropImage() const;
    std::optional<BackdropImage> blurredTopLeftCorner() const;
    std::optional<BackdropImage> blurredTopRightCorner() const;
    Color liveLeftCornerColor() const;
    Color liveRightCornerColor() const;
    bool strokeInkIsDark() const;
    bool isFilledWindowActive() const;
    double recolorSnapUntil() const;

    // Calls `changed` on every assignment of any referenced value (before it is stored).
    std::vector<Subscription> subscribe(const std::function<void()>& changed) const;
};

// Runs `refresh` once on the loop turn after one or more `schedule()` calls: published values notify before
// they store, so the refresh must read them later, and a burst of changes costs one repaint.
class CoalescedRefresh {
public:
    CoalescedRefresh(MainLoop& loop, std::function<void()> refresh);
    CoalescedRefresh(const CoalescedRefresh&) = delete;
    CoalescedRefresh& operator=(const CoalescedRefresh&) = delete;
    // A refresh still queued finds its owner gone and does nothing.
    ~CoalescedRefresh() = default;
    void schedule();
    bool isScheduled() const { return pending_; }

private:
    MainLoop& loop_;
    std::function<void()> refresh_;
    bool pending_ = false;
    Lifetime lifetime_;
};

// Everything an overlay view reads: the settings, the feed and the drift clock's phase. Any change refreshes
// the view once, on the next turn of the loop.
class OverlayInputWatch {
public:
    OverlayInputWatch(MainLoop& loop, const OverlaySettings& settings, const OverlayFeed& feed,
                      const HueDriftClock& driftClock, std::function<void()> refresh);
    OverlayInputWatch(const OverlayInputWatch&) = delete;
    OverlayInputWatch& operator=(const OverlayInputWatch&) = delete;

private:
    CoalescedRefresh refresh_;
    std::vector<Subscription> subscriptions_;
};

}  // namespace velaro
