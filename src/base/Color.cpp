// The colour helpers: stored hex form, parsing, blending, luminance and closeness.
#include "base/Color.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace velaro {

namespace {

// One component as the integer written into the hex string.
int hexComponent(double value) {
    const double scaled = std::round(value * 255.0);  // halves go away from zero
    return static_cast<int>(std::clamp(scaled, 0.0, 255.0));
}

// Decodes the UTF-8 code point that starts at `text[i]`; returns its length, or 0 when the bytes are not
// a well-formed sequence (such bytes are never trimmed).
std::size_t decodeAt(std::string_view text, std::size_t i, char32_t& out) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    if (lead < 0x80) {
        out = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        out = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        out = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        out = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        out = (out << 6) | (byte(i + k) & 0x3F);
    }
    return length;
}

// Unicode white space and line separators: the characters a user's paste or an edited file may wrap
// around a colour string.
bool isWhitespaceOrNewline(char32_t c) {
    switch (c) {
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x20:
        case 0x85:
        case 0xA0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

std::string_view trimmed(std::string_view text) {
    // Leading: walk code points forward.
    std::size_t start = 0;
    while (start < text.size()) {
        char32_t c = 0;
        const std::size_t length = decodeAt(text, start, c);
        if (length == 0 || !isWhitespaceOrNewline(c)) break;
        start += length;
    }
    text.remove_prefix(start);
    // Trailing: find the start of the last code point (at most 4 bytes back) and test it.
    while (!text.empty()) {
        std::size_t back = 1;
        while (back < 4 && back < text.size() &&
               (static_cast<unsigned char>(text[text.size() - back]) & 0xC0) == 0x80) {
            ++back;
        }
        const std::size_t at = text.size() - back;
        char32_t c = 0;
        if (decodeAt(text, at, c) != back || !isWhitespaceOrNewline(c)) break;
        text.remove_suffix(back);
    }
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string hexString(const Color& color) {
    if (std::isnan(color.red) || std::isnan(color.green) || std::isnan(color.blue)) return "#000000";
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "#%02X%02X%02X", hexComponent(color.red), hexComponent(color.green),
                  hexComponent(color.blue));
    return buffer;
}

std::optional<Color> colorFromHex(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '#') text.remove_prefix(1);
    if (text.size() != 6) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0) return std::nullopt;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return Color::rgb(((value >> 16) & 0xFF) / 255.0, ((value >> 8) & 0xFF) / 255.0, (value & 0xFF) / 255.0);
}

double relativeLuminance(const Color& color) {
    return (0.2126 * color.red + 0.7152 * color.green) + 0.0722 * color.blue;
}

bool colorsClose(const Color& a, const Color& b, double tolerance) {
    return std::abs(a.red - b.red) < tolerance && std::abs(a.green - b.green) < tolerance &&
           std::abs(a.blue - b.blue) < tolerance;
}

ColorHsb toHsb(const Color& c) {
    const double maxC = std::max({c.red, c.green, c.blue});
    const double minC = std::min({c.red, c.green, c.blue});
    const double delta = maxC - minC;
    double hue = 0;
    if (delta > 0) {
        if (maxC == c.red)
            hue = std::fmod((c.green - c.blue) / delta, 6.0);
        else if (maxC == c.green)
            hue = (c.blue - c.red) / delta + 2;
        else
            hue = (c.red - c.green) / delta + 4;
        hue /= 6;
        if (hue < 0) hue += 1;
    }
    return {hue, maxC > 0 ? delta / maxC : 0, maxC};
}

Color fromHsb(const ColorHsb& h) {
    const double v = h.brightness, s = h.saturation;
    const double scaled = h.hue * 6;
    const int sector = static_cast<int>(std::floor(scaled)) % 6;
    const double f = scaled - std::floor(scaled);
    const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    switch (sector) {
        case 0:
            return Color::rgb(v, t, p);
        case 1:
            return Color::rgb(q, v, p);
        case 2:
            return Color::rgb(p, v, t);
        case 3:
            return Color::rgb(p, q, v);
        case 4:
            return Color::rgb(t, p, v);
        default:
            return Color::rgb(v, p, q);
    }
}

}  // namespace velaro
