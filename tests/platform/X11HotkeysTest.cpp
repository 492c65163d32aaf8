// Hot keys on X11 without a display: modifier mapping, lock-state variants, matching and auto-repeat.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include "platform/linux/X11Hotkeys.h"

namespace velaro {
namespace {

constexpr std::uint16_t kShift = XCB_MOD_MASK_SHIFT, kLock = XCB_MOD_MASK_LOCK, kCtrl = XCB_MOD_MASK_CONTROL;
constexpr std::uint16_t kMod1 = XCB_MOD_MASK_1, kMod2 = XCB_MOD_MASK_2, kMod3 = XCB_MOD_MASK_3,
                        kMod4 = XCB_MOD_MASK_4;
constexpr std::uint16_t kButton1 = XCB_KEY_BUT_MASK_BUTTON_1;

TEST(X11HotkeyModifiers, MasksFollowTheServersModifierMap) {
    // A map with Alt on Mod1, Num Lock on Mod2 and Super on Mod4, and one with them moved about.
    std::vector<std::vector<std::uint8_t>> usual{{50, 62}, {66}, {37, 105},  {64, 108},
                                                 {77},     {},   {133, 134}, {}};
    EXPECT_EQ(modifierMasksFrom(usual, {77}, {133, 134}, {64, 108}), (X11ModifierMasks{kMod1, kMod2, kMod4}));

    std::vector<std::vector<std::uint8_t>> moved{{50}, {66}, {37}, {133}, {}, {77}, {64}, {}};
    EXPECT_EQ(modifierMasksFrom(moved, {77}, {133}, {64}), (X11ModifierMasks{kMod4, kMod3, kMod1}));

    // Super also sitting on Control must not turn Control into Super; no Num Lock anywhere means no mask.
    std::vector<std::vector<std::uint8_t>> odd{{50}, {66}, {37, 133}, {64}, {}, {}, {}, {}};
    const auto masks = modifierMasksFrom(odd, {77}, {133}, {64});
    EXPECT_EQ(masks.super, kMod4) << "falls back to the usual Super";
    EXPECT_EQ(masks.numLock, 0);
}

TEST(X11HotkeyModifiers, StoredBitsMapToXModifiersAndEveryLockState) {
    const X11ModifierMasks masks{kMod1, kMod2, kMod4};
    EXPECT_EQ(xModifiersFor(Hotkeys::controlMask | Hotkeys::optionMask, masks), kCtrl | kMod1);
    EXPECT_EQ(xModifiersFor(Hotkeys::commandMask | Hotkeys::shiftMask, masks), kMod4 | kShift);
    EXPECT_EQ(xModifiersFor(0x1 | 0x400, masks), 0) << "unknown bits are not modifiers";

    EXPECT_EQ(lockVariants(kCtrl | kMod1, kMod2),
              (std::vector<std::uint16_t>{kCtrl | kMod1, kCtrl | kMod1 | kLock, kCtrl | kMod1 | kMod2,
                                          kCtrl | kMod1 | kLock | kMod2}));
    EXPECT_EQ(lockVariants(kCtrl, 0), (std::vector<std::uint16_t>{kCtrl, kCtrl | kLock}));
}

TEST(X11HotkeyModifiers, ThePointersStateReadsBackAsModifierFlags) {
    const X11ModifierMasks usual{kMod1, kMod2, kMod4}, moved{kMod4, kMod3, kMod1};
    struct Case {
        std::uint16_t state;
        X11ModifierMasks masks;
        std::uint32_t flags;
    };
    const Case cases[] = {
        {kMod1, usual, ModifierFlag::option},
        {kMod1, moved, ModifierFlag::command},  // Super moved to Mod1
        {kMod4, moved, ModifierFlag::option},
        {kShift | kCtrl | kLock | kMod2 | kButton1, usual, ModifierFlag::shift | ModifierFlag::control},
        {kMod1 | kMod4, usual, ModifierFlag::option | ModifierFlag::command},
        {kMod1, X11ModifierMasks{0, 0, 0}, 0},  // no Alt on this keyboard
    };
    for (const Case& c : cases) EXPECT_EQ(modifierFlagsFromXState(c.state, c.masks), c.flags) << c.state;
}

struct X11HotkeyDispatch : ::testing::Test {
    HotKeyDispatch dispatch;
    const HotKeyID master{1, 1}, overlay{1, 2};
    void SetUp() override {
        dispatch.add(10, 58, kCtrl | kMod1, master);
        dispatch.add(11, 55, kCtrl | kMod1, overlay);
    }
};

TEST_F(X11HotkeyDispatch, MatchesInAnyLockStateButNotWithOtherModifiers) {
    EXPECT_EQ(dispatch.keyPress(58, kCtrl | kMod1 | kLock | kMod2 | kButton1, 100, kMod2).fire, master);
    dispatch.keyRelease(58, 110);
    EXPECT_EQ(dispatch.keyPress(55, kCtrl | kMod1, 120, kMod2).fire, overlay);
    dispatch.keyRelease(55, 130);

    const auto extra = dispatch.keyPress(58, kCtrl | kMod1 | kShift, 140, kMod2);
    EXPECT_FALSE(extra.consumed);
    EXPECT_FALSE(dispatch.keyPress(58, kCtrl, 150, kMod2).consumed);
    EXPECT_FALSE(dispatch.keyPress(59, kCtrl | kMod1, 160, kMod2).consumed);
    EXPECT_FALSE(dispatch.keyRelease(59, 170).consumed);
}

TEST_F(X11HotkeyDispatch, AHeldKeyFiresOnceWhicheverWayTheServerRepeats) {
    EXPECT_TRUE(dispatch.keyPress(58, kCtrl | kMod1, 100, kMod2).fire);
    // Detectable repeat: more presses, no release.
    for (std::uint32_t t : {600u, 633u, 666u}) {
        const auto repeat = dispatch.keyPress(58, kCtrl | kMod1, t, kMod2);
        EXPECT_TRUE(repeat.consumed);
        EXPECT_FALSE(repeat.fire);
    }
    EXPECT_TRUE(dispatch.keyRelease(58, 700).consumed);

    // Plain repeat: a release and a press with the same time for every repeat.
    EXPECT_TRUE(dispatch.keyPress(58, kCtrl | kMod1, 1000, kMod2).fire);
    for (std::uint32_t t : {1500u, 1533u}) {
        dispatch.keyRelease(58, t);
        EXPECT_FALSE(dispatch.keyPress(58, kCtrl | kMod1, t, kMod2).fire);
    }
    dispatch.keyRelease(58, 1600);
    EXPECT_TRUE(dispatch.keyPress(58, kCtrl | kMod1, 2000, kMod2).fire) << "a new stroke fires again";
}

TEST_F(X11HotkeyDispatch, ARemovedCombinationNoLongerMatches) {
    EXPECT_TRUE(dispatch.holds(58, kCtrl | kMod1));
    dispatch.remove(10);
    EXPECT_FALSE(dispatch.holds(58, kCtrl | kMod1));
    EXPECT_FALSE(dispatch.keyPress(58, kCtrl | kMod1, 100, kMod2).consumed);
}

TEST(X11Hotkeys, WithoutAConnectionNothingRegistersAndEventsPass) {
    X11Hotkeys hotkeys(nullptr, 0);
    EXPECT_NE(hotkeys.installHandler([](const HotKeyID&) { return HotKeyStatus::handled; }), 0u);
    const auto registration = hotkeys.registerHotKey(46, Hotkeys::controlMask, HotKeyID{1, 1});
    EXPECT_FALSE(registration);
    EXPECT_EQ(registration.error, HotKeyError::unavailable);
    hotkeys.unregisterHotKey(1);

    xcb_key_press_event_t press{};
    press.response_type = XCB_KEY_PRESS;
    press.detail = 58;
    press.state = kCtrl;
    EXPECT_FALSE(hotkeys.handleEvent(reinterpret_cast<const xcb_generic_event_t&>(press)));
    // Without a toolkit connection (offscreen) there are no grabs.
    EXPECT_EQ(X11Hotkeys::create(nullptr), nullptr);
}

}  // namespace
}  // namespace velaro
