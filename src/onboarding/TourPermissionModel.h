// The tour's live view of what the app relies on in the session: the X11 session (needed), a compositing
// manager, a media player and a sound server (each for a feature), and the window manager the feature pages
// ask about. It asks the desktop again once a second and whenever the app becomes active, but only while
// someone (the permissions page) holds it started, so that something started meanwhile shows as running.
#pragma once

#include <variant>

#include "base/Cancellable.h"
#include "base/MainLoop.h"
#include "base/Published.h"
#include "platform/Permissions.h"

namespace velaro {

// Every time the application becomes the active one (one of its windows takes the focus), from Qt.
Stream<std::monostate> applicationBecameActive();

class TourPermissionModel {
public:
    // Checks everything at once. `becameActive` is the app's activation stream.
    TourPermissionModel(Permissions& permissions, MainLoop& loop, Stream<std::monostate> becameActive);
    TourPermissionModel(const TourPermissionModel&) = delete;
    TourPermissionModel& operator=(const TourPermissionModel&) = delete;

    // Assigned only when an answer changes a status.
    const Published<CapabilityStatuses>& statuses() const { return watch_.statuses(); }
    bool present(Capability c) const { return watch_.present(c); }

    // One more holder; polling runs from the first.
    void start();
    // One holder less; polling stops with the last. A stop without a start changes nothing.
    void stop();
    // Asks about everything again (what is still being asked about is not asked twice).
    void refresh() { watch_.refresh(); }
    // The button of a missing capability: the help page's section on what it costs and how to get it.
    void openHelp(Capability c) { watch_.openHelp(c); }

    static constexpr double pollInterval = 1.0;

private:
    CapabilityWatch watch_;
    MainLoop& loop_;
    Stream<std::monostate> becameActive_;
    int consumers_ = 0;
    Cancellable poll_;
    Subscription activation_;
};

}  // namespace velaro
