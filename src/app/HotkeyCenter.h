// Turns the user's shortcut assignments into system-wide hot keys and performs the assigned action
// (master switch, overlay, visualizer, progress bar or corners) when one is pressed.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "platform/Hotkeys.h"
#include "settings/ShortcutSettings.h"

namespace velaro {

class MainLoop;
class OverlaySettings;

class HotkeyCenter {
public:
    // The signature every hot key of the centre carries; its id is the action's index + 1.
    static constexpr std::uint32_t signature = fourCharCode("VLRK");

    // Created empty: no settings, no handler, nothing registered, no subscription. Main thread only.
    HotkeyCenter(Hotkeys& hotkeys, MainLoop& mainLoop);
    // Leaves the registered hot keys and the handler in place, as the process is ending anyway; a later
    // press finds the centre gone and is left to other handlers.
    ~HotkeyCenter();
    HotkeyCenter(const HotkeyCenter&) = delete;
    HotkeyCenter& operator=(const HotkeyCenter&) = delete;

    // Follows the assignments and the recording flag of `settings` (which must outlive the centre). A
    // second call does nothing.
    void start(OverlaySettings& settings);

    // Replaces the registered hot keys by `assignments` (action string → combination): in action order,
    // skipping combinations without modifiers and those the desktop refuses.
    void registerAssignments(const std::map<std::string, ShortcutKeyCombo>& assignments);
    void unregisterAll();
    // Performs one action; nothing before `start`.
    void perform(ShortcutAction action);
    // The installed handler: performs the action a hot key of ours names.
    HotKeyStatus handleHotKey(const HotKeyID& id);

private:
    Hotkeys& hotkeys_;
    MainLoop& mainLoop_;
    OverlaySettings* settings_ = nullptr;
    std::optional<std::uint64_t> handlerRef_;
    std::map<ShortcutAction, std::uint64_t> hotKeyRefs_;
    Subscription cancellable_;
    // Checked by the installed handler, which outlives the centre.
    Lifetime lifetime_;
};

}  // namespace velaro
