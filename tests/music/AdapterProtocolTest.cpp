// The adapter protocol's pure parts: the strict date-time forms, textual forms and keys, the rate rule,
// cutting text at characters, and where the adapter program is looked for.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "music/AdapterProtocol.h"

namespace velaro::adapter {
namespace {

using nlohmann::json;

constexpr double kNoon = 1714564800.0;  // 2024-05-01T12:00:00Z

TEST(AdapterProtocol, TimestampsAreStrictInternetDateTimes) {
    struct Case {
        const char* text;
        std::optional<double> seconds;
    };
    const Case cases[] = {
        {"2024-05-01T12:00:00Z", kNoon},
        {"2024-05-01T12:00:00.250+02:00", kNoon - 7200 + 0.25},
        {"2024-05-01T12:00:00-05:30", kNoon + 5.5 * 3600},
        {"2024-05-01T12:00:00.123456789Z", kNoon + 0.123456789},
        {"1970-01-01T00:00:00Z", 0.0},
        {"1969-12-31T23:59:59Z", -1.0},
        {"2024-02-29T00:00:00Z", 1709164800.0},
        {"2024-05-01 12:00:00", std::nullopt},  // a space, no zone
        {"2024-05-01T12:00", std::nullopt},
        {"2024-05-01T12:00:00", std::nullopt},  // no zone
        {"2024-05-01t12:00:00z", std::nullopt},
        {"2024-05-01T12:00:00+0200", std::nullopt},
        {"2024-05-01T12:00:00.Z", std::nullopt},
        {"2024-05-01T12:00:00Z ", std::nullopt},
        {" 2024-05-01T12:00:00Z", std::nullopt},
        {"2023-02-29T00:00:00Z", std::nullopt},
        {"2024-13-01T00:00:00Z", std::nullopt},
        {"2024-04-31T00:00:00Z", std::nullopt},
        {"2024-05-01T24:00:00Z", std::nullopt},
        {"2024-05-01T12:60:00Z", std::nullopt},
        {"2024-05-01T12:00:61Z", std::nullopt},
        {"2024-05-01T12:00:00+24:00", std::nullopt},
        {"+2024-05-01T12:00:00Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseTimestamp(c.text);
        ASSERT_EQ(parsed.has_value(), c.seconds.has_value());
        if (parsed) {
            EXPECT_NEAR(*parsed, *c.seconds, 1e-6);
        }
    }
}

TEST(AdapterProtocol, TextualFormsAreStableAndKeysFollowTheFirstRuleThatApplies) {
    struct TextCase {
        json value;
        std::string text;
    };
    const TextCase texts[] = {
        {"plain", "plain"},
        {42, "42"},
        {-7, "-7"},
        {0.1, "0.1"},
        {3.0, "3"},
        {1e21, "1e+21"},
        {true, "true"},
        {nullptr, "null"},
        {{1, "a"}, "[1,\"a\"]"},
        {{{"b", 1}, {"a", 2}}, "{\"a\":2,\"b\":1}"},
    };
    for (const auto& c : texts) EXPECT_EQ(text(c.value), c.text) << c.value.dump();
    EXPECT_EQ(lengthText(0), "0.0");
    EXPECT_EQ(lengthText(215.3), "215.3");
    EXPECT_EQ(lengthText(200), "200.0");
    EXPECT_EQ(lengthText(1e300), "1e+300");

    struct KeyCase {
        json payload;
        std::optional<std::string> track;
        std::optional<std::string> artwork;
    };
    const KeyCase keys[] = {
        {{{"uniqueIdentifier", 17}, {"title", "T"}}, "uid:17", "|T|"},
        {{{"uniqueIdentifier", nullptr}}, "uid:null", std::nullopt},
        {{{"title", "T"}, {"artist", "A"}, {"duration", 215.3}, {"bundleIdentifier", "org.x"}},
         "cmp:org.x|T|A|215.3",
         "org.x|T|A"},
        {{{"title", 5}, {"duration", "long"}, {"bundleIdentifier", 9}}, "cmp:|5||0.0", "9|5|"},
        {{{"artist", "A"}, {"duration", 10}}, std::nullopt, std::nullopt},
    };
    for (const auto& c : keys) {
        SCOPED_TRACE(c.payload.dump());
        EXPECT_EQ(trackKey(c.payload), c.track);
        EXPECT_EQ(artworkKey(c.payload), c.artwork);
    }
}

TEST(AdapterProtocol, RateComesFromPlayingAndPlaybackRateTogether) {
    struct Case {
        json payload;
        double rate;
    };
    const Case cases[] = {
        {{{"playing", true}, {"playbackRate", 2}}, 2},
        {{{"playing", true}}, 1},
        {{{"playing", false}, {"playbackRate", 1}}, 0},
        {{{"playing", false}}, 0},
        {{{"playbackRate", 0.5}}, 0.5},
        {json::object(), 0},
        {{{"playing", "yes"}, {"playbackRate", "1"}}, 0},
        {{{"playing", 1}, {"playbackRate", 3}}, 3},
    };
    for (const auto& c : cases) EXPECT_EQ(playbackRate(c.payload), c.rate) << c.payload.dump();
}

TEST(AdapterProtocol, DataLinesNeedTheDataTypeAndAnObject) {
    EXPECT_FALSE(parseDataLine(std::string(65, '[') + std::string(65, ']')));
    std::string deepest =
        R"({"type":"data","payload":{"x":)" + std::string(62, '[') + std::string(62, ']') + "}}";
    EXPECT_TRUE(parseDataLine(deepest)) << "64 levels are fine";
    const auto merge = parseDataLine(R"({"type":"data","diff":true,"payload":{"title":null}})");
    ASSERT_TRUE(merge);
    EXPECT_TRUE(merge->diff);
    EXPECT_TRUE(merge->payload.at("title").is_null());
    const auto bare = parseDataLine(R"({"type":"data","payload":[1]})");
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->diff);
    EXPECT_EQ(bare->payload, json::object());
    EXPECT_TRUE(parseDataLine(R"({"type":"data","payload":{"t":"[[[{{{\"]]]"}})")) << "brackets in strings";
}

TEST(AdapterProtocol, TheSplitterKeepsLinesWholeAndDropsOverLongOnes) {
    LineSplitter splitter;
    std::vector<std::string> lines;
    EXPECT_EQ(splitter.append("a\r\nb", lines), 0u);
    EXPECT_EQ(splitter.append("\n\nc", lines), 0u);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", ""}));
    lines.clear();
    EXPECT_EQ(splitter.append(std::string(LineSplitter::maxLineBytes, 'x'), lines), 1u)
        << "c plus a mebibyte";
    EXPECT_EQ(splitter.append(std::string(10, 'y'), lines), 0u) << "still inside the dropped line";
    EXPECT_EQ(splitter.append("z\nok\n", lines), 0u);
    EXPECT_EQ(lines, (std::vector<std::string>{"ok"}));
}

TEST(AdapterProtocol, PrefixesCutAtCharactersNeverInsideOne) {
    EXPECT_EQ(prefixCharacters("uid:héllo wörld", 6), "uid:hé");
    EXPECT_EQ(prefixCharacters("日本語のタイトル", 3), "日本語");
    EXPECT_EQ(prefixCharacters("🎵🎶", 1), "🎵");
    EXPECT_EQ(prefixCharacters("short", 24), "short");
    EXPECT_EQ(prefixCharacters("\x80\x80x", 1), "\x80\x80")
        << "stray continuation bytes stay with their lead";
}

TEST(AdapterProtocol, TheAdapterIsTheFirstRegularExecutableBesideOrInLibexec) {
    QTemporaryDir root;
    const QString bin = root.filePath("bin"), libexec = root.filePath("libexec/velaro");
    QDir().mkpath(bin);
    QDir().mkpath(libexec);
    const std::string binDir = bin.toStdString();
    auto place = [](const QString& folder, QFile::Permissions permissions) {
        QFile f(folder + "/" + programName);
        f.open(QIODevice::WriteOnly);
        f.write("#!/bin/sh\n");
        f.close();
        f.setPermissions(permissions);
    };
    const auto exec = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    EXPECT_EQ(findMediaAdapter(binDir), std::nullopt);
    place(bin, QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(findMediaAdapter(binDir), std::nullopt) << "not executable";
    place(bin, exec);
    EXPECT_EQ(findMediaAdapter(binDir), binDir + "/" + programName);
    QDir(libexec).mkdir(programName);
    EXPECT_EQ(findMediaAdapter(binDir), binDir + "/" + programName) << "a folder of that name does not count";
    QDir(libexec).rmdir(programName);
    place(libexec, exec);
    EXPECT_EQ(findMediaAdapter(binDir), binDir + "/../libexec/velaro/" + programName) << "the install's wins";
    EXPECT_EQ(findMediaAdapter(""), std::nullopt);
}

}  // namespace
}  // namespace velaro::adapter
