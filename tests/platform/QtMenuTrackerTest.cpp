// The application-wide menu filter: one begin for a menu and its submenus, one end when the last closes,
// menus destroyed while open, and widgets that are not menus.
#include "platform/linux/QtMenuTracker.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QWidget>

#include <memory>
#include <vector>

namespace velaro {
namespace {

class QtMenuTrackerTest : public ::testing::Test {
protected:
    QtMenuTrackerTest() {
        sub = tracker.events().sink([this](MenuTrackingEvent e) { seen.push_back(e); });
    }
    QtMenuTracker tracker{*QCoreApplication::instance()};
    std::vector<MenuTrackingEvent> seen;
    Subscription sub;
};

using E = MenuTrackingEvent;

TEST_F(QtMenuTrackerTest, AMenuWithASubmenuIsOneTrackingSession) {
    QMenu menu;
    menu.addAction("One");
    QMenu* sub = menu.addMenu("More");
    sub->addAction("Two");
    menu.show();
    EXPECT_EQ(seen, std::vector<E>{E::began});
    sub->show();
    sub->hide();
    EXPECT_EQ(seen, std::vector<E>{E::began});
    sub->show();
    menu.hide();  // the parent closes first; the submenu is still up
    EXPECT_EQ(seen, std::vector<E>{E::began});
    sub->hide();
    EXPECT_EQ(seen, (std::vector<E>{E::began, E::ended}));
    menu.show();
    menu.hide();
    EXPECT_EQ(seen, (std::vector<E>{E::began, E::ended, E::began, E::ended}));
}

TEST_F(QtMenuTrackerTest, AMenuDestroyedWhileOpenEndsTracking) {
    auto menu = std::make_unique<QMenu>();
    menu->addAction("One");
    menu->show();
    menu.reset();
    EXPECT_EQ(seen, (std::vector<E>{E::began, E::ended}));
    QMenu other;
    other.show();
    other.hide();
    EXPECT_EQ(seen.size(), 4u);
}

TEST_F(QtMenuTrackerTest, OtherWidgetsAndMenusOpenedBeforeTheTrackerAreIgnored) {
    QWidget plain;
    plain.show();
    plain.hide();
    EXPECT_TRUE(seen.empty());

    QMenu menu;
    menu.show();
    QtMenuTracker late{*QCoreApplication::instance()};
    std::vector<E> lateSeen;
    auto s = late.events().sink([&](E e) { lateSeen.push_back(e); });
    menu.hide();  // closing a menu it never saw open must not end anything for the late tracker
    EXPECT_TRUE(lateSeen.empty());
    EXPECT_EQ(seen, (std::vector<E>{E::began, E::ended}));
}

}  // namespace
}  // namespace velaro
