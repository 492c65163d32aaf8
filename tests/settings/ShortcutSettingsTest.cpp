// Shortcut display text and the exact stored bytes of the assignments.
#include "settings/ShortcutSettings.h"

#include <gtest/gtest.h>

#include "support/FakeKeyboardLayout.h"

namespace velaro {
namespace {

using test::FakeKeyboardLayout;

std::string text(const std::optional<Bytes>& bytes) {
    return bytes ? std::string(bytes->begin(), bytes->end()) : "<failed>";
}

TEST(ShortcutDisplay, ModifiersInTheDesktopsOrderJoinedByPlusThenKeyName) {
    FakeKeyboardLayout us;
    us.setKey(31, "o");
    us.setKey(69, "+");  // the keypad's plus
    // Ctrl, Alt, Shift, Super whatever the bits' order, spelt as Qt's native key-sequence text spells them.
    EXPECT_EQ((ShortcutKeyCombo{31, 0x1B00}.displayString(&us)), "Ctrl+Alt+Shift+Super+O");
    EXPECT_EQ((ShortcutKeyCombo{36, 0x1B00}.displayString(&us)), "Ctrl+Alt+Shift+Super+Return");
    EXPECT_EQ((ShortcutKeyCombo{0, 0x300}.displayString(&us)), "Shift+Super+A");
    EXPECT_EQ((ShortcutKeyCombo{46, 0x1800}.displayString(&us)), "Ctrl+Alt+M");
    EXPECT_EQ((ShortcutKeyCombo{49, 0x100}.displayString(&us)), "Super+Space");
    EXPECT_EQ((ShortcutKeyCombo{123, 0x800}.displayString(&us)), "Alt+Left");
    EXPECT_EQ((ShortcutKeyCombo{53, 0x1000}.displayString(&us)), "Ctrl+Esc");
    // Bits outside the four modifiers are ignored.
    EXPECT_EQ((ShortcutKeyCombo{0, 0x300 | 0x400 | 0x1 | 0x80000000}.displayString(&us)),
              (ShortcutKeyCombo{0, 0x300}.displayString(&us)));
    EXPECT_EQ((ShortcutKeyCombo{43, 0}.displayString(&us)), ",");
    // A key named "+" stays readable after the separator, as in Qt's text.
    EXPECT_EQ((ShortcutKeyCombo{69, 0x1000}.displayString(&us)), "Ctrl++");
    EXPECT_EQ(ShortcutKeyCombo::modifierName(ShortcutKeyCombo::commandMask), "Super");
    EXPECT_EQ(ShortcutKeyCombo::modifierName(0x1800), "") << "one bit at a time";
}

TEST(ShortcutDisplay, SpecialKeysWinOverTheLayout) {
    FakeKeyboardLayout layout;
    layout.setKey(49, " ");
    layout.setKey(36, "\r");
    EXPECT_EQ(ShortcutKeyCombo::keyName(49, &layout), "Space");
    EXPECT_EQ(ShortcutKeyCombo::keyName(36, &layout), "Return");
    const std::pair<std::uint32_t, const char*> table[] = {
        {48, "Tab"},   {51, "Backspace"}, {53, "Esc"},    {64, "F17"},   {71, "NumLock"}, {76, "Enter"},
        {79, "F18"},   {80, "F19"},       {90, "F20"},    {96, "F5"},    {97, "F6"},      {98, "F7"},
        {99, "F3"},    {100, "F8"},       {101, "F9"},    {103, "F11"},  {105, "F13"},    {106, "F16"},
        {107, "F14"},  {109, "F10"},      {111, "F12"},   {113, "F15"},  {114, "Ins"},    {115, "Home"},
        {116, "PgUp"}, {117, "Del"},      {118, "F4"},    {119, "End"},  {120, "F2"},     {121, "PgDown"},
        {122, "F1"},   {123, "Left"},     {124, "Right"}, {125, "Down"}, {126, "Up"}};
    for (const auto& [code, name] : table) EXPECT_EQ(ShortcutKeyCombo::keyName(code, nullptr), name) << code;
}

TEST(ShortcutDisplay, LayoutTextIsUpperCasedElseKeyNumber) {
    FakeKeyboardLayout layout;
    EXPECT_EQ(ShortcutKeyCombo::keyName(0, &layout), "A");
    EXPECT_EQ(ShortcutKeyCombo::keyName(18, &layout), "1");
    EXPECT_EQ(ShortcutKeyCombo::keyName(200, &layout), "Key 200");
    EXPECT_EQ(ShortcutKeyCombo::keyName(0, nullptr), "Key 0");  // no current layout
    layout.setKey(41, "ö");
    EXPECT_EQ(ShortcutKeyCombo::keyName(41, &layout), "Ö");
    layout.setKey(27, "ß");
    EXPECT_EQ(ShortcutKeyCombo::keyName(27, &layout), "SS");
    layout.setKey(7, "");
    EXPECT_EQ(ShortcutKeyCombo::keyName(7, &layout), "Key 7");  // no characters counts as absent
    EXPECT_EQ(ShortcutKeyCombo::keyCharacter(7, layout), std::nullopt);
    // Codes no layout can hold are not asked for.
    layout.setKey(65536 + 0, "a");
    layout.lookups = 0;
    EXPECT_EQ(ShortcutKeyCombo::keyName(65536, &layout), "Key 65536");
    EXPECT_EQ(layout.lookups, 0);
}

TEST(ShortcutStorage, ExactSortedCompactBytes) {
    ShortcutSettings shortcuts;
    EXPECT_EQ(text(encodeSortedKeys(shortcuts)), R"({"assignments":{}})");
    shortcuts.assign(ShortcutAction::master, ShortcutKeyCombo{46, 0x1800});
    EXPECT_EQ(text(encodeSortedKeys(shortcuts)),
              R"({"assignments":{"master":{"carbonModifiers":6144,"keyCode":46}}})");
    shortcuts.assign(ShortcutAction::corners, ShortcutKeyCombo{8, 0x100});
    shortcuts.assign(ShortcutAction::progressBar, ShortcutKeyCombo{35, 0});
    shortcuts.assign(ShortcutAction::visualizer, ShortcutKeyCombo{0xFFFFFFFF, 0xFFFFFFFF});
    shortcuts.assign(ShortcutAction::overlay, ShortcutKeyCombo{31, 0x1000});
    EXPECT_EQ(
        text(encodeSortedKeys(shortcuts)),
        R"({"assignments":{"corners":{"carbonModifiers":256,"keyCode":8},)"
        R"("master":{"carbonModifiers":6144,"keyCode":46},"overlay":{"carbonModifiers":4096,"keyCode":31},)"
        R"("progressBar":{"carbonModifiers":0,"keyCode":35},)"
        R"("visualizer":{"carbonModifiers":4294967295,"keyCode":4294967295}}})");
    shortcuts.assign(ShortcutAction::visualizer, std::nullopt);
    EXPECT_FALSE(shortcuts.combo(ShortcutAction::visualizer));
    EXPECT_EQ(shortcuts.combo(ShortcutAction::corners), (ShortcutKeyCombo{8, 0x100}));
}

TEST(ShortcutStorage, RoundTripKeepsUnknownActions) {
    const std::string stored =
        R"({"assignments":{"future\/thing":{"carbonModifiers":512,"keyCode":3},"master":{"carbonModifiers":6144,"keyCode":46}}})";
    const auto decoded = ShortcutSettings::decode(stored);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->assignments.size(), 2u);
    EXPECT_EQ(decoded->assignments.at("future/thing"), (ShortcutKeyCombo{3, 512}));
    EXPECT_EQ(text(encodeSortedKeys(*decoded)), stored);
    EXPECT_EQ(ShortcutSettings::decode(*encodeSortedKeys(*decoded)), decoded);
}

TEST(ShortcutStorage, OneBadEntryDropsEveryAssignment) {
    for (const char* json : {
             R"({"assignments":{"master":{"carbonModifiers":0,"keyCode":-1}}})",
             R"({"assignments":{"master":{"carbonModifiers":0,"keyCode":4294967296}}})",
             R"({"assignments":{"master":{"carbonModifiers":0,"keyCode":1.5}}})",
             R"({"assignments":{"master":{"carbonModifiers":0,"keyCode":"46"}}})",
             R"({"assignments":{"master":{"carbonModifiers":256,"keyCode":1},"overlay":{"keyCode":2},
                                "corners":{"carbonModifiers":256,"keyCode":3}}})",
             R"({"assignments":{"master":{"carbonModifiers":256,"keyCode":null}}})",
             R"({"assignments":{"master":[256,1]}})",
             R"({"assignments":["master"]})",
             R"({"assignments":null})",
             R"({})",
         }) {
        const auto decoded = ShortcutSettings::decode(std::string_view(json));
        ASSERT_TRUE(decoded) << json;
        EXPECT_TRUE(decoded->assignments.empty()) << json;
    }
    // Whole numbers written with a fraction are still whole numbers; extra members are ignored.
    const auto lenient = ShortcutSettings::decode(
        R"({"assignments":{"master":{"carbonModifiers":6144.0,"keyCode":46,"x":1}},"v":2})");
    EXPECT_EQ(lenient->combo(ShortcutAction::master), (ShortcutKeyCombo{46, 6144}));
}

TEST(ShortcutStorage, DataThatIsNotAnObjectFails) {
    EXPECT_FALSE(ShortcutSettings::decode("not json"));
    EXPECT_FALSE(ShortcutSettings::decode("[]"));
    EXPECT_FALSE(ShortcutSettings::decode(""));
    EXPECT_FALSE(ShortcutSettings::decode(std::span<const std::uint8_t>()));
}

TEST(ShortcutActions, StringsAndTitles) {
    EXPECT_EQ(fromString<ShortcutAction>("progressBar"), ShortcutAction::progressBar);
    EXPECT_EQ(fromString<ShortcutAction>("ProgressBar"), std::nullopt);
    EXPECT_EQ(fromString<ShortcutAction>("dock"), std::nullopt);
    EXPECT_EQ(title(ShortcutAction::master), "Master Switch");
    EXPECT_EQ(title(ShortcutAction::visualizer), "Music Visualizer");
    EXPECT_EQ(title(ShortcutAction::corners), "Corner Rounding");
    EXPECT_EQ(allCases<ShortcutAction>().front(), ShortcutAction::master);
    EXPECT_EQ(allCases<ShortcutAction>().back(), ShortcutAction::corners);
}

}  // namespace
}  // namespace velaro
