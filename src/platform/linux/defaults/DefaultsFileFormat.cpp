// The settings file's text: its encoding, and a decoding that tells why a text is not a defaults file without
// quoting it, and drops only the entries that have no stored form.
#include "platform/linux/defaults/DefaultsFileFormat.h"

#include <QByteArray>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <utility>

#include <locale.h>

namespace velaro {

namespace {

constexpr std::string_view kDataKey = "$data";
// Our own values nest a few levels at most. A limit keeps the recursive walks below (and nlohmann's own
// recursive dump and compare) far from the stack's end on a hostile file.
constexpr int kMaxNesting = 256;

// What one pass over a JSON text finds outside its strings.
struct TextScan {
    int deepest = 0;
    // The text with every number that is not finite in a top-level key's value replaced by a 0 of the same
    // width (the key is dropped anyway, and every other byte keeps its place); empty when there was none.
    std::string cleaned;
    // The top-level keys whose values held such a number, as they are spelled in the text (quoted).
    std::vector<std::string_view> keysWithNonFinite;
    // Where the first such number outside a top-level key's value begins, which the parser refuses.
    std::size_t strayNonFiniteAt = std::string_view::npos;
};

bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isNumberChar(char c) {
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// True for a number literal beyond the double range and for the words NaN, Infinity and inf (with a sign)
// that writers such as Python's emit for non-finite values.
bool isNonFiniteToken(std::string_view token) {
    std::string_view word = token;
    if (!word.empty() && (word.front() == '-' || word.front() == '+')) word.remove_prefix(1);
    if (!word.empty() && isWordChar(word.front())) {
        const QByteArray lower = QByteArray(word.data(), static_cast<qsizetype>(word.size())).toLower();
        return lower == "nan" || lower == "inf" || lower == "infinity";
    }
    // Parsed in the C locale whatever the user's is, as the JSON parser does.
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const std::string text(token);
    return std::isinf(::strtod_l(text.c_str(), nullptr, cLocale));
}

// The deepest bracket nesting (counting stops past the limit) and the non-finite numbers of a JSON text.
TextScan scanText(std::string_view text) {
    TextScan scan;
    int depth = 0;
    std::size_t copiedUpTo = 0;
    std::string_view currentKey;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '"') {
            const std::size_t start = i++;
            for (bool escaped = false; i < text.size(); ++i) {
                if (escaped)
                    escaped = false;
                else if (text[i] == '\\')
                    escaped = true;
                else if (text[i] == '"')
                    break;
            }
            ++i;
            // At the top level of the object every string followed by a value is a key; the latest one
            // names the value that follows.
            if (depth == 1) currentKey = text.substr(start, std::min(i, text.size()) - start);
        } else if (c == '[' || c == '{') {
            scan.deepest = std::max(scan.deepest, ++depth);
            if (scan.deepest > kMaxNesting) break;
            ++i;
        } else if (c == ']' || c == '}') {
            --depth;
            ++i;
        } else if (isNumberChar(c) || isWordChar(c)) {
            const std::size_t start = i;
            while (i < text.size() && (isNumberChar(text[i]) || isWordChar(text[i]))) ++i;
            const std::string_view token = text.substr(start, i - start);
            if (!isNonFiniteToken(token)) continue;
            if (depth >= 1 && !currentKey.empty()) {
                scan.cleaned.append(text.substr(copiedUpTo, start - copiedUpTo));
                scan.cleaned.append("0").append(token.size() - 1, ' ');
                copiedUpTo = i;
                scan.keysWithNonFinite.push_back(currentKey);
            } else if (scan.strayNonFiniteAt == std::string_view::npos) {
                scan.strayNonFiniteAt = start;
            }
        } else {
            ++i;
        }
    }
    if (copiedUpTo > 0) scan.cleaned.append(text.substr(copiedUpTo));
    return scan;
}

// "line L, column C" of a byte offset, both counted from 1 as the parser counts them.
std::string textPosition(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    const std::string_view before = text.substr(0, offset);
    const auto lastLine = before.rfind('\n');
    const std::size_t column = lastLine == std::string_view::npos ? offset + 1 : offset - lastLine;
    return "line " + std::to_string(std::count(before.begin(), before.end(), '\n') + 1) + ", column " +
           std::to_string(column);
}

PlistValue toFileForm(const PlistValue& value) {
    if (value.is_binary()) {
        const auto& bytes = value.get_binary();
        const QByteArray raw(reinterpret_cast<const char*>(bytes.data()),
                             static_cast<qsizetype>(bytes.size()));
        return PlistValue{{std::string(kDataKey), raw.toBase64().toStdString()}};
    }
    if (value.is_array()) {
        PlistValue out = PlistValue::array();
        for (const auto& element : value) out.push_back(toFileForm(element));
        return out;
    }
    if (value.is_object()) {
        PlistValue out = PlistValue::object();
        for (const auto& [key, element] : value.items()) out[key] = toFileForm(element);
        return out;
    }
    return value;
}

// Turns parsed file JSON into stored values: {"$data": base64} becomes data, and whole numbers become
// signed integers (the parser reads "5" as unsigned; the app stores signed). Numbers beyond double range
// never get here: the parser rejects them, and the file is set aside with its content intact.
void fromFileForm(PlistValue& value) {
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            value = static_cast<std::int64_t>(u);
    } else if (value.is_array()) {
        for (auto& element : value) fromFileForm(element);
    } else if (value.is_object()) {
        if (value.size() == 1 && value.contains(kDataKey) && value[std::string(kDataKey)].is_string()) {
            const auto& text = value[std::string(kDataKey)].get_ref<const std::string&>();
            auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(text),
                                                          QByteArray::AbortOnBase64DecodingErrors);
            // Text that is not base64 stays a plain dictionary: a data read of it is then "absent",
            // and the file's content is kept as it was.
            if (decoded) {
                value = plistData(Bytes(decoded.decoded.begin(), decoded.decoded.end()));
                return;
            }
        }
        for (auto& [key, element] : value.items()) fromFileForm(element);
    }
}

// `indent` -1: on one line.
std::string encodeWithIndent(const PlistValue& stored, int indent) {
    // Invalid UTF-8 in a key or string is written as U+FFFD rather than failing the whole write.
    return toFileForm(stored).dump(indent, ' ', false, PlistValue::error_handler_t::replace) + "\n";
}

}  // namespace

std::string encodeDefaultsFile(const PlistValue& stored) {
    return encodeWithIndent(stored, 2);
}

std::string encodeDefaultsFileOnOneLine(const PlistValue& stored) {
    return encodeWithIndent(stored, -1);
}

bool hasFileForm(const PlistValue& value) {
    if (value.is_number_float()) return std::isfinite(value.get<double>());
    if (value.is_array() || value.is_object()) {
        for (const auto& element : value)
            if (!hasFileForm(element)) return false;
    }
    return true;
}

bool looksWhole(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    return first != std::string_view::npos && text[first] == '{' && text[last] == '}';
}

std::optional<PlistValue> decodeDefaultsFile(std::string_view text, std::string* error,
                                             std::vector<std::string>* skippedKeys) {
    auto fail = [&](std::string reason) -> std::optional<PlistValue> {
        if (error) *error = std::move(reason);
        return std::nullopt;
    };
    const TextScan scan = scanText(text);
    if (scan.deepest > kMaxNesting) return fail("nested deeper than " + std::to_string(kMaxNesting));
    PlistValue parsed;
    // The reason says where the text stops being JSON, never what it holds there: the parser's own words
    // quote the bytes it read last, and those are the file's, whatever they are.
    try {
        parsed = PlistValue::parse(scan.keysWithNonFinite.empty() ? text : std::string_view(scan.cleaned));
    } catch (const PlistValue::parse_error& e) {
        // "[json.exception.parse_error.101] parse error at line 1, column 7: syntax error while parsing value
        // - invalid literal; last read: '...'; expected ...": what stands between the position and the bytes.
        std::string what = e.what();
        const auto colon = what.find(": ");
        what = colon == std::string::npos ? "syntax error"
                                          : what.substr(colon + 2, what.find("; last read:") - colon - 2);
        // The parser counts the bytes it read, the one it stopped at included; the end of the text is past
        // them.
        const bool atEnd = e.byte >= text.size() && what.find("end of input") != std::string::npos;
        return fail(what + " at " + textPosition(text, atEnd ? text.size() : e.byte > 0 ? e.byte - 1 : 0));
    } catch (const PlistValue::out_of_range&) {
        return fail("a number beyond the double range at " + textPosition(text, scan.strayNonFiniteAt));
    } catch (const PlistValue::exception&) {
        return fail("not JSON");
    }
    if (!parsed.is_object())
        return fail(std::string("top level is ") + parsed.type_name() + ", not an object");
    // One value that has no stored form costs its own key, not the whole file.
    for (const auto quoted : scan.keysWithNonFinite) {
        try {
            const auto key = PlistValue::parse(quoted);
            if (key.is_string() && parsed.erase(key.get<std::string>()) > 0 && skippedKeys)
                skippedKeys->push_back(key.get<std::string>());
        } catch (const PlistValue::exception&) {
        }
    }
    for (auto it = parsed.begin(); it != parsed.end();) {
        // A null has no stored form; the key reads as absent.
        if (it->is_null()) {
            if (skippedKeys) skippedKeys->push_back(it.key());
            it = parsed.erase(it);
            continue;
        }
        fromFileForm(*it);
        ++it;
    }
    return parsed;
}

}  // namespace velaro
