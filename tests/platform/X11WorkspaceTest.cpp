// When the X server's word on the displays means they sleep: the screen saver's state and DPMS's power level
// as read at start-up, and the saver's notifications afterwards.
#include "platform/linux/X11Workspace.h"

#include <gtest/gtest.h>

namespace velaro {
namespace {

TEST(DisplayPowerTest, TheSaverRunningOrDpmsPowerSavingMeansTheDisplaysSleep) {
    struct Case {
        const char* what;
        DisplayPowerReading reading;
        bool asleep;
    };
    const Case cases[] = {
        {"saver off, DPMS on", {0, 0, true}, false},
        {"saver on", {1, 0, true}, true},
        {"saver cycling", {2, 0, true}, true},
        {"saver disabled", {3, std::nullopt, false}, false},
        {"DPMS standby", {0, 1, true}, true},
        {"DPMS off", {0, 3, true}, true},
        {"DPMS off but disabled (a stale level)", {0, 3, false}, false},
        {"no extensions at all", {std::nullopt, std::nullopt, false}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(displaysAsleep(c.reading), c.asleep) << c.what;
}

TEST(DisplayPowerTest, SaverNoticesTurnTheDisplaysOffAndOnAndCyclingChangesNothing) {
    struct Case {
        bool before;
        std::uint8_t state;
        bool after;
    };
    const Case cases[] = {
        {false, 1, true}, {true, 0, false}, {true, 2, true}, {false, 2, false}, {true, 3, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(displaysAsleepAfterSaverNotice(c.before, c.state), c.after)
            << "before " << c.before << ", state " << int(c.state);
}

}  // namespace
}  // namespace velaro
