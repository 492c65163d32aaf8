// Global shortcuts: the features they switch, key combinations with their display text, and the stored
// assignments.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/DefaultsStore.h"
#include "settings/ValueTypes.h"

namespace velaro {

class KeyboardLayout;

// The five features a shortcut switches.
enum class ShortcutAction { master, overlay, visualizer, progressBar, corners };
template <>
struct EnumStrings<ShortcutAction> {
    static constexpr std::array<std::pair<ShortcutAction, std::string_view>, 5> cases{
        {{ShortcutAction::master, "master"},
         {ShortcutAction::overlay, "overlay"},
         {ShortcutAction::visualizer, "visualizer"},
         {ShortcutAction::progressBar, "progressBar"},
         {ShortcutAction::corners, "corners"}}};
};
// The action's title in the settings window.
std::string_view title(ShortcutAction action);

// A key and its modifiers. The key code is a virtual key code of the original keyboard map and the mask
// uses its modifier bits; stored shortcuts rely on both, and the platform layer translates them for grabs.
struct ShortcutKeyCombo {
    // The stored bits keep their original names; on this desktop command is the Super key and option Alt.
    static constexpr std::uint32_t commandMask = 0x100;
    static constexpr std::uint32_t shiftMask = 0x200;
    static constexpr std::uint32_t optionMask = 0x800;
    static constexpr std::uint32_t controlMask = 0x1000;

    std::uint32_t keyCode = 0;
    std::uint32_t carbonModifiers = 0;

    // The combination as this desktop writes it: the modifiers present in the order Ctrl, Alt, Shift, Super,
    // then the key's name, joined by "+" ("Ctrl+Alt+Shift+Super+O"); other mask bits are ignored. `layout`
    // may be null when there is no current layout.
    std::string displayString(const KeyboardLayout* layout) const;
    // The name of one modifier bit ("Ctrl" for controlMask, "Super" for commandMask); empty for any other
    // value.
    static std::string_view modifierName(std::uint32_t modifier);
    // The name of a key alone: the special-key table ("Esc", "Return", "PgUp", "F5"), else what the key types
    // on the layout (upper-cased), else "Key " and the code in decimal.
    static std::string keyName(std::uint32_t keyCode, const KeyboardLayout* layout);
    // The upper-cased text the key types on `layout` with no modifiers, or nothing.
    static std::optional<std::string> keyCharacter(std::uint32_t keyCode, const KeyboardLayout& layout);

    friend bool operator==(const ShortcutKeyCombo&, const ShortcutKeyCombo&) = default;
};

// The assigned shortcuts, keyed by the action's stored string. Keys that are not action strings are kept
// and written back unchanged, so a newer version's assignments survive an older one.
struct ShortcutSettings {
    std::map<std::string, ShortcutKeyCombo> assignments;

    std::optional<ShortcutKeyCombo> combo(ShortcutAction action) const;
    void assign(ShortcutAction action, std::optional<ShortcutKeyCombo> combo);

    // Decodes stored data. Not an object: nothing (the loader takes the empty default). An "assignments"
    // member that is missing, or in which any entry is malformed, gives an empty map.
    static std::optional<ShortcutSettings> decode(std::span<const std::uint8_t> data);
    static std::optional<ShortcutSettings> decode(std::string_view json);

    friend bool operator==(const ShortcutSettings&, const ShortcutSettings&) = default;
};

// The stored data: compact JSON with sorted keys, e.g.
// {"assignments":{"master":{"carbonModifiers":6144,"keyCode":46}}}.
std::optional<Bytes> encodeSortedKeys(const ShortcutSettings& shortcuts);

}  // namespace velaro
