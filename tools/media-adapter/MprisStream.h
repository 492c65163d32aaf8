// The "stream" command: follows the MPRIS players on the session bus (their arrival and departure, property
// changes and seeks), keeps the chosen one, and writes a line whenever what it plays changes.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <functional>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "MprisPayload.h"

namespace velaro::mpris {

class MprisStream : public QObject {
    Q_OBJECT
public:
    // `writeLine` receives each line without its line feed.
    MprisStream(QDBusConnection bus, QString rememberPath, std::function<void(const std::string&)> writeLine);

    // Subscribes, lists the players there are, and writes the first line once they are read (at once when
    // there is none).
    void start();

private slots:
    void onNameOwnerChanged(const QDBusMessage& message);
    void onPropertiesChanged(const QDBusMessage& message);
    void onSeeked(const QDBusMessage& message);

private:
    struct Player {
        QString owner;  // the unique name its signals come from
        QVariant desktopEntry;
        QVariant metadata;
        QVariant status;
        QVariant rate;
        long long lastActive = 0;
        bool loaded = false;
        int loadToken = 0;
    };

    // Calls a Properties method of a player without waiting; `answered` gets the reply or the error.
    void ask(const QString& service, const QString& method, const QVariantList& arguments, int timeoutMs,
             std::function<void(const QDBusMessage&)> answered);
    // A call to the bus itself, bounded; its reply's arguments, none when it failed.
    QVariantList busCall(const QString& method, const QVariantList& arguments = {});
    void addPlayer(const QString& name, const QString& owner);
    void load(const QString& name);
    void playersChanged();
    void emitState();
    void finishEmission(const QString& name, std::optional<QVariant> position);
    void write(const QString& name, const nlohmann::json& payload);

    QDBusConnection bus_;
    QString rememberPath_;
    std::function<void(const std::string&)> writeLine_;
    std::map<QString, Player> players_;
    QString chosen_;
    long long activity_ = 0;
    // The emission under way waits for the position; changes meanwhile ask for one more after it.
    bool emitting_ = false;
    bool emitAgain_ = false;
    bool wroteAny_ = false;
    QString lastPlayer_;
    nlohmann::json lastPayload_ = nlohmann::json::object();
};

}  // namespace velaro::mpris
