// A front-to-back snapshot of the desktop's on-screen windows with the fields the window scans read.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"

namespace velaro {

// Window levels, ordered as the scans compare them. X11 has no levels: the window list derives them from
// window types and states.
namespace WindowLevel {
inline constexpr int normal = 0;
inline constexpr int floating = 3;
inline constexpr int dock = 20;
inline constexpr int mainMenu = 24;
inline constexpr int status = 25;
inline constexpr int popUpMenu = 101;
inline constexpr int screenSaver = 1000;
}  // namespace WindowLevel

// One window. Optional fields are absent when the window server could not say; the scans skip such windows.
struct WindowInfo {
    std::optional<std::int64_t> number;
    std::optional<std::int32_t> ownerPID;
    std::string ownerName;
    std::optional<int> layer;
    // Outer bounds (frame included) in top-left global points (origin at the primary's top-left, y down).
    std::optional<Rect> bounds;
    std::optional<double> alpha;
    bool onScreen = true;

    friend bool operator==(const WindowInfo&, const WindowInfo&) = default;
};

class WindowList {
public:
    virtual ~WindowList() = default;
    // On-screen windows, front-most first, without desktop elements (the wallpaper window). Callable from
    // any thread; an unreadable list is empty.
    virtual std::vector<WindowInfo> snapshot() = 0;
    // A number that moves on whenever the list may have changed: while it stays, a snapshot would be the
    // same as the last one, and work done on that one still holds. Any thread.
    virtual std::uint64_t generation() const = 0;
    // Calls `wake` once, from any thread, after generation() next moves; a later call replaces a `wake` not
    // yet called, an empty one disarms. For a reader that sleeps while the list stays: a move before the
    // call is not told of, so it reads generation() again after arming.
    virtual void callOnNextChange(std::function<void()> wake) const = 0;
};

}  // namespace velaro
