// Reads the X server's stack for the end-to-end tests: the mapped top-level windows, the frame that holds a
// client, docks, whether a window lies right under a panel, and what the screen shows beneath a program's
// windows.
#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <cstdint>
#include <optional>
#include <vector>

namespace velaro::e2e {

// The root's mapped children, bottom to top, over Qt's own connection.
std::vector<std::uint32_t> mappedStack();
// The root's child that holds `window` (its frame when the window manager reparented it); 0 when gone.
std::uint32_t topLevel(std::uint32_t window);
// Whether a client window has the dock type, as panels do.
bool isDock(std::uint32_t client);
// Whether the window right above `window` in the mapped stack holds a dock client.
bool liesRightUnderAPanel(std::uint32_t window);

// The frame around a client window (the client itself when it has none): its outer rectangle in root pixels,
// its border and whether it shows. Absent when the window is gone.
struct TopLevelFrame {
    std::uint32_t window = 0;
    QRect outer;
    int border = 0;
    bool viewable = false;
};
std::optional<TopLevelFrame> frameAround(std::uint32_t client);

// What the screen shows at `at` (root pixels) with every window of process `leftOut`, the panels and the
// unmanaged windows (ours, menus) taken away, as a capture that leaves that program out should see it: the topmost other
// frame over the point, read from the picture it holds itself (which the compositor keeps whole however it
// is covered), else the desktop picture. Invalid when it cannot be read.
QColor colourBeneathWindowsOf(std::int64_t leftOut, QPoint at);

}  // namespace velaro::e2e
