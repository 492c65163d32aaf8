// Single instance over a private session bus and a private lock file: the first claim owns the name, a
// second one makes the first reopen and is told to leave, the name frees when its owner goes, and a launch
// that finds a running instance it cannot reach is turned away.
#include "app/SingleInstance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>
#include <vector>

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

// Every launch of a test shares one lock file of its own, as launches on one display do.
class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    std::unique_ptr<SingleInstance> launch(QDBusConnection connection) {
        return std::make_unique<SingleInstance>(connection, QString::fromLatin1(SingleInstance::serviceName),
                                                dir_.filePath(QStringLiteral("instance.lock")));
    }
    std::unique_ptr<SingleInstance> launchWithoutBus() {
        const QString name = QStringLiteral("nobus%1").arg(++noBus_);
        names_.push_back(name);
        return launch(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), name));
    }
    void TearDown() override {
        for (const auto& name : names_) QDBusConnection::disconnectFromBus(name);
    }

    QTemporaryDir dir_;
    std::vector<QString> names_;
    int noBus_ = 0;
};

TEST_F(SingleInstanceTest, SecondLaunchHandsReopenToTheFirstAndLeaves) {
    PrivateBus bus;
    if (!bus.ok()) GTEST_SKIP() << "no dbus-daemon to run a private bus";
    auto first = launch(bus.connect());
    int reopens = 0;
    first->onReopen = [&] { ++reopens; };
    ASSERT_EQ(first->claim(), SingleInstance::Role::primary);

    EXPECT_EQ(launch(bus.connect())->claim(), SingleInstance::Role::secondary);
    QCoreApplication::processEvents();
    EXPECT_EQ(reopens, 1);

    EXPECT_EQ(launch(bus.connect())->claim(), SingleInstance::Role::secondary)
        << "the second leaving changed nothing";
    QCoreApplication::processEvents();
    EXPECT_EQ(reopens, 2);
}

TEST_F(SingleInstanceTest, TheNameAndTheLockFreeWhenTheirOwnerGoes) {
    PrivateBus bus;
    if (!bus.ok()) GTEST_SKIP() << "no dbus-daemon to run a private bus";
    ASSERT_EQ(launch(bus.connect())->claim(), SingleInstance::Role::primary);
    EXPECT_EQ(launch(bus.connect())->claim(), SingleInstance::Role::primary);
    ASSERT_EQ(launchWithoutBus()->claim(), SingleInstance::Role::standalone);
    EXPECT_EQ(launchWithoutBus()->claim(), SingleInstance::Role::standalone);
}

// A first instance that cannot be asked to come forward turns every later launch away, which then fails
// instead of reporting success: one that holds the name but does not answer, and one that runs without a
// session bus (whether the later launch has one or not).
TEST_F(SingleInstanceTest, ALaunchThatCannotReachTheRunningInstanceIsTurnedAway) {
    PrivateBus bus;
    if (!bus.ok()) GTEST_SKIP() << "no dbus-daemon to run a private bus";
    {
        // Holds the name, as a hung instance does, but serves nothing: the request fails.
        auto silent = bus.connect();
        ASSERT_TRUE(silent.registerService(QString::fromLatin1(SingleInstance::serviceName)));
        EXPECT_EQ(launch(bus.connect())->claim(500), SingleInstance::Role::unreachable);
        silent.unregisterService(QString::fromLatin1(SingleInstance::serviceName));
    }
    auto alone = launchWithoutBus();
    ASSERT_EQ(alone->claim(), SingleInstance::Role::standalone);
    EXPECT_EQ(launchWithoutBus()->claim(), SingleInstance::Role::unreachable);
    EXPECT_EQ(launch(bus.connect())->claim(), SingleInstance::Role::unreachable);
    // The turned-away launch gave the name back: once the first is gone, a launch takes both.
    alone.reset();
    EXPECT_EQ(launch(bus.connect())->claim(), SingleInstance::Role::primary);
}

}  // namespace
}  // namespace velaro
