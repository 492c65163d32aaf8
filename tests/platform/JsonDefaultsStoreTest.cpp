// The JSON defaults file: its format, coalesced atomic writes, corrupt files, outside edits, failed writes.
#include "platform/linux/JsonDefaultsStore.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <cmath>
#include <fstream>
#include <sstream>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Log.h"
#include "support/VirtualLoop.h"

namespace velaro::test {
namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Sets an environment variable, or unsets it (nothing), for as long as it lives.
struct ScopedEnv {
    ScopedEnv(const char* name, const std::optional<QString>& value)
        : name(name), saved(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt) {
        value ? qputenv(name, value->toLocal8Bit()) : qunsetenv(name);
    }
    ~ScopedEnv() { saved ? qputenv(name, *saved) : qunsetenv(name); }
    ScopedEnv(const ScopedEnv&) = delete;
    const char* name;
    std::optional<QByteArray> saved;
};

// Real time as the store's blocking writes see it, moved on the test's loop: a wait for the lock takes all it
// is given unless the lock is free by then, and `during` runs in every wait (an editor going on writing).
class LoopWaits final : public JsonDefaultsStore::BlockingWaits {
public:
    explicit LoopWaits(VirtualLoop& loop) : loop_(loop) {}
    double now() override { return loop_.uptime(); }
    void pause(double seconds) override {
        if (during) during();
        loop_.advance(seconds);
    }
    int lock(const std::string& lockFile, double seconds) override {
        lockWaits.push_back(seconds);
        pause(seconds);
        const int fd = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
        if (fd >= 0) ::close(fd);
        return -1;
    }

    std::function<void()> during;
    std::vector<double> lockWaits;

private:
    VirtualLoop& loop_;
};

// Waits that pass without moving the test's loop: for stores that start on a file that stays broken, which
// the load reads again for half a second before it sets it aside.
class PassingWaits final : public JsonDefaultsStore::BlockingWaits {
public:
    double now() override { return now_; }
    void pause(double seconds) override { now_ += seconds; }
    int lock(const std::string&, double) override { return -1; }

private:
    double now_ = 0;
};

class JsonDefaultsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        path_ = dir_.filePath("config/Velaro/defaults.json").toStdString();
        // A fixed wall time makes the name of a set-aside file predictable.
        loop_.setWallTimeOrigin(
            std::chrono::system_clock::from_time_t(1796630400));  // 2026-12-07 08:00:00 UTC
        previousSink_ = setLogSink([this](std::string_view tag, std::string_view message) {
            logged_.push_back(std::string(tag) + " " + std::string(message));
        });
    }
    void TearDown() override { setLogSink(previousSink_); }

    void writeFile(const std::string& text) {
        QDir().mkpath(QString::fromStdString(path_).section('/', 0, -2));
        writeText(path_, text);
    }
    PlistValue fileJson() { return PlistValue::parse(readText(path_)); }
    // Whether changes wait to be written: a flush writes only those, so with none it leaves even a removed
    // file absent. The file is put back as it was.
    bool writesPending(JsonDefaultsStore& store) {
        const bool existed = exists(path_);
        const std::string kept = existed ? readText(path_) : std::string();
        QFile::remove(QString::fromStdString(path_));
        store.flush();
        const bool wrote = exists(path_);
        if (!wrote && existed) writeText(path_, kept);
        return wrote;
    }
    std::string asidePath() const { return path_ + ".corrupt-20261207T080000Z"; }
    bool loggedWithTag() const {
        for (const auto& line : logged_)
            if (line.rfind("DEFAULTS ", 0) == 0) return true;
        return false;
    }

    QTemporaryDir dir_;
    std::string path_;
    VirtualLoop loop_;
    PassingWaits brokenStart_;
    std::vector<std::string> logged_;
    LogSink previousSink_;
};

TEST_F(JsonDefaultsStoreTest, EveryKindRoundTripsThroughTheFileWithItsKind) {
    const Bytes blob{0, 1, 2, 0xff};
    {
        JsonDefaultsStore store(loop_, path_);
        store.set("bool", false);
        store.set("int", 42);
        store.set("double", 1.0);
        store.set("string", "Liquid Glass");
        store.set("data", plistData(blob));
        store.set("list", {"#FF6F62", "#FF699C"});
        store.set("dict", {{"nested", plistData({7})}, {"n", 2.5}});
        ASSERT_TRUE(store.synchronize());
    }
    const std::string text = readText(path_);
    EXPECT_NE(text.find("\"double\": 1.0"), std::string::npos) << text;
    EXPECT_NE(text.find("\"data\": {\n    \"$data\": \"AAEC/w==\"\n  }"), std::string::npos) << text;

    JsonDefaultsStore reread(loop_, path_);
    EXPECT_EQ(reread.boolValue("bool"), false);
    EXPECT_TRUE(reread.object("int").is_number_integer());
    EXPECT_FALSE(reread.object("int").is_number_unsigned());
    EXPECT_EQ(reread.integerValue("int"), 42);
    EXPECT_TRUE(reread.object("double").is_number_float());
    EXPECT_EQ(reread.doubleValue("double"), 1.0);
    EXPECT_EQ(reread.stringValue("string"), "Liquid Glass");
    EXPECT_EQ(reread.dataValue("data"), blob);
    EXPECT_EQ(reread.stringArrayValue("list"), (std::vector<std::string>{"#FF6F62", "#FF699C"}));
    const auto dict = reread.dictionaryValue("dict");
    ASSERT_TRUE(dict);
    EXPECT_TRUE((*dict)["nested"].is_binary());
    EXPECT_EQ(reread.persistentDomain().size(), 7u);
}

// New files and folders are the user's alone; a file that is there keeps the mode it was given, as a careful
// saver leaves it.
TEST_F(JsonDefaultsStoreTest, FileAndNewDirectoriesArePrivateToTheUser) {
    JsonDefaultsStore store(loop_, path_);
    store.set("masterEnabled", true);
    ASSERT_TRUE(store.synchronize());
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(dir_.filePath("config/Velaro").toStdString().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ::chmod(path_.c_str(), 0640);
    store.set("masterEnabled", false);
    ASSERT_TRUE(store.synchronize());
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Links planted by another user in the settings folder (the app run as root with that user's folder, as sudo
// -E does) are neither followed nor replaced: the file or folder they point to is left as it was, nothing is
// written, and the log says so once. The user's own file there keeps its owner and mode when replaced.
// Files of another user can only be made by root: the test runs as root (as CI does) or is skipped.
class JsonDefaultsStoreOfAnotherUserTest : public JsonDefaultsStoreTest {
protected:
    static constexpr uid_t kOther = 65534;  // nobody
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "making files of another user needs root";
        JsonDefaultsStoreTest::SetUp();
        folder_ = dir_.filePath("config/Velaro").toStdString();
        QDir().mkpath(QString::fromStdString(folder_));
        ASSERT_EQ(::chown(folder_.c_str(), kOther, kOther), 0);
    }
    // A link at `at` to `to`, owned by `owner`.
    static void plantLink(const std::string& to, const std::string& at, uid_t owner) {
        ASSERT_EQ(::symlink(to.c_str(), at.c_str()), 0);
        ASSERT_EQ(::lchown(at.c_str(), owner, owner), 0);
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

TEST_F(JsonDefaultsStoreTest, RegisteredFallbacksAreNeverWritten) {
    JsonDefaultsStore store(loop_, path_);
    store.registerDefaults({{"vizStyle", "bars"}, {"liveCaptureFPS", 15}});
    store.set("overlayOpacity", 0.5);
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(fileJson(), (PlistValue{{"overlayOpacity", 0.5}}));
    EXPECT_EQ(store.stringValue("vizStyle"), "bars");
}

TEST_F(JsonDefaultsStoreTest, ChangesOfOneTurnGoOutInOneWriteOnTheNextTurn) {
    JsonDefaultsStore store(loop_, path_);
    for (int i = 0; i < 50; ++i) store.set("key" + std::to_string(i % 10), i);
    store.remove("key0");
    EXPECT_FALSE(exists(path_)) << "written before the loop turned";
    EXPECT_EQ(loop_.pendingPosts(), 1u);
    loop_.runUntilIdle();
    const auto written = fileJson();
    EXPECT_EQ(written.size(), 9u);
    EXPECT_EQ(written["key9"], 49);
    EXPECT_FALSE(writesPending(store));

    // Storing what is already stored, or removing what is not there, writes nothing.
    store.set("key9", 49);
    store.remove("key0");
    EXPECT_EQ(loop_.pendingPosts(), 0u);
    EXPECT_FALSE(writesPending(store));
}

TEST_F(JsonDefaultsStoreTest, HeldChangesWaitAndGoOutTogetherOnTheTurnAfterTheRelease) {
    // Released normally, flushed while held, and the store gone while held: the changes reach the file.
    for (const std::string end : {"release", "flush", "destroy"}) {
        SCOPED_TRACE(end);
        QFile::remove(QString::fromStdString(path_));
        auto store = std::make_unique<JsonDefaultsStore>(loop_, path_);
        store->holdWrites();
        store->set("overlayColorZones", 5);
        store->set("liveCaptureFPS", 30);
        loop_.runUntilIdle();
        EXPECT_FALSE(exists(path_)) << "written while held";
        if (end == "release") {
            store->releaseWrites();
            EXPECT_FALSE(exists(path_)) << "the release itself writes nothing";
            EXPECT_EQ(loop_.pendingPosts(), 1u);
            loop_.runUntilIdle();
        } else if (end == "flush") {
            EXPECT_TRUE(store->flush());
        } else {
            store.reset();
        }
        EXPECT_EQ(fileJson(), (PlistValue{{"overlayColorZones", 5}, {"liveCaptureFPS", 30}}));
        if (!store) continue;
        // Once released, changes go out on the next turn again.
        store->releaseWrites();
        store->set("liveCaptureFPS", 60);
        EXPECT_EQ(loop_.pendingPosts(), 1u);
        loop_.runUntilIdle();
        EXPECT_EQ(fileJson()["liveCaptureFPS"], 60);
    }
}

TEST_F(JsonDefaultsStoreTest, PendingChangesAreWrittenWhenTheStoreGoesAway) {
    {
        JsonDefaultsStore store(loop_, path_);
        store.set("showDockIcon", true);
    }
    EXPECT_EQ(fileJson(), (PlistValue{{"showDockIcon", true}}));
    loop_.runUntilIdle();  // the posted write of the destroyed store must not run
}

TEST_F(JsonDefaultsStoreTest, WritesReplaceTheFileWholeAndLeaveNoTemporaryFiles) {
    JsonDefaultsStore store(loop_, path_);
    store.set("a", 1);
    ASSERT_TRUE(store.synchronize());
    struct stat before {
    }, after{};
    ASSERT_EQ(::stat(path_.c_str(), &before), 0);
    store.set("a", 2);
    ASSERT_TRUE(store.synchronize());
    ASSERT_EQ(::stat(path_.c_str(), &after), 0);
    // A new inode: the new file was renamed over the old one, never rewritten in place.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(QDir(dir_.filePath("config/Velaro")).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"defaults.json", "defaults.json.lock"}));
}

TEST_F(JsonDefaultsStoreTest, AConfigurationKeptElsewhereThroughTheUsersOwnLinksStaysThere) {
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

TEST_F(JsonDefaultsStoreTest, CorruptFilesAreSetAsideAndTheStoreStartsEmpty) {
    const std::vector<std::string> contents{
        "",
        "{\"masterEnabled\": tru",
        "[1, 2, 3]",
        "\"just text\"",
        "{\"name\": \"\xff\xfe bad utf-8\"}",
        std::string(200000, '[') + std::string(200000, ']'),
        "{\"a\": " + std::string(100000, '{') + std::string(100000, '}') + "}",
        // Well-formed, but more than the main thread reads and parses without a visible stall.
        "{\"k\": \"" + std::string(1 << 20, 'x') + "\"}",
    };
    for (const auto& content : contents) {
        SCOPED_TRACE(content.substr(0, 40));
        QFile::remove(QString::fromStdString(asidePath()));
        logged_.clear();
        writeFile(content);
        JsonDefaultsStore store(loop_, path_, &brokenStart_);
        EXPECT_EQ(store.persistentDomain(), PlistValue::object());
        EXPECT_FALSE(exists(path_));
        EXPECT_EQ(readText(asidePath()), content);
        EXPECT_TRUE(loggedWithTag());

        // The next write starts a fresh file and leaves the set-aside one alone.
        store.set("k", 1);
        ASSERT_TRUE(store.synchronize());
        EXPECT_EQ(fileJson(), (PlistValue{{"k", 1}}));
        EXPECT_EQ(readText(asidePath()), content);
        QFile::remove(QString::fromStdString(path_));
    }
}

TEST_F(JsonDefaultsStoreTest, SettingAsideNeverOverwritesAnEarlierSetAsideFile) {
    writeFile("not json");
    { JsonDefaultsStore store(loop_, path_, &brokenStart_); }
    writeFile("not json either");
    { JsonDefaultsStore store(loop_, path_, &brokenStart_); }
    EXPECT_EQ(readText(asidePath()), "not json");
    EXPECT_EQ(readText(asidePath() + "-2"), "not json either");
}

// A FIFO would block open() and read() for good, and a directory or a huge file is not ours to read:
// each is moved aside, whether it is there at start-up or turns up while the app runs, and never replaced.
TEST_F(JsonDefaultsStoreTest, APathThatIsNoRegularOrUsableFileIsSetAsideNeverOverwritten) {
    enum class Kind { fifo, directory, oversized };
    const auto make = [&](Kind kind) {
        QDir().mkpath(QString::fromStdString(path_).section('/', 0, -2));
        switch (kind) {
            case Kind::fifo:
                return ::mkfifo(path_.c_str(), 0600) == 0;
            case Kind::directory:
                return QDir().mkpath(QString::fromStdString(path_));
            case Kind::oversized:
                // Sparse: larger than any settings file without filling the disk.
                writeText(path_, "{\"a\": 1}");
                return ::truncate(path_.c_str(), 65LL * 1024 * 1024) == 0;
        }
        return false;
    };
    const auto isKind = [](const std::string& path, Kind kind) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return false;
        switch (kind) {
            case Kind::fifo:
                return S_ISFIFO(st.st_mode);
            case Kind::directory:
                return S_ISDIR(st.st_mode);
            case Kind::oversized:
                return S_ISREG(st.st_mode) && st.st_size == 65LL * 1024 * 1024;
        }
        return false;
    };
    for (const Kind kind : {Kind::fifo, Kind::directory, Kind::oversized}) {
        SCOPED_TRACE(static_cast<int>(kind));
        for (const bool atStart : {true, false}) {
            SCOPED_TRACE(atStart ? "there at start-up" : "appears while running");
            QDir(dir_.filePath("config")).removeRecursively();
            logged_.clear();
            if (atStart) {
                ASSERT_TRUE(make(kind));
            }
            JsonDefaultsStore store(loop_, path_);
            EXPECT_EQ(store.persistentDomain(), PlistValue::object());
            if (!atStart) {
                ASSERT_TRUE(make(kind));
            }
            store.set("k", true);
            ASSERT_TRUE(store.synchronize());
            EXPECT_TRUE(isKind(asidePath(), kind)) << "moved aside as it was";
            EXPECT_EQ(fileJson(), (PlistValue{{"k", true}}));
            EXPECT_TRUE(loggedWithTag());
        }
    }
}

TEST_F(JsonDefaultsStoreTest, UnusableEntriesAreSkippedAndTheRestLoads) {
    writeFile(R"({"ok": 1, "nothing": null, "wide": 123456789012345678901234567890,
                 "notBase64": {"$data": "%%%"}, "notString": {"$data": 5},
                 "unsigned": 18446744073709551615, "exactInt": 9223372036854775807})");
    JsonDefaultsStore store(loop_, path_);
    EXPECT_FALSE(exists(asidePath()));
    EXPECT_EQ(store.integerValue("ok"), 1);
    EXPECT_FALSE(store.hasStoredValue("nothing"));
    EXPECT_DOUBLE_EQ(*store.doubleValue("wide"), 1.2345678901234568e+29);
    // A "$data" that is not base64 stays the dictionary it is; as data it is absent.
    EXPECT_EQ(store.dataValue("notBase64"), std::nullopt);
    EXPECT_EQ(store.object("notBase64"), (PlistValue{{"$data", "%%%"}}));
    EXPECT_EQ(store.dataValue("notString"), std::nullopt);
    EXPECT_EQ(store.integerValue("unsigned"), std::nullopt);
    EXPECT_EQ(store.integerValue("exactInt"), 9223372036854775807);
    EXPECT_TRUE(loggedWithTag());
}

// A number that is not finite costs only the key that holds it, wherever it sits in that key's value.
TEST_F(JsonDefaultsStoreTest, ANonFiniteNumberDropsItsKeyNotTheFile) {
    writeFile(R"({"big": 1e400, "ok": 1, "negative": -1E+999, "nan": NaN, "inf": Infinity,
                 "minusInf": -Infinity, "nested": {"list": [1, {"deep": nan}]}, "tiny": 1e-400,
                 "words": "NaN 1e400 Infinity", "escaped \" NaN": 2, "last": [0.5, 1e309]})");
    JsonDefaultsStore store(loop_, path_);
    EXPECT_FALSE(exists(asidePath()));
    const PlistValue expected{
        {"ok", 1}, {"tiny", 0.0}, {"words", "NaN 1e400 Infinity"}, {"escaped \" NaN", 2}};
    EXPECT_EQ(store.persistentDomain(), expected);
    for (const char* key : {"big", "negative", "nan", "inf", "minusInf", "nested", "last"}) {
        SCOPED_TRACE(key);
        EXPECT_NE(std::find(logged_.begin(), logged_.end(),
                            "DEFAULTS ignoring unusable value of \"" + std::string(key) + "\" in " + path_),
                  logged_.end());
    }
    // The same rule for a file that is not an object: still not a defaults file.
    std::string error;
    EXPECT_FALSE(decodeDefaultsFile("[NaN]", &error));
    EXPECT_FALSE(decodeDefaultsFile("1e400", &error));
    EXPECT_FALSE(decodeDefaultsFile(R"({"a": NaNa})", &error)) << "an unknown word is a syntax error";
}

TEST_F(JsonDefaultsStoreTest, ValuesWithoutAJsonFormDoNotBreakTheFile) {
    JsonDefaultsStore store(loop_, path_);
    store.set("opacity", 0.5);
    store.set("opacity", std::nan(""));
    store.set("list", {1.0, INFINITY});
    EXPECT_EQ(store.doubleValue("opacity"), 0.5);
    EXPECT_FALSE(store.hasStoredValue("list"));
    EXPECT_TRUE(loggedWithTag());

    store.set("\xff key", "caf\xc3\xa9 \xff");
    ASSERT_TRUE(store.synchronize());
    JsonDefaultsStore reread(loop_, path_);
    EXPECT_EQ(reread.doubleValue("opacity"), 0.5);
    EXPECT_EQ(reread.stringValue("\xef\xbf\xbd key"), "caf\xc3\xa9 \xef\xbf\xbd");
}

TEST_F(JsonDefaultsStoreTest, OutsideEditsSurviveOurNextWrite) {
    writeFile(R"({"ours": 1, "theirs": 1, "removedOutside": 1, "removedByUs": 1})");
    JsonDefaultsStore store(loop_, path_);
    // Another process rewrites the file while we run.
    writeFile(R"({"ours": 2, "theirs": 2, "removedByUs": 2, "addedOutside": {"$data": "AQI="}})");
    store.set("ours", 10);
    store.remove("removedByUs");
    store.set("new", true);
    loop_.runUntilIdle();

    const PlistValue expected{
        {"ours", 10}, {"theirs", 2}, {"new", true}, {"addedOutside", plistData({1, 2})}};
    EXPECT_EQ(store.persistentDomain(), expected);
    JsonDefaultsStore reread(loop_, path_);
    EXPECT_EQ(reread.persistentDomain(), expected);

    // Keys we changed win only until written: a later outside edit of "ours" is taken in too.
    writeFile(R"({"ours": 20, "theirs": 2, "new": true, "addedOutside": 3})");
    store.set("other", 1);
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(fileJson()["ours"], 20);
    EXPECT_EQ(store.integerValue("addedOutside"), 3);
}

TEST_F(JsonDefaultsStoreTest, AnOutsideEditWithTheSameSizeAndTimeIsStillSeen) {
    writeFile(R"({"a": 1, "b": 1})");
    JsonDefaultsStore store(loop_, path_);
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    writeFile(R"({"a": 1, "b": 7})");
    // Put the old modification time back: only the content tells the file changed.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
    store.set("a", 2);
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 2}, {"b", 7}}));
}

TEST_F(JsonDefaultsStoreTest, AFileGarbledFromOutsideIsSetAsideBeforeWeWrite) {
    writeFile(R"({"a": 1})");
    LoopWaits waits(loop_);
    JsonDefaultsStore store(loop_, path_);
    store.setBlockingWaits(&waits);
    writeFile("{ garbage");
    store.set("b", 2);
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(readText(asidePath()), "{ garbage");
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}, {"b", 2}}));
}

// An editor that saves in place empties the file and then writes it: a write of ours that finds it empty
// or cut short waits for the save and merges what it left, while a file that stays broken for the whole wait
// is set aside as a corrupt one.
TEST_F(JsonDefaultsStoreTest, AFileCaughtMidSaveIsWaitedForThenMerged) {
    writeFile(R"({"a": 1})");
    JsonDefaultsStore store(loop_, path_);
    int n = 0;
    for (const std::string midSave : {"", R"({"a": 1, "the)"}) {
        SCOPED_TRACE(midSave);
        writeText(path_, midSave);
        store.set("ours", ++n);
        loop_.runUntilIdle();
        loop_.advance(0.3);
        EXPECT_EQ(readText(path_), midSave) << "the editor's file is left to it while it saves";
        writeText(path_, R"({"a": 1, "theirs": )" + std::to_string(n) + "}");
        loop_.advance(0.05);
        EXPECT_FALSE(writesPending(store));
        EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}, {"theirs", n}, {"ours", n}}));
    }
    EXPECT_FALSE(exists(asidePath()));

    // A save that goes on (or one save after another) is waited for as long as the file keeps changing.
    writeText(path_, "");
    store.set("ours", 3);
    loop_.runUntilIdle();
    for (const std::string midSave : {R"({"a": 1, )", R"({"a": 1, "theirs": )"}) {
        loop_.advance(0.3);
        writeText(path_, midSave);
    }
    loop_.advance(0.3);
    writeText(path_, R"({"a": 1, "theirs": 3})");
    loop_.advance(0.05);
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}, {"theirs", 3}, {"ours", 3}}));
    EXPECT_FALSE(exists(asidePath()));
    EXPECT_FALSE(loggedWithTag());

    writeText(path_, "{ garbage");
    store.set("later", true);
    loop_.runUntilIdle();
    loop_.advance(0.45);
    EXPECT_FALSE(exists(path_ + ".corrupt-20261207T080002Z"));
    loop_.advance(0.1);
    EXPECT_EQ(readText(path_ + ".corrupt-20261207T080002Z"), "{ garbage") << "a second and a bit later";
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}, {"theirs", 3}, {"ours", 3}, {"later", true}}));
}

// An editor saving the file in place as the app starts, or while it runs: found empty or cut short, the file
// is read again until it reads whole, and the user's settings are kept. At start-up only a file still found
// mid-save after half a second is set aside; while the app runs, a file that stays broken for half a second
// is reported once, and a program rewriting it without pause once for the whole spell, with how often it was
// found so.
TEST_F(JsonDefaultsStoreTest, AFileFoundMidSaveIsReadAgainUntilItReadsWhole) {
    const std::string whole = R"({"user": 1, "appShortcuts": ["Ctrl+Alt+O"]})";
    LoopWaits startWaits(loop_);
    for (const std::string& midSave : {std::string(), whole.substr(0, 12)}) {
        SCOPED_TRACE(midSave);
        writeFile(midSave);
        startWaits.during = [&] { writeText(path_, whole); };
        JsonDefaultsStore store(loop_, path_, &startWaits);
        EXPECT_EQ(store.integerValue("user"), 1);
    }
    int saves = 0;
    writeFile(whole.substr(0, 1));
    startWaits.during = [&] { writeText(path_, whole.substr(0, 1 + ++saves % 20)); };
    const double start = loop_.uptime();
    {
        JsonDefaultsStore store(loop_, path_, &startWaits);
        EXPECT_EQ(store.persistentDomain(), PlistValue::object());
    }
    EXPECT_NEAR(loop_.uptime() - start, 0.5, 0.03);
    EXPECT_TRUE(exists(asidePath()));
    ASSERT_EQ(logged_.size(), 1u);
    startWaits.during = nullptr;
    logged_.clear();

    writeFile(whole);
    JsonDefaultsStore store(loop_, path_);
    writeText(path_, whole.substr(0, 12));
    store.takeInOutsideEdits();
    loop_.advance(0.01);
    writeText(path_, R"({"user": 2})");
    loop_.advance(0.02);
    EXPECT_EQ(store.integerValue("user"), 2) << "looked at again";
    for (int i = 0; i < 100; ++i) {
        writeText(path_, whole.substr(0, 2 + i % 10));
        store.takeInOutsideEdits();
        loop_.advance(0.01);
    }
    writeText(path_, R"({"user": 3})");
    store.takeInOutsideEdits();
    writeText(path_, "{ broken");
    store.takeInOutsideEdits();
    loop_.advance(0.45);
    EXPECT_EQ(logged_.size(), 1u) << "reported once it stayed broken for half a second";
    loop_.advance(1);
    EXPECT_EQ(store.integerValue("user"), 3);
    ASSERT_EQ(logged_.size(), 2u);
    EXPECT_NE(logged_[0].find("keeps being rewritten: found half written 5"), std::string::npos)
        << logged_[0];
    EXPECT_NE(logged_[1].find("was edited into something that is not a defaults file"), std::string::npos);
}

// Our own file always reads back. One the user saved just under the size limit, which laid out our way would
// pass it, is written on one line; settings that would pass it however written are not written at all (said
// once; the file stays as it is and the change in memory, written once another change makes it fit).
TEST_F(JsonDefaultsStoreTest, OurOwnFileIsNeverTooLargeToReadBack) {
    PlistValue users = PlistValue::object();
    for (int i = 0; i < 9200; ++i) users["key." + std::to_string(i)] = std::string(100, 'x');
    const std::string compact = users.dump();
    ASSERT_LT(compact.size(), 1024u * 1024);
    ASSERT_GT(encodeDefaultsFile(users).size(), 1024u * 1024);
    writeFile(compact);
    JsonDefaultsStore store(loop_, path_);
    store.set("ours", true);
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(JsonDefaultsStore(loop_, path_).persistentDomain().size(), 9201u);
    const std::string written = readText(path_);

    store.set("huge", std::string(20000, 'y'));
    EXPECT_FALSE(store.synchronize());
    store.set("later", 1);
    loop_.runUntilIdle();
    loop_.advance(60);
    EXPECT_TRUE(readText(path_) == written) << "the file was written";
    EXPECT_EQ(store.stringValue("huge")->size(), 20000u);
    EXPECT_EQ(
        std::count_if(logged_.begin(), logged_.end(),
                      [](const std::string& line) { return line.find("not writing") != std::string::npos; }),
        1);
    store.remove("huge");
    loop_.runUntilIdle();
    EXPECT_EQ(JsonDefaultsStore(loop_, path_).persistentDomain().size(), 9202u);
    EXPECT_FALSE(exists(asidePath()));
}

// A file broken again and again must not fill the folder: the first copy (the user's own file from before)
// and the newest four stay, and names the store does not make are never touched. A copy stamped later than
// now (made before the clock was put back) ranks after every other.
TEST_F(JsonDefaultsStoreTest, TheFirstAndTheNewestSetAsideCopiesStay) {
    writeFile("not json");
    std::vector<std::string> older;
    for (const char* stamp : {"20261201T080000Z", "20261202T080000Z", "20261203T080000Z", "20261206T080000Z",
                              "20261206T080000Z-2", "20261206T080000Z-10", "20261208T080000Z"})
        writeText(older.emplace_back(path_ + ".corrupt-" + stamp), "old");
    const std::vector<std::string> others = {path_ + ".corrupt-mine", path_ + ".corrupt-20261201T080000Z.txt",
                                             path_ + ".backup"};
    for (const auto& other : others) writeText(other, "the user's");
    { JsonDefaultsStore store(loop_, path_, &brokenStart_); }
    // The copy just made stays even though a clock put back made an older-looking name for it, and the one
    // stamped tomorrow goes before any from the past.
    EXPECT_EQ(readText(asidePath()), "not json");
    for (std::size_t i = 0; i < older.size(); ++i)
        EXPECT_EQ(exists(older[i]), i == 0 || (i >= 3 && i <= 5)) << older[i];
    for (const auto& other : others) EXPECT_EQ(readText(other), "the user's");

    // Five more broken files, a minute apart: the first copy still outlives them.
    for (int i = 0; i < 5; ++i) {
        loop_.advance(60);
        writeFile("broken " + std::to_string(i));
        JsonDefaultsStore store(loop_, path_, &brokenStart_);
    }
    const auto copies = QDir(dir_.filePath("config/Velaro")).entryList({"defaults.json.corrupt-2026*Z"});
    EXPECT_EQ(copies,
              (QStringList{"defaults.json.corrupt-20261201T080000Z", "defaults.json.corrupt-20261207T080200Z",
                           "defaults.json.corrupt-20261207T080300Z", "defaults.json.corrupt-20261207T080400Z",
                           "defaults.json.corrupt-20261207T080500Z"}));
}

// A copy whose name carries a time far ahead (planted, or left by a clock that was wrong) never holds one of
// the newest places: the copies set aside since take them, and it goes.
TEST_F(JsonDefaultsStoreTest, ACopyStampedInTheFutureHoldsNoNewestPlace) {
    const std::string first = path_ + ".corrupt-20261201T080000Z",
                      planted = path_ + ".corrupt-20991231T235959Z";
    QDir().mkpath(dir_.filePath("config/Velaro"));
    writeText(first, "the user's file from before");
    writeText(planted, "planted");
    for (int i = 0; i < 6; ++i) {
        loop_.advance(60);
        writeFile("broken " + std::to_string(i));
        JsonDefaultsStore store(loop_, path_, &brokenStart_);
    }
    EXPECT_EQ(QDir(dir_.filePath("config/Velaro")).entryList({"defaults.json.corrupt-*"}),
              (QStringList{"defaults.json.corrupt-20261201T080000Z", "defaults.json.corrupt-20261207T080300Z",
                           "defaults.json.corrupt-20261207T080400Z", "defaults.json.corrupt-20261207T080500Z",
                           "defaults.json.corrupt-20261207T080600Z"}));
}

// A file that does not parse is reported with where it stops being JSON, never with what it holds there: the
// log is no place for the file's bytes.
TEST_F(JsonDefaultsStoreTest, AParseErrorSaysWhereTheFileStopsBeingJsonNotWhatItHolds) {
    const std::vector<std::pair<std::string, std::string>> files{
        {"{\"a\": 1,\n  \"b\": r\u00e9p}", "line 2, column 8"},
        {"{\"a\": \"sec\nret\"}", "line 1, column 11"},
        {"{\"a\": 1", "line 1, column 8"},
        {"[1, 2e99999]", "line 1, column 5"},
    };
    for (const auto& [text, where] : files) {
        SCOPED_TRACE(text);
        logged_.clear();
        writeFile(text);
        { JsonDefaultsStore store(loop_, path_, &brokenStart_); }
        QFile::remove(QString::fromStdString(asidePath()));
        ASSERT_EQ(logged_.size(), 1u);
        const std::string& line = logged_[0];
        EXPECT_NE(line.find(" is not a defaults file ("), std::string::npos) << line;
        EXPECT_NE(line.find(where), std::string::npos) << line;
        for (const char* held : {"last read", "r\u00e9", "sec", "99999"})
            EXPECT_EQ(line.find(held, line.find(" (")), std::string::npos) << line;
    }
}

// Edits other programs make land at any moment, also between our read of the file and the swap that puts
// the new one in place; each of these is saved the way editors and tools save: a new file renamed over the
// old one, the file rewritten in place, and the file emptied (and partly written) in place with the rest
// following only after our swap. Whichever way, no edit is lost and none is taken for an emptied file.
TEST_F(JsonDefaultsStoreTest, NoOutsideEditLandingDuringAWriteIsLost) {
    enum Save { renamed, inPlace, emptiedThenWritten, halfWritten, kinds };
    writeFile(R"({"theirs.last": -1})");
    JsonDefaultsStore store(loop_, path_);
    // Each save and each edit changes a key of a few, so the file stays the size of a settings file.
    const auto key = [](const char* side, int i) { return std::string(side) + std::to_string(i % 16); };
    int edit = -1;
    std::string rest;
    int editing = -1;  // the outside editor's descriptor while it has more to write
    store.setBeforeSwap([&] {
        if (edit < 0) return;
        PlistValue file = fileJson();
        file[key("theirs.", edit)] = edit;
        file["theirs.last"] = edit;
        // Both sides change this one: the change made here since the last write wins.
        file[key("ours.", edit)] = "theirs";
        const std::string text = encodeDefaultsFile(file);
        switch (edit % kinds) {
            case renamed:
                writeText(path_ + ".new", text);
                ASSERT_EQ(::rename((path_ + ".new").c_str(), path_.c_str()), 0);
                break;
            case inPlace:
                writeText(path_, text);
                break;
            case emptiedThenWritten:
            case halfWritten: {
                const std::size_t now = edit % kinds == halfWritten ? text.size() / 2 : 0;
                editing = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
                ASSERT_GE(editing, 0);
                ASSERT_EQ(::write(editing, text.data(), now), static_cast<ssize_t>(now));
                rest = text.substr(now);
                break;
            }
        }
        edit = -1;
    });
    constexpr int kSaves = 1000;
    int lost = 0;
    for (int i = 0; i < kSaves; ++i) {
        edit = i;
        store.set(key("ours.", i), i);
        // A save the app waits for, and one on the next turn of the loop.
        if (i % 2 == 0 && i % kinds < emptiedThenWritten)
            ASSERT_TRUE(store.synchronize());
        else
            loop_.runUntilIdle();
        if (editing >= 0) {
            // Our file stands meanwhile; the editor finishes writing into the one the swap took away.
            EXPECT_EQ(fileJson()[key("ours.", i)], i);
            ASSERT_EQ(::write(editing, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
            ::close(editing);
            editing = -1;
            loop_.advance(0.02);
        }
        PlistValue file = fileJson();
        const std::string theirs = key("theirs.", i), ours = key("ours.", i);
        if (file[theirs] != i || file["theirs.last"] != i || store.integerValue(theirs) != i) ++lost;
        EXPECT_EQ(file[ours], i);
        EXPECT_EQ(store.integerValue(ours), i);
        if (HasFailure()) return;
    }
    EXPECT_EQ(lost, 0);
    EXPECT_FALSE(writesPending(store));
    EXPECT_EQ(fileJson().size(), 2u * 16 + 1);
    EXPECT_EQ(store.persistentDomain(), fileJson());
    EXPECT_FALSE(loggedWithTag());
    EXPECT_EQ(QDir(dir_.filePath("config/Velaro")).entryList(QDir::Files | QDir::Hidden | QDir::System),
              (QStringList{"defaults.json", "defaults.json.lock"}));
}

void saveByRename(const std::string& path, const PlistValue& values) {
    writeText(path + ".new", encodeDefaultsFile(values));
    ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
}

// A write looks at the file once more just before its swap: an edit that landed while ours was written and
// flushed is read and goes out with ours in one swap, and ours never stands without it.
TEST_F(JsonDefaultsStoreTest, AnEditLandingWhileOursIsWrittenGoesOutWithOursInOneSwap) {
    writeFile(R"({"a": 1})");
    JsonDefaultsStore store(loop_, path_);
    bool landed = false;
    int swaps = 0;
    store.setBeforeLastLook([&] {
        if (!std::exchange(landed, true)) saveByRename(path_, {{"a", 1}, {"theirs", 2}});
    });
    store.setBeforeSwap([&] { ++swaps; });
    store.set("ours", 1);
    ASSERT_TRUE(store.synchronize());
    EXPECT_TRUE(landed);
    EXPECT_EQ(swaps, 1);
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}, {"theirs", 2}, {"ours", 1}}));
}

// An edit that lands during our write is put back in place at once: ours, which lacks it, stands only between
// two swaps. An editor that opened ours in that moment saves a file without the edit, which must not undo it;
// the file saved as it stood does (someone setting back what the edit changed), as does one that only looks
// made from a file nobody read.
TEST_F(JsonDefaultsStoreTest, AnEditMadeFromTheFileThatStoodForAMomentDoesNotUndoTheEditBeforeIt) {
    writeFile(R"({"a": 1})");
    JsonDefaultsStore store(loop_, path_);
    // Without a race, a key set back to what it held a moment ago is an edit like any other.
    for (const int a : {2, 1, 2}) {
        saveByRename(path_, {{"a", a}});
        store.takeInOutsideEdits();
        EXPECT_EQ(store.integerValue("a"), a);
    }
    std::vector<PlistValue> inPlace;  // the file at each swap of ours
    store.setBeforeSwap([&] {
        inPlace.push_back(fileJson());
        if (inPlace.size() == 1) saveByRename(path_, {{"a", 2}, {"first", 1}});
    });
    store.set("ours", 1);
    loop_.runUntilIdle();
    // Our write, the edit put back (ours standing, read by an editor), and ours written again with the edit.
    ASSERT_EQ(inPlace.size(), 3u);
    const PlistValue readInTheMoment = inPlace[1];
    EXPECT_EQ(readInTheMoment, (PlistValue{{"a", 2}, {"ours", 1}}));
    EXPECT_EQ(inPlace[2], (PlistValue{{"a", 2}, {"first", 1}})) << "the edit stands again until we write";
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 2}, {"first", 1}, {"ours", 1}}));
    store.setBeforeSwap(nullptr);

    // The editor saves what it read plus its own change. The file it left lacks what it undid by mistake:
    // that is written again.
    PlistValue second = readInTheMoment;
    second["second"] = 2;
    saveByRename(path_, second);
    store.takeInOutsideEdits();
    loop_.runUntilIdle();
    const PlistValue all{{"a", 2}, {"first", 1}, {"second", 2}, {"ours", 1}};
    EXPECT_EQ(store.persistentDomain(), all);
    EXPECT_EQ(fileJson(), all);

    // The file that stood, saved as it was, is not something made from it: it sets back what it holds.
    saveByRename(path_, readInTheMoment);
    store.takeInOutsideEdits();
    EXPECT_EQ(store.persistentDomain(), (PlistValue{{"a", 2}, {"ours", 1}}));
}

// What ours lacked while it stood for a moment is the edit that came out of its swap, and no more: an editor
// that read ours in that moment does not undo that edit, but its save is still the newest word on what other
// editors changed since (here another save made from ours, taken in while the edits kept coming out).
TEST_F(JsonDefaultsStoreTest, AnEditDuringThePutBackIsMeasuredAgainstTheFileItWasMadeFrom) {
    writeFile(R"({"a": 1, "b": 1})");
    JsonDefaultsStore store(loop_, path_);
    int swaps = 0;
    PlistValue readInTheMoment;
    store.setBeforeSwap([&] {
        if (++swaps == 1) saveByRename(path_, {{"a", 2}, {"b", 1}});
        if (swaps != 2) return;
        readInTheMoment = fileJson();
        PlistValue other = readInTheMoment;
        other["b"] = 2;
        saveByRename(path_, other);
    });
    store.set("ours", 1);
    loop_.runUntilIdle();
    store.setBeforeSwap(nullptr);
    ASSERT_EQ(fileJson(), (PlistValue{{"a", 2}, {"b", 2}, {"ours", 1}}));
    PlistValue later = readInTheMoment;
    later["c"] = 3;
    saveByRename(path_, later);
    store.takeInOutsideEdits();
    loop_.runUntilIdle();
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 2}, {"b", 1}, {"c", 3}, {"ours", 1}}));

    // An edit that took the place of ours while nobody opened ours was not made from it: it goes on from the
    // edit that came out of our swap, here setting back what that one changed.
    swaps = 0;
    store.setBeforeSwap([&] {
        if (++swaps == 1) saveByRename(path_, {{"a", 3}, {"b", 1}, {"c", 3}, {"ours", 1}});
        if (swaps == 2) saveByRename(path_, {{"a", 2}, {"b", 1}, {"c", 3}, {"ours", 1}});
    });
    store.set("ours", 2);
    loop_.runUntilIdle();
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 2}, {"b", 1}, {"c", 3}, {"ours", 2}}));
}

// What only resembles a file that stood for a moment, which no other program opened, was not made from it:
// the newest file another program wrote is the user's word.
TEST_F(JsonDefaultsStoreTest, AFileNobodyReadIsNotTakenForWhatAnEditWasMadeFrom) {
    writeFile(R"({"a": 2})");
    JsonDefaultsStore store(loop_, path_);
    bool raced = false;
    store.setBeforeSwap([&] {
        if (!std::exchange(raced, true)) saveByRename(path_, {{"a", 2}, {"first", 1}});
    });
    store.set("ours", 1);
    loop_.runUntilIdle();
    ASSERT_EQ(fileJson(), (PlistValue{{"a", 2}, {"first", 1}, {"ours", 1}}));
    saveByRename(path_, {{"a", 2}, {"ours", 1}, {"second", 2}});
    store.takeInOutsideEdits();
    loop_.runUntilIdle();
    EXPECT_EQ(store.persistentDomain(), (PlistValue{{"a", 2}, {"ours", 1}, {"second", 2}}));
    EXPECT_EQ(fileJson(), store.persistentDomain());
}

// The user's last edit wins: a key of the user's set back 0.3 s after an edit of it raced a save of ours (a
// toggled switch) keeps the value set back, also when another program read the file during the race.
TEST_F(JsonDefaultsStoreTest, ARevertMadeJustAfterARacedSaveIsKept) {
    for (const bool readDuringTheRace : {false, true}) {
        SCOPED_TRACE(readDuringTheRace ? "the file read during the race" : "nobody read it");
        writeFile(R"({"ext": 1})");
        JsonDefaultsStore store(loop_, path_);
        int swaps = 0;
        store.setBeforeSwap([&] {
            ++swaps;
            // While our temporary exists, an editor renames in a copy of the file with "ext" 2.
            if (swaps == 1) saveByRename(path_, {{"ext", 2}});
            if (swaps == 2 && readDuringTheRace) fileJson();
        });
        store.set("toggle", !store.boolValue("toggle").value_or(false));
        loop_.runUntilIdle();
        // Settled: the toggle and "ext" 2 together.
        ASSERT_EQ(fileJson(), (PlistValue{{"ext", 2}, {"toggle", true}}));
        loop_.advance(0.3);
        PlistValue revert = fileJson();
        revert["ext"] = 1;
        saveByRename(path_, revert);
        store.takeInOutsideEdits();
        loop_.runUntilIdle();
        loop_.advance(3);
        EXPECT_EQ(store.integerValue("ext"), 1);
        EXPECT_EQ(fileJson(), (PlistValue{{"ext", 1}, {"toggle", true}}));
        QFile::remove(QString::fromStdString(path_));
    }
}

// Outside read-change-rename edits of one key at a time while the app toggles its switches, replayed through
// the moment before each swap: an edit landing during a write; one made from ours while it stood for a moment
// and saved after the write; one made before our write and saved after it (its copy of the switch is stale:
// the newest file wins); a plain one; and one setting a key back right after a raced edit of it. Every
// outside key ends with the value written last, and every switch with the app's, but where an edit wrote back
// its stale copy.
TEST_F(JsonDefaultsStoreTest, OutsideEditsOfOneKeyAtATimeWhileTheAppTogglesEndWithTheLastValueWritten) {
    enum Kind { racing, madeFromOurs, madeBeforeOurWrite, plain, setBackAfterARace, kinds };
    writeFile(
        R"({"ext.0": 0, "ext.1": 0, "ext.2": 0, "app.0": false, "app.1": false, "app.2": false, "app.3": false})");
    JsonDefaultsStore store(loop_, path_);
    std::mt19937 random(66);
    // The value each outside key was last given, and each switch's.
    std::map<std::string, int> outside{{"ext.0", 0}, {"ext.1", 0}, {"ext.2", 0}};
    std::map<std::string, bool> app{{"app.0", false}, {"app.1", false}, {"app.2", false}, {"app.3", false}};
    // An outside edit: the file as it stands, one key given another value, renamed into place.
    const auto edit = [&](PlistValue values) {
        const std::string key = "ext." + std::to_string(random() % 3);
        int value = static_cast<int>(random() % 3);
        if (values.contains(key) && values[key] == value) value = (value + 1) % 3;
        values[key] = value;
        outside[key] = value;
        return values;
    };
    for (int step = 0; step < 300; ++step) {
        const Kind kind = static_cast<Kind>(random() % kinds);
        SCOPED_TRACE("step " + std::to_string(step) + ", kind " + std::to_string(kind));
        std::optional<PlistValue> read;
        int swaps = 0;
        store.setBeforeSwap([&] {
            ++swaps;
            if (swaps == 1 && (kind == racing || kind == madeFromOurs || kind == setBackAfterARace))
                saveByRename(path_, edit(fileJson()));
            if (swaps == 1 && kind == madeBeforeOurWrite) read = fileJson();
            if (swaps == 2 && kind == madeFromOurs) read = fileJson();
        });
        const std::string key = "app." + std::to_string(step % 4);
        const PlistValue before = fileJson();
        app[key] = !app[key];
        store.set(key, app[key]);
        loop_.runUntilIdle();
        store.setBeforeSwap(nullptr);
        if (read) {
            saveByRename(path_, edit(*read));
            if (kind == madeBeforeOurWrite) app[key] = before[key].get<bool>();
        }
        if (kind == plain) saveByRename(path_, edit(fileJson()));
        store.takeInOutsideEdits();
        loop_.runUntilIdle();
        if (kind == setBackAfterARace) {
            loop_.advance(0.3);
            PlistValue now = fileJson();
            for (const auto& [name, value] : before.items())
                if (name.starts_with("ext.") && now[name] != value) {
                    now[name] = value;
                    outside[name] = value.get<int>();
                }
            saveByRename(path_, now);
            store.takeInOutsideEdits();
            loop_.runUntilIdle();
        }
        // Ours, read while it stood for a moment, is what an edit near it may have been made from for a
        // second after: the step after such a read begins past that.
        loop_.advance(kind == madeFromOurs ? 1.1 : 0.05);
        const PlistValue file = fileJson();
        for (const auto& [name, value] : outside) {
            EXPECT_EQ(file[name], value) << name;
            EXPECT_EQ(store.object(name), value) << name;
        }
        for (const auto& [name, value] : app) EXPECT_EQ(file[name], value) << name;
        if (HasFailure()) return;
    }
    EXPECT_EQ(store.persistentDomain(), fileJson());
    EXPECT_FALSE(loggedWithTag());
}

// An edit the swap took away half written that never becomes whole is a corrupt file, not an emptied one:
// the settings stay, and what the editor left is kept beside them.
TEST_F(JsonDefaultsStoreTest, AnEditLeftHalfWrittenIsSetAsideNotTakenForAnEmptiedFile) {
    writeFile(R"({"a": 1, "b": 2})");
    JsonDefaultsStore store(loop_, path_);
    std::vector<std::vector<std::string>> announced;
    auto subscription = store.outsideChanges().sink([&](const auto& keys) { announced.push_back(keys); });
    bool edited = false;
    store.setBeforeSwap([&] {
        if (std::exchange(edited, true)) return;
        writeText(path_, R"({"a": 1, "b)");
    });
    store.set("c", 3);
    loop_.runUntilIdle();
    loop_.advance(0.45);
    EXPECT_FALSE(exists(asidePath()));
    loop_.advance(0.1);
    EXPECT_EQ(readText(asidePath()), R"({"a": 1, "b)");
    const PlistValue expected{{"a", 1}, {"b", 2}, {"c", 3}};
    EXPECT_EQ(fileJson(), expected);
    EXPECT_EQ(store.persistentDomain(), expected);
    EXPECT_TRUE(announced.empty());
}

// Another writer holding the lock beside the file: our write waits for it on later turns of the loop
// instead of blocking, and then merges what that writer left.
TEST_F(JsonDefaultsStoreTest, AWriteWaitsForTheLockAndMergesWhatTheOtherWriterLeft) {
    writeFile(R"({"a": 1})");
    JsonDefaultsStore store(loop_, path_);
    const int other = ::open(JsonDefaultsStore::lockPath(path_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);

    store.set("ours", 1);
    loop_.runUntilIdle();
    for (int i = 0; i < 5; ++i) loop_.advance(0.05);
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}}));
    writeText(path_, R"({"a": 1, "theirs": 2})");
    ::flock(other, LOCK_UN);
    ::close(other);

    loop_.advance(0.05);
    EXPECT_FALSE(writesPending(store));
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}, {"theirs", 2}, {"ours", 1}}));
}

// The store's end waits for a writer stuck with the lock, and for a file an editor is still saving in place,
// 0.1 s at most together: then the change goes out without the lock, and the editor's file is kept aside,
// where the editor goes on writing it whole.
TEST_F(JsonDefaultsStoreTest, TheEndWaitsForAStuckLockAndAFileBeingSavedWithinOneDeadline) {
    writeFile(R"({"a": 1})");
    const int other = ::open(JsonDefaultsStore::lockPath(path_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(other, 0);
    const std::string edit = R"({"a": 1, "theirs": 2})";
    for (const bool halfWritten : {false, true}) {
        SCOPED_TRACE(halfWritten);
        writeFile(R"({"a": 1})");
        ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
        logged_.clear();
        LoopWaits waits(loop_);
        int editing = -1;
        std::size_t written = 0;
        double endStarted = 0;
        {
            JsonDefaultsStore store(loop_, path_);
            store.setBlockingWaits(&waits);
            store.set("ours", 1);
            loop_.runUntilIdle();
            if (halfWritten) {
                editing = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
                ASSERT_GE(editing, 0);
                // A few bytes more at every wait: the file never reads the same twice.
                waits.during = [&] {
                    written += std::max<ssize_t>(0, ::write(editing, edit.data() + written, 3));
                };
            }
            endStarted = loop_.uptime();
        }
        EXPECT_LE(loop_.uptime() - endStarted, 0.1 + 1e-9);
        ASSERT_EQ(waits.lockWaits.size(), 1u) << "the lock is waited for once";
        EXPECT_NEAR(waits.lockWaits[0], 0.1, 1e-9);
        EXPECT_EQ(std::count_if(logged_.begin(), logged_.end(),
                                [](const std::string& line) { return line.ends_with("writing without it"); }),
                  1);
        EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}, {"ours", 1}}));
        if (halfWritten) {
            ASSERT_EQ(::write(editing, edit.data() + written, edit.size() - written),
                      static_cast<ssize_t>(edit.size() - written));
            ::close(editing);
            EXPECT_EQ(readText(asidePath()), edit);
        } else {
            EXPECT_FALSE(exists(asidePath()));
        }
        ::flock(other, LOCK_UN);
    }
    ::close(other);
}

// Edits other programs make reach the store (and its subscribers) without waiting for our next write;
// changes not yet written here keep our values.
TEST_F(JsonDefaultsStoreTest, OutsideEditsAreTakenInAndAnnouncedWithTheKeysThatChanged) {
    writeFile(R"({"masterEnabled": true, "same": 1, "gone": 1})");
    JsonDefaultsStore store(loop_, path_);
    std::vector<std::vector<std::string>> announced;
    auto subscription = store.outsideChanges().sink([&](const auto& keys) { announced.push_back(keys); });

    store.set("pending", "ours");
    writeText(path_, R"({"masterEnabled": false, "same": 1, "pending": "theirs", "added": 2.5})");
    store.takeInOutsideEdits();
    EXPECT_EQ(store.boolValue("masterEnabled"), false);
    EXPECT_EQ(store.stringValue("pending"), "ours");
    EXPECT_FALSE(store.hasStoredValue("gone"));
    ASSERT_EQ(announced.size(), 1u);
    auto keys = announced[0];
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"added", "gone", "masterEnabled"}));

    // Our own write, and reading the same content again, announce nothing.
    loop_.runUntilIdle();
    EXPECT_EQ(fileJson()["pending"], "ours");
    store.takeInOutsideEdits();
    EXPECT_EQ(announced.size(), 1u);

    // An editor half-way through (no file, or text that is not a defaults file) changes nothing; the
    // broken text, once it stayed so for half a second, is reported once however often it is seen.
    const PlistValue before = store.persistentDomain();
    ::unlink(path_.c_str());
    store.takeInOutsideEdits();
    logged_.clear();
    writeText(path_, R"({"masterEnabled": tr)");
    store.takeInOutsideEdits();
    store.takeInOutsideEdits();
    loop_.advance(0.6);
    store.takeInOutsideEdits();
    EXPECT_EQ(store.persistentDomain(), before);
    EXPECT_EQ(announced.size(), 1u);
    EXPECT_EQ(std::count_if(logged_.begin(), logged_.end(),
                            [](const std::string& line) { return line.rfind("DEFAULTS ", 0) == 0; }),
              1);
    writeText(path_, R"({"masterEnabled": true})");
    store.takeInOutsideEdits();
    EXPECT_EQ(store.boolValue("masterEnabled"), true);
    EXPECT_EQ(announced.size(), 2u);
}

// After a write fails, what is pending is tried again 1, 2, 4 ... seconds later, 30 s apart at most, and
// lands once the cause is gone without another change to carry it: a folder that cannot be made (a plain file
// where it should be), and a write cut short (a file size limit standing in for a full disk).
TEST_F(JsonDefaultsStoreTest, AFailedWriteIsTriedAgainLaterUntilItLands) {
    const std::string blocker = dir_.filePath("config").toStdString();
    const auto tries = [&] {
        return std::count_if(logged_.begin(), logged_.end(), [](const std::string& line) {
            return line.ends_with("changes kept for the next try");
        });
    };
    for (const bool diskFull : {false, true}) {
        SCOPED_TRACE(diskFull ? "disk full" : "folder in the way");
        QDir(dir_.filePath("config")).removeRecursively();
        QFile::remove(QString::fromStdString(blocker));
        logged_.clear();
        if (!diskFull) writeText(blocker, "in the way");
        JsonDefaultsStore store(loop_, path_);
        struct rlimit unlimited {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
        const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
        if (diskFull) {
            QDir().mkpath(dir_.filePath("config/Velaro"));
            const struct rlimit small { 16, unlimited.rlim_max };
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        store.set("a", std::string(100, 'a'));
        loop_.runUntilIdle();
        EXPECT_EQ(tries(), 1);
        for (const double wait : {1.0, 2.0, 4.0, 8.0, 16.0, 30.0, 30.0}) {
            loop_.advance(wait - 0.01);
            const auto before = tries();
            loop_.advance(0.01);
            EXPECT_EQ(tries(), before + 1) << "tried again " << wait << " s after the last try";
        }
        if (diskFull)
            ::setrlimit(RLIMIT_FSIZE, &unlimited);
        else
            QFile::remove(QString::fromStdString(blocker));
        std::signal(SIGXFSZ, previousSignal);
        loop_.advance(30);
        EXPECT_EQ(fileJson(), (PlistValue{{"a", std::string(100, 'a')}}));
        const auto landed = tries();
        loop_.advance(120);
        EXPECT_EQ(tries(), landed) << "no tries once it landed";
        EXPECT_EQ(loop_.pendingTimers(), 0u);
    }
}

TEST_F(JsonDefaultsStoreTest, AFailedWriteIsReportedAndRetriedOnTheNextChange) {
    // A plain file where the directory should be: the write cannot succeed, even for root.
    const std::string blocker = dir_.filePath("config").toStdString();
    writeText(blocker, "in the way");
    JsonDefaultsStore store(loop_, path_);
    store.set("a", 1);
    EXPECT_FALSE(store.synchronize());
    EXPECT_TRUE(loggedWithTag());
    EXPECT_EQ(store.integerValue("a"), 1);  // the value itself is kept in memory

    QFile::remove(QString::fromStdString(blocker));
    store.set("b", 2);
    loop_.runUntilIdle();
    EXPECT_FALSE(writesPending(store));
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}, {"b", 2}}));
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
