// The tour's permission model: it polls only while held, publishes only changes, and its two buttons.
#include <gtest/gtest.h>

#include "base/Published.h"
#include "onboarding/TourPermissionModel.h"
#include "support/FakePermissions.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

struct ModelRig {
    // The poll is the model's only timer.
    bool polling() const { return loop.pendingTimers() > 0; }

    test::VirtualLoop loop;
    test::FakePermissions permissions;
    PassthroughSubject<std::monostate> activation;
    std::unique_ptr<TourPermissionModel> model;
    std::vector<bool> captureChanges, trustChanges;
    Subscription a, b;

    TourPermissionModel& make() {
        model = std::make_unique<TourPermissionModel>(permissions, loop, activation.stream());
        a = model->screenRecordingGranted().changes().sink(
            [this](const bool& v) { captureChanges.push_back(v); });
        b = model->accessibilityGranted().changes().sink(
            [this](const bool& v) { trustChanges.push_back(v); });
        return *model;
    }
};

TEST(TourPermissionModel, StartsFromTheDesktopAndPublishesOnlyChanges) {
    ModelRig rig;
    rig.permissions.screenCapture = true;
    rig.permissions.accessibility = true;
    auto& model = rig.make();
    EXPECT_TRUE(model.screenRecordingGranted()());
    EXPECT_TRUE(model.accessibilityGranted()());
    model.refresh();
    model.refresh();
    EXPECT_TRUE(rig.captureChanges.empty());
    EXPECT_TRUE(rig.trustChanges.empty());

    rig.permissions.accessibility = false;
    model.refresh();
    model.refresh();
    EXPECT_TRUE(rig.captureChanges.empty());
    EXPECT_EQ(rig.trustChanges, std::vector<bool>{false});
}

TEST(TourPermissionModel, PollsOncePerSecondAndOnActivationOnlyWhileHeld) {
    ModelRig rig;
    rig.permissions.screenCapture = false;
    auto& model = rig.make();
    rig.loop.advance(3);
    EXPECT_FALSE(rig.polling());
    EXPECT_EQ(rig.loop.pendingTimers(), 0u) << "idle: no timer";

    model.start();
    model.start();
    EXPECT_TRUE(rig.polling());
    EXPECT_EQ(rig.loop.pendingTimers(), 1u) << "a second holder makes no second timer";
    rig.permissions.screenCapture = true;
    rig.loop.advance(1.0);
    EXPECT_EQ(rig.captureChanges, std::vector<bool>{true}) << "granted in the desktop, seen within a second";

    model.stop();
    EXPECT_TRUE(rig.polling()) << "one holder is left";
    rig.permissions.accessibility = false;
    rig.activation.send({});
    EXPECT_EQ(rig.trustChanges, std::vector<bool>{false}) << "becoming active reads both again";

    model.stop();
    EXPECT_FALSE(rig.polling());
    EXPECT_EQ(rig.loop.pendingTimers(), 0u);
    rig.permissions.accessibility = true;
    rig.activation.send({});
    rig.loop.advance(5);
    EXPECT_EQ(rig.trustChanges, std::vector<bool>{false}) << "stopped: neither the poll nor activation reads";

    model.stop();  // a stop without a start
    model.start();
    EXPECT_EQ(rig.trustChanges, (std::vector<bool>{false, true})) << "a start reads at once";
    EXPECT_EQ(rig.loop.pendingTimers(), 1u);
    rig.model.reset();
    EXPECT_EQ(rig.loop.pendingTimers(), 0u) << "the poll ends with the model";
}

TEST(TourPermissionModel, FirstCapturePressOnlyReadsAgainLaterOnesOpenTheHelpPage) {
    ModelRig rig;
    rig.permissions.screenCapture = false;
    auto& model = rig.make();
    model.requestScreenRecording();
    EXPECT_TRUE(model.screenRecordingAsked()());
    EXPECT_TRUE(rig.permissions.openedPanes.empty()) << "the first press opens nothing";
    const int checks = rig.permissions.screenCaptureChecks;
    model.requestScreenRecording();
    model.requestScreenRecording();
    EXPECT_EQ(rig.permissions.openedPanes,
              (std::vector<PrivacyPane>{PrivacyPane::screenCapture, PrivacyPane::screenCapture}));
    EXPECT_EQ(rig.permissions.screenCaptureChecks, checks) << "later presses do not ask again";
}

TEST(TourPermissionModel, EveryAccessibilityPressAsksAndOpensTheHelpPage) {
    ModelRig rig;
    rig.permissions.accessibility = false;
    rig.permissions.grantOnRequest = true;
    auto& model = rig.make();
    model.requestAccessibility();
    model.requestAccessibility();
    EXPECT_EQ(rig.permissions.accessibilityRequests, 2);
    EXPECT_EQ(rig.permissions.openedPanes,
              (std::vector<PrivacyPane>{PrivacyPane::accessibility, PrivacyPane::accessibility}));
    EXPECT_FALSE(model.accessibilityGranted()()) << "a request marks nothing granted; the next read does";
    model.refresh();
    EXPECT_TRUE(model.accessibilityGranted()());
}

}  // namespace
}  // namespace velaro
