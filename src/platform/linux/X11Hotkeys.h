// Global hot keys on X11: passive key grabs on the root window for every lock-key state, and presses read
// through the application's native event filter.
#pragma once

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/Hotkeys.h"
#include "platform/ModifierFlags.h"

namespace velaro {

// The X modifier masks that the stored modifier bits need besides Shift and Control, and the Num Lock mask
// whose state must not matter. The usual layout's values unless the server's modifier map says otherwise.
struct X11ModifierMasks {
    std::uint16_t alt = 1u << 3;      // Mod1
    std::uint16_t numLock = 1u << 4;  // Mod2
    std::uint16_t super = 1u << 6;    // Mod4
    friend bool operator==(const X11ModifierMasks&, const X11ModifierMasks&) = default;
};

// The masks from the server's modifier map (`rows[i]` holds the key codes on modifier i, Shift first) and
// the key codes that carry Num Lock, Super and Alt. Shift, Lock and Control never stand for another key.
X11ModifierMasks modifierMasksFrom(const std::vector<std::vector<std::uint8_t>>& rows,
                                   const std::set<std::uint8_t>& numLockKeys,
                                   const std::set<std::uint8_t>& superKeys,
                                   const std::set<std::uint8_t>& altKeys);

// The masks under the server's current modifier and keyboard maps (two round trips); the usual values when
// the maps cannot be read.
X11ModifierMasks readModifierMasks(xcb_connection_t* connection);

// The X modifiers of stored modifier bits: command → Super, option → Alt, control → Control, shift → Shift.
std::uint16_t xModifiersFor(std::uint32_t modifiers, const X11ModifierMasks& masks);

// The other way, for a state the server reports (key, button and pointer states): the ModifierFlag bits of
// the Shift, Control, Alt and Super keys it holds.
std::uint32_t modifierFlagsFromXState(std::uint16_t state, const X11ModifierMasks& masks);

// The modifier states one combination is grabbed in, so that Caps Lock and Num Lock do not matter: the
// combination alone and with Lock, Num Lock and both (fewer when there is no Num Lock).
std::vector<std::uint16_t> lockVariants(std::uint16_t modifiers, std::uint16_t numLockMask);

// Matches key events against the grabbed combinations and lets only the first press of a stroke through:
// auto-repeat sends more presses while a key is held (with or without a release of the same time between).
class HotKeyDispatch {
public:
    void add(std::uint64_t ref, std::uint8_t keycode, std::uint16_t modifiers, HotKeyID id);
    void remove(std::uint64_t ref);
    // True when the combination is grabbed already.
    bool holds(std::uint8_t keycode, std::uint16_t modifiers) const;

    struct Outcome {
        bool consumed = false;         // the event belongs to a grabbed combination
        std::optional<HotKeyID> fire;  // the hot key a fresh press stands for
    };
    Outcome keyPress(std::uint8_t keycode, std::uint16_t state, std::uint32_t time,
                     std::uint16_t numLockMask);
    Outcome keyRelease(std::uint8_t keycode, std::uint32_t time);

private:
    struct Entry {
        std::uint8_t keycode;
        std::uint16_t modifiers;
        HotKeyID id;
    };
    std::map<std::uint64_t, Entry> entries_;
    std::set<std::uint8_t> down_;
    std::map<std::uint8_t, std::uint32_t> lastRelease_;
};

class X11Hotkeys final : public Hotkeys, private QAbstractNativeEventFilter {
public:
    // Grabs through `connection` (not owned; it must outlive this object), whose events the application's
    // native event filters see: the Qt application's own connection.
    X11Hotkeys(xcb_connection_t* connection, std::uint32_t root);
    // On the toolkit's connection (the session's `toolkit()`, Qt's own); null when there is none.
    static std::unique_ptr<X11Hotkeys> create(xcb_connection_t* toolkit);
    // Releases every grab.
    ~X11Hotkeys() override;
    X11Hotkeys(const X11Hotkeys&) = delete;
    X11Hotkeys& operator=(const X11Hotkeys&) = delete;

    std::uint64_t installHandler(Handler handler) override;
    void removeHandler(std::uint64_t ref) override;
    HotKeyRegistration registerHotKey(std::uint32_t virtualKeyCode, std::uint32_t modifiers,
                                      HotKeyID id) override;
    void unregisterHotKey(std::uint64_t ref) override;

    // Handles one event of the connection; true when it belonged to a registered hot key.
    bool handleEvent(const xcb_generic_event_t& event);

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    void ungrab(std::uint8_t keycode, const std::vector<std::uint16_t>& variants);

    // Grabs again under the server's new modifier map.
    void modifierMapChanged();

    struct Grab {
        std::uint8_t keycode;
        std::vector<std::uint16_t> variants;
        std::uint32_t modifiers;  // the stored bits, to map again when the modifier map changes
        HotKeyID id;
    };
    xcb_connection_t* connection_;
    std::uint32_t root_;
    X11ModifierMasks masks_;
    std::uint64_t nextRef_ = 0;
    std::map<std::uint64_t, Grab> grabs_;
    std::vector<std::pair<std::uint64_t, Handler>> handlers_;
    HotKeyDispatch dispatch_;
};

}  // namespace velaro
