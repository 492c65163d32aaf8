// The tour's capability model: it polls only while held, publishes only changes, follows something started
// in the session, and its help buttons.
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
    CapabilityStatus status(Capability c) const { return model->statuses()()[c]; }

    test::VirtualLoop loop;
    test::FakePermissions permissions;
    PassthroughSubject<std::monostate> activation;
    std::unique_ptr<TourPermissionModel> model;
    std::vector<CapabilityStatuses> changes;
    Subscription subscription;

    TourPermissionModel& make() {
        model = std::make_unique<TourPermissionModel>(permissions, loop, activation.stream());
        subscription =
            model->statuses().changes().sink([this](const CapabilityStatuses& s) { changes.push_back(s); });
        return *model;
    }
};

TEST(TourPermissionModel, StartsFromTheDesktopAndPublishesOnlyChanges) {
    ModelRig rig;
    auto& model = rig.make();
    for (const Capability c : allCapabilities) EXPECT_TRUE(model.present(c)) << int(c);
    model.refresh();
    model.refresh();
    EXPECT_TRUE(rig.changes.empty());

    rig.permissions[Capability::compositor] = false;
    model.refresh();
    model.refresh();
    ASSERT_EQ(rig.changes.size(), 1u);
    EXPECT_EQ(rig.changes[0][Capability::compositor], CapabilityStatus::missing);
    EXPECT_EQ(rig.changes[0][Capability::x11Session], CapabilityStatus::present);
}

TEST(TourPermissionModel, ACompositorStartedWhileThePageShowsTurnsItsRowGreenWithinASecond) {
    ModelRig rig;
    rig.permissions[Capability::compositor] = false;
    auto& model = rig.make();
    model.start();
    EXPECT_EQ(rig.status(Capability::compositor), CapabilityStatus::missing);
    rig.permissions[Capability::compositor] = true;  // started in the session meanwhile
    rig.loop.advance(TourPermissionModel::pollInterval);
    EXPECT_EQ(rig.status(Capability::compositor), CapabilityStatus::present);
    model.stop();
}

TEST(TourPermissionModel, AnswersFromTheBusAndTheSoundServerArriveLater) {
    ModelRig rig;
    rig.permissions.heldBack = {Capability::mediaPlayer, Capability::soundServer};
    rig.permissions[Capability::mediaPlayer] = false;
    auto& model = rig.make();
    EXPECT_EQ(rig.status(Capability::mediaPlayer), CapabilityStatus::unknown);
    model.start();
    rig.loop.advance(3 * TourPermissionModel::pollInterval);
    EXPECT_EQ(rig.permissions.checks(Capability::mediaPlayer), 1) << "no second call while one is out";
    EXPECT_EQ(rig.permissions.checks(Capability::x11Session), 5) << "made, started, three polls";

    rig.permissions.answerPending();
    EXPECT_EQ(rig.status(Capability::mediaPlayer), CapabilityStatus::missing);
    EXPECT_EQ(rig.status(Capability::soundServer), CapabilityStatus::present);
    // A player starts; the next poll asks and its answer turns the row green.
    rig.permissions[Capability::mediaPlayer] = true;
    rig.loop.advance(TourPermissionModel::pollInterval);
    EXPECT_EQ(rig.status(Capability::mediaPlayer), CapabilityStatus::missing);
    rig.permissions.answerPending();
    EXPECT_EQ(rig.status(Capability::mediaPlayer), CapabilityStatus::present);

    // Gone with the model before its answer: nothing is told.
    rig.loop.advance(TourPermissionModel::pollInterval);
    rig.subscription.cancel();
    rig.model.reset();
    rig.permissions.answerPending();
}

TEST(TourPermissionModel, PollsOncePerSecondAndOnActivationOnlyWhileHeld) {
    ModelRig rig;
    rig.permissions[Capability::x11Session] = false;
    auto& model = rig.make();
    rig.loop.advance(3);
    EXPECT_FALSE(rig.polling());

    model.start();
    model.start();
    EXPECT_TRUE(rig.polling());
    EXPECT_EQ(rig.loop.pendingTimers(), 1u) << "a second holder makes no second timer";
    rig.permissions[Capability::x11Session] = true;
    rig.loop.advance(1.0);
    EXPECT_TRUE(model.present(Capability::x11Session)) << "seen within a second";

    model.stop();
    EXPECT_TRUE(rig.polling()) << "one holder is left";
    rig.permissions[Capability::soundServer] = false;
    rig.activation.send({});
    EXPECT_EQ(rig.status(Capability::soundServer), CapabilityStatus::missing)
        << "becoming active asks again at once";

    model.stop();
    EXPECT_FALSE(rig.polling());
    rig.permissions[Capability::soundServer] = true;
    rig.activation.send({});
    rig.loop.advance(5);
    EXPECT_EQ(rig.status(Capability::soundServer), CapabilityStatus::missing)
        << "stopped: neither the poll nor activation asks";

    model.stop();  // a stop without a start
    model.start();
    EXPECT_EQ(rig.status(Capability::soundServer), CapabilityStatus::present) << "a start asks at once";
    EXPECT_EQ(rig.loop.pendingTimers(), 1u);
    rig.model.reset();
    EXPECT_EQ(rig.loop.pendingTimers(), 0u) << "the poll ends with the model";
}

TEST(TourPermissionModel, AHelpButtonOpensThePageOnWhatIsMissingAndChangesNothing) {
    ModelRig rig;
    rig.permissions[Capability::soundServer] = false;
    auto& model = rig.make();
    model.openHelp(Capability::soundServer);
    model.openHelp(Capability::soundServer);
    EXPECT_EQ(rig.permissions.openedHelp,
              (std::vector<Capability>{Capability::soundServer, Capability::soundServer}));
    EXPECT_TRUE(rig.changes.empty());
}

}  // namespace
}  // namespace velaro
