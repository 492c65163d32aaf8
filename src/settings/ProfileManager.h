// Per-app profiles: sets of setting overrides keyed by app id, and the scope the settings window
// edits.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Lifetime.h"
#include "base/Published.h"
#include "platform/DefaultsStore.h"

namespace velaro {

// A profile's overrides: setting key to the stored value that replaces the global one.
using SettingOverrides = std::map<std::string, PlistValue>;

// What the settings window edits: the global settings, or one app's profile.
class ProfileScope {
public:
    static ProfileScope global() { return ProfileScope(std::nullopt); }
    static ProfileScope app(std::string appId) { return ProfileScope(std::move(appId)); }

    bool isGlobal() const { return !appId_.has_value(); }
    // The app's app id; absent for the global scope.
    const std::optional<std::string>& appId() const { return appId_; }

    friend bool operator==(const ProfileScope&, const ProfileScope&) = default;

private:
    explicit ProfileScope(std::optional<std::string> id) : appId_(std::move(id)) {}
    std::optional<std::string> appId_;
};

class ProfileManager {
public:
    struct AppProfile {
        std::string appId;
        std::string displayName;
        SettingOverrides overrides;
        friend bool operator==(const AppProfile&, const AppProfile&) = default;
    };

    // The most profiles `addProfile` lets the list grow to.
    static constexpr std::size_t maxProfiles = 20;

    // Every key the profiles are stored under starts with this.
    static constexpr const char* keyPrefix = "profiles.";
    static constexpr const char* appIdsKey = "profiles.bundleIDs";
    static constexpr const char* namesKey = "profiles.names";
    static std::string overrideKey(const std::string& appId) { return "profiles.override." + appId; }

    // Loads the stored profiles; every launch starts at the global scope.
    explicit ProfileManager(DefaultsStore& defaults);
    // Reads the stored profiles again after another program changed them; publishes only when they differ.
    // A selected app whose profile is gone leaves the scope at global.
    void reloadStoredProfiles();
    ProfileManager(const ProfileManager&) = delete;
    ProfileManager& operator=(const ProfileManager&) = delete;

    // Published: observers are told before each change. Change them only through the operations below.
    const Published<std::vector<AppProfile>>& profiles() const { return profiles_; }
    Published<ProfileScope> selectedScope{ProfileScope::global()};

    bool hasProfile(const std::string& appId) const { return find(appId) != nullptr; }
    // That app's overrides; empty when it has no profile.
    SettingOverrides overrides(const std::string& appId) const;
    std::optional<PlistValue> overrideValue(const std::string& key, const std::string& appId) const;

    // Stores one override (an absent value removes it) and persists the profile's overrides.
    void setOverride(const std::optional<PlistValue>& value, const std::string& key,
                     const std::string& appId);
    void removeOverride(const std::string& key, const std::string& appId);
    // Appends a profile with no overrides, unless the identifier is taken or the list is full.
    void addProfile(const std::string& appId, const std::string& displayName);
    // Removes the profile and its stored overrides; a scope that pointed at it returns to global.
    void removeProfile(const std::string& appId);
    void resetAllOverrides(const std::string& appId);

    // Expires when the manager is destroyed, so holders of a plain pointer can tell it is gone.
    Lifetime::Token lifetime() const { return lifetime_.token(); }

private:
    std::vector<AppProfile> loadStoredProfiles() const;
    const AppProfile* find(const std::string& appId) const;
    // Index of the first profile with that identifier.
    std::optional<std::size_t> indexOf(const std::string& appId) const;
    void saveList();
    void persistOverrides(const std::string& appId);

    DefaultsStore& defaults_;
    Published<std::vector<AppProfile>> profiles_;
    Lifetime lifetime_;
};

}  // namespace velaro
