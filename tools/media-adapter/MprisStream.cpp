// Following the players: every read is asynchronous with a time limit, so a player that hangs delays no
// other, and every line is computed from the player's values as they stand when its position arrives.
#include "MprisStream.h"

#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include "RememberedPlayer.h"

namespace velaro::mpris {

namespace {

constexpr int loadTimeoutMs = 2000;
constexpr int positionTimeoutMs = 500;
constexpr int busTimeoutMs = 1000;

}  // namespace

MprisStream::MprisStream(QDBusConnection bus, QString rememberPath,
                         std::function<void(const std::string&)> writeLine)
    : bus_(std::move(bus)), rememberPath_(std::move(rememberPath)), writeLine_(std::move(writeLine)) {}

void MprisStream::ask(const QString& service, const QString& method, const QVariantList& arguments,
                      int timeoutMs, std::function<void(const QDBusMessage&)> answered) {
    auto call = QDBusMessage::createMethodCall(service, objectPath, propertiesInterface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, answered = std::move(answered)] {
        watcher->deleteLater();
        answered(watcher->reply());
    });
}

QVariantList MprisStream::busCall(const QString& method, const QVariantList& arguments) {
    auto call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                               QStringLiteral("/org/freedesktop/DBus"),
                                               QStringLiteral("org.freedesktop.DBus"), method);
    call.setArguments(arguments);
    const QDBusMessage reply = bus_.call(call, QDBus::Block, busTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments() : QVariantList();
}

void MprisStream::start() {
    bus_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                 SLOT(onNameOwnerChanged(QDBusMessage)));
    bus_.connect(QString(), objectPath, propertiesInterface, QStringLiteral("PropertiesChanged"), this,
                 SLOT(onPropertiesChanged(QDBusMessage)));
    bus_.connect(QString(), objectPath, playerInterface, QStringLiteral("Seeked"), this,
                 SLOT(onSeeked(QDBusMessage)));
    for (const QString& name : busCall(QStringLiteral("ListNames")).value(0).toStringList()) {
        if (!name.startsWith(busPrefix)) continue;
        // A name whose owner cannot be told gets none: it is the owner's signals that are then not matched.
        addPlayer(name, busCall(QStringLiteral("GetNameOwner"), {name}).value(0).toString());
    }
    if (players_.empty()) emitState();
}

void MprisStream::addPlayer(const QString& name, const QString& owner) {
    Player& player = players_[name];
    player.owner = owner;
    player.lastActive = ++activity_;
    load(name);
}

void MprisStream::load(const QString& name) {
    const int token = ++players_[name].loadToken;
    ask(name, QStringLiteral("GetAll"), {playerInterface}, loadTimeoutMs,
        [this, name, token](const QDBusMessage& reply) {
            const auto it = players_.find(name);
            if (it == players_.end() || it->second.loadToken != token) return;
            QVariantMap properties;
            if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1)
                properties = dictionary(reply.arguments().front());
            // A player that does not answer still counts: it shows with what is known of it.
            it->second.metadata = properties.value(QStringLiteral("Metadata"));
            it->second.status = properties.value(QStringLiteral("PlaybackStatus"));
            it->second.rate = properties.value(QStringLiteral("Rate"));
            it->second.loaded = true;
            playersChanged();
        });
    ask(name, QStringLiteral("Get"), {rootInterface, QStringLiteral("DesktopEntry")}, loadTimeoutMs,
        [this, name](const QDBusMessage& reply) {
            const auto it = players_.find(name);
            if (it == players_.end()) return;
            it->second.desktopEntry = propertyValue(reply);
            if (it->second.loaded && name == chosen_) emitState();
        });
}

void MprisStream::onNameOwnerChanged(const QDBusMessage& message) {
    const auto args = message.arguments();
    if (args.size() != 3) return;
    const QString name = args[0].toString(), newOwner = args[2].toString();
    if (!name.startsWith(busPrefix)) return;
    if (newOwner.isEmpty()) {
        if (players_.erase(name)) playersChanged();
    } else {
        addPlayer(name, newOwner);  // a new player is taken as it is read, not after any delay
    }
}

void MprisStream::onPropertiesChanged(const QDBusMessage& message) {
    const auto args = message.arguments();
    if (args.size() < 2 || args[0].metaType() != QMetaType::fromType<QString>()) return;
    const QString interface = args[0].toString();
    const QVariantMap changed = dictionary(args[1]);
    const QStringList invalidated = args.size() > 2 ? args[2].toStringList() : QStringList();
    bool touched = false;
    for (auto& [name, player] : players_) {
        if (player.owner != message.service() || !player.loaded) continue;
        touched = true;
        if (interface == rootInterface) {
            if (changed.contains(QStringLiteral("DesktopEntry")))
                player.desktopEntry = changed.value(QStringLiteral("DesktopEntry"));
            continue;
        }
        if (interface != playerInterface) continue;
        for (const char* key : {"Metadata", "PlaybackStatus"}) {
            if (changed.contains(QLatin1String(key))) player.lastActive = ++activity_;
        }
        if (changed.contains(QStringLiteral("Metadata")))
            player.metadata = changed.value(QStringLiteral("Metadata"));
        if (changed.contains(QStringLiteral("PlaybackStatus")))
            player.status = changed.value(QStringLiteral("PlaybackStatus"));
        if (changed.contains(QStringLiteral("Rate"))) player.rate = changed.value(QStringLiteral("Rate"));
        // Without their values, invalidated properties are read again.
        if (!invalidated.isEmpty()) load(name);
    }
    if (touched) playersChanged();
}

void MprisStream::onSeeked(const QDBusMessage& message) {
    for (auto& [name, player] : players_) {
        if (player.owner != message.service()) continue;
        player.lastActive = ++activity_;
        if (name == chosen_) emitState();
    }
}

void MprisStream::playersChanged() {
    std::vector<Candidate> candidates;
    for (const auto& [name, player] : players_) {
        if (!player.loaded) continue;
        const auto status = text(player.status);
        candidates.push_back({name, status && *status == "Playing", player.lastActive});
    }
    const bool anyLoading =
        std::any_of(players_.begin(), players_.end(), [](const auto& entry) { return !entry.second.loaded; });
    // Until the players there were at the start are read, no line: the first one describes the right player.
    if (candidates.empty() && anyLoading && !wroteAny_) return;
    const QString next = choosePlayer(candidates, chosen_).value_or(QString());
    if (next != chosen_) {
        chosen_ = next;
        // One-shot commands ("seek", "send", "get") address the player this stream follows.
        if (!chosen_.isEmpty()) writeRememberedPlayer(rememberPath_, chosen_);
    }
    emitState();
}

void MprisStream::emitState() {
    if (emitting_) {
        emitAgain_ = true;
        return;
    }
    if (chosen_.isEmpty()) {
        write(QString(), nlohmann::json::object());
        return;
    }
    emitting_ = true;
    const QString name = chosen_;
    // Players never signal their position: it is read for every line.
    ask(name, QStringLiteral("Get"), {playerInterface, QStringLiteral("Position")}, positionTimeoutMs,
        [this, name](const QDBusMessage& reply) {
            const QVariant position = propertyValue(reply);
            finishEmission(name, position.isValid() ? std::optional<QVariant>(position) : std::nullopt);
        });
}

void MprisStream::finishEmission(const QString& name, std::optional<QVariant> position) {
    emitting_ = false;
    const auto it = players_.find(name);
    if (name == chosen_ && it != players_.end()) {
        const Player& p = it->second;
        write(name, payloadOf({name, p.desktopEntry, p.metadata, p.status, p.rate, std::move(position),
                               QDateTime::currentDateTimeUtc()}));
    } else {
        emitAgain_ = true;  // the player went or another was chosen while its position was read
    }
    if (emitAgain_) {
        emitAgain_ = false;
        emitState();
    }
}

void MprisStream::write(const QString& name, const nlohmann::json& payload) {
    const bool replace = !wroteAny_ || name != lastPlayer_;
    if (auto line = streamLine(lastPayload_, payload, replace)) writeLine_(*line);
    wroteAny_ = true;
    lastPlayer_ = name;
    lastPayload_ = payload;
}

}  // namespace velaro::mpris
