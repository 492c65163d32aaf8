// One Velaro per user session: the first launch owns a well-known name on the session bus and a lock file
// for its display; a later launch hands its "reopen" to that one and leaves.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

#include "base/AppId.h"

namespace velaro {

class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", VELARO_APP_ID)

public:
    static constexpr const char* serviceName = velaroAppId;
    // The object that serves "reopen": the app id spelt as an object path.
    static QString objectPath();

    enum class Role {
        // This process owns the name (and the lock) and serves "reopen".
        primary,
        // Another process owns the name; it answered the request to reopen, and this one should exit.
        secondary,
        // No session bus: this process holds the lock and runs alone.
        standalone,
        // Another instance runs but cannot be asked to come forward: it does not answer on the bus, or it
        // runs without one. This one says so and should exit with a failure.
        unreachable,
    };

    // `lockPath`: the file whose lock marks the running instance of this display (see defaultLockPath()).
    explicit SingleInstance(QDBusConnection connection = QDBusConnection::sessionBus(),
                            QString service = QString::fromLatin1(serviceName),
                            QString lockPath = defaultLockPath());
    ~SingleInstance() override;

    // The instance lock of this user's display: in the runtime folder, named after $DISPLAY, so that
    // separate X sessions of one user each run their own instance.
    static QString defaultLockPath();

    // Takes the name and the lock, or asks the name's owner to reopen (waiting up to `timeoutMs` for the
    // answer). A role other than primary or standalone means this process should not go on.
    Role claim(int timeoutMs = 3000);

    // Called on the main loop when another launch asks this one to come forward.
    std::function<void()> onReopen;

public Q_SLOTS:
    Q_SCRIPTABLE void reopen();

private:
    bool takeLock();
    bool askOwnerToReopen(int timeoutMs);
    void releaseName();

    QDBusConnection connection_;
    QString service_;
    QString lockPath_;
    int lockFd_ = -1;
    bool ownsName_ = false;
    bool registeredObject_ = false;
};

}  // namespace velaro
