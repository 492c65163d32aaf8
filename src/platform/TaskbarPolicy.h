// Whether the app shows itself as a regular application (its settings and tour windows in the taskbar and the
// window switcher) or as a tray-only one, and bringing those windows forward or giving the focus away.
#pragma once

#include <cstdint>

namespace velaro {

// A window's number, as the window services know it (the same alias as the overlay host's). 0 means none.
using WindowNumber = std::int64_t;

enum class ActivationPolicy {
    regular,    // our ordinary windows appear in the taskbar and the window switcher
    accessory,  // they do not: the app lives in the tray
};

// When a window has a taskbar entry.
enum class TaskbarEntry {
    // While the app is a regular one.
    byPolicy,
    // Also while the window manager offers to minimise the window: minimised with no entry, a window whose
    // owner has no other way back to it would be lost.
    whileMinimisable,
};

class TaskbarPolicy {
public:
    virtual ~TaskbarPolicy() = default;

    virtual ActivationPolicy activationPolicy() const = 0;
    // Applies to every window added, now and whenever the window manager takes a window on again.
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    // Our ordinary (managed) windows that follow the policy; a window may be added before it is first shown.
    virtual void addWindow(WindowNumber window, TaskbarEntry entry) = 0;
    virtual void removeWindow(WindowNumber window) = 0;
    // Brings one of our shown windows to the front with the focus, whatever app was active; a minimised
    // window is restored first.
    virtual void activate(WindowNumber window) = 0;
    // When one of our windows has the focus, hands it to the topmost window of another app.
    virtual void deactivate() = 0;
    // Whether one of our windows has the focus.
    virtual bool isActive() const = 0;
};

}  // namespace velaro
