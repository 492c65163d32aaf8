// One Velaro per user session: the first launch owns a well-known name on the session bus; a later launch
// hands its "reopen" to that one and leaves.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

namespace velaro {

class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quornet.Velaro")

public:
    static constexpr const char* serviceName = "com.quornet.Velaro";
    static constexpr const char* objectPath = "/com/quornet/Velaro";

    enum class Role {
        // This process owns the name and serves "reopen".
        primary,
        // Another process owns it; it was asked to reopen, and this one should exit.
        secondary,
        // No session bus (or the name could not be taken nor reached): run alone.
        standalone,
    };

    explicit SingleInstance(QDBusConnection connection = QDBusConnection::sessionBus(),
                            QString service = QString::fromLatin1(serviceName));
    ~SingleInstance() override;

    // Takes the name, or asks its owner to reopen (waiting up to `timeoutMs` for the answer).
    Role claim(int timeoutMs = 3000);

    // Called on the main loop when another launch asks this one to come forward.
    std::function<void()> onReopen;

public Q_SLOTS:
    Q_SCRIPTABLE void reopen();

private:
    bool askOwnerToReopen(int timeoutMs);

    QDBusConnection connection_;
    QString service_;
    bool ownsName_ = false;
    bool registeredObject_ = false;
};

}  // namespace velaro
