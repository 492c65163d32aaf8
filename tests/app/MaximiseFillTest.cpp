// The green-button fill's decisions on presses and releases, its tap lifecycle and the chain's outcomes.
#include <gtest/gtest.h>

#include "app/MaximiseFillController.h"
#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeEventTap.h"
#include "support/FakeWindowControl.h"
#include "support/FakeWindowList.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

using test::FakeWindowControl;
using test::FakeWindowList;
using Call = FakeWindowControl::Call;

constexpr std::int32_t kOwnPID = 100, kAppPID = 500;
constexpr WindowHandle kWindow = 77;
const Rect kWindowBounds{100, 100, 400, 300};
const Rect kButton{460, 104, 16, 16};
const Point kOnButton{468, 112};
const Point kOffButton{300, 112};

struct MaximiseFill : ::testing::Test {
    test::VirtualLoop loop;
    test::FakeEventTap tap;
    FakeWindowList windowList;
    FakeWindowControl windows;
    std::unique_ptr<MaximiseFillController> controller;
    std::int64_t nextNumber = 1000;

    void SetUp() override {
        windowList.setWindows(
            {FakeWindowList::window(kAppPID, kWindowBounds, WindowLevel::normal, "App", 7)});
        windows.addWindow({7, kWindow, kButton, false, kAppPID});
        controller = std::make_unique<MaximiseFillController>(
            MaximiseFillServices{tap, windowList, windows, loop, kOwnPID});
        controller->settingChanged(true);
    }

    // A press and its release at the given places; returns what passed of each half.
    std::pair<std::optional<TapEvent>, std::optional<TapEvent>> click(Point down, Point up,
                                                                      std::uint64_t flags = 0) {
        const auto n = ++nextNumber;
        auto pressed = tap.send({TapEventType::leftMouseDown, n, down, flags});
        auto released = tap.send({TapEventType::leftMouseUp, n, up, flags});
        return {pressed, released};
    }
    std::vector<Call> fillCalls() const {
        return {{"raise", kWindow}, {"activate", kWindow}, {"fill", kWindow}};
    }
};

TEST_F(MaximiseFill, APlainClickOnTheButtonIsSwallowedAndFillsTheWindowOnTheQueue) {
    const auto [down, up] = click(kOnButton, kOnButton);
    EXPECT_FALSE(down);
    EXPECT_FALSE(up);
    EXPECT_TRUE(windows.calls().empty()) << "the fill runs on the worker queue, not in the tap";
    loop.runUntilIdle();
    EXPECT_EQ(windows.calls(), fillCalls());
}

TEST_F(MaximiseFill, ShiftControlAndCommandClicksPassUntouched) {
    for (auto flags : {TapEvent::shiftFlag, TapEvent::controlFlag, TapEvent::commandFlag,
                       TapEvent::optionFlag | TapEvent::shiftFlag}) {
        const auto n = ++nextNumber;
        const TapEvent press{TapEventType::leftMouseDown, n, kOnButton, flags | 0x100};
        const TapEvent release{TapEventType::leftMouseUp, n, kOnButton, flags | 0x100};
        EXPECT_EQ(tap.send(press), press);
        EXPECT_EQ(tap.send(release), release);
    }
    loop.runUntilIdle();
    EXPECT_TRUE(windows.calls().empty());
}

TEST_F(MaximiseFill, AnOptionClickOnTheButtonPassesWithOptionRemovedFromBothHalves) {
    const auto [down, up] = click(kOnButton, kOnButton, TapEvent::optionFlag | 0x100);
    ASSERT_TRUE(down && up);
    EXPECT_EQ(down->flags, 0x100u);
    EXPECT_EQ(up->flags, 0x100u);
    EXPECT_EQ(down->type, TapEventType::leftMouseDown);

    // Elsewhere an Option-click keeps its flags.
    const auto [elsewhereDown, elsewhereUp] = click(kOffButton, kOffButton, TapEvent::optionFlag);
    EXPECT_EQ(elsewhereDown->flags, TapEvent::optionFlag);
    EXPECT_EQ(elsewhereUp->flags, TapEvent::optionFlag);

    // A release whose press was not stripped keeps Option too.
    const TapEvent stray{TapEventType::leftMouseUp, ++nextNumber, kOnButton, TapEvent::optionFlag};
    EXPECT_EQ(tap.send(stray), stray);
    loop.runUntilIdle();
    EXPECT_TRUE(windows.calls().empty());
}

TEST_F(MaximiseFill, ClicksOnOwnWindowsOnNoWindowAndOffTheButtonPass) {
    // Our own overlay above the button is not a normal window: the app's window beneath still counts.
    windowList.setWindows(
        {FakeWindowList::window(kOwnPID, {0, 0, 1920, 130}, WindowLevel::mainMenu, "Velaro", 1),
         FakeWindowList::window(kAppPID, kWindowBounds, WindowLevel::normal, "App", 7)});
    EXPECT_FALSE(click(kOnButton, kOnButton).first);

    // One of our own normal windows over the button takes the click.
    windowList.setWindows(
        {FakeWindowList::window(kOwnPID, {400, 90, 200, 200}, WindowLevel::normal, "Velaro", 2),
         FakeWindowList::window(kAppPID, kWindowBounds, WindowLevel::normal, "App", 7)});
    EXPECT_TRUE(click(kOnButton, kOnButton).first);

    // Nothing under the pointer; a window without an owner; the right window but off its button.
    windowList.setWindows({});
    EXPECT_TRUE(click(kOnButton, kOnButton).first);
    auto ownerless = FakeWindowList::window(kAppPID, kWindowBounds, WindowLevel::normal, "App", 7);
    ownerless.ownerPID.reset();
    windowList.setWindows({ownerless});
    EXPECT_TRUE(click(kOnButton, kOnButton).first);
    windowList.setWindows({FakeWindowList::window(kAppPID, kWindowBounds, WindowLevel::normal, "App", 7)});
    EXPECT_TRUE(click(kOffButton, kOffButton).first);

    loop.runUntilIdle();
    EXPECT_EQ(windows.calls(), fillCalls()) << "only the click with our overlay above filled";
}

TEST_F(MaximiseFill, FullScreenWindowsAndWindowsWithoutAKnownOwnerPass) {
    windows.clearWindows();
    windows.addWindow({7, kWindow, kButton, true, kAppPID});
    EXPECT_TRUE(click(kOnButton, kOnButton).first);

    windows.clearWindows();
    windows.addWindow({7, kWindow, kButton, false, std::nullopt});
    EXPECT_TRUE(click(kOnButton, kOnButton).first);
    loop.runUntilIdle();
    EXPECT_TRUE(windows.calls().empty());
}

TEST_F(MaximiseFill, ReleasingOffTheButtonSwallowsBothHalvesAndFillsNothing) {
    const auto [down, up] = click(kOnButton, {kButton.maxX(), kButton.midY()});
    EXPECT_FALSE(down);
    EXPECT_FALSE(up);
    // Nothing is left waiting: a second release of the same click passes as a stray one.
    const TapEvent again{TapEventType::leftMouseUp, nextNumber, kOnButton, 0};
    EXPECT_EQ(tap.send(again), again);
    loop.runUntilIdle();
    EXPECT_TRUE(windows.calls().empty());
}

TEST_F(MaximiseFill, ANewPressAbandonsTheOneWaitingForItsRelease) {
    const auto first = ++nextNumber;
    EXPECT_FALSE(tap.send({TapEventType::leftMouseDown, first, kOnButton, 0})) << "waits for its release";
    const TapEvent other{TapEventType::leftMouseDown, ++nextNumber, kOffButton, 0};
    EXPECT_EQ(tap.send(other), other);
    const TapEvent lateRelease{TapEventType::leftMouseUp, first, kOnButton, 0};
    EXPECT_EQ(tap.send(lateRelease), lateRelease);
    loop.runUntilIdle();
    EXPECT_TRUE(windows.calls().empty());
}

TEST_F(MaximiseFill, TheSettingSwitchedOffBeforeTheFillRunsDropsItUntouched) {
    click(kOnButton, kOnButton);
    controller->settingChanged(false);
    EXPECT_FALSE(tap.hasTap());
    loop.runUntilIdle();
    EXPECT_TRUE(windows.calls().empty());

    // Switched off between press and release: the tap is gone, so the release passes on its own; a tap
    // installed again before the release does not remember the press either.
    controller->settingChanged(true);
    const auto n = ++nextNumber;
    EXPECT_FALSE(tap.send({TapEventType::leftMouseDown, n, kOnButton, 0}));
    controller->settingChanged(false);
    EXPECT_TRUE(tap.send({TapEventType::leftMouseUp, n, kOnButton, 0}));
    controller->settingChanged(true);
    const auto m = ++nextNumber;
    EXPECT_FALSE(tap.send({TapEventType::leftMouseDown, m, kOnButton, 0}));
    controller->settingChanged(false);
    controller->settingChanged(true);
    EXPECT_TRUE(tap.send({TapEventType::leftMouseUp, m, kOnButton, 0}));
    loop.runUntilIdle();
    EXPECT_TRUE(windows.calls().empty());
}

// The chain on its own queue: what each fill came to, as it reports it.
TEST_F(MaximiseFill, VanishedWindowsAndRefusedFillsAreReportedAsSuch) {
    auto queue = loop.makeSerialQueue("test.fill");
    std::vector<ChainOutcome> outcomes;
    auto chain =
        std::make_shared<MaximiseFillChain>(*queue, windows, [&](ChainOutcome o) { outcomes.push_back(o); });
    chain->setActive(true);
    const auto fill = [&] {
        chain->queueFill(kWindow, kAppPID);
        loop.runUntilIdle();
        return outcomes.back();
    };
    EXPECT_EQ(fill(), ChainOutcome::filled);

    windows.raiseResult = WindowActionResult::invalidWindow;
    const auto before = windows.calls().size();
    EXPECT_EQ(fill(), ChainOutcome::targetGone);
    EXPECT_EQ(windows.calls().size(), before + 1) << "nothing after the window was gone";

    windows.raiseResult = WindowActionResult::failure;  // a raise that fails otherwise does not stop the fill
    windows.activateResult = WindowActionResult::failure;
    windows.fillResult = WindowActionResult::failure;
    EXPECT_EQ(fill(), ChainOutcome::clickLost);

    windows.fillResult = WindowActionResult::invalidWindow;
    EXPECT_EQ(fill(), ChainOutcome::targetGone);

    chain->setActive(false);
    EXPECT_EQ(fill(), ChainOutcome::droppedSettingOff);
    EXPECT_EQ(outcomes.size(), 5u);
}

TEST_F(MaximiseFill, ATapTheDesktopDisabledIsEnabledAgainAndPassesTheNotice) {
    ASSERT_TRUE(tap.tapEnabled());
    const int enables = tap.enableCalls();
    for (auto why : {TapEventType::tapDisabledByTimeout, TapEventType::tapDisabledByUserInput}) {
        const auto passed = tap.disableBySystem(why);
        ASSERT_TRUE(passed);
        EXPECT_EQ(passed->type, why);
        EXPECT_TRUE(tap.tapEnabled());
    }
    EXPECT_EQ(tap.enableCalls() - enables, 2);
}

TEST_F(MaximiseFill, TapLifecycleFollowsSettingAndTrust) {
    EXPECT_EQ(tap.tapsMade(), 1);
    controller->installTap();
    EXPECT_EQ(tap.createCalls, 1) << "one tap at a time";

    controller->settingChanged(false);
    EXPECT_EQ(tap.tapsRemoved(), 1);
    controller->removeTap();
    EXPECT_EQ(tap.tapsRemoved(), 1) << "nothing to tear down twice";
    controller->frontmostAppChanged(kAppPID);
    EXPECT_FALSE(tap.hasTap()) << "switched off: no longer wanted";

    // Wanted while not trusted: no tap, until a program switch after trust was granted.
    tap.trusted = false;
    controller->settingChanged(true);
    EXPECT_FALSE(tap.hasTap());
    controller->frontmostAppChanged(kAppPID);
    EXPECT_FALSE(tap.hasTap());
    tap.trusted = true;
    controller->frontmostAppChanged(kAppPID);
    EXPECT_TRUE(tap.hasTap()) << "still wanted";
    EXPECT_EQ(tap.tapsMade(), 2);

    // Not wanted: a program switch installs nothing.
    controller->settingChanged(false);
    controller->frontmostAppChanged(kAppPID);
    EXPECT_FALSE(tap.hasTap());

    // A tap that cannot be created leaves the controller off.
    tap.refuseTaps = true;
    controller->settingChanged(true);
    EXPECT_FALSE(tap.hasTap());
    EXPECT_TRUE(click(kOnButton, kOnButton).first);
}

TEST_F(MaximiseFill, AttachedSettingInstallsAndRemovesTheTapOnALaterTurn) {
    controller->settingChanged(false);
    test::FakeDefaultsStore store;
    OverlaySettings settings(store, loop);
    controller->attach(settings);
    loop.runUntilIdle();
    EXPECT_FALSE(tap.hasTap());

    settings.maximiseButtonFillsWindow = true;
    EXPECT_FALSE(tap.hasTap());
    loop.runUntilIdle();
    EXPECT_TRUE(tap.hasTap());
    settings.maximiseButtonFillsWindow = true;
    loop.runUntilIdle();
    EXPECT_EQ(tap.tapsMade(), 2) << "a repeated value does nothing";

    settings.maximiseButtonFillsWindow = false;
    loop.runUntilIdle();
    EXPECT_FALSE(tap.hasTap());
}

TEST_F(MaximiseFill, AControllerGoneWhileAFillWaitsLeavesNothingBehind) {
    click(kOnButton, kOnButton);
    controller.reset();
    EXPECT_FALSE(tap.hasTap());
    loop.runUntilIdle();
    EXPECT_TRUE(windows.calls().empty());
}

}  // namespace
}  // namespace velaro
