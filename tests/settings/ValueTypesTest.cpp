// Colour zones, hue drift and the enumerations stored as strings: normalising, clamps, stored bytes and
// lenient decoding.
#include "settings/ValueTypes.h"

#include <algorithm>
#include <limits>

#include <gtest/gtest.h>

namespace velaro {
namespace {

using Stops = std::vector<std::string>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string text(const std::optional<Bytes>& bytes) {
    return bytes ? std::string(bytes->begin(), bytes->end()) : "<failed>";
}

Stops numberedStops(int count) {
    Stops out;
    for (int i = 0; i < count; ++i)
        out.push_back("#0000" + std::string(i < 10 ? "0" : "") + std::to_string(i));
    return out;
}

TEST(ColorZones, NormalisingKeepsCanonicalParsableStopsUpToTen) {
    EXPECT_EQ(OverlayColorZones({"#ff00aa", "nonsense", "#12345", "00FF00"}, false, false, 1).stops,
              (Stops{"#FF00AA", "#00FF00"}));
    EXPECT_EQ(OverlayColorZones(numberedStops(12), true, true, 1).stops, numberedStops(10));
    EXPECT_EQ(OverlayColorZones({}, false, false, 1).stops, Stops{"#000000"});
    EXPECT_EQ(OverlayColorZones({"bad", "#GG0000"}, false, false, 1).stops, Stops{"#000000"});
    // Flags pass through untouched.
    const OverlayColorZones zones({"#010203"}, true, true, 0.5);
    EXPECT_TRUE(zones.blend);
    EXPECT_TRUE(zones.multicolorEnabled);
}

TEST(ColorZones, WidthIsClampedAndNonFiniteWidthsBecomeOne) {
    const auto width = [](double w) {
        return OverlayColorZones({"#000000"}, false, false, w).transitionWidth;
    };
    EXPECT_EQ(width(-0.5), 0.0);
    EXPECT_EQ(width(0.0), 0.0);
    EXPECT_EQ(width(1.7), 1.0);
    EXPECT_EQ(width(0.25), 0.25);
    EXPECT_EQ(width(kNaN), 1.0);
    EXPECT_EQ(width(kInf), 1.0);
    EXPECT_EQ(width(-kInf), 1.0);
    OverlayColorZones raw;
    raw.transitionWidth = kNaN;
    EXPECT_EQ(raw.normalized().transitionWidth, 1.0);
}

TEST(ColorZones, DecodingIsLenientKeyByKey) {
    const auto empty = OverlayColorZones::decode("{}");
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty, OverlayColorZones::defaultValue());
    EXPECT_EQ(empty->stops, Stops{"#000000"});
    EXPECT_FALSE(empty->blend);
    EXPECT_FALSE(empty->multicolorEnabled);
    EXPECT_EQ(empty->transitionWidth, 1.0);

    // Without the key, the multicolour flag follows the number of stops as stored (before normalising).
    EXPECT_TRUE(OverlayColorZones::decode(R"({"stops":["#112233","#445566"]})")->multicolorEnabled);
    EXPECT_FALSE(OverlayColorZones::decode(R"({"stops":["#112233"]})")->multicolorEnabled);
    EXPECT_FALSE(OverlayColorZones::decode(R"({"stops":["#112233","#445566"],"multicolorEnabled":false})")
                     ->multicolorEnabled);
    const auto halfBad = OverlayColorZones::decode(R"({"stops":["#112233","zzz"]})");
    EXPECT_TRUE(halfBad->multicolorEnabled);
    EXPECT_EQ(halfBad->stops, (Stops{"#112233", "zzz"}));  // the decoder does not check stops
    EXPECT_EQ(halfBad->normalized().stops, Stops{"#112233"});

    // Wrong types take their fallbacks instead of failing.
    const auto wrong = OverlayColorZones::decode(
        R"({"stops":["#112233",5],"blend":"yes","multicolorEnabled":1,"transitionWidth":"wide"})");
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->stops, Stops{"#000000"});
    EXPECT_FALSE(wrong->blend);
    EXPECT_FALSE(wrong->multicolorEnabled);
    EXPECT_EQ(wrong->transitionWidth, 1.0);
    // Nor does the decoder clamp.
    EXPECT_EQ(OverlayColorZones::decode(R"({"transitionWidth":7})")->transitionWidth, 7.0);

    EXPECT_FALSE(OverlayColorZones::decode("[]"));
    EXPECT_FALSE(OverlayColorZones::decode("\"stops\""));
    EXPECT_FALSE(OverlayColorZones::decode("not json"));
    EXPECT_FALSE(OverlayColorZones::decode(std::span<const std::uint8_t>()));
}

TEST(ColorZones, StoredBytesAreSortedCompactAndRoundTrip) {
    const OverlayColorZones zones({"#112233", "#aabbcc"}, true, true, 0.25);
    EXPECT_EQ(
        text(encodeSortedKeys(zones)),
        R"({"blend":true,"multicolorEnabled":true,"stops":["#112233","#AABBCC"],"transitionWidth":0.25})");
    EXPECT_EQ(text(encodeSortedKeys(OverlayColorZones())),
              R"({"blend":false,"multicolorEnabled":false,"stops":["#000000"],"transitionWidth":1})");
    for (const auto& value : {zones, OverlayColorZones(), OverlayColorZones({"#FFFFFF"}, false, true, 0)}) {
        const auto data = encodeSortedKeys(value);
        ASSERT_TRUE(data);
        EXPECT_EQ(OverlayColorZones::decode(*data), value);
    }
    OverlayColorZones broken;
    broken.transitionWidth = kNaN;
    EXPECT_FALSE(encodeSortedKeys(broken));  // never writes bytes no reader accepts
}

TEST(HueDrift, DefaultsAndDecodingFallbacks) {
    const OverlayHueDrift defaults;
    EXPECT_FALSE(defaults.enabled);
    EXPECT_EQ(defaults.variant, OverlayHueDrift::Variant::scroll);
    EXPECT_EQ(defaults.source, OverlayHueDrift::Source::rainbow);
    EXPECT_EQ(defaults.paletteStops, (Stops{"#FF1919", "#FFC619", "#8CFF19", "#19FF53", "#19FFFF", "#1953FF",
                                            "#8C19FF", "#FF19C6"}));
    EXPECT_EQ(defaults.periodSeconds, 2.0);
    EXPECT_TRUE(defaults.blend);
    EXPECT_EQ(defaults.transitionWidth, 1.0);
    EXPECT_EQ(defaults.direction, OverlayHueDrift::Direction::rightToLeft);
    EXPECT_EQ(OverlayHueDrift::decode("{}"), defaults);

    // Enumeration strings outside the table (letter case counts) take the default case without failing.
    const auto odd = OverlayHueDrift::decode(
        R"({"variant":"Uniform","source":"Palette","direction":"LEFTTORIGHT","enabled":"true","blend":0,
            "periodSeconds":"fast","paletteStops":"#FF0000","transitionWidth":null})");
    ASSERT_TRUE(odd);
    EXPECT_EQ(*odd, defaults);

    const auto set = OverlayHueDrift::decode(
        R"({"variant":"uniform","source":"palette","direction":"leftToRight","enabled":true,"blend":false,
            "periodSeconds":12,"paletteStops":["#FF0000","#00FF00"],"transitionWidth":0.3})");
    ASSERT_TRUE(set);
    EXPECT_TRUE(set->enabled);
    EXPECT_EQ(set->variant, OverlayHueDrift::Variant::uniform);
    EXPECT_EQ(set->source, OverlayHueDrift::Source::palette);
    EXPECT_EQ(set->direction, OverlayHueDrift::Direction::leftToRight);
    EXPECT_FALSE(set->blend);
    EXPECT_EQ(set->periodSeconds, 12.0);
    EXPECT_EQ(set->paletteStops, (Stops{"#FF0000", "#00FF00"}));
    EXPECT_EQ(set->transitionWidth, 0.3);

    EXPECT_FALSE(OverlayHueDrift::decode("[{}]"));
    EXPECT_FALSE(OverlayHueDrift::decode("{\"enabled\":true"));
}

TEST(HueDrift, SanitisingFiltersThePaletteAndClampsPeriodAndWidth) {
    OverlayHueDrift drift;
    drift.paletteStops = {"#ff0000", "x", "#12", "#GG0000"};
    EXPECT_EQ(drift.sanitized().paletteStops, OverlayHueDrift::defaultPalette());
    drift.paletteStops = {"#ff0000", " 00ff00 "};
    EXPECT_EQ(drift.sanitized().paletteStops, (Stops{"#FF0000", "#00FF00"}));
    drift.paletteStops = numberedStops(12);
    EXPECT_EQ(drift.sanitized().paletteStops, numberedStops(10));

    const auto period = [](double seconds) {
        OverlayHueDrift d;
        d.periodSeconds = seconds;
        return d.sanitized().periodSeconds;
    };
    EXPECT_EQ(period(0.1), 0.5);
    EXPECT_EQ(period(0.5), 0.5);
    EXPECT_EQ(period(-3), 0.5);
    EXPECT_EQ(period(45), 30.0);
    EXPECT_EQ(period(30), 30.0);
    EXPECT_EQ(period(7.25), 7.25);
    // A corrupt period must not reach the drift clock's phase arithmetic.
    EXPECT_EQ(period(kNaN), 2.0);
    EXPECT_EQ(period(kInf), 2.0);
    EXPECT_EQ(period(-kInf), 2.0);

    OverlayHueDrift width;
    width.transitionWidth = kNaN;
    EXPECT_EQ(width.sanitized().transitionWidth, 1.0);
    width.transitionWidth = -2;
    EXPECT_EQ(width.sanitized().transitionWidth, 0.0);

    // Everything else is copied.
    OverlayHueDrift flags;
    flags.enabled = true;
    flags.variant = OverlayHueDrift::Variant::uniform;
    flags.source = OverlayHueDrift::Source::palette;
    flags.blend = false;
    flags.direction = OverlayHueDrift::Direction::leftToRight;
    EXPECT_EQ(flags.sanitized(), flags);
}

TEST(HueDrift, EffectivePaletteNeedsThePaletteSourceAndTwoStops) {
    OverlayHueDrift drift;
    drift.paletteStops = {"#111111", "#222222", "#333333"};
    EXPECT_EQ(drift.effectivePaletteStops(), OverlayHueDrift::defaultPalette());
    drift.source = OverlayHueDrift::Source::palette;
    EXPECT_EQ(drift.effectivePaletteStops(), drift.paletteStops);
    drift.paletteStops = {"#111111"};
    EXPECT_EQ(drift.effectivePaletteStops(), OverlayHueDrift::defaultPalette());
}

TEST(HueDrift, StoredBytesAreSortedCompactAndRoundTrip) {
    OverlayHueDrift drift;
    drift.paletteStops = {"#FF0000", "#00FF00"};
    drift.periodSeconds = 2.5;
    EXPECT_EQ(
        text(encodeSortedKeys(drift)),
        R"({"blend":true,"direction":"rightToLeft","enabled":false,"paletteStops":["#FF0000","#00FF00"],)"
        R"("periodSeconds":2.5,"source":"rainbow","transitionWidth":1,"variant":"scroll"})");
    OverlayHueDrift other;
    other.enabled = true;
    other.variant = OverlayHueDrift::Variant::uniform;
    other.source = OverlayHueDrift::Source::palette;
    other.direction = OverlayHueDrift::Direction::leftToRight;
    other.blend = false;
    other.transitionWidth = 0.125;
    for (const auto& value : {drift, other, OverlayHueDrift()}) {
        const auto data = encodeSortedKeys(value);
        ASSERT_TRUE(data);
        EXPECT_EQ(OverlayHueDrift::decode(*data), value);
    }
}

// The visualizer's and the progress line's modes keep the strings stores and profiles already hold, and every
// case reads back as itself (no two cases share a string).
TEST(StoredEnumerations, MusicModesKeepTheirStoredStrings) {
    using S = std::string_view;
    const auto roundTrips = [](auto cases) {
        return std::all_of(cases.begin(), cases.end(),
                           [](auto c) { return fromString<decltype(c)>(toString(c)) == c; });
    };
    EXPECT_EQ(allStrings<VizStyle>(), (std::array<S, 2>{"bars", "waves"}));
    EXPECT_EQ(allStrings<VizBarsColorMode>(), (std::array<S, 4>{"mono", "solid", "rainbow", "artwork"}));
    EXPECT_EQ(allStrings<VizWaveColorMode>(),
              (std::array<S, 5>{"mono", "solid", "rainbow", "palette", "artwork"}));
    EXPECT_TRUE(roundTrips(allCases<VizStyle>()));
    EXPECT_TRUE(roundTrips(allCases<VizBarsColorMode>()));
    EXPECT_EQ(allStrings<ProgressColorMode>(), (std::array<S, 3>{"mono", "solid", "rainbow"}));
    EXPECT_TRUE(roundTrips(allCases<VizWaveColorMode>()));
    EXPECT_TRUE(roundTrips(allCases<ProgressColorMode>()));
}

TEST(StoredEnumerations, StringsMatchExactlyAndCaseSensitively) {
    EXPECT_EQ(fromString<MenuBarStyle>("live"), MenuBarStyle::live);
    EXPECT_EQ(fromString<MenuBarStyle>("Live"), std::nullopt);
    EXPECT_EQ(fromString<MenuBarStyle>("Live Sampling"), std::nullopt);  // legacy names are the loader's job
    EXPECT_EQ(fromString<OverlayAnimationKind>("Spread"), OverlayAnimationKind::spread);
    EXPECT_EQ(fromString<OverlayAnimationKind>("rise"), std::nullopt);
    EXPECT_EQ(fromString<BottomCornerZ>("ABOVE"), std::nullopt);
    EXPECT_EQ(fromString<BottomCornerZ>("belowActive"), BottomCornerZ::belowActive);
    EXPECT_EQ(fromString<EmptyDesktopMode>("Black"), std::nullopt);
    EXPECT_EQ(fromString<EmptyDesktopMode>("blur"), EmptyDesktopMode::blur);
    EXPECT_EQ(fromString<LayerPosition>("behindWindows "), std::nullopt);
    EXPECT_EQ(fromString<LayerPosition>(""), std::nullopt);

    EXPECT_EQ(toString(OverlayAnimationKind::rise), "Rise");
    EXPECT_EQ(toString(EmptyDesktopMode::transparent), "transparent");
    EXPECT_EQ(allCases<EmptyDesktopMode>(),
              (std::array{EmptyDesktopMode::black, EmptyDesktopMode::transparent, EmptyDesktopMode::blur}));
    EXPECT_EQ(allCases<LayerPosition>(),
              (std::array{LayerPosition::aboveWindows, LayerPosition::behindWindows}));
}

TEST(StoredEnumerations, OwnJsonFormIsAStringAndUnknownStringsFail) {
    EXPECT_EQ(text(encodeEnumJson(OverlayAnimationKind::spread)), R"("Spread")");
    EXPECT_EQ(text(encodeEnumJson(OverlayHueDrift::Direction::leftToRight)), R"("leftToRight")");
    const auto decode = [](const std::string& json) {
        return decodeEnumJson<OverlayHueDrift::Variant>(Bytes(json.begin(), json.end()));
    };
    EXPECT_EQ(decode(R"("uniform")"), OverlayHueDrift::Variant::uniform);
    EXPECT_EQ(decode(R"("Uniform")"), std::nullopt);
    EXPECT_EQ(decode(R"(["uniform"])"), std::nullopt);
    EXPECT_EQ(decode("uniform"), std::nullopt);
}

TEST(PillGeometry, SidesCompareBySpan) {
    PillGeometry a{PillSpan{10, 200}, std::nullopt};
    PillGeometry b = a;
    EXPECT_EQ(a, b);
    b.right = PillSpan{900, 1400};
    EXPECT_NE(a, b);
    b = a;
    b.left->maxX = 201;
    EXPECT_NE(a, b);
}

}  // namespace
}  // namespace velaro
