// Strict JSON parsing, the compact writers of the stored records and the key-by-key object reader.
#include "settings/SettingsJson.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velaro::settings_json {

namespace {

// Writes the shortest round-trip digits of a finite double the way the stored settings print numbers:
// fixed notation for decimal exponents -4...15, scientific beyond, and no ".0" on integral values.
void appendDouble(std::string& out, double value) {
    char buffer[64];
    // Shortest scientific form: "-d.ddde+XX".
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    const std::size_t e = text.find('e');
    std::string digits;
    for (char c : text.substr(0, e)) {
        if (c != '.') digits.push_back(c);
    }
    const int exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    if (negative) out.push_back('-');
    if (exponent >= 16 || exponent < -4) {
        out.push_back(digits[0]);
        if (digits.size() > 1) {
            out.push_back('.');
            out.append(digits, 1);
        }
        char exponentText[16];
        std::snprintf(exponentText, sizeof exponentText, "e%c%02d", exponent < 0 ? '-' : '+',
                      std::abs(exponent));
        out.append(exponentText);
    } else if (exponent < 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out.append(digits);
    } else {
        const auto integerDigits = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= integerDigits) {
            out.append(digits);
            out.append(integerDigits - digits.size(), '0');
        } else {
            out.append(digits, 0, integerDigits);
            out.push_back('.');
            out.append(digits, integerDigits);
        }
    }
}

// Length of the well-formed UTF-8 sequence at `i`, or 0 when it is malformed (overlong, surrogate, beyond
// U+10FFFF, truncated).
std::size_t utf8SequenceLength(std::string_view s, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = at(i);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    if (at(i + 1) < low || at(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) return 0;
    }
    return length;
}

void appendString(std::string& out, std::string_view s) {
    out.push_back('"');
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            const std::size_t length = utf8SequenceLength(s, i);
            if (length == 0) {
                out.append("\xEF\xBF\xBD");
                ++i;
            } else {
                out.append(s.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
            case '"':
                out.append("\\\"");
                break;
            case '\\':
                out.append("\\\\");
                break;
            case '/':
                out.append("\\/");
                break;
            case '\b':
                out.append("\\b");
                break;
            case '\f':
                out.append("\\f");
                break;
            case '\n':
                out.append("\\n");
                break;
            case '\r':
                out.append("\\r");
                break;
            case '\t':
                out.append("\\t");
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out.append(escaped);
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
        ++i;
    }
    out.push_back('"');
}

// Deeper documents are refused rather than written: the writer recurses, and no stored record comes near.
constexpr int kMaxDepth = 256;

// Writes any nlohmann document type; objects come out in the container's own key order.
template <typename Document>
bool write(std::string& out, const Document& value, int depth = 0) {
    if (depth > kMaxDepth) return false;
    switch (value.type()) {
        case nlohmann::json::value_t::null:
            out.append("null");
            return true;
        case nlohmann::json::value_t::boolean:
            out.append(value.template get<bool>() ? "true" : "false");
            return true;
        case nlohmann::json::value_t::number_integer:
            out.append(std::to_string(value.template get<std::int64_t>()));
            return true;
        case nlohmann::json::value_t::number_unsigned:
            out.append(std::to_string(value.template get<std::uint64_t>()));
            return true;
        case nlohmann::json::value_t::number_float: {
            const double d = value.template get<double>();
            if (!std::isfinite(d)) return false;
            appendDouble(out, d);
            return true;
        }
        case nlohmann::json::value_t::string:
            appendString(out, value.template get_ref<const std::string&>());
            return true;
        case nlohmann::json::value_t::array: {
            out.push_back('[');
            bool first = true;
            for (const auto& element : value) {
                if (!first) out.push_back(',');
                first = false;
                if (!write(out, element, depth + 1)) return false;
            }
            out.push_back(']');
            return true;
        }
        case nlohmann::json::value_t::object: {
            out.push_back('{');
            bool first = true;
            for (auto it = value.begin(); it != value.end(); ++it) {
                if (!first) out.push_back(',');
                first = false;
                appendString(out, it.key());
                out.push_back(':');
                if (!write(out, it.value(), depth + 1)) return false;
            }
            out.push_back('}');
            return true;
        }
        case nlohmann::json::value_t::binary:
        case nlohmann::json::value_t::discarded:
            return false;
    }
    return false;
}

template <typename Document>
std::optional<std::string> encode(const Document& document) {
    std::string out;
    if (!write(out, document)) return std::nullopt;
    return out;
}

}  // namespace

std::optional<Json> parse(std::string_view text) {
    Json document = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false,
                                /*ignore_comments=*/false);
    if (document.is_discarded()) return std::nullopt;
    return document;
}

std::optional<Json> parse(std::span<const std::uint8_t> bytes) {
    return parse(asText(bytes));
}

std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::optional<std::string> encodeSorted(const Json& document) {
    return encode(document);
}

std::optional<std::string> encodeInOrder(const OrderedJson& document) {
    return encode(document);
}

Bytes toBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

const Json* ObjectReader::find(std::string_view key) const {
    if (!object_.is_object()) return nullptr;
    const auto it = object_.find(key);
    if (it == object_.end() || it->is_null()) return nullptr;
    return &*it;
}

ObjectReader::Field<bool> ObjectReader::boolean(std::string_view key) const {
    const Json* v = find(key);
    if (!v) return {};
    if (!v->is_boolean()) return {State::wrongType};
    return {State::present, v->get<bool>()};
}

ObjectReader::Field<double> ObjectReader::number(std::string_view key) const {
    const Json* v = find(key);
    if (!v) return {};
    if (!v->is_number()) return {State::wrongType};
    return {State::present, v->get<double>()};
}

ObjectReader::Field<std::uint32_t> ObjectReader::uint32(std::string_view key) const {
    const Json* v = find(key);
    if (!v) return {};
    if (v->is_number_unsigned()) {
        const auto n = v->get<std::uint64_t>();
        if (n <= 0xFFFFFFFFu) return {State::present, static_cast<std::uint32_t>(n)};
    } else if (v->is_number_integer()) {
        const auto n = v->get<std::int64_t>();
        if (n >= 0 && n <= 0xFFFFFFFF) return {State::present, static_cast<std::uint32_t>(n)};
    } else if (v->is_number_float()) {
        const double d = v->get<double>();
        if (d >= 0 && d <= 4294967295.0 && std::floor(d) == d)
            return {State::present, static_cast<std::uint32_t>(d)};
    }
    return {State::wrongType};
}

ObjectReader::Field<std::string> ObjectReader::string(std::string_view key) const {
    const Json* v = find(key);
    if (!v) return {};
    if (!v->is_string()) return {State::wrongType};
    return {State::present, v->get<std::string>()};
}

ObjectReader::Field<std::vector<std::string>> ObjectReader::stringArray(std::string_view key) const {
    const Json* v = find(key);
    if (!v) return {};
    if (!v->is_array()) return {State::wrongType};
    std::vector<std::string> out;
    out.reserve(v->size());
    for (const auto& element : *v) {
        if (!element.is_string()) return {State::wrongType};
        out.push_back(element.get<std::string>());
    }
    return {State::present, std::move(out)};
}

bool ObjectReader::requireBool(std::string_view key, bool fallback) {
    const auto field = boolean(key);
    if (field.state == State::wrongType) failed_ = true;
    return field.valueOr(fallback);
}

double ObjectReader::requireNumber(std::string_view key, double fallback) {
    const auto field = number(key);
    if (field.state == State::wrongType) failed_ = true;
    return field.valueOr(fallback);
}

std::string ObjectReader::requireString(std::string_view key, std::string fallback) {
    auto field = string(key);
    if (field.state == State::wrongType) failed_ = true;
    return field.valueOr(std::move(fallback));
}

}  // namespace velaro::settings_json
