// The engine's adapter stream on the virtual loop: launch, restarts with a growing delay, stale work after a
// stop, stops that race a launch, line splitting and its cap, the health check and the change listener.
#include <gtest/gtest.h>

#include <signal.h>

#include "music/EngineRig.h"
#include "support/AllocationCounter.h"

namespace velaro::test {
namespace {

using nlohmann::json;

void expectValid(const ProgressSnapshot& s) {
    ASSERT_TRUE(s.isValid);
}

const json kTrack = {{"bundleIdentifier", "org.example.Player"},
                     {"title", "Song"},
                     {"duration", 200},
                     {"elapsedTime", 30},
                     {"playing", true},
                     {"uniqueIdentifier", "t1"}};

TEST(MusicProgressEngine, StartLaunchesOneStreamOfTheAdapterFoundAtThatMoment) {
    EngineRig rig;
    rig.start();
    ASSERT_EQ(rig.launcher.attempts(), 1);
    const auto& spec = rig.stream().spec();
    EXPECT_EQ(spec.program, EngineRig::adapterPath);
    EXPECT_EQ(spec.arguments, (std::vector<std::string>{"stream", "--no-artwork"}));
    EXPECT_TRUE(spec.pipeOutput);
    EXPECT_TRUE(rig.engine->isRunning());
    EXPECT_EQ(rig.count("PROG engine v1 start (source=adapter, vendor=3ac3d4b)"), 1);

    rig.engine->start();
    rig.loop.advance(60);
    EXPECT_EQ(rig.launcher.attempts(), 1) << "a second start while running does nothing";
    EXPECT_EQ(rig.count("PROG engine v1 start"), 1);
}

TEST(MusicProgressEngine, RestartDelaysGrowToThirtySecondsAndOnlyADataLineResetsThem) {
    EngineRig rig;
    rig.start();
    for (int delay : {1, 2, 4, 8, 16, 30, 30}) {
        SCOPED_TRACE(delay);
        const int before = rig.streams();
        rig.stream().exit(1);
        rig.loop.runUntilIdle();
        EXPECT_EQ(rig.log.back(), "PROG restart in " + std::to_string(delay) + "s");
        rig.loop.advance(delay - 0.001);
        EXPECT_EQ(rig.streams(), before);
        rig.loop.advance(0.001);
        EXPECT_EQ(rig.streams(), before + 1);
    }
    EXPECT_EQ(rig.count("PROG adapter exited (status=1) — restarting"), 7);

    rig.line({{"type", "error"}, {"payload", kTrack}});
    rig.stream().exit(0);
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.log.back(), "PROG restart in 30s") << "a line of another type resets nothing";
    rig.loop.advance(30);

    rig.data(kTrack);
    rig.stream().exit(0);
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.log.back(), "PROG restart in 1s");
}

TEST(MusicProgressEngine, LaunchFailuresAreReportedAndRetriedWithTheSameDelays) {
    EngineRig rig;
    rig.launcher.failure = std::string(EngineRig::adapterPath) + ": Permission denied";
    rig.start();
    EXPECT_EQ(rig.count(std::string("PROG spawn FAILED: ") + EngineRig::adapterPath + ": Permission denied"),
              1);
    EXPECT_EQ(rig.log.back(), "PROG restart in 1s");
    rig.loop.advance(1);
    EXPECT_EQ(rig.launcher.attempts(), 2);
    EXPECT_EQ(rig.log.back(), "PROG restart in 2s");
    rig.launcher.failure.reset();
    rig.loop.advance(2);
    EXPECT_EQ(rig.streams(), 1);
    EXPECT_TRUE(rig.stream().isRunning());
}

TEST(MusicProgressEngine, MissingAdapterLeavesTheEngineStartedWithNoStreamAndNoRetry) {
    EngineRig rig;
    rig.adapterPresent = false;
    rig.start();
    EXPECT_EQ(rig.count("PROG spawn FAILED: adapter resources not found in bundle"), 1);
    EXPECT_TRUE(rig.engine->isRunning());
    rig.loop.advance(120);
    EXPECT_EQ(rig.launcher.attempts(), 0);
    EXPECT_FALSE(rig.engine->snapshot().isValid);
    EXPECT_EQ(rig.count("PROG health"), 0);

    // Found again on the next start: the lookup runs before every launch.
    rig.adapterPresent = true;
    rig.engine->stop();
    rig.start();
    EXPECT_EQ(rig.streams(), 1);
}

TEST(MusicProgressEngine, StopTerminatesTheStreamAndNothingQueuedBeforeItRuns) {
    EngineRig rig;
    rig.start();
    auto& first = rig.stream();
    first.exit(1);  // a restart is now due in 1 s
    rig.loop.runUntilIdle();
    rig.loop.advance(1);
    auto& second = rig.stream();
    rig.engine->stop();
    EXPECT_EQ(second.receivedSignals(), std::vector<int>{SIGTERM});
    EXPECT_TRUE(second.handlersDropped()) << "its exit must not start a restart";
    rig.loop.advance(60);
    EXPECT_FALSE(second.isRunning());
    EXPECT_EQ(rig.streams(), 2);
    EXPECT_EQ(rig.count("PROG restart in"), 1);
    EXPECT_EQ(rig.count("PROG adapter exited"), 1);
    EXPECT_EQ(rig.count("PROG health check skipped (stale generation)"), 2) << "both launches' checks";
    EXPECT_FALSE(rig.engine->isRunning());

    rig.engine->stop();
    EXPECT_EQ(rig.count("PROG engine stopped"), 2) << "a second stop says so again, with nothing to end";
}

TEST(MusicProgressEngine, StopThenStartInsideARestartDelaySkipsTheStaleRestart) {
    EngineRig rig;
    rig.start();
    rig.stream().exit(1);
    rig.loop.runUntilIdle();
    ASSERT_EQ(rig.log.back(), "PROG restart in 1s");
    rig.engine->stop();
    rig.start();
    EXPECT_EQ(rig.streams(), 2) << "the new start launches at once";
    rig.loop.advance(1);
    EXPECT_EQ(rig.count("PROG restart skipped (stale generation)"), 1);
    EXPECT_EQ(rig.streams(), 2);
    EXPECT_EQ(rig.launcher.running(), 1);

    rig.loop.advance(4);
    EXPECT_EQ(rig.count("PROG health check skipped (stale generation)"), 1);
    EXPECT_EQ(rig.count("PROG health: no data line within 5s — adapter may be blocked"), 1);
    rig.stream().exit(1);
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.log.back(), "PROG restart in 1s") << "the new start began the delays again";
}

TEST(MusicProgressEngine, HealthCheckOnlyReportsASilentStreamAndLeavesItRunning) {
    for (bool speaks : {false, true}) {
        SCOPED_TRACE(speaks);
        EngineRig rig;
        rig.start();
        rig.loop.advance(4.9);
        if (speaks) rig.data(kTrack);
        rig.loop.advance(0.1);
        EXPECT_EQ(rig.count("PROG health: no data line within 5s — adapter may be blocked"), speaks ? 0 : 1);
        EXPECT_TRUE(rig.stream().receivedSignals().empty());
        EXPECT_EQ(rig.streams(), 1);
    }
}

TEST(MusicProgressEngine, AStopWhileTheLaunchIsUnderWayLeavesNoProcess) {
    struct Case {
        const char* name;
        bool startAgain;
    };
    for (const Case c : {Case{"stop", false}, Case{"stop and start", true}}) {
        SCOPED_TRACE(c.name);
        EngineRig rig;
        bool nested = false;
        rig.launcher.onLaunch = [&](FakeChildProcess&) {
            if (nested) return;
            nested = true;
            rig.engine->stop();
            if (c.startAgain) rig.engine->start();
        };
        rig.start();
        rig.loop.advance(10);
        auto first = rig.launcher.launched().front();
        EXPECT_FALSE(first->isRunning()) << "the launch that lost the race is ended";
        EXPECT_TRUE(first->handlersDropped());
        EXPECT_EQ(rig.launcher.running(), c.startAgain ? 1 : 0);
        EXPECT_EQ(rig.count("PROG restart in"), 0) << "its exit restarts nothing";
        if (c.startAgain) {
            // The survivor is the stream: its lines count.
            rig.data(kTrack);
            EXPECT_TRUE(rig.engine->snapshot().isValid);
        }
    }
}

TEST(MusicProgressEngine, AnExitBeforeTheLaunchReturnsStillRestarts) {
    EngineRig rig;
    rig.launcher.onLaunch = [](FakeChildProcess& child) {
        if (child.pid() == 4000) child.exit(3);
    };
    rig.start();
    EXPECT_EQ(rig.count("PROG adapter exited (status=3) — restarting"), 1);
    EXPECT_EQ(rig.log.back(), "PROG restart in 1s");
    rig.loop.advance(1);
    EXPECT_EQ(rig.streams(), 2);
    EXPECT_TRUE(rig.stream().isRunning());
}

TEST(MusicProgressEngine, TwoLinesSplitAtAnyByteAreEachHandledOnceWhenTheirFeedArrives) {
    const std::string chunk =
        json({{"type", "data"}, {"payload", kTrack}}).dump() + "\n" +
        json({{"type", "data"}, {"diff", true}, {"payload", {{"uniqueIdentifier", "t2"}, {"title", "Next"}}}})
            .dump() +
        "\n";
    for (std::size_t cut = 0; cut <= chunk.size(); ++cut) {
        SCOPED_TRACE(cut);
        EngineRig rig;
        rig.start();
        rig.raw(chunk.substr(0, cut));
        rig.raw(chunk.substr(cut));
        EXPECT_EQ(rig.count("PROG track → Song [uid:t1…]"), 1);
        EXPECT_EQ(rig.count("PROG track → Next [uid:t2…]"), 1);
        EXPECT_EQ(rig.count("PROG track"), 2);
        EXPECT_EQ(rig.changes.size(), 1u);
    }
}

TEST(MusicProgressEngine, ALaunchDropsThePartialLineOfThePreviousRun) {
    EngineRig rig;
    rig.start();
    rig.raw(R"({"type":"data","payload":{"title":"Old",)");
    rig.stream().exit(1);
    rig.loop.runUntilIdle();
    rig.loop.advance(1);
    rig.raw(R"("duration":100}})"
            "\n"
            R"({"type":"data","payload":{"title":"New","duration":100}})"
            "\n");
    EXPECT_EQ(rig.count("PROG track → Old"), 0);
    EXPECT_EQ(rig.count("PROG track → New"), 1);
}

TEST(MusicProgressEngine, ALineOverOneMebibyteIsDroppedUpToItsFeedWithOneDiagnostic) {
    EngineRig rig;
    rig.start();
    const std::string block(256 * 1024, 'x');
    for (int i = 0; i < 5; ++i) rig.raw(block);  // 1.25 MiB without a line feed
    EXPECT_EQ(rig.count("PROG adapter line over 1 MiB dropped"), 1);
    rig.raw(R"(tail of the long line"}})"
            "\n"
            R"({"type":"data","payload":{"title":"Fits","duration":10}})"
            "\n");
    EXPECT_EQ(rig.count("PROG adapter line over 1 MiB dropped"), 1);
    EXPECT_EQ(rig.count("PROG track → Fits"), 1);
    // A long line that ends inside one chunk is dropped the same way.
    rig.raw(std::string(std::size_t(1) << 20 | 1, ' ') + "\n");
    EXPECT_EQ(rig.count("PROG adapter line over 1 MiB dropped"), 2);
}

TEST(MusicProgressEngine, BadLinesAreDroppedSilentlyAndCountAsNoFirstLine) {
    std::string deep(100000, '[');
    const std::string cases[] = {
        "",
        "not json",
        "[1,2,3]",
        "\"data\"",
        R"({"type":"error","payload":{"title":"E","duration":5}})",
        R"({"type":["data"],"payload":{"title":"E","duration":5}})",
        R"({"payload":{"title":"E","duration":5}})",
        R"({"type":"data","payload":{"title":"E","duration":1e400}})",
        R"({"type":"data","payload":{"title":"E","x":)" + deep,
        R"({"type":"data","payload":{"title":"E","duration":5})",
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.substr(0, 80));
        EngineRig rig;
        rig.start();
        rig.raw(bad + "\n");
        rig.loop.advance(5);
        EXPECT_EQ(rig.count("PROG health: no data line"), 1);
        EXPECT_EQ(rig.count("PROG track"), 0);
        EXPECT_TRUE(rig.changes.empty());
    }
}

TEST(MusicProgressEngine, AWellFormedLineWithCarriageReturnAndWrongTypesStillCounts) {
    EngineRig rig;
    rig.start();
    rig.raw(R"({"type":"data","diff":"yes","payload":{"title":"Song","duration":"200","elapsedTime":[1],)"
            R"("playing":1,"playbackRate":"fast","timestamp":12,"bundleIdentifier":7}})"
            "\r\n");
    rig.loop.advance(5);
    EXPECT_EQ(rig.count("PROG health"), 0);
    EXPECT_EQ(rig.count("PROG track → Song [cmp:|Song||0.0…]"), 1) << "wrong types count as absent";
    const auto snap = rig.engine->snapshot();
    EXPECT_FALSE(snap.isValid) << "no duration: a live stream";
    EXPECT_FALSE(snap.isPlaying);
}

TEST(MusicProgressEngine, HugeFiniteValuesStillGiveAFiniteClampedSnapshot) {
    const json cases[] = {
        {{"title", "T"}, {"duration", 1e308}, {"elapsedTime", 1e308}, {"playbackRate", 1e308}},
        {{"title", "T"}, {"duration", 1e308}, {"elapsedTime", -1e308}, {"playbackRate", 1e308}},
        {{"title", "T"}, {"duration", 5e-324}, {"elapsedTime", 1}, {"playbackRate", 1}},
        {{"title", "T"}, {"duration", 18446744073709551615u}, {"elapsedTime", -9223372036854775807LL}},
    };
    for (const auto& payload : cases) {
        SCOPED_TRACE(payload.dump());
        EngineRig rig;
        rig.start();
        rig.data(payload);
        rig.loop.advance(3);
        const auto snap = rig.engine->snapshot();
        ASSERT_TRUE(snap.isValid);
        ASSERT_TRUE(snap.progress01);
        EXPECT_GE(*snap.progress01, 0.0);
        EXPECT_LE(*snap.progress01, 1.0);
        EXPECT_TRUE(std::isfinite(snap.duration));
    }
}

TEST(MusicProgressEngine, SnapshotsAllocateNothing) {
    if (!canCountAllocations()) GTEST_SKIP() << "allocations are counted in sanitizer builds";
    EngineRig rig;
    rig.start();
    rig.data(kTrack);
    ASSERT_TRUE(rig.engine->snapshot().appId);
    AllocationCounter counter;
    for (int i = 0; i < 100; ++i) expectValid(rig.engine->snapshot());
    EXPECT_EQ(counter.count(), 0);
}

TEST(MusicProgressEngine, TheListenerIsReadWhenTheQueuedCallRuns) {
    EngineRig rig;
    rig.start();
    int first = 0, second = 0;
    rig.engine->setOnChange([&](const ProgressSnapshot&) { ++first; });
    rig.stream().write(json({{"type", "data"}, {"payload", kTrack}}).dump() + "\n");
    rig.engine->setOnChange(nullptr);  // the bar stopped before the queued call ran
    rig.loop.runUntilIdle();
    EXPECT_EQ(first, 0);

    rig.engine->setOnChange([&](const ProgressSnapshot&) { ++first; });
    rig.stream().write(R"({"type":"data","diff":true,"payload":{"playing":false}})"
                       "\n");
    rig.engine->setOnChange([&](const ProgressSnapshot& s) {
        ++second;
        EXPECT_FALSE(s.isPlaying);
    });
    rig.loop.runUntilIdle();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

TEST(MusicProgressEngine, TheApplicationQuittingStopsTheEngineOnce) {
    EngineRig rig;
    rig.start();
    ASSERT_EQ(rig.willTerminate.size(), 1u);
    rig.willTerminate.front()();
    EXPECT_FALSE(rig.engine->isRunning());
    EXPECT_EQ(rig.stream().receivedSignals(), std::vector<int>{SIGTERM});
    rig.start();
    EXPECT_EQ(rig.willTerminate.size(), 1u) << "observed once for the life of the engine";

    // A quit that comes after the engine is gone does nothing.
    auto late = rig.willTerminate.front();
    rig.engine.reset();
    late();
}

TEST(MusicProgressEngine, ThePositionSummaryRunsOnlyWhenAskedFor) {
    for (bool summary : {false, true}) {
        SCOPED_TRACE(summary);
        EngineRig rig(summary);
        rig.start();
        rig.data({{"title", "Song"},
                  {"duration", 200},
                  {"elapsedTime", 30},
                  {"playing", true},
                  {"bundleIdentifier", "org.example.Player"},
                  {"timestamp", rig.stamp(-2)}});
        rig.loop.advance(1);
        rig.data({{"title", "Live"}});  // no duration: not valid any more
        rig.loop.advance(12);           // past the health check and the artwork fetches' time limits
        if (!summary) {
            EXPECT_EQ(rig.count("PROG elapsed="), 0);
            EXPECT_EQ(rig.count("PROG invalid"), 0);
            EXPECT_EQ(rig.loop.pendingTimers(), 0u) << "no timer runs for it";
            continue;
        }
        EXPECT_EQ(rig.lines("PROG elapsed="),
                  std::vector<std::string>{"PROG elapsed=33.0 dur=200.0 rate=1.00 src=org.example.Player"});
        EXPECT_EQ(rig.count("PROG invalid (no source / live stream)"), 1);
        rig.engine->stop();
        rig.loop.runUntilIdle();
        EXPECT_EQ(rig.loop.pendingTimers(), 0u);
    }
}

}  // namespace
}  // namespace velaro::test
