// Loading, editing and storing the per-app profiles.
#include "settings/ProfileManager.h"

#include <set>

namespace velaro {

namespace {

// A stored dictionary as an override map; anything that is not a dictionary is no overrides.
SettingOverrides overridesFrom(const std::optional<PlistValue>& dictionary) {
    SettingOverrides out;
    if (!dictionary) return out;
    for (const auto& [key, value] : dictionary->items()) out.emplace(key, value);
    return out;
}

// The names map, all or nothing: one value that is not a string empties it, as an unreadable map would.
std::map<std::string, std::string> namesFrom(const std::optional<PlistValue>& dictionary) {
    std::map<std::string, std::string> out;
    if (!dictionary) return out;
    for (const auto& [key, value] : dictionary->items()) {
        if (!value.is_string()) return {};
        out.emplace(key, value.get<std::string>());
    }
    return out;
}

}  // namespace

ProfileManager::ProfileManager(DefaultsStore& defaults) : defaults_(defaults) {
    profiles_ = loadStoredProfiles();
}

void ProfileManager::reloadStoredProfiles() {
    auto stored = loadStoredProfiles();
    if (stored != profiles_.value()) profiles_ = std::move(stored);
    const auto& scope = selectedScope.value();
    if (!scope.isGlobal() && !hasProfile(*scope.appId())) selectedScope = ProfileScope::global();
}

std::vector<ProfileManager::AppProfile> ProfileManager::loadStoredProfiles() const {
    const auto ids = defaults_.stringArrayValue(appIdsKey).value_or(std::vector<std::string>{});
    const auto names = namesFrom(defaults_.dictionaryValue(namesKey));
    std::vector<AppProfile> loaded;
    std::set<std::string> seen;
    for (const auto& id : ids) {
        // A repeated identifier would share one override key with the first: removing either would delete
        // the overrides the other still lists. Only the first one counts.
        if (!seen.insert(id).second) continue;
        const auto name = names.find(id);
        loaded.push_back({id, name != names.end() ? name->second : id,
                          overridesFrom(defaults_.dictionaryValue(overrideKey(id)))});
    }
    return loaded;
}

const ProfileManager::AppProfile* ProfileManager::find(const std::string& appId) const {
    const auto index = indexOf(appId);
    return index ? &profiles_.value()[*index] : nullptr;
}

std::optional<std::size_t> ProfileManager::indexOf(const std::string& appId) const {
    const auto& list = profiles_.value();
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].appId == appId) return i;
    return std::nullopt;
}

SettingOverrides ProfileManager::overrides(const std::string& appId) const {
    const auto* profile = find(appId);
    return profile ? profile->overrides : SettingOverrides{};
}

std::optional<PlistValue> ProfileManager::overrideValue(const std::string& key,
                                                        const std::string& appId) const {
    const auto* profile = find(appId);
    if (!profile) return std::nullopt;
    const auto it = profile->overrides.find(key);
    if (it == profile->overrides.end()) return std::nullopt;
    return it->second;
}

void ProfileManager::setOverride(const std::optional<PlistValue>& value, const std::string& key,
                                 const std::string& appId) {
    if (!value || value->is_null()) {
        removeOverride(key, appId);
        return;
    }
    const auto index = indexOf(appId);
    if (!index) return;
    auto list = profiles_.value();
    list[*index].overrides[key] = *value;
    profiles_ = std::move(list);
    persistOverrides(appId);
}

void ProfileManager::removeOverride(const std::string& key, const std::string& appId) {
    const auto index = indexOf(appId);
    if (!index) return;
    auto list = profiles_.value();
    list[*index].overrides.erase(key);
    profiles_ = std::move(list);
    persistOverrides(appId);
}

void ProfileManager::addProfile(const std::string& appId, const std::string& displayName) {
    if (hasProfile(appId)) return;
    if (profiles_.value().size() >= maxProfiles) return;
    auto list = profiles_.value();
    list.push_back({appId, displayName, {}});
    profiles_ = std::move(list);
    saveList();
}

void ProfileManager::removeProfile(const std::string& appId) {
    const auto index = indexOf(appId);
    if (!index) return;
    auto list = profiles_.value();
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(*index));
    profiles_ = std::move(list);
    defaults_.remove(overrideKey(appId));
    saveList();
    if (selectedScope.value() == ProfileScope::app(appId)) selectedScope = ProfileScope::global();
}

void ProfileManager::resetAllOverrides(const std::string& appId) {
    const auto index = indexOf(appId);
    if (!index || profiles_.value()[*index].overrides.empty()) return;
    auto list = profiles_.value();
    list[*index].overrides.clear();
    profiles_ = std::move(list);
    persistOverrides(appId);
}

void ProfileManager::saveList() {
    auto ids = PlistValue::array();
    auto names = PlistValue::object();
    for (const auto& profile : profiles_.value()) {
        ids.push_back(profile.appId);
        names[profile.appId] = profile.displayName;
    }
    defaults_.set(appIdsKey, std::move(ids));
    defaults_.set(namesKey, std::move(names));
}

void ProfileManager::persistOverrides(const std::string& appId) {
    const auto map = overrides(appId);
    if (map.empty()) {
        defaults_.remove(overrideKey(appId));
        return;
    }
    auto dictionary = PlistValue::object();
    for (const auto& [key, value] : map) dictionary[key] = value;
    defaults_.set(overrideKey(appId), std::move(dictionary));
}

}  // namespace velaro
