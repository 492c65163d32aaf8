// Typed reads and registered fallbacks, which every defaults store shares (driven through the fake).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "support/FakeDefaultsStore.h"

namespace velaro::test {
namespace {

TEST(DefaultsStoreTypedReads, AValueOfAnotherKindReadsAsAbsent) {
    FakeDefaultsStore store(PlistValue{{"flag", true},
                                       {"one", 1},
                                       {"half", 2.9},
                                       {"text", "true"},
                                       {"list", {"a", "b"}},
                                       {"mixed", {"a", 1}},
                                       {"dict", {{"k", 1}}},
                                       {"blob", plistData({1, 2, 3})}});
    // Bool reads take booleans only: a number 1 or the text "true" is no Bool.
    EXPECT_EQ(store.boolValue("flag"), true);
    EXPECT_EQ(store.boolValue("one"), std::nullopt);
    EXPECT_EQ(store.boolValue("text"), std::nullopt);
    EXPECT_EQ(store.boolValue("missing"), std::nullopt);
    EXPECT_FALSE(store.boolForKey("one"));

    // Numbers bridge between integer and double; nothing else does.
    EXPECT_EQ(store.integerValue("one"), 1);
    EXPECT_EQ(store.integerValue("half"), 2);
    EXPECT_EQ(store.doubleValue("one"), 1.0);
    EXPECT_EQ(store.doubleValue("half"), 2.9);
    EXPECT_EQ(store.integerValue("flag"), std::nullopt);
    EXPECT_EQ(store.doubleValue("text"), std::nullopt);

    EXPECT_EQ(store.stringValue("text"), "true");
    EXPECT_EQ(store.stringValue("one"), std::nullopt);
    EXPECT_EQ(store.stringArrayValue("list"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(store.stringArrayValue("mixed"), std::nullopt);
    EXPECT_TRUE(store.arrayValue("mixed").has_value());
    EXPECT_EQ(store.dictionaryValue("list"), std::nullopt);
    EXPECT_TRUE(store.dictionaryValue("dict").has_value());
    EXPECT_EQ(store.dataValue("blob"), (Bytes{1, 2, 3}));
    EXPECT_EQ(store.dataValue("list"), std::nullopt);
}

TEST(DefaultsStoreTypedReads, IntegerReadsNeverWrapOrOverflow) {
    FakeDefaultsStore store(PlistValue{{"hugeUnsigned", std::uint64_t{18446744073709551615u}},
                                       {"hugeDouble", 1e300},
                                       {"nan", std::nan("")},
                                       {"negative", -3.7}});
    EXPECT_EQ(store.integerValue("hugeUnsigned"), std::nullopt);
    EXPECT_EQ(store.integerValue("hugeDouble"), std::nullopt);
    EXPECT_EQ(store.integerValue("nan"), std::nullopt);
    EXPECT_EQ(store.integerValue("negative"), -3);
}

TEST(DefaultsStoreFallbacks, AreReadButNeverStored) {
    FakeDefaultsStore store;
    store.registerDefaults({{"opacity", 0.5}, {"enabled", true}});
    store.registerDefaults({{"opacity", 0.75}});  // a later registration replaces the key's fallback
    EXPECT_EQ(store.doubleValue("opacity"), 0.75);
    EXPECT_EQ(store.boolValue("enabled"), true);
    EXPECT_FALSE(store.hasStoredValue("opacity"));
    EXPECT_EQ(store.persistentDomain(), PlistValue::object());

    store.set("opacity", 0.25);
    EXPECT_EQ(store.doubleValue("opacity"), 0.25);
    EXPECT_EQ(store.persistentDomain(), (PlistValue{{"opacity", 0.25}}));
    store.remove("opacity");
    EXPECT_EQ(store.doubleValue("opacity"), 0.75);  // the fallback shows again
    store.set("enabled", nullptr);                  // setting null is a removal
    EXPECT_EQ(store.boolValue("enabled"), true);
    EXPECT_EQ(store.persistentDomain(), PlistValue::object());
}

TEST(FakeDefaultsStoreRecording, RecordsEveryWriteButNotSeeds) {
    FakeDefaultsStore store;
    store.seed("left", 1);
    EXPECT_TRUE(store.writes().empty());
    store.set("a", 1);
    store.set("a", 1);  // the same value again is still a write the model made
    store.remove("b");
    ASSERT_EQ(store.writes().size(), 3u);
    EXPECT_TRUE(store.writes()[2].value.is_null());
    EXPECT_EQ(store.writtenKeys(), (std::set<std::string>{"a", "b"}));
    EXPECT_FALSE(store.wasWritten("left"));
    store.clearWrites();
    EXPECT_TRUE(store.writtenKeys().empty());
}

TEST(DefaultsDomainIdentity, TellsNumberKindsApart) {
    // 1 and 1.0 are equal JSON, but storing 1.0 over 1 must change the stored kind.
    EXPECT_FALSE(DefaultsDomain::identical(PlistValue(1), PlistValue(1.0)));
    EXPECT_FALSE(DefaultsDomain::identical(PlistValue{{"k", {1}}}, PlistValue{{"k", {1.0}}}));
    EXPECT_TRUE(DefaultsDomain::identical(PlistValue{{"k", {1, "x"}}}, PlistValue{{"k", {1, "x"}}}));
    DefaultsDomain domain;
    EXPECT_TRUE(domain.set("n", 1));
    EXPECT_FALSE(domain.set("n", 1));
    EXPECT_TRUE(domain.set("n", 1.0));
    EXPECT_TRUE(domain.object("n").is_number_float());
}

// Readers keep what they read while the revision stays: it must move with every change a read could see
// (or they answer from stale values) and stay for writes that change nothing (or they read in vain).
TEST(DefaultsStoreRevision, MovesWithEveryChangeAReadCouldSeeAndOnlyThen) {
    FakeDefaultsStore store;
    struct Step {
        const char* what;
        std::function<void()> change;
        bool moves;
    };
    const std::vector<Step> steps = {
        {"a new value stored", [&] { store.set("a", 1); }, true},
        {"the identical value stored again", [&] { store.set("a", 1); }, false},
        {"the same number as a double", [&] { store.set("a", 1.0); }, true},
        {"a value left by an earlier run", [&] { store.seed("b", "x"); }, true},
        {"removed", [&] { store.remove("a"); }, true},
        {"an absent key removed", [&] { store.remove("a"); }, false},
        {"null stored for an absent key", [&] { store.set("a", nullptr); }, false},
        {"fallbacks registered", [&] { store.registerDefaults(PlistValue{{"c", 2}}); }, true},
        {"a value changed by another program", [&] { store.changeOutside("b", "y"); }, true},
        {"a value removed by another program", [&] { store.changeOutside("b", nullptr); }, true},
    };
    for (const auto& step : steps) {
        const auto before = store.revision();
        step.change();
        EXPECT_EQ(store.revision() != before, step.moves) << step.what;
    }
}

}  // namespace
}  // namespace velaro::test
