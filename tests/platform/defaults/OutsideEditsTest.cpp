// Outside edits laid over the stored values as plain data: only what an edit changed is taken, our unwritten
// keys keep their values, and an edit made from a file that stood for a moment does not undo what that file
// lacked.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/linux/defaults/OutsideEdits.h"

namespace velaro::test {
namespace {

using defaults::OutsideEdits;

TEST(OutsideEdits, OnlyWhatTheEditChangedIsTakenAndKeptKeysStay) {
    const PlistValue stored{{"a", 1}, {"b", 1}, {"ours", 1}, {"cameOut", 5}};
    const std::set<std::string> ours{"ours"};
    const OutsideEdits edits;
    const auto merged = edits.takeIn({stored, ours}, PlistValue{{"a", 1}, {"b", 1}, {"ours", 0}},
                                     PlistValue{{"a", 2}, {"ours", 9}, {"new", true}}, ours, 0);
    EXPECT_EQ(merged.changed, (std::set<std::string>{"a", "b", "new", "ours"}));
    EXPECT_TRUE(merged.storedChanged);
    EXPECT_FALSE(merged.fileLacksWhatWasKept);
    // "cameOut" was never in the edit's file: it stays; "ours" is kept; "b" went with the edit.
    EXPECT_EQ(merged.stored, (PlistValue{{"a", 2}, {"ours", 1}, {"cameOut", 5}, {"new", true}}));

    const auto same = edits.takeIn({stored, ours}, PlistValue{{"a", 1}}, PlistValue{{"a", 1}}, ours, 0);
    EXPECT_FALSE(same.storedChanged);
    EXPECT_TRUE(same.changed.empty());
}

// Ours stood for a moment without the edit that came out of its swap ("first"), and another program opened
// it: an edit made from it within a second leaves "first" out by mistake, and the file it leaves is to be
// written again. Set back to ours as it was, it is a newer word; a second later it is any edit.
TEST(OutsideEdits, AnEditMadeFromAFileThatStoodDoesNotUndoWhatThatFileLacked) {
    const PlistValue ours{{"a", 2}, {"ours", 1}};
    const PlistValue stored{{"a", 2}, {"first", 1}, {"ours", 1}};
    const std::set<std::string> none;
    OutsideEdits edits;
    edits.rememberOpened(ours, 10);
    edits.settle({stored, none});
    const PlistValue base = stored;  // the file that stands once the edit is put back and ours written
    PlistValue madeFromOurs = ours;
    madeFromOurs["second"] = 2;

    auto merged = edits.takeIn({stored, none}, base, madeFromOurs, none, 10.5);
    EXPECT_EQ(merged.stored, (PlistValue{{"a", 2}, {"first", 1}, {"ours", 1}, {"second", 2}}));
    EXPECT_TRUE(merged.fileLacksWhatWasKept);
    EXPECT_EQ(merged.changed, (std::set<std::string>{"second"}));

    merged = edits.takeIn({stored, none}, base, ours, none, 10.5);
    EXPECT_EQ(merged.stored, ours) << "the file that stood, saved as it was, sets back what it holds";
    EXPECT_FALSE(merged.fileLacksWhatWasKept);

    merged = edits.takeIn({stored, none}, base, madeFromOurs, none, 11.5);
    EXPECT_EQ(merged.stored, madeFromOurs) << "past a second the file is forgotten";
}

// An edit that came out of a swap is remembered only when it lacks something we hold besides our own
// unwritten changes; a file that lacks nothing once settled is forgotten.
TEST(OutsideEdits, OnlyFilesLackingWhatWeTookInAreRemembered) {
    const PlistValue stored{{"a", 1}, {"ours", 2}};
    const std::set<std::string> ours{"ours"};
    const PlistValue edit{{"a", 1}, {"b", 1}};
    OutsideEdits edits;
    edits.rememberCameOut(PlistValue{{"a", 1}}, {stored, ours}, 0);
    edits.rememberOpened(stored, 0);
    edits.settle({stored, ours});
    // Neither is remembered: an edit near either is measured against its own base.
    auto merged = edits.takeIn({stored, ours}, stored, edit, ours, 0.5);
    EXPECT_EQ(merged.stored, (PlistValue{{"a", 1}, {"ours", 2}, {"b", 1}}));

    edits.rememberCameOut(PlistValue{{"ours", 2}}, {stored, ours}, 0);
    merged = edits.takeIn({stored, ours}, stored, PlistValue{{"ours", 2}, {"c", 3}}, ours, 0.5);
    EXPECT_EQ(merged.stored, (PlistValue{{"a", 1}, {"ours", 2}, {"c", 3}})) << "it lacked \"a\": kept";
    EXPECT_TRUE(merged.fileLacksWhatWasKept);
}

}  // namespace
}  // namespace velaro::test
