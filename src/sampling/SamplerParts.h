// The sampler's private parts that each keep one concern of its refresh: the menu poll, the slide gate, the
// seam hidden under menu surfaces and the freezes of the frame analysis. Only the sampler holds them.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "base/Cancellable.h"
#include "base/MainLoop.h"
#include "base/Published.h"
#include "sampling/WindowListScans.h"

namespace velaro {

class DefaultsStore;

// With a stream running the frame analysis watches foreign menus and the poll only hands over; without one
// the poll owns the watch and says when another app's menu has closed.
class MenuPoll {
public:
    // One refresh's sighting at uptime `now`; `activityEnded(delay)` is called for each "menu-bar activity
    // ended" that is due, `delay` seconds from now.
    void track(bool streamRunning, bool foreignMenuOpen, double now,
               const std::function<void(double delay)>& activityEnded);
    // The poll stopped: the next one takes the watch over afresh.
    void release();

    bool menuOpen() const { return menuOpen_; }
    bool notifyPending() const { return notifyPending_; }
    bool owned() const { return ownedSince_ != 0; }
    double resumeAfter() const { return resumeAfter_; }
    bool resyncDone() const { return resyncDone_; }
    // Without a stream and with no menu in sight, a track now or at any later time changes nothing.
    bool settled() const { return ownedSince_ != 0 && !menuOpen_ && !notifyPending_ && (resyncDone_ || sawOpen_); }

private:
    bool menuOpen_ = false;
    bool notifyPending_ = false;
    bool resyncDone_ = false;
    bool sawOpen_ = false;
    double resumeAfter_ = 0;
    // 0 means "not owning".
    double ownedSince_ = 0;
};

// Open while the desktop slides to another workspace (most windows off screen and moving), so the overlay
// does not paint colours of windows in flight. It closes when a scan no longer shows the slide, or after a
// timeout, after which the same signature is distrusted until a scan clears it.
class SlideGate {
public:
    // `changed` runs when the gate opens, and when it closes by its timeout after `republish`.
    SlideGate(MainLoop& loop, std::function<void()> changed, std::function<void()> republish);

    bool isOpen() const { return open_; }
    std::int64_t generation() const { return generation_; }
    // The window positions of the last scan, which the next scan compares with.
    const WindowPositions& previousPositions() const { return previousMinX_; }

    void open();
    // One scan's decision. A close is announced by `announcePendingClose` at the end of the refresh.
    void update(const WindowScanResult& scan);
    // Returns whether a close decided during this refresh waits to be announced, and clears it.
    bool takePendingClose();

private:
    void timedOut(std::int64_t generation);

    MainLoop& loop_;
    std::function<void()> changed_;
    std::function<void()> republish_;
    bool open_ = false;
    std::int64_t generation_ = 0;
    bool distrusted_ = false;
    WindowPositions previousMinX_;
    bool closePending_ = false;
    Cancellable timer_;
};

// Hides the seam at once under a menu surface (only with `seamAutoHide` on) and shows it again 0.4 s after
// the last refresh that saw one.
class SeamHider {
public:
    SeamHider(MainLoop& loop, Published<bool>& seamSuppressed) : loop_(loop), suppressed_(seamSuppressed) {}
    void update(bool glassSurfaceOverTopStrip, const DefaultsStore& defaults);
    // The screens sleep or the master switch went off: a release still pending is dropped.
    void cancelRelease() { releaseTimer_.cancel(); }
    bool glassSurfaceOverTopStrip() const { return glassSurface_; }
    bool releasePending() const { return releaseTimer_.isActive(); }

private:
    MainLoop& loop_;
    Published<bool>& suppressed_;
    bool glassSurface_ = false;
    Cancellable releaseTimer_;
    // The hiding setting as last read, and the store and its revision it was read at.
    const DefaultsStore* autoHideFrom_ = nullptr;
    std::uint64_t autoHideRevision_ = 0;
    bool autoHide_ = false;
};

// The reasons that hold every frame analysis frozen ("overview", …): frozen while any is held.
class SamplingFreezes {
public:
    // `apply` pushes the frozen state into the frame analyses when it changes.
    SamplingFreezes(Published<bool>& isSamplingFrozen, std::function<void(bool frozen)> apply)
        : frozen_(isSamplingFrozen), apply_(std::move(apply)) {}
    void set(bool on, const std::string& reason);
    // A frame analysis asked to be let go: every reason is dropped (the analyses unfreeze themselves).
    void clearAll();

private:
    Published<bool>& frozen_;
    std::function<void(bool)> apply_;
    std::set<std::string> reasons_;
};

}  // namespace velaro
