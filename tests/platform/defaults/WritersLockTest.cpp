// The writers' lock beside the settings file: held by one writer at a time, waited for through the wait it is
// given, and, where no lock file can be made, said once and written without.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Log.h"
#include "platform/helpers/DefaultsFileRig.h"
#include "platform/linux/defaults/WritersLock.h"

namespace velaro::test {
namespace {

using defaults::OpenFolder;
using defaults::WritersLock;

class WritersLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        folder_ = std::make_unique<OpenFolder>(
            ::open(dir_.path().toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC),
            dir_.path().toStdString());
        previousSink_ = setLogSink([this](std::string_view tag, std::string_view message) {
            logged_.push_back(std::string(tag) + " " + std::string(message));
        });
    }
    void TearDown() override { setLogSink(previousSink_); }
    std::string lockFile() const { return dir_.filePath("defaults.json.lock").toStdString(); }

    QTemporaryDir dir_;
    std::unique_ptr<OpenFolder> folder_;
    std::vector<std::string> logged_;
    LogSink previousSink_;
    // A wait that finds the lock still held: what it was asked to wait, and nothing held.
    std::vector<double> waited_;
    const WritersLock::Wait stillHeld_ = [this](const std::string&, double seconds) {
        waited_.push_back(seconds);
        return -1;
    };
};

TEST_F(WritersLockTest, OneWriterHoldsItAtATimeAndAWaitIsAskedOnlyWhenItIsBusy) {
    WritersLock ours("shown.lock"), theirs("shown.lock");
    ASSERT_EQ(ours.take(*folder_, "defaults.json.lock", 1.0, stillHeld_), WritersLock::Taken::held);
    struct stat st {};
    ASSERT_EQ(::stat(lockFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(theirs.take(*folder_, "defaults.json.lock", 0, stillHeld_), WritersLock::Taken::busy);
    EXPECT_TRUE(waited_.empty()) << "no wait asked for with none to spend";
    EXPECT_EQ(theirs.take(*folder_, "defaults.json.lock", 0.25, stillHeld_), WritersLock::Taken::busy);
    EXPECT_EQ(waited_, std::vector<double>{0.25});

    // The real wait hands over a lock that is free, through an opening of its own.
    ours.release();
    const int handed = defaults::waitForLock(lockFile(), 1.0);
    ASSERT_GE(handed, 0);
    EXPECT_EQ(ours.take(*folder_, "defaults.json.lock", 0, stillHeld_), WritersLock::Taken::busy);
    ::close(handed);
    EXPECT_EQ(ours.take(*folder_, "defaults.json.lock", 0, stillHeld_), WritersLock::Taken::held);
    EXPECT_TRUE(logged_.empty());
}

// Something that is no file at the lock's name (here a folder) holds no lock: each write goes on without it,
// and that is said once.
TEST_F(WritersLockTest, WhereNoLockFileCanBeMadeWritersGoOnWithoutItSayingSoOnce) {
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(lockFile())));
    WritersLock lock("shown.lock");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(lock.take(*folder_, "defaults.json.lock", 1.0, stillHeld_),
                  WritersLock::Taken::unavailable);
    ASSERT_EQ(logged_.size(), 1u);
    EXPECT_EQ(logged_[0], "DEFAULTS cannot use shown.lock (Is a directory); writing without it");
}

// A lock file removed or replaced while the app runs (by hand, by a clean-up, by a writer that removes it as
// it lets go) is made anew or taken over at the next take, so other writers, who open it by its name, are
// kept out again; a link put in its place is never followed, and what it points to is left unlocked.
TEST_F(WritersLockTest, ALockFileRemovedOrReplacedIsTakenAnewAndALinkInItsPlaceIsNotFollowed) {
    const std::string elsewhere = dir_.filePath("elsewhere").toStdString();
    const auto lockedByAnother = [](const std::string& file) {
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        const bool locked = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        ::close(fd);
        return locked;
    };
    WritersLock ours("shown.lock");
    for (const std::string what : {"removed", "replaced", "linked"}) {
        SCOPED_TRACE(what);
        ASSERT_EQ(ours.take(*folder_, "defaults.json.lock", 0, stillHeld_), WritersLock::Taken::held);
        ours.release();
        writeText(elsewhere, "their own");
        if (what == "replaced") ASSERT_EQ(::rename(elsewhere.c_str(), lockFile().c_str()), 0);
        if (what != "replaced") ASSERT_EQ(::unlink(lockFile().c_str()), 0);
        if (what == "linked") ASSERT_EQ(::symlink(elsewhere.c_str(), lockFile().c_str()), 0);
        const auto taken = ours.take(*folder_, "defaults.json.lock", 0, stillHeld_);
        EXPECT_EQ(taken, what == "linked" ? WritersLock::Taken::unavailable : WritersLock::Taken::held);
        EXPECT_EQ(lockedByAnother(lockFile()), what != "linked") << "another writer is not kept out";
        EXPECT_FALSE(lockedByAnother(elsewhere)) << "locked through the link";
        ours.release();
    }
    EXPECT_EQ(readText(elsewhere), "their own");
    EXPECT_EQ(logged_, std::vector<std::string>{"DEFAULTS cannot use shown.lock (Too many levels of symbolic "
                                                "links); writing without it"});
}

}  // namespace
}  // namespace velaro::test
