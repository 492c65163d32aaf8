// The status icon in the test desktop's tray: it docks in the panel, real clicks on it arrive as left and
// right clicks, the popover hangs under the panel at the icon and reports clicks outside it, and the menu's
// items run.
#include <QApplication>
#include <QLabel>
#include <QMenu>

#include "e2e/E2eSupport.h"
#include "platform/linux/QtTray.h"

namespace velaro::e2e {
namespace {

constexpr int kPanelHeight = 28;

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        tray = std::make_unique<QtTray>();
        sub = tray->clicks().sink([this](const TrayClick& c) { clicks.push_back(c); });
        tray->show({StatusIcon::on, "Velaro — Enabled", "Velaro", "Enabled"});
        ASSERT_TRUE(waitUntil([&] { return tray->iconGeometry().has_value(); })) << "the icon never docked";
        icon = *tray->iconGeometry();
    }

    std::unique_ptr<QtTray> tray;
    Subscription sub;
    std::vector<TrayClick> clicks;
    QRect icon;
};

TEST_F(TrayTest, TheIconDocksInThePanelAndIsDrawn) {
    EXPECT_GE(icon.top(), 0);
    EXPECT_LE(icon.bottom(), kPanelHeight - 1);
    EXPECT_GT(icon.left(), 1920 / 2) << "the tray sits at the panel's right end";
    // The icon's light strokes stand out from the blue desktop seen through the transparent panel.
    const auto drawn = [&](const QImage& shot) {
        for (int y = icon.top(); y <= icon.bottom(); ++y)
            for (int x = icon.left(); x <= icon.right(); ++x)
                if (shot.pixelColor(x, y).lightness() > 200) return true;
        return false;
    };
    EXPECT_TRUE(drawn(screenshotWhen(drawn))) << "no icon pixels in the tray";
}

TEST_F(TrayTest, RealClicksArriveAsLeftAndRightClicks) {
    ASSERT_TRUE(click(icon.center().x(), icon.center().y(), 1).finished);
    ASSERT_TRUE(waitUntil([&] { return clicks.size() == 1; }));
    EXPECT_EQ(clicks[0].button, TrayButton::left);
    EXPECT_FALSE(clicks[0].control);
    ASSERT_TRUE(click(icon.center().x(), icon.center().y(), 3).finished);
    ASSERT_TRUE(waitUntil([&] { return clicks.size() == 2; }));
    EXPECT_EQ(clicks[1].button, TrayButton::right);
}

class ColourContent final : public TrayPopoverContent {
public:
    ColourContent() {
        label.setFixedSize(300, 200);
        label.setStyleSheet("background: #20c040");
    }
    QWidget* widget() override { return &label; }
    QLabel label;
};

TEST_F(TrayTest, ThePopoverHangsUnderThePanelAtTheIconAndReportsOutsideClicks) {
    auto content = std::make_shared<ColourContent>();
    auto popover = tray->makePopover(content);
    std::vector<Point> outside;
    auto outsideSub = popover->outsideClicks().sink([&](Point p) { outside.push_back(p); });
    popover->show();
    QWidget* window = content->label.window();
    ASSERT_TRUE(waitUntil([&] { return window->isVisible(); }));
    EXPECT_EQ(window->geometry().top(), kPanelHeight);
    // Centred under the icon, unless that would push it off the screen's right edge.
    EXPECT_EQ(window->geometry().left(), std::min(icon.center().x() - 150, 1920 - 300));
    EXPECT_LE(window->geometry().left(), icon.center().x());
    EXPECT_GE(window->geometry().right(), icon.center().x());
    const QImage shot = screenshotWhen([&](const QImage& s) {
        return closeTo(s.pixelColor(window->geometry().center()), QColor(0x20, 0xc0, 0x40), 8);
    });
    EXPECT_TRUE(closeTo(shot.pixelColor(window->geometry().center()), QColor(0x20, 0xc0, 0x40), 8));

    // The popup holds the pointer: a click on the icon is still the icon's, not a click outside.
    ASSERT_TRUE(click(icon.center().x(), icon.center().y(), 1).finished);
    ASSERT_TRUE(waitUntil([&] { return !clicks.empty(); }));
    EXPECT_TRUE(outside.empty());

    ASSERT_TRUE(click(300, 700, 1).finished);
    ASSERT_TRUE(waitUntil([&] { return !outside.empty(); }));
    // Global points: y grows upwards from the primary screen's bottom.
    EXPECT_NEAR(outside[0].x, 300, 1);
    EXPECT_NEAR(outside[0].y, 1080 - 700, 1);
    EXPECT_TRUE(popover->isShown()) << "the shell, not the popover, decides to close";
    popover->close();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(TrayTest, TheMenuOpensUnderTheIconAndRunsTheChosenItem) {
    int chosen = 0;
    std::vector<TrayMenuItem> items;
    items.push_back({"Settings…", "gearshape", [&] { ++chosen; }});
    items.push_back(TrayMenuItem::makeSeparator());
    items.push_back({"Quit", "power", [] {}});
    tray->popUpMenu(std::move(items));
    QMenu* menu = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* m = qobject_cast<QMenu*>(w); m && m->isVisible()) menu = m;
        return menu != nullptr;
    }));
    EXPECT_EQ(menu->geometry().top(), kPanelHeight);
    EXPECT_LE(menu->geometry().right(), 1919);
    const QRect item = menu->actionGeometry(menu->actions().first()).translated(menu->geometry().topLeft());
    ASSERT_TRUE(click(item.center().x(), item.center().y(), 1).finished);
    ASSERT_TRUE(waitUntil([&] { return chosen == 1; }));
}

}  // namespace
}  // namespace velaro::e2e
