// The current keyboard layout of the X server through xkbcommon, and the table that maps the stored
// virtual key codes of shortcuts onto Linux key codes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/KeyboardLayout.h"

struct xcb_connection_t;
struct xkb_context;
struct xkb_keymap;

namespace velaro {

class X11Session;

// The Linux (evdev) key code of the key at a stored virtual key code's position on the keyboard, or
// nothing for codes no PC keyboard has. The X key code is the evdev code plus 8.
std::optional<std::uint32_t> evdevKeyCode(std::uint32_t virtualKeyCode);
std::optional<std::uint32_t> xKeyCode(std::uint32_t virtualKeyCode);
// The inverse: the stored virtual key code of an X key code, or nothing for keys outside the table.
std::optional<std::uint32_t> virtualKeyCodeForXKeyCode(std::uint32_t xKeyCode);

// What the key types on a plain US layout without modifiers; used when no X keyboard can be read.
std::optional<std::string> usLayoutCharacter(std::uint32_t virtualKeyCode);

// What the key types on `keymap` in layout group `group` with no modifiers held: the first shift level,
// or for keypad keys the digit level; a dead key gives its accent; control characters give nothing.
std::optional<std::string> keymapCharacter(xkb_keymap* keymap, std::uint32_t group,
                                           std::uint32_t virtualKeyCode);

class XkbKeyboardLayout final : public KeyboardLayout {
public:
    // Reads the core keyboard of `connection` (not owned; it must outlive this object) on every call, so a
    // layout switch shows at once. A null connection, or a server without the XKB extension, gives the US
    // table.
    explicit XkbKeyboardLayout(xcb_connection_t* connection);
    // On the session's desktop connection; the session must outlive the layout.
    static std::unique_ptr<XkbKeyboardLayout> create(X11Session& session);
    ~XkbKeyboardLayout() override;

    XkbKeyboardLayout(const XkbKeyboardLayout&) = delete;
    XkbKeyboardLayout& operator=(const XkbKeyboardLayout&) = delete;

    // Asks the server on each call: use it on the thread that owns the connection (the main thread).
    std::optional<std::string> character(std::uint32_t virtualKeyCode) const override;
    // Positions do not depend on the layout: this is the table's inverse, with no server request.
    std::optional<std::uint32_t> virtualKeyCode(std::uint32_t nativeKeyCode) const override {
        return virtualKeyCodeForXKeyCode(nativeKeyCode);
    }

private:
    xcb_connection_t* connection_ = nullptr;
    xkb_context* context_ = nullptr;
    std::int32_t deviceId_ = -1;
};

}  // namespace velaro
