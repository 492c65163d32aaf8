// Per-app profiles: loading malformed stored lists, the add limit, override storage and the scope reset.
#include "settings/ProfileManager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/FakeDefaultsStore.h"

namespace velaro {
namespace {

using test::FakeDefaultsStore;

std::vector<std::string> ids(const ProfileManager& manager) {
    std::vector<std::string> out;
    for (const auto& p : manager.profiles().value()) out.push_back(p.appId);
    return out;
}

TEST(ProfileManagerLoad, EmptyStoreStartsWithNoProfilesAtGlobalScope) {
    FakeDefaultsStore store;
    ProfileManager manager(store);
    EXPECT_TRUE(manager.profiles().value().empty());
    EXPECT_EQ(manager.selectedScope.value(), ProfileScope::global());
    EXPECT_TRUE(store.writes().empty());
}

TEST(ProfileManagerLoad, NamesFallBackToIdentifiersAllOrNothing) {
    FakeDefaultsStore store;
    store.seed(ProfileManager::appIdsKey, {"com.a", "com.b"});
    store.seed(ProfileManager::namesKey, {{"com.a", "Alpha"}});
    store.seed(ProfileManager::overrideKey("com.b"), {{"overlayOpacity", 0.5}});
    ProfileManager manager(store);
    const auto& list = manager.profiles().value();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].displayName, "Alpha");
    EXPECT_EQ(list[1].displayName, "com.b");
    EXPECT_EQ(manager.overrideValue("overlayOpacity", "com.b"), PlistValue(0.5));

    // One value that is not a string discards the whole names map.
    store.seed(ProfileManager::namesKey, {{"com.a", "Alpha"}, {"com.b", 7}});
    ProfileManager again(store);
    EXPECT_EQ(again.profiles().value()[0].displayName, "com.a");
    EXPECT_EQ(again.profiles().value()[1].displayName, "com.b");
}

TEST(ProfileManagerLoad, MalformedStoredValuesLoadAsEmpty) {
    FakeDefaultsStore store;
    store.seed(ProfileManager::appIdsKey, {"com.a", 3});
    EXPECT_TRUE(ProfileManager(store).profiles().value().empty());

    store.seed(ProfileManager::appIdsKey, {"com.a"});
    store.seed(ProfileManager::overrideKey("com.a"), "not a dictionary");
    ProfileManager manager(store);
    ASSERT_EQ(ids(manager), std::vector<std::string>{"com.a"});
    EXPECT_TRUE(manager.overrides("com.a").empty());
}

TEST(ProfileManagerLoad, StoredListBeyondTheLimitLoadsWhole) {
    FakeDefaultsStore store;
    auto stored = PlistValue::array();
    for (int i = 0; i < 25; ++i) stored.push_back("com.app" + std::to_string(i));
    store.seed(ProfileManager::appIdsKey, stored);
    EXPECT_EQ(ProfileManager(store).profiles().value().size(), 25u);
}

// A repeated identifier used to load twice; removing one then deleted the override key the other still
// listed, losing its overrides.
TEST(ProfileManagerLoad, LaterDuplicateIdentifiersAreDropped) {
    FakeDefaultsStore store;
    store.seed(ProfileManager::appIdsKey, {"com.a", "com.b", "com.a"});
    store.seed(ProfileManager::overrideKey("com.a"), {{"overlayOpacity", 0.25}});
    ProfileManager manager(store);
    EXPECT_EQ(ids(manager), (std::vector<std::string>{"com.a", "com.b"}));

    manager.removeProfile("com.a");
    EXPECT_FALSE(manager.hasProfile("com.a"));
    EXPECT_FALSE(store.hasStoredValue(ProfileManager::overrideKey("com.a")));
    EXPECT_EQ(store.object(ProfileManager::appIdsKey), PlistValue({"com.b"}));
}

TEST(ProfileManagerAdd, AppendsAndSavesListsWithoutAnOverrideKey) {
    FakeDefaultsStore store;
    ProfileManager manager(store);
    int published = 0;
    auto sub = manager.profiles().changes().sink([&](const auto&) { ++published; });
    manager.addProfile("com.a", "Alpha");
    EXPECT_EQ(published, 1);
    EXPECT_EQ(store.object(ProfileManager::appIdsKey), PlistValue({"com.a"}));
    EXPECT_EQ(store.object(ProfileManager::namesKey), PlistValue({{"com.a", "Alpha"}}));
    EXPECT_FALSE(store.hasStoredValue(ProfileManager::overrideKey("com.a")));
    EXPECT_EQ(manager.selectedScope.value(), ProfileScope::global());

    store.clearWrites();
    manager.addProfile("com.a", "Other name");
    EXPECT_EQ(published, 1);
    EXPECT_TRUE(store.writes().empty());
    EXPECT_EQ(manager.profiles().value()[0].displayName, "Alpha");
}

TEST(ProfileManagerAdd, RefusesTheTwentyFirstProfile) {
    FakeDefaultsStore store;
    ProfileManager manager(store);
    for (int i = 0; i < 21; ++i) manager.addProfile("com.app" + std::to_string(i), "App");
    EXPECT_EQ(manager.profiles().value().size(), 20u);
    EXPECT_FALSE(manager.hasProfile("com.app20"));
    EXPECT_EQ(store.object(ProfileManager::appIdsKey).size(), 20u);
    EXPECT_EQ(store.object(ProfileManager::namesKey).size(), 20u);
}

TEST(ProfileManagerOverrides, SetReplaceAndRemoveTheLastDeletesTheKey) {
    FakeDefaultsStore store;
    ProfileManager manager(store);
    manager.addProfile("com.a", "Alpha");
    const auto key = ProfileManager::overrideKey("com.a");

    manager.setOverride(PlistValue(0.5), "overlayOpacity", "com.a");
    EXPECT_EQ(store.object(key), PlistValue({{"overlayOpacity", 0.5}}));
    manager.setOverride(PlistValue(0.75), "overlayOpacity", "com.a");
    EXPECT_EQ(manager.overrideValue("overlayOpacity", "com.a"), PlistValue(0.75));
    manager.setOverride(PlistValue(true), "blurEnabled", "com.a");

    manager.removeOverride("overlayOpacity", "com.a");
    EXPECT_EQ(store.object(key), PlistValue({{"blurEnabled", true}}));
    // An absent value removes, exactly like removeOverride.
    manager.setOverride(std::nullopt, "blurEnabled", "com.a");
    EXPECT_FALSE(store.hasStoredValue(key));
    EXPECT_TRUE(manager.overrides("com.a").empty());
}

TEST(ProfileManagerOverrides, UnknownAppStoresNothing) {
    FakeDefaultsStore store;
    ProfileManager manager(store);
    manager.setOverride(PlistValue(0.5), "overlayOpacity", "com.none");
    manager.removeOverride("overlayOpacity", "com.none");
    manager.resetAllOverrides("com.none");
    manager.removeProfile("com.none");
    EXPECT_TRUE(store.writes().empty());
    EXPECT_EQ(manager.overrideValue("overlayOpacity", "com.none"), std::nullopt);
    EXPECT_TRUE(manager.overrides("com.none").empty());
}

TEST(ProfileManagerOverrides, ResetEmptiesOnceAndIsSilentWhenAlreadyEmpty) {
    FakeDefaultsStore store;
    ProfileManager manager(store);
    manager.addProfile("com.a", "Alpha");
    int published = 0;
    auto sub = manager.profiles().changes().sink([&](const auto&) { ++published; });
    store.clearWrites();
    manager.resetAllOverrides("com.a");
    EXPECT_EQ(published, 0);
    EXPECT_TRUE(store.writes().empty());

    manager.setOverride(PlistValue(1), "vizWavePeaks", "com.a");
    published = 0;
    manager.resetAllOverrides("com.a");
    EXPECT_EQ(published, 1);
    EXPECT_FALSE(store.hasStoredValue(ProfileManager::overrideKey("com.a")));
    EXPECT_TRUE(manager.hasProfile("com.a"));
}

TEST(ProfileManagerRemove, ResetsOnlyTheScopeThatPointedAtIt) {
    FakeDefaultsStore store;
    ProfileManager manager(store);
    manager.addProfile("com.a", "Alpha");
    manager.addProfile("com.b", "Beta");
    manager.setOverride(PlistValue(0.5), "overlayOpacity", "com.b");
    manager.selectedScope = ProfileScope::app("com.a");

    manager.removeProfile("com.b");
    EXPECT_EQ(manager.selectedScope.value(), ProfileScope::app("com.a"));
    EXPECT_FALSE(store.hasStoredValue(ProfileManager::overrideKey("com.b")));
    EXPECT_EQ(store.object(ProfileManager::namesKey), PlistValue({{"com.a", "Alpha"}}));

    manager.removeProfile("com.a");
    EXPECT_EQ(manager.selectedScope.value(), ProfileScope::global());
    EXPECT_EQ(store.object(ProfileManager::appIdsKey), PlistValue::array());
}

}  // namespace
}  // namespace velaro
