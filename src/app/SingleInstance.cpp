// The display's instance lock, session-bus arbitration between launches, and the "reopen" hand-over.
#include "app/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// Why `folder`, found as `found`, is not one only this user can reach; empty when it is. Read through a
// descriptor opened without following a link, so what was checked is the folder itself.
std::string privacyProblem(const std::string& folder, const defaults::OpenFolder& found) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR) return "it is a link or not a folder";
        return std::strerror(errno);
    }
    struct stat st {
    }, seen{};
    const bool read = ::fstat(fd, &st) == 0 && ::fstat(found.fd, &seen) == 0;
    const int error = errno;
    ::close(fd);
    if (!read) return std::strerror(error);
    if (st.st_dev != seen.st_dev || st.st_ino != seen.st_ino) return "it was replaced while it was looked at";
    if (st.st_uid != ::geteuid()) return "it belongs to user " + std::to_string(st.st_uid);
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%03o", unsigned(st.st_mode & 0777));
        return std::string("others may use it (mode ") + mode + ")";
    }
    return {};
}

// Why `folder` is not a folder only this user can reach, made so first when it is missing and would be the
// user's; empty when it is one.
std::string privateFolderProblem(const std::string& folder) {
    defaults::GuardedPlace place = defaults::findGuardedFolder(folder, false);
    if (place.refusal.empty() && place.failure.empty() && !place.folder && place.madeFor == ::geteuid())
        place = defaults::findGuardedFolder(folder, true);
    if (!place.refusal.empty()) return "it " + place.refusal;
    if (!place.failure.empty()) return place.failure;
    if (!place.folder) return "it would be made among the folders of user " + std::to_string(place.madeFor);
    return privacyProblem(folder, *place.folder);
}

// What stands in the lock's place when it is not a lock file of this user's (a regular file it owns);
// empty when it is one.
std::string notALockFile(const struct stat& st) {
    if (S_ISLNK(st.st_mode)) return "a link";
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    if (st.st_uid != ::geteuid()) return "a file of user " + std::to_string(st.st_uid);
    return {};
}

// The process holding a lock on the file `name` in the open folder (for a link, on the file it points to),
// read from the kernel's table of locks, which names the holder even of a file this process may not open: 0
// when none holds one, -1 when that cannot be told (no table, or a holder it does not name).
qint64 holderOfLock(const defaults::OpenFolder& folder, const QByteArray& name) {
    struct stat st {};
    if (::fstatat(folder.fd, name.constData(), &st, 0) != 0)
        return errno == ENOENT || errno == ENOTDIR || errno == ELOOP ? 0 : -1;
    QFile table(QStringLiteral("/proc/locks"));
    if (!table.open(QIODevice::ReadOnly)) return -1;
    // The file as the table names it: major:minor:inode, the device numbers in hex. Some file systems (btrfs
    // subvolumes) show the table another device than stat() does: a line with the inode alone tells of a
    // holder this cannot name, or of another file system's file of that number.
    char file[64];
    std::snprintf(file, sizeof file, "%02x:%02x:%llu", unsigned(major(st.st_dev)), unsigned(minor(st.st_dev)),
                  static_cast<unsigned long long>(st.st_ino));
    const QByteArray inode = ':' + QByteArray::number(qulonglong(st.st_ino));
    // "1: FLOCK  ADVISORY  WRITE 1234 fe:00:10953113 0 EOF"; a waiting process's line has "->" second. A
    // holder outside this process's view of processes shows as 0, a lock of an open file (OFD) as -1.
    bool heldUnnamed = false;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields[1] == "->" || !fields[5].endsWith(inode)) continue;
        if (const qint64 pid = fields[4].toLongLong(); pid > 0 && fields[5] == file) return pid;
        heldUnnamed = true;
    }
    return heldUnnamed ? -1 : 0;
}

// "pid 123, velaro": a process's id and, where it can be read, its name.
std::string describeProcess(qint64 pid) {
    std::string text = "pid " + std::to_string(pid);
    QFile name(QStringLiteral("/proc/%1/comm").arg(pid));
    if (name.open(QIODevice::ReadOnly))
        if (const QByteArray read = name.readAll().trimmed(); !read.isEmpty())
            text += ", " + read.toStdString();
    return text;
}

// An IP address in its shortest form, IPv6 in brackets; empty when `host` is not an address.
QString addressKey(const QString& host) {
    const QByteArray text = host.toUtf8();
    unsigned char address[sizeof(in6_addr)];
    char shown[INET6_ADDRSTRLEN];
    if (::inet_pton(AF_INET, text.constData(), address) == 1 &&
        ::inet_ntop(AF_INET, address, shown, sizeof shown))
        return QString::fromLatin1(shown);
    if (::inet_pton(AF_INET6, text.constData(), address) == 1 &&
        ::inet_ntop(AF_INET6, address, shown, sizeof shown))
        return QLatin1Char('[') + QString::fromLatin1(shown) + QLatin1Char(']');
    return {};
}

}  // namespace

QString SingleInstance::displayKey(const QString& display) {
    static const QRegularExpression socketPath(
        QStringLiteral(R"(^/tmp/\.X11-unix/X([0-9]{1,9})(\.[0-9]{1,9})?$)"));
    static const QRegularExpression number(QStringLiteral(R"(^([0-9]{1,9})(\.[0-9]{1,9})?$)"));
    const auto local = [](const QString& digits) {
        return QLatin1Char(':') + QString::number(digits.toUInt());
    };
    // The path of the display's socket, as some launchers hand it out.
    if (display.startsWith(QLatin1Char('/'))) {
        const auto socket = socketPath.match(display);
        return socket.hasMatch() ? local(socket.captured(1)) : display;
    }
    // [protocol/][host]:display[.screen], split where the X library splits it: at the last '/' and ':'.
    const qsizetype slash = display.lastIndexOf(QLatin1Char('/'));
    const QString protocol = display.left(std::max<qsizetype>(slash, 0));
    const QString name = display.mid(slash + 1);
    const qsizetype colon = name.lastIndexOf(QLatin1Char(':'));
    const auto digits = colon < 0 ? QRegularExpressionMatch() : number.match(name.mid(colon + 1));
    if (!digits.hasMatch()) return display;
    if (!protocol.isEmpty() && protocol != QLatin1String("unix") && protocol != QLatin1String("tcp") &&
        protocol != QLatin1String("inet") && protocol != QLatin1String("inet6"))
        return display;
    QString host = name.left(colon);
    // No host, or "unix" for host or protocol: the socket of this machine's display.
    if (host.isEmpty() || host == QLatin1String("unix") || protocol == QLatin1String("unix"))
        return local(digits.captured(1));
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    if (bracketed) host = host.mid(1, host.size() - 2);
    const QString address = addressKey(host);
    // A name with a colon (a bracketed one) must be an IPv6 address; DECnet's "host::0" is none.
    if (address.isEmpty() && (bracketed || host.contains(QLatin1Char(':')))) return display;
    return (address.isEmpty() ? host.toLower() : address) + QLatin1Char(':') +
           QString::number(digits.captured(1).toUInt());
}

QString SingleInstance::privateFolder(const QStringList& candidates) {
    for (const QString& folder : candidates) {
        const std::string problem = privateFolderProblem(QFile::encodeName(folder).toStdString());
        if (problem.empty()) return folder;
        qCWarning(lcApp) << tagged(
            "APP", "the instance lock does not go in " + folder.toStdString() + ": " + problem);
    }
    return {};
}

QString SingleInstance::defaultLockPath() {
    const QString display = fileNamePart(displayKey(qEnvironmentVariable("DISPLAY")));
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
    const auto [folderPath, fileName] = defaults::splitPath(QFile::encodeName(lockPath_).toStdString());
    const defaults::GuardedPlace place = defaults::findGuardedFolder(folderPath, false);
    if (!place.folder) {
        const std::string why = !place.refusal.empty()   ? "it " + place.refusal
                                : !place.failure.empty() ? place.failure
                                                         : std::strerror(ENOENT);
        qCWarning(lcApp) << tagged(
            "APP", "cannot use the instance lock " + lockPath_.toStdString() + " (" + why + ")");
        return Lock::unavailable;
    }
    lockFolder_ = place.folder;
    const QByteArray name = QByteArray::fromStdString(fileName);
    for (bool removed = false;;) {
        const int fd = ::openat(lockFolder_->fd, name.constData(),
                                O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY, 0600);
        const int error = errno;
        struct stat st {};
        const bool known = fd >= 0
                               ? ::fstat(fd, &st) == 0
                               : ::fstatat(lockFolder_->fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        const std::string problem = known ? notALockFile(st) : std::string();
        if (fd >= 0 && known && problem.empty()) {
            int result;
            do {
                result = ::flock(fd, LOCK_EX | LOCK_NB);
            } while (result != 0 && errno == EINTR);
            if (result != 0) {
                ::close(fd);
                lockHolder_ = std::max<qint64>(holderOfLock(*lockFolder_, name), 0);
                return Lock::heldElsewhere;
            }
            lockFd_ = fd;
            return Lock::ours;
        }
        if (fd >= 0) ::close(fd);
        if (problem.empty()) {
            qCWarning(lcApp) << tagged("APP", "cannot use the instance lock " + lockPath_.toStdString() +
                                                  " (" + std::strerror(fd < 0 ? error : EIO) + ")");
            return Lock::unavailable;
        }
        // Something else stands in the lock's place. A process holding it is taken for the Velaro that put
        // it there; one nobody holds tells nothing, and goes. A folder tells nothing whoever holds it: a
        // Velaro locks a file it opens for writing, which a folder never is.
        const bool folder = S_ISDIR(st.st_mode);
        const qint64 holder = folder ? 0 : holderOfLock(*lockFolder_, name);
        if (holder > 0) {
            lockHolder_ = holder;
            qCWarning(lcApp) << tagged("APP", "the instance lock " + lockPath_.toStdString() + " is " +
                                                  problem + ", and a running process holds it (" +
                                                  describeProcess(holder) + ")");
            return Lock::heldElsewhere;
        }
        if (holder == 0 && !removed && removeStaleLock(problem)) {
            removed = true;
            continue;
        }
        qCWarning(lcApp) << tagged(
            "APP", "cannot use the instance lock " + lockPath_.toStdString() + " (it is " + problem + ")");
        return Lock::unavailable;
    }
}

bool SingleInstance::removeStaleLock(const std::string& problem) {
    // Launches take turns, each locking an opening of the folder of its own and looking again once it has its
    // turn; none holds it for longer than a look.
    const int folder = ::openat(lockFolder_->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return false;
    for (int tries = 0; ::flock(folder, LOCK_EX | LOCK_NB) != 0; ++tries) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || tries == 200) {
            ::close(folder);
            return false;
        }
        ::usleep(5000);
    }
    const QByteArray name = QFile::encodeName(QFileInfo(lockPath_).fileName());
    struct stat st {};
    bool gone = false;
    if (::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        gone = errno == ENOENT;  // another launch removed it
    } else if (notALockFile(st).empty()) {
        gone = true;  // and has made the lock anew
    } else if (S_ISDIR(st.st_mode)) {
        // Not removed: whatever the folder holds may be someone's. Moved aside within the lock's own folder,
        // which a rename may do whoever owns the folder moved.
        if (const QString aside = moveAside(folder, name); !aside.isEmpty()) {
            gone = true;
            qCWarning(lcApp) << tagged("APP", "the instance lock " + lockPath_.toStdString() +
                                                  " was a folder, which no Velaro holds; moved it aside to " +
                                                  aside.toStdString() + " to make the lock anew");
        }
    } else if (holderOfLock(*lockFolder_, name) == 0 && ::unlinkat(folder, name.constData(), 0) == 0) {
        gone = true;
        qCWarning(lcApp) << tagged("APP", "the instance lock " + lockPath_.toStdString() + " was " + problem +
                                              " that no process holds; removed it to make the lock anew");
    }
    ::close(folder);  // and with it the turn
    return gone;
}

QString SingleInstance::moveAside(int folder, const QByteArray& name) const {
    // The first free name of "<lock>.aside-N"; never over anything already there.
    for (int n = 1; n <= 100; ++n) {
        const QByteArray aside = name + ".aside-" + QByteArray::number(n);
        if (::renameat2(folder, name.constData(), folder, aside.constData(), RENAME_NOREPLACE) == 0)
            return QFileInfo(lockPath_).absoluteDir().filePath(QFile::decodeName(aside));
        if (errno != EEXIST) {
            qCWarning(lcApp) << tagged("APP", "cannot move the folder " + lockPath_.toStdString() +
                                                  " aside (" + std::strerror(errno) + ")");
            return {};
        }
    }
    return {};
}

QString SingleInstance::connectionOfLockHolder() {
    auto* bus = connection_.interface();
    if (lockHolder_ <= 0) return service_;
    const QDBusReply<QStringList> queue = bus->call(QStringLiteral("ListQueuedOwners"), service_);
    if (!queue.isValid()) return service_;
    for (const QString& connection : queue.value()) {
        const auto pid = bus->servicePid(connection);
        if (pid.isValid() && qint64(pid.value()) == lockHolder_) return connection;
    }
    return {};
}

SingleInstance::Role SingleInstance::claim(std::chrono::milliseconds instanceAnswer,
                                           std::chrono::milliseconds ownerAnswer) {
    const Lock lock = takeLock();
    const bool runsHere = lock == Lock::heldElsewhere;
    const std::string running = "Velaro is already running on this display" +
                                (lockHolder_ > 0 ? " (" + describeProcess(lockHolder_) + ")" : std::string());
    if (!connection_.isConnected()) {
        qCInfo(lcApp) << tagged("APP", "no session bus: running without the reopen hand-over");
        if (!runsHere) return Role::standalone;
        qCWarning(lcApp) << tagged("APP", running +
                                              " and cannot be asked to come forward without the session bus; "
                                              "not starting a second one");
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
        qCWarning(lcApp) << tagged("APP",
                                   running +
                                       " without the session bus, so it cannot be asked to come forward; "
                                       "not starting a second one");
        return Role::unreachable;
    }
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceNotRegistered) {
        qCWarning(lcApp) << tagged(
            "APP", "could not take the session-bus name: " + reply.error().message().toStdString());
        releaseName();
        if (!runsHere) return Role::standalone;
        qCInfo(lcApp) << tagged("APP", running + "; not starting a second one");
        return Role::unreachable;
    }
    // Held by someone else.
    const auto ownerPid = bus->servicePid(service_);
    const std::string owner =
        "another program" +
        (ownerPid.isValid() ? " (" + describeProcess(ownerPid.value()) + ")" : std::string());
    const std::string name = "the session-bus name " + service_.toStdString();
    if (lock == Lock::ours) {
        // The free lock says no Velaro runs on this display, whatever holds the name: a program that took
        // it, or a Velaro of another display where sessions share one bus. That one is not asked to come
        // forward (on its own display); this one starts, and waits in line for the name.
        waitInLineForName();
        qCWarning(lcApp) << tagged(
            "APP", name + " is held by " + owner +
                       ", and no Velaro runs on this display; starting without the reopen hand-over");
        return Role::standalone;
    }
    releaseName();
    // Where a Velaro holds this display's lock, that one comes forward, whoever holds the name; where no
    // lock tells, the name's owner is asked, and two must not run when it may be a Velaro that is stuck.
    const QString ask = runsHere ? connectionOfLockHolder() : service_;
    if (ask.isEmpty()) {
        qCWarning(lcApp) << tagged(
            "APP", running + " but is not on the session bus, where its name is held by " + owner +
                       ", so it cannot be asked to come forward; not starting a "
                       "second one");
        return Role::unreachable;
    }
    if (askToReopen(ask, runsHere ? instanceAnswer : ownerAnswer) == Answer::velaro) {
        const auto pid = bus->servicePid(ask);
        qCInfo(lcApp) << tagged(
            "APP", "handed the launch over to the running Velaro" +
                       (pid.isValid() ? " (" + describeProcess(pid.value()) + ")" : std::string()));
        return Role::secondary;
    }
    if (!runsHere) {
        qCWarning(lcApp) << tagged(
            "APP",
            "no instance lock tells whether Velaro runs on this display, and " + name + " is held by " +
                owner +
                ", which does not answer as Velaro; not starting, as it may be a Velaro that is stuck");
        return Role::unreachable;
    }
    qCWarning(lcApp) << tagged("APP", running +
                                          " but does not answer (it may be hung); not starting a second one. "
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

SingleInstance::Answer SingleInstance::askToReopen(const QString& destination,
                                                   std::chrono::milliseconds limit) {
    const auto message = QDBusMessage::createMethodCall(
        destination, objectPath(), QString::fromLatin1(serviceName), QStringLiteral("reopen"));
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
