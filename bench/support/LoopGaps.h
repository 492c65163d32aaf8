// The stands of a Qt main loop as a user's clicks and repaints meet them: a precise 1 ms timer on the loop
// notes each gap between two of its firings that is longer than a threshold, with the moment it ended on the
// steady clock (CLOCK_MONOTONIC, one clock for every process of the machine).
#pragma once

#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <utility>
#include <vector>

namespace velaro::bench {

struct LoopGap {
    double end = 0;  // steady-clock seconds
    double length = 0;
};

// The longest of `gaps` that overlaps [from, to] (steady-clock seconds); 0 for none.
inline double longestGap(const std::vector<LoopGap>& gaps, double from, double to) {
    double longest = 0;
    for (const auto& gap : gaps)
        if (gap.end >= from && gap.end - gap.length <= to) longest = std::max(longest, gap.length);
    return longest;
}

class LoopGaps {
public:
    using Note = std::function<void(const LoopGap&)>;
    // Main thread, with the application object; the timer runs while this lives.
    explicit LoopGaps(Note note, double threshold = 0.0015) : note_(std::move(note)), threshold_(threshold) {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const double t = now();
            if (t - last_ > threshold_) note_({t, t - last_});
            last_ = t;
        });
        last_ = now();
        timer_.start(1);
    }

    static double now() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }

private:
    Note note_;
    double threshold_;
    double last_ = 0;
    QTimer timer_;
};

}  // namespace velaro::bench
