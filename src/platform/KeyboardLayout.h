// The current keyboard layout, asked what a key types so shortcuts can be shown with the user's own keys, and
// which stored key code a pressed key has so shortcuts can be recorded from key events.
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
    // The stored virtual key code of the key that a key event names by its native key code (the X key code
    // on this desktop). Nothing for keys no shortcut can hold: modifiers alone, media keys, unknown codes.
    virtual std::optional<std::uint32_t> virtualKeyCode(std::uint32_t nativeKeyCode) const = 0;
};

}  // namespace velaro
