// Session-bus arbitration between launches, the display's instance lock, and the "reopen" hand-over.
#include "app/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTimer>
#include <cerrno>
#include <cstdio>
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

namespace {

QString fileNamePart(QString text) {
    return text.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
}

// Why `folder` is not one only this user can reach; empty when it is. Read through a descriptor opened
// without following a link, so what was checked is the folder itself.
std::string privacyProblem(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR) return "it is a link or not a folder";
        return std::strerror(errno);
    }
    struct stat st {};
    const bool read = ::fstat(fd, &st) == 0;
    const int error = errno;
    ::close(fd);
    if (!read) return std::strerror(error);
    if (st.st_uid != ::geteuid()) return "it belongs to user " + std::to_string(st.st_uid);
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%03o", unsigned(st.st_mode & 0777));
        return std::string("others may use it (mode ") + mode + ")";
    }
    return {};
}

}  // namespace

QString SingleInstance::privateFolder(const QStringList& candidates) {
    for (const QString& folder : candidates) {
        const QByteArray path = QFile::encodeName(folder);
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 && errno == ENOENT) {
            // Made by us, for us alone; a folder someone else makes at this moment is checked below.
            const QFileInfo info(folder);
            QDir().mkpath(info.absolutePath());
            ::mkdir(path.constData(), 0700);
        }
        const std::string problem = privacyProblem(folder);
        if (problem.empty()) return folder;
        qCWarning(lcApp) << tagged(
            "APP", "the instance lock does not go in " + folder.toStdString() + ": " + problem);
    }
    return {};
}

QString SingleInstance::defaultLockPath() {
    const QString display = fileNamePart(qEnvironmentVariable("DISPLAY"));
    QStringList candidates;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime)) candidates << runtime;
    candidates << QDir::tempPath() + QStringLiteral("/velaro-") + QString::number(::geteuid());
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(cache)) cache = QDir::homePath() + QStringLiteral("/.cache");
    cache += QStringLiteral("/velaro");
    candidates << cache;
    const QString folder = privateFolder(candidates);
    if (folder.isEmpty()) return {};
    const QString host =
        folder == cache ? fileNamePart(QSysInfo::machineHostName()) + QLatin1Char('-') : QString();
    return folder + QStringLiteral("/velaro-") + host + QStringLiteral("display") + display +
           QStringLiteral(".lock");
}

// The lock is held for the life of the process and released by the kernel however it ends.
SingleInstance::Lock SingleInstance::takeLock() {
    if (lockFd_ >= 0) return Lock::ours;
    if (lockPath_.isEmpty()) {
        qCWarning(lcApp) << tagged(
            "APP", "no private folder for the instance lock; the session bus alone tells a running Velaro");
        return Lock::unavailable;
    }
    const QByteArray path = QFile::encodeName(lockPath_);
    const int fd =
        ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY, 0600);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        qCWarning(lcApp) << tagged(
            "APP", "cannot use the instance lock " + lockPath_.toStdString() + " (" +
                       (fd < 0 ? std::strerror(errno) : "not a regular file of this user") + ")");
        if (fd >= 0) ::close(fd);
        return Lock::unavailable;
    }
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return Lock::heldElsewhere;
    }
    lockFd_ = fd;
    return Lock::ours;
}

SingleInstance::Role SingleInstance::claim(std::chrono::milliseconds instanceAnswer,
                                           std::chrono::milliseconds ownerAnswer) {
    const Lock lock = takeLock();
    const bool runsHere = lock == Lock::heldElsewhere;
    if (!connection_.isConnected()) {
        qCInfo(lcApp) << tagged("APP", "no session bus: running without the reopen hand-over");
        if (!runsHere) return Role::standalone;
        qCWarning(lcApp) << tagged(
            "APP",
            "Velaro is already running on this display and cannot be asked to come forward without "
            "the session bus; not starting a second one");
        return Role::unreachable;
    }
    // The object is in place before the name is taken, so a "reopen" never finds the owner without it.
    registeredObject_ =
        connection_.registerObject(objectPath(), this, QDBusConnection::ExportScriptableSlots);
    auto* bus = connection_.interface();
    const auto reply = bus ? bus->registerService(service_, QDBusConnectionInterface::DontQueueService,
                                                  QDBusConnectionInterface::DontAllowReplacement)
                           : QDBusReply<QDBusConnectionInterface::RegisterServiceReply>();
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        ownsName_ = true;
        if (!runsHere) return Role::primary;
        releaseName();
        qCWarning(lcApp) << tagged(
            "APP",
            "Velaro is already running on this display without the session bus, so it cannot be asked "
            "to come forward; not starting a second one");
        return Role::unreachable;
    }
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceNotRegistered) {
        qCWarning(lcApp) << tagged(
            "APP", "could not take the session-bus name: " + reply.error().message().toStdString());
        releaseName();
        if (!runsHere) return Role::standalone;
        qCInfo(lcApp) << tagged("APP",
                                "Velaro is already running on this display; not starting a second one");
        return Role::unreachable;
    }
    // Held by someone else. With no Velaro on this display that may be anything that took the name, and
    // it must not keep the app from starting: it has a second to answer as Velaro.
    if (lock == Lock::ours) {
        if (askOwnerToReopen(ownerAnswer) == Answer::velaro) {
            releaseName();
            return Role::secondary;
        }
        const auto pid = bus->servicePid(service_);
        qCWarning(lcApp) << tagged(
            "APP", "the session-bus name " + service_.toStdString() + " is held by another program" +
                       (pid.isValid() ? " (pid " + std::to_string(pid.value()) + ")" : std::string()) +
                       " that did not answer as Velaro, and no Velaro runs on this display; starting "
                       "without the reopen hand-over");
        waitInLineForName();
        return Role::standalone;
    }
    // Another Velaro runs here (or no lock tells): even when it does not answer, two must not run.
    releaseName();
    if (askOwnerToReopen(instanceAnswer) == Answer::velaro) return Role::secondary;
    qCWarning(lcApp) << tagged(
        "APP",
        "Velaro is already running but does not answer (it may be hung); not starting a second one. "
        "End the running one and start Velaro again.");
    return Role::unreachable;
}

void SingleInstance::waitInLineForName() {
    auto* bus = connection_.interface();
    const auto reply = bus ? bus->registerService(service_, QDBusConnectionInterface::QueueService,
                                                  QDBusConnectionInterface::DontAllowReplacement)
                           : QDBusReply<QDBusConnectionInterface::RegisterServiceReply>();
    ownsName_ = reply.isValid() && reply.value() != QDBusConnectionInterface::ServiceNotRegistered;
}

void SingleInstance::releaseName() {
    if (registeredObject_) {
        connection_.unregisterObject(objectPath());
        registeredObject_ = false;
    }
    if (ownsName_) {
        // Sent, not waited for: the process ends right after, and a busy or stalled bus, which frees the
        // names of a connection that closes anyway, must not hold up the end.
        connection_.send(QDBusMessage::createMethodCall(
                             QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                             QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReleaseName"))
                         << service_);
        ownsName_ = false;
    }
}

SingleInstance::Answer SingleInstance::askOwnerToReopen(std::chrono::milliseconds limit) {
    const auto message = QDBusMessage::createMethodCall(
        service_, objectPath(), QString::fromLatin1(serviceName), QStringLiteral("reopen"));
    const int ms = int(limit.count());
    QDBusPendingCallWatcher watcher(connection_.asyncCall(message, ms));
    // A local loop rather than a blocking call: the owner may live on this very thread (tests).
    if (!watcher.isFinished()) {
        QEventLoop wait;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &wait, &QEventLoop::quit);
        QTimer::singleShot(ms, &wait, &QEventLoop::quit);
        wait.exec();
    }
    if (!watcher.isFinished()) return Answer::none;
    const QDBusMessage answer = watcher.reply();
    if (answer.type() != QDBusMessage::ReplyMessage) return Answer::none;
    // Anything can send an empty reply; only Velaro names itself.
    const auto arguments = answer.arguments();
    return arguments.size() == 1 && arguments.front().toString() == QString::fromLatin1(serviceName)
               ? Answer::velaro
               : Answer::other;
}

QString SingleInstance::reopen() {
    // Answer the caller first; the reopen itself runs on a later turn of the loop.
    QTimer::singleShot(0, this, [this] {
        if (onReopen) onReopen();
    });
    return QString::fromLatin1(serviceName);
}

}  // namespace velaro
