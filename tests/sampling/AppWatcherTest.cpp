// The frontmost-app watcher: published values, the pid hook, the window-event target and enabling sampling.
#include "sampling/AppWatcher.h"

#include <gtest/gtest.h>

#include "support/FakeAppCatalog.h"
#include "support/FakeWindowEvents.h"
#include "support/FakeWorkspace.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

class AppWatcherTest : public ::testing::Test {
protected:
    AppWatcherTest() { catalog.install("org.example.Editor", "Editor", 0x112233); }
    std::unique_ptr<AppWatcher> make() {
        AppWatcherSamplerHooks hooks;
        hooks.refresh = [this] { ++refreshes; };
        hooks.isEnabled = [this] { return samplerEnabled; };
        hooks.enableAndReconcile = [this] {
            samplerEnabled = true;
            ++reconciles;
        };
        return std::make_unique<AppWatcher>(workspace, catalog, windowEvents, loop, hooks);
    }

    test::VirtualLoop loop;
    test::FakeWorkspace workspace;
    test::FakeAppCatalog catalog;
    test::FakeWindowEvents windowEvents;
    bool samplerEnabled = false;
    int reconciles = 0;
    int refreshes = 0;
    const RunningApp editor{100, "org.example.Editor", "Editor"};
    const RunningApp term{200, "term", "Terminal"};
};

TEST_F(AppWatcherTest, CreationPublishesTheFrontmostAppWithoutCallingTheHookAndEnablesSamplingOnce) {
    workspace.frontmost = editor;
    auto watcher = make();
    EXPECT_EQ(watcher->activeAppId(), "org.example.Editor");
    EXPECT_EQ(watcher->activeAppName(), "Editor");
    ASSERT_TRUE(watcher->activeAppIcon());
    EXPECT_EQ(watcher->activeAppIcon()->pixel(0, 0), 0xff112233u);
    EXPECT_TRUE(windowEvents.isObserved(100));
    EXPECT_EQ(reconciles, 1);

    std::vector<std::int32_t> pids;
    watcher->onFrontmostPID = [&](std::int32_t pid) { pids.push_back(pid); };
    workspace.activate(term);
    EXPECT_EQ(pids, std::vector<std::int32_t>{200});
    EXPECT_EQ(watcher->activeAppId(), "term");
    EXPECT_FALSE(watcher->activeAppIcon()) << "an app without a desktop entry has no icon";
    EXPECT_EQ(reconciles, 1) << "later activations leave the sampler alone";
}

TEST_F(AppWatcherTest, AnActivationWithoutAnAppFallsBackToTheFrontmostOne) {
    auto watcher = make();
    EXPECT_FALSE(watcher->activeAppId());
    EXPECT_EQ(reconciles, 1) << "even with no app in front, the first activation enables sampling";
    workspace.frontmost = editor;
    workspace.send(WorkspaceEvent::Kind::didActivateApplication);
    EXPECT_EQ(watcher->activeAppName(), "Editor");
    // Other workspace events do not count as activations.
    workspace.frontmost = term;
    workspace.send(WorkspaceEvent::Kind::activeSpaceDidChange);
    EXPECT_EQ(watcher->activeAppName(), "Editor");
}

TEST_F(AppWatcherTest, ActivationClearsTheOverrideAndEveryValueNotifies) {
    workspace.frontmost = editor;
    auto watcher = make();
    watcher->usingOverride = true;
    int idWrites = 0;
    auto sub = watcher->activeAppId.changes().sink([&](const auto&) { ++idWrites; });
    workspace.activate(editor);
    EXPECT_FALSE(watcher->usingOverride());
    EXPECT_EQ(idWrites, 1) << "the same app again still publishes";
    EXPECT_EQ(windowEvents.observeCalls, 1) << "and keeps its one observer";
}

TEST_F(AppWatcherTest, WindowEventsOfTheFrontAppRefreshTheSamplerThrottled) {
    workspace.frontmost = editor;
    auto watcher = make();
    windowEvents.fire(100, WindowEventKind::minimised);
    windowEvents.fire(100, WindowEventKind::destroyed);
    EXPECT_EQ(refreshes, 1);
    loop.advance(0.1);
    EXPECT_EQ(refreshes, 2);

    // Our own window coming forward keeps the editor watched; no app at all stops watching.
    workspace.activate(RunningApp{workspace.ownPID, "com.quornet.Velaro", "Velaro"});
    EXPECT_TRUE(windowEvents.isObserved(100));
    workspace.frontmost.reset();
    workspace.send(WorkspaceEvent::Kind::didActivateApplication);
    EXPECT_EQ(windowEvents.observedCount(), 0u);
    EXPECT_FALSE(watcher->activeAppId());
}

}  // namespace
}  // namespace velaro
