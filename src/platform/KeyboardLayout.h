// The current keyboard layout, asked what a key types so shortcuts can be shown with the user's own keys.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velaro {

class KeyboardLayout {
public:
    virtual ~KeyboardLayout() = default;

    // The text (UTF-8) that the key with this virtual key code types on the current layout with no
    // modifiers held, as shown on the key cap (a dead key gives its accent). Nothing when the key types no
    // printable text or the layout cannot be read. Key codes are the stored virtual key codes of shortcuts.
    virtual std::optional<std::string> character(std::uint32_t virtualKeyCode) const = 0;
};

}  // namespace velaro
