// The artwork colour on the virtual loop with scripted "get" children: accepted colours, stale and foreign
// results, the one retry, hangs that end in SIGTERM and SIGKILL, stops during a launch, the output cap.
#include <gtest/gtest.h>

#include <signal.h>

#include <QBuffer>
#include <QImage>

#include "music/AdapterProtocol.h"
#include "music/ArtworkColor.h"
#include "music/EngineRig.h"

namespace velaro::test {
namespace {

using nlohmann::json;

std::string coverBase64(QColor colour) {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toBase64().toStdString();
}

// The PNG chunk checksum.
std::uint32_t crc32(const QByteArray& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// What "get" prints for a track.
std::string getOutput(const std::string& title, QColor colour = Qt::red, bool wrapped = true) {
    json keys = {{"bundleIdentifier", "org.example.Player"},
                 {"title", title},
                 {"artist", "Band"},
                 {"artworkData", coverBase64(colour)}};
    return (wrapped ? json({{"payload", keys}}) : keys).dump() + "\n";
}

struct EngineArtwork : ::testing::Test {
    EngineRig rig;
    // How each "get" answers, by launch order; a missing entry leaves it running.
    std::vector<std::function<void(FakeChildProcess&)>> answers;

    void SetUp() override {
        rig.launcher.onLaunch = [this](FakeChildProcess& child) {
            if (child.command() != "get") return;
            const auto n = rig.launcher.launched("get").size() - 1;
            if (n < answers.size() && answers[n]) answers[n](child);
        };
        rig.start();
    }
    static std::function<void(FakeChildProcess&)> answer(std::string output, int status = 0) {
        return [output = std::move(output), status](FakeChildProcess& child) {
            child.write(output);
            child.exit(status);
        };
    }
    void track(const std::string& title) {
        rig.data({{"title", title},
                  {"artist", "Band"},
                  {"bundleIdentifier", "org.example.Player"},
                  {"duration", 100}});
    }
    std::string key40(const std::string& title) { return "org.example.Player|" + title + "|Band"; }
    int gets() { return int(rig.launcher.launched("get").size()); }
};

TEST_F(EngineArtwork, TheCoverOfANewTrackGivesItsColour) {
    for (bool wrapped : {true, false}) {
        EngineRig fresh;
        fresh.launcher.onLaunch = [&](FakeChildProcess& child) {
            if (child.command() == "get") answer(getOutput("Song", Qt::red, wrapped))(child);
        };
        fresh.start();
        fresh.data({{"title", "Song"}, {"artist", "Band"}, {"bundleIdentifier", "org.example.Player"}});
        fresh.loop.runUntilIdle();
        EXPECT_EQ(fresh.count("PROG artwork color → #FF0000 [org.example.Player|Song|Band]"), 1) << wrapped;
        ASSERT_TRUE(fresh.engine->artworkColor());
        EXPECT_EQ(artworkHex(*fresh.engine->artworkColor()), "#FF0000");
        const auto get = fresh.launcher.launched("get").front();
        EXPECT_EQ(get->spec().arguments, std::vector<std::string>{"get"});
        EXPECT_TRUE(get->spec().pipeOutput);
        // The same track on later lines keeps its colour and asks nothing more.
        fresh.data({{"elapsedTime", 5}}, true);
        EXPECT_EQ(fresh.launcher.launched("get").size(), 1u);
    }
}

TEST_F(EngineArtwork, TwoQuickTrackChangesSkipTheFirstOrDropItsResultAndColourTheSecond) {
    // Both lines in one chunk: the first request is stale before it ever starts.
    answers = {answer(getOutput("Second"))};
    rig.raw(json({{"type", "data"},
                  {"payload",
                   {{"title", "First"}, {"artist", "Band"}, {"bundleIdentifier", "org.example.Player"}}}})
                .dump() +
            "\n" +
            json({{"type", "data"},
                  {"payload",
                   {{"title", "Second"}, {"artist", "Band"}, {"bundleIdentifier", "org.example.Player"}}}})
                .dump() +
            "\n");
    EXPECT_EQ(rig.count("PROG artwork SKIPPED before spawn (stale gen 1) [" + key40("First") + "]"), 1);
    EXPECT_EQ(gets(), 1);
    EXPECT_EQ(rig.count("PROG artwork color → #FF0000 [" + key40("Second") + "]"), 1);

    // A running "get" whose track changes meanwhile: its result is dropped, and the next one runs after it.
    answers.push_back(nullptr);  // the third track's "get" hangs until the test answers
    answers.push_back(answer(getOutput("Fourth", Qt::blue)));
    track("Third");
    ASSERT_EQ(gets(), 2);
    track("Fourth");
    EXPECT_EQ(gets(), 2) << "one get at a time";
    auto third = rig.launcher.launched("get")[1];
    third->write(getOutput("Third"));
    third->exit(0);
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.count("PROG artwork DROPPED (gen) armed=[org.example.Player|Third|Band] "
                        "got=[org.example.Player|Third|Band]"),
              1);
    EXPECT_EQ(gets(), 3);
    EXPECT_EQ(rig.count("PROG artwork color → #0000FF [" + key40("Fourth") + "]"), 1);
    EXPECT_EQ(artworkHex(*rig.engine->artworkColor()), "#0000FF");
}

TEST_F(EngineArtwork, AForeignCoverIsDroppedAndRetriedExactlyOnce) {
    answers = {answer(getOutput("Previous")), answer(getOutput("Previous"))};
    track("Current");
    EXPECT_EQ(rig.count("PROG artwork DROPPED (identity) armed=[org.example.Player|Current|Ban] "
                        "got=[org.example.Player|Previous|Ba]"),
              1);
    EXPECT_FALSE(rig.engine->artworkColor());
    rig.data({{"elapsedTime", 1}}, true);
    EXPECT_EQ(rig.count("PROG artwork RETRY (last credit) [" + key40("Current") + "]"), 1);
    EXPECT_EQ(gets(), 2);
    rig.data({{"elapsedTime", 2}}, true);
    rig.data({{"elapsedTime", 3}}, true);
    EXPECT_EQ(gets(), 2) << "the credit is spent";
    EXPECT_EQ(rig.count("PROG artwork RETRY"), 1);
}

TEST_F(EngineArtwork, UnusableOutputIsNoResultAndKeepsTheRetry) {
    const std::string badImage =
        json({{"payload", {{"title", "Song"}, {"artworkData", "bm90IGFuIGltYWdl"}}}}).dump();
    const std::string truncated = [] {
        std::string b = coverBase64(Qt::red);
        const auto bytes = QByteArray::fromBase64(QByteArray::fromStdString(b));
        return json({{"title", "Song"},
                     {"artworkData", bytes.left(bytes.size() / 2).toBase64().toStdString()}})
            .dump();
    }();
    // A PNG header that claims 100000 × 100000 pixels, with its checksum made right.
    const std::string huge = [] {
        QByteArray png = QByteArray::fromBase64(QByteArray::fromStdString(coverBase64(Qt::red)));
        png.replace(16, 8, QByteArray::fromHex("000186a0000186a0"));
        const std::uint32_t crc = crc32(png.mid(12, 17));
        for (int i = 0; i < 4; ++i) png[29 + i] = char(crc >> (24 - 8 * i));
        return json({{"title", "Song"}, {"artworkData", png.toBase64().toStdString()}}).dump();
    }();
    const std::string cases[] = {
        "",
        "not json",
        "[1]",
        R"({"payload":"x","title":"Song"})",
        R"({"title":"Song"})",
        R"({"title":"Song","artworkData":5})",
        R"({"title":"Song","artworkData":"not base64!"})",
        R"({"title":"Song","artworkData":"iVBO Rw0K"})",
        badImage,
        truncated,
        huge,
    };
    for (const auto& output : cases) {
        SCOPED_TRACE(output.substr(0, 60));
        EngineRig fresh;
        fresh.launcher.onLaunch = [&](FakeChildProcess& child) {
            if (child.command() == "get") answer(output, 3)(child);
        };
        fresh.start();
        fresh.data({{"title", "Song"}});
        EXPECT_EQ(fresh.count("PROG artwork NO RESULT (bytes=" + std::to_string(output.size()) +
                              ", exit=3) [|Song|]"),
                  1);
        fresh.data({{"elapsedTime", 1}}, true);
        EXPECT_EQ(fresh.count("PROG artwork RETRY (last credit) [|Song|]"), 1);
    }
}

// A cover the adapter may not read (not a picture, a file of /proc, an address of the user's networks) is
// said once; asking again could only say the same.
TEST_F(EngineArtwork, ARefusedCoverIsSaidOnceAndNotAskedForAgain) {
    const json refusal = {{"payload",
                           {{"bundleIdentifier", "org.example.Player"},
                            {"title", "Song"},
                            {"artist", "Band"},
                            {"artworkRefused", "file:///etc/passwd: not a picture"}}}};
    answers = {answer(refusal.dump()), answer(getOutput("Next"))};
    track("Song");
    rig.data({{"elapsedTime", 1}}, true);
    EXPECT_EQ(rig.lines("PROG artwork"),
              std::vector<std::string>{"PROG artwork REFUSED (file:///etc/passwd: not a "
                                       "picture) [" +
                                       key40("Song") + "]"});
    track("Next");
    EXPECT_EQ(rig.count("PROG artwork color → #FF0000 [" + key40("Next") + "]"), 1)
        << "a new track asks anew";
    EXPECT_EQ(adapter::artworkRefusal(R"({"payload": {"artworkRefused": 5}})"), std::nullopt);
}

TEST_F(EngineArtwork, AHangingGetGetsSigtermAtFiveSecondsAndSigkillAtSixAndTheQueueMovesOn) {
    answers = {[](FakeChildProcess& child) { child.ignoresTerm = true; }, answer(getOutput("Next"))};
    track("Stuck");
    auto stuck = rig.launcher.launched("get").front();
    rig.loop.advance(4.999);
    EXPECT_TRUE(stuck->receivedSignals().empty());
    rig.loop.advance(0.001);
    EXPECT_EQ(stuck->receivedSignals(), std::vector<int>{SIGTERM});
    EXPECT_EQ(rig.count("PROG artwork TIMEOUT → SIGTERM [" + key40("Stuck") + "]"), 1);
    track("Next");
    EXPECT_EQ(gets(), 1);
    rig.loop.advance(1);
    EXPECT_EQ(stuck->receivedSignals(), (std::vector<int>{SIGTERM, SIGKILL}));
    EXPECT_EQ(rig.count("PROG artwork still alive → SIGKILL [" + key40("Stuck") + "]"), 1);
    EXPECT_FALSE(stuck->isRunning());
    EXPECT_EQ(rig.count("PROG artwork NO RESULT (bytes=0, exit=9) [" + key40("Stuck") + "]"), 1);
    EXPECT_EQ(gets(), 2);
    EXPECT_EQ(rig.count("PROG artwork color → #FF0000 [" + key40("Next") + "]"), 1);
}

TEST_F(EngineArtwork, AReadEndsAtSixSecondsWhenADescendantKeepsThePipeOpen) {
    answers = {[](FakeChildProcess& child) {
        child.write(getOutput("Song"));
        // The "get" is gone, but something it started still holds its output open.
        child.exit(0, /*closesOutput=*/false);
    }};
    track("Song");
    auto get = rig.launcher.launched("get").front();
    rig.loop.advance(5.9);
    EXPECT_FALSE(rig.engine->artworkColor()) << "still reading";
    rig.loop.advance(0.1);
    EXPECT_EQ(rig.count("PROG artwork TIMEOUT"), 0) << "the get itself had ended";
    EXPECT_EQ(rig.count("PROG artwork color → #FF0000"), 1) << "what arrived before the deadline counts";
    EXPECT_TRUE(get->handlersDropped());
}

TEST_F(EngineArtwork, AStopDuringTheLaunchLeavesABornStaleGetThatIsEnded) {
    for (bool ignoresTerm : {false, true}) {
        EngineRig fresh;
        fresh.launcher.onLaunch = [&](FakeChildProcess& child) {
            if (child.command() != "get") return;
            child.ignoresTerm = ignoresTerm;
            fresh.engine->stop();
        };
        fresh.start();
        fresh.data({{"title", "Song"}});
        EXPECT_EQ(fresh.count("PROG artwork born stale → terminate+reap [|Song|]"), 1);
        auto get = fresh.launcher.launched("get").front();
        fresh.loop.advance(1);
        EXPECT_FALSE(get->isRunning());
        EXPECT_EQ(get->receivedSignals(),
                  (ignoresTerm ? std::vector<int>{SIGTERM, SIGKILL} : std::vector<int>{SIGTERM}));
        EXPECT_EQ(fresh.count("PROG artwork still alive → SIGKILL"), ignoresTerm ? 1 : 0);
        fresh.loop.advance(10);
        EXPECT_EQ(fresh.count("PROG artwork NO RESULT"), 0) << "a stale result is not even read";
        EXPECT_EQ(fresh.count("PROG artwork TIMEOUT"), 0);
    }
}

TEST_F(EngineArtwork, StopEndsARunningGetAndATitlelessPayloadClearsTheColour) {
    answers = {answer(getOutput("Song")), nullptr};
    track("Song");
    ASSERT_TRUE(rig.engine->artworkColor());
    rig.data({{"uniqueIdentifier", "no-title"}});
    EXPECT_FALSE(rig.engine->artworkColor());
    EXPECT_EQ(gets(), 1) << "no title: no artwork to ask for";

    track("Another");
    auto running = rig.launcher.launched("get").back();
    rig.engine->stop();
    EXPECT_EQ(running->receivedSignals(), std::vector<int>{SIGTERM});
    rig.loop.advance(2);
    EXPECT_FALSE(running->isRunning());
    EXPECT_FALSE(rig.engine->artworkColor());
}

TEST_F(EngineArtwork, OutputPastThirtyTwoMebibytesEndsTheGetAsNoResult) {
    answers = {nullptr};
    track("Song");
    auto get = rig.launcher.launched("get").front();
    const std::string block(std::size_t(1) << 20, 'A');
    for (int i = 0; i < 33; ++i) get->write(block);
    EXPECT_EQ(get->receivedSignals(), std::vector<int>{SIGTERM});
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.count("PROG artwork NO RESULT (bytes=" + std::to_string(33u << 20) + ", exit=15) [" +
                        key40("Song") + "]"),
              1);
}

TEST_F(EngineArtwork, WithoutAnAdapterOrALaunchTheFetchFailsAndSaysWhy) {
    rig.adapterPresent = false;
    track("Song");
    EXPECT_EQ(rig.count("PROG artwork FAILED: adapter resources not found in bundle"), 1);
    rig.adapterPresent = true;
    rig.launcher.failure = "velaro-media-adapter: Permission denied";
    rig.data({{"elapsedTime", 1}}, true);  // the retry
    EXPECT_EQ(rig.count("PROG artwork FAILED to spawn: velaro-media-adapter: Permission denied"), 1);
}

TEST(ArtworkColor, HexRoundsEachChannelAndRefusesNonNumbers) {
    EXPECT_EQ(artworkHex(Color::rgb(1, 0, 0)), "#FF0000");
    EXPECT_EQ(artworkHex(Color::rgb(0.5, 0.2, 0.998)), "#8033FE");
    EXPECT_EQ(artworkHex(Color::rgb(std::nan(""), 0, 0)), "?");
    EXPECT_EQ(decodeArtwork(getOutput("A", QColor(0, 128, 255)))->key,
              std::optional<std::string>("org.example.Player|A|Band"));
    EXPECT_EQ(artworkHex(decodeArtwork(getOutput("A", QColor(0, 128, 255)))->color), "#0080FF");
    const auto untitled = decodeArtwork(json({{"artworkData", coverBase64(Qt::green)}}).dump());
    ASSERT_TRUE(untitled);
    EXPECT_EQ(untitled->key, std::nullopt);
}

}  // namespace
}  // namespace velaro::test
