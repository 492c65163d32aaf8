// The window list from the X server: stacking order, outer bounds, owners, levels and opacity, read with
// pipelined requests on the session's desktop connection.
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

class X11Session;

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
    // The session must outlive the list. Snapshots may be taken on any thread.
    explicit X11WindowList(X11Session& session);
    ~X11WindowList() override;

    std::vector<WindowInfo> snapshot() override;

    // The property our own windows may carry to declare their level (a signed 32-bit CARDINAL).
    static constexpr const char* kLevelProperty = "_VELARO_WINDOW_LEVEL";

private:
    std::vector<WindowInfo> read();

    std::mutex mutex_;  // one snapshot at a time (the cache below)
    X11Session& session_;
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
