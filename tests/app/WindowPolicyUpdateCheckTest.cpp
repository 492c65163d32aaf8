// The settings window's mirror of the updater: it starts from the updater's state and follows every change.
#include <gtest/gtest.h>

#include "support/FakeUpdater.h"
#include "ui/settings/pages/UpdateCheckModel.h"

namespace velaro {
namespace {

TEST(UpdateCheckModelTest, MirrorsTheUpdatersCanCheckStateFromTheStart) {
    test::FakeUpdater updater;
    updater.canCheck = true;
    UpdateCheckModel model(updater);
    EXPECT_TRUE(model.canCheckForUpdates());

    std::vector<bool> seen;
    auto sub = model.canCheckForUpdates.changes().sink([&](bool v) { seen.push_back(v); });
    updater.canCheck = false;  // a check under way
    EXPECT_FALSE(model.canCheckForUpdates());
    updater.canCheck = true;
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));
    EXPECT_EQ(&model.updater(), &updater);
}

}  // namespace
}  // namespace velaro
