// The shortcut recorder: the application-wide key filter, the checks and the notices.
#include "ui/settings/pages/ShortcutRecorder.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <QWidget>
#include <algorithm>
#include <array>
#include <utility>

#include "platform/Hotkeys.h"
#include "platform/KeyboardLayout.h"
#include "settings/OverlaySettings.h"

namespace velaro {

namespace {

constexpr std::uint32_t kEscape = 53;
constexpr std::array<std::uint32_t, 4> kArrowKeys{123, 124, 125, 126};

}  // namespace

// Sees every event of the application while a recording runs: key presses go to the recorder, and the
// remembered window losing the focus or the application turning inactive cancel the recording.
class ShortcutRecorderModel::KeyFilter final : public QObject {
public:
    explicit KeyFilter(ShortcutRecorderModel& owner) : owner_(owner) { qApp->installEventFilter(this); }
    ~KeyFilter() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::ShortcutOverride:
                // A key that can be recorded reaches the recorder as a key press, not as the window's
                // own shortcut.
                if (owner_.recordableKey(static_cast<QKeyEvent&>(*event))) {
                    event->accept();
                    return true;
                }
                return false;
            case QEvent::KeyPress:
                return owner_.handleKeyPress(static_cast<QKeyEvent&>(*event));
            case QEvent::WindowDeactivate:
                if (watched == owner_.recordingWindow_.data()) owner_.cancel();
                return false;
            case QEvent::ApplicationStateChange:
                if (watched == qApp &&
                    static_cast<QApplicationStateChangeEvent*>(event)->applicationState() !=
                        Qt::ApplicationActive)
                    owner_.cancel();
                return false;
            default:
                return false;
        }
    }

private:
    ShortcutRecorderModel& owner_;
};

ShortcutRecorderModel::ShortcutRecorderModel(ShortcutRecorderServices services) : services_(services) {}

ShortcutRecorderModel::~ShortcutRecorderModel() {
    end();
}

void ShortcutRecorderModel::setNotice(std::optional<ShortcutNotice> notice) {
    if (notice != notice_()) notice_ = std::move(notice);
}

void ShortcutRecorderModel::begin(ShortcutAction action, OverlaySettings& settings) {
    const auto wasRecording = recordingAction_();
    end();
    if (wasRecording == action) return;  // the row's button pressed again: stopped, notice kept

    setNotice(std::nullopt);
    recordingAction_ = action;
    recordingWindow_ = QApplication::activeWindow();
    pausedSettings_ = &settings;
    settings.shortcutRecordingActive = true;
    filter_ = std::make_unique<KeyFilter>(*this);
}

void ShortcutRecorderModel::end() {
    filter_.reset();
    if (recordingAction_()) recordingAction_ = std::nullopt;
    recordingWindow_ = nullptr;
    if (OverlaySettings* settings = std::exchange(pausedSettings_, nullptr))
        settings->shortcutRecordingActive = false;
}

void ShortcutRecorderModel::cancel() {
    if (notice_() && notice_()->isBlocking) setNotice(std::nullopt);
    end();
}

void ShortcutRecorderModel::clear(ShortcutAction action, OverlaySettings& settings) {
    end();
    setNotice(std::nullopt);
    ShortcutSettings shortcuts = settings.appShortcuts();
    shortcuts.assign(action, std::nullopt);
    settings.appShortcuts = std::move(shortcuts);
}

std::optional<std::uint32_t> ShortcutRecorderModel::recordableKey(const QKeyEvent& event) const {
    if (!recordingAction_() || !services_.keyboardLayout) return std::nullopt;
    return services_.keyboardLayout->virtualKeyCode(event.nativeScanCode());
}

bool ShortcutRecorderModel::handleKeyPress(const QKeyEvent& event) {
    const auto action = recordingAction_();
    if (!action || !pausedSettings_) return false;
    OverlaySettings& settings = *pausedSettings_;
    // A key press that lands in another window ends the recording.
    if (!recordingWindow_ || QApplication::activeWindow() != recordingWindow_) {
        cancel();
        return false;
    }
    // Modifiers alone and keys no shortcut can hold (media keys) are passed on; recording goes on.
    const auto keyCode = recordableKey(event);
    if (!keyCode) return false;
    // Holding a key down repeats it: only the first press counts.
    if (event.isAutoRepeat()) return true;

    const std::uint32_t mask = carbonModifiers(event.modifiers());
    if (*keyCode == kEscape && mask == 0) {
        cancel();
        return true;
    }
    if (mask == 0) {
        setNotice(ShortcutNotice{*action, missingModifierText, true});
        return true;
    }
    const ShortcutKeyCombo combo{*keyCode, mask};
    if (auto refusal = conflictMessage(combo, *action, settings)) {
        setNotice(ShortcutNotice{*action, std::move(*refusal), true});
        end();
        return true;
    }
    ShortcutSettings shortcuts = settings.appShortcuts();
    shortcuts.assign(*action, combo);
    settings.appShortcuts = std::move(shortcuts);
    if (isActiveSystemShortcut(combo, services_.hotkeys)) {
        setNotice(ShortcutNotice{*action,
                                 "Saved. Note: " + combo.displayString(services_.keyboardLayout) +
                                     " is also an active desktop shortcut — the system may act on it too.",
                                 false});
    } else {
        setNotice(std::nullopt);
    }
    end();
    return true;
}

std::uint32_t progressSeekModifier(const std::string& stored) {
    if (stored == "shift") return ShortcutKeyCombo::shiftMask;
    if (stored == "control") return ShortcutKeyCombo::controlMask;
    if (stored == "command") return ShortcutKeyCombo::commandMask;
    return ShortcutKeyCombo::optionMask;
}

std::uint32_t carbonModifiers(Qt::KeyboardModifiers modifiers) {
    std::uint32_t mask = 0;
    if (modifiers & Qt::MetaModifier) mask |= ShortcutKeyCombo::commandMask;
    if (modifiers & Qt::ShiftModifier) mask |= ShortcutKeyCombo::shiftMask;
    if (modifiers & Qt::AltModifier) mask |= ShortcutKeyCombo::optionMask;
    if (modifiers & Qt::ControlModifier) mask |= ShortcutKeyCombo::controlMask;
    return mask;
}

std::optional<std::string> conflictMessage(const ShortcutKeyCombo& combo, ShortcutAction action,
                                           const OverlaySettings& settings) {
    const ShortcutSettings& shortcuts = settings.appShortcuts();
    for (const auto& [other, name] : EnumStrings<ShortcutAction>::cases) {
        if (other == action) continue;
        if (shortcuts.combo(other) == combo) return "Already used by “" + std::string(title(other)) + "”.";
    }
    const std::uint32_t seek = progressSeekModifier(settings.progressModifier());
    if (combo.carbonModifiers != seek) return std::nullopt;
    if (std::find(kArrowKeys.begin(), kArrowKeys.end(), combo.keyCode) == kArrowKeys.end())
        return std::nullopt;
    return "Reserved by the progress bar’s " + std::string(ShortcutKeyCombo::modifierName(seek)) +
           "+arrow keys.";
}

bool isActiveSystemShortcut(const ShortcutKeyCombo& combo, Hotkeys* hotkeys) {
    if (!hotkeys) return false;
    const HotKeyRegistration probe = hotkeys->registerHotKey(
        combo.keyCode, combo.carbonModifiers, HotKeyID{ShortcutRecorderModel::probeSignature, 1});
    if (probe) {
        hotkeys->unregisterHotKey(probe.ref);
        return false;
    }
    return probe.error == HotKeyError::inUse;
}

}  // namespace velaro
