// The stored-JSON writers (exact bytes), the strict parser and the key-by-key reader.
#include "settings/SettingsJson.h"

#include <limits>

#include <gtest/gtest.h>

namespace velaro::settings_json {
namespace {

std::string sorted(const Json& document) {
    return encodeSorted(document).value_or("<failed>");
}

TEST(SettingsJsonWriter, PrintsDoublesShortestWithoutTrailingFraction) {
    EXPECT_EQ(sorted(Json(1.0)), "1");
    EXPECT_EQ(sorted(Json(30.0)), "30");
    EXPECT_EQ(sorted(Json(-10.0)), "-10");
    EXPECT_EQ(sorted(Json(-0.0)), "-0");
    EXPECT_EQ(sorted(Json(0.0)), "0");
    EXPECT_EQ(sorted(Json(0.5)), "0.5");
    EXPECT_EQ(sorted(Json(0.1)), "0.1");
    EXPECT_EQ(sorted(Json(0.451)), "0.451");
    EXPECT_EQ(sorted(Json(123456.789)), "123456.789");
    EXPECT_EQ(sorted(Json(0.0001)), "0.0001");
    EXPECT_EQ(sorted(Json(0.00001)), "1e-05");
    EXPECT_EQ(sorted(Json(1e15)), "1000000000000000");
    EXPECT_EQ(sorted(Json(1e16)), "1e+16");
    EXPECT_EQ(sorted(Json(-1.5e20)), "-1.5e+20");
    EXPECT_EQ(sorted(Json(1e-300)), "1e-300");
    EXPECT_EQ(sorted(Json(1.0 / 3.0)), "0.3333333333333333");
    EXPECT_EQ(sorted(Json(std::numeric_limits<double>::max())), "1.7976931348623157e+308");
    EXPECT_EQ(sorted(Json(46)), "46");
    EXPECT_EQ(sorted(Json(4294967295u)), "4294967295");
    // Every printed double reads back to the same value.
    for (double v : {0.1, 0.2, 2.0 / 3.0, 1e-7, 6.02214076e23, 5e-324, 0.30000000000000004}) {
        EXPECT_EQ(Json::parse(sorted(Json(v))).get<double>(), v) << sorted(Json(v));
    }
}

TEST(SettingsJsonWriter, NonFiniteNumbersFailTheWholeEncode) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(encodeSorted(Json{{"a", 1}, {"b", {1, std::numeric_limits<double>::quiet_NaN()}}}));
    EXPECT_FALSE(encodeInOrder(OrderedJson{{"a", -inf}}));
    EXPECT_FALSE(encodeSorted(Json::binary({1, 2})));
}

TEST(SettingsJsonWriter, RefusesDocumentsNestedBeyondAnyRecord) {
    const auto nested = [](int depth) {
        Json document = 1;
        for (int i = 0; i < depth; ++i) document = Json::array({std::move(document)});
        return document;
    };
    EXPECT_TRUE(encodeSorted(nested(200)));
    // Parsed input can be this deep; writing it back must fail cleanly instead of exhausting the stack.
    EXPECT_FALSE(encodeSorted(*parse(std::string(100000, '[') + std::string(100000, ']'))));
}

TEST(SettingsJsonWriter, EscapesSlashesAndControlCharactersAndRepairsBadUtf8) {
    EXPECT_EQ(sorted(Json("a/b")), R"("a\/b")");
    EXPECT_EQ(sorted(Json("q\"\\")), R"("q\"\\")");
    EXPECT_EQ(sorted(Json("\b\f\n\r\t")), R"("\b\f\n\r\t")");
    EXPECT_EQ(sorted(Json(std::string("\x01\x1f\0", 3))), R"("\u0001\u001f\u0000")");
    EXPECT_EQ(sorted(Json("\x7f\u00e9\u21A9\U0001F600")), "\"\x7f\u00e9\u21A9\U0001F600\"");
    // Malformed sequences (stray continuation, truncated, overlong, surrogate) become U+FFFD, so the
    // written bytes always parse again.
    const std::string bad =
        "a\x80"
        "b\xE2\x86"
        "c\xC0\xAF"
        "d\xED\xA0\x80";
    const auto written = sorted(Json(bad));
    EXPECT_TRUE(parse(written)) << written;
    EXPECT_EQ(written.find('\x80'), std::string::npos);
    EXPECT_EQ(written.substr(0, 5), "\"a\xEF\xBF\xBD");
}

TEST(SettingsJsonWriter, SortedAndInOrderObjectsAreCompact) {
    Json sortedDocument;
    sortedDocument["zeta"] = 1;
    sortedDocument["Alpha"] = true;
    sortedDocument["alpha"] = Json::array({nullptr, "x"});
    sortedDocument["nested"] = Json{{"b", 2}, {"a", 1}};
    EXPECT_EQ(sorted(sortedDocument), R"({"Alpha":true,"alpha":[null,"x"],"nested":{"a":1,"b":2},"zeta":1})");

    OrderedJson ordered;
    ordered["zeta"] = 1;
    ordered["alpha"] = 0.25;
    EXPECT_EQ(encodeInOrder(ordered), R"({"zeta":1,"alpha":0.25})");
    EXPECT_EQ(sorted(Json::object()), "{}");
    EXPECT_EQ(sorted(Json::array()), "[]");
}

TEST(SettingsJsonParser, RefusesWhatIsNotStrictJson) {
    for (const char* bad :
         {"", "{", "{\"a\":1,}", "[1,]", "{\"a\":NaN}", "{\"a\":Infinity}", "{\"a\":1e999}", "{\"a\":-1e999}",
          "// c\n{}", "{'a':1}", "{\"a\":01}", "{\"a\":1} x", "\"\xff\"", "{\"a\":\"\\ud800\"}"}) {
        EXPECT_FALSE(parse(std::string_view(bad))) << bad;
    }
    EXPECT_TRUE(parse(std::string_view(" {\"a\" : [1, 2.5e3, true, null]}\n")));
    const std::string nested = std::string(20000, '[') + std::string(20000, ']');
    EXPECT_TRUE(parse(std::string_view(nested)));  // deep nesting is not a crash
}

TEST(SettingsJsonReader, DistinguishesMissingPresentAndWrongType) {
    const Json object =
        Json::parse(R"({"b":true,"n":2,"f":0.5,"s":"x","nul":null,"arr":["a","b"],"mixed":["a",1]})");
    const ObjectReader reader(object);
    using State = ObjectReader::State;
    EXPECT_EQ(reader.boolean("b").state, State::present);
    EXPECT_EQ(reader.boolean("n").state, State::wrongType);  // a number is no boolean
    EXPECT_EQ(reader.boolean("absent").state, State::missing);
    EXPECT_EQ(reader.boolean("nul").state, State::missing);  // null counts as absent
    EXPECT_EQ(reader.number("n").value, 2.0);
    EXPECT_EQ(reader.number("f").value, 0.5);
    EXPECT_EQ(reader.number("b").state, State::wrongType);  // a boolean is no number
    EXPECT_EQ(reader.string("n").state, State::wrongType);
    EXPECT_EQ(reader.stringArray("arr").value, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(reader.stringArray("mixed").state, State::wrongType);
    EXPECT_EQ(reader.stringArray("s").state, State::wrongType);
    EXPECT_EQ(reader.number("s").valueOr(7), 7);

    const Json array = Json::array({true});
    const ObjectReader notAnObject(array);
    EXPECT_EQ(notAnObject.boolean("b").state, State::missing);
}

TEST(SettingsJsonReader, UnsignedThirtyTwoBitNumbersMustBeWholeAndInRange) {
    const Json object = Json::parse(
        R"({"zero":0,"max":4294967295,"over":4294967296,"neg":-1,"whole":46.0,"frac":46.5,"exp":4.6e1,"huge":1e300,"s":"46"})");
    const ObjectReader reader(object);
    EXPECT_EQ(reader.uint32("zero").value, 0u);
    EXPECT_EQ(reader.uint32("max").value, 4294967295u);
    EXPECT_EQ(reader.uint32("whole").value, 46u);
    EXPECT_EQ(reader.uint32("exp").value, 46u);
    for (const char* bad : {"over", "neg", "frac", "huge", "s"}) {
        EXPECT_EQ(reader.uint32(bad).state, ObjectReader::State::wrongType) << bad;
    }
}

TEST(SettingsJsonReader, StrictReadsFailOnceForAnyWrongType) {
    const Json object = Json::parse(R"({"ok":true,"bad":"yes","n":3})");
    ObjectReader reader(object);
    EXPECT_TRUE(reader.requireBool("ok", false));
    EXPECT_EQ(reader.requireNumber("missing", 4), 4);
    EXPECT_FALSE(reader.failed());
    EXPECT_TRUE(reader.requireBool("bad", true));  // fallback handed back, but the read failed
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(reader.requireNumber("n", 0), 3);
    EXPECT_TRUE(reader.failed());  // stays failed
}

}  // namespace
}  // namespace velaro::settings_json
