// One Velaro per user session: the first launch owns a well-known name on the session bus and a lock file
// for its display; a later launch hands its "reopen" to that one and leaves.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
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
        // Another Velaro owns the name; it answered the request to reopen, and this one should exit.
        secondary,
        // This process holds the lock and runs without the reopen hand-over: there is no session bus, or
        // another program holds the name and does not answer as Velaro (the name comes to this process
        // once that program lets it go).
        standalone,
        // Another instance runs on this display but cannot be asked to come forward: it does not answer
        // on the bus, or it runs without one. This one says so and should exit with a failure.
        unreachable,
    };

    // `lockPath`: the file whose lock marks the running instance of this display (see defaultLockPath());
    // empty when there is none to use.
    explicit SingleInstance(QDBusConnection connection = QDBusConnection::sessionBus(),
                            QString service = QString::fromLatin1(serviceName),
                            QString lockPath = defaultLockPath());
    ~SingleInstance() override;

    // The instance lock of this user's display, named after $DISPLAY so that separate X sessions of one
    // user each run their own instance, in the first folder of privateFolder() over: the runtime folder,
    // "velaro-<uid>" in the temporary folder, "velaro" in the cache folder (there named after the host as
    // well, since a home folder may be shared between machines). Empty when none of them will do.
    static QString defaultLockPath();

    // The first of `candidates` that is a folder only this user can reach: a real folder (not a link to
    // one), owned by the user, with no permissions for anyone else. A missing candidate is made so first.
    // Whatever another user prepared in a shared place is passed over (and said once in the log), never
    // used or changed. Empty when no candidate will do.
    static QString privateFolder(const QStringList& candidates);

    // Takes the name and the lock, or asks the name's owner to reopen. Another instance on this display
    // has `instanceAnswer` to answer; while the lock shows none, the name's owner has `ownerAnswer`, and
    // when it does not answer as Velaro this process says so and runs. A role other than primary or
    // standalone means this process should not go on.
    Role claim(std::chrono::milliseconds instanceAnswer = std::chrono::seconds(3),
               std::chrono::milliseconds ownerAnswer = std::chrono::seconds(1));

    // Called on the main loop when another launch asks this one to come forward.
    std::function<void()> onReopen;

public Q_SLOTS:
    // Answers with the app id, which tells the caller that Velaro itself answered.
    Q_SCRIPTABLE QString reopen();

private:
    enum class Lock { ours, heldElsewhere, unavailable };
    enum class Answer { velaro, other, none };

    Lock takeLock();
    Answer askOwnerToReopen(std::chrono::milliseconds limit);
    // While another program squats the name: in the queue for it, so that it comes to us when freed.
    void waitInLineForName();
    void releaseName();

    QDBusConnection connection_;
    QString service_;
    QString lockPath_;
    int lockFd_ = -1;
    bool ownsName_ = false;
    bool registeredObject_ = false;
};

}  // namespace velaro
