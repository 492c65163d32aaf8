// Global hot keys: what gets registered for which assignments and recording state, and what a press does.
#include <gtest/gtest.h>

#include "app/HotkeyCenter.h"
#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeHotkeys.h"
#include "support/LogCapture.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

using test::FakeHotkeys;

constexpr std::uint32_t kM = 46, kV = 9;
constexpr std::uint32_t kCtrlOpt = ShortcutKeyCombo::controlMask | ShortcutKeyCombo::optionMask;

ShortcutSettings shortcuts(std::map<std::string, ShortcutKeyCombo> assignments) {
    return ShortcutSettings{std::move(assignments)};
}

struct HotkeyCenterTest : ::testing::Test {
    test::FakeDefaultsStore store;
    test::VirtualLoop loop;
    FakeHotkeys hotkeys;
    OverlaySettings settings{store, loop};
    std::unique_ptr<HotkeyCenter> centre = std::make_unique<HotkeyCenter>(hotkeys, loop);

    void startWith(std::map<std::string, ShortcutKeyCombo> assignments) {
        settings.appShortcuts = shortcuts(std::move(assignments));
        centre->start(settings);
        loop.runUntilIdle();
    }
    HotKeyID idOf(int n) const { return HotKeyID{HotkeyCenter::signature, std::uint32_t(n)}; }
};

TEST_F(HotkeyCenterTest, RegistersEachAssignmentInActionOrderOnTheNextTurn) {
    settings.appShortcuts = shortcuts({{"overlay", {kV, kCtrlOpt}}, {"master", {kM, kCtrlOpt}}});
    centre->start(settings);
    EXPECT_TRUE(hotkeys.registered().empty()) << "delivery waits for the main loop";
    loop.runUntilIdle();

    const std::vector<FakeHotkeys::Registration> expected{{kM, kCtrlOpt, idOf(1)}, {kV, kCtrlOpt, idOf(2)}};
    EXPECT_EQ(hotkeys.registered(), expected);
    EXPECT_EQ(hotkeys.handlerCount(), 1u);
}

TEST_F(HotkeyCenterTest, EmptyAssignmentsInstallNoHandlerAndBareKeysAreNeverRegistered) {
    startWith({});
    EXPECT_EQ(hotkeys.handlersInstalled, 0);
    EXPECT_EQ(hotkeys.handlerCount(), 0u);

    settings.appShortcuts = shortcuts({{"master", {kM, 0}}, {"unknownAction", {kV, kCtrlOpt}}});
    loop.runUntilIdle();
    EXPECT_TRUE(hotkeys.registered().empty());
    EXPECT_EQ(hotkeys.registerCalls, 0);
    EXPECT_EQ(hotkeys.handlerCount(), 1u)
        << "an assignment was there, even though it could not be registered";

    // The handler is installed once, however often the assignments change.
    settings.appShortcuts = shortcuts({{"master", {kM, kCtrlOpt}}});
    loop.runUntilIdle();
    settings.appShortcuts = shortcuts({{"overlay", {kM, kCtrlOpt}}});
    loop.runUntilIdle();
    EXPECT_EQ(hotkeys.handlersInstalled, 1);
}

TEST_F(HotkeyCenterTest, EqualPairsAreDeliveredOnceAndRecordingReleasesEveryKey) {
    startWith({{"master", {kM, kCtrlOpt}}});
    ASSERT_EQ(hotkeys.registerCalls, 1);

    // The same assignments and flag again: nothing is re-registered.
    settings.appShortcuts = shortcuts({{"master", {kM, kCtrlOpt}}});
    settings.shortcutRecordingActive = false;
    loop.runUntilIdle();
    EXPECT_EQ(hotkeys.registerCalls, 1);
    EXPECT_EQ(hotkeys.unregisterCalls, 0);

    // While the shortcuts page records, the keys must reach it: nothing stays grabbed.
    settings.shortcutRecordingActive = true;
    loop.runUntilIdle();
    EXPECT_TRUE(hotkeys.registered().empty());
    EXPECT_FALSE(hotkeys.press(kM, kCtrlOpt).has_value());
    // New assignments while recording still register nothing.
    settings.appShortcuts = shortcuts({{"master", {kV, kCtrlOpt}}});
    loop.runUntilIdle();
    EXPECT_TRUE(hotkeys.registered().empty());

    settings.shortcutRecordingActive = false;
    loop.runUntilIdle();
    const std::vector<FakeHotkeys::Registration> expected{{kV, kCtrlOpt, idOf(1)}};
    EXPECT_EQ(hotkeys.registered(), expected);
}

TEST_F(HotkeyCenterTest, ALaterDuplicateLosesAndARefusedCombinationIsReported) {
    test::LogCapture log;
    hotkeys.heldElsewhere.insert({kV, ShortcutKeyCombo::commandMask});
    startWith({{"corners", {kM, kCtrlOpt}},
               {"overlay", {kM, kCtrlOpt}},
               {"visualizer", {kV, ShortcutKeyCombo::commandMask}},
               {"progressBar", {kV, kCtrlOpt}}});

    const std::vector<FakeHotkeys::Registration> expected{{kM, kCtrlOpt, idOf(2)}, {kV, kCtrlOpt, idOf(4)}};
    EXPECT_EQ(hotkeys.registered(), expected);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"HOTKEY visualizer shortcut not registered: in use",
                                                   "HOTKEY corners shortcut not registered: in use"}));

    // Once the other program lets go, the next registration succeeds and the report clears.
    hotkeys.heldElsewhere.clear();
    settings.appShortcuts = shortcuts({{"visualizer", {kV, ShortcutKeyCombo::commandMask}}});
    log.lines.clear();
    loop.runUntilIdle();
    EXPECT_TRUE(log.lines.empty()) << "nothing refused this time";
    EXPECT_EQ(hotkeys.registered().size(), 1u);
}

TEST_F(HotkeyCenterTest, SwitchesFlipTheStoredGlobalValueWithTheirOwnDefaults) {
    startWith({{"master", {kM, kCtrlOpt}}, {"visualizer", {kV, kCtrlOpt}}});

    // Nothing stored: the master switch counts as on, the visualizer as off.
    EXPECT_EQ(hotkeys.press(kM, kCtrlOpt), HotKeyStatus::handled);
    EXPECT_EQ(store.boolValue("masterEnabled"), false);
    EXPECT_FALSE(settings.masterEnabled());
    EXPECT_EQ(hotkeys.press(kV, kCtrlOpt), HotKeyStatus::handled);
    EXPECT_EQ(store.boolValue("vizEnabled"), true);
    EXPECT_TRUE(settings.vizEnabled());

    EXPECT_EQ(hotkeys.press(kM, kCtrlOpt), HotKeyStatus::handled);
    EXPECT_EQ(store.boolValue("masterEnabled"), true);
    EXPECT_TRUE(settings.masterEnabled());
}

TEST_F(HotkeyCenterTest, EveryActionWritesItsOwnKey) {
    startWith({});
    centre->perform(ShortcutAction::overlay);
    centre->perform(ShortcutAction::progressBar);
    EXPECT_EQ(store.boolValue("overlayEnabled"), false);
    EXPECT_EQ(store.boolValue("progressEnabled"), true);

    const bool anyCornerOn = settings.corners().topLeftEnabled || settings.corners().bottomLeftEnabled;
    ASSERT_TRUE(anyCornerOn);
    EXPECT_EQ(centre->handleHotKey(idOf(5)), HotKeyStatus::handled);
    EXPECT_FALSE(settings.corners().topLeftEnabled || settings.corners().bottomLeftEnabled);
    EXPECT_TRUE(store.hasStoredValue("cornersShortcutMemory"));
}

TEST_F(HotkeyCenterTest, ForeignOrOutOfRangeIdentifiersAreLeftToOtherHandlers) {
    startWith({{"master", {kM, kCtrlOpt}}});
    store.clearWrites();
    EXPECT_EQ(hotkeys.deliver(idOf(0)), HotKeyStatus::notHandled);
    EXPECT_EQ(hotkeys.deliver(idOf(6)), HotKeyStatus::notHandled);
    EXPECT_EQ(hotkeys.deliver(HotKeyID{fourCharCode("ABCD"), 1}), HotKeyStatus::notHandled);
    EXPECT_TRUE(store.writes().empty());
}

TEST_F(HotkeyCenterTest, NothingHappensBeforeStartAndASecondStartIsIgnored) {
    centre->perform(ShortcutAction::master);
    EXPECT_EQ(centre->handleHotKey(idOf(1)), HotKeyStatus::handled);
    EXPECT_FALSE(store.hasStoredValue("masterEnabled"));

    startWith({{"master", {kM, kCtrlOpt}}});
    test::FakeDefaultsStore otherStore;
    OverlaySettings other(otherStore, loop);
    other.appShortcuts = shortcuts({{"overlay", {kV, kCtrlOpt}}});
    centre->start(other);
    loop.runUntilIdle();
    hotkeys.press(kM, kCtrlOpt);
    EXPECT_EQ(store.boolValue("masterEnabled"), false);
    EXPECT_FALSE(otherStore.hasStoredValue("masterEnabled"));
    EXPECT_EQ(hotkeys.registered().size(), 1u);
}

TEST_F(HotkeyCenterTest, AGoneCentreLeavesItsKeysButHandlesNothing) {
    startWith({{"master", {kM, kCtrlOpt}}});
    centre.reset();
    EXPECT_EQ(hotkeys.registered().size(), 1u);
    EXPECT_EQ(hotkeys.press(kM, kCtrlOpt), HotKeyStatus::notHandled);
    // Its subscription ended with it: changes register nothing any more.
    settings.appShortcuts = shortcuts({{"overlay", {kV, kCtrlOpt}}});
    loop.runUntilIdle();
    EXPECT_EQ(hotkeys.registered().size(), 1u);
}

}  // namespace
}  // namespace velaro
