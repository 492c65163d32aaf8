// What a look at the settings file found, and when a file found half written counts as standing still: only
// its stamp unchanged for the quiet time tells, however alike its half-written texts are.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/linux/defaults/FileIntake.h"

namespace velaro::test {
namespace {

using defaults::FileLook;
using defaults::FileStamp;
using defaults::Settling;

FileRead readOf(std::string bytes, bool changing = false) {
    FileRead read;
    read.outcome = FileRead::Outcome::read;
    read.bytes = std::move(bytes);
    read.changedWhileRead = changing;
    return read;
}

TEST(FileIntake, ALookTellsKnownWholeHalfWrittenAndUnreadableApart) {
    EXPECT_EQ(defaults::lookAt(FileRead{}, std::nullopt, "f").found, FileLook::Found::missing);
    EXPECT_EQ(defaults::lookAt(readOf(R"({"a": 1})"), R"({"a": 1})", "f").found, FileLook::Found::known);
    const FileLook whole = defaults::lookAt(readOf(R"({"a": 1})"), std::nullopt, "f");
    EXPECT_EQ(whole.found, FileLook::Found::whole);
    EXPECT_EQ(whole.values, (PlistValue{{"a", 1}}));
    const FileLook cut = defaults::lookAt(readOf(R"({"a": )"), std::nullopt, "f");
    EXPECT_EQ(cut.found, FileLook::Found::halfWritten);
    EXPECT_FALSE(cut.looksWhole);
    const FileLook changing = defaults::lookAt(readOf(R"({"a": 1})", true), std::nullopt, "f");
    EXPECT_EQ(changing.found, FileLook::Found::halfWritten)
        << "a whole-reading text that changed under the read";
    EXPECT_TRUE(changing.changing);
    FileRead refused;
    refused.outcome = FileRead::Outcome::refused;
    refused.why = "far too large";
    EXPECT_EQ(defaults::lookAt(refused, std::nullopt, "f").found, FileLook::Found::unreadable);
}

TEST(FileIntake, OnlyAStampUnchangedForTheQuietTimeStandsStill) {
    FileStamp stamp{.device = 1, .inode = 2, .size = 10};
    Settling settling;
    EXPECT_FALSE(settling.active());
    settling.seen(stamp, 0);
    settling.seen(stamp, 0.49);
    EXPECT_FALSE(settling.standsStill(0.49));
    EXPECT_TRUE(settling.standsStill(0.5));
    // The same size and text again, written anew: its time moved, and the quiet time starts over.
    stamp.modified.tv_nsec = 1;
    settling.seen(stamp, 0.5);
    EXPECT_FALSE(settling.standsStill(0.9));
    settling.seen(std::nullopt, 0.9);  // changing under the read
    settling.seen(stamp, 1.0);
    EXPECT_FALSE(settling.standsStill(1.45));
    EXPECT_TRUE(settling.standsStill(1.5));
    EXPECT_EQ(settling.changes(), 4);
}

TEST(FileIntake, ASpellIsSaidOnceItOutlastsTheBoundAndLookedAtSlowerThen) {
    Settling settling;
    settling.seen(FileStamp{}, 10);
    EXPECT_DOUBLE_EQ(settling.nextLookIn(10.2), Settling::kLookSeconds);
    EXPECT_FALSE(settling.sayOnce(10.2));
    EXPECT_TRUE(settling.sayOnce(10.5));
    EXPECT_FALSE(settling.sayOnce(11));
    EXPECT_DOUBLE_EQ(settling.nextLookIn(10.5), Settling::kSlowLookSeconds);
    settling.reset();
    settling.seen(FileStamp{}, 20);
    EXPECT_TRUE(settling.sayOnce(20.1, true)) << "a wait bounded shorter says so at its end";
}

}  // namespace
}  // namespace velaro::test
