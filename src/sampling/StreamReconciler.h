// The decisions of the sampler's stream reconcile: which screens have a stream context and which of them
// feeds the primary values, whether capture is wanted on a screen, when a stream starts, waits for its
// retry or is let go after the idle grace, and whether a start that finished is still the one wanted. It
// does no I/O and calls no service: the sampler feeds it what it knows and carries the decisions out.
#pragma once

#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Screens.h"

namespace velaro {

// Screens are keyed by their stable identifier (`ScreenInfo::id`).
using ScreenID = std::string;

// What decides whether anything captures, as the sampler's switches and its filled-top watch stand.
struct CaptureWish {
    bool masterEnabled = true;
    bool screensAsleep = false;
    // Some feature shows the live colour.
    bool captureDemand = true;
    // The front app is known, so capture may start.
    bool enabled = false;
    bool filledWindowActive = false;
    // A filled top was seen and waits for its confirmation.
    bool fillPending = false;
    // Uptime of the last refresh that saw a filled top.
    double lastFilledActivity = -std::numeric_limits<double>::infinity();
    double now = 0;
};

// What one screen's stream is doing.
struct StreamFacts {
    bool running = false;
    // A start is under way (content asked for, or the capture beginning).
    bool starting = false;
    // The overlay told where the strip of this screen lies.
    bool hasGeometry = false;
    double lastStartAttempt = -std::numeric_limits<double>::infinity();
};

class StreamReconciler {
public:
    // A failed start is tried again no sooner than this after it began.
    static constexpr double restartThrottleSeconds = 1.5;
    // With no filled window, capture stays wanted this long after the last one was seen…
    static constexpr double filledGraceSeconds = 60;
    // …and the streams of a sampler that only waits out that grace are looked at again after this long.
    static constexpr double idleTeardownSeconds = 60;

    // One pass over the screens.
    struct Arrangement {
        // Contexts whose screen is no longer listed, in the order of the contexts.
        std::vector<ScreenID> closed;
        // Listed screens that get a context, the main one first.
        std::vector<ScreenInfo> opened;
        // The context that feeds the primary values after the pass, if any.
        std::optional<ScreenID> feeder;
        // The feeder took the role in this pass: its next frame must be published even if unchanged.
        bool feederChanged = false;
    };

    // Brings the contexts in line with `listed` (the screens that show a bar, in list order): a context for
    // each of them, none for any other. The main screen's context feeds the primary values, else the first
    // listed screen's. `main` is the primary monitor, listed or not.
    Arrangement arrange(const std::vector<ScreenInfo>& listed, const std::optional<ScreenID>& main);

    // The screens with a context, in the order the sampler walks them.
    const std::set<ScreenID>& screens() const { return screens_; }
    const std::optional<ScreenID>& feeder() const { return feeder_; }

    // Anything captures at all: on, awake, demanded, enabled, and a filled top now, pending, or seen within
    // the grace.
    static bool shouldCapture(const CaptureWish& wish);
    // This screen captures: it has a context and no capture stop, nor has the screen that feeds the primary
    // values (whose colours every screen follows).
    bool wantsCapture(const ScreenID& screen, const CaptureWish& wish,
                      const std::set<ScreenID>& stopped) const;

    enum class Start {
        no,
        // Wanted, but the strip's place is not known yet.
        waitForGeometry,
        go,
    };
    // Whether a start of this screen's stream begins now.
    Start startFor(const ScreenID& screen, const StreamFacts& stream, const CaptureWish& wish,
                   const std::set<ScreenID>& stopped) const;
    // A stream that is wanted, neither runs nor starts, and whose last attempt is older than the throttle.
    bool retryDue(const ScreenID& screen, const StreamFacts& stream, const CaptureWish& wish,
                  const std::set<ScreenID>& stopped) const;
    // A finished start keeps its stream only while capture is still wanted there and the start still
    // belongs to the screen's current context under the current settings; else it is stopped.
    bool keepsStart(const ScreenID& screen, bool stillCurrent, const CaptureWish& wish,
                    const std::set<ScreenID>& stopped) const;
    // Capture is wanted only because of the grace after the last filled top: the delay after which the
    // streams are looked at again. Absent otherwise (a pending teardown is then dropped).
    static std::optional<double> idleTeardownDelay(const CaptureWish& wish);

private:
    std::set<ScreenID> screens_;
    std::optional<ScreenID> feeder_;
};

}  // namespace velaro
