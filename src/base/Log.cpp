// Tagged diagnostic lines: one mutex keeps lines from different threads whole, and the escaping keeps each
// event on a line of its own whatever text it carries.
#include "base/Log.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <utility>

namespace velaro {

Q_LOGGING_CATEGORY(lcApp, "velaro.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSettings, "velaro.settings", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSampling, "velaro.sampling", QtInfoMsg)
Q_LOGGING_CATEGORY(lcOverlay, "velaro.overlay", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlayer, "velaro.music.player", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAudio, "velaro.music.audio", QtInfoMsg)
Q_LOGGING_CATEGORY(lcVisualizer, "velaro.music.visualizer", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDesktop, "velaro.desktop", QtInfoMsg)

namespace {
std::mutex& logMutex() {
    static std::mutex m;
    return m;
}
LogSink& sinkSlot() {
    static LogSink sink;
    return sink;
}

// The length of the well-formed UTF-8 sequence at `i` and its code point; 0 for a byte that starts none
// (overlong forms and surrogates included).
std::size_t decodeUtf8(std::string_view s, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    std::size_t length;
    char32_t minimum;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        length = 2, cp = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, cp = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, cp = b0 & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

// Characters that show nothing of their own yet can hide, join, split or reorder the text around them: the
// controls, every format character (the bidirectional marks, embeddings, overrides and isolates among them,
// and the soft hyphen, the zero-width space and joiners, the byte order mark, the tag characters) and the
// other code points a renderer ignores by default (fillers, invisible separators, variation selectors). The
// two emoji presentation selectors stay: they only choose how the character before them is drawn, and
// titles carry them often. Sorted ranges, first and last included.
constexpr std::pair<char32_t, char32_t> kInvisible[] = {
    {0x0000, 0x001F}, {0x007F, 0x009F}, {0x00AD, 0x00AD}, {0x034F, 0x034F}, {0x0600, 0x0605},
    {0x061C, 0x061C}, {0x06DD, 0x06DD}, {0x070F, 0x070F}, {0x0890, 0x0891}, {0x08E2, 0x08E2},
    {0x115F, 0x1160}, {0x17B4, 0x17B5}, {0x180B, 0x180F}, {0x200B, 0x200F}, {0x2028, 0x202E},
    {0x2060, 0x206F}, {0x3164, 0x3164}, {0xFE00, 0xFE0D}, {0xFEFF, 0xFEFF}, {0xFFA0, 0xFFA0},
    {0xFFF0, 0xFFFB}, {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
    {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
};

bool needsEscape(char32_t cp) {
    const auto* range = std::lower_bound(std::begin(kInvisible), std::end(kInvisible), cp,
                                         [](const auto& r, char32_t c) { return r.second < c; });
    return range != std::end(kInvisible) && range->first <= cp;
}

void appendHex(std::string& out, const char* prefix, std::uint32_t value, int digits, const char* suffix) {
    char text[16];
    std::snprintf(text, sizeof text, "%s%0*X%s", prefix, digits, static_cast<unsigned>(value), suffix);
    out += text;
}

}  // namespace

std::string escapeLogText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t length = decodeUtf8(text, i, cp);
        if (length == 0) {
            appendHex(out, "\\x", static_cast<unsigned char>(text[i]), 2, "");
            ++i;
            continue;
        }
        if (cp == '\\')
            out += "\\\\";  // doubled, so that text from outside cannot pass for one of the escapes
        else if (!needsEscape(cp))
            out.append(text.substr(i, length));
        else if (cp < 0x80)
            appendHex(out, "\\x", cp, 2, "");
        else
            appendHex(out, "\\u{", cp, 4, "}");
        i += length;
    }
    return out;
}

TaggedLine tagged(std::string_view tag, std::string_view message) {
    TaggedLine line;
    const std::string escaped = escapeLogText(message);
    line.text.reserve(tag.size() + escaped.size() + 1);
    line.text.append(tag).append(" ").append(escaped);
    return line;
}

QDebug operator<<(QDebug debug, const TaggedLine& line) {
    const QDebugStateSaver saver(debug);
    debug.noquote().nospace() << QString::fromStdString(line.text);
    return debug;
}

namespace {

QtMessageHandler previousHandler = nullptr;

bool isOurs(const char* category) {
    return category && std::strncmp(category, "velaro.", 7) == 0;
}

void writeMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!isOurs(context.category)) {
        previousHandler(type, context, message);
        return;
    }
    // Qt's own variable, so the category or the time can be shown the way Qt's messages show them.
    static const bool patterned = qEnvironmentVariableIsSet("QT_MESSAGE_PATTERN");
    const QByteArray text = message.toUtf8();
    const QByteArray shown = patterned ? qFormatLogMessage(type, context, message).toUtf8() : text;
    std::lock_guard lock(logMutex());
    if (auto& sink = sinkSlot()) {
        const std::string_view line(text.constData(), std::size_t(text.size()));
        const std::size_t space = std::min(line.find(' '), line.size());
        sink(line.substr(0, space), line.substr(std::min(space + 1, line.size())));
        return;
    }
    std::fwrite(shown.constData(), 1, std::size_t(shown.size()), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

void installLogHandler() {
    static std::once_flag installed;
    std::call_once(installed, [] { previousHandler = qInstallMessageHandler(writeMessage); });
}

LogSink setLogSink(LogSink sink) {
    installLogHandler();
    LogSink previous;
    bool capturing;
    {
        std::lock_guard lock(logMutex());
        previous = std::move(sinkSlot());
        sinkSlot() = std::move(sink);
        capturing = bool(sinkSlot());
    }
    QLoggingCategory::setFilterRules(capturing ? QStringLiteral("velaro.*=true") : QString());
    return previous;
}

}  // namespace velaro
