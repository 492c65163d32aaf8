// Global hot keys in the test desktop: a stored shortcut typed with xdotool flips the switch in the
// defaults file, and a combination another program holds is refused and reported.
#include <QtGui/qguiapplication_platform.h>
#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <algorithm>
#include <map>
#include <memory>

#include "app/HotkeyCenter.h"
#include "e2e/E2eSupport.h"
#include "e2e/TempSettings.h"
#include "platform/linux/X11Hotkeys.h"
#include "platform/linux/XkbKeyboardLayout.h"
#include "support/LogCapture.h"

namespace velaro::e2e {
namespace {

// Stored virtual key codes of the keys the tests type.
constexpr std::uint32_t kM = 46, kV = 9;
constexpr std::uint32_t kCtrlOpt = ShortcutKeyCombo::controlMask | ShortcutKeyCombo::optionMask;

// Another program's connection, grabbing keys on the root as a window manager's key bindings do.
class OtherClient {
public:
    OtherClient() {
        c_ = xcb_connect(nullptr, nullptr);
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    ~OtherClient() { xcb_disconnect(c_); }
    // True when the server granted the grab.
    bool grab(std::uint32_t virtualKeyCode, std::uint16_t modifiers) {
        const auto code = xKeyCode(virtualKeyCode);
        auto* error = xcb_request_check(c_, xcb_grab_key_checked(c_, 0, root_, modifiers, std::uint8_t(*code),
                                                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return error == nullptr;
    }

private:
    xcb_connection_t* c_;
    xcb_window_t root_;
};

// The desktop's hot keys as the centre uses them, keeping what it holds registered now.
class HeldHotkeys final : public Hotkeys {
public:
    explicit HeldHotkeys(Hotkeys& desktop) : desktop_(desktop) {}
    std::uint64_t installHandler(Handler handler) override {
        return desktop_.installHandler(std::move(handler));
    }
    void removeHandler(std::uint64_t ref) override { desktop_.removeHandler(ref); }
    HotKeyRegistration registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID id) override {
        const auto registration = desktop_.registerHotKey(keyCode, modifiers, id);
        if (registration) ids_[registration.ref] = id.id;
        return registration;
    }
    void unregisterHotKey(std::uint64_t ref) override {
        ids_.erase(ref);
        desktop_.unregisterHotKey(ref);
    }
    bool empty() const { return ids_.empty(); }
    // Whether the master switch's hot key (the centre's first) is registered.
    bool holdsMaster() const {
        return std::any_of(ids_.begin(), ids_.end(), [](const auto& entry) { return entry.second == 1; });
    }

private:
    Hotkeys& desktop_;
    std::map<std::uint64_t, std::uint32_t> ids_;
};

struct HotkeysDesktop : ::testing::Test {
    std::unique_ptr<TempSettings> app;
    OverlaySettings* settings = nullptr;
    std::unique_ptr<X11Hotkeys> hotkeys;
    std::unique_ptr<HeldHotkeys> held;
    std::unique_ptr<HotkeyCenter> centre;

    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        app = std::make_unique<TempSettings>();
        ASSERT_TRUE(app->dir.isValid());
        settings = &app->settings;
        hotkeys =
            X11Hotkeys::create(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection());
        ASSERT_NE(hotkeys, nullptr) << "the test application runs on X11";
        held = std::make_unique<HeldHotkeys>(*hotkeys);
        centre = std::make_unique<HotkeyCenter>(*held, app->loop);
    }
    void TearDown() override {
        centre.reset();
        held.reset();
        hotkeys.reset();
        app.reset();
    }

    // The Bool the defaults file holds under `key`, as another program would read it.
    std::optional<bool> storedBool(const char* key) const {
        QFile file(QString::fromStdString(app->path));
        if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
        const auto stored = decodeDefaultsFile(file.readAll().toStdString());
        if (!stored || !stored->contains(key) || !(*stored)[key].is_boolean()) return std::nullopt;
        return (*stored)[key].get<bool>();
    }
    void assign(std::map<std::string, ShortcutKeyCombo> assignments) {
        settings->appShortcuts = ShortcutSettings{std::move(assignments)};
    }
};

TEST_F(HotkeysDesktop, TypedShortcutFlipsTheMasterSwitchInTheDefaultsFileAndBack) {
    assign({{"master", {kM, kCtrlOpt}}});
    centre->start(*settings);
    ASSERT_TRUE(waitUntil([&] { return held->holdsMaster(); }));

    auto typed = run("xdotool", {"key", "ctrl+alt+m"});
    ASSERT_EQ(typed.exitCode, 0) << typed.describe().toStdString();
    EXPECT_TRUE(waitUntil([&] { return storedBool("masterEnabled") == false; }));
    EXPECT_FALSE(settings->masterEnabled());

    typed = run("xdotool", {"key", "ctrl+alt+m"});
    ASSERT_EQ(typed.exitCode, 0) << typed.describe().toStdString();
    EXPECT_TRUE(waitUntil([&] { return storedBool("masterEnabled") == true; }));

    // With Caps Lock on, the same shortcut still works.
    run("xdotool", {"key", "Caps_Lock"});
    run("xdotool", {"key", "ctrl+alt+m"});
    run("xdotool", {"key", "Caps_Lock"});
    EXPECT_TRUE(waitUntil([&] { return storedBool("masterEnabled") == false; }));

    // While a combination is being recorded the keys are not grabbed, so typing them changes nothing.
    settings->shortcutRecordingActive = true;
    ASSERT_TRUE(waitUntil([&] { return held->empty(); }));
    run("xdotool", {"key", "ctrl+alt+m"});
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(storedBool("masterEnabled"), false);
}

TEST_F(HotkeysDesktop, HoldingTheShortcutDownFlipsTheSwitchOnce) {
    assign({{"master", {kM, kCtrlOpt}}});
    centre->start(*settings);
    ASSERT_TRUE(waitUntil([&] { return held->holdsMaster(); }));
    int flips = 0;
    auto counting = settings->masterEnabled.changes().sink([&](const bool&) { ++flips; });

    // Held well past the server's auto-repeat delay, so that repeats arrive while it is down.
    const auto held =
        run("bash", {"-c", "xdotool keydown ctrl+alt+m && sleep 1.5 && xdotool keyup ctrl+alt+m"});
    ASSERT_EQ(held.exitCode, 0) << held.describe().toStdString();
    EXPECT_TRUE(waitUntil([&] { return storedBool("masterEnabled") == false; }));
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(flips, 1) << "auto-repeat flipped the switch again";
}

// Moves Num Lock to another modifier (and switches it on) while it lives; puts the desktop back after.
class NumLockOnMod3 {
public:
    NumLockOnMod3() {
        run("xmodmap", {"-e", "clear mod2", "-e", "add mod3 = Num_Lock"});
        run("xdotool", {"key", "Num_Lock"});
    }
    ~NumLockOnMod3() {
        run("xdotool", {"key", "Num_Lock"});
        run("xmodmap", {"-e", "clear mod3", "-e", "add mod2 = Num_Lock"});
    }
};

TEST_F(HotkeysDesktop, ShortcutsKeepWorkingWhenNumLockMovesToAnotherModifier) {
    assign({{"master", {kM, kCtrlOpt}}});
    centre->start(*settings);
    ASSERT_TRUE(waitUntil([&] { return held->holdsMaster(); }));
    NumLockOnMod3 moved;
    waitUntil([] { return false; }, std::chrono::milliseconds(300));  // the server tells every client

    run("xdotool", {"key", "ctrl+alt+m"});
    EXPECT_TRUE(waitUntil([&] { return storedBool("masterEnabled") == false; }));
}

TEST_F(HotkeysDesktop, ACombinationAnotherProgramHoldsIsReportedInUse) {
    test::LogCapture log;
    OtherClient windowManager;
    ASSERT_TRUE(windowManager.grab(kV, XCB_MOD_MASK_ANY));
    assign({{"master", {kM, kCtrlOpt}}, {"visualizer", {kV, kCtrlOpt}}});
    centre->start(*settings);
    ASSERT_TRUE(waitUntil([&] { return !held->empty(); }));
    EXPECT_EQ(log.count("shortcut not registered"), 1);
    EXPECT_EQ(log.count("HOTKEY visualizer shortcut not registered: in use"), 1);
    EXPECT_TRUE(held->holdsMaster());
}

TEST_F(HotkeysDesktop, ARefusedCombinationLeavesNoneOfItsLockStatesGrabbed) {
    // The other program holds the combination only with Caps Lock on: our first grab (no locks) succeeds,
    // the second fails, and the first must be given back.
    OtherClient other;
    const std::uint16_t ctrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
    ASSERT_TRUE(other.grab(kV, ctrlAlt | XCB_MOD_MASK_LOCK));
    const auto registration = hotkeys->registerHotKey(kV, kCtrlOpt, HotKeyID{1, 1});
    EXPECT_EQ(registration.error, HotKeyError::inUse);

    OtherClient third;
    EXPECT_TRUE(third.grab(kV, ctrlAlt)) << "our partial grab was not undone";
}

}  // namespace
}  // namespace velaro::e2e
