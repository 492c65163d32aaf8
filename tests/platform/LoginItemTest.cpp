// The XDG autostart entry: its round trip, entries switched off with Hidden=true, system-wide entries,
// refusals, and the Exec= quoting that keeps unusual install paths startable.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/XdgLoginItem.h"
#include "support/WithoutChown.h"

namespace velaro {
namespace {

std::string readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
}

void writeFile(const QString& path, const std::string& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.data(), static_cast<qint64>(text.size()));
}

class XdgLoginItemTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string home() const { return (dir.path() + "/config").toStdString(); }
    std::string system() const { return (dir.path() + "/xdg").toStdString(); }
    QString userEntry() const { return dir.path() + "/config/autostart/com.quornet.Velaro.desktop"; }
    QString systemEntry() const { return dir.path() + "/xdg/autostart/com.quornet.Velaro.desktop"; }
    XdgLoginItem item() const { return XdgLoginItem(home(), {system()}, "/usr/bin/velaro"); }
};

TEST_F(XdgLoginItemTest, RegisterWritesAStartableEntryAndUnregisterRemovesIt) {
    auto login = item();
    EXPECT_EQ(login.status(), LoginItemStatus::notRegistered);

    ASSERT_FALSE(login.registerItem());
    EXPECT_EQ(login.status(), LoginItemStatus::enabled);
    EXPECT_EQ(login.entryPath(), userEntry().toStdString());
    const std::string text = readAll(userEntry());
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=/usr/bin/velaro\n"), std::string::npos);
    EXPECT_EQ(text.find("Hidden"), std::string::npos);

    // Registering twice is harmless.
    ASSERT_FALSE(login.registerItem());
    EXPECT_EQ(login.status(), LoginItemStatus::enabled);

    ASSERT_FALSE(login.unregisterItem());
    EXPECT_FALSE(QFile::exists(userEntry()));
    EXPECT_EQ(login.status(), LoginItemStatus::notRegistered);
}

TEST_F(XdgLoginItemTest, AnEntryTheUserHidIsOffAndRegisteringTurnsItBackOn) {
    writeFile(userEntry(), "[Desktop Entry]\nType=Application\nExec=/usr/bin/velaro\nHidden = true\n");
    auto login = item();
    EXPECT_EQ(login.status(), LoginItemStatus::notRegistered);
    ASSERT_FALSE(login.registerItem());
    EXPECT_EQ(login.status(), LoginItemStatus::enabled);
    EXPECT_EQ(readAll(userEntry()).find("Hidden"), std::string::npos);
}

TEST_F(XdgLoginItemTest, UnregisteringWhatWasNeverRegisteredIsRefused) {
    auto login = item();
    const auto error = login.unregisterItem();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description, "the login item is not registered");
    EXPECT_FALSE(QFile::exists(userEntry()));
}

TEST_F(XdgLoginItemTest, ASystemWideEntryIsSwitchedOffByAHiddenEntryOfTheUsers) {
    writeFile(systemEntry(), "[Desktop Entry]\nType=Application\nExec=/usr/bin/velaro\n");
    auto login = item();
    EXPECT_EQ(login.status(), LoginItemStatus::enabled);

    // Deleting a file of ours would not be enough: the system's entry would still start the app.
    ASSERT_FALSE(login.unregisterItem());
    EXPECT_EQ(login.status(), LoginItemStatus::notRegistered);
    EXPECT_NE(readAll(userEntry()).find("\nHidden=true\n"), std::string::npos);
    EXPECT_TRUE(QFile::exists(systemEntry()));

    ASSERT_FALSE(login.registerItem());
    EXPECT_EQ(login.status(), LoginItemStatus::enabled);
}

TEST_F(XdgLoginItemTest, ACorruptOrForeignEntryStillCountsByItsHiddenKeyAlone) {
    writeFile(userEntry(), "\x01\x02 garbage\n[Other Group]\nHidden=true\n");
    EXPECT_EQ(item().status(), LoginItemStatus::enabled);
    writeFile(userEntry(), "[Desktop Entry]\r\nHidden=true\r\n");
    EXPECT_EQ(item().status(), LoginItemStatus::notRegistered);
}

TEST_F(XdgLoginItemTest, RefusesWhenTheAutostartDirectoryCannotBeMade) {
    // A plain file where the configuration directory should be: no user, not even root, can write below it.
    writeFile(dir.path() + "/config", "not a directory");
    auto login = item();
    const auto error = login.registerItem();
    ASSERT_TRUE(error);
    EXPECT_NE(error->description.find("autostart"), std::string::npos) << error->description;
    EXPECT_EQ(login.status(), LoginItemStatus::notRegistered);
}

// Run as root with another user's configuration folder, the entry is written as the settings file is: never
// through their link to root's private folder, and the folder made for it and the entry are theirs, or are
// not left there at all.
TEST_F(XdgLoginItemTest, RunAsRootTheEntryIsTheirsOrNotWritten) {
    if (::geteuid() != 0) GTEST_SKIP() << "making folders of another user needs root";
    constexpr uid_t kOther = 65534;
    const QString roots = dir.path() + "/root-only", autostart = dir.path() + "/config/autostart";
    for (const QString& folder : {roots, dir.path() + "/config"}) ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::chmod(roots.toLocal8Bit(), 0700), 0);
    ASSERT_EQ(::chown((dir.path() + "/config").toLocal8Bit(), kOther, kOther), 0);
    ASSERT_EQ(::symlink(roots.toLocal8Bit(), autostart.toLocal8Bit()), 0);
    ASSERT_EQ(::lchown(autostart.toLocal8Bit(), kOther, kOther), 0);
    auto error = item().registerItem();
    ASSERT_TRUE(error);
    EXPECT_NE(error->description.find("leads through a link of another user"), std::string::npos)
        << error->description;
    EXPECT_TRUE(QDir(roots).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));

    ASSERT_EQ(::unlink(autostart.toLocal8Bit()), 0);
    {
        const test::WithoutChown withoutChown;
        error = item().registerItem();
    }
    ASSERT_TRUE(error);
    EXPECT_NE(error->description.find("cannot be given to user 65534"), std::string::npos)
        << error->description;
    EXPECT_FALSE(QFileInfo::exists(autostart));

    ASSERT_FALSE(item().registerItem());
    for (const QString& made : {autostart, userEntry()}) {
        struct stat st {};
        ASSERT_EQ(::lstat(made.toLocal8Bit(), &st), 0) << made.toStdString();
        EXPECT_EQ(st.st_uid, kOther) << made.toStdString();
    }
    EXPECT_EQ(QDir(autostart).entryList(QDir::Files | QDir::Hidden),
              QStringList{"com.quornet.Velaro.desktop"});
    EXPECT_FALSE(item().unregisterItem());
    EXPECT_FALSE(QFile::exists(userEntry()));
}

TEST_F(XdgLoginItemTest, WithoutAConfigurationDirectoryNothingCanBeRegistered) {
    XdgLoginItem login("", {}, "/usr/bin/velaro");
    EXPECT_EQ(login.status(), LoginItemStatus::notFound);
    EXPECT_TRUE(login.registerItem());
    EXPECT_TRUE(login.unregisterItem());
}

TEST(XdgLoginItemEnvironmentTest, ARelativeConfigHomeIsIgnoredForTheHomeDirectory) {
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("XDG_CONFIG_HOME", "relative/config");
    qputenv("HOME", "/home/someone");
    const auto login = XdgLoginItem::fromEnvironment("/usr/bin/velaro");
    EXPECT_EQ(login->entryPath(), "/home/someone/.config/autostart/com.quornet.Velaro.desktop");
    qputenv("XDG_CONFIG_HOME", "/custom/config");
    EXPECT_EQ(XdgLoginItem::fromEnvironment("/usr/bin/velaro")->entryPath(),
              "/custom/config/autostart/com.quornet.Velaro.desktop");
    qputenv("XDG_CONFIG_HOME", savedConfig);
    qputenv("HOME", savedHome);
}

TEST(DesktopEntryExecTest, QuotesAndEscapesReservedCharacters) {
    EXPECT_EQ(desktopEntryExec("/usr/bin/velaro"), "/usr/bin/velaro");
    EXPECT_EQ(desktopEntryExec("/opt/My Apps/velaro"), "\"/opt/My Apps/velaro\"");
    // $ and " are escaped inside the quotes, and each of those backslashes is doubled by the file format.
    EXPECT_EQ(desktopEntryExec("/opt/a$b\"c/velaro"), "\"/opt/a\\\\$b\\\\\"c/velaro\"");
    // % starts a field code unless doubled.
    EXPECT_EQ(desktopEntryExec("/opt/100%/velaro"), "/opt/100%%/velaro");
}

}  // namespace
}  // namespace velaro
