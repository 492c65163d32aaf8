// The settings window's tray opening, tile finding and layout twin.
#include "e2e/SettingsTwin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScrollArea>
#include <QScrollBar>
#include <algorithm>
#include <utility>

#include "e2e/E2eSupport.h"
#include "platform/linux/AppcastUpdater.h"
#include "sampling/ExcludedAppsModel.h"
#include "support/RowSearch.h"
#include "ui/settings/SettingsRootView.h"
#include "ui/settings/SettingsSidebar.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/pages/AboutSection.h"

namespace velaro::e2e {
namespace {

bool isAccent(QColor c) {
    return c.red() > 200 && c.green() > 50 && c.green() < 140 && c.blue() < 60;
}

PlistValue storedJson(const QByteArray& json) {
    PlistValue stored = PlistValue::parse(json.toStdString(), nullptr, false);
    return stored.is_object() ? stored : PlistValue::object();
}

}  // namespace

QStringList settingsWindowSearch() {
    return {QStringLiteral("--name"), QStringLiteral("^Velaro Settings$")};
}

QRect openSettingsFromTrayMenu(TrayApp& app) {
    app.rightClickIcon();
    EXPECT_TRUE(waitUntil([&] { return app.popupUnderPanel().has_value(); })) << "no menu appeared";
    pressKeys({QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")});  // "Settings…"
    std::vector<QRect> windows;
    EXPECT_TRUE(waitUntil([&] {
        windows = visibleWindows(settingsWindowSearch());
        return !windows.empty();
    })) << "no window titled \"Velaro Settings\"";
    return windows.empty() ? QRect() : windows.front();
}

Tiles findTiles(const QImage& shot, const QRect& window) {
    Tiles found;
    const QRect area = window.adjusted(-2, -2, 2, 2).intersected(shot.rect());
    // The leftmost accent pixel of the window's left part is a tile's left edge.
    for (int x = area.left(); x < area.left() + 80 && found.left < 0; ++x)
        for (int y = area.top(); y <= area.bottom(); ++y)
            if (isAccent(shot.pixelColor(x, y))) {
                found.left = x;
                break;
            }
    if (found.left < 0) return found;
    const int column = found.left + 3;
    int start = -1;
    for (int y = area.top(); y <= area.bottom() + 1; ++y) {
        const bool inTile = y <= area.bottom() && isAccent(shot.pixelColor(column, y));
        if (inTile && start < 0) start = y;
        if (!inTile && start >= 0) {
            if (y - start >= 10) found.runs.emplace_back(column, start, column, y - 1);
            start = -1;
        }
    }
    return found;
}

Tiles waitForTiles(const QRect& window, QImage* shot) {
    // The same tiles on two screenshots in a row: the sidebar's gaps follow the window's height, so the first
    // frames of a window still settling its size may show them elsewhere.
    Tiles tiles, before;
    const QImage last = screenshotWhen([&](const QImage& s) {
        before = std::exchange(tiles, findTiles(s, window));
        return tiles.complete() && tiles.left == before.left && tiles.runs == before.runs;
    });
    if (shot) *shot = last;
    return tiles;
}

void SettingsWindowTest::openOver(const QByteArray& json) {
    VELARO_REQUIRE_DESKTOP();
    if (!QFile::exists(TrayApp::executable()))
        GTEST_SKIP() << "the app is not built yet: " << TrayApp::executable().toStdString();
    QString why;
    ASSERT_TRUE(app.launch(json, &why)) << why.toStdString();
    window = openSettingsFromTrayMenu(app);
    ASSERT_FALSE(window.isEmpty());
    tiles = waitForTiles(window);
    ASSERT_TRUE(tiles.complete()) << "the window never showed its twelve tiles";
}

void SettingsWindowTest::selectPage(SettingsCategory category) {
    const auto index =
        std::size_t(std::find(allSettingsCategories.begin(), allSettingsCategories.end(), category) -
                    allSettingsCategories.begin());
    const QPoint row = tiles.row(index, 80);
    click(row.x(), row.y());
    // The row shows selected once the page is up: far right in the row, away from its title.
    const QPoint probe = tiles.row(index, 170);
    const QPoint other = tiles.row(index == 0 ? 1 : 0, 170);
    screenshotWhen([&](const QImage& s) { return !closeTo(s.pixelColor(probe), s.pixelColor(other), 6); });
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
}

void SettingsWindowTest::scrollPageToEnd(const SettingsTwin& twin) {
    const QPoint pane = twin.onScreen(tiles, twin.detailPane().center());
    movePointer(pane);
    QImage before = screenshot().copy(window);
    for (int turns = 0; turns < 40; ++turns) {
        for (int i = 0; i < 5; ++i) click(pane.x(), pane.y(), 5);
        waitUntil([] { return false; }, std::chrono::milliseconds(150));
        const QImage after = screenshot().copy(window);
        if (after == before) return;
        before = after;
    }
}

QJsonObject SettingsWindowTest::storedSettings() const {
    return app.storedSettings();
}

QByteArray SettingsWindowTest::storedData(const QString& key) const {
    const QString base64 = storedSettings().value(key).toObject().value(QStringLiteral("$data")).toString();
    return QByteArray::fromBase64(base64.toLatin1());
}

QString SettingsWindowTest::configHome() const {
    QDir dir = QFileInfo(app.settingsPath()).dir();
    dir.cdUp();
    return dir.path();
}

int SettingsWindowTest::inkIn(const QImage& shot, const QRect& area) {
    int ink = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) ink += shot.pixelColor(x, y).lightness() < 110;
    return ink;
}

SettingsTwin::SettingsTwin(QSize size, const QByteArray& json, SettingsCategory page)
    : defaults_(storedJson(json)), settings_(defaults_, loop_), profiles_(defaults_), updateCheck_(updater_) {
    // The About page lays out as the app's does: a build without an update feed says so under its button.
    updater_.hasFeed = !configuredAppcastURL().empty();
    updater_.canCheck = updater_.hasFeed;
    root_ = new SettingsRootView({
        .showWelcomeTour = [] {},
        .updateCheck = [this]() -> UpdateCheckModel& { return updateCheck_; },
        .settings = settings_,
        .loginItem = {loginEnabled_, [](bool) {}},
        .profileManager = profiles_,
        .navigation = navigation_,
        .loop = loop_,
        .makeExcludedAppsModel =
            [this] { return std::make_unique<ExcludedAppsModel>(defaults_, catalog_, workspace_, loop_); },
        .about = AboutServices{{}, {}, AppIdentity::current(), defaults_, nullptr, {}, {}},
    });
    window_ = std::make_unique<SettingsWindow>(settings_, profiles_, loop_, root_, [] {});
    window_->setAttribute(Qt::WA_DontShowOnScreen);
    window_->resize(size);
    window_->show();
    navigation_.selection = page;
    const QString title = velaro::title(page);
    // The pane is announced by the page's title once the page is shown.
    waitUntil([&] { return test::findAccessible<QScrollArea>(root_, title) != nullptr; });
    settle();
}

void SettingsTwin::settle() {
    // Deferred writes, page refreshes, slides and layout requests each take turns of the loop.
    waitUntil([] { return false; }, std::chrono::milliseconds(400));
}

SettingsTwin::~SettingsTwin() = default;

QScrollArea* SettingsTwin::detailScroll() const {
    // The root view's two scrolling columns: the sidebar and the detail pane.
    for (QScrollArea* pane : root_->findChildren<QScrollArea*>(Qt::FindDirectChildrenOnly))
        if (pane != test::findWidget<SettingsSidebar>(root_)) return pane;
    return nullptr;
}

void SettingsTwin::scrollToEnd() {
    QScrollBar* bar = detailScroll()->verticalScrollBar();
    bar->setValue(bar->maximum());
    settle();
}

QRect SettingsTwin::detailPane() const {
    return rectOf(detailScroll()->viewport());
}

QPoint SettingsTwin::tile(SettingsCategory category) const {
    SidebarRow* row = test::findWidget<SettingsSidebar>(root_)->row(category);
    return row->mapTo(window_.get(), QPoint(13, (row->height() - SidebarRow::tileSize) / 2));
}

QPoint SettingsTwin::centreOf(const QWidget* widget) const {
    return rectOf(widget).center();
}

QRect SettingsTwin::rectOf(const QWidget* widget) const {
    return QRect(widget->mapTo(window_.get(), QPoint(0, 0)), widget->size());
}

QPoint SettingsTwin::onScreen(const Tiles& tiles, QPoint inWindow) const {
    const QPoint origin = QPoint(tiles.left, tiles.runs[0].y1()) - tile(SettingsCategory::appearance);
    return origin + inWindow;
}

QWidget* SettingsTwin::currentPage() const {
    return test::shownPage(*root_);
}

}  // namespace velaro::e2e
