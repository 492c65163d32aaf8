// The refresh cycle on the virtual loop: the filled-top hysteresis and its confirmation, capture-stop
// hysteresis and the refreshes an activation causes.
#include <gtest/gtest.h>

#include "sampling/ScreenSamplerTestRig.h"

namespace velaro::test {
namespace {

// One screen whose area below the 24-pt bar is 1000 × 1000 pt, so a full-width window of height h covers
// exactly h / 1000 of it.
class RefreshCycleTest : public ::testing::Test {
protected:
    RefreshCycleTest() {
        rig.sampler->enable();
        rig.setGeometry();
    }
    void editorOfHeight(double h) {
        rig.windows.setWindows(
            {FakeWindowList::window(kEditorPID, Rect{0, 24, 1000, h}, WindowLevel::normal, "Editor", 7)});
    }
    void refreshAt(double h) {
        editorOfHeight(h);
        rig.sampler->refresh();
    }
    bool filled() const { return rig.sampler->isFilledWindowActive(); }

    SamplerRig rig{{FakeScreens::make("A", Rect{0, 0, 1000, 1024}, 24, 1)}};
};

TEST_F(RefreshCycleTest, NinetyPercentEntersAfterTheConfirmationHalfStaysJustUnderHalfLeavesAtOnce) {
    refreshAt(900);
    EXPECT_FALSE(filled());
    EXPECT_EQ(rig.sampler->pendingFilledState(), std::optional<bool>(true));
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.sampler->hasActiveStream()) << "a pending fill already wants capture";
    rig.loop.advance(0.05);
    EXPECT_FALSE(filled());
    rig.loop.advance(0.05);
    EXPECT_TRUE(filled());
    EXPECT_FALSE(rig.sampler->pendingFilledState().has_value());

    refreshAt(500);
    EXPECT_TRUE(filled());
    refreshAt(490);
    EXPECT_FALSE(filled()) << "no confirmation on the way out";
    refreshAt(890);
    EXPECT_FALSE(rig.sampler->pendingFilledState().has_value()) << "0.89 is not enough to enter";
}

TEST_F(RefreshCycleTest, APendingFillThatDoesNotHoldGivesNoFill) {
    refreshAt(950);
    refreshAt(800);  // the next refresh sees less: pending and its timer are dropped
    EXPECT_FALSE(rig.sampler->pendingFilledState().has_value());
    editorOfHeight(950);  // even if the top is covered again when the old timer would have fired
    rig.loop.advance(0.2);
    EXPECT_FALSE(filled());

    refreshAt(950);
    editorOfHeight(850);  // the confirmation scan disagrees
    rig.loop.advance(0.1);
    EXPECT_FALSE(filled());
    EXPECT_FALSE(rig.sampler->pendingFilledState().has_value());
}

TEST_F(RefreshCycleTest, ASecondSightingWithinTheConfirmationKeepsTheFirstTimer) {
    refreshAt(950);
    rig.loop.advance(0.05);
    rig.deliverSolid("A", Rgb{40, 80, 120});
    ASSERT_TRUE(rig.sampler->colorPublishedSinceFillStart());
    refreshAt(950);
    rig.loop.advance(0.05);
    EXPECT_TRUE(filled()) << "confirmed 0.1 s after the first sighting";
    EXPECT_TRUE(rig.sampler->colorPublishedSinceFillStart()) << "the fill still starts at the first sighting";
}

TEST_F(RefreshCycleTest, ACaptureStopScreenStaysStoppedAboveHalfAndComesBackWithItsLastGoodColour) {
    auto channel = rig.sampler->channel("A");
    rig.workspace.running.push_back(RunningApp{200, std::string("org.example.Vault"), "Vault"});
    rig.defaults.seed(kExcludedCaptureStopKey, PlistValue::array({"org.example.Vault"}));
    refreshAt(1000);
    rig.loop.advance(0.1);
    rig.loop.runUntilIdle();
    ASSERT_TRUE(rig.sampler->hasActiveStream());
    rig.deliverSolid("A", Rgb{51, 102, 153});
    const Color good = rig.sampler->dominantColor();
    ASSERT_NE(good, Color::black());

    const auto editor =
        FakeWindowList::window(kEditorPID, Rect{0, 24, 1000, 1000}, WindowLevel::normal, "Editor", 7);
    auto vault = [&](double h) {
        rig.windows.setWindows(
            {FakeWindowList::window(200, Rect{0, 24, 1000, h}, WindowLevel::normal, "Vault", 9), editor});
        rig.sampler->refresh();
        rig.loop.runUntilIdle();
    };
    vault(950);
    EXPECT_EQ(rig.sampler->captureStopScreens(), (std::set<ScreenID>{"A"}));
    rig.sampler->dominantColor = Color::black();  // something else was shown meanwhile
    vault(600);
    EXPECT_EQ(rig.sampler->captureStopScreens(), (std::set<ScreenID>{"A"}));
    vault(400);
    EXPECT_TRUE(rig.sampler->captureStopScreens().empty());
    EXPECT_EQ(rig.sampler->dominantColor(), good);
    EXPECT_EQ(channel->dominantColor(), std::optional<Color>(good));
    EXPECT_TRUE(rig.sampler->hasActiveStream());
}

TEST_F(RefreshCycleTest, AnActivationRefreshesAtOnceAfterAHundredthAndATenthAndThePollGoesOn) {
    std::vector<double> at;
    rig.sampler->setOnOwnerTick([&](const std::optional<std::string>&) { at.push_back(rig.loop.uptime()); });
    rig.loop.advance(0.2);
    at.clear();
    rig.workspace.activate(RunningApp{kEditorPID, std::string("org.example.Editor"), "Editor"});
    rig.loop.advance(0.85);
    ASSERT_EQ(at.size(), 5u);
    const double expected[] = {0.2, 0.21, 0.3, 0.5, 1.0};
    for (std::size_t i = 0; i < at.size(); ++i) EXPECT_NEAR(at[i], expected[i], 1e-9) << i;
}

}  // namespace
}  // namespace velaro::test
