// A settings file another program is still writing, at start-up, during a save and at the end: never set
// aside while it changes, never written over, waited for half a second at most and taken in once it settles;
// and saving said to resume after a refusal.
#include <gtest/gtest.h>

#include <QDir>
#include <algorithm>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform/helpers/DefaultsFileRig.h"

namespace velaro::test {
namespace {

class JsonDefaultsStoreSettleTest : public DefaultsFileRig {
protected:
    std::size_t logsWith(const std::string& words) const {
        return std::count_if(logged_.begin(), logged_.end(),
                             [&](const std::string& line) { return line.find(words) != std::string::npos; });
    }
};

// A program rewriting the file in place without pause: flush() waits half a second, says so once and leaves
// the file to it; the loop then looks five times slower, never writes over it, and writes ours merged with
// what the program left once it reads whole.
TEST_F(JsonDefaultsStoreSettleTest, ASaveWaitsForAFileBeingRewrittenHalfASecondAtMostAndLosesNothing) {
    writeFile(R"({"a": 1})");
    LoopWaits waits(loop_);
    JsonDefaultsStore store(loop_, path_);
    store.setBlockingWaits(&waits);
    int saves = 0;
    const auto save = [&] {
        rewriteInPlace(path_, R"({"a": 1, "theirs": )" + std::string(++saves % 7, ' '));
    };
    // Three seconds of saves, then the program's last one.
    waits.during = [&] { saves < 150 ? save() : rewriteInPlace(path_, R"({"a": 1, "theirs": 2})"); };
    save();
    store.set("ours", 1);
    const double start = loop_.uptime();
    EXPECT_FALSE(store.flush());
    EXPECT_LE(loop_.uptime() - start, 0.5 + 1e-9);
    EXPECT_EQ(logsWith(" keeps being rewritten: found half written "), 1u);
    // The loop goes on looking, five times slower than in the first half second.
    loop_.advance(0.02);
    const double now = loop_.uptime();
    EXPECT_EQ(loop_.oneShotTimersDueBetween(now + 1e-6, now + 0.05), 0u) << "looked at every 20 ms";
    EXPECT_EQ(loop_.oneShotTimersDueBetween(now + 0.05, now + 0.1), 1u);

    waits.during = nullptr;
    for (int i = 0; i < 100; ++i) {
        save();
        loop_.advance(0.02);
        ASSERT_EQ(readText(path_).find("ours"), std::string::npos) << "written over while being written";
    }
    rewriteInPlace(path_, R"({"a": 1, "theirs": 2})");
    loop_.advance(0.15);
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}, {"theirs", 2}, {"ours", 1}}));
    EXPECT_EQ(logsWith(" keeps being rewritten: "), 1u);
    EXPECT_EQ(logsWith(" is written again: the changes kept while it was being written went out"), 1u);
    EXPECT_FALSE(exists(asidePath()));
}

// An editor saving the same text in place again and again as the app starts: its half-written states are
// alike, but the file never stands still. The store starts from its defaults, writes nothing over the file
// while it changes, and takes it in whole, as a load would, once the editor is done: the user's keys win
// over what was set meanwhile, and the rest of that is written with them.
TEST_F(JsonDefaultsStoreSettleTest, AStartDuringAnInPlaceSaveTakesTheFileInOnceItReadsWhole) {
    const std::string whole = R"({"user": 1, "app": 0, "appShortcuts": ["Ctrl+Alt+O"]})";
    const std::string half = whole.substr(0, whole.find("\"appShortcuts\""));
    writeFile(half);
    LoopWaits waits(loop_);
    waits.during = [&] { rewriteInPlace(path_, half); };
    JsonDefaultsStore store(loop_, path_, &waits);
    EXPECT_EQ(store.persistentDomain(), PlistValue::object());
    EXPECT_EQ(logsWith(" is being written by another program: found half written "), 1u);
    store.set("app", 1);
    store.set("ours", true);
    for (int i = 0; i < 50; ++i) {
        rewriteInPlace(path_, half);
        loop_.advance(0.02);
        ASSERT_EQ(readText(path_), half) << "written over while being written";
    }
    rewriteInPlace(path_, whole);
    loop_.advance(0.15);
    EXPECT_EQ(store.integerValue("user"), 1);
    EXPECT_EQ(store.integerValue("app"), 0);
    EXPECT_EQ(store.stringArrayValue("appShortcuts"), std::vector<std::string>{"Ctrl+Alt+O"});
    EXPECT_EQ(fileJson(),
              (PlistValue{{"user", 1}, {"app", 0}, {"appShortcuts", {"Ctrl+Alt+O"}}, {"ours", true}}));
    EXPECT_FALSE(exists(asidePath()));
    EXPECT_EQ(logsWith(" reads whole now; its settings are taken in"), 1u);
}

// A slow writer (a pipe through a rate limit) fills the file for a second and a half as the app starts: the
// file is never set aside nor written over, and ours goes out with it once it is whole.
TEST_F(JsonDefaultsStoreSettleTest, ASlowWriterIsLeftToFinishAndTakenInWhole) {
    PlistValue user = PlistValue::object();
    for (int i = 0; i < 300; ++i) user["key." + std::to_string(i)] = "the user's value " + std::to_string(i);
    const std::string text = encodeDefaultsFile(user);
    constexpr std::size_t kChunk = 120;
    std::size_t at = 0;
    const auto more = [&] {
        if (at >= text.size()) return;
        rewriteInPlace(path_, text.substr(at, kChunk), false);
        at += kChunk;
    };
    writeFile("");
    LoopWaits waits(loop_);
    waits.during = more;
    JsonDefaultsStore store(loop_, path_, &waits);
    store.set("ours", 1);
    while (at < text.size()) {
        more();
        loop_.advance(0.04);
        ASSERT_EQ(text.compare(0, readText(path_).size(), readText(path_)), 0)
            << "written over while being written";
        ASSERT_FALSE(exists(asidePath()));
    }
    loop_.advance(0.15);
    user["ours"] = 1;
    EXPECT_EQ(fileJson(), user);
    EXPECT_EQ(store.persistentDomain(), user);
}

// At the end, an edit that came out of our last swap and is still being written goes back in place for its
// writer to finish, and what that undoes of ours is said; it is never set aside, nor lost to a clean-up.
TEST_F(JsonDefaultsStoreSettleTest, AnEditStillBeingWrittenAtTheEndGoesBackInPlace) {
    writeFile(R"({"a": 1})");
    const std::string edit = R"({"a": 1, "theirs": 2})";
    LoopWaits waits(loop_);
    int editing = -1;
    std::size_t written = 0;
    {
        JsonDefaultsStore store(loop_, path_);
        store.setBlockingWaits(&waits);
        store.setBeforeSwap([&] {
            if (editing >= 0) return;
            editing = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            written = std::max<ssize_t>(0, ::write(editing, edit.data(), 5));
        });
        store.set("ours", 1);
        loop_.runUntilIdle();
        ASSERT_GE(editing, 0);
        ASSERT_EQ(fileJson(), (PlistValue{{"a", 1}, {"ours", 1}})) << "ours stands while the edit is written";
        waits.during = [&] { written += std::max<ssize_t>(0, ::write(editing, edit.data() + written, 2)); };
    }
    ASSERT_EQ(::write(editing, edit.data() + written, edit.size() - written),
              static_cast<ssize_t>(edit.size() - written));
    ::close(editing);
    EXPECT_EQ(readText(path_), edit);
    EXPECT_FALSE(exists(asidePath()));
    EXPECT_EQ(logsWith(" was still being written when the app ended; put it back in place for its writer to "
                       "finish; not saved: \"ours\""),
              1u);
    EXPECT_EQ(QDir(dir_.filePath("config/Velaro")).entryList(QDir::Files | QDir::Hidden | QDir::System),
              (QStringList{"defaults.json", "defaults.json.lock"}));
}

// A refused path (here a link that leads to itself) is said once as not saved; once a write goes out again
// that is said too, and a later refusal is said again.
TEST_F(JsonDefaultsStoreSettleTest, SavingIsSaidToResumeAfterARefusal) {
    QDir().mkpath(dir_.filePath("config/Velaro"));
    ASSERT_EQ(::symlink("defaults.json", path_.c_str()), 0);
    JsonDefaultsStore store(loop_, path_);
    store.set("a", 1);
    loop_.runUntilIdle();
    EXPECT_EQ(
        logsWith("; leaving it and what it points to alone: the settings are kept in memory and not saved"),
        1u);
    ASSERT_EQ(::unlink(path_.c_str()), 0);
    store.set("b", 2);
    loop_.runUntilIdle();
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}, {"b", 2}}));
    EXPECT_EQ(logsWith(path_ + " is no longer refused; saving resumed"), 1u);

    ASSERT_EQ(::unlink(path_.c_str()), 0);
    ASSERT_EQ(::symlink("defaults.json", path_.c_str()), 0);
    store.set("c", 3);
    loop_.runUntilIdle();
    EXPECT_EQ(logsWith("; leaving it and what it points to alone"), 2u);
}

}  // namespace
}  // namespace velaro::test
