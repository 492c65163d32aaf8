// The stored colour form, its parser, blending, luminance and the closeness test.
#include "base/Color.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include <gtest/gtest.h>

namespace velaro {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ColorHex, FormatsRoundingHalvesUpAndIgnoringOpacity) {
    EXPECT_EQ(hexString(Color::black()), "#000000");
    EXPECT_EQ(hexString(Color::white()), "#FFFFFF");
    EXPECT_EQ(hexString(Color::rgb(0.5, 0.5, 0.5)), "#808080");  // 127.5 goes up
    EXPECT_EQ(hexString(Color::rgb(0.2, 0, 1)), "#3300FF");
    EXPECT_EQ(hexString(Color::rgb(0.1, 0.6, 0.9, 0.3)), hexString(Color::rgb(0.1, 0.6, 0.9, 1)));
}

TEST(ColorHex, OutOfRangeAndNonFiniteComponentsStillGiveSevenCharacters) {
    EXPECT_EQ(hexString(Color::rgb(1.2, -0.4, 0.5)), "#FF0080");
    EXPECT_EQ(hexString(Color::rgb(kInf, -kInf, 0)), "#FF0000");
    EXPECT_EQ(hexString(Color::rgb(kNaN, 1, 1)), "#000000");
}

TEST(ColorHex, AcceptsCaseMissingHashAndSurroundingWhitespace) {
    const auto expected = colorFromHex("#1A2B3C");
    ASSERT_TRUE(expected);
    EXPECT_EQ(colorFromHex("#1a2b3c"), expected);
    EXPECT_EQ(colorFromHex("1A2B3C"), expected);
    EXPECT_EQ(colorFromHex("  #1A2B3C\n"), expected);
    EXPECT_EQ(colorFromHex("\t\r\n1a2B3c \u00A0\u3000"), expected);  // Unicode blanks count too
    EXPECT_EQ(hexString(*expected), "#1A2B3C");
    EXPECT_DOUBLE_EQ(expected->red, 0x1A / 255.0);
    EXPECT_DOUBLE_EQ(expected->green, 0x2B / 255.0);
    EXPECT_DOUBLE_EQ(expected->blue, 0x3C / 255.0);
    EXPECT_EQ(expected->alpha, 1.0);
}

TEST(ColorHex, RefusesEverythingButSixDigits) {
    for (const char* bad :
         {"##1A2B3C", "#1A2B3", "#1A2B3C4D", "#GG0000", "", "#", "   ", "+1A2B3C", "-1A2B3", "0x1A2B3C",
          "0x1A2B", "#1A 2B3", "1A2B3 ", "#-12345", "#+12345", "1A2B3C#", "#1A2B3\xC3\xA9",
          "\xEF\xBC\x83"
          "1A2B3C",
          " # 1A2B3C"}) {
        EXPECT_FALSE(colorFromHex(bad)) << '"' << bad << '"';
    }
    EXPECT_FALSE(colorFromHex(std::string_view("1A2B3\0", 6)));
    // A truncated multi-byte sequence at either end is not white space and is not trimmed.
    EXPECT_FALSE(colorFromHex("1A2B3C\xE3\x80"));
    EXPECT_FALSE(
        colorFromHex("\x80"
                     "1A2B3C"));
}

TEST(ColorHex, EveryComponentValueSurvivesParseAndFormat) {
    char text[8];
    for (int v = 0; v < 256; ++v) {
        for (int position = 0; position < 3; ++position) {
            const int value = v << (8 * position);
            std::snprintf(text, sizeof text, "#%06X", value);
            const auto parsed = colorFromHex(text);
            ASSERT_TRUE(parsed) << text;
            EXPECT_EQ(hexString(*parsed), text);
            char lower[8];
            std::snprintf(lower, sizeof lower, "%06x", value);
            EXPECT_EQ(colorFromHex(lower), parsed) << lower;
        }
    }
    // A sweep through the whole space with an odd stride mixes all three components.
    for (int value = 0; value < 0x1000000; value += 4099) {
        std::snprintf(text, sizeof text, "#%06X", value);
        ASSERT_EQ(hexString(*colorFromHex(text)), text);
    }
}

TEST(ColorArithmetic, InterpolationClampsTheFractionAndIsOpaque) {
    const Color red = Color::rgb(1, 0, 0, 0.2);
    const Color blue = Color::rgb(0, 0, 1, 0.5);
    EXPECT_EQ(interpolated(red, blue, 0.25), Color::rgb(0.75, 0, 0.25, 1));
    EXPECT_EQ(interpolated(red, blue, -1), red.withAlpha(1));
    EXPECT_EQ(interpolated(red, blue, 0), red.withAlpha(1));
    EXPECT_EQ(interpolated(red, blue, 7), blue.withAlpha(1));
    EXPECT_EQ(interpolated(red, blue, 1), blue.withAlpha(1));
    EXPECT_EQ(interpolated(red, blue, kNaN), blue.withAlpha(1));
    EXPECT_EQ(interpolated(red, blue, kInf), blue.withAlpha(1));
    EXPECT_EQ(interpolated(red, blue, -kInf), red.withAlpha(1));
}

TEST(ColorArithmetic, LuminanceUsesRec709WeightsWithoutGamma) {
    EXPECT_DOUBLE_EQ(relativeLuminance(Color::rgb(0, 1, 0)), 0.7152);
    EXPECT_DOUBLE_EQ(relativeLuminance(Color::rgb(1, 0, 0)), 0.2126);
    EXPECT_DOUBLE_EQ(relativeLuminance(Color::rgb(0, 0, 1)), 0.0722);
    EXPECT_DOUBLE_EQ(relativeLuminance(Color::white()), 1.0);
    EXPECT_EQ(relativeLuminance(Color::black()), 0.0);
    EXPECT_DOUBLE_EQ(relativeLuminance(Color::rgb(0.5, 0.5, 0.5)), 0.5);
}

TEST(ColorArithmetic, ClosenessIsStrictPerComponentAndIgnoresOpacity) {
    const Color base = Color::rgb(0.5, 0.5, 0.5);
    EXPECT_TRUE(colorsClose(base, Color::rgb(0.503, 0.497, 0.5, 0), 0.004));
    EXPECT_FALSE(colorsClose(base, Color::rgb(0.5, 0.5, 0.505), 0.004));
    EXPECT_FALSE(colorsClose(Color::rgb(0, 0, 0), Color::rgb(0.25, 0, 0), 0.25));  // strictly less
    EXPECT_FALSE(colorsClose(base, base, 0));
    EXPECT_FALSE(colorsClose(base, Color::rgb(kNaN, 0.5, 0.5), 1));
}

}  // namespace
}  // namespace velaro
