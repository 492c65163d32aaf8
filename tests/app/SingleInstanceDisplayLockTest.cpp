// The display's instance lock: every spelling of one display shares one lock, and whatever stands in the
// lock's place is told apart by whether a live process holds it (a running Velaro) or none does (it goes); a
// folder there is no Velaro's and is moved aside.
#include "app/SingleInstance.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/LogCapture.h"
#include "support/ScopedEnv.h"

namespace velaro {
namespace {

TEST(SingleInstanceDisplayKey, EverySpellingOfOneDisplayNamesOneLockAndOtherDisplaysOthers) {
    const std::pair<const char*, const char*> spellings[] = {
        // This machine's display 2: no host, "unix" for host or protocol, its socket's path; any screen.
        {":2", ":2"},
        {":2.0", ":2"},
        {":2.1", ":2"},
        {":02", ":2"},
        {"unix:2", ":2"},
        {"unix:2.0", ":2"},
        {"unix/:2", ":2"},
        {"unix/somehost:2", ":2"},
        {"/tmp/.X11-unix/X2", ":2"},
        {"/tmp/.X11-unix/X2.0", ":2"},
        // Over the network, "localhost" too (only a server listening on TCP is the same one there).
        {"localhost:2", "localhost:2"},
        {"LocalHost:2.0", "localhost:2"},
        {"tcp/localhost:2", "localhost:2"},
        {"Box.Example.org:10.0", "box.example.org:10"},
        {"127.0.0.1:2.0", "127.0.0.1:2"},
        {"[::1]:2", "[::1]:2"},
        {"::1:2.0", "[::1]:2"},
        {"inet6/[0:0:0:0:0:0:0:1]:2", "[::1]:2"},
        // Nothing the X library would connect to: kept as it stands.
        {"", ""},
        {"somehost", "somehost"},
        {":", ":"},
        {":x", ":x"},
        {":2.", ":2."},
        {":2.0.0", ":2.0.0"},
        {":99999999999", ":99999999999"},
        {"host::2", "host::2"},
        {"[nohost]:2", "[nohost]:2"},
        {"decnet/:2", "decnet/:2"},
        {"/run/other/socket", "/run/other/socket"},
    };
    for (const auto& [display, key] : spellings)
        EXPECT_EQ(SingleInstance::displayKey(QString::fromLatin1(display)).toStdString(), key) << display;
}

// Launches without a session bus, so that the lock alone decides; each shares the one lock file.
class SingleInstanceDisplayLock : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    void TearDown() override {
        for (const auto& name : names_) QDBusConnection::disconnectFromBus(name);
    }
    std::unique_ptr<SingleInstance> launch() {
        const QString name = QStringLiteral("lockless%1").arg(names_.size());
        names_.push_back(name);
        return std::make_unique<SingleInstance>(
            QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), name),
            QString::fromLatin1(SingleInstance::serviceName), lockPath());
    }
    QString lockPath() const { return dir_.filePath(QStringLiteral("instance.lock")); }
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    // What stands in the lock's place: a regular file of this user's, or something else.
    bool isOwnLockFile() const {
        struct stat st {};
        return ::lstat(QFile::encodeName(lockPath()).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
               st.st_uid == ::geteuid();
    }
    static void write(const QString& file, const QByteArray& bytes) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static QByteArray read(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir_;
    std::vector<QString> names_;
};

// A link (dangling, or to a file of the user's), a pipe, or a file of another user in the lock's place that
// no process holds tells of no running Velaro: it goes, the lock is made anew, and it keeps a second out.
TEST_F(SingleInstanceDisplayLock, WhatNoProcessHoldsInTheLocksPlaceGoesAndTheLockIsMadeAnew) {
    write(path("target"), "the user's own file");
    const auto plant = [&](const char* what) {
        const QByteArray at = QFile::encodeName(lockPath());
        if (QByteArray(what) == "dangling link") return QFile::link(path("nowhere"), lockPath());
        if (QByteArray(what) == "link") return QFile::link(path("target"), lockPath());
        if (QByteArray(what) == "pipe") return ::mkfifo(at.constData(), 0600) == 0;
        const int fd = ::open(at.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const bool given = fd >= 0 && ::fchown(fd, 65534, 65534) == 0;
        if (fd >= 0) ::close(fd);
        return given;
    };
    std::vector<const char*> cases{"dangling link", "link", "pipe"};
    if (::geteuid() == 0) cases.push_back("file of another user");  // only root can give a file away
    for (const char* what : cases) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(plant(what));
        test::LogCapture log;
        auto first = launch();
        EXPECT_EQ(first->claim(), SingleInstance::Role::standalone);
        EXPECT_EQ(log.count("that no process holds; removed it"), 1);
        EXPECT_TRUE(isOwnLockFile());
        EXPECT_EQ(launch()->claim(), SingleInstance::Role::unreachable) << "the new lock keeps a second out";
        EXPECT_EQ(read(path("target")), "the user's own file") << "a link's target is left alone";
        EXPECT_FALSE(QFileInfo::exists(path("nowhere"))) << "nothing is made through a link";
        first.reset();
        ASSERT_TRUE(QFile::remove(lockPath()));
    }
}

// A folder in the lock's place is no Velaro's, even one a live process holds: it is moved aside with what it
// holds, whoever owns it, and the lock is made anew in its place.
TEST_F(SingleInstanceDisplayLock, AFolderInTheLocksPlaceIsMovedAsideWithWhatItHolds) {
    std::vector<const char*> cases{"empty folder", "folder with files", "folder held by a live process"};
    if (::geteuid() == 0) cases.push_back("folder of another user");  // only root can give a folder away
    for (const char* what : cases) {
        SCOPED_TRACE(what);
        const QByteArray at = QFile::encodeName(lockPath());
        ASSERT_EQ(::mkdir(at.constData(), 0700), 0);
        if (QByteArray(what) != "empty folder") write(lockPath() + QStringLiteral("/kept"), "kept");
        const int held = ::open(at.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        if (QByteArray(what) == "folder held by a live process") {
            ASSERT_EQ(::flock(held, LOCK_EX), 0);
        }
        if (QByteArray(what) == "folder of another user") {
            ASSERT_EQ(::fchown(held, 65534, 65534), 0);
        }
        test::LogCapture log;
        auto first = launch();
        EXPECT_EQ(first->claim(), SingleInstance::Role::standalone);
        EXPECT_EQ(log.count("was a folder, which no Velaro holds; moved it aside to " +
                            lockPath().toStdString() + ".aside-1"),
                  1);
        EXPECT_TRUE(isOwnLockFile());
        EXPECT_EQ(launch()->claim(), SingleInstance::Role::unreachable) << "the new lock keeps a second out";
        if (QByteArray(what) != "empty folder") {
            EXPECT_EQ(read(lockPath() + QStringLiteral(".aside-1/kept")), "kept");
        }
        ::close(held);
        first.reset();
        ASSERT_TRUE(QFile::remove(lockPath()));
        ASSERT_TRUE(QDir(lockPath() + QStringLiteral(".aside-1")).removeRecursively());
    }
    // A name already taken beside the lock is left as it is; the next free one is used.
    ASSERT_EQ(::mkdir(QFile::encodeName(lockPath()).constData(), 0700), 0);
    write(lockPath() + QStringLiteral(".aside-1"), "an earlier one");
    EXPECT_EQ(launch()->claim(), SingleInstance::Role::standalone);
    EXPECT_TRUE(isOwnLockFile());
    EXPECT_EQ(read(lockPath() + QStringLiteral(".aside-1")), "an earlier one");
    EXPECT_TRUE(QFileInfo(lockPath() + QStringLiteral(".aside-2")).isDir());
}

// Held by a live process (here this one, as a running Velaro holds its lock), the same things stand for a
// Velaro running on the display: a launch names that process and does not start, and nothing is removed.
TEST_F(SingleInstanceDisplayLock, WhatALiveProcessHoldsInTheLocksPlaceStandsForARunningVelaro) {
    write(path("held"), "held");
    const int holder = ::open(QFile::encodeName(path("held")).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const auto check = [&](const QString& file) {
        test::LogCapture log;
        EXPECT_EQ(launch()->claim(), SingleInstance::Role::unreachable);
        EXPECT_EQ(log.count("holds it"), 1);
        EXPECT_EQ(log.count("already running on this display (pid " + std::to_string(::getpid())), 1);
        EXPECT_FALSE(isOwnLockFile()) << "what a live process holds was removed";
        EXPECT_EQ(read(file), "held");
    };
    {
        SCOPED_TRACE("a link to it");
        ASSERT_TRUE(QFile::link(path("held"), lockPath()));
        check(path("held"));
        ASSERT_TRUE(QFile::remove(lockPath()));
    }
    if (::geteuid() == 0) {
        SCOPED_TRACE("a file of another user");
        ASSERT_EQ(::fchown(holder, 65534, 65534), 0);
        ASSERT_TRUE(QFile::rename(path("held"), lockPath()));
        check(lockPath());
    }
    ::close(holder);
}

// Run as root with another user's home and no runtime folder (sudo -E), the lock's fallback in their cache
// folder is found as the settings folder is, and a private folder of root's is never made among theirs:
// neither through their link to root's private folder, nor in their own cache folder, nor with the cache
// folder made for it.
TEST(SingleInstancePrivateFolder, RunAsRootNothingIsMadeAmongAnotherUsersFolders) {
    if (::geteuid() != 0) GTEST_SKIP() << "making folders of another user needs root";
    constexpr uid_t kOther = 65534;
    QTemporaryDir dir;
    const QString home = dir.filePath(QStringLiteral("home")),
                  roots = dir.filePath(QStringLiteral("root-only")),
                  shared = dir.filePath(QStringLiteral("tmp"));
    // The temporary folder's candidate is another user's, and passed over.
    for (const QString& folder : {home, roots, shared + QStringLiteral("/velaro-0")}) {
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0700), 0);
        if (folder != roots) {
            ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), kOther, kOther), 0);
        }
    }
    const test::ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt), cache("XDG_CACHE_HOME", std::nullopt),
        tmp("TMPDIR", shared), homeEnv("HOME", home);
    const QByteArray link = QFile::encodeName(home + QStringLiteral("/.cache"));
    for (const char* what : {"their link to root's folder", "their cache folder", "no cache folder"}) {
        SCOPED_TRACE(what);
        ::unlink(link.constData());
        ::rmdir(link.constData());
        if (QByteArray(what) == "their link to root's folder") {
            ASSERT_EQ(::symlink(QFile::encodeName(roots).constData(), link.constData()), 0);
            ASSERT_EQ(::lchown(link.constData(), kOther, kOther), 0);
        } else if (QByteArray(what) == "their cache folder") {
            ASSERT_EQ(::mkdir(link.constData(), 0700), 0);
            ASSERT_EQ(::chown(link.constData(), kOther, kOther), 0);
        }
        const QStringList before =
            QDir(home).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        test::LogCapture log;
        EXPECT_EQ(SingleInstance::defaultLockPath(), QString());
        EXPECT_EQ(log.count("the instance lock does not go in " +
                            (home + QStringLiteral("/.cache/velaro")).toStdString()),
                  1);
        EXPECT_TRUE(QDir(roots).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        EXPECT_EQ(QDir(home).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
        EXPECT_FALSE(QFileInfo::exists(home + QStringLiteral("/.cache/velaro")));
    }
}

}  // namespace
}  // namespace velaro
