// The progress bar's input on the virtual loop: arming with the modifier, clicks, double clicks and drags,
// the control-click, touchpad swipes, the arrow hot keys and the flash that answers them.
#include <gtest/gtest.h>

#include <cmath>

#include "music/ProgressBarRig.h"

namespace velaro::test {
namespace {

using Kind = OverlayMouseEvent::Kind;
using Button = OverlayMouseEvent::Button;

class ProgressBarInputTest : public ::testing::Test, public ProgressBarRig {};

TEST_F(ProgressBarInputTest, ArmedOnlyWhileTheModifierIsHeldOverASeekableTrack) {
    makePlaying();
    struct Step {
        const char* what;
        std::function<void(ProgressBarRig&)> act;
        bool armed;
    };
    const Step steps[] = {
        {"another modifier", [](ProgressBarRig& r) { r.pointer.holdModifiers(ModifierFlag::shift); }, false},
        {"Alt",
         [](ProgressBarRig& r) { r.pointer.holdModifiers(ModifierFlag::option | ModifierFlag::shift); },
         true},
        {"released", [](ProgressBarRig& r) { r.pointer.holdModifiers(0); }, false},
        {"Alt again", [](ProgressBarRig& r) { r.pointer.holdModifiers(ModifierFlag::option); }, true},
        {"the track ends", [](ProgressBarRig& r) { r.engine.show(std::nullopt, 0, false); }, false},
        {"a track", [](ProgressBarRig& r) { r.engine.show(0.5, 100, true); }, true},
        {"the overview", [](ProgressBarRig& r) { r.bar->setOverviewActive(true); }, false},
        {"the overview ends", [](ProgressBarRig& r) { r.bar->setOverviewActive(false); }, true},
        {"Super is the modifier now",
         [](ProgressBarRig& r) { r.settings.progressModifier = std::string("command"); }, false},
        {"Super", [](ProgressBarRig& r) { r.pointer.holdModifiers(ModifierFlag::command); }, true},
    };
    for (const Step& s : steps) {
        s.act(*this);
        loop.advance(0.5);
        EXPECT_EQ(window()->takesMouse(), s.armed) << s.what;
        EXPECT_EQ(window()->level(), s.armed ? OverlayWindowLevel::panel : OverlayWindowLevel::belowPanel)
            << s.what;
        EXPECT_NEAR(bar->look().line, s.armed ? 6 : 2, 1e-9) << s.what;
        EXPECT_NEAR(bar->look().armedMix, s.armed ? 1 : 0, 1e-9) << s.what;
    }

    // Armed, the whole strip is painted faintly (so that it catches the mouse) with the track under the line.
    const QImage armed = render();
    EXPECT_GT(qAlpha(armed.pixel(1900, 12)), 0) << "the backdrop";
    EXPECT_GT(qAlpha(armed.pixel(1900, 3)), qAlpha(armed.pixel(1900, 12))) << "the track";
    EXPECT_EQ(qAlpha(armed.pixel(1900, 6)), qAlpha(armed.pixel(1900, 12))) << "6 pixels of track";
    // Without translucency the backdrop would be an opaque black strip: only the line and its track show.
    host.setSupportsTranslucency(false);
    const QImage opaque = render();
    EXPECT_EQ(qAlpha(opaque.pixel(1900, 12)), 0);
    EXPECT_GT(qAlpha(opaque.pixel(1900, 3)), 0);
}

TEST_F(ProgressBarInputTest, ClicksSeekAfterTheDoubleClickIntervalAndDragsOnRelease) {
    makePlaying();
    holdModifier();
    ASSERT_TRUE(window()->takesMouse());

    // A click at three quarters: the bar shows it at once, the seek waits for a possible second click.
    ASSERT_TRUE(click(1440));
    loop.advance(0.35);
    EXPECT_TRUE(engine.seeks.empty());
    EXPECT_NEAR(fillWidth(), 1440, 1e-6);
    loop.advance(0.1);
    ASSERT_EQ(engine.seeks.size(), 1u);
    EXPECT_EQ(engine.seeks[0], std::make_pair(150.0, 1.0));
    loop.advance(0.5);
    EXPECT_NEAR(fillWidth(), 480, 1e-6) << "once the seek is sent the fill follows the player again";

    // A second click within the interval toggles play instead, and flashes.
    engine.seeks.clear();
    ASSERT_TRUE(click(480));
    loop.advance(0.2);
    ASSERT_TRUE(click(480, 2));
    loop.advance(1);
    EXPECT_TRUE(engine.seeks.empty());
    EXPECT_EQ(engine.commands, (std::vector<std::pair<int, std::string>>{{2, "play-toggle"}}));

    // Moving 4 points is still a click; 5 is a drag, which seeks on release at once.
    struct Drag {
        double to;
        bool drag;
    };
    for (const Drag& d : {Drag{484, false}, Drag{485, true}, Drag{100, true}}) {
        engine.seeks.clear();
        window()->sendMouse(mouse(Kind::down, 480));
        window()->sendMouse(mouse(Kind::dragged, d.to));
        loop.advance(0.09);
        EXPECT_NEAR(fillWidth(), d.drag ? d.to : 480, 1e-6) << d.to << ": the fill follows the held pointer";
        window()->sendMouse(mouse(Kind::up, d.to));
        EXPECT_EQ(engine.seeks.size(), d.drag ? 1u : 0u) << d.to;
        window()->sendMouse(mouse(Kind::dragged, 1500));
        loop.advance(0.09);
        EXPECT_LT(fillWidth(), 490) << d.to << ": released, the pointer no longer takes the fill along";
        loop.advance(0.5);
        ASSERT_EQ(engine.seeks.size(), 1u) << d.to;
        EXPECT_NEAR(engine.seeks[0].first, 200 * d.to / 1920, 1e-9) << d.to;
    }

    // A drag follows the pointer quickly (0.08 s), and outside the bar it stops at the ends.
    window()->sendMouse(mouse(Kind::down, 960));
    window()->sendMouse(mouse(Kind::dragged, 2500));
    loop.advance(0.09);
    EXPECT_NEAR(fillWidth(), 1920, 1e-6);
    engine.seeks.clear();
    window()->sendMouse(mouse(Kind::up, -40));
    ASSERT_EQ(engine.seeks.size(), 1u);
    EXPECT_EQ(engine.seeks[0].first, 0);
}

TEST_F(ProgressBarInputTest, AClickSeekIsDroppedWhenTheTrackChangesMeanwhile) {
    struct Change {
        const char* what;
        std::function<void(ScriptedEngine&)> act;
        bool seeks;
    };
    const Change changes[] = {
        {"nothing", [](ScriptedEngine&) {}, true},
        {"position only", [](ScriptedEngine& e) { e.show(0.3, 200, true); }, true},
        {"another length", [](ScriptedEngine& e) { e.show(0.3, 180, true); }, false},
        {"another player", [](ScriptedEngine& e) { e.show(0.3, 200, true, "other"); }, false},
        {"no player named", [](ScriptedEngine& e) { e.show(0.3, 200, true, nullptr); }, false},
        {"no track", [](ScriptedEngine& e) { e.show(std::nullopt, 0, false); }, false},
    };
    for (const Change& c : changes) {
        bar.reset();
        engine.seeks.clear();
        makePlaying();
        holdModifier();
        ASSERT_TRUE(click(960)) << c.what;
        c.act(engine);
        loop.advance(1);
        EXPECT_EQ(engine.seeks.size(), c.seeks ? 1u : 0u) << c.what;
    }
}

TEST_F(ProgressBarInputTest, MouseEventsOnlyCountWithTheModifierAndTheRightButtonOnlyForControl) {
    makePlaying();
    holdModifier();
    // The modifier was let go between the arming tick and the press: the bar disarms and does nothing.
    pointer.holdModifiers(0);
    window()->sendMouse(mouse(Kind::down, 960, 0));
    loop.advance(0.09);
    EXPECT_NEAR(fillWidth(), 480, 1e-6) << "the press did not take the fill to it";
    EXPECT_FALSE(window()->takesMouse());

    struct Case {
        const char* setting;
        std::uint32_t flag;
        Button button;
        bool scrubs;
    };
    const Case cases[] = {
        {"option", ModifierFlag::option, Button::left, true},
        {"option", ModifierFlag::option, Button::right, false},
        {"option", ModifierFlag::option, Button::other, false},
        {"control", ModifierFlag::control, Button::right, true},
        {"control", ModifierFlag::control, Button::left, true},
        {"shift", ModifierFlag::shift, Button::right, false},
        {"nonsense", ModifierFlag::option, Button::left, true},  // counts as Alt
    };
    for (const Case& c : cases) {
        settings.progressModifier = std::string(c.setting);
        pointer.holdModifiers(c.flag);
        loop.advance(0.2);
        ASSERT_TRUE(window()->takesMouse()) << c.setting;
        engine.seeks.clear();
        window()->sendMouse(mouse(Kind::down, 480, c.flag, 1, c.button));
        window()->sendMouse(mouse(Kind::dragged, 960, c.flag, 1, c.button));
        loop.advance(0.09);
        // A press that took hold has the fill follow the pointer; otherwise the fill keeps with the track.
        EXPECT_EQ(std::abs(fillWidth() - 960) < 1e-6, c.scrubs) << c.setting;
        window()->sendMouse(mouse(Kind::up, 960, c.flag, 1, c.button));
        EXPECT_EQ(engine.seeks.size(), c.scrubs ? 1u : 0u) << c.setting;
        EXPECT_TRUE(window()->takesMouse()) << c.setting << ": still armed after the release";
    }

    // Released during a drag: the release seeks and disarms.
    settings.progressModifier = std::string("option");
    pointer.holdModifiers(ModifierFlag::option);
    loop.advance(0.2);
    window()->sendMouse(mouse(Kind::down, 480));
    window()->sendMouse(mouse(Kind::dragged, 960));
    pointer.holdModifiers(0);
    loop.advance(0.3);
    EXPECT_TRUE(window()->takesMouse()) << "a drag is never disarmed under the hand";
    engine.seeks.clear();
    window()->sendMouse(mouse(Kind::up, 960, 0));
    EXPECT_EQ(engine.seeks.size(), 1u);
    EXPECT_FALSE(window()->takesMouse());
}

TEST_F(ProgressBarInputTest, ASwipeSkipsOnceBeyondSeventy) {
    makePlaying();
    holdModifier();
    struct Case {
        const char* what;
        std::vector<double> deltas;  // one gesture's moves
        bool precise;
        bool inverted;
        std::vector<std::pair<int, std::string>> commands;
    };
    const Case cases[] = {
        {"70 exactly", {-30, -40}, true, false, {}},
        {"71 to the left: next", {-30, -41}, true, false, {{4, "track-skip"}}},
        {"71 to the right: previous", {30, 41}, true, false, {{5, "track-skip"}}},
        {"natural scrolling turns it round", {30, 41}, true, true, {{4, "track-skip"}}},
        {"once per gesture", {-80, -80, 100, 100, -300}, true, false, {{4, "track-skip"}}},
        {"a mouse wheel", {-80, -80}, false, false, {}},
    };
    for (const Case& c : cases) {
        engine.commands.clear();
        loop.advance(0.5);  // apart from the last skip
        auto event = [&](ScrollPhase phase, double dx) {
            auto e = swipe(phase, dx, c.precise);
            e.directionInvertedFromDevice = c.inverted;
            ASSERT_TRUE(window()->sendMouse(e));
        };
        event(ScrollPhase::began, 0);
        for (double dx : c.deltas) event(ScrollPhase::changed, dx);
        event(ScrollPhase::ended, 0);
        EXPECT_EQ(engine.commands, c.commands) << c.what;
    }
    // The coasting after a swipe never counts.
    engine.commands.clear();
    loop.advance(0.5);
    auto coast = swipe(ScrollPhase::none, -200);
    coast.momentumPhase = ScrollPhase::changed;
    window()->sendMouse(swipe(ScrollPhase::began, 0));
    window()->sendMouse(coast);
    EXPECT_TRUE(engine.commands.empty());
}

TEST_F(ProgressBarInputTest, ArrowHotKeysSeekAndSkipWithSpacedSkips) {
    makePlaying();
    const auto option = Hotkeys::optionMask;
    const auto sig = ProgressBarController::hotKeySignature;
    EXPECT_EQ(hotkeys.registered(), (std::vector<FakeHotkeys::Registration>{{123, option, {sig, 1}},
                                                                            {124, option, {sig, 2}},
                                                                            {126, option, {sig, 3}},
                                                                            {125, option, {sig, 4}}}));

    hotkeys.press(123, option);
    hotkeys.press(124, option);
    EXPECT_EQ(engine.keySeeks,
              (std::vector<std::tuple<double, double, double>>{{-10, 1, 0.25}, {10, 1, 0.25}}));
    EXPECT_NEAR(bar->look().armedMix, 0, 1e-9);
    loop.advance(0.2);
    EXPECT_NEAR(bar->look().armedMix, 1, 1e-9) << "a flash answers the key";
    loop.advance(0.25);
    EXPECT_NEAR(bar->look().armedMix, 1, 1e-9) << "for half a second";
    loop.advance(0.25);
    EXPECT_NEAR(bar->look().armedMix, 0, 1e-9);

    // Up twice 0.2 s apart skips once; after 0.35 s Down skips back.
    hotkeys.press(126, option);
    loop.advance(0.2);
    hotkeys.press(126, option);
    loop.advance(0.2);
    hotkeys.press(125, option);
    EXPECT_EQ(engine.commands,
              (std::vector<std::pair<int, std::string>>{{4, "track-skip"}, {5, "track-skip"}}));

    // Foreign signatures and unknown ids are left to the app's other handlers.
    EXPECT_EQ(hotkeys.deliver({fourCharCode("VELA"), 1}), HotKeyStatus::notHandled);
    EXPECT_EQ(hotkeys.deliver({sig, 9}), HotKeyStatus::handled);
}

TEST_F(ProgressBarInputTest, HotKeysComeAndGoWithTheTrackTheSettingsAndTheRecorder) {
    makePlaying();
    auto keys = [&] { return hotkeys.registered().size(); };
    ASSERT_EQ(keys(), 4u);
    struct Step {
        const char* what;
        std::function<void(ProgressBarRig&)> act;
        std::size_t keys;
        std::uint32_t mask;
    };
    const Step steps[] = {
        {"a shortcut is being recorded", [](ProgressBarRig& r) { r.settings.shortcutRecordingActive = true; },
         0, 0},
        {"recording ends", [](ProgressBarRig& r) { r.settings.shortcutRecordingActive = false; }, 4,
         Hotkeys::optionMask},
        {"no track", [](ProgressBarRig& r) { r.engine.show(std::nullopt, 0, false); }, 0, 0},
        {"a paused track", [](ProgressBarRig& r) { r.engine.show(0.2, 100, false); }, 4, Hotkeys::optionMask},
        {"the modifier changes",
         [](ProgressBarRig& r) { r.settings.progressModifier = std::string("shift"); }, 4,
         Hotkeys::shiftMask},
        {"keyboard seeking off", [](ProgressBarRig& r) { r.settings.progressKeySeekEnabled = false; }, 0, 0},
        {"on again", [](ProgressBarRig& r) { r.settings.progressKeySeekEnabled = true; }, 4,
         Hotkeys::shiftMask},
    };
    for (const Step& s : steps) {
        s.act(*this);
        loop.advance(0.2);
        ASSERT_EQ(keys(), s.keys) << s.what;
        for (const auto& r : hotkeys.registered()) EXPECT_EQ(r.modifiers, s.mask) << s.what;
    }

    // A combination another program holds is skipped; the others work.
    settings.progressKeySeekEnabled = false;
    loop.advance(0.2);
    hotkeys.heldElsewhere.insert({126, Hotkeys::shiftMask});
    settings.progressKeySeekEnabled = true;
    loop.advance(0.2);
    EXPECT_EQ(keys(), 3u);
    EXPECT_TRUE(hotkeys.press(124, Hotkeys::shiftMask));
    EXPECT_EQ(hotkeys.handlerCount(), 1u) << "one handler however often the keys come back";
}

}  // namespace
}  // namespace velaro::test
