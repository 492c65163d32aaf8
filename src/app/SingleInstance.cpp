// Session-bus arbitration between launches, the display's instance lock, and the "reopen" hand-over.
#include "app/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Log.h"

namespace velaro {

SingleInstance::SingleInstance(QDBusConnection connection, QString service, QString lockPath)
    : connection_(std::move(connection)), service_(std::move(service)), lockPath_(std::move(lockPath)) {}

SingleInstance::~SingleInstance() {
    releaseName();
    // Closing the descriptor releases the lock; the file stays for the next launch.
    if (lockFd_ >= 0) ::close(lockFd_);
}

QString SingleInstance::objectPath() {
    return QStringLiteral("/") + QString::fromLatin1(serviceName).replace(QLatin1Char('.'), QLatin1Char('/'));
}

QString SingleInstance::defaultLockPath() {
    QString display = qEnvironmentVariable("DISPLAY");
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return (folder.isEmpty() ? QDir::tempPath() : folder) + QStringLiteral("/velaro-display") + display +
           QStringLiteral(".lock");
}

// The lock is held for the life of the process and released by the kernel however it ends. True when it
// is ours, or when no lock file can be used at all (the bus alone then decides).
bool SingleInstance::takeLock() {
    if (lockFd_ >= 0) return true;
    const QByteArray path = QFile::encodeName(lockPath_);
    const int fd =
        ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY, 0600);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        logLine("APP", "cannot use the instance lock " + lockPath_.toStdString() + " (" +
                           (fd < 0 ? std::strerror(errno) : "not a regular file") + ")");
        if (fd >= 0) ::close(fd);
        return true;
    }
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return false;
    }
    lockFd_ = fd;
    return true;
}

SingleInstance::Role SingleInstance::claim(int timeoutMs) {
    const bool locked = takeLock();
    if (connection_.isConnected()) {
        // The object is in place before the name is taken, so a "reopen" never finds the owner without it.
        registeredObject_ =
            connection_.registerObject(objectPath(), this, QDBusConnection::ExportScriptableSlots);
        auto* bus = connection_.interface();
        const auto reply = bus ? bus->registerService(service_, QDBusConnectionInterface::DontQueueService,
                                                      QDBusConnectionInterface::DontAllowReplacement)
                               : QDBusReply<QDBusConnectionInterface::RegisterServiceReply>();
        if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
            ownsName_ = true;
            if (locked) return Role::primary;
            releaseName();
            logLine("APP",
                    "Velaro is already running on this display without the session bus, so it "
                    "cannot be asked to come forward; not starting a second one");
            return Role::unreachable;
        }
        releaseName();
        if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceNotRegistered) {
            // Taken by another launch. Even when it does not answer, two instances must not run.
            if (askOwnerToReopen(timeoutMs)) return Role::secondary;
            logLine("APP",
                    "Velaro is already running but does not answer (it may be hung); not starting "
                    "a second one. End the running one and start Velaro again.");
            return Role::unreachable;
        }
        logLine("APP", "could not take the session-bus name: " + reply.error().message().toStdString());
    } else {
        logLine("APP", "no session bus: running without the reopen hand-over");
    }
    if (locked) return Role::standalone;
    logLine("APP",
            "Velaro is already running on this display and cannot be asked to come forward without "
            "the session bus; not starting a second one");
    return Role::unreachable;
}

void SingleInstance::releaseName() {
    if (registeredObject_) {
        connection_.unregisterObject(objectPath());
        registeredObject_ = false;
    }
    if (ownsName_) {
        connection_.unregisterService(service_);
        ownsName_ = false;
    }
}

bool SingleInstance::askOwnerToReopen(int timeoutMs) {
    const auto message = QDBusMessage::createMethodCall(
        service_, objectPath(), QString::fromLatin1(serviceName), QStringLiteral("reopen"));
    QDBusPendingCallWatcher watcher(connection_.asyncCall(message, timeoutMs));
    // A local loop rather than a blocking call: the owner may live on this very thread (tests).
    if (!watcher.isFinished()) {
        QEventLoop wait;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &wait, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs, &wait, &QEventLoop::quit);
        wait.exec();
    }
    return watcher.isFinished() && !watcher.isError();
}

void SingleInstance::reopen() {
    // Answer the caller first; the reopen itself runs on a later turn of the loop.
    QTimer::singleShot(0, this, [this] {
        if (onReopen) onReopen();
    });
}

}  // namespace velaro
