// The settings store: loading through the key table, persist routing, per-app overrides, change handlers,
// the shortcut toggles and the derived queries.
#include "settings/OverlaySettings.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "base/Log.h"
#include "base/NumberCast.h"
#include "settings/SettingsJson.h"
#include "settings/SettingsMigrations.h"

namespace velaro {

using namespace settings_keys;

namespace {

// ---- Reading one stored or overriding value in a row's form ----------------------------------------------
// Each gives nothing for a value of another kind, which then counts as missing.

std::optional<bool> decode(BoolForm, const PlistValue& v) {
    return plistBool(v);
}
std::optional<double> decode(DoubleForm, const PlistValue& v) {
    return plistDouble(v);
}
std::optional<std::string> decode(StringForm, const PlistValue& v) {
    return plistString(v);
}

// Whole numbers; a fraction is truncated, and a number beyond the range of int is held at its nearer end
// (which the row's bounds then say of). Not a number counts as missing.
std::optional<int> decode(IntForm, const PlistValue& v) {
    const auto d = plistDouble(v);
    if (!d || std::isnan(*d)) return std::nullopt;
    return saturatedCast<int>(*d);
}

std::optional<Color> decode(ColorForm, const PlistValue& v) {
    if (v.is_string()) return colorFromHex(v.get<std::string>());
    return std::nullopt;
}

std::optional<std::vector<std::string>> decode(PaletteForm, const PlistValue& v) {
    return plistStringArray(v);
}

// Any string is a style: older versions' names of the live style among them, everything else solid.
std::optional<MenuBarStyle> decode(StyleForm, const PlistValue& v) {
    if (!v.is_string()) return std::nullopt;
    return menuBarStyleFromLegacyName(v.get<std::string>());
}

template <class E>
std::optional<E> decode(EnumForm<E>, const PlistValue& v) {
    if (!v.is_string()) return std::nullopt;
    return fromString<E>(v.get<std::string>());
}

std::optional<OverlayHueDrift> decode(HueDriftForm, const PlistValue& v, LoadNotes* notes = nullptr) {
    if (!v.is_binary()) return std::nullopt;
    auto drift = OverlayHueDrift::decode(v.get_binary());
    if (!drift) return std::nullopt;
    return drift->sanitized(notes);
}

std::optional<ShortcutSettings> decode(ShortcutsForm, const PlistValue& v) {
    if (!v.is_binary()) return std::nullopt;
    return ShortcutSettings::decode(v.get_binary());
}

std::optional<CornerSettings> decode(CornersForm, const PlistValue& v, LoadNotes* notes = nullptr) {
    if (!v.is_binary()) return std::nullopt;
    return CornerSettings::decode(v.get_binary(), notes);
}

std::optional<OverlayColorZones> decode(ColorZonesForm, const PlistValue& v, LoadNotes* notes = nullptr) {
    if (!v.is_binary()) return std::nullopt;
    auto zones = OverlayColorZones::decode(v.get_binary());
    if (!zones) return std::nullopt;
    return zones->normalized(notes);
}

// ---- Reading a stored value, with a note of what was not taken as it stood --------------------------------

template <class Form>
constexpr bool isEnumForm = false;
template <class E>
constexpr bool isEnumForm<EnumForm<E>> = true;

// What a stored value of a form is, as a note says of one that is not.
template <class Form>
constexpr const char* kindOf() {
    if constexpr (std::is_same_v<Form, BoolForm>)
        return "true or false";
    else if constexpr (std::is_same_v<Form, DoubleForm>)
        return "a number";
    else if constexpr (std::is_same_v<Form, IntForm>)
        return "a whole number";
    else if constexpr (std::is_same_v<Form, StringForm> || std::is_same_v<Form, StyleForm>)
        return "a string";
    else if constexpr (std::is_same_v<Form, ColorForm>)
        return "a colour such as \"#1A2B3C\"";
    else if constexpr (std::is_same_v<Form, PaletteForm>)
        return "a list of strings";
    else if constexpr (isEnumForm<Form>)
        return "one of its names";
    else
        return "JSON data of its kind";
}

// A value as `decode` reads it. The records bound the numbers inside them, and note each under `key`
// ("cornerSettings.topRadius").
template <class Form>
constexpr bool isNotedRecord = std::is_same_v<Form, CornersForm> || std::is_same_v<Form, HueDriftForm> ||
                               std::is_same_v<Form, ColorZonesForm>;

template <class Form>
auto decodeNoted(Form form, const PlistValue& v, const std::string& key, LoadNotes& notes) {
    if constexpr (isNotedRecord<Form>) {
        LoadNotes inside;
        auto record = decode(form, v, &inside);
        for (auto& note : inside) notes.push_back({key + "." + note.key, std::move(note.text)});
        return record;
    } else {
        return decode(form, v);
    }
}

// ---- Load checks --------------------------------------------------------------------------------------
// Each takes a value and keeps it, bounds it or refuses it (nothing), saying what it made of it through
// `say`.

constexpr const char* usingDefault = "; using the default";

template <class T, class Say>
std::optional<T> checked(const NoCheck&, T value, Say&&) {
    return value;
}
// A number, whole numbers included.
template <class T, class Say>
std::optional<T> checked(const Bounds& bounds, T value, Say&& say) {
    std::string what;
    const auto kept = bounded(static_cast<double>(value), bounds, &what);
    if (!what.empty()) say(what);
    if (!kept) return std::nullopt;
    return static_cast<T>(*kept);
}
template <class Say>
std::optional<std::string> checked(const OneOf& set, std::string value, Say&& say) {
    if (set.accepts(value)) return value;
    say(std::string("is none of the values it may take") + usingDefault);
    return std::nullopt;
}
template <class Say>
std::optional<int> checked(const OneOfInts& set, int value, Say&& say) {
    if (set.accepts(value)) return value;
    say(std::string("is none of the values it may take") + usingDefault);
    return std::nullopt;
}
template <class Say>
std::optional<std::vector<std::string>> checked(const NormalisedPalette&,
                                                const std::vector<std::string>& value, Say&& say) {
    auto list = normalizedHexList(value);
    if (list.size() > 10) list.resize(10);
    if (list.size() >= 2) return list;
    say(std::string("holds fewer than two colours") + usingDefault);
    return std::nullopt;
}

// The check an overriding value goes through: a number's bounds (a profile's band a million points tall
// blacks out the screen as a stored one does); any other override is taken as it stands.
template <class Check>
NoCheck overridingCheck(const Check&) {
    return {};
}
inline Bounds overridingCheck(const Bounds& bounds) {
    return Bounds(bounds.lo, bounds.hi);  // bounded to the nearer end, whatever a stored value becomes
}

// The key a note about an app profile's overriding value goes under.
std::string profileNoteKey(const std::string& key) {
    return key + " (app profile)";
}

PlistValue lookup(const SettingOverrides& overrides, const std::string& key) {
    const auto it = overrides.find(key);
    return it != overrides.end() ? it->second : PlistValue();
}

// JSON data of the list of corner names the shortcut switched off; nothing when it does not decode.
std::optional<std::vector<std::string>> decodeNameList(const PlistValue& v) {
    if (!v.is_binary()) return std::nullopt;
    const auto json = settings_json::parse(v.get_binary());
    if (!json) return std::nullopt;
    return decode(PaletteForm{}, *json);
}

std::optional<Bytes> encodeNameList(const std::vector<std::string>& names) {
    const auto text = settings_json::encodeInOrder(settings_json::OrderedJson(names));
    if (!text) return std::nullopt;
    return settings_json::toBytes(*text);
}

// The corner shortcut's table: each corner's name and the enable flag it switches.
struct CornerSwitch {
    const char* name;
    bool CornerSettings::*enabled;
};
const std::array<CornerSwitch, 6>& cornerTable() {
    static const std::array<CornerSwitch, 6> table{{
        {"topLeft", &CornerSettings::topLeftEnabled},
        {"topRight", &CornerSettings::topRightEnabled},
        {"bottomLeft", &CornerSettings::bottomLeftEnabled},
        {"bottomRight", &CornerSettings::bottomRightEnabled},
        {"screenTopLeft", &CornerSettings::screenTopLeftEnabled},
        {"screenTopRight", &CornerSettings::screenTopRightEnabled},
    }};
    return table;
}

const char* autoSampleKey(MenuBarStyle style) {
    return style == MenuBarStyle::gradient ? fadeAutoSampleKey : settings_keys::autoSample.key;
}

// Writes a row's loaded value straight into the store when the table marks it for write-back.
template <WriteBack writeBack, class T>
void writeBackRow(DefaultsStore& defaults, const char* key, const Setting<T>& member) {
    if constexpr (writeBack == WriteBack::yes) defaults.set(key, storedForm(member()));
}

}  // namespace

// ---- Construction ----------------------------------------------------------------------------------------

OverlaySettings::OverlaySettings(DefaultsStore& defaults, MainLoop& mainLoop)
    : defaults_(defaults), mainLoop_(mainLoop) {
    installHandlers();
    migrateStoredKeys();
    resolveSilently({});
    writeBackResolvedSettings();
    // Another program's edit of the stored settings counts like a change made here: every member, the
    // overlay and the hot keys follow the store's new values (on the next turn, after the store is done).
    outsideChangesObserver_ = defaults_.outsideChanges().receiveOn(mainLoop_).sink(
        [this](const std::vector<std::string>& keys) { storeChangedOutside(keys); });
}

OverlaySettings::~OverlaySettings() = default;

void OverlaySettings::migrateStoredKeys() {
    progressEnabledByMigration_ = velaro::migrateStoredKeys(defaults_).progressEnabledByMigration;
}

void OverlaySettings::installHandlers() {
    auto willChange = [this] { objectWillChange_.send({}); };
#define VELARO_INSTALL_ROW(member, Type, form, key, def, check, scope, writeBack) \
    member.willChange_ = willChange;                                              \
    installHandler(member, form, key);
    VELARO_PERSISTED_SETTINGS(VELARO_INSTALL_ROW)
#undef VELARO_INSTALL_ROW
    shortcutRecordingActive.willChange_ = willChange;
    vizStatus.willChange_ = willChange;
    pillGeometryByScreen.willChange_ = willChange;
}

// ---- Loading ---------------------------------------------------------------------------------------------

void OverlaySettings::resolve(const SettingOverrides& overrides) {
    LoadNotes notes;
#define VELARO_RESOLVE_ROW(member, Type, form, key, def, check, scope, writeBack) \
    publishIfChanged(load(form, key, Type(def), check, Scope::scope, overrides, notes), member);
    VELARO_PERSISTED_SETTINGS(VELARO_RESOLVE_ROW)
#undef VELARO_RESOLVE_ROW
    sayLoadNotes(notes);
}

void OverlaySettings::sayLoadNotes(const LoadNotes& notes) {
    // Every resolve reads the store again (a profile in force, an outside edit): a key's note is said when it
    // first appears or says something new, not on every read.
    for (const auto& note : notes) {
        auto& said = saidLoadNotes_[note.key];
        if (said == note.text) continue;
        said = note.text;
        qCWarning(lcSettings) << tagged("DEFAULTS", note.key + ": " + note.text);
    }
}

void OverlaySettings::resolveSilently(const SettingOverrides& overrides) {
    isResolving_ = true;
    resolve(overrides);
    isResolving_ = false;
}

template <class T>
void OverlaySettings::publishIfChanged(T newValue, Setting<T>& member) {
    if (member.value() == newValue) return;
    member.set(std::move(newValue));
}

template <class Form, class T, class Check>
T OverlaySettings::load(Form form, const char* key, const T& fallback, const Check& check, Scope scope,
                        const SettingOverrides& overrides, LoadNotes& notes) const {
    // Notes what a check made of `value`, under `noteKey`.
    const auto say = [&notes](const std::string& noteKey, const PlistValue& value) {
        return [&notes, &noteKey, &value](const std::string& what) {
            notes.push_back({noteKey, shownValue(value) + " " + what});
        };
    };
    if (scope != Scope::globalOnlyStore) {
        // An override that does not decode is passed over without a word, as if it were not there.
        const PlistValue overriding = lookup(overrides, key);
        const std::string noteKey = profileNoteKey(key);
        LoadNotes inside;
        if (auto v = decodeNoted(form, overriding, noteKey, inside)) {
            notes.insert(notes.end(), inside.begin(), inside.end());
            // One refused (not a number) is passed over too.
            if (auto kept = checked(overridingCheck(check), std::move(*v), say(noteKey, overriding)))
                return std::move(*kept);
        }
    }
    const PlistValue stored = defaults_.object(key);
    if (stored.is_null()) return fallback;
    const std::size_t noted = notes.size();
    auto v = decodeNoted(form, stored, key, notes);
    if (!v) {
        if (notes.size() == noted) noteUnreadable(key, stored, kindOf<Form>(), notes);
        return fallback;
    }
    return checked(check, std::move(*v), say(key, stored)).value_or(fallback);
}

void OverlaySettings::noteUnreadable(const std::string& key, const PlistValue& stored, const char* kind,
                                     LoadNotes& notes) {
    if (!stored.is_null())
        notes.push_back({key, shownValue(stored) + " is not " + kind + "; using the default"});
}

bool OverlaySettings::load(AutoSampleForm, const char*, const bool&, const NoCheck&, Scope,
                           const SettingOverrides& overrides, LoadNotes&) const {
    return storedAutoSample(style(), overrides);
}

OverlayColorZones OverlaySettings::load(ColorZonesForm, const char* key, const OverlayColorZones&,
                                        const NoCheck&, Scope, const SettingOverrides& overrides,
                                        LoadNotes& notes) const {
    const ColorZonesForm form;
    if (auto zones = decodeNoted(form, lookup(overrides, key), profileNoteKey(key), notes)) return *zones;
    const PlistValue stored = defaults_.object(key);
    if (auto zones = decodeNoted(form, stored, key, notes)) return *zones;
    noteUnreadable(key, stored, kindOf<ColorZonesForm>(), notes);
    // Not normalised: the colour just loaded is already a valid stop.
    OverlayColorZones zones;
    zones.stops = {hexString(manualColor())};
    return zones;
}

BottomCornerZ OverlaySettings::load(BottomCornerZForm form, const char* key, const BottomCornerZ&,
                                    const NoCheck&, Scope, const SettingOverrides& overrides,
                                    LoadNotes&) const {
    return readBottomCornerZ(key, form.legacyKey, overrides);
}

CornerSettings OverlaySettings::loadStoredCornerSettings() const {
    return decode(CornersForm{}, defaults_.object(settings_keys::corners.key))
        .value_or(settings_keys::corners.defaultValue);
}

BottomCornerZ OverlaySettings::readBottomCornerZ(const std::string& key, const std::string& legacyKey,
                                                 const SettingOverrides& overrides) const {
    const auto fromLegacy = [](const PlistValue& v) -> std::optional<BottomCornerZ> {
        if (!v.is_boolean()) return std::nullopt;
        return v.get<bool>() ? BottomCornerZ::wallpaper : BottomCornerZ::above;
    };
    const EnumForm<BottomCornerZ> form;
    if (auto z = decode(form, lookup(overrides, key))) return *z;
    if (auto z = fromLegacy(lookup(overrides, legacyKey))) return *z;
    if (auto z = decode(form, defaults_.object(key))) return *z;
    if (auto z = fromLegacy(defaults_.object(legacyKey))) return *z;
    return BottomCornerZ::wallpaper;
}

void OverlaySettings::writeBackResolvedSettings() {
#define VELARO_WRITE_BACK_ROW(member, Type, form, key, def, check, scope, writeBack) \
    writeBackRow<WriteBack::writeBack>(defaults_, key, member);
    VELARO_PERSISTED_SETTINGS(VELARO_WRITE_BACK_ROW)
#undef VELARO_WRITE_BACK_ROW
}

// ---- Persisting ------------------------------------------------------------------------------------------

ProfileManager* OverlaySettings::manager() const {
    return profileManagerAlive_.alive() ? profileManager_ : nullptr;
}

void OverlaySettings::persist(const PlistValue& value, const std::string& key) {
    if (isResolving_) return;
    auto* profiles = manager();
    const auto scope = profiles ? profiles->selectedScope.value() : ProfileScope::global();
    if (!scope.isGlobal() && editingActive() && !globalOnlyKeys().contains(key)) {
        if (profiles->hasProfile(*scope.appId())) {
            profiles->setOverride(value.is_null() ? std::nullopt : std::optional<PlistValue>(value), key,
                                  *scope.appId());
            if (value.is_null())
                lastAppliedOverrides_.erase(key);
            else
                lastAppliedOverrides_[key] = value;
            return;
        }
    }
    if (value.is_null())
        defaults_.remove(key);
    else
        defaults_.set(key, value);
    lastAppliedOverrides_.erase(key);
}

template <class T, class Form>
void OverlaySettings::installHandler(Setting<T>& member, Form, const char* key) {
    member.handler_ = [this, &member, key](const T&) {
        if constexpr (requires { storedForm(member.value()); }) {
            persist(storedForm(member.value()), key);
        } else {
            // Enumerations stored as their strings, on every assignment.
            persist(std::string(toString(member.value())), key);
        }
    };
}

void OverlaySettings::installHandler(Setting<MenuBarStyle>& member, StyleForm, const char*) {
    member.handler_ = [this](const MenuBarStyle& old) { styleChanged(old); };
}

void OverlaySettings::installHandler(Setting<bool>& member, AutoSampleForm, const char*) {
    member.handler_ = [this](const bool&) {
        if (!isRestoringAutoSample_) persist(autoSample(), autoSampleKey(style()));
    };
}

void OverlaySettings::installHandler(Setting<OverlayColorZones>& member, ColorZonesForm, const char*) {
    member.handler_ = [this](const OverlayColorZones& old) { overlayColorZonesChanged(old); };
}

void OverlaySettings::installHandler(Setting<OverlayHueDrift>& member, HueDriftForm, const char* key) {
    member.handler_ = [this, key](const OverlayHueDrift& old) {
        if (hueDrift() == old) return;
        if (auto data = encodeSortedKeys(hueDrift())) persist(plistData(std::move(*data)), key);
    };
}

void OverlaySettings::installHandler(Setting<ShortcutSettings>& member, ShortcutsForm, const char* key) {
    member.handler_ = [this, key](const ShortcutSettings& old) {
        if (appShortcuts().assignments == old.assignments) return;
        if (auto data = encodeSortedKeys(appShortcuts())) persist(plistData(std::move(*data)), key);
    };
}

void OverlaySettings::installHandler(Setting<CornerSettings>& member, CornersForm, const char* key) {
    member.handler_ = [this, key](const CornerSettings&) {
        if (auto data = encodeCornerSettings(corners())) persist(plistData(std::move(*data)), key);
    };
}

void OverlaySettings::styleChanged(MenuBarStyle old) {
    persist(std::string(toString(style())), settings_keys::style.key);
    if (isResolving_ || style() == old) return;
    const bool stored = storedAutoSample(style(), lastAppliedOverrides_);
    if (stored == autoSample()) return;
    isRestoringAutoSample_ = true;
    autoSample = stored;
    isRestoringAutoSample_ = false;
}

void OverlaySettings::overlayColorZonesChanged(const OverlayColorZones& old) {
    if (overlayColorZones() == old) return;
    if (auto data = encodeSortedKeys(overlayColorZones()))
        persist(plistData(std::move(*data)), settings_keys::overlayColorZones.key);
}

void OverlaySettings::setBoolAndPersist(bool value, Setting<bool>& member, const std::string& key) {
    member.publish(value);
    persist(member(), key);
}

void OverlaySettings::setDoubleAndPersist(double value, Setting<double>& member, const std::string& key) {
    member.publish(value);
    persist(member(), key);
}

void OverlaySettings::setIntAndPersist(int value, Setting<int>& member, const std::string& key) {
    member.publish(value);
    persist(member(), key);
}

void OverlaySettings::setStringAndPersist(std::string value, Setting<std::string>& member,
                                          const std::string& key) {
    member.publish(std::move(value));
    persist(member(), key);
}

void OverlaySettings::setColorAndPersist(Color value, Setting<Color>& member, const std::string& key) {
    member.publish(value);
    persist(hexString(member()), key);
}

// ---- Profiles and the app in force -----------------------------------------------------------------------

void OverlaySettings::attachProfileManager(ProfileManager& manager) {
    profileManager_ = &manager;
    profileManagerAlive_ = manager.lifetime();
    // Profiles made before colour zones existed kept a single manual colour; give them the matching zones.
    // A copy: each new override replaces the manager's list.
    const auto profiles = manager.profiles().value();
    for (const auto& profile : profiles) {
        const auto it = profile.overrides.find(settings_keys::manualColor.key);
        if (it == profile.overrides.end() || !it->second.is_string()) continue;
        if (manager.overrideValue(settings_keys::overlayColorZones.key, profile.appId)) continue;
        auto data = encodeSortedKeys(OverlayColorZones({it->second.get<std::string>()}, false, false, 1.0));
        if (!data) continue;
        manager.setOverride(plistData(std::move(*data)), settings_keys::overlayColorZones.key, profile.appId);
    }
    observeProfileScope(manager);
}

void OverlaySettings::observeProfileScope(ProfileManager& manager) {
    // The subscription lives in this object and ends with it, so the handler never outlives `this`.
    scopeObserver_ = manager.selectedScope.changes().removeDuplicates().receiveOn(mainLoop_).sink(
        [this](const ProfileScope&) { reapplyProfileOverrides(); });
}

void OverlaySettings::setRuntimeAppId(const std::optional<std::string>& appId) {
    if (appId == std::optional<std::string>(ownAppId)) return;
    runtimeAppId_ = appId;
    if (!editingActive()) reapplyProfileOverrides();
}

void OverlaySettings::setRuntimeFilledOwner(const std::optional<std::string>& appId) {
    runtimeFilledOwner_ = appId;
    if (!editingActive()) reapplyProfileOverrides();
}

SettingOverrides OverlaySettings::overridesInForce() const {
    SettingOverrides overrides;
    auto* profiles = manager();
    if (editingActive()) {
        if (profiles && !profiles->selectedScope.value().isGlobal())
            overrides = profiles->overrides(*profiles->selectedScope.value().appId());
    } else {
        const auto& app = runtimeFilledOwner_ ? runtimeFilledOwner_ : runtimeAppId_;
        if (app && profiles && profiles->hasProfile(*app)) overrides = profiles->overrides(*app);
    }
    return overrides;
}

void OverlaySettings::reapplyProfileOverrides() {
    auto overrides = overridesInForce();
    if (overrides == lastAppliedOverrides_) return;
    resolveSilently(overrides);
    lastAppliedOverrides_ = std::move(overrides);
}

void OverlaySettings::storeChangedOutside(const std::vector<std::string>& keys) {
    const bool profilesChanged = std::any_of(keys.begin(), keys.end(), [](const std::string& key) {
        return key.rfind(ProfileManager::keyPrefix, 0) == 0;
    });
    if (auto* profiles = manager(); profiles && profilesChanged) profiles->reloadStoredProfiles();
    // Every member is resolved again, not only those of the changed keys: the stored values are read
    // with their fallbacks and checks, exactly as at start-up.
    auto overrides = overridesInForce();
    resolveSilently(overrides);
    lastAppliedOverrides_ = std::move(overrides);
}

// ---- Shortcut toggles ------------------------------------------------------------------------------------

bool OverlaySettings::toggleStoredBool(const std::string& key, bool defaultValue) {
    const bool next = !defaults_.boolValue(key).value_or(defaultValue);
    defaults_.set(key, next);
    resolveSilently(lastAppliedOverrides_);
    return next;
}

void OverlaySettings::toggleCornersFromShortcut() {
    auto record = loadStoredCornerSettings();
    std::vector<std::string> wereOn;
    for (const auto& corner : cornerTable())
        if (record.*corner.enabled) wereOn.emplace_back(corner.name);

    std::optional<Bytes> memory;
    if (!wereOn.empty()) {
        memory = encodeNameList(wereOn);
        for (const auto& corner : cornerTable()) record.*corner.enabled = false;
    } else {
        const auto remembered =
            decodeNameList(defaults_.object(cornersShortcutMemoryKey)).value_or(std::vector<std::string>{});
        bool anyKnown = false;
        for (const auto& corner : cornerTable()) {
            const bool on = std::find(remembered.begin(), remembered.end(), corner.name) != remembered.end();
            record.*corner.enabled = on;
            anyKnown = anyKnown || on;
        }
        if (!anyKnown)
            for (const auto& corner : cornerTable()) record.*corner.enabled = true;
    }

    auto data = encodeCornerSettings(record);
    if (!data) return;
    if (memory) defaults_.set(cornersShortcutMemoryKey, plistData(std::move(*memory)));
    defaults_.set(settings_keys::corners.key, plistData(std::move(*data)));
    resolveSilently(lastAppliedOverrides_);
}

// ---- Colour helpers and derived queries ------------------------------------------------------------------

std::vector<std::string> OverlaySettings::normalizedHexList(const std::vector<std::string>& list) {
    return velaro::normalizedHexList(list);
}

bool OverlaySettings::storedAutoSample(MenuBarStyle forStyle, const SettingOverrides& overrides) const {
    const char* key = autoSampleKey(forStyle);
    if (auto v = decode(BoolForm{}, lookup(overrides, key))) return *v;
    if (auto v = defaults_.boolValue(key)) return *v;
    return forStyle == MenuBarStyle::gradient;
}

void OverlaySettings::setMulticolorEnabled(bool on) {
    const auto old = overlayColorZones();
    auto next = old;
    if (on && old.stops.size() < 2 && !defaults_.boolForKey(multicolorSeededKey)) {
        defaults_.set(multicolorSeededKey, true);
        next.stops = {"#FF0027", "#FF6618", "#904CFF", "#00BAFF", "#00D269"};
        next.blend = true;
        next.multicolorEnabled = true;
    } else {
        next.multicolorEnabled = on;
    }
    // The assignment runs the zones' handler, which stores the value when it changed.
    overlayColorZones = std::move(next);
}

bool OverlaySettings::blurActive() const {
    return blurEnabled() || (keepOverlayAlwaysOn() && emptyDesktopMode() == EmptyDesktopMode::blur);
}

bool OverlaySettings::needsScreenCapture() const {
    if (overlayEnabled()) {
        const auto& c = corners();
        if (autoSample() || style() == MenuBarStyle::live || blurActive() || lightReflectionsEnabled() ||
            c.topLeftColorMode == TopColorMode::followOverlay ||
            c.topRightColorMode == TopColorMode::followOverlay)
            return true;
    }
    return vizEnabled() || progressEnabled();
}

bool OverlaySettings::usesUnifiedRenderer() const {
    if (corners().shapeMode == ShapeMode::pill) return true;
    return !blurEnabled() && !manualSeparateCorners();
}

bool OverlaySettings::isHueDriftEffective() const {
    return hueDrift().enabled && style() == MenuBarStyle::solid && !autoSample() &&
           !overlayColorZones().multicolorEnabled;
}

bool OverlaySettings::isUniformHueDriftEffective() const {
    return isHueDriftEffective() && hueDrift().variant == OverlayHueDrift::Variant::uniform;
}

Color OverlaySettings::effectiveColor(const Color& sampled) const {
    return isSamplingActive() ? sampled : manualColor();
}

bool OverlaySettings::isSamplingActive() const {
    return style() == MenuBarStyle::live || autoSample();
}

BottomCornerZ OverlaySettings::zOrder(ScreenCorner corner) const {
    switch (corner) {
        case ScreenCorner::bottomLeft:
            return cornerBottomLeftZ();
        case ScreenCorner::bottomRight:
            return cornerBottomRightZ();
        case ScreenCorner::screenTopLeft:
            return cornerScreenTopLeftZ();
        case ScreenCorner::screenTopRight:
            return cornerScreenTopRightZ();
        case ScreenCorner::topLeft:
        case ScreenCorner::topRight:
            break;
    }
    return BottomCornerZ::above;
}

bool OverlaySettings::isCornerAtWallpaperLevel(ScreenCorner corner) const {
    return zOrder(corner) == BottomCornerZ::wallpaper;
}

std::vector<Color> OverlaySettings::colorZoneColors() const {
    std::vector<Color> out;
    for (const auto& stop : overlayColorZones().stops)
        if (auto c = colorFromHex(stop)) out.push_back(*c);
    return out;
}

}  // namespace velaro
