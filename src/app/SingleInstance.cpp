// Session-bus arbitration between launches and the "reopen" hand-over.
#include "app/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QTimer>

#include "base/Log.h"

namespace velaro {

SingleInstance::SingleInstance(QDBusConnection connection, QString service)
    : connection_(std::move(connection)), service_(std::move(service)) {}

SingleInstance::~SingleInstance() {
    if (registeredObject_) connection_.unregisterObject(QString::fromLatin1(objectPath));
    if (ownsName_) connection_.unregisterService(service_);
}

SingleInstance::Role SingleInstance::claim(int timeoutMs) {
    if (!connection_.isConnected()) {
        logLine("APP", "no session bus: running without the single-instance check");
        return Role::standalone;
    }
    // The object is in place before the name is taken, so a "reopen" never finds the owner without it.
    registeredObject_ = connection_.registerObject(QString::fromLatin1(objectPath), this,
                                                   QDBusConnection::ExportScriptableSlots);
    auto* bus = connection_.interface();
    const auto reply = bus ? bus->registerService(service_, QDBusConnectionInterface::DontQueueService,
                                                  QDBusConnectionInterface::DontAllowReplacement)
                           : QDBusReply<QDBusConnectionInterface::RegisterServiceReply>();
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        ownsName_ = true;
        return Role::primary;
    }
    if (registeredObject_) {
        connection_.unregisterObject(QString::fromLatin1(objectPath));
        registeredObject_ = false;
    }
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceNotRegistered) {
        // Taken by another launch. Even when it does not answer in time, two instances must not run.
        if (!askOwnerToReopen(timeoutMs))
            logLine("APP", "the running instance did not answer the reopen request");
        return Role::secondary;
    }
    logLine("APP", "could not take the session-bus name: " + reply.error().message().toStdString());
    return Role::standalone;
}

bool SingleInstance::askOwnerToReopen(int timeoutMs) {
    const auto message =
        QDBusMessage::createMethodCall(service_, QString::fromLatin1(objectPath),
                                       QString::fromLatin1(serviceName), QStringLiteral("reopen"));
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
