// The settings store: every setting as an observable member, loaded from the defaults store with per-app
// overrides, and persisted on every write through one routing step.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/AppId.h"
#include "base/Color.h"
#include "base/Lifetime.h"
#include "base/MainLoop.h"
#include "base/Published.h"
#include "platform/DefaultsStore.h"
#include "settings/CornerSettings.h"
#include "settings/ProfileManager.h"
#include "settings/SettingsKeys.h"
#include "settings/ShortcutSettings.h"
#include "settings/ValueTypes.h"

namespace velaro {

class OverlaySettings;

// One setting: a published value whose every assignment notifies (before storing) and then runs the
// store's handler for it, which persists it. Reading is `value()` or call syntax; writing is `set` or `=`.
template <class T>
class Setting {
public:
    explicit Setting(T initial) : published_(std::move(initial)) {}
    Setting(const Setting&) = delete;
    Setting& operator=(const Setting&) = delete;

    const T& value() const { return published_.value(); }
    const T& operator()() const { return published_.value(); }

    void set(T newValue) {
        T old = published_.value();
        publish(std::move(newValue));
        if (handler_) handler_(old);
    }
    Setting& operator=(T newValue) {
        set(std::move(newValue));
        return *this;
    }

    // The current value on subscription, then every assigned value.
    Stream<T> stream() const { return published_.stream(); }
    // Every assigned value from now on.
    Stream<T> changes() const { return published_.changes(); }
    // The underlying published value, for code written against `Published<T>` (read and subscribe only).
    const Published<T>& published() const { return published_; }

private:
    friend class OverlaySettings;
    // Assigns and notifies without running the handler.
    void publish(T newValue) {
        if (willChange_) willChange_();
        published_ = std::move(newValue);
    }

    Published<T> published_;
    std::function<void()> willChange_;
    std::function<void(const T& old)> handler_;
};

// The menu-bar item pills measured per screen, keyed by the screen's stable identifier.
using PillGeometryByScreen = std::map<std::string, PillGeometry>;

class OverlaySettings {
public:
    // The application's own app id: its own windows never choose a profile.
    static constexpr const char* ownAppId = velaroAppId;

    // Migrates the store, loads every setting and writes back the checked values. `mainLoop` delivers the
    // profile-scope subscription on a later turn.
    OverlaySettings(DefaultsStore& defaults, MainLoop& mainLoop);
    ~OverlaySettings();
    OverlaySettings(const OverlaySettings&) = delete;
    OverlaySettings& operator=(const OverlaySettings&) = delete;

    // Persisted settings, one member per row of the key table.
#define VELARO_DECLARE_SETTING(member, Type, form, key, def, check, scope, writeBack) \
    Setting<Type> member{Type(def)};
    VELARO_PERSISTED_SETTINGS(VELARO_DECLARE_SETTING)
#undef VELARO_DECLARE_SETTING

    // Runtime-only members: never persisted, never resolved.
    Setting<bool> shortcutRecordingActive{false};
    Setting<std::optional<std::string>> vizStatus{std::nullopt};
    Setting<PillGeometryByScreen> pillGeometryByScreen{PillGeometryByScreen{}};

    // Sent before any member changes.
    Stream<std::monostate> objectWillChange() const {
        return objectWillChange_.stream();
    }

    DefaultsStore& defaults() const {
        return defaults_;
    }
    bool progressEnabledByMigration() const {
        return progressEnabledByMigration_;
    }
    bool isResolving() const {
        return isResolving_;
    }

    // True while the settings window shows and the tour window does not; installed once by the shell.
    // While it is not installed, editing counts as inactive.
    std::function<bool()> isEditingActive;

    // Writes one stored value (null removes it): into the edited app's profile while one is being edited
    // and the key is not global-only, else into the defaults store. Does nothing while resolving.
    void persist(const PlistValue& value, const std::string& key);

    // Assign the member (which notifies), read it back and persist it under the key.
    void setBoolAndPersist(bool value, Setting<bool>& member, const std::string& key);
    void setDoubleAndPersist(double value, Setting<double>& member, const std::string& key);
    void setIntAndPersist(int value, Setting<int>& member, const std::string& key);
    void setStringAndPersist(std::string value, Setting<std::string>& member, const std::string& key);
    void setColorAndPersist(Color value, Setting<Color>& member, const std::string& key);

    // Keeps the manager (non-owning), upgrades old profiles and follows its selected scope.
    void attachProfileManager(ProfileManager& manager);
    // Re-resolves (on a later turn of the main loop) each time the manager's selected scope changes.
    void observeProfileScope(ProfileManager& manager);

    // The frontmost app; re-resolves unless editing is active.
    void setRuntimeAppId(const std::optional<std::string>& appId);
    // The owner of the window that fills the top of the screen; re-resolves unless editing is active.
    void setRuntimeFilledOwner(const std::optional<std::string>& appId);
    // Re-resolves every setting when the override set in force differs from the one applied last.
    void reapplyProfileOverrides();

    // Flips a Bool in the defaults store itself (never a profile) and re-resolves; returns the new value.
    bool toggleStoredBool(const std::string& key, bool defaultValue);
    // Switches every corner off, remembering which were on, or back on from that memory.
    void toggleCornersFromShortcut();

    // The strings that parse as colours, each in its "#RRGGBB" form.
    static std::vector<std::string> normalizedHexList(const std::vector<std::string>& list);

    // The stored `autoSample` of a style: the override, else the defaults store, else on for gradient only.
    bool storedAutoSample(MenuBarStyle style, const SettingOverrides& overrides) const;
    // The colour page's multicolour switch; seeds a five-colour palette the first time it is turned on.
    void setMulticolorEnabled(bool on);

    // Derived queries; none writes.
    bool needsScreenCapture() const;
    bool usesUnifiedRenderer() const;
    bool blurActive() const;
    bool isHueDriftEffective() const;
    bool isUniformHueDriftEffective() const;
    Color effectiveColor(const Color& sampled) const;
    bool isSamplingActive() const;
    BottomCornerZ zOrder(ScreenCorner corner) const;
    bool isCornerAtWallpaperLevel(ScreenCorner corner) const;
    std::vector<Color> colorZoneColors() const;

    // The global corner record in the defaults store; the default record when missing or undecodable.
    CornerSettings loadStoredCornerSettings() const;

private:
    void migrateStoredKeys();
    void installHandlers();
    // Assigns every persisted member from the overrides, then the defaults store, then the table default.
    void resolve(const SettingOverrides& overrides);
    // Runs `resolve` with persistence suspended.
    void resolveSilently(const SettingOverrides& overrides);
    void writeBackResolvedSettings();
    // The override set the rule of the moment puts in force (the edited profile, else the filling or
    // frontmost app's).
    SettingOverrides overridesInForce() const;
    void storeChangedOutside(const std::vector<std::string>& keys);
    template <class T>
    void publishIfChanged(T newValue, Setting<T>& member);

    // Row loaders, chosen by the stored form of the row. A stored value not taken as it stood (of another
    // kind, refused by its check, bounded) leaves a note in `notes`, and so does an overriding number
    // bounded (under "<key> (app profile)").
    template <class Form, class T, class Check>
    T load(Form form, const char* key, const T& fallback, const Check& check, settings_keys::Scope scope,
           const SettingOverrides& overrides, LoadNotes& notes) const;
    bool load(settings_keys::AutoSampleForm, const char* key, const bool& fallback,
              const settings_keys::NoCheck&, settings_keys::Scope, const SettingOverrides& overrides,
              LoadNotes& notes) const;
    OverlayColorZones load(settings_keys::ColorZonesForm, const char* key, const OverlayColorZones& fallback,
                           const settings_keys::NoCheck&, settings_keys::Scope,
                           const SettingOverrides& overrides, LoadNotes& notes) const;
    BottomCornerZ load(settings_keys::BottomCornerZForm form, const char* key, const BottomCornerZ& fallback,
                       const settings_keys::NoCheck&, settings_keys::Scope, const SettingOverrides& overrides,
                       LoadNotes& notes) const;
    // Notes a stored value (when there is one) that is not `kind`.
    static void noteUnreadable(const std::string& key, const PlistValue& stored, const char* kind,
                               LoadNotes& notes);
    // Says each note in the log once: again only when what it says of its key changes.
    void sayLoadNotes(const LoadNotes& notes);

    BottomCornerZ readBottomCornerZ(const std::string& key, const std::string& legacyKey,
                                    const SettingOverrides& overrides) const;

    // Change handlers, run after the member was assigned and observers notified.
    template <class T, class Form>
    void installHandler(Setting<T>& member, Form form, const char* key);
    void installHandler(Setting<MenuBarStyle>& member, settings_keys::StyleForm, const char* key);
    void installHandler(Setting<bool>& member, settings_keys::AutoSampleForm, const char* key);
    void installHandler(Setting<OverlayColorZones>& member, settings_keys::ColorZonesForm, const char* key);
    void installHandler(Setting<OverlayHueDrift>& member, settings_keys::HueDriftForm, const char* key);
    void installHandler(Setting<ShortcutSettings>& member, settings_keys::ShortcutsForm, const char* key);
    void installHandler(Setting<CornerSettings>& member, settings_keys::CornersForm, const char* key);
    void styleChanged(MenuBarStyle old);
    void overlayColorZonesChanged(const OverlayColorZones& old);

    // The attached manager, while it exists.
    ProfileManager* manager() const;
    bool editingActive() const {
        return isEditingActive && isEditingActive();
    }

    DefaultsStore& defaults_;
    MainLoop& mainLoop_;
    PassthroughSubject<std::monostate> objectWillChange_;
    bool progressEnabledByMigration_ = false;
    bool isResolving_ = false;
    bool isRestoringAutoSample_ = false;
    ProfileManager* profileManager_ = nullptr;
    Lifetime::Token profileManagerAlive_;
    SettingOverrides lastAppliedOverrides_;
    Subscription scopeObserver_;
    Subscription outsideChangesObserver_;
    std::optional<std::string> runtimeAppId_;
    std::optional<std::string> runtimeFilledOwner_;
    std::map<std::string, std::string, std::less<>> saidLoadNotes_;
};

}  // namespace velaro
