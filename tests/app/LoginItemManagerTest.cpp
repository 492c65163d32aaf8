// The login toggle's state: read from the service at creation, read back after every switch, refusals logged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/LoginItemManager.h"
#include "support/FakeLoginItem.h"
#include "support/LogCapture.h"

namespace velaro {
namespace {

class LoginItemManagerTest : public ::testing::Test {
protected:
    test::LogCapture log;
    std::vector<std::string>& lines = log.lines;
    test::FakeLoginItem service;
};

TEST_F(LoginItemManagerTest, StartsFromTheServiceStatus) {
    service.currentStatus = LoginItemStatus::enabled;
    EXPECT_TRUE(LoginItemManager(service).isEnabled().value());
    service.currentStatus = LoginItemStatus::requiresApproval;
    EXPECT_FALSE(LoginItemManager(service).isEnabled().value());
}

TEST_F(LoginItemManagerTest, SwitchesOnAndOffAndPublishesEachTime) {
    LoginItemManager manager(service);
    std::vector<bool> published;
    auto sub = manager.isEnabled().changes().sink([&](bool v) { published.push_back(v); });

    manager.setEnabled(true);
    EXPECT_TRUE(manager.isEnabled().value());
    manager.setEnabled(false);
    EXPECT_FALSE(manager.isEnabled().value());

    EXPECT_EQ(published, (std::vector<bool>{true, false}));
    EXPECT_EQ(service.registerCalls, 1);
    EXPECT_EQ(service.unregisterCalls, 1);
    EXPECT_TRUE(lines.empty());
}

TEST_F(LoginItemManagerTest, RefusedRegistrationIsLoggedAndTheToggleFallsBackToOff) {
    service.registerError = "the autostart directory is read-only";
    LoginItemManager manager(service);
    std::vector<bool> published;
    auto sub = manager.isEnabled().changes().sink([&](bool v) { published.push_back(v); });

    manager.setEnabled(true);

    EXPECT_FALSE(manager.isEnabled().value());
    // The toggle that was switched on must hear the fall-back to off.
    EXPECT_EQ(published, (std::vector<bool>{false}));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "LoginItemManager: failed to register: the autostart directory is read-only");
}

TEST_F(LoginItemManagerTest, UnregisteringANeverRegisteredItemLogsAndPublishesTheCurrentStatus) {
    LoginItemManager manager(service);
    manager.setEnabled(false);
    EXPECT_FALSE(manager.isEnabled().value());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "LoginItemManager: failed to unregister: the login item is not registered");
}

TEST_F(LoginItemManagerTest, AnyStatusButEnabledShowsAsOff) {
    // The session accepted the entry but waits for the user's approval: the item does not start yet.
    service.statusAfterRegister = LoginItemStatus::requiresApproval;
    LoginItemManager manager(service);
    manager.setEnabled(true);
    EXPECT_FALSE(manager.isEnabled().value());
    EXPECT_TRUE(lines.empty());
}

TEST_F(LoginItemManagerTest, RefusedUnregistrationKeepsTheItemOn) {
    service.currentStatus = LoginItemStatus::enabled;
    service.unregisterError = "permission denied";
    LoginItemManager manager(service);
    manager.setEnabled(false);
    EXPECT_TRUE(manager.isEnabled().value());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "LoginItemManager: failed to unregister: permission denied");
}

}  // namespace
}  // namespace velaro
