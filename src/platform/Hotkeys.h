// System-wide hot keys: key combinations registered with the desktop that reach the app wherever the
// keyboard focus is, each carrying the identifier it was registered with.
#pragma once

#include <cstdint>
#include <functional>

namespace velaro {

// Names a registered hot key: a four-character signature of the registering component and its own id.
struct HotKeyID {
    std::uint32_t signature = 0;
    std::uint32_t id = 0;
    friend bool operator==(const HotKeyID&, const HotKeyID&) = default;
};

// "ABCD" as the 32-bit code that hot-key signatures use.
constexpr std::uint32_t fourCharCode(const char (&text)[5]) {
    return (std::uint32_t(std::uint8_t(text[0])) << 24) | (std::uint32_t(std::uint8_t(text[1])) << 16) |
           (std::uint32_t(std::uint8_t(text[2])) << 8) | std::uint32_t(std::uint8_t(text[3]));
}

// What a handler made of a press: it acted on it, or it leaves it to other handlers.
enum class HotKeyStatus { handled, notHandled };

// Why a combination could not be registered.
enum class HotKeyError {
    none,
    inUse,           // another program (or an earlier registration of ours) holds the combination
    unsupportedKey,  // the key code has no key on this keyboard
    unavailable,     // no hot-key service on this desktop, or the request failed
};

// The outcome of one registration: a non-zero reference to unregister it with, or the reason it failed.
struct HotKeyRegistration {
    std::uint64_t ref = 0;
    HotKeyError error = HotKeyError::none;
    explicit operator bool() const { return ref != 0; }
};

class Hotkeys {
public:
    // Modifier bits of a combination, as the stored shortcuts hold them.
    static constexpr std::uint32_t commandMask = 0x100;
    static constexpr std::uint32_t shiftMask = 0x200;
    static constexpr std::uint32_t optionMask = 0x800;
    static constexpr std::uint32_t controlMask = 0x1000;

    using Handler = std::function<HotKeyStatus(const HotKeyID&)>;

    virtual ~Hotkeys() = default;

    // Installs a handler that is called on the main thread once for every press of a registered hot key
    // (holding the keys down does not call it again). Handlers are asked newest first until one handles
    // the press. Returns a non-zero handler reference, or 0 when no handler can be installed.
    virtual std::uint64_t installHandler(Handler handler) = 0;
    // Removes an installed handler; an unknown or zero reference does nothing. Main thread only.
    virtual void removeHandler(std::uint64_t ref) = 0;
    // Registers a key (a stored virtual key code) with modifier bits (the masks above) under `id`.
    // Main thread only.
    virtual HotKeyRegistration registerHotKey(std::uint32_t virtualKeyCode, std::uint32_t modifiers,
                                              HotKeyID id) = 0;
    // Releases a registration; an unknown or zero reference does nothing. Main thread only.
    virtual void unregisterHotKey(std::uint64_t ref) = 0;
};

}  // namespace velaro
