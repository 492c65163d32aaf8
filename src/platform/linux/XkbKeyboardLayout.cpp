// Key text from the X server's current layout through xkbcommon, with the virtual-key-code table and the
// US fallback.
#include "platform/linux/XkbKeyboardLayout.h"

#include "platform/linux/X11Session.h"

#include <linux/input-event-codes.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <unordered_map>

namespace velaro {

namespace {

struct KeyEntry {
    std::uint32_t evdev;
    const char* us;  // what the key types on a US layout, or null
};

// Stored shortcut key codes name positions on the original keyboard; this maps each onto the PC key at
// the same place (the letters, digits and punctuation of the main block, the keypad, function and
// navigation keys). Modifier keys and media keys are left out: no shortcut is made of them alone.
const std::unordered_map<std::uint32_t, KeyEntry>& keyTable() {
    static const std::unordered_map<std::uint32_t, KeyEntry> table{
        {0, {KEY_A, "a"}},
        {1, {KEY_S, "s"}},
        {2, {KEY_D, "d"}},
        {3, {KEY_F, "f"}},
        {4, {KEY_H, "h"}},
        {5, {KEY_G, "g"}},
        {6, {KEY_Z, "z"}},
        {7, {KEY_X, "x"}},
        {8, {KEY_C, "c"}},
        {9, {KEY_V, "v"}},
        {10, {KEY_102ND, "<"}},
        {11, {KEY_B, "b"}},
        {12, {KEY_Q, "q"}},
        {13, {KEY_W, "w"}},
        {14, {KEY_E, "e"}},
        {15, {KEY_R, "r"}},
        {16, {KEY_Y, "y"}},
        {17, {KEY_T, "t"}},
        {18, {KEY_1, "1"}},
        {19, {KEY_2, "2"}},
        {20, {KEY_3, "3"}},
        {21, {KEY_4, "4"}},
        {22, {KEY_6, "6"}},
        {23, {KEY_5, "5"}},
        {24, {KEY_EQUAL, "="}},
        {25, {KEY_9, "9"}},
        {26, {KEY_7, "7"}},
        {27, {KEY_MINUS, "-"}},
        {28, {KEY_8, "8"}},
        {29, {KEY_0, "0"}},
        {30, {KEY_RIGHTBRACE, "]"}},
        {31, {KEY_O, "o"}},
        {32, {KEY_U, "u"}},
        {33, {KEY_LEFTBRACE, "["}},
        {34, {KEY_I, "i"}},
        {35, {KEY_P, "p"}},
        {36, {KEY_ENTER, nullptr}},
        {37, {KEY_L, "l"}},
        {38, {KEY_J, "j"}},
        {39, {KEY_APOSTROPHE, "'"}},
        {40, {KEY_K, "k"}},
        {41, {KEY_SEMICOLON, ";"}},
        {42, {KEY_BACKSLASH, "\\"}},
        {43, {KEY_COMMA, ","}},
        {44, {KEY_SLASH, "/"}},
        {45, {KEY_N, "n"}},
        {46, {KEY_M, "m"}},
        {47, {KEY_DOT, "."}},
        {48, {KEY_TAB, nullptr}},
        {49, {KEY_SPACE, " "}},
        {50, {KEY_GRAVE, "`"}},
        {51, {KEY_BACKSPACE, nullptr}},
        {53, {KEY_ESC, nullptr}},
        {64, {KEY_F17, nullptr}},
        {65, {KEY_KPDOT, "."}},
        {67, {KEY_KPASTERISK, "*"}},
        {69, {KEY_KPPLUS, "+"}},
        {71, {KEY_NUMLOCK, nullptr}},
        {75, {KEY_KPSLASH, "/"}},
        {76, {KEY_KPENTER, nullptr}},
        {78, {KEY_KPMINUS, "-"}},
        {79, {KEY_F18, nullptr}},
        {80, {KEY_F19, nullptr}},
        {81, {KEY_KPEQUAL, "="}},
        {82, {KEY_KP0, "0"}},
        {83, {KEY_KP1, "1"}},
        {84, {KEY_KP2, "2"}},
        {85, {KEY_KP3, "3"}},
        {86, {KEY_KP4, "4"}},
        {87, {KEY_KP5, "5"}},
        {88, {KEY_KP6, "6"}},
        {89, {KEY_KP7, "7"}},
        {90, {KEY_F20, nullptr}},
        {91, {KEY_KP8, "8"}},
        {92, {KEY_KP9, "9"}},
        {93, {KEY_YEN, nullptr}},
        {94, {KEY_RO, nullptr}},
        {95, {KEY_KPCOMMA, nullptr}},
        {96, {KEY_F5, nullptr}},
        {97, {KEY_F6, nullptr}},
        {98, {KEY_F7, nullptr}},
        {99, {KEY_F3, nullptr}},
        {100, {KEY_F8, nullptr}},
        {101, {KEY_F9, nullptr}},
        {102, {KEY_MUHENKAN, nullptr}},
        {103, {KEY_F11, nullptr}},
        {104, {KEY_HENKAN, nullptr}},
        {105, {KEY_F13, nullptr}},
        {106, {KEY_F16, nullptr}},
        {107, {KEY_F14, nullptr}},
        {109, {KEY_F10, nullptr}},
        {111, {KEY_F12, nullptr}},
        {113, {KEY_F15, nullptr}},
        {114, {KEY_INSERT, nullptr}},
        {115, {KEY_HOME, nullptr}},
        {116, {KEY_PAGEUP, nullptr}},
        {117, {KEY_DELETE, nullptr}},
        {118, {KEY_F4, nullptr}},
        {119, {KEY_END, nullptr}},
        {120, {KEY_F2, nullptr}},
        {121, {KEY_PAGEDOWN, nullptr}},
        {122, {KEY_F1, nullptr}},
        {123, {KEY_LEFT, nullptr}},
        {124, {KEY_RIGHT, nullptr}},
        {125, {KEY_DOWN, nullptr}},
        {126, {KEY_UP, nullptr}},
    };
    return table;
}

// The spacing accent a dead key shows on its key cap.
const char* deadKeyAccent(xkb_keysym_t sym) {
    switch (sym) {
        case XKB_KEY_dead_grave:
            return "`";
        case XKB_KEY_dead_acute:
            return "\u00B4";
        case XKB_KEY_dead_circumflex:
            return "^";
        case XKB_KEY_dead_tilde:
            return "~";
        case XKB_KEY_dead_macron:
            return "\u00AF";
        case XKB_KEY_dead_breve:
            return "\u02D8";
        case XKB_KEY_dead_abovedot:
            return "\u02D9";
        case XKB_KEY_dead_diaeresis:
            return "\u00A8";
        case XKB_KEY_dead_abovering:
            return "\u02DA";
        case XKB_KEY_dead_doubleacute:
            return "\u02DD";
        case XKB_KEY_dead_caron:
            return "\u02C7";
        case XKB_KEY_dead_cedilla:
            return "\u00B8";
        case XKB_KEY_dead_ogonek:
            return "\u02DB";
        default:
            return nullptr;
    }
}

// Printable text of one keysym, or nothing.
std::optional<std::string> keysymText(xkb_keysym_t sym) {
    if (const char* accent = deadKeyAccent(sym)) return accent;
    char buffer[16] = {};
    const int size = xkb_keysym_to_utf8(sym, buffer, sizeof buffer);
    if (size <= 1) return std::nullopt;  // the count includes the terminating NUL
    const auto first = static_cast<unsigned char>(buffer[0]);
    if (size == 2 && (first < 0x20 || first == 0x7F)) return std::nullopt;  // Return, Tab, Delete, …
    return std::string(buffer, static_cast<std::size_t>(size - 1));
}

std::optional<xkb_keysym_t> keysymAtLevel(xkb_keymap* keymap, xkb_keycode_t key, xkb_layout_index_t group,
                                          xkb_level_index_t level) {
    const xkb_keysym_t* syms = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(keymap, key, group, level, &syms);
    if (count < 1) return std::nullopt;
    return syms[0];
}

}  // namespace

std::optional<std::uint32_t> evdevKeyCode(std::uint32_t virtualKeyCode) {
    const auto& table = keyTable();
    const auto it = table.find(virtualKeyCode);
    if (it == table.end()) return std::nullopt;
    return it->second.evdev;
}

std::optional<std::uint32_t> xKeyCode(std::uint32_t virtualKeyCode) {
    const auto evdev = evdevKeyCode(virtualKeyCode);
    if (!evdev) return std::nullopt;
    return *evdev + 8;
}

std::optional<std::uint32_t> virtualKeyCodeForXKeyCode(std::uint32_t x) {
    // Built once from the table, so both directions always agree.
    static const std::unordered_map<std::uint32_t, std::uint32_t> inverse = [] {
        std::unordered_map<std::uint32_t, std::uint32_t> out;
        for (const auto& [virtualKey, entry] : keyTable()) out.emplace(entry.evdev + 8, virtualKey);
        return out;
    }();
    const auto it = inverse.find(x);
    if (it == inverse.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> usLayoutCharacter(std::uint32_t virtualKeyCode) {
    const auto& table = keyTable();
    const auto it = table.find(virtualKeyCode);
    if (it == table.end() || !it->second.us) return std::nullopt;
    return std::string(it->second.us);
}

std::optional<std::string> keymapCharacter(xkb_keymap* keymap, std::uint32_t group,
                                           std::uint32_t virtualKeyCode) {
    const auto x = xKeyCode(virtualKeyCode);
    if (!keymap || !x) return std::nullopt;
    const xkb_keycode_t key = *x;
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap, key);
    if (layouts == 0) return std::nullopt;
    // A key with fewer groups than the keyboard repeats its first one, as the server does by default.
    const xkb_layout_index_t effective = group < layouts ? group : 0;
    const auto base = keysymAtLevel(keymap, key, effective, 0);
    if (base) {
        if (auto text = keysymText(*base)) return text;
    }
    // Keypad keys type their navigation keysym at the first level; the key cap shows the digit level.
    if (const auto digit = keysymAtLevel(keymap, key, effective, 1);
        digit && *digit >= XKB_KEY_KP_Space && *digit <= XKB_KEY_KP_9) {
        return keysymText(*digit);
    }
    return std::nullopt;
}

XkbKeyboardLayout::XkbKeyboardLayout(xcb_connection_t* connection) : connection_(connection) {
    if (!connection_ || xcb_connection_has_error(connection_)) return;
    // xkbcommon waits for the server's answers by itself: in the connection's turn, as every wait on it.
    x11::WaitTurn turn(connection_);
    if (!xkb_x11_setup_xkb_extension(connection_, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                     XKB_X11_MIN_MINOR_XKB_VERSION, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS,
                                     nullptr, nullptr, nullptr, nullptr)) {
        return;
    }
    context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context_) return;
    deviceId_ = xkb_x11_get_core_keyboard_device_id(connection_);
}

std::unique_ptr<XkbKeyboardLayout> XkbKeyboardLayout::create(X11Session& session) {
    return std::make_unique<XkbKeyboardLayout>(session.desktop().get());
}

XkbKeyboardLayout::~XkbKeyboardLayout() {
    if (context_) xkb_context_unref(context_);
}

std::optional<std::string> XkbKeyboardLayout::character(std::uint32_t virtualKeyCode) const {
    if (deviceId_ < 0) return usLayoutCharacter(virtualKeyCode);
    // Fetched per call: the keymap and the active group change whenever the user switches layouts, and
    // key names are only built when a view shows a shortcut.
    xkb_keymap* keymap = nullptr;
    xkb_state* state = nullptr;
    {
        x11::WaitTurn turn(connection_);
        keymap =
            xkb_x11_keymap_new_from_device(context_, connection_, deviceId_, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (keymap) state = xkb_x11_state_new_from_device(keymap, connection_, deviceId_);
    }
    if (!keymap) return usLayoutCharacter(virtualKeyCode);
    std::uint32_t group = 0;
    if (state) {
        group = xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE);
        xkb_state_unref(state);
    }
    auto text = keymapCharacter(keymap, group, virtualKeyCode);
    xkb_keymap_unref(keymap);
    return text;
}

}  // namespace velaro
