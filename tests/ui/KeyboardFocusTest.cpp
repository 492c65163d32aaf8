// The settings window from the keyboard: every focusable control draws its focus ring while it has the
// keyboard and drops it after, the sidebar is one Tab stop whose selection follows the arrow keys, and the
// profile pop-up's rows are walked and chosen with the keys a menu takes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "settings/ProfileManager.h"
#include "support/FakeDefaultsStore.h"
#include "support/RowSearch.h"
#include "support/VirtualLoop.h"
#include "ui/settings/ProfileSelectorView.h"
#include "ui/settings/SettingsSidebar.h"
#include "ui/settings/kit/SegmentedControl.h"
#include "ui/settings/kit/SettingsKit.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/kit/SymbolButton.h"
#include "ui/settings/pages/ShortcutsSection.h"

namespace velaro {
namespace {

void activate(QWidget* window) {
    window->show();
    QApplication::setActiveWindow(window);
}

void press(int key, QWidget* target = QApplication::focusWidget()) {
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &down);
}

TEST(KeyboardFocus, EveryControlDrawsItsRingWhileItHasTheKeyboardAndOnlyThen) {
    test::VirtualLoop loop;
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    double level = 0.5;
    Color colour{0.2, 0.4, 0.6, 1};
    auto* on = new SettingsSwitch;
    on->setChecked(true);
    auto* segments = new SegmentedControl({QStringLiteral("Bars"), QStringLiteral("Waves")}, true);
    segments->setChosen(0);
    auto* record = new ShortcutRecordButton;
    record->setText(QStringLiteral("Record Shortcut"));
    const std::vector<QWidget*> controls{
        new SettingsSwitch,
        on,  // off, and on with the accent track under the ring
        new SymbolButton("xmark.circle.fill", 18, QStringLiteral("Clear")),
        new SettingsActionRow(QStringLiteral("Show Welcome Tour"), "sparkles", SettingsActionRow::Role::plain,
                              {}),
        new ColorWell({[&] { return colour; }, [&](Color c) { colour = c; }}, false),
        new ResettableSlider(loop, {[&] { return level; }, [&](double v) { level = v; }}, {0, 1}, 0.5),
        record,
        new SidebarRow(SettingsCategory::shortcuts)};
    for (QWidget* control : controls) column->addWidget(control);
    column->addWidget(segments);
    activate(&window);

    std::vector<QWidget*> all = controls;
    all.push_back(segments->segment(0));  // chosen: on the accent fill
    all.push_back(segments->segment(1));
    for (QWidget* control : all) {
        SCOPED_TRACE(control->accessibleName().toStdString() + " " + control->metaObject()->className());
        EXPECT_TRUE(control->focusPolicy() & Qt::TabFocus) << "the Tab key reaches it";
        control->clearFocus();
        const QImage before = control->grab().toImage();
        control->setFocus(Qt::TabFocusReason);
        const QImage focused = control->grab().toImage();
        int ring = 0;
        for (int y = 0; y < before.height(); ++y)
            for (int x = 0; x < before.width(); ++x) ring += before.pixel(x, y) != focused.pixel(x, y);
        // A ring two pixels wide round the control (the slider's thumb) changes a good share of its edge.
        EXPECT_GT(ring, 2 * std::min(control->width(), control->height()));
        control->clearFocus();
        EXPECT_EQ(control->grab().toImage(), before) << "the ring goes with the keyboard";
    }
}

TEST(KeyboardFocus, TheSidebarIsOneTabStopWhoseSelectionFollowsTheArrowKeys) {
    SettingsSidebar sidebar;
    std::vector<SettingsCategory> chosen;
    sidebar.onRowChosenByKey = [&](SettingsCategory category) {
        chosen.push_back(category);
        sidebar.setSelection(category);
    };
    sidebar.setSelection(SettingsCategory::shortcuts);
    activate(&sidebar);
    EXPECT_EQ(sidebar.row(SettingsCategory::shortcuts)->focusPolicy(), Qt::TabFocus);
    EXPECT_EQ(sidebar.row(SettingsCategory::appearance)->focusPolicy(), Qt::NoFocus);

    sidebar.row(SettingsCategory::shortcuts)->setFocus(Qt::TabFocusReason);
    for (int key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_End, Qt::Key_Down, Qt::Key_Home})
        press(key);
    const auto at =
        std::find(allSettingsCategories.begin(), allSettingsCategories.end(), SettingsCategory::shortcuts);
    const auto first = allSettingsCategories.front(), last = allSettingsCategories.back();
    EXPECT_EQ(chosen, (std::vector{*(at + 1), *(at + 2), *(at + 1), last, last, first}))
        << "no further than the ends";
    EXPECT_EQ(QApplication::focusWidget(), sidebar.row(first)) << "the keyboard goes with the selection";
    EXPECT_EQ(sidebar.row(first)->accessibleDescription(), QStringLiteral("selected"));
}

TEST(KeyboardFocus, TheProfilePopUpsRowsAreWalkedAndChosenWithTheKeys) {
    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    ProfileManager profiles(defaults);
    profiles.addProfile("org.example.Editor", "Editor");
    profiles.addProfile("org.example.Term", "XTerm");
    ProfileSelectorView selector(profiles, loop, {}, {});
    activate(&selector);
    auto* scopeButton = test::findAccessible<QAbstractButton>(&selector, QStringLiteral("Settings scope"));
    ASSERT_NE(scopeButton, nullptr);
    EXPECT_TRUE(scopeButton->focusPolicy() & Qt::TabFocus);
    selector.setExpanded(true);
    // The rows, top to bottom, in the pop-up window they share.
    const auto rows = test::findWidgets<ProfileScopeRow>(&selector);
    QWidget* popover = rows.at(0)->window();
    EXPECT_TRUE(rows.at(0)->hasFocus()) << "it opens on the chosen scope's row";
    // Down past the add row, the last stop, then back up to the second profile.
    for (int key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Return})
        press(key, popover);
    EXPECT_EQ(profiles.selectedScope(), ProfileScope::app("org.example.Term"));
    EXPECT_FALSE(popover->isVisible());
}

}  // namespace
}  // namespace velaro
