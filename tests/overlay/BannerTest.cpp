// The "Overlay disabled" banner: its window, its place below the main screen's panel, its fades and its
// drawing.
#include "overlay/OverlayDisabledBanner.h"

#include <gtest/gtest.h>

#include <QPainter>

#include "support/FakeOverlayWindowHost.h"
#include "support/FakeScreens.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

struct BannerTest : ::testing::Test {
    test::VirtualLoop loop;
    test::FakeOverlayWindowHost host{loop};
    test::FakeScreens screens;
    BannerTest() { screens.setScreens({test::FakeScreens::make("A", Rect{0, 0, 1512, 982}, 37, 1)}); }
};

TEST_F(BannerTest, StartsHiddenOutOfTheWayAboveTheOverlay) {
    ReminderBannerWindow banner(host, loop, screens);
    EXPECT_FALSE(banner.window().isVisible());
    EXPECT_DOUBLE_EQ(banner.window().alphaValue(), 0.0);
    EXPECT_EQ(banner.window().level(), OverlayWindowLevel::banner);
    EXPECT_GT(OverlayWindowLevel::banner, OverlayWindowLevel::panel);
    EXPECT_EQ(banner.window().frame().size.width, 220);
    EXPECT_EQ(banner.window().frame().size.height, 84);
}

TEST_F(BannerTest, SitsCentredEightPointsBelowThePanelOfTheMainScreen) {
    ReminderBannerWindow banner(host, loop, screens);
    banner.show(3.5);
    const Rect f = banner.window().frame();
    const Size ideal = ReminderBannerView::idealSize();
    EXPECT_EQ(f.size.width, ideal.width);
    EXPECT_EQ(f.size.height, ideal.height);
    EXPECT_EQ(f.x(), std::round(756 - ideal.width / 2));
    EXPECT_DOUBLE_EQ(982 - f.maxY(), 37 + 8) << "its top 45 pt below the screen's top";

    // On a second, main screen to the right it follows that screen.
    screens.setScreens({test::FakeScreens::make("A", Rect{0, 0, 1512, 982}, 37, 1),
                        test::FakeScreens::make("B", Rect{1512, 0, 1000, 800}, 24, 2)},
                       1);
    banner.show(3.5);
    EXPECT_EQ(banner.window().frame().x(), std::round(1512 + 500 - ideal.width / 2));
    EXPECT_DOUBLE_EQ(800 - banner.window().frame().maxY(), 24 + 8);
}

TEST_F(BannerTest, FadesInThenOutAfterTheDurationAndOrdersOut) {
    ReminderBannerWindow banner(host, loop, screens);
    banner.show(3.5);
    EXPECT_TRUE(banner.window().isVisible());
    loop.advance(0.25);
    EXPECT_DOUBLE_EQ(banner.window().alphaValue(), 1.0);
    loop.advance(3.25);
    EXPECT_DOUBLE_EQ(banner.window().alphaValue(), 1.0) << "still there at 3.5 s";
    loop.advance(0.1);
    EXPECT_LT(banner.window().alphaValue(), 1.0);
    EXPECT_TRUE(banner.window().isVisible());
    loop.advance(0.2);
    EXPECT_DOUBLE_EQ(banner.window().alphaValue(), 0.0);
    EXPECT_FALSE(banner.window().isVisible());

    // It can be shown again.
    banner.show(1.0);
    loop.advance(0.3);
    EXPECT_TRUE(banner.window().isVisible());
    EXPECT_DOUBLE_EQ(banner.window().alphaValue(), 1.0);
}

TEST_F(BannerTest, ASecondShowKeepsTheFirstFadeOut) {
    ReminderBannerWindow banner(host, loop, screens);
    banner.show(3.5);
    loop.advance(2.0);
    banner.show(3.5);
    loop.advance(1.5 + 0.3);
    EXPECT_FALSE(banner.window().isVisible()) << "gone when the first delay expired";
    loop.advance(2.0);
    EXPECT_FALSE(banner.window().isVisible());
}

TEST_F(BannerTest, WithoutAMainScreenItStillFadesAtItsLastPlace) {
    ReminderBannerWindow banner(host, loop, screens);
    screens.setScreens({}, -1);
    banner.show(0.5);
    EXPECT_EQ(banner.window().frame().x(), 0);
    loop.advance(0.3);
    EXPECT_DOUBLE_EQ(banner.window().alphaValue(), 1.0);
    loop.advance(0.5);
    EXPECT_FALSE(banner.window().isVisible());
}

TEST_F(BannerTest, GoingAwayDuringTheFadesLeavesNothingScheduledBehind) {
    auto banner = std::make_unique<ReminderBannerWindow>(host, loop, screens);
    banner->show(0.1);
    loop.advance(0.2);
    banner.reset();
    loop.advance(1.0);  // the fade-out's completion finds the banner gone
    EXPECT_TRUE(host.allWindows().empty());
}

TEST_F(BannerTest, DrawsALegibleCapsuleInsideItsMargin) {
    const Size size = ReminderBannerView::idealSize();
    QImage image(int(size.width), int(size.height), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        ReminderBannerView::paint(p, size);
    }
    EXPECT_EQ(qAlpha(image.pixel(4, int(size.height / 2))), 0) << "the outer margin stays clear";
    EXPECT_GT(qAlpha(image.pixel(int(size.width / 2), 18)), 150) << "the plate";
    // Some light ink (symbol and text) on the dark plate.
    int light = 0;
    for (int x = 16; x < int(size.width) - 16; ++x)
        if (qGray(image.pixel(x, int(size.height / 2))) > 180) ++light;
    EXPECT_GT(light, 5);
    EXPECT_GT(size.width, 100) << "room for the text";
}

}  // namespace
}  // namespace velaro
