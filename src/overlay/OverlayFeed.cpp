// Channel-over-sampler resolution of the overlay's inputs and the coalesced refresh.
#include "overlay/OverlayFeed.h"

#include "overlay/HueDriftClock.h"
#include "settings/OverlaySettings.h"

namespace velaro {

std::optional<OverlayAnimation> recolorAnimation(double uptime, double recolorSnapUntil, bool driftTicking) {
    if (uptime < recolorSnapUntil) return std::nullopt;
    if (driftTicking) return OverlayAnimation{0.1, TimingCurve::linear};
    return OverlayAnimation{0.25, TimingCurve::easeInEaseOut};
}

namespace {

template <class T>
std::optional<T> channelValue(const Published<std::optional<T>>* channel) {
    return channel ? channel->value() : std::nullopt;
}

template <class T>
T samplerValue(const Published<T>* sampler, T fallback) {
    return sampler ? sampler->value() : fallback;
}

template <class T>
void watch(std::vector<Subscription>& out, const Published<T>* value, const std::function<void()>& changed) {
    if (value) out.push_back(value->changes().sink([changed](const T&) { changed(); }));
}

}  // namespace

Color OverlayFeed::dominantColor() const {
    return channelValue(channel.dominantColor).value_or(samplerValue(sampler.dominantColor, Color::black()));
}

std::vector<Color> OverlayFeed::zoneColors() const {
    if (auto zones = channelValue(channel.zoneColors)) return *zones;
    return samplerValue(sampler.zoneColors, std::vector<Color>{});
}

std::optional<LiveLine> OverlayFeed::liveLine() const {
    if (auto line = channelValue(channel.liveLine)) return line;
    return samplerValue(sampler.liveLine, std::optional<LiveLine>{});
}

std::optional<BackdropImage> OverlayFeed::blurredBackdropImage() const {
    if (auto image = channelValue(channel.blurredBackdropImage)) return image;
    return samplerValue(sampler.blurredBackdropImage, std::optional<BackdropImage>{});
}

std::optional<BackdropImage> OverlayFeed::blurredTopLeftCorner() const {
    if (auto image = channelValue(channel.blurredTopLeftCorner)) return image;
    return samplerValue(sampler.blurredTopLeftCorner, std::optional<BackdropImage>{});
}

std::optional<BackdropImage> OverlayFeed::blurredTopRightCorner() const {
    if (auto image = channelValue(channel.blurredTopRightCorner)) return image;
    return samplerValue(sampler.blurredTopRightCorner, std::optional<BackdropImage>{});
}

Color OverlayFeed::liveLeftCornerColor() const {
    return channelValue(channel.liveLeftCornerColor)
        .value_or(samplerValue(sampler.liveLeftCornerColor, Color::black()));
}

Color OverlayFeed::liveRightCornerColor() const {
    return channelValue(channel.liveRightCornerColor)
        .value_or(samplerValue(sampler.liveRightCornerColor, Color::black()));
}

bool OverlayFeed::strokeInkIsDark() const {
    return samplerValue(sampler.strokeInkIsDark, false);
}

bool OverlayFeed::isFilledWindowActive() const {
    return samplerValue(sampler.isFilledWindowActive, false);
}

double OverlayFeed::recolorSnapUntil() const {
    return sampler.recolorSnapUntil ? *sampler.recolorSnapUntil : 0.0;
}

std::vector<Subscription> OverlayFeed::subscribe(const std::function<void()>& changed) const {
    std::vector<Subscription> out;
    watch(out, sampler.dominantColor, changed);
    watch(out, sampler.zoneColors, changed);
    watch(out, sampler.liveLine, changed);
    watch(out, sampler.blurredBackdropImage, changed);
    watch(out, sampler.blurredTopLeftCorner, changed);
    watch(out, sampler.blurredTopRightCorner, changed);
    watch(out, sampler.liveLeftCornerColor, changed);
    watch(out, sampler.liveRightCornerColor, changed);
    watch(out, sampler.strokeInkIsDark, changed);
    watch(out, sampler.isFilledWindowActive, changed);
    watch(out, channel.dominantColor, changed);
    watch(out, channel.zoneColors, changed);
    watch(out, channel.liveLine, changed);
    watch(out, channel.blurredBackdropImage, changed);
    watch(out, channel.liveLeftCornerColor, changed);
    watch(out, channel.liveRightCornerColor, changed);
    watch(out, channel.blurredTopLeftCorner, changed);
    watch(out, channel.blurredTopRightCorner, changed);
    return out;
}

CoalescedRefresh::CoalescedRefresh(MainLoop& loop, std::function<void()> refresh)
    : loop_(loop), refresh_(std::move(refresh)) {}

void CoalescedRefresh::schedule() {
    if (pending_) return;
    pending_ = true;
    loop_.post(lifetime_.guard([this] {
        pending_ = false;
        refresh_();
    }));
}

OverlayInputWatch::OverlayInputWatch(MainLoop& loop, const OverlaySettings& settings, const OverlayFeed& feed,
                                     const HueDriftClock& driftClock, std::function<void()> refresh)
    : refresh_(loop, std::move(refresh)) {
    auto schedule = [this] { refresh_.schedule(); };
    subscriptions_ = feed.subscribe(schedule);
    subscriptions_.push_back(
        settings.objectWillChange().sink([schedule](const std::monostate&) { schedule(); }));
    subscriptions_.push_back(driftClock.phase().changes().sink([schedule](const double&) { schedule(); }));
}

}  // namespace velaro
