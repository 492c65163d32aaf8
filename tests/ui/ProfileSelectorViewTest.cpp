// The profile selector over the real profile manager: the scope button, the popover's rows, badges,
// checkmarks and add row, the add flow with its limit, resetting overrides after a confirmation, removal, and
// a scope whose profile is gone.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>

#include "settings/ProfileManager.h"
#include "support/FakeAppCatalog.h"
#include "support/FakeDefaultsStore.h"
#include "support/RowSearch.h"
#include "support/VirtualLoop.h"
#include "support/WidgetSearch.h"
#include "ui/AppIconPicture.h"
#include "ui/settings/ProfileSelectorView.h"
#include "ui/settings/kit/AppListPieces.h"
#include "ui/settings/kit/SymbolButton.h"

namespace velaro {
namespace {

class ProfileSelectorTest : public ::testing::Test {
protected:
    ProfileSelectorTest() {
        ProfileSelectorServices services;
        services.catalog = &catalog;
        services.chooseApplication = [this](QWidget*, const std::set<std::string>&) {
            ++dialogs;
            return nextChoice;
        };
        services.alert = [this](const ProfileAlert& alert) {
            alerts.push_back(alert);
            return confirm;
        };
        selector = std::make_unique<ProfileSelectorView>(
            profiles, loop, [this] { ++overridesChanged; }, std::move(services));
        selector->resize(340, 34);
        selector->show();
    }

    QAbstractButton* scopeButton() const {
        return test::findAccessible<QAbstractButton>(selector.get(), QStringLiteral("Settings scope"));
    }
    // The popover is the pop-up window the rows sit in; it is open while that window shows.
    ProfileAddRow* addRow() const { return test::findWidget<ProfileAddRow>(selector.get()); }
    QWidget* popover() const { return addRow()->window(); }
    bool expanded() const { return popover()->isVisible(); }
    void expand() {
        loop.runUntilIdle();
        if (!expanded()) scopeButton()->click();
    }
    // The scope rows, top to bottom.
    std::vector<ProfileScopeRow*> rows() const { return test::findWidgets<ProfileScopeRow>(selector.get()); }
    std::vector<QString> rowNames() const {
        std::vector<QString> out;
        for (ProfileScopeRow* row : rows()) out.push_back(row->name());
        return out;
    }
    ProfileScopeRow* row(const std::string& id) const {
        return test::findNamed<ProfileScopeRow>(selector.get(), QString::fromStdString(id));
    }
    // The override count a row's badge shows; empty when it shows none.
    static QString badge(const ProfileScopeRow* row) {
        const auto* count = test::findNamed<QLabel>(row, QStringLiteral("overrideCount"));
        return count ? count->text() : QString();
    }
    int dividers() const {
        int count = 0;
        for (const QWidget* widget : test::findWidgets<QWidget>(selector.get()))
            count += widget->objectName() == QStringLiteral("divider");
        return count;
    }
    // Opens a row's context menu as a right click does and reads its entries; then chooses the one titled
    // `choice` from the keyboard, or closes the menu when none is given.
    static std::vector<QString> contextMenu(ProfileScopeRow* row, const QString& choice = QString()) {
        std::vector<QString> titles;
        QTimer::singleShot(0, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* action : menu->actions()) {
                titles.push_back(action->text());
                if (action->text() == choice) menu->setActiveAction(action);
            }
            if (choice.isEmpty() || !menu->activeAction()) {
                menu->close();
                return;
            }
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(menu, &enter);
        });
        const QPoint at(4, 4);
        QContextMenuEvent click(QContextMenuEvent::Mouse, at, row->mapToGlobal(at));
        QApplication::sendEvent(row, &click);
        return titles;
    }
    void addProfiles(int count) {
        for (int i = 0; i < count; ++i)
            profiles.addProfile("org.example.App" + std::to_string(i), "App " + std::to_string(i));
    }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    ProfileManager profiles{defaults};
    test::FakeAppCatalog catalog;
    std::optional<std::string> nextChoice;
    std::vector<ProfileAlert> alerts;
    bool confirm = false;
    int dialogs = 0;
    int overridesChanged = 0;
    std::unique_ptr<ProfileSelectorView> selector;
};

TEST_F(ProfileSelectorTest, WithoutProfilesThePopoverHoldsTheGlobalRowOneDividerAndTheAddRow) {
    EXPECT_EQ(selector->scopeName(), QStringLiteral("Global Settings"));
    ASSERT_NE(scopeButton(), nullptr);
    EXPECT_EQ(scopeButton()->accessibleDescription(), QStringLiteral("Global Settings"));
    EXPECT_FALSE(expanded());
    expand();
    EXPECT_TRUE(expanded());
    EXPECT_TRUE(popover()->isWindow());
    EXPECT_EQ(popover()->width(), ProfileSelectorView::popoverWidth);
    EXPECT_EQ(rowNames(), (std::vector<QString>{QStringLiteral("Global Settings")}));
    ProfileScopeRow* global = rows().front();
    EXPECT_TRUE(global->showsCheckmark());
    EXPECT_EQ(badge(global), QString());
    EXPECT_EQ(global->removeButton(), nullptr);
    ASSERT_NE(test::findWidget<AppIconView>(global), nullptr);
    EXPECT_TRUE(test::paintsPlaceholder(*test::findWidget<AppIconView>(global), "globe"));
    EXPECT_EQ(dividers(), 1);
    ProfileAddRow* add = addRow();
    EXPECT_TRUE(add->isEnabled());
    EXPECT_EQ(add->toolTip(), QStringLiteral("Add an app profile"));
    EXPECT_EQ(test::labelReading(add, QStringLiteral("(max 20)")), nullptr);

    scopeButton()->click();  // the button flips it
    EXPECT_FALSE(expanded());
}

TEST_F(ProfileSelectorTest, RowsShowBadgesAndTheCheckmarkAndChoosingOneClosesThePopover) {
    profiles.addProfile("org.example.Editor", "Editor");
    profiles.addProfile("org.example.Mail", "Mail");
    for (const char* key : {"overlayOpacity", "cornerRadius", "vizEnabled"})
        profiles.setOverride(PlistValue(true), key, "org.example.Mail");
    expand();
    EXPECT_EQ(rowNames(), (std::vector<QString>{QStringLiteral("Global Settings"), QStringLiteral("Editor"),
                                                QStringLiteral("Mail")}));
    EXPECT_EQ(dividers(), 2);
    EXPECT_EQ(badge(row("org.example.Editor")), QString()) << "no overrides, no badge";
    EXPECT_EQ(badge(row("org.example.Mail")), QStringLiteral("3"));
    EXPECT_EQ(row("org.example.Mail")->removeButton()->toolTip(), QStringLiteral("Remove profile"));
    EXPECT_EQ(contextMenu(row("org.example.Editor")),
              (std::vector<QString>{QStringLiteral("Remove Profile")}));
    EXPECT_EQ(
        contextMenu(row("org.example.Mail")),
        (std::vector<QString>{QStringLiteral("Reset All Overrides…"), QStringLiteral("Remove Profile")}));
    EXPECT_TRUE(alerts.empty()) << "a closed menu does nothing";
    EXPECT_TRUE(expanded());

    row("org.example.Mail")->click();
    EXPECT_EQ(profiles.selectedScope(), ProfileScope::app("org.example.Mail"));
    EXPECT_FALSE(expanded());
    EXPECT_EQ(overridesChanged, 0) << "the settings follow the scope by themselves";
    expand();
    EXPECT_TRUE(row("org.example.Mail")->showsCheckmark());
    EXPECT_FALSE(rows().front()->showsCheckmark());
    EXPECT_EQ(selector->scopeName(), QStringLiteral("Mail"));
}

TEST_F(ProfileSelectorTest, TheAddFlowAddsSelectsOrRefuses) {
    const auto editor = catalog.install("org.example.Editor", "Editor");
    const auto plain = catalog.install("org.example.Plain", std::nullopt);
    catalog.apps[plain].bundle.name = "Plain Name";
    const auto bare = catalog.install("org.example.Bare", std::nullopt);
    const auto noID = catalog.install("", "No Identifier");
    struct Step {
        const char* what;
        std::optional<std::string> choice;
        std::vector<QString> names;  // the rows afterwards
        ProfileScope scope;
    };
    const QString g = QStringLiteral("Global Settings");
    const std::vector<Step> steps{
        {"cancelled", std::nullopt, {g}, ProfileScope::global()},
        {"an app without an identifier", noID, {g}, ProfileScope::global()},
        {"no application", std::string("/apps/readme.txt"), {g}, ProfileScope::global()},
        {"a new app, by its display name",
         editor,
         {g, QStringLiteral("Editor")},
         ProfileScope::app("org.example.Editor")},
        {"no display name: its name",
         plain,
         {g, QStringLiteral("Editor"), QStringLiteral("Plain Name")},
         ProfileScope::app("org.example.Plain")},
        {"neither: its file name",
         bare,
         {g, QStringLiteral("Editor"), QStringLiteral("Plain Name"),
          QStringLiteral("org.example.Bare.desktop")},
         ProfileScope::app("org.example.Bare")},
        {"an app with a profile is selected, not added",
         editor,
         {g, QStringLiteral("Editor"), QStringLiteral("Plain Name"),
          QStringLiteral("org.example.Bare.desktop")},
         ProfileScope::app("org.example.Editor")},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        profiles.selectedScope = ProfileScope::global();
        nextChoice = step.choice;
        expand();
        addRow()->click();
        EXPECT_FALSE(expanded());
        loop.runUntilIdle();
        expand();
        EXPECT_EQ(rowNames(), step.names);
        EXPECT_EQ(profiles.selectedScope(), step.scope);
    }
    EXPECT_TRUE(alerts.empty()) << "nothing is reported";
    EXPECT_EQ(overridesChanged, 0);
}

TEST_F(ProfileSelectorTest, AtTwentyProfilesTheAddRowIsDimmedAndTheLimitAlertGuardsTheFlow) {
    addProfiles(19);
    expand();
    EXPECT_TRUE(addRow()->isEnabled());
    addProfiles(20);  // the manager stops at 20
    loop.runUntilIdle();
    ASSERT_EQ(profiles.profiles().value().size(), 20u);
    ProfileAddRow* add = addRow();
    EXPECT_FALSE(add->isEnabled());
    const QLabel* limit = test::labelReading(add, QStringLiteral("(max 20)"));
    ASSERT_NE(limit, nullptr);
    EXPECT_TRUE(limit->isVisibleTo(add));
    EXPECT_EQ(add->toolTip(), QStringLiteral("Profile limit reached — remove one to add another."));
    auto* dim = dynamic_cast<QGraphicsOpacityEffect*>(add->graphicsEffect());
    ASSERT_NE(dim, nullptr);
    EXPECT_TRUE(dim->isEnabled());
    EXPECT_DOUBLE_EQ(dim->opacity(), 0.45);

    // Reached another way (the dialog was open while a profile came in): one alert, nothing added.
    nextChoice = catalog.install("org.example.New", "New");
    selector->addApp();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0],
              (ProfileAlert{ProfileAlert::Style::informational, QStringLiteral("Profile limit reached"),
                            QStringLiteral("You can keep up to 20 app profiles. Remove one to add "
                                           "another."),
                            QString()}));
    EXPECT_FALSE(profiles.hasProfile("org.example.New"));
    EXPECT_TRUE(profiles.selectedScope().isGlobal());
    // An app that has a profile is still selected at the limit.
    nextChoice = catalog.install("org.example.App3", "App 3");
    selector->addApp();
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_EQ(profiles.selectedScope(), ProfileScope::app("org.example.App3"));
}

TEST_F(ProfileSelectorTest, ResettingOverridesAsksFirstAndThenReResolvesOnce) {
    profiles.addProfile("org.example.Mail", "Mail");
    for (const char* key : {"overlayOpacity", "cornerRadius", "vizEnabled"})
        profiles.setOverride(PlistValue(1), key, "org.example.Mail");
    expand();
    const ProfileAlert expected{
        ProfileAlert::Style::warning, QStringLiteral("Reset all overrides for Mail?"),
        QStringLiteral("3 customized setting(s) will return to Global values. The profile "
                       "itself will be kept."),
        QStringLiteral("Reset")};

    confirm = false;  // "Cancel"
    contextMenu(row("org.example.Mail"), QStringLiteral("Reset All Overrides…"));
    EXPECT_FALSE(expanded());
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0], expected);
    EXPECT_EQ(profiles.overrides("org.example.Mail").size(), 3u);
    EXPECT_EQ(overridesChanged, 0);

    confirm = true;  // "Reset"
    selector->resetOverrides("org.example.Mail");
    EXPECT_TRUE(profiles.overrides("org.example.Mail").empty());
    EXPECT_TRUE(profiles.hasProfile("org.example.Mail")) << "the profile itself is kept";
    EXPECT_EQ(overridesChanged, 1);
    expand();
    EXPECT_EQ(badge(row("org.example.Mail")), QString());
}

TEST_F(ProfileSelectorTest, RemovingTheSelectedProfileFallsBackToGlobalWithThePopoverOpen) {
    profiles.addProfile("org.example.Editor", "Editor");
    profiles.selectedScope = ProfileScope::app("org.example.Editor");
    loop.runUntilIdle();
    EXPECT_EQ(selector->scopeName(), QStringLiteral("Editor"));
    expand();
    row("org.example.Editor")->removeButton()->click();
    loop.runUntilIdle();
    EXPECT_FALSE(profiles.hasProfile("org.example.Editor"));
    EXPECT_TRUE(expanded()) << "removal leaves the popover open";
    EXPECT_EQ(selector->scopeName(), QStringLiteral("Global Settings"));
    EXPECT_EQ(rowNames(), (std::vector<QString>{QStringLiteral("Global Settings")}));
    EXPECT_EQ(dividers(), 1);
    EXPECT_EQ(overridesChanged, 0);
}

TEST_F(ProfileSelectorTest, AScopeWhoseProfileIsGoneShowsItsIdentifierAndTheRightIcon) {
    catalog.install("org.example.Installed", "Installed");
    const std::vector<std::tuple<std::string, bool>> cases{{"org.example.Gone", true},
                                                           {"org.example.Installed", false}};
    for (const auto& [id, placeholder] : cases) {
        profiles.selectedScope = ProfileScope::app(id);
        loop.runUntilIdle();
        EXPECT_EQ(selector->scopeName(), QString::fromStdString(id));
        auto* icon = test::findWidget<AppIconView>(scopeButton());
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(icon->showsPlaceholder(), placeholder) << id;
        // Behind an app's own icon stands the same placeholder: it shows once the icon is gone.
        if (!placeholder) icon->setIcon(QImage());
        EXPECT_TRUE(test::paintsPlaceholder(*icon, "app.dashed")) << id;
    }
}

}  // namespace
}  // namespace velaro
