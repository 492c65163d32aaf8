// Seeks and player commands on the virtual loop: the position moves at once, the adapter's "seek" and
// "send" run with the right arguments, keyboard seeks are debounced into one, and late positions settle.
#include <gtest/gtest.h>

#include <signal.h>

#include <cmath>

#include "music/EngineRig.h"

namespace velaro::test {
namespace {

using nlohmann::json;

struct EngineCommands : ::testing::Test {
    EngineRig rig;
    void SetUp() override { rig.start(); }
    // A paused track, so positions read exactly what was set.
    void pausedAt(double elapsed, double duration = 200, const char* uid = "t1") {
        rig.data({{"title", "Song"},
                  {"duration", duration},
                  {"elapsedTime", elapsed},
                  {"playing", false},
                  {"uniqueIdentifier", uid}});
    }
    double position() { return rig.progress() * 200; }
    std::vector<std::vector<std::string>> seeks() {
        std::vector<std::vector<std::string>> out;
        for (const auto& c : rig.launcher.launched("seek")) out.push_back(c->spec().arguments);
        return out;
    }
};

TEST_F(EngineCommands, KeyPressesMoveAtOnceAndSendOneSeekToTheLastTarget) {
    pausedAt(40);
    for (double expected : {50.0, 60.0, 70.0}) {
        rig.engine->keySeek(10, 1.0, 0.25);
        EXPECT_NEAR(position(), expected, 1e-9);
        rig.loop.advance(0.1);
    }
    EXPECT_TRUE(seeks().empty());
    rig.loop.advance(0.149);
    EXPECT_TRUE(seeks().empty());
    rig.loop.advance(0.001);
    EXPECT_EQ(seeks(), (std::vector<std::vector<std::string>>{{"seek", "70000000"}}));
    EXPECT_EQ(rig.count("PROG seek(key) → 1:10 (Δ=+30s)"), 1);
    EXPECT_FALSE(rig.launcher.launched("seek").front()->spec().pipeOutput);

    // The next press starts a new sum.
    rig.engine->keySeek(-10, 1.0, 0.25);
    rig.loop.advance(0.25);
    EXPECT_EQ(rig.count("PROG seek(key) → 1:00 (Δ=-10s)"), 1);
}

TEST_F(EngineCommands, KeySeeksStayInsideTheTrackAndNeedAValidOne) {
    struct Case {
        double at, step, target;
    };
    for (const Case c : {Case{4, -10, 0}, Case{195, 10, 200}, Case{100, 10, 110}}) {
        EngineRig fresh;
        fresh.start();
        fresh.data({{"title", "Song"}, {"duration", 200}, {"elapsedTime", c.at}, {"playing", false}});
        fresh.engine->keySeek(c.step, 1.0, 0.25);
        fresh.loop.advance(0.25);
        ASSERT_EQ(fresh.launcher.launched("seek").size(), 1u);
        EXPECT_EQ(fresh.launcher.launched("seek")[0]->spec().arguments[1],
                  std::to_string(static_cast<long long>(c.target * 1e6)));
    }
    // A live stream (no length) and no track at all take no key seek.
    rig.data({{"title", "Radio"}, {"playing", true}});
    rig.engine->keySeek(10, 1.0, 0.25);
    rig.engine->stop();
    rig.start();
    rig.engine->keySeek(10, 1.0, 0.25);
    rig.loop.advance(1);
    EXPECT_TRUE(seeks().empty());
    EXPECT_EQ(rig.count("PROG seek"), 0);
}

TEST_F(EngineCommands, AQueuedKeySeekIsDroppedByATrackChangeOrAStop) {
    pausedAt(40);
    rig.engine->keySeek(10, 1.0, 0.25);
    pausedAt(0, 200, "t2");  // the next track arrives before the seek is sent
    rig.loop.advance(1);
    EXPECT_TRUE(seeks().empty()) << "the new track must not jump to the old target";
    EXPECT_NEAR(position(), 0, 1e-9);

    rig.engine->keySeek(10, 1.0, 0.25);
    rig.engine->stop();
    rig.loop.advance(1);
    EXPECT_TRUE(seeks().empty());

    // A title change under the same identifier keeps the pending seek.
    rig.start();
    pausedAt(40, 200, "t3");
    rig.engine->keySeek(10, 1.0, 0.25);
    rig.data({{"title", "Renamed"}}, true);
    rig.loop.advance(0.25);
    EXPECT_EQ(seeks(), (std::vector<std::vector<std::string>>{{"seek", "50000000"}}));
}

TEST_F(EngineCommands, AClickSeekRunsTheAdapterAndMovesThePosition) {
    pausedAt(10);
    rig.engine->seek(125.9, 1.0);
    EXPECT_EQ(seeks(), (std::vector<std::vector<std::string>>{{"seek", "125900000"}}));
    EXPECT_NEAR(position(), 125.9, 1e-9);
    EXPECT_EQ(rig.count("PROG seek → 2:05 (µs=125900000)"), 1);

    struct Case {
        double seconds;
        const char* micros;
    };
    for (const Case c : {Case{-3, "0"}, Case{1.5, "1500000"}, Case{83.5, "83500000"},
                         Case{1e300, "9223372036854775807"}, Case{9.3e12, "9223372036854775807"}}) {
        rig.engine->seek(c.seconds, 1.0);
        EXPECT_EQ(seeks().back()[1], c.micros) << c.seconds;
    }
    const auto before = seeks().size();
    for (double bad : {std::nan(""), double(INFINITY), -double(INFINITY)}) rig.engine->seek(bad, 1.0);
    EXPECT_EQ(seeks().size(), before) << "no process for a position that is not a number";
    EXPECT_EQ(rig.count("PROG seek FAILED: position is not a number"), 3);
}

TEST_F(EngineCommands, ASeekSettlesBeforeTheAdapterPositionsApplyAgain) {
    rig.data({{"title", "Song"},
              {"duration", 200},
              {"elapsedTime", 10},
              {"playing", true},
              {"uniqueIdentifier", "t1"}});
    rig.engine->seek(100, 1.0);
    rig.loop.advance(0.5);
    rig.data({{"elapsedTime", 10.5}, {"timestamp", rig.stamp(0)}}, true);  // sent before the player moved
    EXPECT_NEAR(position(), 100.5, 1e-6);
    rig.data({{"playing", false}}, true);
    EXPECT_FALSE(rig.engine->snapshot().isPlaying) << "only positions wait for the settle time";
    rig.loop.advance(0.5);
    rig.data({{"elapsedTime", 100.4}, {"timestamp", rig.stamp(0)}}, true);
    EXPECT_NEAR(position(), 100.4, 1e-6);
}

TEST_F(EngineCommands, WithoutAnAdapterNothingMovesAndNothingRuns) {
    pausedAt(10);
    rig.adapterPresent = false;
    rig.engine->seek(100, 1.0);
    EXPECT_NEAR(position(), 10, 1e-9);
    EXPECT_EQ(rig.count("PROG seek FAILED: adapter resources not found"), 1);
    rig.engine->keySeek(10, 1.0, 0.25);
    rig.loop.advance(0.25);
    EXPECT_EQ(rig.count("PROG seek FAILED: adapter resources not found"), 2);
    rig.engine->sendCommand(2, "play-toggle");
    EXPECT_EQ(rig.count("PROG play-toggle FAILED: adapter resources not found"), 1);
    EXPECT_TRUE(rig.launcher.launched("seek").empty() && rig.launcher.launched("send").empty());
}

TEST_F(EngineCommands, CommandsRunSendAndReportOnlyFailures) {
    rig.engine->sendCommand(2, "play-toggle");
    rig.launcher.launched("send").back()->exit(0);
    rig.engine->sendCommand(4, "track-skip");
    rig.launcher.launched("send").back()->exit(1);
    rig.engine->sendCommand(5, "track-skip");
    const auto sends = rig.launcher.launched("send");
    ASSERT_EQ(sends.size(), 3u);
    EXPECT_EQ(sends[0]->spec().arguments, (std::vector<std::string>{"send", "2"}));
    EXPECT_EQ(sends[2]->spec().arguments, (std::vector<std::string>{"send", "5"}));
    EXPECT_EQ(sends[0]->spec().program, EngineRig::adapterPath);
    EXPECT_EQ(rig.count("PROG play-toggle"), 0) << "status 0 writes nothing";
    EXPECT_EQ(rig.count("PROG track-skip command exited 1"), 1);

    rig.engine->seek(5, 1.0);
    rig.launcher.launched("seek").back()->exit(0);
    rig.engine->seek(6, 1.0);
    rig.launcher.launched("seek").back()->exit(3);
    EXPECT_EQ(rig.lines("PROG seek command"), std::vector<std::string>{"PROG seek command exited 3"});

    rig.launcher.failure = "/opt/velaro/libexec/velaro/velaro-media-adapter: Permission denied";
    rig.engine->sendCommand(2, "play-toggle");
    rig.engine->seek(7, 1.0);
    EXPECT_EQ(
        rig.count(
            "PROG play-toggle FAILED: /opt/velaro/libexec/velaro/velaro-media-adapter: Permission denied"),
        1);
    EXPECT_EQ(
        rig.count("PROG seek FAILED: /opt/velaro/libexec/velaro/velaro-media-adapter: Permission denied"), 1);
    EXPECT_EQ(rig.count("PROG seek → 0:07"), 0)
        << "a seek that did not run moves nothing and says nothing more";
}

// A player that never answers holds a command on the bus. Each kind runs one at a time, the newer command
// ending the older one before it starts (so that the older cannot land last), and none outlives the
// deadline a "get" has: SIGTERM at five seconds, SIGKILL a second later.
TEST_F(EngineCommands, OneCommandOfAKindRunsAtATimeAndNoneOutlivesTheDeadline) {
    pausedAt(10);
    rig.engine->seek(20, 1.0);
    const auto first = rig.launcher.launched("seek").back();
    rig.engine->sendCommand(2, "play-toggle");
    const auto toggle = rig.launcher.launched("send").back();
    toggle->ignoresTerm = true;
    rig.loop.advance(1);
    bool olderEndedFirst = false;
    rig.launcher.onLaunch = [&](FakeChildProcess&) { olderEndedFirst = !first->receivedSignals().empty(); };
    rig.engine->seek(30, 1.0);
    EXPECT_TRUE(olderEndedFirst && first->handlersDropped());
    EXPECT_EQ(first->receivedSignals(), std::vector<int>{SIGTERM});
    EXPECT_TRUE(toggle->receivedSignals().empty()) << "another kind runs beside it";
    EXPECT_EQ(rig.count("PROG seek still running → superseded by a newer seek"), 1);

    rig.loop.advance(3.999);
    EXPECT_TRUE(toggle->receivedSignals().empty());
    rig.loop.advance(0.001);
    EXPECT_EQ(rig.count("PROG play-toggle TIMEOUT → SIGTERM"), 1);
    rig.loop.advance(1);
    EXPECT_EQ(toggle->receivedSignals(), (std::vector<int>{SIGTERM, SIGKILL}));
    EXPECT_EQ(rig.count("PROG seek TIMEOUT → SIGTERM"), 1) << "the second seek, five seconds after it began";
    EXPECT_EQ(rig.count("PROG play-toggle command exited"), 0) << "one line for each event";

    // One that ends in time is left alone and frees its kind.
    rig.engine->seek(40, 1.0);
    rig.launcher.launched("seek").back()->exit(0);
    rig.engine->seek(50, 1.0);
    rig.loop.advance(10);
    EXPECT_EQ(rig.count("PROG seek still running"), 1);
}

// A slow player still holds a play/pause when the user skips a track: the skip must not end the toggle (which
// would then be lost), nor a skip back end a skip forward. Only the same command takes the place of its own.
TEST_F(EngineCommands, EachPlayerCommandIsItsOwnKind) {
    pausedAt(10);
    rig.engine->sendCommand(2, "play-toggle");
    const auto toggle = rig.launcher.launched("send").back();
    rig.engine->sendCommand(4, "track-skip");
    const auto next = rig.launcher.launched("send").back();
    rig.engine->sendCommand(5, "track-skip");
    rig.engine->seek(30, 1.0);
    rig.loop.advance(1);
    for (const auto& running : rig.launcher.launched("send"))
        EXPECT_TRUE(running->receivedSignals().empty() && !running->handlersDropped())
            << running->spec().arguments.back();
    EXPECT_EQ(rig.count("PROG play-toggle still running") + rig.count("PROG track-skip still running"), 0);

    rig.engine->sendCommand(4, "track-skip");
    EXPECT_EQ(next->receivedSignals(), std::vector<int>{SIGTERM});
    EXPECT_EQ(rig.count("PROG track-skip still running → superseded by a newer track-skip"), 1);
    EXPECT_TRUE(toggle->receivedSignals().empty());
    toggle->exit(2);
    EXPECT_EQ(rig.count("PROG play-toggle command exited 2"), 1) << "its exit still reports";

    // The deadlines stay, for each kind on its own.
    rig.loop.advance(4);
    EXPECT_EQ(rig.count("PROG track-skip TIMEOUT → SIGTERM"), 1)
        << "the skip back, five seconds after it began";
    EXPECT_EQ(rig.count("PROG seek TIMEOUT → SIGTERM"), 1);
    rig.loop.advance(1);
    EXPECT_EQ(rig.count("PROG track-skip TIMEOUT → SIGTERM"), 2) << "and the second skip forward";
    EXPECT_EQ(rig.count("PROG play-toggle TIMEOUT"), 0);
}

}  // namespace
}  // namespace velaro::test
