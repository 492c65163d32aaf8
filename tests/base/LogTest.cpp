// Log lines stay one line per event whatever text from outside they carry, and readable where they can.
#include <gtest/gtest.h>

#include "base/Log.h"

namespace velaro {
namespace {

TEST(Log, TextFromOutsideCannotSplitALineOrTurnItAround) {
    const std::pair<std::string, std::string> cases[] = {
        {"Song → Band ♪ 日本 🎵", "Song → Band ♪ 日本 🎵"},
        {"a\nPROG forged\r\t" + std::string(1, '\0') + "\x1b[2J\x7f",
         "a\\x0APROG forged\\x0D\\x09\\x00\\x1B[2J\\x7F"},
        {"\xc2\x85 \xe2\x80\xae"
         "evil\xe2\x80\xac \xe2\x81\xa6 \xe2\x80\x8f \xe2\x80\xa8",
         "\\u{0085} \\u{202E}evil\\u{202C} \\u{2066} \\u{200F} \\u{2028}"},
        // Drawn as nothing, so a name can hide a difference or a break: byte order mark, soft hyphen, zero-width
        // space and joiner, word joiner, an Arabic format sign, a tag letter, a variation selector. The emoji
        // presentation selector only styles the heart before it.
        {"\xef\xbb\xbf" "a" "\xc2\xad" "b" "\xe2\x80\x8b" "c" "\xe2\x80\x8d\xe2\x81\xa0\xd8\x80\xf3\xa0\x81\x81"
         "\xef\xb8\x80 \xe2\x9d\xa4\xef\xb8\x8f",
         "\\u{FEFF}a\\u{00AD}b\\u{200B}c\\u{200D}\\u{2060}\\u{0600}\\u{E0041}\\u{FE00} \xe2\x9d\xa4\xef\xb8\x8f"},
        // Not UTF-8: a stray continuation, an overlong form, a surrogate, a sequence cut short.
        {"\x80 \xc0\xaf \xed\xa0\x80 \xe2\x82", "\\x80 \\xC0\\xAF \\xED\\xA0\\x80 \\xE2\\x82"},
        // A backslash of the text's own is doubled, so written-out escapes cannot pass for the log's own.
        {"a\\x0APROG forged \\u{202E} C:\\dir\\", "a\\\\x0APROG forged \\\\u{202E} C:\\\\dir\\\\"},
    };
    for (const auto& [text, logged] : cases) EXPECT_EQ(escapeLogText(text), logged);
    // A line break and the same break written out log differently.
    EXPECT_NE(escapeLogText("a\nb"), escapeLogText("a\\x0Ab"));

    std::vector<std::string> lines;
    const LogSink previous = setLogSink([&](std::string_view tag, std::string_view message) {
        lines.push_back(std::string(tag) + " " + std::string(message));
    });
    qCDebug(lcPlayer) << tagged("PROG", "artwork [x|Title\nPROG forged]");
    setLogSink(previous);
    EXPECT_EQ(lines, std::vector<std::string>{"PROG artwork [x|Title\\x0APROG forged]"});
}

// Without rules every part shows its info lines and hides its debug lines; a rule naming the music shows the
// music's debug lines and no other part's. A capture sees every level while it lasts.
TEST(Log, RulesChooseWhichPartsShowTheirDebugLines) {
    const auto debugShown = [] {
        std::vector<std::string> shown;
        for (const auto* category : {&lcApp(), &lcSettings(), &lcSampling(), &lcOverlay(), &lcPlayer(),
                                     &lcAudio(), &lcVisualizer(), &lcDesktop()}) {
            EXPECT_TRUE(category->isInfoEnabled()) << category->categoryName();
            if (category->isDebugEnabled()) shown.emplace_back(category->categoryName());
        }
        return shown;
    };
    EXPECT_EQ(debugShown(), std::vector<std::string>{});
    QLoggingCategory::setFilterRules(QStringLiteral("velaro.music.*=true"));
    EXPECT_EQ(debugShown(), (std::vector<std::string>{"velaro.music.player", "velaro.music.audio",
                                                      "velaro.music.visualizer"}));
    QLoggingCategory::setFilterRules({});

    std::vector<std::string> lines;
    LogSink previous = setLogSink([&](std::string_view tag, std::string_view message) {
        lines.push_back(std::string(tag) + " " + std::string(message));
    });
    qCDebug(lcSampling) << tagged("SAMPLER", "shown while captured ");
    setLogSink(previous);
    qCDebug(lcSampling) << tagged("SAMPLER", "hidden again");
    EXPECT_EQ(lines, std::vector<std::string>{"SAMPLER shown while captured "});
    EXPECT_EQ(debugShown(), std::vector<std::string>{});
}

}  // namespace
}  // namespace velaro
