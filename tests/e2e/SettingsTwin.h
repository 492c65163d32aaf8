// What the desktop tests of the settings window share: opening the real window from the tray menu, finding
// its sidebar tiles in a screenshot, and the "twin" — the same window built in the test process over the same
// stored settings at the real window's size. Both processes lay the same widgets out with the same fonts and
// style, so the twin says where the real window's controls lie, relative to its first tile.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QLine>
#include <QPoint>
#include <QRect>
#include <memory>
#include <vector>

#include "base/QtMainLoop.h"
#include "e2e/TrayApp.h"
#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"
#include "support/FakeAppCatalog.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeUpdater.h"
#include "support/FakeWorkspace.h"
#include "support/WidgetSearch.h"
#include "ui/settings/SettingsNavigation.h"
#include "ui/settings/pages/UpdateCheckModel.h"

class QScrollArea;

namespace velaro {
class SettingsRootView;
class SettingsSidebar;
class SettingsWindow;
}  // namespace velaro

namespace velaro::e2e {

// The settings window's title, as an xdotool search names it.
QStringList settingsWindowSearch();
// Opens the settings window from the tray menu's "Settings…" and returns its place (empty when it never
// showed).
QRect openSettingsFromTrayMenu(TrayApp& app);

// The sidebar's tiles in a screenshot of the window: their vertical runs down one column, top to bottom.
struct Tiles {
    int left = -1;            // the first tile's left edge on screen
    std::vector<QLine> runs;  // each tile's extent down the column (x is the column)

    bool complete() const { return runs.size() == 12; }
    // A point on a tile's row, `dx` right of the tile's left edge.
    QPoint row(std::size_t index, int dx) const { return {left + dx, runs[index].center().y()}; }
};
Tiles findTiles(const QImage& shot, const QRect& window);
// Waits for a screenshot that shows all twelve tiles of the window.
Tiles waitForTiles(const QRect& window, QImage* shot = nullptr);

class SettingsTwin;

// A test of the real settings window: the app launched over its stored settings, its window opened from the
// tray menu with all its tiles on screen.
class SettingsWindowTest : public ::testing::Test {
protected:
    // Launches the app over `json` and opens the window; a failure or a skip ends the test.
    void openOver(const QByteArray& json);

    // Shows another page: a click on its sidebar row, then the time the page takes to appear.
    void selectPage(SettingsCategory category);
    // Turns the wheel over the real window's page pane (where the twin's lies) until it can go no further.
    void scrollPageToEnd(const SettingsTwin& twin);
    // The app's settings file as it stands, and a data value of it (stored as {"$data": base64}).
    QJsonObject storedSettings() const;
    QByteArray storedData(const QString& key) const;
    // The folder the app keeps its configuration in (its XDG_CONFIG_HOME).
    QString configHome() const;
    // Dark pixels (text) in a rectangle of the screen.
    static int inkIn(const QImage& shot, const QRect& area);

    TrayApp app;
    QRect window;
    Tiles tiles;
};

class SettingsTwin {
public:
    // Built over the stored settings `json`, showing `page`, `size` as the real window is.
    SettingsTwin(QSize size, const QByteArray& json, SettingsCategory page);
    ~SettingsTwin();

    // Lets the twin's loop run for a while, so that changes of its settings land and its layout settles.
    void settle();

    // Scrolls the page to its end, as the real window is after enough wheel turns over its page.
    void scrollToEnd();
    // The scrolling page pane, in the window.
    QRect detailPane() const;

    // A tile's top-left corner in the window.
    QPoint tile(SettingsCategory category) const;
    // A widget's centre and rectangle in the window.
    QPoint centreOf(const QWidget* widget) const;
    QRect rectOf(const QWidget* widget) const;
    // Where, on screen, a point of the twin lies in the real window whose tiles are `tiles`.
    QPoint onScreen(const Tiles& tiles, QPoint inWindow) const;

    SettingsRootView& root() const { return *root_; }
    QWidget* currentPage() const;
    // The shown page as its own class (the page itself, or the one the root view wrapped).
    template <class T>
    T* page() const {
        if (auto* page = dynamic_cast<T*>(currentPage())) return page;
        return test::findWidget<T>(currentPage());
    }
    OverlaySettings& settings() { return settings_; }
    // The apps the twin's Excluded Apps page knows (none running).
    test::FakeAppCatalog& catalog() { return catalog_; }

private:
    // The detail column's scroll area: the pane named after the page it shows.
    QScrollArea* detailScroll() const;

    QtMainLoop loop_;
    test::FakeAppCatalog catalog_;
    test::FakeWorkspace workspace_;
    test::FakeDefaultsStore defaults_;
    OverlaySettings settings_;
    ProfileManager profiles_;
    test::FakeUpdater updater_;
    UpdateCheckModel updateCheck_;
    Published<bool> loginEnabled_{false};
    SettingsNavigation navigation_;
    std::unique_ptr<SettingsWindow> window_;
    SettingsRootView* root_ = nullptr;
};

}  // namespace velaro::e2e
