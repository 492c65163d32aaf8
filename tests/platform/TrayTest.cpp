// The Qt tray offscreen: how clicks are told apart, where popups go, the status icons, the menu's items and
// what the popover reports instead of closing itself.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>

#include "platform/linux/QtTray.h"
#include "support/FakeScreens.h"

namespace velaro {
namespace {

TEST(TrayPopupPosition, HangsUnderThePanelCentredOnTheIconOrFromItsLeftEdge) {
    const QRect screen(0, 0, 1920, 1080);
    const QRect icon(1500, 4, 20, 20);
    EXPECT_EQ(trayPopupPosition(icon, QSize(360, 500), screen, 28, true), QPoint(1509 - 180, 28));
    EXPECT_EQ(trayPopupPosition(icon, QSize(200, 100), screen, 28, false), QPoint(1500, 28));
}

TEST(TrayPopupPosition, StaysOnTheIconsScreen) {
    const QRect right(1920, 0, 1280, 1024);
    // An icon at the far right edge: the popover is pushed left to fit.
    EXPECT_EQ(trayPopupPosition(QRect(3190, 2, 10, 20), QSize(360, 500), right, 30, true),
              QPoint(3200 - 360, 30));
    // At the far left edge of the second screen it does not spill onto the first.
    EXPECT_EQ(trayPopupPosition(QRect(1921, 2, 10, 20), QSize(360, 500), right, 30, true), QPoint(1920, 30));
    // Wider than the screen: the left edge stays visible.
    EXPECT_EQ(trayPopupPosition(QRect(2000, 2, 10, 20), QSize(2000, 500), right, 30, true), QPoint(1920, 30));
}

TEST(StatusIcons, AreMasksOfEighteenPointsBuiltOnce) {
    for (const auto which : {StatusIcon::on, StatusIcon::off}) {
        const QIcon& icon = statusIcon(which);
        EXPECT_TRUE(icon.isMask());
        EXPECT_EQ(icon.actualSize(QSize(18, 18)), QSize(18, 18));
        EXPECT_FALSE(icon.pixmap(18).isNull());
        EXPECT_EQ(&statusIcon(which), &icon);
        EXPECT_EQ(statusIcon(which).cacheKey(), icon.cacheKey());
    }
    // The master-off look differs from the on look.
    EXPECT_NE(statusIcon(StatusIcon::on).pixmap(18).toImage(),
              statusIcon(StatusIcon::off).pixmap(18).toImage());
}

TEST(QtTrayClicks, LeftDoubleAndContextClicksReachTheShellAsLeftAndRight) {
    QtTray tray;
    std::vector<TrayClick> clicks;
    auto sub = tray.clicks().sink([&](const TrayClick& c) { clicks.push_back(c); });
    emit tray.icon().activated(QSystemTrayIcon::Trigger);
    emit tray.icon().activated(QSystemTrayIcon::DoubleClick);
    emit tray.icon().activated(QSystemTrayIcon::Context);
    emit tray.icon().activated(QSystemTrayIcon::MiddleClick);
    ASSERT_EQ(clicks.size(), 3u);
    EXPECT_EQ(clicks[0].button, TrayButton::left);
    EXPECT_EQ(clicks[1].button, TrayButton::left);
    EXPECT_EQ(clicks[2].button, TrayButton::right);
}

TEST(QtTrayAppearance, FollowsEachChange) {
    QtTray tray;
    tray.setAppearance({StatusIcon::on, "Velaro — Enabled", "Velaro", "Enabled"});
    EXPECT_EQ(tray.icon().toolTip(), QString::fromUtf8("Velaro — Enabled"));
    EXPECT_EQ(tray.icon().icon().cacheKey(), statusIcon(StatusIcon::on).cacheKey());
    tray.setAppearance({StatusIcon::off, "Velaro — Disabled", "Velaro", "Disabled"});
    EXPECT_EQ(tray.icon().toolTip(), QString::fromUtf8("Velaro — Disabled"));
    EXPECT_EQ(tray.icon().icon().cacheKey(), statusIcon(StatusIcon::off).cacheKey());
    EXPECT_EQ(tray.appearance().accessibilityValue, "Disabled");
}

TEST(QtTrayAppearance, ShowsTheAppsOwnIconsUntilTheDesktopsAreAskedFor) {
    QtTray tray;
    tray.show({StatusIcon::off, "Velaro — Disabled", "Velaro", "Disabled"});
    EXPECT_EQ(tray.icon().icon().cacheKey(), bundledStatusIcon(StatusIcon::off).cacheKey());
    tray.setAppearance({StatusIcon::on, "Velaro — Enabled", "Velaro", "Enabled"});
    EXPECT_EQ(tray.icon().icon().cacheKey(), bundledStatusIcon(StatusIcon::on).cacheKey());
    tray.useDesktopIcons();
    EXPECT_EQ(tray.icon().icon().cacheKey(), statusIcon(StatusIcon::on).cacheKey());
    tray.setAppearance({StatusIcon::off, "Velaro — Disabled", "Velaro", "Disabled"});
    EXPECT_EQ(tray.icon().icon().cacheKey(), statusIcon(StatusIcon::off).cacheKey());
    // Where the theme has no status icons of ours, its icons are the app's own: the switch shows the very
    // same pictures.
    if (QIcon::fromTheme(QStringLiteral("velaro-status-on")).isNull()) {
        EXPECT_EQ(statusIcon(StatusIcon::on).cacheKey(), bundledStatusIcon(StatusIcon::on).cacheKey());
    }
}

TEST(QtTrayPlacement, WithoutAnIconPlaceMenusHangFromThePointer) {
    // Offscreen, as on StatusNotifierItem hosts, the tray never says where the icon is.
    QtTray tray;
    EXPECT_FALSE(tray.iconGeometry());
    QCursor::setPos(QPoint(120, 7));
    EXPECT_EQ(tray.anchor(), QRect(QCursor::pos(), QSize(1, 1)));
}

TEST(QtTrayPlacement, ThePanelEndsWhereEachMonitorsTopStrutDoes) {
    const QRect primary = QGuiApplication::primaryScreen()->geometry();
    const double h = primary.height();
    test::FakeScreens screens;
    // The primary with a 28-point panel, and a taller monitor to its right, top-aligned, with a 40-point one.
    screens.setScreens({test::FakeScreens::make("a", Rect{0, 0, double(primary.width()), h}, 28),
                        test::FakeScreens::make("b", Rect{double(primary.width()), h - 900, 1200, 900}, 40)});
    QtTray tray(&screens);
    EXPECT_EQ(tray.panelBottom(QPoint(10, 5)), primary.top() + 28);
    EXPECT_EQ(tray.panelBottom(QPoint(primary.width() + 10, 5)), primary.top() + 40);
}

TEST(QtTrayPlacement, TheWorkAreaRunsFromUnderTheTopPanelToAboveABottomOne) {
    const QRect primary = QGuiApplication::primaryScreen()->geometry();
    const double h = primary.height();
    test::FakeScreens screens;
    auto withBottomPanel = test::FakeScreens::make("a", Rect{0, 0, double(primary.width()), h}, 28);
    withBottomPanel.visibleFrame = Rect{0, 36, double(primary.width()), h - 28 - 36};
    screens.setScreens({withBottomPanel});
    QtTray tray(&screens);
    EXPECT_EQ(tray.workArea(QPoint(10, 5)),
              QRect(primary.left(), primary.top() + 28, primary.width(), primary.height() - 28 - 36));
}

QMenu* visibleMenu() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* menu = qobject_cast<QMenu*>(w); menu && menu->isVisible()) return menu;
    return nullptr;
}

TEST(QtTrayMenu, ShowsTheItemsAndRunsTheChosenOneAfterClosing) {
    QtTray tray;
    int settings = 0, quit = 0;
    std::vector<TrayMenuItem> items;
    items.push_back({"Settings…", "gearshape", [&] { ++settings; }});
    items.push_back({"Check for Updates…", "arrow.triangle.2.circlepath", [] {}, false});
    items.push_back(TrayMenuItem::makeSeparator());
    items.push_back({"Quit", "power", [&] { ++quit; }});
    tray.popUpMenu(std::move(items));

    QMenu* menu = visibleMenu();
    ASSERT_NE(menu, nullptr);
    const auto actions = menu->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[0]->text(), QString::fromUtf8("Settings…"));
    EXPECT_FALSE(actions[1]->isEnabled());
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_EQ(actions[3]->text(), "Quit");
    // Under the panel of the screen it was opened on.
    EXPECT_GE(menu->pos().y(), QGuiApplication::primaryScreen()->availableGeometry().top());

    actions[0]->trigger();
    EXPECT_EQ(settings, 0) << "the action must wait until the menu has closed";
    QCoreApplication::processEvents();
    EXPECT_EQ(settings, 1);
    EXPECT_EQ(quit, 0);
    menu->close();
}

class LabelContent final : public TrayPopoverContent {
public:
    LabelContent() { label.setFixedSize(360, 240); }
    QWidget* widget() override { return &label; }
    void setAvailableHeight(int points) override { availableHeights.push_back(points); }
    QLabel label{"content"};
    std::vector<int> availableHeights;
};

QWidget* popupWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowType() == Qt::Popup && w->isVisible() && !qobject_cast<QMenu*>(w)) return w;
    return nullptr;
}

TEST(QtTrayPopover, ShowsTheContentUnderThePanelAndReportsInsteadOfClosing) {
    QtTray tray;
    auto content = std::make_shared<LabelContent>();
    auto popover = tray.makePopover(content);
    std::vector<Point> dismissals;
    auto sub = popover->outsideClicks().sink([&](Point p) { dismissals.push_back(p); });

    popover->show();
    popover->show();
    ASSERT_TRUE(popover->isShown());
    QWidget* window = popupWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->size(), QSize(360, 240));
    EXPECT_EQ(window->pos().y(), tray.panelBottom(tray.anchor().center()));
    EXPECT_EQ(content->label.window(), window);
    ASSERT_FALSE(content->availableHeights.empty()) << "told the room before it shows";
    EXPECT_EQ(content->availableHeights.back(), tray.workArea(tray.anchor().center()).height());

    // A press inside is the content's own business.
    QMouseEvent inside(QEvent::MouseButtonPress, QPointF(10, 10), window->mapToGlobal(QPointF(10, 10)),
                       Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &inside);
    EXPECT_TRUE(dismissals.empty());

    // A press outside is reported and the popover stays until the shell closes it.
    QMouseEvent outside(QEvent::MouseButtonPress, QPointF(-50, 400), window->mapToGlobal(QPointF(-50, 400)),
                        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &outside);
    ASSERT_EQ(dismissals.size(), 1u);
    EXPECT_TRUE(popover->isShown());

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(window, &escape);
    EXPECT_EQ(dismissals.size(), 2u);
    EXPECT_TRUE(popover->isShown());

    // Closing on request is not a dismissal.
    popover->close();
    EXPECT_FALSE(popover->isShown());
    EXPECT_EQ(dismissals.size(), 2u);
}

TEST(QtTrayPopover, APopupClosedByQtIsReportedSoTheShellStaysInStep) {
    QtTray tray;
    auto popover = tray.makePopover(std::make_shared<LabelContent>());
    int dismissals = 0;
    auto sub = popover->outsideClicks().sink([&](Point) { ++dismissals; });
    popover->show();
    ASSERT_NE(popupWindow(), nullptr);
    popupWindow()->close();
    EXPECT_EQ(dismissals, 1);
    EXPECT_FALSE(popover->isShown());
}

TEST(QtTrayPopover, FollowsItsContentsSizeAndStaysUnderThePanel) {
    // Away from the screen's edges, so that only centring decides where it goes.
    QCursor::setPos(QGuiApplication::primaryScreen()->geometry().center().x(), 5);
    QtTray tray;
    auto content = std::make_shared<LabelContent>();
    auto popover = tray.makePopover(content);
    popover->show();
    QWidget* window = popupWindow();
    ASSERT_NE(window, nullptr);
    const int centre = window->geometry().center().x();
    content->label.setFixedSize(200, 500);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(window->size(), QSize(200, 500));
    EXPECT_EQ(window->pos().y(), tray.panelBottom(tray.anchor().center()));
    EXPECT_LE(std::abs(window->geometry().center().x() - centre), 1);
    popover->close();
}

TEST(QtTrayPopover, GivesTheContentBackWhenDestroyed) {
    QtTray tray;
    auto content = std::make_shared<LabelContent>();
    {
        auto popover = tray.makePopover(content);
        popover->show();
    }
    EXPECT_EQ(content->label.parentWidget(), nullptr);
    EXPECT_EQ(popupWindow(), nullptr);
}

}  // namespace
}  // namespace velaro
