// One-shot commands: blocking calls with short time limits, since the process exists only for this call.
#include "MprisCommands.h"

#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDateTime>
#include <QFile>
#include <QStandardPaths>
#include <optional>

#include "ArtworkFetch.h"
#include "MprisPayload.h"
#include "music/AdapterKeys.h"

namespace velaro::mpris {

namespace {

constexpr int callTimeoutMs = 2000;

QDBusMessage call(const QDBusConnection& bus, const QString& service, const QString& interface,
                  const QString& method, const QVariantList& arguments = {}) {
    auto message = QDBusMessage::createMethodCall(service, objectPath, interface, method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, callTimeoutMs);
}

bool succeeded(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ReplyMessage;
}

QVariant property(const QDBusConnection& bus, const QString& service, const QString& interface,
                  const QString& name) {
    const auto reply = call(bus, service, QStringLiteral("org.freedesktop.DBus.Properties"),
                            QStringLiteral("Get"), {interface, name});
    if (!succeeded(reply) || reply.arguments().size() != 1) return {};
    const QVariant v = reply.arguments().front();
    return v.metaType() == QMetaType::fromType<QDBusVariant>() ? v.value<QDBusVariant>().variant()
                                                               : QVariant();
}

// The player the stream follows when it is still there, else the one the stream's rule picks from what the
// bus says now (its idea of recency is the stream's alone).
std::optional<QString> chosenPlayer(const QDBusConnection& bus) {
    QString remembered;
    if (const QString path = rememberedPlayerPath(bus); !path.isEmpty()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) remembered = QString::fromUtf8(file.read(1024)).trimmed();
    }
    std::vector<Candidate> candidates;
    for (const QString& name : bus.interface()->registeredServiceNames().value()) {
        if (!name.startsWith(busPrefix)) continue;
        const auto status = text(property(bus, name, playerInterface, QStringLiteral("PlaybackStatus")));
        candidates.push_back({name, status && *status == "Playing", 0});
    }
    return choosePlayer(candidates, remembered);
}

}  // namespace

QString rememberedPlayerPath(const QDBusConnection& bus) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const auto id =
        bus.call(QDBusMessage::createMethodCall(
                     QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                     QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")),
                 QDBus::Block, callTimeoutMs);
    if (folder.isEmpty() || !succeeded(id) || id.arguments().size() != 1) return {};
    const QString busId = id.arguments().front().toString();
    if (busId.isEmpty() || busId.contains(QLatin1Char('/'))) return {};
    return folder + QStringLiteral("/velaro-media-adapter-") + busId + QStringLiteral(".player");
}

int runSeek(const QDBusConnection& bus, long long micros) {
    const auto player = chosenPlayer(bus);
    if (!player) return exitFailed;
    const QVariant canSeek = property(bus, *player, playerInterface, QStringLiteral("CanSeek"));
    if (canSeek.metaType() == QMetaType::fromType<bool>() && !canSeek.toBool()) return exitFailed;
    const QVariantMap metadata =
        dictionary(property(bus, *player, playerInterface, QStringLiteral("Metadata")));
    if (const auto track = trackId(metadata.value(QStringLiteral("mpris:trackid")))) {
        const QDBusObjectPath path(QString::fromStdString(*track));
        if (path.path().isEmpty()) return exitFailed;  // not a valid object path
        const auto reply = call(bus, *player, playerInterface, QStringLiteral("SetPosition"),
                                {QVariant::fromValue(path), QVariant::fromValue(qlonglong(micros))});
        return succeeded(reply) ? exitSuccess : exitFailed;
    }
    // Without a track id SetPosition cannot name the track: move by the distance from where it is.
    const auto position = microseconds(property(bus, *player, playerInterface, QStringLiteral("Position")));
    if (!position) return exitFailed;
    const auto reply = call(bus, *player, playerInterface, QStringLiteral("Seek"),
                            {QVariant::fromValue(qlonglong(micros - static_cast<long long>(*position)))});
    return succeeded(reply) ? exitSuccess : exitFailed;
}

int runSend(const QDBusConnection& bus, int number) {
    const char* method = number == 2   ? "PlayPause"
                         : number == 4 ? "Next"
                         : number == 5 ? "Previous"
                                       : nullptr;
    if (!method) return exitUsage;
    const auto player = chosenPlayer(bus);
    if (!player) return exitFailed;
    return succeeded(call(bus, *player, playerInterface, QString::fromLatin1(method))) ? exitSuccess
                                                                                       : exitFailed;
}

int runGet(const QDBusConnection& bus, const std::function<void(const std::string&)>& writeLine) {
    const auto player = chosenPlayer(bus);
    if (!player) return exitFailed;
    const auto reply = call(bus, *player, QStringLiteral("org.freedesktop.DBus.Properties"),
                            QStringLiteral("GetAll"), {playerInterface});
    if (!succeeded(reply) || reply.arguments().size() != 1) return exitFailed;
    const QVariantMap properties = dictionary(reply.arguments().front());
    PlayerReading reading{*player,
                          property(bus, *player, rootInterface, QStringLiteral("DesktopEntry")),
                          properties.value(QStringLiteral("Metadata")),
                          properties.value(QStringLiteral("PlaybackStatus")),
                          properties.value(QStringLiteral("Rate")),
                          std::nullopt,
                          {}};
    // The same function writes the stream's keys, so the engine can tell that this cover is its track's.
    nlohmann::json payload = payloadOf(reading);
    const QVariant artUrl = dictionary(reading.metadata).value(QStringLiteral("mpris:artUrl"));
    if (artUrl.metaType() == QMetaType::fromType<QString>()) {
        if (const auto bytes = fetchArtwork(artUrl.toString()))
            payload[adapter::keys::artworkData] = bytes->toBase64().toStdString();
    }
    writeLine(nlohmann::json({{adapter::keys::payload, payload}})
                  .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return exitSuccess;
}

}  // namespace velaro::mpris
