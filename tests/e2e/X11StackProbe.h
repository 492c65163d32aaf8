// Reads the X server's stack for the end-to-end tests: the mapped top-level windows, the frame that holds a
// client, docks, and whether a window lies right under a panel.
#pragma once

#include <cstdint>
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

}  // namespace velaro::e2e
