// Set-aside copies of broken settings files: never one over another, the first and the newest kept, a copy
// made from what an open file holds when its name is gone.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform/helpers/DefaultsFileRig.h"
#include "platform/linux/defaults/SetAsideCopies.h"

namespace velaro::test {
namespace {

using defaults::OpenFolder;
using defaults::SetAsideCopies;

class SetAsideCopiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        folderPath_ = dir_.filePath("Velaro").toStdString();
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folderPath_)));
        folder_ = std::make_unique<OpenFolder>(
            ::open(folderPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), folderPath_);
        path_ = folderPath_ + "/defaults.json";
    }
    // 2026-12-07 08:00:00 UTC and `seconds` after.
    static std::chrono::system_clock::time_point at(int seconds) {
        return std::chrono::system_clock::from_time_t(1796630400 + seconds);
    }
    // The file broken with `text`, set aside at `time`.
    SetAsideCopies::Kept breakAndKeep(const std::string& text, std::chrono::system_clock::time_point time) {
        writeText(path_, text);
        return copies_.keep(*folder_, *folder_, "defaults.json", time);
    }
    QStringList kept() const {
        return QDir(QString::fromStdString(folderPath_))
            .entryList({"defaults.json.corrupt-2*Z"}, QDir::Files, QDir::Name);
    }

    QTemporaryDir dir_;
    std::string folderPath_, path_;
    std::unique_ptr<OpenFolder> folder_;
    SetAsideCopies copies_{"/home/u/.config/Velaro/defaults.json"};
};

TEST_F(SetAsideCopiesTest, SettingAsideNeverOverwritesAnEarlierSetAsideFile) {
    const auto first = breakAndKeep("not json", at(0));
    const auto second = breakAndKeep("not json either", at(0));
    ASSERT_TRUE(first.kept && second.kept);
    EXPECT_EQ(first.path, "/home/u/.config/Velaro/defaults.json.corrupt-20261207T080000Z")
        << "said where it is";
    EXPECT_EQ(readText(path_ + ".corrupt-20261207T080000Z"), "not json");
    EXPECT_EQ(readText(path_ + ".corrupt-20261207T080000Z-2"), "not json either");
    EXPECT_FALSE(exists(path_));
}

// A file broken again and again must not fill the folder: the first copy (the user's own file from before)
// and the newest four stay, and names the store does not make are never touched. A copy stamped later than
// now (made before the clock was put back) ranks after every other.
TEST_F(SetAsideCopiesTest, TheFirstAndTheNewestSetAsideCopiesStay) {
    std::vector<std::string> older;
    for (const char* stamp : {"20261201T080000Z", "20261202T080000Z", "20261203T080000Z", "20261206T080000Z",
                              "20261206T080000Z-2", "20261206T080000Z-10", "20261208T080000Z"})
        writeText(older.emplace_back(path_ + ".corrupt-" + stamp), "old");
    const std::vector<std::string> others = {path_ + ".corrupt-mine", path_ + ".corrupt-20261201T080000Z.txt",
                                             path_ + ".backup"};
    for (const auto& other : others) writeText(other, "the user's");
    ASSERT_TRUE(breakAndKeep("not json", at(0)).kept);
    // The copy just made stays even though a clock put back made an older-looking name for it, and the one
    // stamped tomorrow goes before any from the past.
    EXPECT_EQ(readText(path_ + ".corrupt-20261207T080000Z"), "not json");
    for (std::size_t i = 0; i < older.size(); ++i)
        EXPECT_EQ(exists(older[i]), i == 0 || (i >= 3 && i <= 5)) << older[i];
    for (const auto& other : others) EXPECT_EQ(readText(other), "the user's");

    // Five more broken files, a minute apart: the first copy still outlives them.
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(breakAndKeep("broken " + std::to_string(i), at(60 * (i + 1))).kept);
    EXPECT_EQ(kept(),
              (QStringList{"defaults.json.corrupt-20261201T080000Z", "defaults.json.corrupt-20261207T080200Z",
                           "defaults.json.corrupt-20261207T080300Z", "defaults.json.corrupt-20261207T080400Z",
                           "defaults.json.corrupt-20261207T080500Z"}));
}

// A copy whose name carries a time far ahead (planted, or left by a clock that was wrong) never holds one of
// the newest places: the copies set aside since take them, and it goes.
TEST_F(SetAsideCopiesTest, ACopyStampedInTheFutureHoldsNoNewestPlace) {
    writeText(path_ + ".corrupt-20261201T080000Z", "the user's file from before");
    writeText(path_ + ".corrupt-20991231T235959Z", "planted");
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(breakAndKeep("broken " + std::to_string(i), at(60 * (i + 1))).kept);
    EXPECT_EQ(kept(),
              (QStringList{"defaults.json.corrupt-20261201T080000Z", "defaults.json.corrupt-20261207T080300Z",
                           "defaults.json.corrupt-20261207T080400Z", "defaults.json.corrupt-20261207T080500Z",
                           "defaults.json.corrupt-20261207T080600Z"}));
}

// A file whose name another writer took (an edit that came out of a swap, under a temporary's name) is copied
// from its descriptor, whatever it is called now; with neither a name nor an open file nothing is kept.
TEST_F(SetAsideCopiesTest, AFileWithoutItsNameIsCopiedFromWhatIsOpen) {
    writeText(folderPath_ + "/.edit", R"({"a": 1})");
    const int fd = ::open((folderPath_ + "/.edit").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::unlink((folderPath_ + "/.edit").c_str()), 0);
    const auto copied = copies_.keep(*folder_, *folder_, "", at(0), fd);
    ::close(fd);
    ASSERT_TRUE(copied.kept) << copied.error;
    EXPECT_EQ(readText(path_ + ".corrupt-20261207T080000Z"), R"({"a": 1})");

    const auto none = copies_.keep(*folder_, *folder_, "gone.json", at(0));
    EXPECT_FALSE(none.kept);
    EXPECT_FALSE(none.error.empty());
    EXPECT_EQ(kept().size(), 1);
}

}  // namespace
}  // namespace velaro::test
