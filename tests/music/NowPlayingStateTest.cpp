// Now-playing state from the stream's lines, through the engine: positions at a moment, rates, track
// identity, merging and replacing payloads, and when the listener is told.
#include <gtest/gtest.h>

#include "music/EngineRig.h"

namespace velaro::test {
namespace {

using nlohmann::json;

struct NowPlayingState : ::testing::Test {
    EngineRig rig;
    void SetUp() override { rig.start(); }
    // A playing track of 200 s with its position `elapsed` at `offset` seconds from now.
    json playing(double elapsed, double offset = 0, const char* uid = "t1") {
        return {{"title", "Song"},
                {"duration", 200},
                {"elapsedTime", elapsed},
                {"timestamp", rig.stamp(offset)},
                {"playing", true},
                {"uniqueIdentifier", uid},
                {"bundleIdentifier", "org.example.Player"}};
    }
};

TEST_F(NowPlayingState, PositionsAreExtrapolatedFromTheirMomentAtTheRate) {
    struct Case {
        const char* name;
        json change;  // merged into a track at 30 s, 2 s ago, playing
        double wait;
        double progress;
    };
    const Case cases[] = {
        {"elapsed 30, two seconds ago", json::object(), 0, 32.0 / 200},
        {"and one more second", json::object(), 1, 33.0 / 200},
        {"a moment in the future counts as now", {{"timestamp", rig.stamp(10)}}, 5, 30.0 / 200},
        {"past the end", {{"elapsedTime", 250}}, 0, 1},
        {"before the start", {{"elapsedTime", -50}}, 0, 0},
        {"twice as fast", {{"playbackRate", 2}}, 1, (30 + 2 * 3.0) / 200},
        {"paused with a rate", {{"playing", false}, {"playbackRate", 1}}, 1, 30.0 / 200},
        {"no playing flag, half speed",
         {{"playing", nullptr}, {"playbackRate", 0.5}},
         2,
         (30 + 0.5 * 4) / 200},
        {"neither key", {{"playing", nullptr}}, 2, 30.0 / 200},
        {"a zone offset",
         {{"timestamp", "2024-05-01T14:00:00.000+02:00"}, {"elapsedTime", 10}},
         0,
         10.0 / 200},
        {"no zone: the moment of handling",
         {{"timestamp", "2024-05-01 11:00:00"}, {"elapsedTime", 10}},
         0,
         10.0 / 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineRig fresh;
        fresh.start();
        json payload = {{"title", "Song"},   {"duration", 200},
                        {"elapsedTime", 30}, {"timestamp", fresh.stamp(-2)},
                        {"playing", true},   {"uniqueIdentifier", "t1"}};
        for (auto& [k, v] : c.change.items()) payload[k] = v;
        fresh.data(payload, false);
        fresh.loop.advance(c.wait);
        EXPECT_NEAR(fresh.progress(), c.progress, 1e-6);
    }
}

TEST_F(NowPlayingState, PausingFreezesThePositionAtTheLastReportedOne) {
    rig.data(playing(30));
    rig.loop.advance(10);
    EXPECT_NEAR(rig.progress(), 40.0 / 200, 1e-9);
    rig.data({{"playing", false}}, true);
    EXPECT_NEAR(rig.progress(), 30.0 / 200, 1e-9) << "the time extrapolated since the report is dropped";
    rig.loop.advance(10);
    EXPECT_NEAR(rig.progress(), 30.0 / 200, 1e-9);
}

TEST_F(NowPlayingState, PlayingAndPausingTellTheListenerOncePerChange) {
    rig.data(playing(30));
    ASSERT_EQ(rig.changes.size(), 1u);
    EXPECT_TRUE(rig.changes[0].isValid && rig.changes[0].isPlaying);
    EXPECT_EQ(*rig.changes[0].appId, "org.example.Player");
    rig.data({{"playing", false}}, true);
    rig.data({{"playing", false}}, true);
    ASSERT_EQ(rig.changes.size(), 2u);
    EXPECT_FALSE(rig.changes[1].isPlaying);
    EXPECT_EQ(rig.count("PROG rate → paused"), 1);
    // A new position alone tells nobody: the bar polls for it.
    rig.data({{"elapsedTime", 90}}, true);
    EXPECT_EQ(rig.changes.size(), 2u);
}

TEST_F(NowPlayingState, TheSameIdentifierKeepsTheTrackAndANewOneStartsANewTrack) {
    rig.data(playing(30));
    rig.loop.advance(5);
    rig.data({{"title", "Song (Live)"}}, true);
    EXPECT_NEAR(rig.progress(), 35.0 / 200, 1e-9)
        << "a new title under the same identifier is the same track";
    EXPECT_EQ(rig.count("PROG track"), 1);

    rig.data({{"uniqueIdentifier", "t2"}}, true);
    EXPECT_EQ(rig.count("PROG track → Song (Live) [uid:t2…]"), 1);
    EXPECT_NEAR(rig.progress(), 35.0 / 200, 1e-9)
        << "the stored position at its moment applies to the new track";
    rig.data({{"uniqueIdentifier", "t3"}, {"elapsedTime", nullptr}}, true);
    EXPECT_NEAR(rig.progress(), 0, 1e-9) << "without a position a new track starts at 0, now";
    rig.loop.advance(2);
    EXPECT_NEAR(rig.progress(), 2.0 / 200, 1e-9);
}

TEST_F(NowPlayingState, TitleKeysIncludeTheLengthSoANewLengthIsANewTrack) {
    rig.data({{"title", "Song"},
              {"artist", "Band"},
              {"duration", 215.3},
              {"elapsedTime", 50},
              {"playing", true},
              {"bundleIdentifier", "org.example.Player"}});
    EXPECT_EQ(rig.count("PROG track → Song [cmp:org.example.Player|S…]"), 1);
    rig.loop.advance(10);
    rig.data({{"duration", 216}}, true);
    EXPECT_EQ(rig.count("PROG track"), 2);
    EXPECT_NEAR(rig.progress(), 50.0 / 216, 1e-9) << "the stored position applies to the new track";
}

TEST_F(NowPlayingState, MergingNullRemovesAKeyAndAnEmptyReplacingPayloadForgetsTheTrack) {
    rig.data(playing(30));
    rig.data({{"title", nullptr}}, true);
    EXPECT_TRUE(rig.engine->snapshot().isValid) << "the identifier still names the track";
    EXPECT_EQ(rig.count("PROG track"), 1);
    rig.data({{"uniqueIdentifier", nullptr}}, true);
    EXPECT_EQ(rig.count("PROG source lost"), 1);
    EXPECT_FALSE(rig.engine->snapshot().isValid);
    EXPECT_EQ(rig.changes.size(), 2u);

    rig.data(playing(10, 0, "t4"));
    const auto before = rig.changes.size();
    rig.line({{"type", "data"}, {"payload", json::object()}});
    EXPECT_EQ(rig.changes.size(), before + 1);
    EXPECT_FALSE(rig.changes.back().isValid);
    EXPECT_FALSE(rig.changes.back().progress01);
    EXPECT_FALSE(rig.engine->snapshot().isValid);
    rig.line({{"type", "data"}, {"payload", json::object()}});
    EXPECT_EQ(rig.changes.size(), before + 1) << "told once";
}

TEST_F(NowPlayingState, ALiveStreamIsKnownButNotValidAndBecomesValidWithALength) {
    rig.data({{"title", "Radio"}, {"playing", true}});
    EXPECT_FALSE(rig.engine->snapshot().isValid);
    ASSERT_EQ(rig.changes.size(), 1u) << "a known track with or without a length is news";
    EXPECT_FALSE(rig.changes[0].isValid);
    EXPECT_FALSE(rig.changes[0].appId);
    rig.data({{"title", "Radio"}, {"playing", true}, {"duration", 60}}, false);
    EXPECT_EQ(rig.changes.size(), 2u);
    EXPECT_TRUE(rig.changes[1].isValid);
}

TEST_F(NowPlayingState, StopForgetsTheTrackAndTheNextLaunchStartsFromAnEmptyPayload) {
    rig.data(playing(30));
    rig.engine->stop();
    EXPECT_FALSE(rig.engine->snapshot().isValid);
    rig.start();
    rig.data({{"playing", true}}, true);
    EXPECT_FALSE(rig.engine->snapshot().isValid) << "a merge after a launch has no track to merge into";
    EXPECT_EQ(rig.count("PROG source lost"), 1);
}

}  // namespace
}  // namespace velaro::test
