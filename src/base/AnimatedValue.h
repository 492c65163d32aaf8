// A value that moves to a new target along a timing curve, stepped by the main loop, for the overlay views'
// colour, opacity and phase changes; each change may carry a completion that runs once when it ends.
#pragma once

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "base/Cancellable.h"
#include "base/Color.h"
#include "base/MainLoop.h"
#include "base/TimingCurve.h"

namespace velaro {

// The step between two values at progress `t` (0 gives `from`, 1 gives `to`).
double interpolateValue(double from, double to, double t);
// Every component, opacity included, so a fade to a clear colour is smooth.
Color interpolateValue(const Color& from, const Color& to, double t);
// Element by element; lists of different lengths cannot be blended and change at once.
std::vector<Color> interpolateValue(const std::vector<Color>& from, const std::vector<Color>& to, double t);

// How often a running animation repaints: display rate, the loop drives it.
inline constexpr double kAnimationFrameInterval = 1.0 / 60.0;

template <class T>
class AnimatedValue {
public:
    AnimatedValue(MainLoop& loop, T initial) : loop_(loop), from_(initial), to_(std::move(initial)) {}
    AnimatedValue(const AnimatedValue&) = delete;
    AnimatedValue& operator=(const AnimatedValue&) = delete;
    // A completion still pending is dropped with the value: its owner is gone.
    ~AnimatedValue() = default;

    // Called on every step of a running animation and on every change, so the owner can repaint.
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

    // Moves to `target`. Without an animation (or a duration of 0 or less) the change is applied at once.
    // Setting the target the value already heads for changes nothing and runs `completion` at once. A
    // change taken over by a later one ends there, and its completion runs then.
    void set(T target, std::optional<OverlayAnimation> animation = std::nullopt,
             std::function<void()> completion = {}) {
        if (target == to_) {
            if (completion) completion();
            return;
        }
        from_ = value();
        to_ = std::move(target);
        auto previous = std::exchange(completion_, std::move(completion));
        if (animation && animation->duration > 0) {
            start_ = loop_.uptime();
            duration_ = animation->duration;
            curve_ = animation->curve;
            running_ = true;
            // The ticking starts over with each change, and its first step waits a little more than a
            // frame: a value given a new target every frame (live colours) is repainted by those changes,
            // and steps of its own in between would only wake the loop once more a frame.
            ticker_ = loop_.postAfter(kAnimationFrameInterval * 1.25, [this] { step(); });
            if (previous) previous();
            changed();
        } else {
            if (previous) previous();
            finish();
        }
    }

    // Shows `value` at once, ending any animation (its completion runs).
    void snapTo(T value) {
        to_ = std::move(value);
        finish();
    }

    // The value shown now.
    T value() const {
        if (!running_) return to_;
        return interpolateValue(from_, to_, timingCurveProgress(curve_, progressAt(loop_.uptime())));
    }
    const T& target() const { return to_; }
    bool isAnimating() const { return running_; }

private:
    double progressAt(double now) const { return duration_ > 0 ? (now - start_) / duration_ : 1.0; }
    void step() {
        if (!running_ || progressAt(loop_.uptime()) >= 1.0) {
            finish();
        } else {
            ticker_ = loop_.postAfter(kAnimationFrameInterval, [this] { step(); });
            changed();
        }
    }
    void finish() {
        running_ = false;
        from_ = to_;
        ticker_.cancel();
        changed();
        if (auto done = std::exchange(completion_, nullptr)) done();
    }
    void changed() {
        if (onChange_) onChange_();
    }

    MainLoop& loop_;
    T from_;
    T to_;
    double start_ = 0;
    double duration_ = 0;
    TimingCurve curve_ = TimingCurve::linear;
    bool running_ = false;
    Cancellable ticker_;
    std::function<void()> completion_;
    std::function<void()> onChange_;
};

}  // namespace velaro
