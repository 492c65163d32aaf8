// Lookups derived from the settings key table.
#include "settings/SettingsKeys.h"

#include <map>

namespace velaro {

const std::vector<std::string>& vizDefaultPalette() {
    static const std::vector<std::string> palette{"#FF6F62", "#FF699C", "#E97EF5", "#FF874A",
                                                  "#FBDC7A", "#5967FF", "#7D8FFF", "#85E7FF"};
    return palette;
}

MenuBarStyle menuBarStyleFromLegacyName(std::string_view name) {
    if (name == "live" || name == "liquidGlass" || name == "Liquid Glass" || name == "liveSampling" ||
        name == "Live Sampling")
        return MenuBarStyle::live;
    return name == "gradient" ? MenuBarStyle::gradient : MenuBarStyle::solid;
}

}  // namespace velaro

namespace velaro::settings_keys {

namespace {

template <class T>
concept PlainStored = requires(const T& v) {
    storedForm(v);
};

template <class T, class D>
PlistValue plainDefault(const D& def) {
    if constexpr (PlainStored<T>) {
        return storedForm(T(def));
    } else {
        return nullptr;
    }
}

}  // namespace

const std::set<std::string, std::less<>>& globalOnlyKeys() {
    static const auto keys = [] {
        std::set<std::string, std::less<>> out{cornersShortcutMemoryKey};
#define VELARO_GLOBAL_ONLY_ROW(member, Type, form, key, def, check, scope, writeBack) \
    if (Scope::scope != Scope::profile) out.insert(key);
        VELARO_PERSISTED_SETTINGS(VELARO_GLOBAL_ONLY_ROW)
#undef VELARO_GLOBAL_ONLY_ROW
        return out;
    }();
    return keys;
}

PlistValue storedDefault(std::string_view key) {
    static const auto defaults = [] {
        std::map<std::string, PlistValue, std::less<>> out;
#define VELARO_DEFAULT_ROW(member, Type, form, key, def, check, scope, writeBack) \
    out.emplace(key, plainDefault<Type>(def));
        VELARO_PERSISTED_SETTINGS(VELARO_DEFAULT_ROW)
#undef VELARO_DEFAULT_ROW
        return out;
    }();
    const auto it = defaults.find(key);
    return it != defaults.end() ? it->second : PlistValue();
}

const std::vector<std::string_view>& allKeys() {
    static const std::vector<std::string_view> keys{
#define VELARO_KEY_ROW(member, Type, form, key, def, check, scope, writeBack) key,
        VELARO_PERSISTED_SETTINGS(VELARO_KEY_ROW)
#undef VELARO_KEY_ROW
    };
    return keys;
}

}  // namespace velaro::settings_keys
