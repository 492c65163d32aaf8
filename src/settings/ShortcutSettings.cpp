// Shortcut display text (special-key table, layout text, fallback) and the stored assignments.
#include "settings/ShortcutSettings.h"

#include <QString>
#include <array>
#include <unordered_map>

#include "platform/KeyboardLayout.h"
#include "settings/SettingsJson.h"

namespace velaro {

namespace {

using settings_json::Json;
using settings_json::ObjectReader;

// Keys that type nothing printable, or whose text would be unreadable alone, by virtual key code. The names
// are the ones Qt's native key-sequence text gives the PC key at that place (114, the original Help key,
// sits where the PC keyboard has Insert).
const std::unordered_map<std::uint32_t, std::string>& specialKeyNames() {
    static const std::unordered_map<std::uint32_t, std::string> names{
        {36, "Return"},  {48, "Tab"},     {49, "Space"}, {51, "Backspace"}, {53, "Esc"},    {64, "F17"},
        {71, "NumLock"}, {76, "Enter"},   {79, "F18"},   {80, "F19"},       {90, "F20"},    {96, "F5"},
        {97, "F6"},      {98, "F7"},      {99, "F3"},    {100, "F8"},       {101, "F9"},    {103, "F11"},
        {105, "F13"},    {106, "F16"},    {107, "F14"},  {109, "F10"},      {111, "F12"},   {113, "F15"},
        {114, "Ins"},    {115, "Home"},   {116, "PgUp"}, {117, "Del"},      {118, "F4"},    {119, "End"},
        {120, "F2"},     {121, "PgDown"}, {122, "F1"},   {123, "Left"},     {124, "Right"}, {125, "Down"},
        {126, "Up"},
    };
    return names;
}

// The modifiers in the order the combination names them: Ctrl, Alt and Shift as Qt's native key-sequence text
// orders them, and Super after them, where GTK's accelerator labels put it (Qt would put it first, as "Meta").
constexpr std::array<std::uint32_t, 4> kModifierOrder{
    ShortcutKeyCombo::controlMask, ShortcutKeyCombo::optionMask, ShortcutKeyCombo::shiftMask,
    ShortcutKeyCombo::commandMask};

}  // namespace

std::string_view title(ShortcutAction action) {
    switch (action) {
        case ShortcutAction::master:
            return "Master Switch";
        case ShortcutAction::overlay:
            return "Overlay";
        case ShortcutAction::visualizer:
            return "Music Visualizer";
        case ShortcutAction::progressBar:
            return "Progress Bar";
        case ShortcutAction::corners:
            return "Corner Rounding";
    }
    return {};
}

std::string ShortcutKeyCombo::displayString(const KeyboardLayout* layout) const {
    std::string out;
    for (const std::uint32_t bit : kModifierOrder) {
        if (!(carbonModifiers & bit)) continue;
        out += modifierName(bit);
        out += '+';
    }
    return out + keyName(keyCode, layout);
}

std::string_view ShortcutKeyCombo::modifierName(std::uint32_t modifier) {
    switch (modifier) {
        case controlMask:
            return "Ctrl";
        case optionMask:
            return "Alt";
        case shiftMask:
            return "Shift";
        case commandMask:
            return "Super";
        default:
            return {};
    }
}

std::string ShortcutKeyCombo::keyName(std::uint32_t keyCode, const KeyboardLayout* layout) {
    const auto& special = specialKeyNames();
    if (const auto it = special.find(keyCode); it != special.end()) return it->second;
    if (layout) {
        if (auto text = keyCharacter(keyCode, *layout)) return *text;
    }
    return "Key " + std::to_string(keyCode);
}

std::optional<std::string> ShortcutKeyCombo::keyCharacter(std::uint32_t keyCode,
                                                          const KeyboardLayout& layout) {
    // Layouts only know 16-bit key codes; a larger stored code names no key on any layout.
    if (keyCode > 0xFFFF) return std::nullopt;
    const auto text = layout.character(keyCode);
    if (!text || text->empty()) return std::nullopt;
    return QString::fromStdString(*text).toUpper().toStdString();
}

std::optional<ShortcutKeyCombo> ShortcutSettings::combo(ShortcutAction action) const {
    const auto it = assignments.find(std::string(toString(action)));
    if (it == assignments.end()) return std::nullopt;
    return it->second;
}

void ShortcutSettings::assign(ShortcutAction action, std::optional<ShortcutKeyCombo> combo) {
    const std::string key(toString(action));
    if (combo) {
        assignments[key] = *combo;
    } else {
        assignments.erase(key);
    }
}

std::optional<ShortcutSettings> ShortcutSettings::decode(std::string_view json) {
    const auto document = settings_json::parse(json);
    if (!document || !document->is_object()) return std::nullopt;
    ShortcutSettings out;
    const auto found = document->find("assignments");
    if (found == document->end() || !found->is_object()) return out;
    // One malformed entry drops the whole map: half a set of shortcuts would be more surprising than none.
    std::map<std::string, ShortcutKeyCombo> assignments;
    for (const auto& [action, entry] : found->items()) {
        if (!entry.is_object()) return out;
        const ObjectReader reader(entry);
        const auto keyCode = reader.uint32("keyCode");
        const auto modifiers = reader.uint32("carbonModifiers");
        if (!keyCode.present() || !modifiers.present()) return out;
        assignments[action] = ShortcutKeyCombo{keyCode.value, modifiers.value};
    }
    out.assignments = std::move(assignments);
    return out;
}

std::optional<ShortcutSettings> ShortcutSettings::decode(std::span<const std::uint8_t> data) {
    return decode(settings_json::asText(data));
}

std::optional<Bytes> encodeSortedKeys(const ShortcutSettings& shortcuts) {
    Json assignments = Json::object();
    for (const auto& [action, combo] : shortcuts.assignments) {
        assignments[action] = Json{{"keyCode", combo.keyCode}, {"carbonModifiers", combo.carbonModifiers}};
    }
    auto text = settings_json::encodeSorted(Json{{"assignments", std::move(assignments)}});
    if (!text) return std::nullopt;
    return settings_json::toBytes(*text);
}

}  // namespace velaro
