// The corner record: defaults, legacy keys, fallback chains, tolerated versus fatal wrong types, stored
// form and the per-corner lookups.
#include "settings/CornerSettings.h"

#include <gtest/gtest.h>

#include <iterator>

#include "settings/SettingsJson.h"
#include "support/BoundEdges.h"

namespace velaro {

void PrintTo(const LoadNote& note, std::ostream* out) {
    *out << note.key << ": " << note.text;
}

namespace {

std::optional<CornerSettings> decode(const std::string& json) {
    return CornerSettings::decode(json);
}

settings_json::Json encodedDocument(const CornerSettings& corners) {
    const auto data = encodeCornerSettings(corners);
    EXPECT_TRUE(data);
    return data ? *settings_json::parse(*data) : settings_json::Json();
}

TEST(CornerSettingsDecode, EmptyDocumentIsTheDefaultRecord) {
    const auto c = decode("{}");
    ASSERT_TRUE(c);
    EXPECT_EQ(*c, CornerSettings());
    EXPECT_TRUE(c->topLeftEnabled && c->topRightEnabled && c->bottomLeftEnabled && c->bottomRightEnabled);
    EXPECT_FALSE(c->screenTopLeftEnabled || c->screenTopRightEnabled);
    EXPECT_EQ(c->effectiveRadius(ScreenCorner::topLeft), 28.0);
    EXPECT_EQ(c->effectiveRadius(ScreenCorner::bottomRight), 28.0);
    EXPECT_EQ(c->effectiveRadius(ScreenCorner::screenTopLeft), 0.0);
    EXPECT_EQ(c->topLeftColorMode, TopColorMode::followOverlay);
    EXPECT_TRUE(c->topFollowsOverlayOpacity);
    EXPECT_EQ(c->shapeMode, ShapeMode::fullBar);
    EXPECT_EQ(c->pillCornerRadius, 14.0);
    EXPECT_EQ(c->pillRightHOffset, -10.0);
}

TEST(CornerSettingsDecode, LegacyRowFlagsFillInOnlyForMissingCornerFlags) {
    const auto off = decode(R"({"topEnabled":false})");
    EXPECT_FALSE(off->topLeftEnabled);
    EXPECT_FALSE(off->topRightEnabled);
    EXPECT_TRUE(off->bottomLeftEnabled);

    const auto mixed = decode(R"({"topEnabled":false,"topLeftEnabled":true})");
    EXPECT_TRUE(mixed->topLeftEnabled);
    EXPECT_FALSE(mixed->topRightEnabled);

    const auto bottom =
        decode(R"({"bottomEnabled":false,"bottomRightEnabled":null,"bottomLeftEnabled":true})");
    EXPECT_TRUE(bottom->bottomLeftEnabled);
    EXPECT_FALSE(bottom->bottomRightEnabled);  // null counts as missing

    // The legacy flag never overrides an explicit corner flag.
    const auto explicitFlags =
        decode(R"({"topEnabled":true,"topLeftEnabled":false,"topRightEnabled":false})");
    EXPECT_FALSE(explicitFlags->topLeftEnabled);
    EXPECT_FALSE(explicitFlags->topRightEnabled);
}

TEST(CornerSettingsDecode, PerCornerFieldsFallBackToTheirRowOrOwnDefault) {
    // Top and bottom radii keep their own default; the screen-top row hands its radius down.
    const auto radii = decode(R"({"topRadius":10,"bottomRadius":12,"screenTopRadius":10})");
    EXPECT_EQ(radii->topLeftRadius, 28.0);
    EXPECT_EQ(radii->topRightRadius, 28.0);
    EXPECT_EQ(radii->bottomLeftRadius, 28.0);
    EXPECT_EQ(radii->screenTopLeftRadius, 10.0);
    EXPECT_EQ(radii->screenTopRightRadius, 10.0);

    const auto opacities = decode(R"({"topOpacity":0.5,"bottomOpacity":0.25,"screenTopOpacity":0.75,
                                      "bottomRightOpacity":0.9})");
    EXPECT_EQ(opacities->topLeftOpacity, 0.5);
    EXPECT_EQ(opacities->topRightOpacity, 0.5);
    EXPECT_EQ(opacities->bottomLeftOpacity, 0.25);
    EXPECT_EQ(opacities->bottomRightOpacity, 0.9);
    EXPECT_EQ(opacities->screenTopLeftOpacity, 0.75);
    EXPECT_EQ(opacities->screenTopRightOpacity, 0.75);

    const auto colours = decode(R"({"topColorMode":"Custom","topCustomColorHex":"#FF0000",
                                    "bottomColorMode":"Custom","bottomCustomColorHex":"#00FF00",
                                    "bottomLeftColorMode":"Black"})");
    EXPECT_EQ(colours->topLeftColorMode, TopColorMode::custom);
    EXPECT_EQ(colours->topRightColorMode, TopColorMode::custom);
    EXPECT_EQ(colours->topLeftCustomColorHex, "#FF0000");
    EXPECT_EQ(colours->topRightCustomColorHex, "#FF0000");
    EXPECT_EQ(colours->bottomLeftColorMode, BottomColorMode::black);
    EXPECT_EQ(colours->bottomRightColorMode, BottomColorMode::custom);
    EXPECT_EQ(colours->bottomLeftCustomColorHex, "#00FF00");
    // The screen-top row has no row colour: its corners keep their own defaults.
    EXPECT_EQ(colours->screenTopLeftColorMode, BottomColorMode::black);
}

TEST(CornerSettingsDecode, WrongTypesOfLaterKeysAreTolerated) {
    const auto c =
        decode(R"({"shapeMode":"Pills","topColorMode":3,"bottomColorMode":"black","arcStrokeEnabled":"yes",
                              "screenTopRadius":12,"screenTopLeftRadius":"big","topOpacity":0.4,"topLeftOpacity":true,
                              "topRightColorMode":"follow overlay","screenTopLeftEnabled":1,"bottomLeftCustomColorHex":7})");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->shapeMode, ShapeMode::fullBar);
    EXPECT_EQ(c->topColorMode, TopColorMode::followOverlay);
    EXPECT_EQ(c->bottomColorMode, BottomColorMode::black);
    EXPECT_FALSE(c->arcStrokeEnabled);
    EXPECT_EQ(c->screenTopLeftRadius, 12.0);  // the row's decoded radius, as if missing
    EXPECT_EQ(c->topLeftOpacity, 0.4);
    EXPECT_EQ(c->topRightColorMode, TopColorMode::followOverlay);
    EXPECT_FALSE(c->screenTopLeftEnabled);
    EXPECT_EQ(c->bottomLeftCustomColorHex, "#000000");
}

TEST(CornerSettingsDecode, WrongTypesOfOriginalKeysFailTheWholeDocument) {
    for (const char* key :
         {"pillCornerRadius", "pillVerticalInset", "pillHPadding", "pillStrokeWidth", "pillStrokeOpacity",
          "pillFillOpacity", "pillLeftHOffset", "pillRightHOffset", "pillVerticalOffset", "topRadius",
          "topLeftRadius", "topRightRadius", "bottomRadius", "bottomLeftRadius", "bottomRightRadius"}) {
        EXPECT_FALSE(decode(std::string(R"({")") + key + R"(":"10"})")) << key;
        EXPECT_TRUE(decode(std::string(R"({")") + key + R"(":10})")) << key;
    }
    for (const char* key :
         {"pillSeparateSides", "topLeftEnabled", "topRightEnabled", "topEnabled", "topLinked",
          "bottomLeftEnabled", "bottomRightEnabled", "bottomEnabled", "bottomLinked"}) {
        EXPECT_FALSE(decode(std::string(R"({")") + key + R"(":"true"})")) << key;
        EXPECT_FALSE(decode(std::string(R"({")") + key + R"(":1})")) << key;
    }
    // Null is absence, not a wrong type, even for these keys.
    const auto nulls =
        decode(R"({"pillCornerRadius":null,"topLinked":null,"topEnabled":null,"topCustomColorHex":null})");
    ASSERT_TRUE(nulls);
    EXPECT_EQ(*nulls, CornerSettings());
    EXPECT_FALSE(decode(R"({"topCustomColorHex":255})"));
    EXPECT_FALSE(decode(R"({"bottomCustomColorHex":["#FFFFFF"]})"));
    // A legacy flag of the wrong type fails even when both corner flags are present.
    EXPECT_FALSE(decode(R"({"topLeftEnabled":true,"topRightEnabled":true,"topEnabled":"no"})"));
    EXPECT_FALSE(decode("[]"));
    EXPECT_FALSE(decode("null"));
    EXPECT_FALSE(decode("{\"topRadius\":"));
}

TEST(CornerSettingsDecode, NoValidationBeyondTypesButForNumbers) {
    const auto c = decode(R"({"pillStrokeOpacity":-5,"bottomOpacity":3,"topCustomColorHex":"purple"})");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->pillStrokeOpacity, 0.0);
    EXPECT_EQ(c->bottomOpacity, 1.0);
    EXPECT_EQ(c->topCustomColorHex, "purple");
    EXPECT_EQ(c->topLeftCustomColorHex, "purple");
}

// Numbers beyond what their controls can set are bounded to the controls' ends, each with a note; every other
// value, and a number in range, is taken as stored. Keys of the wrong kind are noted with what was used
// instead.
TEST(CornerSettingsDecode, NumbersBeyondTheirControlsAreBoundedAndNoted) {
    LoadNotes notes;
    const auto c = CornerSettings::decode(
        std::string(
            R"({"topRadius":1e308,"pillHPadding":-1e6,"screenTopRadius":32767,"bottomRadius":47.75,)") +
            R"("pillFillOpacity":1e308,"screenTopLeftRadius":"big","topColorMode":"Sideways"})",
        &notes);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->topRadius, 48.0);
    EXPECT_EQ(c->pillHPadding, 0.0);
    EXPECT_EQ(c->screenTopLeftRadius, 48.0) << "the row's radius, already bounded";
    EXPECT_EQ(c->bottomRadius, 47.75);
    EXPECT_EQ(c->pillFillOpacity, 0.6) << "as far as the glass fill slider goes";
    EXPECT_EQ(notes,
              (LoadNotes{{"pillHPadding", "-1000000 is outside 0...20; using 0"},
                         {"pillFillOpacity", "1e+308 is outside 0...0.6; using 0.6"},
                         {"topRadius", "1e+308 is outside 0...48; using 48"},
                         {"topColorMode", "\"Sideways\" is not one of its names; using \"Follow Overlay\""},
                         {"screenTopRadius", "32767 is outside 0...48; using 48"},
                         {"screenTopLeftRadius", "\"big\" is not a number; using 48"}}));

    notes.clear();
    EXPECT_FALSE(CornerSettings::decode(R"({"bottomRadius":"48"})", &notes));
    EXPECT_EQ(notes, (LoadNotes{{"bottomRadius", "\"48\" is not a number; using the default corners"}}));
}

// Each number at its control's ends loads exactly, without a note; just beyond either end, or far beyond, it
// loads as that end, with one note. The other numbers of the record stay as they were.
TEST(CornerSettingsDecode, EveryNumberLoadsUpToItsControlsEndsAndNoFurther) {
    for (const auto& [member, range] : cornerBounds) {
        const auto decodedWith = [member = member](double value, LoadNotes& notes) {
            CornerSettings stored;
            stored.*member = value;
            return CornerSettings::decode(*encodeCornerSettings(stored), &notes);
        };
        for (const auto& [value, loaded] : test::boundEdges(range)) {
            SCOPED_TRACE(testing::Message() << range.lo << "..." << range.hi << " holding " << value);
            LoadNotes notes;
            const auto c = decodedWith(value, notes);
            ASSERT_TRUE(c);
            CornerSettings expected;
            expected.*member = loaded;
            EXPECT_EQ(*c, expected);
            EXPECT_EQ(notes.size(), value == loaded ? 0u : 1u);
        }
    }

    // Every number the record stores has its bounds: the largest double in each is bounded, with a note.
    auto document = encodedDocument(CornerSettings{});
    std::size_t numbers = 0;
    for (auto& [key, value] : document.items())
        if (value.is_number()) {
            value = 1e308;
            ++numbers;
        }
    LoadNotes notes;
    ASSERT_TRUE(CornerSettings::decode(*settings_json::encodeSorted(document), &notes));
    EXPECT_EQ(numbers, std::size(cornerBounds));
    EXPECT_EQ(notes.size(), numbers);
}

TEST(CornerSettingsEncode, WritesAllFieldsAndTheLegacyRowFlags) {
    CornerSettings c;
    c.bottomLeftEnabled = false;
    auto document = encodedDocument(c);
    EXPECT_EQ(document.size(), 58u);
    EXPECT_EQ(document["bottomEnabled"], true);
    EXPECT_EQ(document["topEnabled"], true);
    EXPECT_EQ(document["shapeMode"], "Full Bar");
    EXPECT_EQ(document["topColorMode"], "Follow Overlay");
    EXPECT_EQ(document["bottomColorMode"], "Black");
    c.bottomRightEnabled = false;
    EXPECT_EQ(encodedDocument(c)["bottomEnabled"], false);
    c.topLeftEnabled = false;
    EXPECT_EQ(encodedDocument(c)["topEnabled"], true);
    c.topRightEnabled = false;
    EXPECT_EQ(encodedDocument(c)["topEnabled"], false);

    // Default formatting: compact, fields in declaration order, integral lengths without a fraction.
    const auto data = encodeCornerSettings(CornerSettings());
    const std::string text(data->begin(), data->end());
    EXPECT_TRUE(text.starts_with(
        R"({"shapeMode":"Full Bar","pillCornerRadius":14,"pillVerticalInset":6,"pillHPadding":2,)"))
        << text;
    EXPECT_NE(text.find(R"("topCustomColorHex":"#000000")"), std::string::npos);
    EXPECT_TRUE(text.ends_with(R"(,"arcStrokeEnabled":false,"topEnabled":true,"bottomEnabled":true})"))
        << text;
}

TEST(CornerSettingsEncode, EveryFieldRoundTrips) {
    CornerSettings c;
    c.shapeMode = ShapeMode::pill;
    c.pillCornerRadius = 9.5;
    c.pillVerticalInset = 3;
    c.pillHPadding = 1.25;
    c.pillStrokeWidth = 1;
    c.pillStrokeOpacity = 0.3;
    c.pillFillOpacity = 0.05;
    c.pillSeparateSides = false;
    c.pillLeftHOffset = 4;
    c.pillRightHOffset = -2;
    c.pillVerticalOffset = 1.5;
    c.topLeftEnabled = false;
    c.topRadius = 11;
    c.topColorMode = TopColorMode::black;
    c.topCustomColorHex = "#123456";
    c.topLeftRadius = 12;
    c.topRightRadius = 13;
    c.topLinked = false;
    c.bottomRightEnabled = false;
    c.bottomRadius = 14;
    c.bottomColorMode = BottomColorMode::custom;
    c.bottomCustomColorHex = "#ABCDEF";
    c.bottomLeftRadius = 15;
    c.bottomRightRadius = 16;
    c.bottomLinked = false;
    c.screenTopLeftEnabled = true;
    c.screenTopRadius = 17;
    c.screenTopLeftRadius = 18;
    c.screenTopRightRadius = 19;
    c.screenTopLinked = false;
    c.screenTopLeftColorMode = BottomColorMode::custom;
    c.screenTopLeftCustomColorHex = "#010101";
    c.screenTopRightCustomColorHex = "#020202";
    c.screenTopOpacity = 0.9;
    c.screenTopLeftOpacity = 0.8;
    c.screenTopRightOpacity = 0.7;
    c.topLeftColorMode = TopColorMode::custom;
    c.topLeftCustomColorHex = "#030303";
    c.topRightColorMode = TopColorMode::black;
    c.bottomLeftColorMode = BottomColorMode::custom;
    c.bottomRightCustomColorHex = "not a colour / really";
    c.topFollowsOverlayOpacity = false;
    c.topOpacity = 0.6;
    c.topLeftOpacity = 0.5;
    c.topRightOpacity = 0.4;
    c.bottomOpacity = 0.3;
    c.bottomLeftOpacity = 0.2;
    c.bottomRightOpacity = 0.1;
    c.arcStrokeEnabled = true;
    for (const auto& value : {c, CornerSettings()}) {
        const auto data = encodeCornerSettings(value);
        ASSERT_TRUE(data);
        EXPECT_EQ(CornerSettings::decode(*data), value);
    }
    c.topRadius = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(encodeCornerSettings(c));
}

TEST(CornerSettingsLookups, RadiusOpacityAndColourPerCorner) {
    CornerSettings c;
    c.topLeftRadius = 5;
    c.topRadius = 20;
    EXPECT_EQ(c.effectiveRadius(ScreenCorner::topLeft), 20.0);
    c.topLinked = false;
    EXPECT_EQ(c.effectiveRadius(ScreenCorner::topLeft), 5.0);
    c.topLeftEnabled = false;
    EXPECT_EQ(c.effectiveRadius(ScreenCorner::topLeft), 0.0);
    c.screenTopRightEnabled = true;
    c.screenTopRightRadius = 40;
    EXPECT_EQ(c.effectiveRadius(ScreenCorner::screenTopRight), 28.0);
    c.screenTopLinked = false;
    EXPECT_EQ(c.effectiveRadius(ScreenCorner::screenTopRight), 40.0);

    EXPECT_EQ(c.opacity(ScreenCorner::topLeft, 0.37), 0.37);  // follows the overlay exactly
    c.topFollowsOverlayOpacity = false;
    c.topOpacity = 0.6;
    c.topRightOpacity = 0.2;
    EXPECT_EQ(c.opacity(ScreenCorner::topRight, 0.37), 0.2);  // unlinked above
    c.topLinked = true;
    EXPECT_EQ(c.opacity(ScreenCorner::topRight, 0.37), 0.6);
    c.bottomLeftOpacity = 0.1;
    EXPECT_EQ(c.opacity(ScreenCorner::bottomLeft, 0.37), 1.0);
    c.bottomLinked = false;
    EXPECT_EQ(c.opacity(ScreenCorner::bottomLeft, 0.37), 0.1);
    c.bottomLeftEnabled = false;  // enabled flags do not enter
    EXPECT_EQ(c.opacity(ScreenCorner::bottomLeft, 0.37), 0.1);

    const Color overlay = Color::rgb(0.2, 0.4, 0.6);
    EXPECT_EQ(c.color(ScreenCorner::topLeft, overlay), overlay);
    c.topLeftColorMode = TopColorMode::black;
    EXPECT_EQ(c.color(ScreenCorner::topLeft, overlay), Color::black());
    c.topLeftColorMode = TopColorMode::custom;
    c.topLeftCustomColorHex = "#ff0000";
    EXPECT_EQ(c.color(ScreenCorner::topLeft, overlay), Color::rgb(1, 0, 0));
    c.topLeftCustomColorHex = "#FF00ZZ";
    EXPECT_EQ(c.color(ScreenCorner::topLeft, overlay), Color::black());
    c.bottomRightColorMode = BottomColorMode::custom;
    c.bottomRightCustomColorHex = "#00FF00";
    EXPECT_EQ(c.color(ScreenCorner::bottomRight, overlay), Color::rgb(0, 1, 0));
    EXPECT_EQ(c.color(ScreenCorner::bottomLeft, overlay), Color::black());
    c.screenTopLeftColorMode = BottomColorMode::custom;
    c.screenTopLeftCustomColorHex = "0000FF";
    EXPECT_EQ(c.color(ScreenCorner::screenTopLeft, overlay), Color::rgb(0, 0, 1));
    // Row colour fields are not read by the lookup.
    c.bottomColorMode = BottomColorMode::custom;
    c.bottomCustomColorHex = "#FFFFFF";
    EXPECT_EQ(c.color(ScreenCorner::bottomLeft, overlay), Color::black());
}

TEST(CornerSettingsEquality, EveryFieldCountsEvenUnreadOnes) {
    CornerSettings a, b;
    b.bottomCustomColorHex = "#000001";
    EXPECT_NE(a, b);
    b = a;
    b.arcStrokeEnabled = true;
    EXPECT_NE(a, b);
    EXPECT_TRUE(isTop(ScreenCorner::topRight));
    EXPECT_FALSE(isTop(ScreenCorner::screenTopLeft));
}

TEST(CornerEnumerations, StoredStrings) {
    EXPECT_EQ(fromString<TopColorMode>("Follow Overlay"), TopColorMode::followOverlay);
    EXPECT_EQ(fromString<TopColorMode>("follow overlay"), std::nullopt);
    EXPECT_EQ(fromString<ShapeMode>("Full Bar"), ShapeMode::fullBar);
    EXPECT_EQ(fromString<ShapeMode>("FullBar"), std::nullopt);
    EXPECT_EQ(fromString<BottomColorMode>("Custom"), BottomColorMode::custom);
    EXPECT_EQ(toString(ScreenCorner::screenTopRight), "screenTopRight");
    EXPECT_EQ(allCases<ScreenCorner>().size(), 6u);
    EXPECT_EQ(allCases<ScreenCorner>()[4], ScreenCorner::screenTopLeft);
}

}  // namespace
}  // namespace velaro
