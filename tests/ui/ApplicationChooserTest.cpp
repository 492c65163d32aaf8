// The application chooser over a fake catalog: the apps in name order with the listed ones marked and passed
// over, typing narrowing them to the best matches first, the keys and the double-click that choose, Escape
// choosing nothing, and apps installed while it is open.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPushButton>

#include "support/FakeAppCatalog.h"
#include "support/WidgetSearch.h"
#include "ui/settings/kit/ApplicationChooser.h"

namespace velaro {
namespace {

using IDs = std::vector<std::string>;

class ApplicationChooserTest : public ::testing::Test {
protected:
    ApplicationChooserTest() {
        mail = catalog.install("org.example.Mail", "mail");
        catalog.install("org.example.Editor", "Text Editor");
        catalog.install("viewer", "Image Viewer");
        catalog.install("org.example.Maps", "Maps");
        // A file opened from elsewhere once, not an installed app.
        catalog.apps[catalog.install("stray", "Stray")].listed = false;
    }
    void open(std::set<std::string> listed = {}) {
        dialog = std::make_unique<ApplicationChooserDialog>(catalog, std::move(listed));
        dialog->show();
    }
    void type(const QString& text) {
        for (const QChar c : text) key(Qt::Key_unknown, c);
    }
    void key(int code, const QString& text = {}) {
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
        QApplication::sendEvent(dialog->searchField(), &press);
    }
    void doubleClickRow(int row) {
        QWidget* viewport = dialog->list()->viewport();
        const QPointF at = dialog->list()->visualRect(dialog->list()->model()->index(row, 0)).center();
        const QPointF global = viewport->mapToGlobal(at);
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                        QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, global, Qt::LeftButton,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                              Qt::NoModifier);
            QApplication::sendEvent(viewport, &event);
        }
    }
    QPushButton* addButton() const {
        return dynamic_cast<QPushButton*>(
            test::findButton(dialog.get(), QString::fromUtf8(ApplicationChooserDialog::addText)));
    }

    test::FakeAppCatalog catalog;
    std::string mail;
    std::unique_ptr<ApplicationChooserDialog> dialog;
};

TEST_F(ApplicationChooserTest, TypingNarrowsTheAppsAndTheArrowsAndEnterChooseAmongThem) {
    open({"org.example.Editor"});
    EXPECT_EQ(dialog->shownAppIds(),
              (IDs{"viewer", "org.example.Mail", "org.example.Maps", "org.example.Editor"}))
        << "by name, ignoring case; only installed apps";
    EXPECT_EQ(dialog->currentAppId(), "viewer");

    type(QStringLiteral("MA"));
    EXPECT_EQ(dialog->shownAppIds(), (IDs{"org.example.Mail", "org.example.Maps", "viewer"}))
        << "names that start with \"ma\", then \"Image\" that holds it";
    EXPECT_EQ(dialog->currentAppId(), "org.example.Mail") << "the top match";
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    EXPECT_EQ(dialog->currentAppId(), "viewer");
    key(Qt::Key_Up);
    EXPECT_EQ(dialog->currentAppId(), "org.example.Maps");
    EXPECT_EQ(dialog->searchField()->text(), QStringLiteral("MA")) << "the arrows leave the typing alone";

    // Only the listed app matches: it is shown, marked, and nothing can be added.
    dialog->searchField()->setText(QStringLiteral("edit"));
    EXPECT_EQ(dialog->shownAppIds(), (IDs{"org.example.Editor"}));
    EXPECT_FALSE(dialog->currentAppId());
    EXPECT_FALSE(addButton()->isEnabled());
    key(Qt::Key_Return);
    EXPECT_TRUE(dialog->isVisible()) << "Enter on nothing to add closes nothing";

    dialog->searchField()->setText(QStringLiteral("mai"));
    key(Qt::Key_Return);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->chosen(), mail);
}

// Names one inside another: what was typed, as a whole name, comes first, and Enter adds it.
TEST_F(ApplicationChooserTest, TheBestMatchComesFirstAndEnterAddsIt) {
    catalog.install("uxterm", "UXTerm");
    const std::string xterm = catalog.install("xterm", "XTerm");
    catalog.install("xterm.profiles", "Xterm Profiles");
    catalog.install("classic", "Classic XTerm");
    catalog.install("org.xterm.Launcher", "Launcher");
    catalog.install("org.example.Files", "Files");
    catalog.install("org.example.Profiles", "Profiles");
    catalog.install("org.example.Archive", "Archive Files");
    open();

    type(QStringLiteral("xterm"));
    EXPECT_EQ(dialog->shownAppIds(),
              (IDs{"xterm", "xterm.profiles", "classic", "org.xterm.Launcher", "uxterm"}))
        << "the same name, a name starting with it, a word starting with it, then anywhere (the app id too), "
           "by name within each";
    EXPECT_EQ(dialog->currentAppId(), "xterm");

    dialog->searchField()->setText(QStringLiteral("FILES"));
    const IDs files{"org.example.Files", "org.example.Archive", "org.example.Profiles", "xterm.profiles"};
    EXPECT_EQ(dialog->shownAppIds(), files) << "ignoring case";
    dialog->searchField()->setText(QStringLiteral("file"));
    EXPECT_EQ(dialog->shownAppIds(), files);

    // With the best match added already, Enter adds the next one.
    open({"xterm"});
    type(QStringLiteral("xterm"));
    EXPECT_EQ(dialog->currentAppId(), "xterm.profiles");

    open();
    type(QStringLiteral("xterm"));
    key(Qt::Key_Return);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->chosen(), xterm);
}

TEST_F(ApplicationChooserTest, ADoubleClickChoosesItsRowAndEscapeChoosesNothing) {
    open({"org.example.Editor"});
    doubleClickRow(3);  // the listed app
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->chosen());
    doubleClickRow(1);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->chosen(), mail);

    open();
    type(QStringLiteral("ma"));
    key(Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_FALSE(dialog->chosen());
}

TEST_F(ApplicationChooserTest, AppsInstalledOrRemovedWhileItIsOpenComeAndGoAndTheCurrentOneStays) {
    open();
    key(Qt::Key_Down);
    ASSERT_EQ(dialog->currentAppId(), "org.example.Mail");
    catalog.install("calc", "Calculator");
    catalog.uninstall("/apps/viewer.desktop");
    catalog.announceChange();
    EXPECT_EQ(dialog->shownAppIds(),
              (IDs{"calc", "org.example.Mail", "org.example.Maps", "org.example.Editor"}));
    EXPECT_EQ(dialog->currentAppId(), "org.example.Mail");
    catalog.uninstall(mail);
    catalog.announceChange();
    EXPECT_EQ(dialog->currentAppId(), "calc") << "its app gone, the top one";
}

}  // namespace
}  // namespace velaro
