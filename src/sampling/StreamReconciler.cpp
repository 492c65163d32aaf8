// The reconcile's decisions: the contexts per listed screen, the feeding screen, and when streams start,
// retry, are kept and are let go.
#include "sampling/StreamReconciler.h"

#include <algorithm>

namespace velaro {

StreamReconciler::Arrangement StreamReconciler::arrange(const std::vector<ScreenInfo>& listed,
                                                        const std::optional<ScreenID>& main) {
    Arrangement out;
    const auto isListed = [&listed](const ScreenID& id) {
        return std::any_of(listed.begin(), listed.end(), [&id](const ScreenInfo& s) { return s.id == id; });
    };
    for (auto it = screens_.begin(); it != screens_.end();) {
        if (isListed(*it)) {
            ++it;
            continue;
        }
        if (feeder_ == *it) feeder_.reset();
        out.closed.push_back(*it);
        it = screens_.erase(it);
    }

    // The main screen opens first, so that it takes the context that publishes on the primary queue.
    for (const auto& s : listed)
        if (main && s.id == *main && !screens_.contains(s.id)) out.opened.push_back(s);
    for (const auto& s : listed)
        if ((!main || s.id != *main) && !screens_.contains(s.id)) out.opened.push_back(s);
    for (const auto& s : out.opened) screens_.insert(s.id);

    std::optional<ScreenID> feeder;
    if (main && screens_.contains(*main))
        feeder = main;
    else if (!listed.empty() && screens_.contains(listed.front().id))
        feeder = listed.front().id;
    out.feederChanged = feeder && feeder != feeder_;
    feeder_ = feeder;
    out.feeder = feeder_;
    return out;
}

bool StreamReconciler::shouldCapture(const CaptureWish& wish) {
    if (!wish.masterEnabled || wish.screensAsleep || !wish.captureDemand || !wish.enabled) return false;
    if (wish.filledWindowActive || wish.fillPending) return true;
    return wish.now - wish.lastFilledActivity < filledGraceSeconds;
}

bool StreamReconciler::wantsCapture(const ScreenID& screen, const CaptureWish& wish,
                                    const std::set<ScreenID>& stopped) const {
    if (!shouldCapture(wish) || !screens_.contains(screen)) return false;
    if (feeder_ && stopped.contains(*feeder_)) return false;
    return !stopped.contains(screen);
}

StreamReconciler::Start StreamReconciler::startFor(const ScreenID& screen, const StreamFacts& stream,
                                                   const CaptureWish& wish,
                                                   const std::set<ScreenID>& stopped) const {
    if (stream.running || stream.starting || !wantsCapture(screen, wish, stopped)) return Start::no;
    return stream.hasGeometry ? Start::go : Start::waitForGeometry;
}

bool StreamReconciler::retryDue(const ScreenID& screen, const StreamFacts& stream, const CaptureWish& wish,
                                const std::set<ScreenID>& stopped) const {
    if (stream.running || stream.starting || !stream.hasGeometry) return false;
    if (!(wish.now - stream.lastStartAttempt > restartThrottleSeconds)) return false;
    return wantsCapture(screen, wish, stopped);
}

bool StreamReconciler::keepsStart(const ScreenID& screen, bool stillCurrent, const CaptureWish& wish,
                                  const std::set<ScreenID>& stopped) const {
    return stillCurrent && wantsCapture(screen, wish, stopped);
}

std::optional<double> StreamReconciler::idleTeardownDelay(const CaptureWish& wish) {
    if (!shouldCapture(wish) || wish.filledWindowActive || wish.fillPending) return std::nullopt;
    return idleTeardownSeconds;
}

}  // namespace velaro
