// The sampler's refresh on the real desktop: a window of another program maximised and restored by the
// window manager turns the filled state on within one poll and its confirmation, and off within one poll.
#include <chrono>
#include <memory>

#include "DesktopSampler.h"
#include "E2eSupport.h"

namespace velaro::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// The poll's period plus the confirmation; timers and event delivery under the sanitizers add a little.
constexpr double kFlipBound = 0.6;
constexpr double kJitter = 0.1;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class SamplerRefreshE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        ASSERT_TRUE(desktop.start());
        sampler = desktop.sampler.get();
        sampler->enable();
    }
    void TearDown() override {
        desktop.sampler.reset();
        client.reset();
        waitUntil([] { return false; }, std::chrono::milliseconds(200));
    }

    // The coverage of the top by the client's window, as the window list shows it right now.
    double clientCoverage() {
        const auto r = desktop.scans->scanWindows({});
        return client && r.filledPID == client->pid() ? r.filledCoverage : 0;
    }

    DesktopSampler desktop;
    ScreenSampler* sampler = nullptr;
    std::unique_ptr<OtherProgram> client;
};

TEST_F(SamplerRefreshE2eTest, MaximisingAndRestoringAWindowFlipsTheFilledStateWithinAPollAndAConfirmation) {
    client = std::make_unique<OtherProgram>("velaro-refresh", "300x200+200+200");
    ASSERT_TRUE(client->started());
    std::uint32_t window = 0;
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& w : desktop.windows->snapshot())
            if (w.ownerPID == client->pid() && w.number) window = static_cast<std::uint32_t>(*w.number);
        return window != 0;
    })) << "the client never showed a window";
    ASSERT_TRUE(waitUntil([&] { return !sampler->isFilledWindowActive(); }));

    // The window manager may still be taking the window in: ask again until the list shows it maximised.
    ASSERT_TRUE(askUntil([&] { setMaximised(window, true); }, [&] { return clientCoverage() >= 0.9; }))
        << "never maximised";
    const auto maximisedSeen = Clock::now();
    ASSERT_TRUE(waitUntil([&] { return sampler->isFilledWindowActive(); }, std::chrono::seconds(3)));
    EXPECT_LE(secondsSince(maximisedSeen), kFlipBound + kJitter);

    ASSERT_TRUE(askUntil([&] { setMaximised(window, false); }, [&] { return clientCoverage() < 0.5; }))
        << "never restored";
    const auto restoredSeen = Clock::now();
    ASSERT_TRUE(waitUntil([&] { return !sampler->isFilledWindowActive(); }, std::chrono::seconds(3)));
    EXPECT_LE(secondsSince(restoredSeen), kFlipBound + kJitter);
}

}  // namespace
}  // namespace velaro::e2e
