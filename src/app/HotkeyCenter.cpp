// Global hot keys: registration from the stored assignments and the actions they perform.
#include "app/HotkeyCenter.h"

#include <cassert>
#include <tuple>

#include "base/Log.h"
#include "base/MainLoop.h"
#include "settings/OverlaySettings.h"

namespace velaro {

namespace {

// The actions in their stored order; a hot key's id is the index here + 1.
constexpr ShortcutAction kActions[] = {ShortcutAction::master, ShortcutAction::overlay,
                                       ShortcutAction::visualizer, ShortcutAction::progressBar,
                                       ShortcutAction::corners};

std::uint32_t idOf(ShortcutAction action) {
    for (std::uint32_t i = 0; i < std::size(kActions); ++i)
        if (kActions[i] == action) return i + 1;
    return 0;
}

const char* describe(HotKeyError error) {
    switch (error) {
        case HotKeyError::inUse:
            return "in use";
        case HotKeyError::unsupportedKey:
            return "no such key on this keyboard";
        case HotKeyError::unavailable:
            return "hot keys unavailable";
        case HotKeyError::none:
            break;
    }
    return "refused";
}

}  // namespace

HotkeyCenter::HotkeyCenter(Hotkeys& hotkeys, MainLoop& mainLoop) : hotkeys_(hotkeys), mainLoop_(mainLoop) {}

HotkeyCenter::~HotkeyCenter() {
    cancellable_.cancel();
    lifetime_.end();
}

void HotkeyCenter::start(OverlaySettings& settings) {
    if (settings_) return;
    settings_ = &settings;
    using Pair = std::tuple<ShortcutSettings, bool>;
    cancellable_ = combineLatest(settings.appShortcuts.stream(), settings.shortcutRecordingActive.stream())
                       .receiveOn(mainLoop_)
                       .removeDuplicates()
                       .sink(lifetime_.guard([this](const Pair& pair) {
                           // While the shortcuts page records a combination, the keys must reach it.
                           const auto& [shortcuts, recording] = pair;
                           registerAssignments(recording ? std::map<std::string, ShortcutKeyCombo>{}
                                                         : shortcuts.assignments);
                       }));
}

void HotkeyCenter::unregisterAll() {
    for (const auto& [action, ref] : hotKeyRefs_) hotkeys_.unregisterHotKey(ref);
    hotKeyRefs_.clear();
}

void HotkeyCenter::registerAssignments(const std::map<std::string, ShortcutKeyCombo>& assignments) {
    unregisterAll();
    std::vector<std::pair<ShortcutAction, ShortcutKeyCombo>> wanted;
    for (auto action : kActions)
        if (auto it = assignments.find(std::string(toString(action))); it != assignments.end())
            wanted.emplace_back(action, it->second);
    if (wanted.empty()) return;

    if (!handlerRef_) {
        const auto ref = hotkeys_.installHandler([this, token = lifetime_.token()](const HotKeyID& id) {
            return token.aliveHere() ? handleHotKey(id) : HotKeyStatus::notHandled;
        });
        if (ref != 0) handlerRef_ = ref;
    }
    for (const auto& [action, combo] : wanted) {
        // A bare key would swallow ordinary typing everywhere.
        if (combo.carbonModifiers == 0) continue;
        const auto registration =
            hotkeys_.registerHotKey(combo.keyCode, combo.carbonModifiers, HotKeyID{signature, idOf(action)});
        if (!registration) {
            qCWarning(lcApp) << tagged(
                "HOTKEY",
                std::string(toString(action)) + " shortcut not registered: " + describe(registration.error));
            continue;
        }
        hotKeyRefs_[action] = registration.ref;
    }
}

HotKeyStatus HotkeyCenter::handleHotKey(const HotKeyID& id) {
    if (id.signature != signature) return HotKeyStatus::notHandled;
    if (id.id < 1 || id.id > std::size(kActions)) return HotKeyStatus::notHandled;
    // Presses are delivered on the main thread; the settings are main-thread only.
    assert(mainLoop_.isMainThread());
    perform(kActions[id.id - 1]);
    return HotKeyStatus::handled;
}

void HotkeyCenter::perform(ShortcutAction action) {
    if (!settings_) return;
    // The four switches flip the global stored value (never a per-app override); an absent value counts as
    // the switch's default.
    struct Switch {
        ShortcutAction action;
        const settings_keys::Entry<bool, settings_keys::NoCheck>* row;
    };
    static constexpr Switch kSwitches[] = {{ShortcutAction::master, &settings_keys::masterEnabled},
                                           {ShortcutAction::overlay, &settings_keys::overlayEnabled},
                                           {ShortcutAction::visualizer, &settings_keys::vizEnabled},
                                           {ShortcutAction::progressBar, &settings_keys::progressEnabled}};
    for (const auto& s : kSwitches)
        if (s.action == action) {
            settings_->toggleStoredBool(s.row->key, s.row->defaultValue);
            return;
        }
    settings_->toggleCornersFromShortcut();
}

}  // namespace velaro
