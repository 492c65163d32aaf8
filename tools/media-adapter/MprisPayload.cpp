// Player values to payload keys, with every bus value checked for its type and range.
#include "MprisPayload.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMetaType>
#include <QRegularExpression>
#include <cmath>

#include "music/AdapterKeys.h"

namespace velaro::mpris {

using nlohmann::json;
namespace commands = adapter::commands;
namespace keys = adapter::keys;

namespace {

// Longer than a century of audio is no length a player means.
constexpr double maxMicroseconds = 100.0 * 365 * 24 * 3600 * 1e6;

std::string cutUtf8(const QByteArray& bytes) {
    if (bytes.size() <= maxTextBytes) return bytes.toStdString();
    int end = maxTextBytes;
    while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80) --end;
    return std::string(bytes.constData(), end);
}

bool isWord(const QString& argument, std::string_view word) {
    return argument == QLatin1String(word.data(), qsizetype(word.size()));
}

}  // namespace

QVariant propertyValue(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) return {};
    const QVariant v = reply.arguments().front();
    if (v.metaType() != QMetaType::fromType<QDBusVariant>()) return {};
    return v.value<QDBusVariant>().variant();
}

QVariantMap dictionary(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QVariantMap>()) return value.toMap();
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const auto argument = value.value<QDBusArgument>();
        if (argument.currentSignature() == QLatin1String("a{sv}")) return qdbus_cast<QVariantMap>(argument);
    }
    return {};
}

std::optional<double> microseconds(const QVariant& value) {
    switch (value.metaType().id()) {
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::Short:
        case QMetaType::Int:
        case QMetaType::Long:
        case QMetaType::LongLong:
            return double(value.toLongLong());
        case QMetaType::UChar:
        case QMetaType::UShort:
        case QMetaType::UInt:
        case QMetaType::ULong:
        case QMetaType::ULongLong:
            return double(value.toULongLong());
        case QMetaType::Double:
        case QMetaType::Float: {
            const double d = value.toDouble();
            return std::isfinite(d) ? std::optional<double>(d) : std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

std::optional<std::string> text(const QVariant& value) {
    if (value.metaType() != QMetaType::fromType<QString>()) return std::nullopt;
    return cutUtf8(value.toString().toUtf8());
}

std::optional<std::string> artists(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QString>()) return text(value);
    QStringList names;
    if (value.metaType() == QMetaType::fromType<QStringList>()) {
        names = value.toStringList();
    } else if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const auto argument = value.value<QDBusArgument>();
        if (argument.currentSignature() != QLatin1String("as")) return std::nullopt;
        names = qdbus_cast<QStringList>(argument);
    } else {
        return std::nullopt;
    }
    return cutUtf8(names.join(QStringLiteral(", ")).toUtf8());
}

std::optional<std::string> trackId(const QVariant& value) {
    QString path;
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        path = value.value<QDBusObjectPath>().path();
    else if (value.metaType() == QMetaType::fromType<QString>())
        path = value.toString();
    if (path.isEmpty() || path == noTrack) return std::nullopt;
    return cutUtf8(path.toUtf8());
}

std::string applicationId(const QString& busName, const QVariant& desktopEntry) {
    if (auto entry = text(desktopEntry); entry && !entry->empty()) {
        constexpr std::string_view suffix = ".desktop";
        if (entry->size() > suffix.size() && entry->ends_with(suffix))
            entry->resize(entry->size() - suffix.size());
        return *entry;
    }
    QString name = busName.startsWith(busPrefix) ? busName.mid(busPrefix.size()) : busName;
    static const QRegularExpression instance(QStringLiteral("\\.instance[0-9]+$"));
    name.remove(instance);
    return cutUtf8(name.toUtf8());
}

std::string timestampText(const QDateTime& moment) {
    return moment.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")).toStdString();
}

json payloadOf(const PlayerReading& player) {
    json payload = json::object();
    payload[keys::bundleIdentifier] = applicationId(player.busName, player.desktopEntry);
    const QVariantMap metadata = dictionary(player.metadata);
    if (auto title = text(metadata.value(QStringLiteral("xesam:title")))) payload[keys::title] = *title;
    if (auto artist = artists(metadata.value(QStringLiteral("xesam:artist"))))
        payload[keys::artist] = *artist;
    if (auto length = microseconds(metadata.value(QStringLiteral("mpris:length")));
        length && *length >= 1 && *length <= maxMicroseconds)
        payload[keys::duration] = *length / 1e6;
    if (player.position) {
        if (auto position = microseconds(*player.position);
            position && *position >= 0 && *position <= maxMicroseconds) {
            payload[keys::elapsedTime] = *position / 1e6;
            payload[keys::timestamp] = timestampText(player.positionReadAt);
        }
    }
    if (auto status = text(player.playbackStatus)) {
        if (*status == "Playing")
            payload[keys::playing] = true;
        else if (*status == "Paused" || *status == "Stopped")
            payload[keys::playing] = false;
    }
    if (player.rate.metaType() == QMetaType::fromType<double>()) {
        const double rate = player.rate.toDouble();
        if (std::isfinite(rate) && rate > 0) payload[keys::playbackRate] = rate;
    }
    if (auto id = trackId(metadata.value(QStringLiteral("mpris:trackid"))))
        payload[keys::uniqueIdentifier] = player.busName.toStdString() + *id;
    return payload;
}

std::optional<std::string> streamLine(const json& previous, const json& next, bool replace) {
    json line = {{keys::type, keys::dataType}, {keys::diff, !replace}};
    if (replace) {
        line[keys::payload] = next;
    } else {
        json changes = json::object();
        for (const auto& [key, value] : next.items())
            if (!previous.contains(key) || previous.at(key) != value) changes[key] = value;
        for (const auto& [key, value] : previous.items())
            if (!next.contains(key)) changes[key] = nullptr;
        if (changes.empty()) return std::nullopt;
        line[keys::payload] = std::move(changes);
    }
    return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<QString> choosePlayer(const std::vector<Candidate>& candidates, const QString& remembered) {
    const bool anyPlaying =
        std::any_of(candidates.begin(), candidates.end(), [](const auto& c) { return c.playing; });
    const Candidate* best = nullptr;
    for (const auto& c : candidates) {
        if (anyPlaying && !c.playing) continue;
        if (!best || c.lastActive > best->lastActive) {
            best = &c;
        } else if (c.lastActive == best->lastActive) {
            const bool cRemembered = c.busName == remembered, bestRemembered = best->busName == remembered;
            if (cRemembered != bestRemembered ? cRemembered : c.busName < best->busName) best = &c;
        }
    }
    return best ? std::optional<QString>(best->busName) : std::nullopt;
}

std::optional<Command> parseCommand(const QStringList& arguments) {
    if (arguments.isEmpty()) return std::nullopt;
    const QString& word = arguments.front();
    if (isWord(word, commands::stream)) {
        for (int i = 1; i < arguments.size(); ++i)
            if (!isWord(arguments[i], commands::noArtwork)) return std::nullopt;
        return Command{Command::Kind::stream};
    }
    if (isWord(word, commands::get) && arguments.size() == 1) return Command{Command::Kind::get};
    if (isWord(word, commands::send) && arguments.size() == 2) {
        static const QStringList known = {QStringLiteral("2"), QStringLiteral("4"), QStringLiteral("5")};
        if (!known.contains(arguments[1])) return std::nullopt;
        return Command{Command::Kind::send, 0, arguments[1].toInt()};
    }
    if (isWord(word, commands::seek) && arguments.size() == 2) {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,19}$"));
        if (!digits.match(arguments[1]).hasMatch()) return std::nullopt;
        bool ok = false;
        const long long micros = arguments[1].toLongLong(&ok);  // fails past the largest int64
        if (!ok) return std::nullopt;
        return Command{Command::Kind::seek, micros, 0};
    }
    return std::nullopt;
}

}  // namespace velaro::mpris
