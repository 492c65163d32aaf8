// Key text through xkbcommon keymaps, the key-code table and the US stand-in without a display.
#include "platform/linux/X11Session.h"
#include "platform/linux/XdgAppCatalog.h"
#include "platform/linux/XkbKeyboardLayout.h"

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <set>

#include <gtest/gtest.h>

namespace velaro {
namespace {

TEST(KeyCodeTable, MapsKeyPositionsOntoLinuxKeyCodes) {
    EXPECT_EQ(evdevKeyCode(0), KEY_A);
    EXPECT_EQ(evdevKeyCode(46), KEY_M);
    EXPECT_EQ(evdevKeyCode(16), KEY_Y);
    EXPECT_EQ(evdevKeyCode(6), KEY_Z);
    EXPECT_EQ(evdevKeyCode(22), KEY_6);  // the digit row is not in order
    EXPECT_EQ(evdevKeyCode(23), KEY_5);
    EXPECT_EQ(evdevKeyCode(36), KEY_ENTER);
    EXPECT_EQ(evdevKeyCode(76), KEY_KPENTER);
    EXPECT_EQ(evdevKeyCode(122), KEY_F1);
    EXPECT_EQ(evdevKeyCode(90), KEY_F20);
    EXPECT_EQ(evdevKeyCode(126), KEY_UP);
    EXPECT_EQ(xKeyCode(0), KEY_A + 8u);
    for (std::uint32_t absent : {52u, 55u, 56u, 57u, 58u, 59u, 63u, 127u, 200u, 65536u}) {
        EXPECT_FALSE(evdevKeyCode(absent)) << absent;
        EXPECT_FALSE(xKeyCode(absent)) << absent;
    }
    // No two positions share a key.
    std::set<std::uint32_t> seen;
    for (std::uint32_t code = 0; code < 128; ++code) {
        if (const auto evdev = evdevKeyCode(code)) {
            EXPECT_TRUE(seen.insert(*evdev).second) << code;
        }
    }
}

TEST(KeyCodeTable, KeyEventsGiveBackTheStoredCodeOfEveryTableKeyAndNothingForOthers) {
    XkbKeyboardLayout layout(nullptr);
    for (std::uint32_t code = 0; code < 128; ++code) {
        if (const auto x = xKeyCode(code)) {
            EXPECT_EQ(layout.virtualKeyCode(*x), code) << code;
        }
    }
    // Escape (X 9) and K (X 45), as a recorded shortcut names them; then modifiers alone, media keys and
    // codes outside the server's range.
    EXPECT_EQ(layout.virtualKeyCode(9), 53u);
    EXPECT_EQ(layout.virtualKeyCode(45), 40u);
    for (std::uint32_t x : {KEY_LEFTCTRL + 8u, KEY_LEFTALT + 8u, KEY_LEFTMETA + 8u, KEY_LEFTSHIFT + 8u,
                            KEY_CAPSLOCK + 8u, KEY_PLAYPAUSE + 8u, KEY_VOLUMEUP + 8u, 0u, 8u, 256u})
        EXPECT_FALSE(layout.virtualKeyCode(x)) << x;
}

TEST(XkbKeyboardLayout, WithoutDisplayUsesTheUsTable) {
    XkbKeyboardLayout layout(nullptr);
    EXPECT_EQ(layout.character(0), "a");
    EXPECT_EQ(layout.character(43), ",");
    EXPECT_EQ(layout.character(83), "1");
    EXPECT_EQ(layout.character(36), std::nullopt);  // Return types nothing printable
    EXPECT_EQ(layout.character(200), std::nullopt);
}

class KeymapTest : public ::testing::Test {
protected:
    void SetUp() override {
        context_ = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
        xkb_rule_names names{"evdev", "pc105", "us,de,fr", "", ""};
        if (context_) keymap_ = xkb_keymap_new_from_names(context_, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!keymap_) GTEST_SKIP() << "no keyboard descriptions installed";
    }
    void TearDown() override {
        if (keymap_) xkb_keymap_unref(keymap_);
        if (context_) xkb_context_unref(context_);
    }
    std::optional<std::string> text(std::uint32_t group, std::uint32_t code) {
        return keymapCharacter(keymap_, group, code);
    }

    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
};

TEST_F(KeymapTest, FirstLevelOfTheActiveGroup) {
    EXPECT_EQ(text(0, 16), "y");
    EXPECT_EQ(text(1, 16), "z");  // German swaps Y and Z
    EXPECT_EQ(text(2, 0), "q");   // French puts Q where A is
    EXPECT_EQ(text(1, 41), "ö");
    EXPECT_EQ(text(0, 18), "1");
    EXPECT_EQ(text(2, 18), "&");  // French digits need Shift
    EXPECT_EQ(text(7, 16), "y");  // a group beyond the keyboard's falls back to the first
}

TEST_F(KeymapTest, DeadKeysShowTheirAccentAndKeypadItsDigits) {
    EXPECT_EQ(text(1, 24), "\u00B4");  // German dead acute
    EXPECT_EQ(text(1, 50), "^");       // German dead circumflex
    EXPECT_EQ(text(0, 83), "1");
    EXPECT_EQ(text(0, 65), ".");
    EXPECT_EQ(text(0, 67), "*");
}

TEST_F(KeymapTest, KeysWithoutPrintableTextGiveNothing) {
    for (std::uint32_t code : {36u, 48u, 51u, 53u, 117u, 122u, 123u, 200u}) {
        EXPECT_EQ(text(0, code), std::nullopt) << code;
    }
    EXPECT_EQ(keymapCharacter(nullptr, 0, 0), std::nullopt);
}

}  // namespace
}  // namespace velaro

namespace velaro {
namespace {

// Runs only inside a desktop session (the test desktop of the end-to-end runs provides one).
TEST(XkbKeyboardLayoutServer, ReadsTheServersCurrentLayout) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    XdgAppCatalog catalog({"/nonexistent"});
    const auto session = X11Session::open(
        {}, [] { return 1.0; }, catalog);
    ASSERT_TRUE(session);
    if (!xkb_x11_setup_xkb_extension(session->desktop().get(), XKB_X11_MIN_MAJOR_XKB_VERSION,
                                     XKB_X11_MIN_MINOR_XKB_VERSION, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS,
                                     nullptr, nullptr, nullptr, nullptr))
        GTEST_SKIP() << "X server without XKB";
    const auto layout = XkbKeyboardLayout::create(*session);
    // Every X keyboard has letters on the main block; whatever the layout, the A position types a letter.
    const auto a = layout->character(0);
    ASSERT_TRUE(a);
    EXPECT_FALSE(a->empty());
    EXPECT_EQ(layout->character(36), std::nullopt);
    EXPECT_EQ(layout->character(200), std::nullopt);
}

}  // namespace
}  // namespace velaro
