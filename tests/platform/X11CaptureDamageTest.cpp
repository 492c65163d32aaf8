// When the capture may hand out its last frame again: what the damage notices since a grab say of the
// pictures it read, the root pixels it kept and the window stack.
#include <gtest/gtest.h>

#include <set>

#include "platform/linux/X11CaptureDamage.h"

namespace velaro::x11capture {
namespace {

constexpr std::uint32_t kWindow = 0x400001, kPicture = 0x200007, kOther = 0x400009;
const PixelRect kStrip{0, 28, 100, 6};

// The capture worker's side: a turn in which it watches what it is about to read and grabs. Like the capture
// session, it starts each watch once, the first time a grab needs it, and keeps it.
class DamageLedgerTest : public ::testing::Test {
protected:
    Reading grabOf(std::vector<std::uint32_t> drawables, bool readRoot = false,
                   std::vector<std::uint8_t> replaced = {}) {
        ledger.beginTurn();
        for (auto d : drawables)
            if (watches.insert(d).second) ledger.watchStarted(d);
        if (readRoot && !watchingRoot) {
            watchingRoot = true;
            ledger.rootWatchStarted();
        }
        return Reading{std::move(drawables), readRoot, kStrip, std::move(replaced), ledger.turn()};
    }

    DamageLedger ledger;
    std::set<std::uint32_t> watches;
    bool watchingRoot = false;
};

TEST_F(DamageLedgerTest, PicturesBeneathVouchForTheGrabUntilOneOfThemIsDrawnOrTheStackChanges) {
    const Reading grab = grabOf({kWindow, kPicture});
    ledger.beginTurn();
    ledger.beginTurn();
    EXPECT_TRUE(ledger.unchangedSince(grab)) << "nothing was drawn since the grab";
    // Drawing elsewhere, and drawing told in the grab's own turn (before it was made), change nothing.
    ledger.watchStarted(kOther);
    ledger.drawableChanged(kOther);
    EXPECT_TRUE(ledger.unchangedSince(grab));
    DamageLedger early;
    early.beginTurn();
    early.watchStarted(kWindow);
    early.drawableChanged(kWindow);
    EXPECT_TRUE(early.unchangedSince({{kWindow}, false, kStrip, {}, early.turn()}));

    ledger.beginTurn();
    ledger.drawableChanged(kPicture);
    EXPECT_FALSE(ledger.unchangedSince(grab)) << "the desktop picture beneath was drawn";
    const Reading again = grabOf({kWindow, kPicture});
    EXPECT_TRUE(ledger.unchangedSince(again));
    ledger.beginTurn();
    ledger.layoutChanged();
    EXPECT_FALSE(ledger.unchangedSince(again)) << "a window moved or restacked";
}

TEST_F(DamageLedgerTest, NothingUnwatchedOrUnturnedCanVouch) {
    ledger.beginTurn();
    // Read before its watch began: drawing in between would be lost.
    const Reading unwatched{{kWindow}, false, kStrip, {}, ledger.turn()};
    ledger.beginTurn();
    ledger.watchStarted(kWindow);
    EXPECT_FALSE(ledger.unchangedSince(unwatched));
    const Reading watched = grabOf({kWindow});
    ledger.watchEnded(kWindow);
    EXPECT_FALSE(ledger.unchangedSince(watched)) << "its watch ended (the window went)";
    EXPECT_FALSE(ledger.unchangedSince(Reading{})) << "a grab without a turn";
    const Reading root = grabOf({}, true);
    ledger.rootWatchEnded();
    EXPECT_FALSE(ledger.unchangedSince(root));
}

TEST_F(DamageLedgerTest, RootDrawingCountsOnlyWhereTheGrabKeptTheRootsPixels) {
    // The strip's left half lies under a window the filter leaves out: its pixels were replaced.
    std::vector<std::uint8_t> replaced(static_cast<std::size_t>(kStrip.width) * kStrip.height, 0);
    for (int y = 0; y < kStrip.height; ++y)
        for (int x = 0; x < 50; ++x) replaced[y * kStrip.width + x] = 1;
    const Reading grab = grabOf({}, true, replaced);
    ledger.beginTurn();
    ledger.rootDamaged({0, 0, 1920, 28});   // the band over the panel, above the strip
    ledger.rootDamaged({10, 30, 40, 2});    // our own window over the replaced half
    ledger.rootDamaged({200, 28, 50, 50});  // beside the strip
    EXPECT_TRUE(ledger.unchangedSince(grab));
    ledger.rootDamaged({49, 33, 2, 1});  // one kept pixel, at x 50
    EXPECT_FALSE(ledger.unchangedSince(grab));

    // A grab that kept every pixel; so much drawing after it that the oldest rectangles are let go.
    const Reading whole = grabOf({}, true);
    EXPECT_TRUE(ledger.unchangedSince(whole));
    ledger.beginTurn();
    for (int i = 0; i < 1000; ++i) ledger.rootDamaged({0, 0, 1, 1});
    EXPECT_FALSE(ledger.unchangedSince(whole)) << "rectangles it cannot see any more may have hit it";
    const Reading later = grabOf({}, true);
    EXPECT_TRUE(ledger.unchangedSince(later)) << "what was let go came before this grab";
}

}  // namespace
}  // namespace velaro::x11capture
