// Single instance over a private session bus and a private lock file: the first claim owns the name, a
// second one makes the first reopen and is told to leave, the name frees when its owner goes, a launch that
// finds a running instance it cannot reach is turned away, a program squatting the name does not keep the
// app from starting, and the lock goes only into a folder of the user's own.
#include "app/SingleInstance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "support/BusNameSquatter.h"
#include "support/LogCapture.h"
#include "support/SpinUntil.h"

namespace velaro {
namespace {

using std::chrono::milliseconds;

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
    // Waits until nobody owns the app's name: an instance that goes lets it go without waiting for the bus.
    bool nameFree() {
        QDBusConnection watcher = connect();
        return test::spinUntil([&] {
            return !watcher.interface()->isServiceRegistered(
                QString::fromLatin1(SingleInstance::serviceName));
        });
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
    ASSERT_TRUE(bus.nameFree());
    EXPECT_EQ(launch(bus.connect())->claim(), SingleInstance::Role::primary);
    ASSERT_EQ(launchWithoutBus()->claim(), SingleInstance::Role::standalone);
    EXPECT_EQ(launchWithoutBus()->claim(), SingleInstance::Role::standalone);
}

using Squatter = test::BusNameSquatter;

std::unique_ptr<Squatter> squat(QDBusConnection connection, Squatter::Kind kind) {
    return std::make_unique<Squatter>(std::move(connection), QString::fromLatin1(SingleInstance::serviceName),
                                      SingleInstance::objectPath(), kind);
}

// A program that holds the app's name while no Velaro runs on the display has a moment to answer as Velaro;
// then the launch says so and runs. It holds the lock, so later launches do not start a second one; and
// once the program lets the name go, the name comes to it and serves later launches again.
TEST_F(SingleInstanceTest, AProgramHoldingTheNameDoesNotKeepTheAppFromStarting) {
    PrivateBus bus;
    if (!bus.ok()) GTEST_SKIP() << "no dbus-daemon to run a private bus";
    for (const auto kind :
         {Squatter::Kind::serveNothing, Squatter::Kind::neverAnswer, Squatter::Kind::answerEmpty}) {
        SCOPED_TRACE(int(kind));
        auto squatter = squat(bus.connect(), kind);
        ASSERT_TRUE(squatter->ownsName());
        test::LogCapture log;
        auto first = launch(bus.connect());
        int reopens = 0;
        first->onReopen = [&] { ++reopens; };
        EXPECT_EQ(first->claim(milliseconds(300), milliseconds(300)), SingleInstance::Role::standalone);
        EXPECT_EQ(log.count("no Velaro runs on this display"), 1);
        EXPECT_EQ(launch(bus.connect())->claim(milliseconds(300), milliseconds(300)),
                  SingleInstance::Role::unreachable);

        squatter.reset();
        EXPECT_EQ(launch(bus.connect())->claim(), SingleInstance::Role::secondary);
        QCoreApplication::processEvents();
        EXPECT_EQ(reopens, 1) << "the name did not come to the running app";
        first.reset();
        ASSERT_TRUE(bus.nameFree());
    }
}

// The free lock says that no Velaro runs on this display, even when the name's owner would answer as one (a
// Velaro of another display on a bus the sessions share): it is not asked to come forward, and the app
// starts.
TEST_F(SingleInstanceTest, ANameOwnerThatAnswersAsVelaroIsNotAskedWhileTheLockIsFree) {
    PrivateBus bus;
    if (!bus.ok()) GTEST_SKIP() << "no dbus-daemon to run a private bus";
    auto elsewhere = squat(bus.connect(), Squatter::Kind::answerWithTheName);
    ASSERT_TRUE(elsewhere->ownsName());
    test::LogCapture log;
    auto first = launch(bus.connect());
    EXPECT_EQ(first->claim(milliseconds(300), milliseconds(300)), SingleInstance::Role::standalone);
    EXPECT_EQ(log.count("no Velaro runs on this display"), 1);
    EXPECT_EQ(elsewhere->calls(), 0);
}

// A first instance that cannot be asked to come forward turns every later launch away, which then fails
// instead of reporting success: one that holds the lock and the name but does not answer (or answers as
// something else), and one that runs without a session bus (whether the later launch has one or not).
TEST_F(SingleInstanceTest, ALaunchThatCannotReachTheRunningInstanceIsTurnedAway) {
    PrivateBus bus;
    if (!bus.ok()) GTEST_SKIP() << "no dbus-daemon to run a private bus";
    for (const auto kind : {Squatter::Kind::neverAnswer, Squatter::Kind::answerEmpty}) {
        SCOPED_TRACE(int(kind));
        auto hung = launchWithoutBus();
        ASSERT_EQ(hung->claim(), SingleInstance::Role::standalone);
        const auto name = squat(bus.connect(), kind);
        ASSERT_TRUE(name->ownsName());
        test::LogCapture log;
        EXPECT_EQ(launch(bus.connect())->claim(milliseconds(300), milliseconds(300)),
                  SingleInstance::Role::unreachable);
        EXPECT_EQ(log.count("does not answer"), 1);
    }
    auto alone = launchWithoutBus();
    ASSERT_EQ(alone->claim(), SingleInstance::Role::standalone);
    EXPECT_EQ(launchWithoutBus()->claim(), SingleInstance::Role::unreachable);
    EXPECT_EQ(launch(bus.connect())->claim(), SingleInstance::Role::unreachable);
    // The turned-away launch gave the name back: once the first is gone, a launch takes both.
    ASSERT_TRUE(bus.nameFree());
    alone.reset();
    EXPECT_EQ(launch(bus.connect())->claim(), SingleInstance::Role::primary);
}

// The lock's folder is one that only the user can reach; whatever else stands at a candidate's place is
// passed over and left as it was, and a missing folder is made for the user alone.
TEST(SingleInstanceLockFolder, OnlyAFolderOfTheUsersOwnHoldsTheLock) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto path = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    const auto mode = [](const QString& p) {
        struct stat st {};
        return ::lstat(QFile::encodeName(p).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    };
    ASSERT_EQ(::mkdir(QFile::encodeName(path("own")).constData(), 0700), 0);
    ASSERT_EQ(::mkdir(QFile::encodeName(path("open")).constData(), 0700), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path("open")).constData(), 0777), 0);
    ASSERT_TRUE(QFile::link(path("own"), path("link")));
    QFile file(path("file"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QStringList refused{path("open"), path("link"), path("file")};
    if (::geteuid() == 0) {
        // Another user's folder, as a user other than root cannot make one.
        ASSERT_EQ(::mkdir(QFile::encodeName(path("foreign")).constData(), 0700), 0);
        ASSERT_EQ(::chown(QFile::encodeName(path("foreign")).constData(), 65534, 65534), 0);
        refused << path("foreign");
    }

    test::LogCapture log;
    EXPECT_EQ(SingleInstance::privateFolder(refused + QStringList{path("own")}), path("own"));
    EXPECT_EQ(log.count("the instance lock does not go in"), refused.size());
    EXPECT_EQ(mode(path("open")), 0777) << "another's folder is left as it was";
    EXPECT_TRUE(QFileInfo(path("link")).isSymLink());
    EXPECT_EQ(SingleInstance::privateFolder(refused), QString());

    // Made when missing (with its parents), for the user alone.
    const QString made = path("new/velaro-1");
    EXPECT_EQ(SingleInstance::privateFolder(refused + QStringList{made}), made);
    EXPECT_EQ(mode(made), 0700);
}

}  // namespace
}  // namespace velaro
