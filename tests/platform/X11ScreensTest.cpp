// Panel struts per monitor, the conversion of monitors to screens in global points, display identifiers.
#include "platform/linux/X11Screens.h"

#include <gtest/gtest.h>

#include <QString>

namespace velaro {
namespace {

// How far the panels push a screen's visible frame below its top, in points.
double topInset(const ScreenInfo& s) {
    return s.frame.maxY() - s.visibleFrame.maxY();
}

Strut topPanel(double height, double startX, double endX) {
    Strut s;
    s.top = height;
    s.topStartX = startX;
    s.topEndX = endX;
    return s;
}

TEST(X11Struts, APanelReservesSpaceOnlyOnTheMonitorsItSpans) {
    // Two 1920×1080 monitors side by side; a 28-px panel across the left one only.
    const std::vector<Strut> struts{topPanel(28, 0, 1919)};
    EXPECT_EQ(visibleAreaOf({0, 0, 1920, 1080}, struts, 3840, 1080), (Rect{0, 28, 1920, 1052}));
    EXPECT_EQ(visibleAreaOf({1920, 0, 1920, 1080}, struts, 3840, 1080), (Rect{1920, 0, 1920, 1080}))
        << "the inclusive end 1919 stops short of the right monitor";
    // A monitor lower down (its top at y 200) is below a 28-px strut.
    EXPECT_EQ(visibleAreaOf({1920, 200, 1280, 800}, {topPanel(28, 0, 3199)}, 3200, 1080),
              (Rect{1920, 200, 1280, 800}));
    // The tallest of two panels on the same monitor wins.
    EXPECT_EQ(visibleAreaOf({0, 0, 1920, 1080}, {topPanel(28, 0, 1919), topPanel(40, 100, 400)}, 1920, 1080),
              (Rect{0, 40, 1920, 1040}));
}

TEST(X11Struts, BottomAndSideStrutsAndTheShortForm) {
    // _NET_WM_STRUT (4 values) spans whole edges; bottom and right are measured from the root's far edges.
    const auto bottom = Strut::fromValues({0, 0, 0, 40}, 1920, 1080);
    ASSERT_TRUE(bottom);
    EXPECT_EQ(visibleAreaOf({0, 0, 1920, 1080}, {*bottom}, 1920, 1080), (Rect{0, 0, 1920, 1040}));
    const auto sides = Strut::fromValues({50, 60, 0, 0, 0, 1079, 0, 1079, 0, 0, 0, 0}, 1920, 1080);
    ASSERT_TRUE(sides);
    EXPECT_EQ(visibleAreaOf({0, 0, 1920, 1080}, {*sides}, 1920, 1080), (Rect{50, 0, 1810, 1080}));
    EXPECT_FALSE(Strut::fromValues({1, 2}, 1920, 1080)) << "a malformed property is no strut";
    // A strut taller than the monitor leaves an empty area, never a negative one.
    const Rect crushed = visibleAreaOf({0, 0, 100, 100}, {topPanel(500, 0, 99)}, 100, 100);
    EXPECT_EQ(crushed.height(), 0);
}

TEST(X11ScreenList, PrimaryFirstInGlobalPointsWithThePanelAsMenuBar) {
    // Left: 1920×1080 with the panel; right (primary): 1280×1024 whose top is 100 px lower.
    std::vector<RawMonitor> monitors{
        {"DP-1", 11, false, Rect(0, 0, 1920, 1080), ""},
        {"HDMI-1", 12, true, Rect(1920, 100, 1280, 1024), "edid-bytes"},
    };
    const auto screens = screensFrom(monitors, {topPanel(28, 0, 1919)}, 3200, 1124, 1);
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0].name, "HDMI-1");
    EXPECT_EQ(screens[0].frame, (Rect{0, 0, 1280, 1024}));
    // The left monitor's top is 100 px above the primary's: y up, its frame reaches 1124.
    EXPECT_EQ(screens[1].frame, (Rect{-1920, 44, 1920, 1080}));
    EXPECT_DOUBLE_EQ(topInset(screens[1]), 28);
    EXPECT_DOUBLE_EQ(topInset(screens[0]), 0);
    EXPECT_EQ(screens[1].number, 11u);

    // At a backing scale of 2 the same monitors are half as many points.
    const auto scaled = screensFrom(monitors, {topPanel(28, 0, 1919)}, 3200, 1124, 2);
    EXPECT_EQ(scaled[1].frame, (Rect{-960, 22, 960, 540}));
    EXPECT_DOUBLE_EQ(topInset(scaled[1]), 14);
    EXPECT_EQ(scaled[1].backingScale, 2);
}

TEST(X11ScreenList, IdentifiersAreStableUuidsThatTellMonitorsApart) {
    const auto a = displayIdentifier("DP-1", "edid-a");
    EXPECT_EQ(a, displayIdentifier("DP-1", "edid-a"));
    EXPECT_NE(a, displayIdentifier("DP-1", "edid-b"));
    EXPECT_NE(a, displayIdentifier("DP-2", "edid-a"));
    EXPECT_EQ(a.size(), 36u);
    EXPECT_EQ(a, QString::fromStdString(a).toUpper().toStdString());
    // Without a primary flag the monitor at the root's origin is primary.
    const auto screens = screensFrom(
        {{"B", 2, false, Rect(1920, 0, 800, 600), ""}, {"A", 1, false, Rect(0, 0, 1920, 1080), ""}}, {}, 2720,
        1080, 1);
    EXPECT_EQ(screens[0].name, "A");
    EXPECT_TRUE(screensFrom({}, {}, 0, 0, 1).empty());
}

}  // namespace
}  // namespace velaro
