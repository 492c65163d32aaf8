// The Excluded Apps page over the real model with a fake catalog and workspace: the empty box, one row per
// app, the switch writing all three sets, removal, the selected row's ink and the bar inside the box's
// border, an app that is gone, the running dot and long names.
#include <gtest/gtest.h>

#include <QListWidget>
#include <cmath>

#include "sampling/ExcludedAppsModel.h"
#include "sampling/WindowListScans.h"
#include "support/FakeAppCatalog.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeWorkspace.h"
#include "support/RowSearch.h"
#include "support/VirtualLoop.h"
#include "ui/AppIconPicture.h"
#include "ui/settings/kit/AppListPieces.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/pages/ExcludedAppsSection.h"

namespace velaro {
namespace {

using IDs = std::vector<std::string>;

class ExcludedAppsPageTest : public ::testing::Test {
protected:
    ExcludedAppsPageTest() {
        editor = catalog.install("org.example.Editor", "Editor");
        mail = catalog.install("org.example.Mail", "mail");
    }

    // The page over whatever the store holds now.
    void open() {
        model = std::make_unique<ExcludedAppsModel>(defaults, catalog, workspace, loop);
        page = std::make_unique<ExcludedAppsSection>(*model, loop,
                                                     [this](QWidget*, const std::set<std::string>& listed) {
                                                         listedAtChoice = listed;
                                                         return nextChoice;
                                                     });
        page->resize(460, 400);
        page->show();
        loop.runUntilIdle();
    }
    void choose(std::optional<std::string> url) {
        nextChoice = std::move(url);
        addButton()->click();
        loop.runUntilIdle();
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (ExcludedAppRow* row : page->rows()) out.push_back(row->name()->text().toStdString());
        return out;
    }
    ExcludedAppRow* row(const std::string& id) const {
        for (ExcludedAppRow* r : page->rows())
            if (r->member().id == id) return r;
        return nullptr;
    }
    // The running dot, as painted: green on the icon's bottom-trailing corner (the icon's square is the
    // view's size hint less a point on each side).
    static bool showsRunningDot(AppIconView* icon) {
        const int size = icon->sizeHint().width() - 2;
        return icon->grab().toImage().pixelColor(size - 2, size - 2) == QColor(52, 199, 89);
    }
    void storeMembers(const IDs& ids) {
        PlistValue array = PlistValue::array();
        for (const auto& id : ids) array.push_back(id);
        defaults.set(kExcludedAppsMembersKey, std::move(array));
    }
    // The three stored sets, in the order sample-stop, overlay-hide, capture-stop.
    std::vector<IDs> storedSets() const {
        std::vector<IDs> out;
        for (const char* key : {kExcludedSampleStopKey, kExcludedOverlayHideKey, kExcludedCaptureStopKey})
            out.push_back(defaults.stringArrayValue(key).value_or(IDs{}));
        return out;
    }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    test::FakeAppCatalog catalog;
    test::FakeWorkspace workspace;
    std::string editor, mail;
    std::optional<std::string> nextChoice;
    std::set<std::string> listedAtChoice;  // what the page told the chooser it lists
    std::unique_ptr<ExcludedAppsModel> model;
    std::unique_ptr<ExcludedAppsSection> page;

    // The plus and minus buttons under the list, by the names they are announced with.
    QAbstractButton* addButton() const {
        return test::findAccessible<QAbstractButton>(page.get(), QStringLiteral("Add an application"));
    }
    QAbstractButton* removeButton() const {
        return test::findAccessible<QAbstractButton>(page.get(),
                                                     QStringLiteral("Remove the selected application"));
    }
    // The framed box around the list (and the empty text that stands in for it).
    QWidget* listBox() const { return page->list()->parentWidget()->parentWidget(); }
    QLabel* emptyLabel() const {
        return test::labelReading(page.get(), QString::fromUtf8(ExcludedAppsSection::emptyText));
    }
};

TEST_F(ExcludedAppsPageTest, AnEmptyListSaysHowToAddAndCannotRemove) {
    open();
    EXPECT_EQ(listBox()->height(), ExcludedAppsSection::boxHeight);
    EXPECT_TRUE(emptyLabel()->isVisible());
    EXPECT_FALSE(page->list()->isVisible());
    EXPECT_EQ(emptyLabel()->text(), QStringLiteral("Add apps with the + button below."));
    ASSERT_NE(removeButton(), nullptr);
    EXPECT_FALSE(removeButton()->isEnabled());
    EXPECT_EQ(addButton()->toolTip(), QStringLiteral("Add an application"));
    EXPECT_EQ(removeButton()->toolTip(), QStringLiteral("Remove the selected application"));
}

TEST_F(ExcludedAppsPageTest, ChosenAppsAreAddedOnceByNameAndNotExcludedYet) {
    open();
    struct Choice {
        const char* what;
        std::optional<std::string> url;
        std::vector<std::string> names;  // the list afterwards
    };
    const std::vector<Choice> choices{
        {"the dialog cancelled", std::nullopt, {}},
        {"an app", mail, {"mail"}},
        {"a second app sorts by name, ignoring case", editor, {"Editor", "mail"}},
        {"the same app again", mail, {"Editor", "mail"}},
        {"a file that is no app", std::string("/apps/notes.txt"), {"Editor", "mail"}},
    };
    for (const Choice& c : choices) {
        choose(c.url);
        EXPECT_EQ(names(), c.names) << c.what;
    }
    EXPECT_EQ(listedAtChoice, (std::set<std::string>{"org.example.Editor", "org.example.Mail"}))
        << "the chooser marks the members";
    EXPECT_TRUE(page->list()->isVisible());
    EXPECT_FALSE(emptyLabel()->isVisible());
    for (ExcludedAppRow* r : page->rows()) EXPECT_FALSE(r->toggle()->isChecked()) << r->member().id;
    EXPECT_EQ(defaults.stringArrayValue(kExcludedAppsMembersKey),
              (IDs{"org.example.Editor", "org.example.Mail"}));
    EXPECT_EQ(storedSets(), std::vector<IDs>(3));
}

TEST_F(ExcludedAppsPageTest, TheSwitchWritesAllThreeSetsAndRemovalClearsThemAndTheSelection) {
    storeMembers({"org.example.Editor", "org.example.Mail"});
    open();
    ExcludedAppRow* editorRow = row("org.example.Editor");
    ASSERT_NE(editorRow, nullptr);
    EXPECT_EQ(editorRow->toggle()->accessibleName(), QStringLiteral("Exclude"));
    editorRow->toggle()->click();
    loop.runUntilIdle();
    EXPECT_EQ(storedSets(), std::vector<IDs>(3, IDs{"org.example.Editor"}));
    EXPECT_EQ(row("org.example.Editor"), editorRow) << "a switch keeps the rows (and the scroll position)";
    EXPECT_TRUE(editorRow->toggle()->isChecked());
    editorRow->toggle()->click();
    loop.runUntilIdle();
    EXPECT_EQ(storedSets(), std::vector<IDs>(3));

    row("org.example.Mail")->toggle()->click();
    loop.runUntilIdle();
    page->list()->item(1)->setSelected(true);
    EXPECT_EQ(page->selection(), std::optional<std::string>("org.example.Mail"));
    EXPECT_TRUE(removeButton()->isEnabled());
    removeButton()->click();
    loop.runUntilIdle();
    EXPECT_EQ(names(), (std::vector<std::string>{"Editor"}));
    EXPECT_FALSE(page->selection());
    EXPECT_FALSE(removeButton()->isEnabled());
    EXPECT_EQ(storedSets(), std::vector<IDs>(3)) << "removed even though its switch was on";
    EXPECT_EQ(defaults.stringArrayValue(kExcludedAppsMembersKey), (IDs{"org.example.Editor"}));
}

TEST_F(ExcludedAppsPageTest, TheSelectedNameReadsOnTheHighlightAndTheBarKeepsInsideTheBorder) {
    storeMembers({"org.example.Editor", "org.example.Mail"});
    open();
    const auto ink = [](ExcludedAppRow* r) { return r->name()->palette().color(QPalette::WindowText); };
    page->select("org.example.Mail");
    page->list()->item(0)->setSelected(true);  // the editor's row, in a list of single selection
    EXPECT_EQ(ink(row("org.example.Editor")),
              page->palette().color(QPalette::Active, QPalette::HighlightedText));
    EXPECT_EQ(ink(row("org.example.Mail")), page->palette().color(QPalette::Active, QPalette::WindowText));

    // Along the rounded lower corners the border is drawn over the bar: no pixel of the border's curve takes
    // the bar's plain colour.
    const QImage box = listBox()->grab().toImage();
    const int h = box.height(), w = box.width();
    for (int y = h - 6; y < h; ++y)
        for (int x = 0; x < 6; ++x)
            if (const double d = std::hypot(6 - (x + 0.5), y + 0.5 - (h - 6)); d > 5.3 && d < 6) {
                for (const int at : {x, w - 1 - x}) {
                    EXPECT_NE(box.pixel(at, y), page->palette().color(QPalette::Window).rgb())
                        << at << "," << y;
                }
            }
}

TEST_F(ExcludedAppsPageTest, AnAppThatIsGoneShowsItsIdentifierAndThePlaceholder) {
    storeMembers({"org.gone.App", "org.example.Editor"});
    open();
    EXPECT_EQ(names(), (std::vector<std::string>{"Editor", "org.gone.App"}));
    EXPECT_TRUE(row("org.gone.App")->icon()->showsPlaceholder());
    EXPECT_TRUE(test::paintsPlaceholder(*row("org.gone.App")->icon(), "app.dashed"));
    EXPECT_FALSE(row("org.example.Editor")->icon()->showsPlaceholder()) << "its icon loads once shown";
    // An installed app whose icon cannot be loaded keeps the placeholder too.
    catalog.apps[mail].icon = QImage();
    choose(mail);
    EXPECT_TRUE(row("org.example.Mail")->icon()->showsPlaceholder());
}

TEST_F(ExcludedAppsPageTest, TheRunningDotFollowsLaunchAndQuitWithoutReopening) {
    storeMembers({"org.example.Editor"});
    open();
    EXPECT_FALSE(showsRunningDot(row("org.example.Editor")->icon()));
    const RunningApp app{77, std::string("org.example.Editor"), std::string("Editor")};
    workspace.running.push_back(app);
    workspace.send(WorkspaceEvent::Kind::didLaunchApplication, app);
    loop.runUntilIdle();
    EXPECT_TRUE(showsRunningDot(row("org.example.Editor")->icon()));
    workspace.running.clear();
    workspace.send(WorkspaceEvent::Kind::didTerminateApplication, app);
    loop.runUntilIdle();
    EXPECT_FALSE(showsRunningDot(row("org.example.Editor")->icon()));
}

TEST_F(ExcludedAppsPageTest, LongAndControlCharacterNamesStayOnOneCutLineBesideTheSwitch) {
    const std::string longName = "An\nApplication\twith " + std::string(200, 'w') + " in its name";
    catalog.install("org.example.Long", longName);
    storeMembers({"org.example.Long"});
    open();
    ExcludedAppRow* r = row("org.example.Long");
    ASSERT_NE(r, nullptr);
    const QString shown = r->name()->shownText();
    EXPECT_FALSE(shown.contains(QLatin1Char('\n')));
    EXPECT_FALSE(shown.contains(QLatin1Char('\t')));
    EXPECT_TRUE(shown.startsWith(QStringLiteral("An Application with ")));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("…")));
    EXPECT_EQ(r->name()->height(), r->name()->fontMetrics().height());
    const QRect toggle(r->toggle()->mapTo(listBox(), QPoint()), r->toggle()->size());
    EXPECT_LE(toggle.right(), listBox()->width()) << "the switch stays inside the box";
    EXPECT_GT(toggle.left(), listBox()->width() - 80) << "at the right edge";
}

}  // namespace
}  // namespace velaro
