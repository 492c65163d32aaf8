// The settings file's text: the forms values take in it, entries without a stored form dropped alone, and a
// reason for a text that is not a defaults file that says where, never what.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/defaults/DefaultsFileFormat.h"

namespace velaro::test {
namespace {

TEST(DefaultsFileFormat, DoublesAndDataKeepTheirKindsThroughTheText) {
    const PlistValue stored{{"double", 1.0}, {"int", 1}, {"data", plistData({0, 1, 2, 0xff})}};
    const std::string text = encodeDefaultsFile(stored);
    EXPECT_NE(text.find("\"double\": 1.0"), std::string::npos) << text;
    EXPECT_NE(text.find("\"data\": {\n    \"$data\": \"AAEC/w==\"\n  }"), std::string::npos) << text;
    const std::string oneLine = encodeDefaultsFileOnOneLine(stored);
    EXPECT_EQ(std::count(oneLine.begin(), oneLine.end(), '\n'), 1) << oneLine;
    for (const std::string& written : {text, oneLine}) {
        const auto read = decodeDefaultsFile(written);
        ASSERT_TRUE(read);
        EXPECT_TRUE((*read)["double"].is_number_float());
        EXPECT_TRUE((*read)["int"].is_number_integer() && !(*read)["int"].is_number_unsigned());
        EXPECT_TRUE((*read)["data"].is_binary());
    }
    EXPECT_FALSE(hasFileForm(PlistValue{{"list", {1.0, INFINITY}}}));
    EXPECT_TRUE(hasFileForm(stored));
    EXPECT_TRUE(looksWhole(" {\"a\": 1}\n"));
    for (const char* cut : {"", "  \n", "{\"a\": 1", "\"a\": 1}"}) EXPECT_FALSE(looksWhole(cut)) << cut;
}

// A number that is not finite costs only the key that holds it, wherever it sits in that key's value.
TEST(DefaultsFileFormat, ANonFiniteNumberDropsItsKeyNotTheFile) {
    std::string error;
    std::vector<std::string> skipped;
    const auto stored = decodeDefaultsFile(R"({"big": 1e400, "ok": 1, "negative": -1E+999, "nan": NaN,
                 "inf": Infinity, "minusInf": -Infinity, "nested": {"list": [1, {"deep": nan}]}, "tiny": 1e-400,
                 "words": "NaN 1e400 Infinity", "escaped \" NaN": 2, "last": [0.5, 1e309], "none": null})",
                                           &error, &skipped);
    ASSERT_TRUE(stored) << error;
    const PlistValue expected{
        {"ok", 1}, {"tiny", 0.0}, {"words", "NaN 1e400 Infinity"}, {"escaped \" NaN", 2}};
    EXPECT_EQ(*stored, expected);
    std::sort(skipped.begin(), skipped.end());
    EXPECT_EQ(skipped, (std::vector<std::string>{"big", "inf", "last", "minusInf", "nan", "negative",
                                                 "nested", "none"}));
    // The same rule for a file that is not an object: still not a defaults file.
    EXPECT_FALSE(decodeDefaultsFile("[NaN]", &error));
    EXPECT_FALSE(decodeDefaultsFile("1e400", &error));
    EXPECT_FALSE(decodeDefaultsFile(R"({"a": NaNa})", &error)) << "an unknown word is a syntax error";
}

// A file that does not parse is reported with where it stops being JSON, never with what it holds there: the
// log is no place for the file's bytes.
TEST(DefaultsFileFormat, AParseErrorSaysWhereTheFileStopsBeingJsonNotWhatItHolds) {
    const std::vector<std::pair<std::string, std::string>> files{
        {"{\"a\": 1,\n  \"b\": r\u00e9p}", "line 2, column 8"},
        {"{\"a\": \"sec\nret\"}", "line 1, column 11"},
        {"{\"a\": 1", "line 1, column 8"},
        {"[1, 2e99999]", "line 1, column 5"},
    };
    for (const auto& [text, where] : files) {
        SCOPED_TRACE(text);
        std::string error;
        EXPECT_FALSE(decodeDefaultsFile(text, &error));
        EXPECT_NE(error.find(where), std::string::npos) << error;
        for (const char* held : {"last read", "r\u00e9", "sec", "99999"})
            EXPECT_EQ(error.find(held), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace velaro::test
