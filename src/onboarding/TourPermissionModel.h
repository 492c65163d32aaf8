// The tour's live view of the two permissions it asks for: whether the screen may be read (needed) and
// whether other windows may be acted on (optional). It re-reads both once a second and whenever the app
// becomes active, but only while someone (the permissions page) holds it started.
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
    // Reads both permissions at once. `becameActive` is the app's activation stream.
    TourPermissionModel(Permissions& permissions, MainLoop& loop, Stream<std::monostate> becameActive);
    TourPermissionModel(const TourPermissionModel&) = delete;
    TourPermissionModel& operator=(const TourPermissionModel&) = delete;

    const Published<bool>& screenRecordingGranted() const { return screenRecordingGranted_; }
    const Published<bool>& accessibilityGranted() const { return accessibilityGranted_; }
    // Whether the screen-capture button was pressed once in this tour: later presses open the help page.
    const Published<bool>& screenRecordingAsked() const { return screenRecordingAsked_; }

    // One more holder; polling runs from the first.
    void start();
    // One holder less; polling stops with the last. A stop without a start changes nothing.
    void stop();
    // Re-reads both permissions; each flag is assigned only when it changed.
    void refresh();

    // The screen-capture button: the first press marks the question asked and reads the state again (an X
    // session has nothing to ask); every later press opens the page that explains it.
    void requestScreenRecording();
    // The accessibility button: asks for the trust where the desktop can prompt, then opens the page that
    // explains it, on every press.
    void requestAccessibility();

    static constexpr double pollInterval = 1.0;

private:
    Permissions& permissions_;
    MainLoop& loop_;
    Stream<std::monostate> becameActive_;
    Published<bool> screenRecordingGranted_;
    Published<bool> accessibilityGranted_;
    Published<bool> screenRecordingAsked_{false};
    int consumers_ = 0;
    Cancellable poll_;
    Subscription activation_;
};

}  // namespace velaro
