// The window list from the X server: stacking order, outer bounds, owners, levels and opacity, read with
// pipelined requests on a connection of its own.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/WindowList.h"

namespace velaro {

namespace x11 {
class Connection;
}

// What decides a window's level: its EWMH types and states (atom names), whether it bypasses the window
// manager, and the level our own windows declare.
struct WindowTraits {
    std::vector<std::string> types;
    std::vector<std::string> states;
    bool overrideRedirect = false;
    std::optional<int> declaredLevel;
};

// The level of a window: docks and panels at the status level, menus and pop-ups at the pop-up menu
// level, "keep above" windows floating, everything else normal. Absent for desktop (wallpaper) windows.
std::optional<int> windowLevelFor(const WindowTraits& traits);

class X11WindowList final : public WindowList {
public:
    // Null when there is no X display. `pixelsPerPoint` is the screens' backing scale.
    static std::unique_ptr<X11WindowList> create(double pixelsPerPoint = 1, const char* display = nullptr);
    ~X11WindowList() override;

    std::vector<WindowInfo> snapshot() override;

    // The property our own windows may carry to declare their level (a signed 32-bit CARDINAL).
    static constexpr const char* kLevelProperty = "_VELARO_WINDOW_LEVEL";

private:
    X11WindowList(std::unique_ptr<x11::Connection> connection, double pixelsPerPoint);
    std::vector<WindowInfo> read();

    std::mutex mutex_;  // one snapshot at a time on the connection
    std::unique_ptr<x11::Connection> connection_;
    double pixelsPerPoint_;
    bool randr_ = false;
    std::map<std::uint32_t, std::string> atomNames_;
    // What does not change for the life of a window, kept between snapshots for the windows still there.
    struct Known {
        std::uint32_t topLevel = 0;
        std::optional<std::int32_t> pid;
        std::string ownerName;
        std::vector<std::string> types;
        std::optional<int> declaredLevel;
    };
    std::unordered_map<std::uint32_t, Known> known_;
};

}  // namespace velaro
