// The settings window's content: the sidebar's groups and rows, the page header, bounces per click, no
// selection, pages made once and kept, the 460-point page column, the overlay gate, the global-only
// cards while an app's profile is edited, and every page's sliders following the key table.
#include <gtest/gtest.h>

#include <QAbstractAnimation>
#include <QLabel>
#include <QLayout>
#include <QScrollArea>
#include <map>
#include <optional>
#include <set>

#include "sampling/ExcludedAppsModel.h"
#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"
#include "support/FakeAppCatalog.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeUpdater.h"
#include "support/FakeWorkspace.h"
#include "support/RowSearch.h"
#include "support/VirtualLoop.h"
#include "support/WidgetSearch.h"
#include "ui/settings/SettingsRootView.h"
#include "ui/settings/SettingsSidebar.h"
#include "ui/settings/kit/ResettableSlider.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/pages/GeneralPage.h"
#include "ui/settings/pages/GeneralSwitches.h"
#include "ui/settings/pages/ShortcutsSection.h"
#include "ui/settings/pages/UpdateCheckModel.h"

namespace velaro {
namespace {

// What the key table says of a number row a slider may stand for: its default and its bounds.
struct NumberRow {
    double defaultValue;
    Bounds bounds;
};
using NumberRows = std::map<std::string, NumberRow>;

template <class T, class Check>
void addNumberRow(NumberRows&, const settings_keys::Entry<T, Check>&) {}
template <class T>
void addNumberRow(NumberRows& rows, const settings_keys::Entry<T, Bounds>& row) {
    rows.emplace(row.key, NumberRow{double(row.defaultValue), row.check});
}

class RootViewTest : public ::testing::Test {
protected:
    RootViewTest() {
        profiles = std::make_unique<ProfileManager>(defaults);
        profiles->addProfile("org.example.Editor", "Editor");
        settings = std::make_unique<OverlaySettings>(defaults, loop);
        loop.runUntilIdle();
        view = std::make_unique<SettingsRootView>(SettingsRootView::Model{
            .showWelcomeTour = [this] { ++toursShown; },
            .updateCheck = [this]() -> UpdateCheckModel& { return updateCheck; },
            .settings = *settings,
            .loginItem = {loginEnabled, [this](bool on) { loginEnabled = on && !refuseLogin; }},
            .profileManager = *profiles,
            .navigation = navigation,
            .loop = loop,
            .makeExcludedAppsModel =
                [this] {
                    ++excludedAppsModelsMade;
                    return std::make_unique<ExcludedAppsModel>(defaults, catalog, workspace, loop);
                },
            .about = AboutServices{{}, {}, {}, defaults, nullptr, {}, {}},
        });
        view->resize(700, 600);
    }

    void select(std::optional<SettingsCategory> category) {
        navigation.selection = category;
        loop.runUntilIdle();
    }
    bool shows(QWidget* w) const { return w && w->isVisibleTo(view.get()); }

    // The detail column's parts as the user sees them: the scrolling pane beside the sidebar, its labels.
    QScrollArea* detailPane() const {
        for (QScrollArea* pane : view->findChildren<QScrollArea*>(Qt::FindDirectChildrenOnly))
            if (pane != test::findWidget<SettingsSidebar>(view.get())) return pane;
        return nullptr;
    }
    QWidget* shownPage() const { return test::shownPage(*view); }
    // The row is highlighted, which is also how a screen reader describes it.
    static bool selected(const SidebarRow* row) {
        return row->accessibleDescription() == QStringLiteral("selected");
    }
    // A row's symbol bounces through its one animation; each start is one bounce.
    static QAbstractAnimation* bounce(const SidebarRow* row) { return row->findChild<QAbstractAnimation*>(); }
    void countBounces() {
        for (SettingsCategory category : allSettingsCategories)
            QObject::connect(bounce(test::findWidget<SettingsSidebar>(view.get())->row(category)),
                             &QAbstractAnimation::stateChanged,
                             [this, category](QAbstractAnimation::State now, QAbstractAnimation::State) {
                                 bounces[category] += now == QAbstractAnimation::Running;
                             });
    }
    QLabel* paneLabel(const QString& text) const {
        for (QLabel* label : detailPane()->widget()->findChildren<QLabel*>())
            if (label->text() == text) return label;
        return nullptr;
    }
    std::vector<QString> shownPaneTexts() const {
        std::vector<QString> texts;
        for (QLabel* label : detailPane()->widget()->findChildren<QLabel*>())
            if (shows(label)) texts.push_back(label->text());
        return texts;
    }
    // The page's header: its title and the blurb under it.
    QWidget* pageHeader() const {
        const auto selection = navigation.selection();
        QLabel* titleLabel = selection ? paneLabel(title(*selection)) : nullptr;
        return titleLabel ? titleLabel->parentWidget() : nullptr;
    }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    test::FakeAppCatalog catalog;
    test::FakeWorkspace workspace;
    test::FakeUpdater updater;
    UpdateCheckModel updateCheck{updater};
    Published<bool> loginEnabled{false};
    bool refuseLogin = false;
    SettingsNavigation navigation;
    std::unique_ptr<ProfileManager> profiles;
    std::unique_ptr<OverlaySettings> settings;
    // Before the view: its rows' animations report to it while the view goes.
    std::map<SettingsCategory, int> bounces;
    std::unique_ptr<SettingsRootView> view;
    int toursShown = 0;
    int excludedAppsModelsMade = 0;
};

TEST_F(RootViewTest, SidebarShowsThreeGroupsOfRowsInOrderAndStartsOnAppearance) {
    SettingsSidebar& sidebar = *test::findWidget<SettingsSidebar>(view.get());
    EXPECT_EQ(sidebar.width(), 200);
    // The group headers are the sidebar's only texts that are not rows.
    const std::vector<SpacedText*> headers = test::findWidgets<SpacedText>(&sidebar);
    ASSERT_EQ(headers.size(), 3u);
    EXPECT_EQ(headers[0]->text(), QStringLiteral("Look & Feel"));
    EXPECT_EQ(headers[2]->text(), QStringLiteral("More"));
    // Top to bottom: each group's header above its rows, rows in sidebar order.
    view->show();
    int y = -1;
    std::size_t header = 0;
    for (SettingsCategory category : sidebarOrder()) {
        if (header < 3 && SettingsGroup::all()[header].items.front() == category) {
            EXPECT_GT(headers[header]->y(), y);
            y = headers[header++]->y();
        }
        SidebarRow* row = sidebar.row(category);
        EXPECT_GT(row->y(), y) << rawValue(category);
        y = row->y();
        EXPECT_EQ(row->text(), title(category));
    }

    EXPECT_TRUE(selected(sidebar.row(SettingsCategory::appearance)));
    ASSERT_TRUE(shows(paneLabel(QStringLiteral("Appearance"))));
    EXPECT_EQ(paneLabel(blurb(SettingsCategory::appearance))->parentWidget(), pageHeader());
    EXPECT_EQ(detailPane()->accessibleName(), QStringLiteral("Appearance"));
    EXPECT_NE(shownPage(), nullptr);
}

TEST_F(RootViewTest, EachClickSelectsItsPageAndBouncesOnlyItsRow) {
    SettingsSidebar& sidebar = *test::findWidget<SettingsSidebar>(view.get());
    countBounces();
    sidebar.row(SettingsCategory::shortcuts)->click();
    sidebar.row(SettingsCategory::about)->click();
    sidebar.row(SettingsCategory::shortcuts)->click();
    EXPECT_EQ(navigation.selection(), SettingsCategory::shortcuts);
    EXPECT_EQ(bounces[SettingsCategory::shortcuts], 2);
    EXPECT_EQ(bounces[SettingsCategory::about], 1);
    EXPECT_EQ(bounces[SettingsCategory::appearance], 0);
    EXPECT_EQ(bounce(sidebar.row(SettingsCategory::shortcuts))->state(), QAbstractAnimation::Running);
    EXPECT_NE(bounce(sidebar.row(SettingsCategory::appearance))->state(), QAbstractAnimation::Running);

    // The selected row again: the page stays, the symbol bounces once more.
    QWidget* page = shownPage();
    sidebar.row(SettingsCategory::shortcuts)->click();
    EXPECT_EQ(shownPage(), page);
    EXPECT_EQ(bounces[SettingsCategory::shortcuts], 3);
    EXPECT_TRUE(shows(paneLabel(QStringLiteral("Shortcuts"))));
    EXPECT_TRUE(selected(sidebar.row(SettingsCategory::shortcuts)));
    EXPECT_FALSE(selected(sidebar.row(SettingsCategory::about)));
}

TEST_F(RootViewTest, WithNothingSelectedThePaneAsksForAPage) {
    select(std::nullopt);
    EXPECT_EQ(shownPaneTexts(), std::vector<QString>{QStringLiteral("Select a category")})
        << "no header, no page: only the empty text";
    EXPECT_EQ(detailPane()->accessibleName(), QStringLiteral("Settings"));
    EXPECT_EQ(shownPage(), nullptr);
    for (SettingsCategory category : allSettingsCategories)
        EXPECT_FALSE(selected(test::findWidget<SettingsSidebar>(view.get())->row(category)));

    select(SettingsCategory::general);  // the shell opening the window at a page
    EXPECT_TRUE(shows(pageHeader()));
    EXPECT_FALSE(shows(paneLabel(QStringLiteral("Select a category"))));
    EXPECT_TRUE(shows(shownPage()));
    EXPECT_EQ(shownPage(), test::madePage(*view, SettingsCategory::general));
}

TEST_F(RootViewTest, PagesAreMadeOnceAndSwitchingMakesNoNewWidget) {
    for (SettingsCategory category : allSettingsCategories) select(category);
    const auto widgets = view->findChildren<QWidget*>().size();
    std::map<SettingsCategory, QWidget*> made;
    for (SettingsCategory category : allSettingsCategories) made[category] = test::madePage(*view, category);
    for (int i = 0; i < 100; ++i) {
        SettingsCategory category = allSettingsCategories[std::size_t(i) % allSettingsCategories.size()];
        test::findWidget<SettingsSidebar>(view.get())->row(category)->click();
        EXPECT_EQ(shownPage(), made[category]);
        for (auto& [other, page] : made) EXPECT_EQ(shows(page), other == category);
    }
    loop.runUntilIdle();
    EXPECT_EQ(view->findChildren<QWidget*>().size(), widgets);
    EXPECT_EQ(excludedAppsModelsMade, 1) << "the excluded-apps page brought its model, once";
}

TEST_F(RootViewTest, PagesAndTheirHeaderStayWithin460PointsHoweverWideTheWindow) {
    view->resize(1400, 700);
    view->show();
    for (SettingsCategory category : allSettingsCategories) {
        select(category);
        QWidget* page = shownPage();
        ASSERT_NE(page, nullptr);
        EXPECT_LE(page->width(), 460) << rawValue(category);
        EXPECT_GE(page->width(), 440) << rawValue(category) << ": the page fills its column";
        EXPECT_LE(pageHeader()->width(), 460);
        // Leading-aligned: the page starts where the header does.
        EXPECT_EQ(page->mapTo(view.get(), QPoint()).x(), pageHeader()->mapTo(view.get(), QPoint()).x());
    }
    EXPECT_GT(detailPane()->width(), 1100) << "the scrolling pane spans the detail column";
}

TEST_F(RootViewTest, ShapeAnimationAndReflectionPagesAreGatedByTheOverlaySwitch) {
    settings->overlayEnabled = false;
    for (SettingsCategory category :
         {SettingsCategory::pillShape, SettingsCategory::animation, SettingsCategory::lightReflections}) {
        select(category);
        auto* gate = dynamic_cast<SettingsOverlayGate*>(shownPage());
        ASSERT_NE(gate, nullptr) << rawValue(category);
        EXPECT_TRUE(shows(gate->notice()));
        EXPECT_FALSE(gate->content()->isEnabled());
        EXPECT_EQ(gate->notice()->layout()->contentsMargins().top(), 0) << "the notice starts the page";
    }
    select(SettingsCategory::behavior);
    ASSERT_NE(shownPage(), nullptr);
    EXPECT_EQ(dynamic_cast<SettingsOverlayGate*>(shownPage()), nullptr);

    settings->overlayEnabled = true;
    loop.runUntilIdle();
    auto* gate = dynamic_cast<SettingsOverlayGate*>(test::madePage(*view, SettingsCategory::animation));
    EXPECT_FALSE(gate->notice()->isVisibleTo(gate));
    EXPECT_TRUE(gate->content()->isEnabled());
}

TEST_F(RootViewTest, EditingAnAppDisablesTheGlobalOnlyCardsWithTheirNote) {
    select(SettingsCategory::shortcuts);
    select(SettingsCategory::general);
    auto* general = dynamic_cast<GeneralPage*>(test::madePage(*view, SettingsCategory::general));
    ASSERT_NE(general, nullptr);
    // The startup card holds the login and taskbar switches; the tour card, the tour's action.
    auto* launchAtLogin = test::findWidget<LaunchAtLoginToggle>(general);
    QWidget* startupCard = launchAtLogin->parentWidget();
    auto* note = test::findWidget<GlobalOnlyNote>(general);
    auto* shortcuts = test::findWidget<ShortcutsSection>(test::madePage(*view, SettingsCategory::shortcuts));
    auto* shortcutsNote =
        test::findWidget<GlobalOnlyNote>(test::madePage(*view, SettingsCategory::shortcuts));
    ASSERT_NE(shortcuts, nullptr);
    ASSERT_NE(shortcutsNote, nullptr);
    EXPECT_TRUE(startupCard->isEnabled());
    EXPECT_TRUE(note->isHidden());
    EXPECT_TRUE(shortcutsNote->isHidden());

    profiles->selectedScope = ProfileScope::app("org.example.Editor");
    loop.runUntilIdle();
    EXPECT_TRUE(view->isEditingApp());
    EXPECT_FALSE(startupCard->isEnabled());
    EXPECT_FALSE(launchAtLogin->row()->toggle()->isEnabled());
    EXPECT_FALSE(note->isHidden());
    EXPECT_EQ(note->text(),
              QStringLiteral("These settings apply to all apps and can't be customized per app."));
    QAbstractButton* showTour = test::buttonLabelled(general, QStringLiteral("Show Welcome Tour"));
    EXPECT_TRUE(showTour->parentWidget()->isEnabled());
    EXPECT_TRUE(showTour->isEnabled());
    EXPECT_FALSE(shortcuts->isEnabled());
    EXPECT_FALSE(shortcutsNote->isHidden());

    showTour->click();
    EXPECT_EQ(toursShown, 1);

    profiles->selectedScope = ProfileScope::global();
    loop.runUntilIdle();
    EXPECT_TRUE(startupCard->isEnabled());
    EXPECT_TRUE(shortcuts->isEnabled());
    EXPECT_TRUE(shortcutsNote->isHidden());
}

// A slider is matched to its row by the key its two ends store. Its ends store the row's bounds, and its
// double-click default, carried over the same scale, stores the row's default.
TEST_F(RootViewTest, EverySliderOverANumberOfTheKeyTableSpansItsRangeAndResetsToItsDefault) {
    NumberRows rows;
#define VELARO_NUMBER_ROW(member, Type, form, key, def, check, scope, writeBack) \
    addNumberRow(rows, settings_keys::member);
    VELARO_PERSISTED_SETTINGS(VELARO_NUMBER_ROW)
#undef VELARO_NUMBER_ROW
    for (SettingsCategory category : allSettingsCategories) select(category);

    std::set<std::string> checked;
    for (ResettableSlider* slider : test::findWidgets<ResettableSlider>(view.get())) {
        const auto storedAt = [&](int position) -> std::optional<std::pair<std::string, double>> {
            defaults.clearWrites();
            slider->setValue(position);
            loop.runUntilIdle();
            for (const auto& write : defaults.writes())
                if (rows.contains(write.key)) return std::pair(write.key, write.value.get<double>());
            return std::nullopt;
        };
        storedAt(slider->minimum());
        const auto upper = storedAt(slider->maximum());
        const auto lower = storedAt(slider->minimum());
        if (!upper) continue;  // a field of a record the table stores whole
        ASSERT_TRUE(lower);
        const auto& [key, hi] = *upper;
        const NumberRow& row = rows.at(key);
        EXPECT_EQ(lower->first, key);
        EXPECT_DOUBLE_EQ(lower->second, row.bounds.lo) << key;
        EXPECT_DOUBLE_EQ(hi, row.bounds.hi) << key;
        if (const auto shown = slider->defaultValue()) {
            const SliderRange track = slider->range();
            const double scale = (hi - lower->second) / (track.upper - track.lower);
            EXPECT_NEAR(lower->second + (*shown - track.lower) * scale, row.defaultValue, 1e-9) << key;
        }
        checked.insert(key);
    }
    EXPECT_EQ(checked.size(), 41u) << "every number row a page shows a slider for";
}

TEST_F(RootViewTest, GeneralSwitchesWriteOnTheNextTurnAndFollowTheirValues) {
    select(SettingsCategory::general);
    auto* general = dynamic_cast<GeneralPage*>(shownPage());
    ASSERT_NE(general, nullptr);
    auto* dock = test::findWidget<ShowTaskbarIconToggle>(general)->row()->toggle();
    EXPECT_FALSE(dock->isChecked());
    dock->click();
    EXPECT_FALSE(settings->showTaskbarIcon());
    loop.runUntilIdle();
    EXPECT_TRUE(settings->showTaskbarIcon());
    EXPECT_EQ(defaults.boolValue("showDockIcon"), true);
    EXPECT_EQ(test::findWidget<ShowTaskbarIconToggle>(general)->findChildren<QLabel*>().size(), 2)
        << "title and caption, no relaunch note";

    // A login item the system refuses falls back to off when its state is read back.
    auto* login = test::findWidget<LaunchAtLoginToggle>(general)->row()->toggle();
    refuseLogin = true;
    login->click();
    EXPECT_TRUE(login->isChecked());
    loop.runUntilIdle();
    EXPECT_FALSE(login->isChecked());
    refuseLogin = false;
    login->click();
    loop.runUntilIdle();
    EXPECT_TRUE(login->isChecked());
    EXPECT_TRUE(loginEnabled());
}

}  // namespace
}  // namespace velaro
