// Finding the settings file without being led elsewhere: the user's own links followed, another user's
// refused (run as root), what is made in another user's folder given to them.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <algorithm>
#include <set>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/defaults/GuardedPath.h"

#include "platform/helpers/DefaultsFileRig.h"
#include "support/WithoutChown.h"

namespace velaro::test {
namespace {

class GuardedPathTest : public DefaultsFileRig {};

// Links planted by another user in the settings folder (the app run as root with that user's folder, as sudo
// -E does) are neither followed nor replaced: the file or folder they point to is left as it was, nothing is
// written, and the log says so once. The user's own file there keeps its owner and mode when replaced.
// Files of another user can only be made by root: the test runs as root (as CI does) or is skipped.
class JsonDefaultsStoreOfAnotherUserTest : public DefaultsFileRig {
protected:
    static constexpr uid_t kOther = 65534;  // nobody
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "making files of another user needs root";
        DefaultsFileRig::SetUp();
        folder_ = dir_.filePath("config/Velaro").toStdString();
        QDir().mkpath(QString::fromStdString(folder_));
        ASSERT_EQ(::chown(folder_.c_str(), kOther, kOther), 0);
    }
    // A link at `at` to `to`, owned by `owner`.
    static void plantLink(const std::string& to, const std::string& at, uid_t owner) {
        ASSERT_EQ(::symlink(to.c_str(), at.c_str()), 0);
        ASSERT_EQ(::lchown(at.c_str(), owner, owner), 0);
    }
    // Every file and folder below `folder` with its owner, mode and size (for a file, its text).
    static std::string ownedTree(const QString& folder) {
        QStringList found;
        for (QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                             QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString path = it.next();
            struct stat st {};
            ::lstat(path.toLocal8Bit().constData(), &st);
            found << QStringLiteral("%1 %2 %3 ").arg(path).arg(st.st_uid).arg(st.st_mode & 07777, 0, 8) +
                         QString::fromStdString(S_ISREG(st.st_mode) ? readText(path.toStdString()) : "");
        }
        found.sort();
        return found.join('\n').toStdString();
    }
    // The inodes this process watches with inotify, as the kernel lists them.
    static std::set<ino_t> watchedInodes() {
        std::set<ino_t> inodes;
        for (const QFileInfo& fd : QDir("/proc/self/fdinfo").entryInfoList(QDir::Files))
            for (const QString& line :
                 QString::fromStdString(readText(fd.filePath().toStdString())).split('\n'))
                if (line.startsWith("inotify wd:"))
                    inodes.insert(line.section(" ino:", 1).section(' ', 0, 0).toULongLong(nullptr, 16));
        return inodes;
    }
    std::size_t logged(const std::string& text) const {
        return std::count_if(logged_.begin(), logged_.end(),
                             [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }
    std::size_t refusals() const {
        return std::count_if(logged_.begin(), logged_.end(), [](const std::string& line) {
            return line.find("leaving it and what it points to alone") != std::string::npos;
        });
    }
    std::string folder_;
};

TEST_F(JsonDefaultsStoreOfAnotherUserTest, ALinkOfAnotherUserIsNeitherReadNorWrittenThrough) {
    // Root's own file, readable by all, and root's private folder.
    const std::string rootsFile = dir_.filePath("roots.json").toStdString();
    writeText(rootsFile, R"({"root": true})");
    ASSERT_EQ(::chmod(rootsFile.c_str(), 0644), 0);
    const std::string rootsFolder = dir_.filePath("root-only").toStdString();
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(rootsFolder)));
    ASSERT_EQ(::chmod(rootsFolder.c_str(), 0700), 0);
    const std::string notYet = rootsFolder + "/new.json";
    // Another user's link to root's file, and a link of ours (root's) to a file of that user's: neither is
    // followed. Dangling: another user's link into root's folder, and ours into the other user's folder.
    const std::string theirs = folder_ + "/theirs.json";
    writeText(theirs, R"({"theirs": true})");
    ASSERT_EQ(::chown(theirs.c_str(), kOther, kOther), 0);
    struct Case {
        const char* what;
        std::string to;
        uid_t linkOwner;
    };
    for (const Case& link :
         {Case{"their link to root's file", rootsFile, kOther}, Case{"our link to their file", theirs, 0},
          Case{"their link into root's folder", notYet, kOther},
          Case{"our link into their folder", folder_ + "/new.json", 0}}) {
        SCOPED_TRACE(link.what);
        logged_.clear();
        QFile::remove(QString::fromStdString(path_));
        plantLink(link.to, path_, link.linkOwner);
        {
            JsonDefaultsStore store(loop_, path_);
            EXPECT_EQ(store.persistentDomain(), PlistValue::object()) << "read through the link";
            store.set("masterEnabled", false);
            loop_.runUntilIdle();
            EXPECT_FALSE(store.synchronize());
            store.set("overlayEnabled", true);
            loop_.runUntilIdle();
            loop_.advance(60);
            EXPECT_EQ(store.boolValue("masterEnabled"), false) << "kept in memory";
        }
        EXPECT_EQ(refusals(), 1u);
        EXPECT_EQ(QFileInfo(QString::fromStdString(path_)).symLinkTarget(), QString::fromStdString(link.to));
        EXPECT_EQ(readText(rootsFile), R"({"root": true})");
        EXPECT_EQ(readText(theirs), R"({"theirs": true})");
        struct stat st {};
        ASSERT_EQ(::stat(rootsFile.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0644u);
        EXPECT_FALSE(exists(notYet));
        EXPECT_FALSE(exists(folder_ + "/new.json"));
        EXPECT_EQ(QDir(QString::fromStdString(folder_)).entryList(QDir::Files | QDir::Hidden | QDir::System),
                  (QStringList{"defaults.json", "theirs.json"}))
            << "nothing made in their folder";
        EXPECT_TRUE(QDir(QString::fromStdString(rootsFolder))
                        .isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System));
    }
}

TEST_F(JsonDefaultsStoreOfAnotherUserTest, TheirOwnFileIsWrittenKeepingItsOwnerAndMode) {
    writeText(path_, R"({"a": 1})");
    ASSERT_EQ(::chown(path_.c_str(), kOther, kOther), 0);
    ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
    JsonDefaultsStore store(loop_, path_);
    EXPECT_EQ(store.integerValue("a"), 1);
    store.set("b", 2);
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}, {"b", 2}}));
    struct stat st {};
    ASSERT_EQ(::lstat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_uid, kOther);
    EXPECT_EQ(st.st_gid, kOther);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// The settings folder is looked at as the file is: their link in its place to root's private folder, or our
// link to a folder of theirs, is neither read nor written through, whatever the folder holds, and the refused
// write is not tried again. A folder swapped for their link while a write is under way changes nothing: the
// write goes on in the folder it looked at.
TEST_F(JsonDefaultsStoreOfAnotherUserTest, TheSettingsFolderIsCheckedAndHeldOpenOnceFound) {
    const std::string config = dir_.filePath("config").toStdString();
    ASSERT_EQ(::chown(config.c_str(), kOther, kOther), 0);
    const std::string roots = dir_.filePath("root-only").toStdString(), theirs = folder_ + ".theirs";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(roots)));
    ASSERT_EQ(::chmod(roots.c_str(), 0700), 0);
    ASSERT_EQ(::rename(folder_.c_str(), theirs.c_str()), 0);
    const auto entries = [](const std::string& folder) {
        return QDir(QString::fromStdString(folder))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    };
    struct Case {
        const char* what;
        std::string to;
        uid_t linkOwner;
    };
    for (const Case& link :
         {Case{"their link to root's folder", roots, kOther}, Case{"our link to theirs", theirs, 0}})
        for (const std::string held : {R"({"root": true})", "not json"}) {
            SCOPED_TRACE(std::string(link.what) + ", holding " + held);
            logged_.clear();
            ::unlink(folder_.c_str());
            writeText(link.to + "/defaults.json", held);
            plantLink(link.to, folder_, link.linkOwner);
            {
                JsonDefaultsStore store(loop_, path_);
                EXPECT_EQ(store.persistentDomain(), PlistValue::object()) << "read through the link";
                store.set("masterEnabled", false);
                EXPECT_FALSE(store.synchronize());
                loop_.runUntilIdle();
                EXPECT_EQ(loop_.pendingTimers(), 0u) << "the refused write is tried again";
            }
            EXPECT_EQ(refusals(), 1u);
            EXPECT_EQ(entries(link.to), QStringList{"defaults.json"});
            EXPECT_EQ(readText(link.to + "/defaults.json"), held);
        }

    ::unlink(folder_.c_str());
    ASSERT_EQ(::rename(theirs.c_str(), folder_.c_str()), 0);
    writeText(path_, R"({"a": 1})");
    writeText(roots + "/defaults.json", "root's");
    JsonDefaultsStore store(loop_, path_);
    store.setBeforeSwap([&] {
        if (!exists(theirs)) {
            ASSERT_EQ(::rename(folder_.c_str(), theirs.c_str()), 0);
            plantLink(roots, folder_, kOther);
        }
    });
    store.set("b", 2);
    store.synchronize();
    loop_.advance(60);
    EXPECT_EQ(entries(roots), QStringList{"defaults.json"});
    EXPECT_EQ(readText(roots + "/defaults.json"), "root's");
    EXPECT_EQ(PlistValue::parse(readText(theirs + "/defaults.json")), (PlistValue{{"a", 1}, {"b", 2}}));
}

// The configuration folder is looked at as the settings folder is, whichever variable names it: ~/.config
// under $HOME, or the last part of $XDG_CONFIG_HOME. Their link there to root's private folder, or ours to a
// folder of theirs, is neither read nor written through, nothing is made behind it, and the refused write is
// not tried again. Their plain folders are used, and what is made in them is theirs.
TEST_F(JsonDefaultsStoreOfAnotherUserTest, TheConfigurationFolderIsCheckedAsTheSettingsFolderIs) {
    const QString home = dir_.filePath("home"), roots = dir_.filePath("root-only"),
                  theirs = dir_.filePath("theirs"), xdg = dir_.filePath("u/.config");
    for (const QString& folder : {home, roots, theirs, xdg.section('/', 0, -2)}) {
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_EQ(::chown(folder.toLocal8Bit(), folder == roots ? 0 : kOther, kOther), 0);
    }
    ASSERT_EQ(::chmod(roots.toLocal8Bit(), 0700), 0);
    const auto held = [](const QString& folder) {
        QStringList found;
        for (QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            found << it.next() + " " + QString::fromStdString(readText(it.filePath().toStdString()));
        found.sort();
        return found.join('\n').toStdString();
    };
    struct Case {
        const char* what;
        std::optional<QString> xdg;
        QString to;
        uid_t linkOwner;
    };
    for (const Case& link : {Case{"their ~/.config to root's folder", std::nullopt, roots, kOther},
                             Case{"their $XDG_CONFIG_HOME to root's folder", xdg, roots, kOther},
                             Case{"our $XDG_CONFIG_HOME to their folder", xdg, theirs, 0}})
        for (const bool settingsFolder : {false, true}) {
            SCOPED_TRACE(std::string(link.what) + (settingsFolder ? ", holding Velaro" : ""));
            logged_.clear();
            const ScopedEnv homeEnv("HOME", home), xdgEnv("XDG_CONFIG_HOME", link.xdg);
            const QString at = link.xdg.value_or(home + "/.config");
            ASSERT_TRUE(QDir(link.to + "/Velaro").removeRecursively());
            if (settingsFolder) {
                ASSERT_TRUE(QDir().mkpath(link.to + "/Velaro"));
                writeText((link.to + "/Velaro/defaults.json").toStdString(), R"({"a": 1})");
            }
            const std::string before = held(link.to);
            plantLink(link.to.toStdString(), at.toStdString(), link.linkOwner);
            {
                JsonDefaultsStore store(loop_, JsonDefaultsStore::standardPath());
                EXPECT_EQ(store.path(), (at + "/Velaro/defaults.json").toStdString());
                EXPECT_EQ(store.persistentDomain(), PlistValue::object()) << "read through the link";
                store.set("b", 2);
                EXPECT_FALSE(store.synchronize());
                loop_.runUntilIdle();
                EXPECT_EQ(loop_.pendingTimers(), 0u) << "the refused write is tried again";
            }
            EXPECT_EQ(refusals(), 1u);
            EXPECT_EQ(held(link.to), before);
            ASSERT_EQ(::unlink(at.toLocal8Bit()), 0);
        }

    // Their plain folders: ~/.config made in their home is theirs, and $XDG_CONFIG_HOME naming it is read.
    const ScopedEnv homeEnv("HOME", home), xdgEnv("XDG_CONFIG_HOME", std::nullopt);
    JsonDefaultsStore(loop_, JsonDefaultsStore::standardPath()).set("c", 3);
    for (const QString made : {"/.config", "/.config/Velaro", "/.config/Velaro/defaults.json"}) {
        struct stat st {};
        ASSERT_EQ(::lstat((home + made).toLocal8Bit(), &st), 0) << made.toStdString();
        EXPECT_EQ(st.st_uid, kOther) << made.toStdString();
    }
    const ScopedEnv theirConfig("XDG_CONFIG_HOME", home + "/.config");
    EXPECT_EQ(JsonDefaultsStore(loop_, JsonDefaultsStore::standardPath()).integerValue("c"), 3);
}

// What the app makes in their folder is theirs, so that their own later runs can open it: the settings
// folder, a new file and the writers' lock. A file of a third user that the app, run as them, replaces cannot
// keep its owner: that is said, and the file is written.
TEST_F(JsonDefaultsStoreOfAnotherUserTest, WhatIsMadeInTheirFolderIsTheirsAndAnOwnerNotKeptIsSaid) {
    const std::string config = dir_.filePath("config").toStdString();
    ASSERT_TRUE(QDir(QString::fromStdString(folder_)).removeRecursively());
    ASSERT_EQ(::chown(config.c_str(), kOther, kOther), 0);
    {
        JsonDefaultsStore store(loop_, path_);
        store.set("a", 1);
        ASSERT_TRUE(store.synchronize());
    }
    for (const std::string& made : {folder_, path_, JsonDefaultsStore::lockPath(path_)}) {
        struct stat st {};
        ASSERT_EQ(::lstat(made.c_str(), &st), 0) << made;
        EXPECT_EQ(st.st_uid, kOther) << made;
        EXPECT_EQ(st.st_mode & 077, 0u) << made;
    }

    constexpr uid_t kThird = 1;
    ASSERT_EQ(::chmod(dir_.path().toLocal8Bit().constData(), 0711), 0);
    ASSERT_EQ(::chown(path_.c_str(), kThird, kThird), 0);
    ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
    {
        // Run as them, for as long as the store lives.
        struct ActingAs {
            ActingAs() { EXPECT_EQ(::seteuid(kOther), 0); }
            ~ActingAs() { EXPECT_EQ(::seteuid(0), 0); }
        } actingAs;
        JsonDefaultsStore store(loop_, path_);
        store.set("b", 2);
        EXPECT_TRUE(store.synchronize());
    }
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}, {"b", 2}}));
    EXPECT_EQ(std::count_if(logged_.begin(), logged_.end(),
                            [](const std::string& line) {
                                return line.find(
                                           "belongs to user 1 and group 1; its new content cannot keep "
                                           "them") != std::string::npos;
                            }),
              1);
}

// Root that cannot give what it makes to them (a container without CAP_CHOWN) leaves nothing of root's in
// their folders: the settings folder, the lock or the new file made for them goes again, the settings stay in
// memory, and that is said once.
TEST_F(JsonDefaultsStoreOfAnotherUserTest, WhatCannotBeGivenToThemIsNotLeftInTheirFolders) {
    const QString config = dir_.filePath("config");
    ASSERT_EQ(::chown(config.toLocal8Bit(), kOther, kOther), 0);
    for (const std::string what : {"no settings folder", "their settings folder", "their file and lock"}) {
        SCOPED_TRACE(what);
        logged_.clear();
        ASSERT_TRUE(QDir(QString::fromStdString(folder_)).removeRecursively());
        if (what != "no settings folder") {
            ASSERT_EQ(::mkdir(folder_.c_str(), 0700), 0);
            ASSERT_EQ(::chown(folder_.c_str(), kOther, kOther), 0);
        }
        if (what == "their file and lock")
            for (const std::string& file : {path_, JsonDefaultsStore::lockPath(path_)}) {
                writeText(file, R"({"a": 1})");
                ASSERT_EQ(::chown(file.c_str(), kOther, kOther), 0);
            }
        const std::string before = ownedTree(config);
        {
            const WithoutChown withoutChown;
            JsonDefaultsStore store(loop_, path_);
            store.set("b", 2);
            EXPECT_FALSE(store.synchronize());
            loop_.advance(60);
            EXPECT_EQ(loop_.pendingTimers(), 0u) << "the refused write is tried again";
            EXPECT_EQ(store.integerValue("b"), 2);
        }
        EXPECT_EQ(ownedTree(config), before);
        EXPECT_EQ(logged("cannot be given to user 65534 (Operation not permitted)"), 1u);
        EXPECT_EQ(logged("the settings are kept in memory and not saved"), 1u);
    }
}

// A folder of root's among their folders (another program run with sudo left ~/.config so): the settings
// folder made in it is theirs, and a settings folder of root's there is neither read nor written.
TEST_F(JsonDefaultsStoreOfAnotherUserTest, AFolderOfRootsAmongTheirsIsPassedOnToThemOrLeftAlone) {
    const QString home = dir_.filePath("home");
    ASSERT_TRUE(QDir().mkpath(home + "/.config"));
    ASSERT_EQ(::chown(home.toLocal8Bit(), kOther, kOther), 0);
    const ScopedEnv homeEnv("HOME", home), xdgEnv("XDG_CONFIG_HOME", std::nullopt);
    const std::string path = JsonDefaultsStore::standardPath();
    {
        JsonDefaultsStore store(loop_, path);
        store.set("a", 1);
        ASSERT_TRUE(store.synchronize());
    }
    const std::string settingsFolder = (home + "/.config/Velaro").toStdString();
    for (const std::string& made : {settingsFolder, path, JsonDefaultsStore::lockPath(path)}) {
        struct stat st {};
        ASSERT_EQ(::lstat(made.c_str(), &st), 0) << made;
        EXPECT_EQ(st.st_uid, kOther) << made;
    }

    ASSERT_EQ(::chown(settingsFolder.c_str(), 0, 0), 0);
    const std::string before = ownedTree(home);
    {
        JsonDefaultsStore store(loop_, path);
        EXPECT_EQ(store.persistentDomain(), PlistValue::object()) << "read in root's folder";
        store.set("b", 2);
        EXPECT_FALSE(store.synchronize());
    }
    EXPECT_EQ(ownedTree(home), before);
    EXPECT_EQ(logged("is in a folder of root's among the folders of user 65534 (" + settingsFolder + ")"),
              1u);
}

// Above the configuration folder every part of the path is looked at too ($XDG_CONFIG_HOME naming a folder
// below their link): their link to root's private folder is not followed, whatever that holds, and nothing is
// made or watched behind it; root's own link is followed.
TEST_F(JsonDefaultsStoreOfAnotherUserTest, ALinkAboveTheConfigurationFolderIsCheckedToo) {
    const QString theirs = dir_.filePath("u"), roots = dir_.filePath("root-only");
    ASSERT_TRUE(QDir().mkpath(theirs));
    ASSERT_EQ(::chown(theirs.toLocal8Bit(), kOther, kOther), 0);
    plantLink(roots.toStdString(), (theirs + "/up").toStdString(), kOther);
    const ScopedEnv xdgEnv("XDG_CONFIG_HOME", theirs + "/up/cfg");
    for (const bool holding : {true, false}) {
        SCOPED_TRACE(holding ? "holding a settings file" : "empty");
        logged_.clear();
        ASSERT_TRUE(QDir(roots).removeRecursively() && QDir().mkpath(roots + "/cfg/Velaro"));
        ASSERT_EQ(::chmod(roots.toLocal8Bit(), 0700), 0);
        if (holding) writeText((roots + "/cfg/Velaro/defaults.json").toStdString(), R"({"root": true})");
        if (!holding) {
            ASSERT_TRUE(QDir(roots + "/cfg").removeRecursively());
        }
        const std::string before = ownedTree(roots);
        {
            JsonDefaultsStore store(loop_, JsonDefaultsStore::standardPath());
            EXPECT_EQ(store.persistentDomain(), PlistValue::object()) << "read through the link";
            store.watchForOutsideEdits();
            for (const QString& behind : {roots + "/cfg/Velaro", roots + "/cfg/Velaro/defaults.json"}) {
                struct stat st {};
                if (::stat(behind.toLocal8Bit().constData(), &st) == 0)
                    EXPECT_FALSE(watchedInodes().contains(st.st_ino)) << behind.toStdString();
            }
            store.set("b", 2);
            EXPECT_FALSE(store.synchronize());
        }
        EXPECT_EQ(ownedTree(roots), before);
        EXPECT_EQ(logged("leads through a link of another user (" + (theirs + "/up").toStdString() + ")"),
                  1u);
    }

    ASSERT_EQ(::unlink((theirs + "/up").toLocal8Bit()), 0);
    plantLink(roots.toStdString(), (theirs + "/up").toStdString(), 0);
    JsonDefaultsStore(loop_, JsonDefaultsStore::standardPath()).set("c", 3);
    EXPECT_EQ(PlistValue::parse(readText((roots + "/cfg/Velaro/defaults.json").toStdString())),
              (PlistValue{{"c", 3}}));
}

// Through its own interface, run as a user: root's links above the configuration folder are followed (the
// system's own, as /home leading elsewhere), a third user's are not.
TEST_F(JsonDefaultsStoreOfAnotherUserTest, AboveTheConfigurationFolderRootsLinksAreFollowedAndOthersAreNot) {
    ASSERT_EQ(::chmod(dir_.path().toLocal8Bit().constData(), 0711), 0);
    const std::string real = dir_.filePath("real").toStdString();
    ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
    ASSERT_EQ(::chown(real.c_str(), kOther, kOther), 0);
    const std::string system = dir_.filePath("system").toStdString(),
                      third = dir_.filePath("third").toStdString();
    plantLink(real, system, 0);
    plantLink(real, third, 1);
    ASSERT_EQ(::seteuid(kOther), 0);
    const auto found = defaults::findGuarded(system + "/.config/Velaro/defaults.json", true);
    const auto refused = defaults::findGuarded(third + "/.config/Velaro/defaults.json", false);
    ASSERT_EQ(::seteuid(0), 0);
    ASSERT_TRUE(found.fileFolder) << found.refusal << found.failure;
    EXPECT_TRUE(QFileInfo(QString::fromStdString(real + "/.config/Velaro")).isDir());
    EXPECT_EQ(refused.refusal, "leads through a link of another user (" + third + ")");
}

// Run as a user whose settings folder or file a run as root left root's: what it holds is the user's, so it
// is neither set aside nor written over. The store starts from its defaults (or the file it could read), says
// once whose it is and the command that gives it back, and tries again later without another word; once it is
// given back, the file's settings come in, the changes go out, and that is said once. A folder that can be
// read but not written in is said the same way when a write fails.
TEST_F(JsonDefaultsStoreOfAnotherUserTest, ASettingsFolderOrFileLeftRootsIsLeftAsItIsAndSaidOnce) {
    ASSERT_EQ(::chmod(dir_.path().toLocal8Bit().constData(), 0711), 0);
    ASSERT_EQ(::chown(dir_.filePath("config").toLocal8Bit().constData(), kOther, kOther), 0);
    const std::string file = R"({"onboardingStep": 4, "a": 1})";
    const std::string folder = "the folder " + folder_, theFile = "the file " + path_;
    struct Case {
        uid_t folderOwner;
        mode_t folderMode;
        uid_t fileOwner;
        std::string closed;  // what is said to be closed
    };
    for (const Case& c : {Case{0, 0700, 0, folder}, Case{0, 0755, 0, theFile}, Case{kOther, 0700, 0, theFile},
                          Case{0, 0755, kOther, folder}}) {
        SCOPED_TRACE(c.closed + " (the file of user " + std::to_string(c.fileOwner) + ")");
        logged_.clear();
        QFile::remove(QString::fromStdString(JsonDefaultsStore::lockPath(path_)));
        writeText(path_, file);
        ASSERT_TRUE(::chown(path_.c_str(), c.fileOwner, c.fileOwner) == 0 &&
                    ::chmod(path_.c_str(), 0600) == 0 &&
                    ::chown(folder_.c_str(), c.folderOwner, c.folderOwner) == 0 &&
                    ::chmod(folder_.c_str(), c.folderMode) == 0);
        ASSERT_EQ(::seteuid(kOther), 0);
        auto store = std::make_unique<JsonDefaultsStore>(loop_, path_);
        EXPECT_EQ(store->integerValue("a").has_value(), c.fileOwner == kOther);
        store->set("b", 2);
        loop_.runUntilIdle();
        loop_.advance(120);
        ASSERT_EQ(::seteuid(0), 0);
        struct stat st {};
        EXPECT_TRUE(::lstat(path_.c_str(), &st) == 0 && st.st_uid == c.fileOwner && readText(path_) == file)
            << "written over or moved aside";
        // Given back as the line says.
        for (const std::string& given : {folder_, path_, JsonDefaultsStore::lockPath(path_)})
            ::lchown(given.c_str(), kOther, kOther);
        ASSERT_EQ(::seteuid(kOther), 0);
        loop_.advance(30);
        EXPECT_EQ(store->integerValue("a"), 1);
        store.reset();
        ASSERT_EQ(::seteuid(0), 0);
        EXPECT_EQ(fileJson(), (PlistValue{{"onboardingStep", 4}, {"a", 1}, {"b", 2}}));
        const std::string said = c.closed +
                                 " belongs to root (Permission denied); to give it back: sudo chown -R " +
                                 getpwuid(kOther)->pw_name + ": '" + folder_ + "'";
        EXPECT_EQ(std::count_if(logged_.begin(), logged_.end(),
                                [&](const std::string& line) {
                                    return line.ends_with(said) && !line.starts_with("DEFAULTS still ");
                                }),
                  1)
            << said;
        EXPECT_GE(logged("DEFAULTS still cannot write "), 1u) << "tried again";
        EXPECT_EQ(logged(" is written again; saving resumed"), 1u);
    }
}

TEST_F(GuardedPathTest, AConfigurationKeptElsewhereThroughTheUsersOwnLinksStaysThere) {
    // Users who keep their configuration in one managed folder link it into place: ~/.config, the settings
    // folder or the file, one of them or all.
    const QString dotfiles = dir_.filePath("dotfiles");
    ASSERT_TRUE(QDir().mkpath(dotfiles + "/config") && QDir().mkpath(dotfiles + "/velaro"));
    const std::string target = (dotfiles + "/defaults.json").toStdString();
    writeText(target, R"({"a": 1})");
    const ScopedEnv home("HOME", dir_.path()), config("XDG_CONFIG_HOME", std::nullopt);
    path_ = JsonDefaultsStore::standardPath();
    ASSERT_EQ(path_, dir_.filePath(".config/Velaro/defaults.json").toStdString());
    ASSERT_EQ(::symlink("dotfiles/config", dir_.filePath(".config").toLocal8Bit()), 0);
    ASSERT_EQ(::symlink("../velaro", (dotfiles + "/config/Velaro").toLocal8Bit()), 0);
    ASSERT_EQ(::symlink(target.c_str(), (dotfiles + "/velaro/defaults.json").toLocal8Bit()), 0);
    JsonDefaultsStore store(loop_, path_);
    EXPECT_EQ(store.integerValue("a"), 1);
    store.set("b", 2);
    ASSERT_TRUE(store.synchronize());
    EXPECT_TRUE(QFileInfo(QString::fromStdString(path_)).isSymLink());
    EXPECT_EQ(PlistValue::parse(readText(target)), (PlistValue{{"a", 1}, {"b", 2}}));
}

// Through its own interface: folders missing on the way are made only when asked, private to the user; the
// user's own chain of links leads to the file's real folder and name; a chain longer than the kernel follows
// is refused, and a plain file where a folder should be is a failure, said with its path.
TEST_F(GuardedPathTest, FindsTheFileThroughTheUsersOwnLinksAndMakesOnlyWhatIsAskedFor) {
    using defaults::findGuarded;
    auto found = findGuarded(path_, false);
    EXPECT_FALSE(found.folder);
    EXPECT_TRUE(found.refusal.empty() && found.failure.empty());
    EXPECT_FALSE(exists(dir_.filePath("config").toStdString()));

    found = findGuarded(path_, true);
    ASSERT_TRUE(found.fileFolder) << found.failure;
    EXPECT_EQ(found.folder->path, dir_.filePath("config/Velaro").toStdString());
    EXPECT_EQ(found.name, "defaults.json");
    struct stat st {};
    ASSERT_EQ(::stat(dir_.filePath("config/Velaro").toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const QString elsewhere = dir_.filePath("elsewhere");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    ASSERT_EQ(::symlink("step", path_.c_str()), 0);
    ASSERT_EQ(::symlink((elsewhere + "/real.json").toLocal8Bit().constData(),
                        dir_.filePath("config/Velaro/step").toLocal8Bit().constData()),
              0);
    found = findGuarded(path_, false);
    ASSERT_TRUE(found.fileFolder) << found.refusal << found.failure;
    EXPECT_EQ(found.fileFolder->path, elsewhere.toStdString());
    EXPECT_EQ(found.name, "real.json");

    ASSERT_EQ(::unlink(path_.c_str()), 0);
    ASSERT_EQ(::symlink("defaults.json", path_.c_str()), 0);
    EXPECT_EQ(findGuarded(path_, false).refusal, "is a chain of links too long to follow");

    const std::string blocked = dir_.filePath("blocked/Velaro/defaults.json").toStdString();
    writeText(dir_.filePath("blocked").toStdString(), "in the way");
    found = findGuarded(blocked, true);
    EXPECT_FALSE(found.folder);
    EXPECT_EQ(found.failure, "cannot open " + dir_.filePath("blocked").toStdString() + ": Not a directory");
}

TEST(JsonDefaultsStorePath, FollowsXdgConfigHome) {
    const ScopedEnv restored("XDG_CONFIG_HOME", "/custom/config");
    EXPECT_EQ(JsonDefaultsStore::standardPath(), "/custom/config/Velaro/defaults.json");
    const std::string home = QDir::homePath().toStdString();
    for (const char* value : {"", "relative/dir"}) {
        qputenv("XDG_CONFIG_HOME", value);
        EXPECT_EQ(JsonDefaultsStore::standardPath(), home + "/.config/Velaro/defaults.json") << value;
    }
}

}  // namespace
}  // namespace velaro::test
