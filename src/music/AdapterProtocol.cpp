// Adapter lookup, line splitting and parsing, the strict date-time parser and the payload's derived keys.
#include "music/AdapterProtocol.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>

namespace velaro::adapter {

using nlohmann::json;

std::optional<std::string> findMediaAdapter(const std::string& appDir) {
    if (appDir.empty()) return std::nullopt;
    for (const std::string& folder : {appDir + "/../libexec/velaro", appDir}) {
        const std::string path = folder + "/" + programName;
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return std::nullopt;
}

namespace {

// Whether brackets nest no deeper than `limit`, counting only those outside strings.
bool nestingWithin(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

}  // namespace

std::optional<json> parseObject(std::string_view text) {
    if (text.empty() || !nestingWithin(text, maxNesting)) return std::nullopt;
    json object;
    try {
        object = json::parse(text, nullptr, /*allow_exceptions=*/false);
    } catch (const std::exception&) {
        return std::nullopt;  // numbers beyond the double range, and anything else the parser throws for
    }
    if (!object.is_object()) return std::nullopt;
    return object;
}

std::optional<DataLine> parseDataLine(std::string_view line) {
    auto parsed = parseObject(line);
    if (!parsed) return std::nullopt;
    json& object = *parsed;
    const auto type = object.find(keys::type);
    if (type == object.end() || !type->is_string() || type->get_ref<const std::string&>() != keys::dataType)
        return std::nullopt;
    DataLine data;
    if (const auto diff = object.find(keys::diff); diff != object.end() && diff->is_boolean())
        data.diff = diff->get<bool>();
    if (const auto payload = object.find(keys::payload); payload != object.end() && payload->is_object())
        data.payload = std::move(*payload);
    return data;
}

std::optional<std::string> artworkRefusal(std::string_view getOutput) {
    const auto object = parseObject(getOutput);
    if (!object) return std::nullopt;
    const auto payload = object->find(keys::payload);
    const json& used = payload != object->end() && payload->is_object() ? *payload : *object;
    const auto why = used.find(keys::artworkRefused);
    if (why == used.end() || !why->is_string()) return std::nullopt;
    return why->get<std::string>();
}

std::size_t LineSplitter::append(std::string_view chunk, std::vector<std::string>& lines) {
    std::size_t dropped = 0;
    std::size_t pos = 0;
    while (pos < chunk.size()) {
        const std::size_t feed = chunk.find('\n', pos);
        const bool ends = feed != std::string_view::npos;
        const std::string_view piece = chunk.substr(pos, (ends ? feed : chunk.size()) - pos);
        if (discarding_) {
            discarding_ = !ends;
        } else if (buffer_.size() + piece.size() > maxLineBytes) {
            buffer_.clear();
            buffer_.shrink_to_fit();
            ++dropped;
            discarding_ = !ends;
        } else {
            buffer_.append(piece);
            if (ends) {
                if (!buffer_.empty() && buffer_.back() == '\r') buffer_.pop_back();
                lines.push_back(std::move(buffer_));
                buffer_.clear();
            }
        }
        if (!ends) break;
        pos = feed + 1;
    }
    return dropped;
}

namespace {

std::string shortestDecimal(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

}  // namespace

std::string text(const json& value) {
    switch (value.type()) {
        case json::value_t::string:
            return value.get_ref<const std::string&>();
        case json::value_t::number_integer:
            return std::to_string(value.get<std::int64_t>());
        case json::value_t::number_unsigned:
            return std::to_string(value.get<std::uint64_t>());
        case json::value_t::number_float:
            return shortestDecimal(value.get<double>());
        default:
            return value.dump(-1, ' ', false, json::error_handler_t::replace);
    }
}

std::string lengthText(double seconds) {
    std::string s = shortestDecimal(seconds);
    if (std::isfinite(seconds) && s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

namespace {

// Reads exactly `width` digits at `pos`.
bool digits(std::string_view s, std::size_t pos, std::size_t width, int& out) {
    if (pos + width > s.size()) return false;
    out = 0;
    for (std::size_t i = pos; i < pos + width; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

bool isLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * unsigned(m + (m > 2 ? -3 : 9)) + 2) / 5 + unsigned(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (long long)doe - 719468;
}

}  // namespace

std::optional<double> parseTimestamp(std::string_view s) {
    int year, month, day, hour, minute, second;
    if (!digits(s, 0, 4, year) || s.size() < 19 || s[4] != '-' || !digits(s, 5, 2, month) || s[7] != '-' ||
        !digits(s, 8, 2, day) || s[10] != 'T' || !digits(s, 11, 2, hour) || s[13] != ':' ||
        !digits(s, 14, 2, minute) || s[16] != ':' || !digits(s, 17, 2, second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59)
        return std::nullopt;
    std::size_t pos = 19;
    double fraction = 0;
    if (pos < s.size() && s[pos] == '.') {
        ++pos;
        const std::size_t start = pos;
        double scale = 0.1;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            fraction += (s[pos] - '0') * scale;
            scale /= 10;
            ++pos;
        }
        if (pos == start) return std::nullopt;
    }
    int offsetMinutes = 0;
    if (pos < s.size() && s[pos] == 'Z') {
        ++pos;
    } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        int oh, om;
        if (!digits(s, pos + 1, 2, oh) || pos + 3 >= s.size() || s[pos + 3] != ':' ||
            !digits(s, pos + 4, 2, om) || oh > 23 || om > 59)
            return std::nullopt;
        offsetMinutes = (s[pos] == '-' ? -1 : 1) * (oh * 60 + om);
        pos += 6;
    } else {
        return std::nullopt;  // a date-time without a zone names no moment
    }
    if (pos != s.size()) return std::nullopt;
    const long long seconds =
        daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offsetMinutes * 60LL;
    return double(seconds) + fraction;
}

double playbackRate(const json& payload) {
    std::optional<bool> playing;
    std::optional<double> rate;
    if (const auto it = payload.find(keys::playing); it != payload.end() && it->is_boolean())
        playing = it->get<bool>();
    if (const auto it = payload.find(keys::playbackRate); it != payload.end() && it->is_number())
        rate = it->get<double>();
    if (playing == false) return 0;
    if (playing == true) return rate.value_or(1.0);
    return rate.value_or(0.0);
}

namespace {

std::string textOr(const json& payload, std::string_view key) {
    const auto it = payload.find(key);
    return it == payload.end() ? std::string() : text(*it);
}

}  // namespace

std::optional<std::string> trackKey(const json& payload) {
    if (const auto uid = payload.find(keys::uniqueIdentifier); uid != payload.end())
        return "uid:" + text(*uid);
    const auto title = payload.find(keys::title);
    if (title == payload.end()) return std::nullopt;
    std::string key = "cmp:";
    if (const auto b = payload.find(keys::bundleIdentifier); b != payload.end() && b->is_string())
        key += b->get_ref<const std::string&>();
    double length = 0;
    if (const auto d = payload.find(keys::duration); d != payload.end() && d->is_number())
        length = d->get<double>();
    key.append("|").append(text(*title)).append("|").append(textOr(payload, keys::artist)).append("|");
    key += lengthText(length);
    return key;
}

std::optional<std::string> artworkKey(const json& payload) {
    const auto title = payload.find(keys::title);
    if (title == payload.end()) return std::nullopt;
    std::string key = textOr(payload, keys::bundleIdentifier);
    key.append("|").append(text(*title)).append("|").append(textOr(payload, keys::artist));
    return key;
}

std::string_view prefixCharacters(std::string_view s, std::size_t count) {
    std::size_t i = 0;
    for (std::size_t n = 0; n < count && i < s.size(); ++n) {
        ++i;
        while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    }
    return s.substr(0, i);
}

}  // namespace velaro::adapter
