// The excluded-apps model: cleaning at creation, what it writes and when, member order, running apps.
#include "sampling/ExcludedAppsModel.h"

#include <gtest/gtest.h>

#include "sampling/WindowListScans.h"
#include "support/FakeAppCatalog.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeWorkspace.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

using IDSet = ExcludedAppsModel::IDSet;

IDSet storedSet(const DefaultsStore& d, const char* key) {
    const auto v = d.stringArrayValue(key);
    return v ? IDSet(v->begin(), v->end()) : IDSet{};
}

class ExcludedAppsTest : public ::testing::Test {
protected:
    std::unique_ptr<ExcludedAppsModel> make() {
        return std::make_unique<ExcludedAppsModel>(defaults, catalog, workspace, loop);
    }
    std::vector<std::string> memberNames(const ExcludedAppsModel& m) {
        std::vector<std::string> out;
        for (const auto& a : m.members.value()) out.push_back(a.name);
        return out;
    }

    test::FakeDefaultsStore defaults;
    test::FakeAppCatalog catalog;
    test::FakeWorkspace workspace;
    test::VirtualLoop loop;
};

TEST_F(ExcludedAppsTest, NothingStoredMeansAnEmptyModelThatWritesNothing) {
    auto model = make();
    EXPECT_TRUE(model->members.value().empty());
    EXPECT_TRUE(model->sampleStop.value().empty());
    EXPECT_TRUE(defaults.writes().empty());
}

TEST_F(ExcludedAppsTest, CreationKeepsOnlyMembersMergesTheSetsAndRewritesOnlyWhatChanged) {
    defaults.seed(kExcludedAppsMembersKey, PlistValue::array({"com.a", "com.b", "com.a"}));
    defaults.seed(kExcludedSampleStopKey, PlistValue::array({"com.a", "com.x"}));
    auto model = make();
    for (const auto* set : {&model->sampleStop, &model->overlayHide, &model->captureStop})
        EXPECT_EQ(set->value(), IDSet{"com.a"});
    for (const char* key : {kExcludedSampleStopKey, kExcludedOverlayHideKey, kExcludedCaptureStopKey}) {
        EXPECT_TRUE(defaults.wasWritten(key)) << key;
        EXPECT_EQ(storedSet(defaults, key), IDSet{"com.a"}) << key;
    }
    EXPECT_FALSE(defaults.wasWritten(kExcludedAppsMembersKey));
    ASSERT_EQ(model->members.value().size(), 2u) << "duplicate identifiers make one member";

    // A second creation over the cleaned store finds nothing to change.
    defaults.clearWrites();
    model = make();
    EXPECT_TRUE(defaults.writes().empty());
}

TEST_F(ExcludedAppsTest, MalformedStoredValuesReadAsEmpty) {
    defaults.seed(kExcludedAppsMembersKey, PlistValue::array({"com.a", 5}));
    defaults.seed(kExcludedOverlayHideKey, "com.a");
    auto model = make();
    EXPECT_TRUE(model->members.value().empty());
    EXPECT_TRUE(model->overlayHide.value().empty());
    EXPECT_TRUE(defaults.writes().empty()) << "unreadable values are left alone, not rewritten";
}

TEST_F(ExcludedAppsTest, MembersAreSortedByNameIgnoringCaseAndUninstalledOnesKeepTheirIdentifier) {
    catalog.install("com.b", "beta");
    catalog.install("com.a", "Alpha");
    catalog.install("com.g", std::nullopt);  // no name in its entry: the file's name is shown
    defaults.seed(kExcludedAppsMembersKey, PlistValue::array({"com.g", "com.b", "com.gone", "com.a"}));
    auto model = make();
    EXPECT_EQ(memberNames(*model), (std::vector<std::string>{"Alpha", "beta", "com.g.desktop", "com.gone"}));
    const auto& gone = model->members.value()[3];
    EXPECT_FALSE(gone.url);
    EXPECT_FALSE(model->icon(gone));
}

TEST_F(ExcludedAppsTest, SortKeepsTheOrderOfEqualNames) {
    std::vector<ExcludedAppsModel::MemberApp> list{
        {"1", "gamma", {}}, {"2", "Beta", {}}, {"3", "beta", {}}, {"4", "alpha", {}}, {"5", "BETA", {}}};
    ExcludedAppsModel::sortByName(list);
    std::vector<std::string> ids;
    for (const auto& m : list) ids.push_back(m.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"4", "2", "3", "5", "1"}));
}

TEST_F(ExcludedAppsTest, AddingStoresTheNameOrderedListAndNeverExcludes) {
    const auto zed = catalog.install("com.zed", "Zed");
    const auto amp = catalog.install("com.amp", "amp");
    auto model = make();
    int published = 0;
    auto sub = model->members.changes().sink([&](const auto&) { ++published; });
    model->add(zed);
    model->add(amp);
    EXPECT_EQ(published, 4) << "append, then sort, each publishes";
    EXPECT_EQ(defaults.stringArrayValue(kExcludedAppsMembersKey),
              (std::vector<std::string>{"com.amp", "com.zed"}));
    EXPECT_TRUE(model->sampleStop.value().empty());

    defaults.clearWrites();
    model->add(zed);                // already a member
    model->add("/tmp/not-an-app");  // not an application
    EXPECT_TRUE(defaults.writes().empty());
    EXPECT_EQ(model->members.value().size(), 2u);
}

TEST_F(ExcludedAppsTest, ExclusionSwitchWritesAllThreeKeysAndRemovalClearsThem) {
    const auto url = catalog.install("com.a", "A");
    auto model = make();
    model->add(url);
    int notifications = 0;
    auto s1 = model->sampleStop.changes().sink([&](const auto&) { ++notifications; });
    auto s2 = model->overlayHide.changes().sink([&](const auto&) { ++notifications; });
    auto s3 = model->captureStop.changes().sink([&](const auto&) { ++notifications; });

    model->setExcluded(true, "com.a");
    EXPECT_EQ(notifications, 3);
    for (const char* key : {kExcludedSampleStopKey, kExcludedOverlayHideKey, kExcludedCaptureStopKey})
        EXPECT_EQ(storedSet(defaults, key), IDSet{"com.a"}) << key;

    model->remove("com.a");
    EXPECT_TRUE(model->members.value().empty());
    EXPECT_EQ(defaults.stringArrayValue(kExcludedAppsMembersKey), std::vector<std::string>{});
    for (const char* key : {kExcludedSampleStopKey, kExcludedOverlayHideKey, kExcludedCaptureStopKey})
        EXPECT_TRUE(storedSet(defaults, key).empty()) << key;
}

TEST_F(ExcludedAppsTest, IconsAreLookedUpOnce) {
    const auto url = catalog.install("com.a", "A", 0x00ff00);
    auto model = make();
    model->add(url);
    const auto member = model->members.value().front();
    const auto first = model->icon(member);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->pixel(0, 0), 0xff00ff00u);
    model->icon(member);
    EXPECT_EQ(catalog.iconLookups, 1);
}

// Apps installed, changed or removed while the app runs: members take their names, locations and icons
// from then on, without a restart; a member chosen from a file of its own stays while that file does.
TEST_F(ExcludedAppsTest, MembersFollowAppsInstalledChangedAndRemovedWhileTheModelLives) {
    const auto old = catalog.install("com.old", "Old", 0xff0000);
    const auto gone = catalog.install("com.gone", "Gone");
    defaults.seed(kExcludedAppsMembersKey, PlistValue::array({"com.new", "com.old", "com.gone"}));
    auto model = make();
    EXPECT_EQ(memberNames(*model), (std::vector<std::string>{"com.new", "Gone", "Old"}));
    EXPECT_FALSE(model->icon(model->members.value()[0])) << "not installed yet: no icon";
    EXPECT_EQ(model->icon(model->members.value()[2])->pixel(0, 0), 0xffff0000u);
    catalog.apps["/opt/x/x.desktop"] = {AppEntry{"com.x", "X", std::nullopt}, QImage(), false};
    model->add("/opt/x/x.desktop");
    int published = 0;
    auto sub = model->members.changes().sink([&](const auto&) { ++published; });

    catalog.install("com.new", "New", 0x00ff00);
    catalog.install("com.old", "Old", 0x0000ff);
    catalog.uninstall(gone);
    EXPECT_EQ(memberNames(*model), (std::vector<std::string>{"com.new", "Gone", "Old", "X"}))
        << "nothing is looked up again before the catalog says it changed";
    catalog.announceChange();
    EXPECT_EQ(published, 1);
    const auto members = model->members.value();
    EXPECT_EQ(memberNames(*model), (std::vector<std::string>{"com.gone", "New", "Old", "X"}));
    EXPECT_FALSE(members[0].url);
    EXPECT_FALSE(model->icon(members[0])) << "a removed app's icon goes with it";
    EXPECT_EQ(model->icon(members[1])->pixel(0, 0), 0xff00ff00u);
    EXPECT_EQ(members[2].url, old);
    EXPECT_EQ(model->icon(members[2])->pixel(0, 0), 0xff0000ffu) << "an icon read again";
    EXPECT_EQ(members[3].url, "/opt/x/x.desktop");

    catalog.announceChange();
    EXPECT_EQ(published, 1) << "the same members are not published again";
    catalog.uninstall("/opt/x/x.desktop");
    catalog.announceChange();
    EXPECT_EQ(memberNames(*model), (std::vector<std::string>{"com.gone", "com.x", "New", "Old"}));
    EXPECT_EQ(storedSet(defaults, kExcludedAppsMembersKey),
              (IDSet{"com.gone", "com.new", "com.old", "com.x"}))
        << "members stay members";
}

TEST_F(ExcludedAppsTest, RunningAppsFollowLaunchesOnTheMainLoopWhileTheModelLives) {
    workspace.running = {{1, "com.a", "A"}, {2, std::nullopt, "NoID"}};
    auto model = make();
    EXPECT_EQ(model->runningAppIds.value(), IDSet{"com.a"});

    workspace.running.push_back({3, "com.c", "C"});
    workspace.send(WorkspaceEvent::Kind::didLaunchApplication);
    EXPECT_EQ(model->runningAppIds.value(), IDSet{"com.a"}) << "refreshed on a later turn, not inline";
    loop.runUntilIdle();
    EXPECT_EQ(model->runningAppIds.value(), (IDSet{"com.a", "com.c"}));

    // A notification whose task runs after the model is gone does nothing.
    workspace.send(WorkspaceEvent::Kind::didTerminateApplication);
    model.reset();
    loop.runUntilIdle();
}

}  // namespace
}  // namespace velaro
