// Records one global shortcut at a time from the user's own key presses in the settings window, checks it
// (a modifier is needed, no other action may hold it, the progress bar's arrow keys are reserved) and stores
// it in the shortcut assignments. While it records, the global hot keys are paused through
// `shortcutRecordingActive`, so that pressing a combination already assigned records it instead of firing it.
#pragma once

#include <QPointer>
#include <Qt>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/Published.h"
#include "platform/Hotkeys.h"
#include "settings/ShortcutSettings.h"

class QKeyEvent;
class QObject;
class QWidget;

namespace velaro {

class KeyboardLayout;
class OverlaySettings;

// The last outcome of a recording, shown under the row of its action.
struct ShortcutNotice {
    ShortcutAction action = ShortcutAction::master;
    std::string text;
    // True when the combination was refused; false for a warning after a save.
    bool isBlocking = false;
    friend bool operator==(const ShortcutNotice&, const ShortcutNotice&) = default;
};

// What the recorder needs of the desktop; either may be missing.
struct ShortcutRecorderServices {
    // Asked whether another program holds a combination; without it no combination is reported as held.
    Hotkeys* hotkeys = nullptr;
    // Turns key events into stored key codes and names keys; without it no key can be recorded.
    const KeyboardLayout* keyboardLayout = nullptr;
};

class ShortcutRecorderModel {
public:
    static constexpr const char* missingModifierText =
        "Add at least one modifier key (Ctrl, Alt, Shift or Super).";
    // The id a probe for a held combination registers under, released at once.
    static constexpr std::uint32_t probeSignature = fourCharCode("VLRP");

    explicit ShortcutRecorderModel(ShortcutRecorderServices services);
    // Ends a recording still running, so the key filter goes and the global hot keys come back.
    ~ShortcutRecorderModel();
    ShortcutRecorderModel(const ShortcutRecorderModel&) = delete;
    ShortcutRecorderModel& operator=(const ShortcutRecorderModel&) = delete;

    // The action being recorded; none while idle.
    const Published<std::optional<ShortcutAction>>& recordingAction() const { return recordingAction_; }
    const Published<std::optional<ShortcutNotice>>& notice() const { return notice_; }
    const ShortcutRecorderServices& services() const { return services_; }

    // Starts recording `action` into `settings` (which must outlive the recording), or, when `action` is the
    // one recording, stops: the row's button toggles.
    void begin(ShortcutAction action, OverlaySettings& settings);
    // Stops recording; the notice stays.
    void end();
    // Removes a refusal's notice, then stops.
    void cancel();
    // Stops recording, removes any notice and the action's stored combination.
    void clear(ShortcutAction action, OverlaySettings& settings);
    // A key press anywhere in the application while recording: true when it was consumed.
    bool handleKeyPress(const QKeyEvent& event);

private:
    class KeyFilter;
    friend class KeyFilter;

    void setNotice(std::optional<ShortcutNotice> notice);
    // The stored key code of a key event while recording; nothing when idle or for keys no shortcut holds.
    std::optional<std::uint32_t> recordableKey(const QKeyEvent& event) const;

    ShortcutRecorderServices services_;
    Published<std::optional<ShortcutAction>> recordingAction_{std::nullopt};
    Published<std::optional<ShortcutNotice>> notice_{std::nullopt};
    std::unique_ptr<KeyFilter> filter_;
    // The window that had the focus when recording began (null when none had it or it is gone).
    QPointer<QWidget> recordingWindow_;
    OverlaySettings* pausedSettings_ = nullptr;
};

// The modifier bit of the progress bar's stored seek modifier ("shift", "control", "command"); anything else
// is option (Alt), the default.
std::uint32_t progressSeekModifier(const std::string& stored);

// The modifier mask of a key event's modifiers: Super = command, Shift, Alt = option, Control. Keypad and
// other flags take no part.
std::uint32_t carbonModifiers(Qt::KeyboardModifiers modifiers);

// Why `combo` cannot be stored for `action`, or nothing: another action holds it, or it is an arrow key with
// exactly the progress bar's seek modifier.
std::optional<std::string> conflictMessage(const ShortcutKeyCombo& combo, ShortcutAction action,
                                           const OverlaySettings& settings);

// True when another program holds the combination as its own global shortcut: a registration under the
// probe id is refused as in use. A successful probe is released at once; other failures count as not held.
bool isActiveSystemShortcut(const ShortcutKeyCombo& combo, Hotkeys* hotkeys);

}  // namespace velaro
