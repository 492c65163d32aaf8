// One-shot commands: blocking calls, since the process exists only for this call, each bounded by what is
// left of the command's time. The player is the one the stream chose, read from its file; only without one
// are the players asked, all at once, and one that does not answer soon counts as not playing.
#include "MprisCommands.h"

#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <algorithm>
#include <optional>

#include "ArtworkFetch.h"
#include "MprisPayload.h"
#include "RememberedPlayer.h"
#include "music/AdapterKeys.h"

namespace velaro::mpris {

namespace {

using namespace std::chrono_literals;

// The app ends a command at 5 s: everything here, the cover's download included, fits well inside that.
constexpr auto kCommandTime = 4000ms;
// A player answers a property read or a method call in milliseconds; one that takes longer is stuck.
constexpr auto kCallTime = 1000ms;
// Without the stream's choice, the players' states are asked together for at most this long.
constexpr auto kSurveyTime = 250ms;

// What is left of the command's time; every call takes at most its own limit of it.
class Budget {
public:
    Budget() { clock_.start(); }
    int forCall(std::chrono::milliseconds own = kCallTime) const {
        return int(std::clamp<long long>(left().count(), 1, own.count()));
    }
    std::chrono::milliseconds left() const {
        return kCommandTime - std::chrono::milliseconds(clock_.elapsed());
    }

private:
    QElapsedTimer clock_;
};

QDBusMessage methodCall(const QString& service, const QString& interface, const QString& method,
                        const QVariantList& arguments = {}) {
    auto message = QDBusMessage::createMethodCall(service, objectPath, interface, method);
    message.setArguments(arguments);
    return message;
}

QDBusMessage call(const QDBusConnection& bus, const Budget& budget, const QString& service,
                  const QString& interface, const QString& method, const QVariantList& arguments = {}) {
    return bus.call(methodCall(service, interface, method, arguments), QDBus::Block, budget.forCall());
}

bool succeeded(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ReplyMessage;
}

// Properties.GetAll of the player interface; empty when the player does not answer.
QVariantMap playerProperties(const QDBusConnection& bus, const Budget& budget, const QString& player) {
    const auto reply =
        call(bus, budget, player, propertiesInterface, QStringLiteral("GetAll"), {playerInterface});
    if (!succeeded(reply) || reply.arguments().size() != 1) return {};
    return dictionary(reply.arguments().front());
}

// A call to the bus itself (names and owners), which answers at once.
QDBusMessage busCall(const QDBusConnection& bus, const Budget& budget, const QString& method,
                     const QVariantList& arguments = {}) {
    auto message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                  QStringLiteral("/org/freedesktop/DBus"),
                                                  QStringLiteral("org.freedesktop.DBus"), method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, budget.forCall());
}

// Without the stream's choice: every player's state asked at once, the stream's rule on what came back.
std::optional<QString> surveyPlayers(const QDBusConnection& bus, const Budget& budget) {
    const auto names = busCall(bus, budget, QStringLiteral("ListNames"));
    if (!succeeded(names) || names.arguments().size() != 1) return std::nullopt;
    std::vector<std::pair<QString, QDBusPendingCall>> asked;
    for (const QString& name : names.arguments().front().toStringList()) {
        if (!name.startsWith(busPrefix)) continue;
        asked.emplace_back(name,
                           bus.asyncCall(methodCall(name, propertiesInterface, QStringLiteral("Get"),
                                                    {playerInterface, QStringLiteral("PlaybackStatus")}),
                                         budget.forCall(kSurveyTime)));
    }
    std::vector<Candidate> candidates;
    for (auto& [name, pending] : asked) {
        // All were sent together with the same limit: waiting for each in turn waits that long at most.
        pending.waitForFinished();
        const auto status = text(propertyValue(pending.reply()));
        candidates.push_back({name, status && *status == "Playing", 0});
    }
    return choosePlayer(candidates);
}

// The player the stream follows when it is still on the bus, else the one the stream's rule picks now.
std::optional<QString> chosenPlayer(const QDBusConnection& bus, const Budget& budget) {
    if (const auto remembered = readRememberedPlayer(rememberedPlayerPath(bus, budget.forCall()))) {
        const auto owned = busCall(bus, budget, QStringLiteral("NameHasOwner"), {*remembered});
        if (succeeded(owned) && owned.arguments().size() == 1 && owned.arguments().front().toBool())
            return remembered;
    }
    return surveyPlayers(bus, budget);
}

}  // namespace

int runSeek(const QDBusConnection& bus, long long micros) {
    const Budget budget;
    const auto player = chosenPlayer(bus, budget);
    if (!player) return exitFailed;
    const QVariantMap properties = playerProperties(bus, budget, *player);
    const QVariant canSeek = properties.value(QStringLiteral("CanSeek"));
    if (canSeek.metaType() == QMetaType::fromType<bool>() && !canSeek.toBool()) return exitFailed;
    const QVariantMap metadata = dictionary(properties.value(QStringLiteral("Metadata")));
    if (const auto track = trackId(metadata.value(QStringLiteral("mpris:trackid")))) {
        const QDBusObjectPath path(QString::fromStdString(*track));
        if (path.path().isEmpty()) return exitFailed;  // not a valid object path
        const auto reply = call(bus, budget, *player, playerInterface, QStringLiteral("SetPosition"),
                                {QVariant::fromValue(path), QVariant::fromValue(qlonglong(micros))});
        return succeeded(reply) ? exitSuccess : exitFailed;
    }
    // Without a track id SetPosition cannot name the track: move by the distance from where it is.
    const auto position = microseconds(properties.value(QStringLiteral("Position")));
    if (!position) return exitFailed;
    const auto reply = call(bus, budget, *player, playerInterface, QStringLiteral("Seek"),
                            {QVariant::fromValue(qlonglong(micros - static_cast<long long>(*position)))});
    return succeeded(reply) ? exitSuccess : exitFailed;
}

int runSend(const QDBusConnection& bus, int number) {
    const char* method = number == 2   ? "PlayPause"
                         : number == 4 ? "Next"
                         : number == 5 ? "Previous"
                                       : nullptr;
    if (!method) return exitUsage;
    const Budget budget;
    const auto player = chosenPlayer(bus, budget);
    if (!player) return exitFailed;
    return succeeded(call(bus, budget, *player, playerInterface, QString::fromLatin1(method))) ? exitSuccess
                                                                                               : exitFailed;
}

int runGet(const QDBusConnection& bus, const std::function<void(const std::string&)>& writeLine) {
    const Budget budget;
    const auto player = chosenPlayer(bus, budget);
    if (!player) return exitFailed;
    const auto reply =
        call(bus, budget, *player, propertiesInterface, QStringLiteral("GetAll"), {playerInterface});
    if (!succeeded(reply) || reply.arguments().size() != 1) return exitFailed;
    const QVariantMap properties = dictionary(reply.arguments().front());
    PlayerReading reading{*player,
                          propertyValue(call(bus, budget, *player, propertiesInterface, QStringLiteral("Get"),
                                             {rootInterface, QStringLiteral("DesktopEntry")})),
                          properties.value(QStringLiteral("Metadata")),
                          properties.value(QStringLiteral("PlaybackStatus")),
                          properties.value(QStringLiteral("Rate")),
                          std::nullopt,
                          {}};
    // The same function writes the stream's keys, so the engine can tell that this cover is its track's.
    nlohmann::json payload = payloadOf(reading);
    const QVariant artUrl = dictionary(reading.metadata).value(QStringLiteral("mpris:artUrl"));
    if (artUrl.metaType() == QMetaType::fromType<QString>() && budget.left() > 0ms) {
        const Artwork cover = fetchArtwork(artUrl.toString(), budget.left());
        if (cover.bytes)
            payload[adapter::keys::artworkData] = cover.bytes->toBase64().toStdString();
        else if (!cover.refused.isEmpty())
            payload[adapter::keys::artworkRefused] = cover.refused.toStdString();
    }
    writeLine(nlohmann::json({{adapter::keys::payload, payload}})
                  .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return exitSuccess;
}

}  // namespace velaro::mpris
