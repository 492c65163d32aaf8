// The deferred corner mutators over real settings and a fake store: nothing changes before the loop's next
// turn, queued edits apply in order, each corner's fields for a linked and an unlinked row, the radius clamp,
// equal writes that publish nothing against toggles that always write, stacking and placement, leaving
// "follow the overlay's opacity", and numbers that cannot be stored.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/VirtualLoop.h"
#include "ui/settings/rings/CornerMutators.h"

namespace velaro {
namespace {

class CornerMutatorsTest : public ::testing::Test {
protected:
    CornerMutatorsTest() {
        settings = std::make_unique<OverlaySettings>(defaults, loop);
        loop.runUntilIdle();
        watch = settings->corners.changes().sink([this](const CornerSettings&) { ++published; });
        defaults.clearWrites();
    }

    void setLinked(CornerRow row, bool linked) {
        setRowLinked(*settings, row, linked);
        published = 0;
        defaults.clearWrites();
    }
    int persisted(const std::string& key = "cornerSettings") const {
        int n = 0;
        for (const auto& w : defaults.writes()) n += w.key == key;
        return n;
    }
    const CornerSettings& c() const { return settings->corners(); }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    std::unique_ptr<OverlaySettings> settings;
    Subscription watch;
    int published = 0;
};

TEST_F(CornerMutatorsTest, NothingChangesBeforeTheNextTurnAndQueuedEditsApplyInOrder) {
    deferSetCornerRadius(*settings, loop, ScreenCorner::bottomLeft, 10);
    deferToggleCornerEnabled(*settings, loop, ScreenCorner::bottomLeft);
    EXPECT_EQ(published, 0);
    EXPECT_DOUBLE_EQ(c().bottomRadius, 28);
    loop.runUntilIdle();
    EXPECT_DOUBLE_EQ(c().bottomRadius, 10);
    EXPECT_FALSE(c().bottomLeftEnabled);
    EXPECT_FALSE(c().bottomRightEnabled) << "the bottom row starts linked";
    EXPECT_EQ(published, 2);
    EXPECT_EQ(persisted(), 2) << "each edit is persisted by the record's own handler, once";
}

TEST_F(CornerMutatorsTest, EachCornerEditsItsOwnFieldsOrItsRowsWhileLinked) {
    struct Expect {
        ScreenCorner corner;
        bool linked;
        double CornerSettings::*radiusWritten;
        double CornerSettings::*radiusKept;
        double CornerSettings::*twinOpacity;  // written only while linked
        std::string CornerSettings::*twinHex;
    };
    using CS = CornerSettings;
    const Expect cases[] = {
        {ScreenCorner::topLeft, true, &CS::topRadius, &CS::topLeftRadius, &CS::topRightOpacity,
         &CS::topRightCustomColorHex},
        {ScreenCorner::topRight, false, &CS::topRightRadius, &CS::topRadius, &CS::topLeftOpacity,
         &CS::topLeftCustomColorHex},
        {ScreenCorner::bottomLeft, true, &CS::bottomRadius, &CS::bottomLeftRadius, &CS::bottomRightOpacity,
         &CS::bottomRightCustomColorHex},
        {ScreenCorner::bottomRight, false, &CS::bottomRightRadius, &CS::bottomRadius, &CS::bottomLeftOpacity,
         &CS::bottomLeftCustomColorHex},
        {ScreenCorner::screenTopLeft, true, &CS::screenTopRadius, &CS::screenTopLeftRadius,
         &CS::screenTopRightOpacity, &CS::screenTopRightCustomColorHex},
        {ScreenCorner::screenTopRight, false, &CS::screenTopRightRadius, &CS::screenTopRadius,
         &CS::screenTopLeftOpacity, &CS::screenTopLeftCustomColorHex},
    };
    for (const Expect& e : cases) {
        settings->corners = CornerSettings{};
        setLinked(rowOf(e.corner), e.linked);
        const std::string at = std::string(toString(e.corner)) + (e.linked ? " linked" : " unlinked");
        setCornerRadius(*settings, e.corner, 12);
        EXPECT_DOUBLE_EQ(c().*e.radiusWritten, 12) << at;
        EXPECT_DOUBLE_EQ(c().*e.radiusKept, 28) << at;
        EXPECT_DOUBLE_EQ(storedRadius(c(), e.corner), 12) << at;

        setCornerOpacity(*settings, e.corner, 0.4);
        EXPECT_DOUBLE_EQ(c().opacity(e.corner, 1.0), isTop(e.corner) ? 1.0 : 0.4) << at << " (top follows)";
        EXPECT_DOUBLE_EQ(c().*e.twinOpacity, e.linked ? 0.4 : 1.0) << at;

        setCornerCustomHex(*settings, e.corner, "#123456");
        EXPECT_EQ(c().*e.twinHex, e.linked ? "#123456" : "#000000") << at;
        // The top and bottom rows keep a row colour too; the screen's top corners have none.
        if (rowOf(e.corner) != CornerRow::screenTop) {
            EXPECT_EQ(isTop(e.corner) ? c().topCustomColorHex : c().bottomCustomColorHex, "#123456") << at;
        }

        setCornerEnabled(*settings, e.corner, false);
        EXPECT_EQ(c().effectiveRadius(twinOf(e.corner)) == 0,
                  e.linked || rowOf(e.corner) == CornerRow::screenTop)
            << at << ": the twin goes off with it only while linked (the screen's top corners start off)";
    }
}

TEST_F(CornerMutatorsTest, ColourModesGoOnlyToTheirRows) {
    setCornerColorMode(*settings, ScreenCorner::topLeft, BottomColorMode::custom);
    setTopCornerColorMode(*settings, ScreenCorner::bottomLeft, TopColorMode::custom);
    EXPECT_EQ(published, 0) << "a mutator ignores corners it does not handle";
    EXPECT_EQ(persisted(), 0);

    setCornerColorMode(*settings, ScreenCorner::bottomRight, BottomColorMode::custom);
    EXPECT_EQ(c().bottomLeftColorMode, BottomColorMode::custom) << "linked twin";
    EXPECT_EQ(c().bottomColorMode, BottomColorMode::custom);
    setLinked(CornerRow::top, false);
    setTopCornerColorMode(*settings, ScreenCorner::topRight, TopColorMode::black);
    EXPECT_EQ(c().topRightColorMode, TopColorMode::black);
    EXPECT_EQ(c().topLeftColorMode, TopColorMode::followOverlay);
    EXPECT_EQ(c().topColorMode, TopColorMode::black) << "the row mode is always written";
}

TEST_F(CornerMutatorsTest, RadiiAreClampedAndNumbersThatCannotBeStoredAreDropped) {
    const struct { double asked, stored; } clamps[] = {{-5, 0}, {60, 48}, {47.5, 47.5}};
    for (const auto& k : clamps) {
        deferSetCornerRadius(*settings, loop, ScreenCorner::bottomLeft, k.asked);
        loop.runUntilIdle();
        EXPECT_DOUBLE_EQ(c().bottomRadius, k.stored) << k.asked;
    }
    published = 0;
    defaults.clearWrites();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    deferSetCornerRadius(*settings, loop, ScreenCorner::bottomLeft, nan);
    deferSetCornerOpacity(*settings, loop, ScreenCorner::bottomLeft, inf);
    EXPECT_EQ(loop.pendingPosts(), 0u) << "nothing is queued for them";
    setCornerRadius(*settings, ScreenCorner::bottomLeft, nan);
    setCornerOpacity(*settings, ScreenCorner::screenTopLeft, -inf);
    loop.runUntilIdle();
    EXPECT_EQ(published, 0);
    EXPECT_EQ(persisted(), 0);
    // And the next edit is stored as ever.
    deferSetCornerRadius(*settings, loop, ScreenCorner::bottomLeft, 20);
    loop.runUntilIdle();
    EXPECT_EQ(persisted(), 1);
    EXPECT_DOUBLE_EQ(settings->loadStoredCornerSettings().bottomRadius, 20);
}

TEST_F(CornerMutatorsTest, EqualSetsWriteNothingWhileTogglesAlwaysWrite) {
    setCornerEnabled(*settings, ScreenCorner::bottomLeft, true);
    setRowLinked(*settings, CornerRow::bottom, true);
    EXPECT_EQ(published, 0);
    EXPECT_EQ(persisted(), 0);
    toggleRowLinked(*settings, CornerRow::bottom);
    toggleRowLinked(*settings, CornerRow::bottom);
    toggleCornerEnabled(*settings, ScreenCorner::screenTopLeft);
    EXPECT_EQ(published, 3);
    EXPECT_EQ(persisted(), 3);
    EXPECT_TRUE(c().screenTopLeftEnabled);
    EXPECT_TRUE(c().screenTopRightEnabled) << "the screen's top row starts linked";
}

TEST_F(CornerMutatorsTest, LeavingFollowCopiesTheOverlayOpacityOnlyWhenItWasOn) {
    settings->overlayOpacity = 0.6;
    setTopFollowsOverlayOpacity(*settings, false);
    EXPECT_DOUBLE_EQ(c().topOpacity, 0.6);
    EXPECT_DOUBLE_EQ(c().topLeftOpacity, 0.6);
    EXPECT_DOUBLE_EQ(c().topRightOpacity, 0.6);
    settings->overlayOpacity = 0.2;
    published = 0;
    setTopFollowsOverlayOpacity(*settings, false);
    EXPECT_DOUBLE_EQ(c().topOpacity, 0.6) << "already off: the opacities stay";
    EXPECT_EQ(published, 1) << "but it always writes";
}

TEST_F(CornerMutatorsTest, StackingAndPlacementFollowTheRowAndSkipBelowActiveCorners) {
    // Linked: one choice sets both bottom corners, each only when it differs.
    setBottomCornerZ(*settings, ScreenCorner::bottomLeft, BottomCornerZ::above);
    EXPECT_EQ(settings->cornerBottomLeftZ(), BottomCornerZ::above);
    EXPECT_EQ(settings->cornerBottomRightZ(), BottomCornerZ::above);
    defaults.clearWrites();
    setBottomCornerZ(*settings, ScreenCorner::bottomRight, BottomCornerZ::above);
    EXPECT_EQ(persisted("cornerBottomLeftZ") + persisted("cornerBottomRightZ"), 0);
    setBottomCornerZ(*settings, ScreenCorner::screenTopLeft, BottomCornerZ::wallpaper);
    EXPECT_EQ(defaults.writes().size(), 0u) << "not a bottom corner";

    // A below-active corner keeps its stacking; its linked twin flips alone.
    settings->cornerBottomLeftZ = BottomCornerZ::belowActive;
    toggleCornerPlacement(*settings, ScreenCorner::bottomLeft);
    EXPECT_EQ(settings->cornerBottomRightZ(), BottomCornerZ::above);
    EXPECT_TRUE(isCornerBelowActive(ScreenCorner::bottomLeft, *settings));
    toggleCornerPlacement(*settings, ScreenCorner::bottomRight);
    EXPECT_EQ(settings->cornerBottomLeftZ(), BottomCornerZ::belowActive);
    EXPECT_EQ(settings->cornerBottomRightZ(), BottomCornerZ::wallpaper);

    // Unlinked: only the touched corner; the menu-bar corners have no placement.
    setLinked(CornerRow::bottom, false);
    settings->cornerBottomLeftZ = BottomCornerZ::wallpaper;
    toggleCornerPlacement(*settings, ScreenCorner::bottomRight);
    EXPECT_EQ(settings->cornerBottomRightZ(), BottomCornerZ::above);
    EXPECT_EQ(settings->cornerBottomLeftZ(), BottomCornerZ::wallpaper);
    defaults.clearWrites();
    toggleCornerPlacement(*settings, ScreenCorner::topLeft);
    EXPECT_TRUE(defaults.writes().empty());
    EXPECT_FALSE(isCornerBelowActive(ScreenCorner::topLeft, *settings));
}

}  // namespace
}  // namespace velaro
