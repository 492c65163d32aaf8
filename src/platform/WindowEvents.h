// Minimise, restore and destroy events of one process's windows.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velaro {

enum class WindowEventKind { minimised, restored, destroyed };

// The event's name as handed to the window-event hook.
inline const char* windowEventName(WindowEventKind kind) {
    switch (kind) {
        case WindowEventKind::minimised:
            return "minimised";
        case WindowEventKind::restored:
            return "restored";
        case WindowEventKind::destroyed:
            return "destroyed";
    }
    return "";
}

// Watching ends when the handle is destroyed.
class WindowEventObservation {
public:
    virtual ~WindowEventObservation() = default;
};

class WindowEvents {
public:
    using Callback = std::function<void(WindowEventKind)>;
    virtual ~WindowEvents() = default;
    // Whether this process may watch other processes' windows at all.
    virtual bool isTrusted() const = 0;
    // Starts watching the windows of `pid` (those it has now and those it opens later); `callback` runs on
    // the main loop. Null when watching cannot be set up.
    virtual std::unique_ptr<WindowEventObservation> observe(std::int32_t pid, Callback callback) = 0;
};

}  // namespace velaro
