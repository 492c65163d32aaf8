// One Velaro per display: the running one holds a lock file for its display and, when it can, a well-known
// name on the session bus; a later launch on that display hands its "reopen" to that one and leaves.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <string>

#include "base/AppId.h"
#include "platform/linux/defaults/GuardedPath.h"

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
        // The Velaro that runs on this display answered the request to reopen, and this one should exit.
        secondary,
        // This process holds the lock and runs without the reopen hand-over: there is no session bus, or
        // another program holds the name while no Velaro runs on this display (the name comes to this
        // process once that program lets it go).
        standalone,
        // Another instance runs on this display but cannot be asked to come forward: it does not answer
        // on the bus, or it runs without one; or no lock can tell, and the name's owner does not answer as
        // Velaro. This one says so and should exit with a failure.
        unreachable,
    };

    // `lockPath`: the file whose lock marks the running instance of this display (see defaultLockPath());
    // empty when there is none to use.
    explicit SingleInstance(QDBusConnection connection = QDBusConnection::sessionBus(),
                            QString service = QString::fromLatin1(serviceName),
                            QString lockPath = defaultLockPath());
    ~SingleInstance() override;

    // The instance lock of this user's display, named after displayKey($DISPLAY) so that separate X sessions
    // of one user each run their own instance, in the first folder of privateFolder() over: the runtime
    // folder, "velaro-<uid>" in the temporary folder, "velaro" in the cache folder (there named after the
    // host as well, since a home folder may be shared between machines). Empty when none of them will do.
    static QString defaultLockPath();

    // The display a $DISPLAY value names, spelt one way, so that every spelling of one display shares its
    // lock: a display of this machine (no host, the host or protocol "unix", or the path of its socket in
    // /tmp/.X11-unix) as ":N"; any other host as "host:N", its name in lower case and an address in its
    // shortest form (IPv6 in brackets); the screen number left out. A TCP host, "localhost" too, stays a
    // host of its own: only the display itself could tell whether it is the same server. A value that is
    // none of these comes back as it stands.
    static QString displayKey(const QString& display);

    // The first of `candidates` that is a folder only this user can reach: a real folder (not a link to
    // one), owned by the user, with no permissions for anyone else, found as the settings folder is (see
    // defaults::findGuardedFolder). A missing candidate is made so first, but only where it would be the
    // user's: run as root among another user's folders nothing is made. Whatever another user prepared in a
    // shared place is passed over (and said once in the log), never used or changed. Empty when no candidate
    // will do.
    static QString privateFolder(const QStringList& candidates);

    // Takes the lock and the name, or asks the Velaro that holds this display's lock to reopen: the lock
    // tells whether one runs here, whatever holds the name. The running one has `instanceAnswer` to
    // answer. Only where no lock can tell is the name's owner asked, with `ownerAnswer` to answer. A role
    // other than primary or standalone means this process should not go on.
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
    // Something that is not a lock file of this user's stands in the lock's place (`problem` says what)
    // and no process holds it: it goes, under a lock on its folder so that two launches doing the same
    // cannot remove a lock file one of them has made meanwhile. False when it is still there.
    // A folder there is moved aside instead (see moveAside), never removed.
    bool removeStaleLock(const std::string& problem);
    // Renames `name` in the open `folder` to a free name beside it; the new path, or empty when it stays.
    QString moveAside(int folder, const QByteArray& name) const;
    // The session-bus connection of the process that holds this display's lock, among those that own or
    // wait for the name; the name itself when that process is not known. Empty when it is on none of them.
    QString connectionOfLockHolder();
    Answer askToReopen(const QString& destination, std::chrono::milliseconds limit);
    // While another program squats the name: in the queue for it, so that it comes to us when freed.
    void waitInLineForName();
    void releaseName();

    QDBusConnection connection_;
    QString service_;
    QString lockPath_;
    // The lock's folder, found as the candidates are; the lock is opened, looked at and removed through it.
    defaults::FolderRef lockFolder_;
    int lockFd_ = -1;
    // The process holding this display's lock when another does (0 when it cannot be told).
    qint64 lockHolder_ = 0;
    bool ownsName_ = false;
    bool registeredObject_ = false;
};

}  // namespace velaro
