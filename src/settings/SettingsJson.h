// JSON helpers shared by the stored records: strict parsing of stored data, the two writers whose bytes
// the stored settings depend on, and key-by-key readers for lenient decoding.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/DefaultsStore.h"

namespace velaro::settings_json {

using Json = nlohmann::json;                 // objects keep their keys sorted (byte order)
using OrderedJson = nlohmann::ordered_json;  // objects keep the order in which keys were added

// Parses stored data as strict JSON (UTF-8, no comments, no trailing commas, no NaN/Infinity and no number
// beyond the double range). Nothing on any error; never throws.
std::optional<Json> parse(std::string_view text);
std::optional<Json> parse(std::span<const std::uint8_t> bytes);

// The bytes of a document, written compactly (no white space) in the number and string forms the stored
// settings have always used:
// - a double with an integral value prints without a fraction ("1", "-0", "30"); others print the shortest
//   digits that read back to the same double, in fixed notation for magnitudes from 1e-4 up to 1e16 and
//   as "1.5e+20" / "1e-05" beyond;
// - "/" is escaped as "\/", control characters as \b \f \n \r \t or \u00xx (lower-case hex), everything
//   else (non-ASCII included) is written as UTF-8; malformed UTF-8 in a string becomes U+FFFD;
// - a non-finite double cannot be written, nor a document nested more than 256 levels deep: the result
//   is then nothing, as for any failed encode.
// `encodeSorted` writes every object's keys in sorted (byte) order; it serves the records stored with
// sorted keys. `encodeInOrder` writes keys in the order they were added, as a freshly made encoder with
// default formatting does for the corner record.
std::optional<std::string> encodeSorted(const Json& document);
std::optional<std::string> encodeInOrder(const OrderedJson& document);

// The encoders' output as stored data, and stored data as text for the decoders.
Bytes toBytes(const std::string& text);
std::string_view asText(std::span<const std::uint8_t> bytes);

// Key-by-key reading of one JSON object. Each read reports whether the key was missing (absent or null),
// held a value of the asked kind, or held something else, so a decoder can choose per key between taking
// a fallback and failing the whole document.
class ObjectReader {
public:
    enum class State { missing, present, wrongType };
    template <typename T>
    struct Field {
        State state = State::missing;
        T value{};
        bool present() const { return state == State::present; }
        // The value when present, else the fallback (a wrong type is tolerated).
        T valueOr(T fallback) const { return present() ? value : std::move(fallback); }
    };

    // `object` must outlive the reader.
    explicit ObjectReader(const Json& object) : object_(object) {}
    explicit ObjectReader(Json&&) = delete;  // would dangle

    Field<bool> boolean(std::string_view key) const;
    // Any JSON number, integer or not.
    Field<double> number(std::string_view key) const;
    // A whole number in 0...4294967295 (written as an integer or as an integral fraction, such as 46.0).
    Field<std::uint32_t> uint32(std::string_view key) const;
    Field<std::string> string(std::string_view key) const;
    // An array of which every element is a string.
    Field<std::vector<std::string>> stringArray(std::string_view key) const;

    // Strict reads: a missing key gives the fallback; a key of the wrong kind makes `failed()` true (and
    // also gives the fallback, so the decoder can go on and fail once at the end).
    bool requireBool(std::string_view key, bool fallback);
    double requireNumber(std::string_view key, double fallback);
    std::string requireString(std::string_view key, std::string fallback);

    bool failed() const { return failed_; }

    // The value at `key` as it stands; nothing when it is missing.
    const Json* find(std::string_view key) const;

private:
    const Json& object_;
    bool failed_ = false;
};

}  // namespace velaro::settings_json
