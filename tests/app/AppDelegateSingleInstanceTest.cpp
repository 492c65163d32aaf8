// Single instance over a private session bus: the first claim owns the name, a second one makes the first
// reopen and is told to leave, and the name frees when its owner goes.
#include "app/SingleInstance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>

namespace velaro {
namespace {

class PrivateBus {
public:
    PrivateBus() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) return;
        process_.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                QStringLiteral("--print-address")});
        if (!process_.waitForReadyRead(5000)) return;
        address_ = QString::fromUtf8(process_.readLine()).trimmed();
    }
    ~PrivateBus() {
        for (const auto& name : names_) QDBusConnection::disconnectFromBus(name);
        process_.kill();
        process_.waitForFinished(2000);
    }
    bool ok() const { return !address_.isEmpty(); }
    // A new client of the bus, as another process would be.
    QDBusConnection connect() {
        const QString name = QStringLiteral("client%1").arg(names_.size());
        names_.push_back(name);
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QProcess process_;
    QString address_;
    std::vector<QString> names_;
};

TEST(AppDelegateSingleInstance, SecondLaunchHandsReopenToTheFirstAndLeaves) {
    PrivateBus bus;
    if (!bus.ok()) GTEST_SKIP() << "no dbus-daemon to run a private bus";
    SingleInstance first(bus.connect());
    int reopens = 0;
    first.onReopen = [&] { ++reopens; };
    ASSERT_EQ(first.claim(), SingleInstance::Role::primary);

    {
        SingleInstance second(bus.connect());
        EXPECT_EQ(second.claim(), SingleInstance::Role::secondary);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(reopens, 1);

    SingleInstance third(bus.connect());
    EXPECT_EQ(third.claim(), SingleInstance::Role::secondary) << "the second leaving changed nothing";
    QCoreApplication::processEvents();
    EXPECT_EQ(reopens, 2);
}

TEST(AppDelegateSingleInstance, TheNameFreesWhenItsOwnerGoes) {
    PrivateBus bus;
    if (!bus.ok()) GTEST_SKIP() << "no dbus-daemon to run a private bus";
    {
        SingleInstance first(bus.connect());
        ASSERT_EQ(first.claim(), SingleInstance::Role::primary);
    }
    SingleInstance next(bus.connect());
    EXPECT_EQ(next.claim(), SingleInstance::Role::primary);
}

TEST(AppDelegateSingleInstance, WithoutABusTheAppRunsAlone) {
    SingleInstance alone(
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("nobus")));
    EXPECT_EQ(alone.claim(), SingleInstance::Role::standalone);
    QDBusConnection::disconnectFromBus(QStringLiteral("nobus"));
}

}  // namespace
}  // namespace velaro
