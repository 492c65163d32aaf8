// The settings store over a real file: coalesced atomic writes, held writes, corrupt files, outside edits, a
// file caught mid-save, the writers' lock, the end's deadline and failed writes.
#include <gtest/gtest.h>

#include <QDir>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/helpers/DefaultsFileRig.h"

namespace velaro::test {
namespace {

class JsonDefaultsStoreTest : public DefaultsFileRig {};

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
    // Each start waits half a second for the file to settle: the copy's name carries the time it was set
    // aside.
    const QDir folder(dir_.filePath("config/Velaro"));
    const auto aside = [&] {
        const QStringList copies = folder.entryList({"defaults.json.corrupt-*"}, QDir::Files | QDir::System);
        return copies.size() == 1 ? folder.filePath(copies[0]).toStdString()
                                  : std::string("(none or several)");
    };
    for (const auto& content : contents) {
        SCOPED_TRACE(content.substr(0, 40));
        for (const QString& copy : folder.entryList({"defaults.json.corrupt-*"}, QDir::Files))
            QFile::remove(folder.filePath(copy));
        logged_.clear();
        writeFile(content);
        JsonDefaultsStore store(loop_, path_, &brokenStart_);
        EXPECT_EQ(store.persistentDomain(), PlistValue::object());
        EXPECT_FALSE(exists(path_));
        EXPECT_EQ(readText(aside()), content);
        EXPECT_TRUE(loggedWithTag());

        // The next write starts a fresh file and leaves the set-aside one alone.
        store.set("k", 1);
        ASSERT_TRUE(store.synchronize());
        EXPECT_EQ(fileJson(), (PlistValue{{"k", 1}}));
        EXPECT_EQ(readText(aside()), content);
        QFile::remove(QString::fromStdString(path_));
    }
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
    // Past half a second that is said once, and so is the write that goes out in the end.
    ASSERT_EQ(logged_.size(), 2u);
    EXPECT_NE(logged_[0].find(" keeps being rewritten: found half written "), std::string::npos)
        << logged_[0];
    EXPECT_NE(logged_[1].find(" is written again: the changes kept while it was being written went out"),
              std::string::npos);

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
// is read again until it reads whole, and the user's settings are kept. At start-up a file still changing
// after half a second is left to its writer, never set aside, and said so; while the app runs, a file that
// stays broken for half a second is reported once, and a program rewriting it without pause once for the
// whole spell, with how often it was found so.
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
    EXPECT_FALSE(exists(asidePath()));
    EXPECT_EQ(readText(path_).size(), 1 + saves % 20u) << "written over";
    ASSERT_EQ(logged_.size(), 1u);
    EXPECT_NE(logged_[0].find(" is being written by another program: found half written "), std::string::npos)
        << logged_[0];
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
// 0.1 s at most together: then the change goes out without the lock; but never over the editor's file, which
// is left to it, never set aside, and what is not saved is said.
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
        if (halfWritten) {
            ASSERT_EQ(::write(editing, edit.data() + written, edit.size() - written),
                      static_cast<ssize_t>(edit.size() - written));
            ::close(editing);
            EXPECT_EQ(readText(path_), edit);
            EXPECT_EQ(
                std::count(logged_.begin(), logged_.end(),
                           "DEFAULTS " + path_ +
                               " was still being written when the app ended; left it to its writer: not "
                               "saved: \"ours\""),
                1);
        } else {
            EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}, {"ours", 1}}));
        }
        EXPECT_FALSE(exists(asidePath()));
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
// where it should be), and a write cut short (a file size limit standing in for a full disk). The failure is
// said once (the later tries are debug lines), and so is the write that lands after it.
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
        const auto said = [&](const std::string& prefix, const std::string& suffix) {
            return std::count_if(logged_.begin(), logged_.end(), [&](const std::string& line) {
                return line.starts_with(prefix) && line.ends_with(suffix);
            });
        };
        EXPECT_EQ(said("DEFAULTS cannot write ", "changes kept for the next try"), 1);
        EXPECT_EQ(said("DEFAULTS " + path_ + " is written again; saving resumed", ""), 1);
        EXPECT_EQ(logged_.size(), static_cast<std::size_t>(landed) + 1) << "said something else";
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

}  // namespace
}  // namespace velaro::test
