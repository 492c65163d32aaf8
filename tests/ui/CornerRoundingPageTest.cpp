// The Corner Rounding page over real settings, a fake store and a fake wallpaper: the picture loads and the
// wheel over the rings is watched only while the editor is on screen in the open window; a wheel over a ring
// being typed into is eaten and changes nothing; leaving closes the colour panel only when a ring opened it;
// linked and unlinked opacity and position rows with the
// values each keeps; the stacking picker's strings; the stroke switch writing at once; the legend.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeScreens.h"
#include "support/FakeUpdater.h"
#include "support/FakeWallpaperSnapshot.h"
#include "support/FakeWorkspace.h"
#include "support/RowSearch.h"
#include "support/VirtualLoop.h"
#include "ui/CornerEdits.h"
#include "ui/settings/SettingsRootView.h"
#include "ui/settings/SettingsSidebar.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/kit/SymbolIcon.h"
#include "ui/settings/pages/CornerRoundingSections.h"
#include "ui/settings/pages/UpdateCheckModel.h"
#include "ui/settings/rings/RingOverlay.h"

namespace velaro {
namespace {

using test::solidPicture;

class CornerRoundingPageTest : public ::testing::Test {
protected:
    CornerRoundingPageTest() {
        settings = std::make_unique<OverlaySettings>(defaults, loop);
        screens.setScreens({test::FakeScreens::make("A", Rect{0, 0, 1440, 900}, 24)});
        loop.runUntilIdle();
    }
    ~CornerRoundingPageTest() override { closeSharedColorPanel(); }

    void settle() { loop.runUntilIdle(); }
    void editCorners(const std::function<void(CornerSettings&)>& change) {
        test::editCorners(*settings, loop, change);
    }
    CornerPreviewServices services() { return {&snapshot, &screens, &workspace}; }
    static bool shows(const QWidget* w, const QWidget* page) { return w && w->isVisibleTo(page); }
    // The ring layer over the section's preview, and the pointer moving onto a ring of it or out of it.
    static RingOverlay* ringLayer(const CornerRoundingSection* editor) {
        return test::findWidget<RingOverlay>(editor);
    }
    static void pointAtRing(RingOverlay* rings, GaugeCorner corner) {
        const QPointF at = rings->ringLayout().cell(corner).ring.center();
        QMouseEvent move(QEvent::MouseMove, at, rings->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(rings, &move);
    }
    static void leaveRings(RingOverlay* rings) {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(rings, &leave);
    }
    static void tapAt(RingOverlay* rings, QPointF at) {
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, rings->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(rings, &event);
        }
    }
    // A tap on a ring's centre opens the typed-radius field on it; Escape in the field closes it.
    static void startTypingRadius(RingOverlay* rings, GaugeCorner corner) {
        pointAtRing(rings, corner);
        tapAt(rings, rings->ringLayout().cell(corner).ring.center());
    }
    static void escapeTyping(RingOverlay* rings) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(test::findWidget<QLineEdit>(rings), &escape);
    }
    // The pointer onto the ring, its menu faded in, and a tap on the swatch of its custom colour.
    void tapSwatch(RingOverlay* rings, GaugeCorner corner) {
        pointAtRing(rings, corner);
        loop.advance(0.5);
        const QPointF swatch = rings->ringLayout().cell(corner).swatch.center();
        QMouseEvent move(QEvent::MouseMove, swatch, rings->mapToGlobal(swatch), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(rings, &move);
        tapAt(rings, swatch);
        loop.runUntilIdle();
    }
    // Whether the picture follows the wallpaper: a new one asks for a new picture at once.
    bool followsWallpaper() {
        const std::size_t before = snapshot.requests.size();
        snapshot.sendChange();
        loop.runUntilIdle();
        return snapshot.requests.size() > before;
    }
    static QString text(SettingsSliderRow* row) { return test::valueShown(row); }
    static bool hasText(const QWidget* root, const QString& text) {
        for (QLabel* label : root->findChildren<QLabel*>())
            if (label->text() == text) return true;
        return false;
    }
    static QString shownChoice(SettingsChoiceRow* row) {
        return test::menuOf(row)->currentText();
    }
    // What the user's pick of a menu item sends.
    static void pick(SettingsChoiceRow* row, int index) {
        auto* menu = test::menuOf(row);
        menu->setCurrentIndex(index);
        emit menu->activated(index);
    }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    test::FakeScreens screens;
    test::FakeWorkspace workspace;
    test::FakeWallpaperSnapshot snapshot;
    std::unique_ptr<OverlaySettings> settings;
};

TEST_F(CornerRoundingPageTest, ThePictureLoadsOnlyWhileTheEditorIsOnScreen) {
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    auto* editor = new CornerRoundingSection(*settings, loop, services());
    column->addWidget(editor);
    window.resize(500, 400);
    EXPECT_TRUE(snapshot.requests.empty()) << "loading before the window shows";
    auto* canvas = test::findWidget<WallpaperCanvas>(editor);
    ASSERT_NE(canvas, nullptr);
    EXPECT_EQ(canvas->heightForWidth(460), 288) << "the 1440 × 900 screen's shape";

    RingOverlay* rings = ringLayer(editor);
    ASSERT_NE(rings, nullptr);
    EXPECT_EQ(rings->parentWidget(), canvas->parentWidget()) << "the rings lie over the picture";
    // The wheel is watched while the section shows: a notch over the ring under the pointer is eaten then,
    // and passes otherwise. The probe leaves nothing running behind it.
    const auto wheelIsWatched = [&] {
        pointAtRing(rings, GaugeCorner::bottomLeft);
        const QPointF at = rings->ringLayout().cell(GaugeCorner::bottomLeft).ring.center();
        QWheelEvent notch(at, rings->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        notch.setAccepted(true);
        QApplication::sendEvent(rings, &notch);
        leaveRings(rings);
        loop.advance(5);
        return notch.isAccepted();
    };
    const auto newWallpaper = [&] {
        snapshot.sendChange();
        loop.runUntilIdle();
    };
    const struct {
        const char* what;
        std::function<void()> act;
        bool started;
        std::size_t requests;
    } steps[] = {
        {"the window shows", [&] { window.show(); }, true, 1},
        {"another page", [&] { editor->hide(); }, false, 1},
        {"back to the page", [&] { editor->show(); }, true, 2},
        {"a desktop switch", [&] { workspace.send(WorkspaceEvent::Kind::activeSpaceDidChange); }, true, 3},
        {"a new wallpaper", newWallpaper, true, 4},
        {"the window closes", [&] { window.hide(); }, false, 4},
        {"a desktop switch while closed", [&] { workspace.send(WorkspaceEvent::Kind::activeSpaceDidChange); },
         false, 4},
        {"a new wallpaper while closed", newWallpaper, false, 4},
        {"the window opens again", [&] { window.show(); }, true, 5},
    };
    // The probe of the wallpaper's watch asks for a picture of its own each time it finds it watched.
    std::size_t probed = 0;
    for (const auto& step : steps) {
        step.act();
        EXPECT_EQ(rings->geometry(), canvas->geometry()) << step.what;
        EXPECT_EQ(loop.pendingTimers(), 0u) << step.what << ": a page showing nothing new keeps a timer";
        EXPECT_EQ(snapshot.requests.size() - probed, step.requests) << step.what;
        EXPECT_EQ(wheelIsWatched(), step.started) << step.what;
        const bool follows = followsWallpaper();
        EXPECT_EQ(follows, step.started) << step.what;
        probed += follows;
    }

    // The newest picture reaches the canvas; hidden, the page keeps it for the next time.
    snapshot.answerLast(solidPicture(Qt::green));
    ASSERT_TRUE(canvas->image());
    EXPECT_EQ(canvas->image()->pixelColor(0, 0), QColor(Qt::green));
    editor->hide();
    EXPECT_TRUE(canvas->image());
}

TEST_F(CornerRoundingPageTest, AWheelOverARingBeingTypedIntoIsEatenAndChangesNothing) {
    QScrollArea window;
    auto* editor = new CornerRoundingSection(*settings, loop, services());
    window.setWidget(editor);
    window.setWidgetResizable(true);
    window.resize(480, 150);  // shorter than the preview: the page can scroll
    window.show();
    editCorners([](CornerSettings& c) { c.bottomRadius = 20; });
    RingOverlay* rings = ringLayer(editor);
    const QPoint at = rings->rect().center();
    const auto wheel = [&] {
        QWheelEvent notch(at, rings->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(rings, &notch);
        settle();
    };
    const struct {
        const char* what;
        std::function<void()> before;
        double radius;
        bool pageScrolls;
    } steps[] = {
        {"over the ring while its radius is typed",
         [&] {
             startTypingRadius(rings, GaugeCorner::bottomLeft);
         },
         20, false},
        {"the typing ended, the pointer back on the ring",
         [&] {
             escapeTyping(rings);
             leaveRings(rings);
             pointAtRing(rings, GaugeCorner::bottomLeft);
         },
         22.5, false},
        {"off the ring", [&] { leaveRings(rings); }, 22.5, true},
    };
    // What reaches the layer itself goes on to the page; what the router eats never gets there.
    struct Arrivals : QObject {
        int wheels = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            wheels += e->type() == QEvent::Wheel;
            return false;
        }
    } arrivals;
    rings->installEventFilter(&arrivals);
    for (const auto& step : steps) {
        step.before();
        const int before = arrivals.wheels;
        wheel();
        EXPECT_DOUBLE_EQ(storedRadius(settings->corners(), ScreenCorner::bottomLeft), step.radius) << step.what;
        EXPECT_EQ(arrivals.wheels > before, step.pageScrolls) << step.what;
    }
}

TEST_F(CornerRoundingPageTest, LeavingClosesTheColourPanelOnlyWhenARingOpenedIt) {
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    auto* editor = new CornerRoundingSection(*settings, loop, services());
    column->addWidget(editor);
    window.show();
    editCorners([](CornerSettings& c) {
        c.bottomLeftColorMode = BottomColorMode::custom;
        c.bottomLeftCustomColorHex = "#FF0000";
    });
    RingOverlay* rings = ringLayer(editor);
    QObject otherWell;
    const struct {
        const char* what;
        std::function<void()> open;
        bool stillShown;
    } cases[] = {
        {"a ring's swatch opened it",
         [&] { tapSwatch(rings, GaugeCorner::bottomLeft); }, false},
        {"another control opened it",
         [&] { openSharedColorPanel(otherWell, Color::black(), false, [](const Color&) {}); }, true},
        {"a ring opened it, then another control took it",
         [&] {
             tapSwatch(rings, GaugeCorner::bottomLeft);
             openSharedColorPanel(otherWell, Color::black(), false, [](const Color&) {});
         },
         true},
    };
    for (const auto& c : cases) {
        editor->show();
        c.open();
        ASSERT_NE(sharedColorPanelIfCreated(), nullptr) << c.what;
        ASSERT_TRUE(sharedColorPanelIfCreated()->isVisible()) << c.what;
        editor->hide();
        EXPECT_EQ(sharedColorPanelIfCreated()->isVisible(), c.stillShown) << c.what;
        closeSharedColorPanel();
    }
}

TEST_F(CornerRoundingPageTest, OpacityRowsFollowTheLinksAndShowEachCornersOwnValue) {
    CornerOpacitySection page(*settings, loop);
    editCorners([](CornerSettings& c) {
        c.screenTopOpacity = 0.5;
        c.screenTopLeftOpacity = 0.204;
        c.screenTopRightOpacity = 0.996;
        c.bottomOpacity = 0.125;
        c.bottomLeftOpacity = 0.3;
        c.bottomRightOpacity = 0.7;
    });
    struct Shown {
        ScreenCorner corner;
        const char* title;
        const char* text;
    };
    const struct {
        bool topLinked, bottomLinked;
        std::vector<Shown> rows;
    } states[] = {
        {true, true, {{ScreenCorner::screenTopLeft, "Top corners", "50%"}, {ScreenCorner::bottomLeft, "Bottom corners", "13%"}}},
        {false, true,
         {{ScreenCorner::screenTopLeft, "Top left", "20%"},
          {ScreenCorner::screenTopRight, "Top right", "100%"},
          {ScreenCorner::bottomLeft, "Bottom corners", "13%"}}},
        {false, false,
         {{ScreenCorner::screenTopLeft, "Top left", "20%"},
          {ScreenCorner::screenTopRight, "Top right", "100%"},
          {ScreenCorner::bottomLeft, "Bottom left", "30%"},
          {ScreenCorner::bottomRight, "Bottom right", "70%"}}},
    };
    for (const auto& state : states) {
        editCorners([&](CornerSettings& c) {
            c.screenTopLinked = state.topLinked;
            c.bottomLinked = state.bottomLinked;
        });
        const std::string what = std::to_string(state.topLinked) + "/" + std::to_string(state.bottomLinked);
        EXPECT_EQ(shows(page.linkedRows(CornerRow::screenTop), &page), state.topLinked) << what;
        EXPECT_EQ(shows(page.unlinkedRows(CornerRow::screenTop), &page), !state.topLinked) << what;
        EXPECT_EQ(shows(page.linkedRows(CornerRow::bottom), &page), state.bottomLinked) << what;
        EXPECT_EQ(shows(page.unlinkedRows(CornerRow::bottom), &page), !state.bottomLinked) << what;
        for (const Shown& r : state.rows) {
            const bool linked = rowOf(r.corner) == CornerRow::bottom ? state.bottomLinked : state.topLinked;
            SettingsSliderRow* row = page.row(r.corner, linked);
            EXPECT_TRUE(shows(row, &page)) << what << ' ' << r.title;
            EXPECT_TRUE(hasText(row, QString::fromUtf8(r.title))) << what << ' ' << r.title;
            EXPECT_EQ(text(row), QString::fromUtf8(r.text)) << what << ' ' << r.title;
        }
    }

    // A drag on a corner's own row writes that corner (and the row value) on a later turn.
    page.row(ScreenCorner::bottomRight, false)->slider()->setValue(
        page.row(ScreenCorner::bottomRight, false)->slider()->positionOf(0.4));
    EXPECT_DOUBLE_EQ(settings->corners().bottomRightOpacity, 0.7);
    settle();
    EXPECT_NEAR(settings->corners().bottomRightOpacity, 0.4, 1e-9);
    EXPECT_NEAR(settings->corners().bottomLeftOpacity, 0.3, 1e-9) << "the unlinked twin changed";
    EXPECT_EQ(text(page.row(ScreenCorner::bottomRight, false)), QStringLiteral("40%"));
}

TEST_F(CornerRoundingPageTest, PositionPickersShowTheStoredStackingAndSetItOnTheNextTurn) {
    BottomCornerPositionSection page(*settings, loop);
    const auto picker = [&](const char* title) {
        return test::rowTitled<SettingsChoiceRow>(&page, QString::fromUtf8(title));
    };
    settings->cornerBottomLeftZ = BottomCornerZ::wallpaper;
    settings->cornerBottomRightZ = BottomCornerZ::belowActive;
    editCorners([](CornerSettings& c) { c.bottomLinked = true; });
    EXPECT_TRUE(shows(picker("Bottom corners"), &page));
    EXPECT_FALSE(shows(picker("Bottom left"), &page) || shows(picker("Bottom right"), &page));
    EXPECT_EQ(shownChoice(picker("Bottom corners")), QStringLiteral("Above wallpaper"));

    // Linked, one choice sets both corners.
    pick(picker("Bottom corners"), 0);
    EXPECT_EQ(settings->cornerBottomLeftZ(), BottomCornerZ::wallpaper) << "written inside the menu's event";
    settle();
    EXPECT_EQ(settings->cornerBottomLeftZ(), BottomCornerZ::above);
    EXPECT_EQ(settings->cornerBottomRightZ(), BottomCornerZ::above);

    // Unlinked, each picker shows and sets its own corner.
    settings->cornerBottomRightZ = BottomCornerZ::belowActive;
    editCorners([](CornerSettings& c) { c.bottomLinked = false; });
    EXPECT_FALSE(shows(picker("Bottom corners"), &page));
    EXPECT_EQ(shownChoice(picker("Bottom left")), QStringLiteral("Above app windows"));
    EXPECT_EQ(shownChoice(picker("Bottom right")), QStringLiteral("Below active window"));
    pick(picker("Bottom right"), 2);
    settle();
    EXPECT_EQ(settings->cornerBottomRightZ(), BottomCornerZ::wallpaper);
    EXPECT_EQ(settings->cornerBottomLeftZ(), BottomCornerZ::above);

    // A string that is none of the three queues nothing.
    for (const char* bad : {"", "Above", "behind", "wallpaper "}) {
        BottomCornerPositionSection::choose(*settings, loop, ScreenCorner::bottomLeft, bad);
        EXPECT_EQ(loop.pendingPosts(), 0u) << '"' << bad << '"';
    }
}

TEST_F(CornerRoundingPageTest, TheStrokeSwitchWritesAtOnceAndAnEqualValueWritesNothing) {
    CornerStrokeSection page(*settings, loop);
    int changes = 0;
    const auto counting = settings->corners.changes().sink([&](const CornerSettings&) { ++changes; });
    defaults.clearWrites();
    test::rowTitled<SettingsToggleRow>(&page, QStringLiteral("Add corner stroke"))->toggle()->click();
    EXPECT_TRUE(settings->corners().arcStrokeEnabled) << "the switch waited for a later turn";
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(defaults.wasWritten("cornerSettings"));

    defaults.clearWrites();
    CornerStrokeSection::setStroke(*settings, true);
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(defaults.wasWritten("cornerSettings"));
    settle();
    EXPECT_TRUE(test::rowTitled<SettingsToggleRow>(&page, QStringLiteral("Add corner stroke"))
                    ->toggle()
                    ->isChecked());
    test::rowTitled<SettingsToggleRow>(&page, QStringLiteral("Add corner stroke"))->toggle()->click();
    EXPECT_FALSE(settings->corners().arcStrokeEnabled);
    EXPECT_EQ(changes, 2);
}

TEST_F(CornerRoundingPageTest, TheLegendNamesEachControlWithItsSymbol) {
    CornerHoverLegend legend(loop);
    const char* titles[] = {"Radius", "Above / Behind", "Custom color", "Link"};
    legend.resize(460, 600);
    (void)legend.grab();  // lays the rows out
    int above = -1;
    for (int i = 0; i < 4; ++i) {
        QLabel* title = test::labelReading(&legend, QString::fromUtf8(titles[i]));
        ASSERT_NE(title, nullptr) << titles[i];
        const int y = title->mapTo(&legend, QPoint()).y();
        EXPECT_GT(y, above) << titles[i] << ": the rows run in the legend's order";
        above = y;
        EXPECT_TRUE(hasSymbol(CornerHoverLegend::entries[i].symbol)) << CornerHoverLegend::entries[i].symbol;
        // The row's symbol stands before its texts.
        QWidget* row = title->parentWidget()->parentWidget();
        auto* symbol = row->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
        ASSERT_NE(symbol, nullptr) << titles[i];
        EXPECT_FALSE(symbol->pixmap().isNull()) << titles[i];
    }
    EXPECT_TRUE(hasText(&legend, QStringLiteral("Hover controls")));
}

// The settings window's root view over the fixture's settings and picture services, at a given size.
struct RootViewRig {
    RootViewRig(OverlaySettings& settings, test::FakeDefaultsStore& defaults, MainLoop& loop,
                CornerPreviewServices preview, QSize size)
        : profiles(defaults),
          view(SettingsRootView::Model{
              .showWelcomeTour = [] {},
              .updateCheck = [this]() -> UpdateCheckModel& { return updateCheck; },
              .settings = settings,
              .loginItem = {login, [](bool) {}},
              .profileManager = profiles,
              .navigation = navigation,
              .loop = loop,
              .makeExcludedAppsModel = nullptr,
              .about = AboutServices{{}, {}, {}, defaults, nullptr, {}, {}},
              .cornerPreview = preview,
          }) {
        view.resize(size);
        view.show();
    }
    // The pane the pages scroll in (the sidebar scrolls on its own).
    QScrollArea* detail() {
        for (QScrollArea* area : view.findChildren<QScrollArea*>())
            if (!dynamic_cast<SettingsSidebar*>(area)) return area;
        return nullptr;
    }

    ProfileManager profiles;
    test::FakeUpdater updater;
    UpdateCheckModel updateCheck{updater};
    Published<bool> login{false};
    SettingsNavigation navigation;
    SettingsRootView view;
};

// The settings window's Corner Rounding page gets the app's wallpaper pictures, and holds them only while
// it is the page on screen.
TEST_F(CornerRoundingPageTest, TheRootViewHandsThePageItsPicturesAndHidesItWithOtherPages) {
    RootViewRig rig(*settings, defaults, loop, services(), QSize(700, 600));
    SettingsNavigation& navigation = rig.navigation;
    SettingsRootView& view = rig.view;
    navigation.selection = SettingsCategory::cornerRounding;
    settle();
    auto* editor = test::findWidget<CornerRoundingSection>(test::shownPage(view));
    ASSERT_NE(editor, nullptr);
    ASSERT_EQ(snapshot.requests.size(), 1u);
    EXPECT_TRUE(followsWallpaper());
    ASSERT_EQ(snapshot.requests.size(), 2u);
    snapshot.answerLast(solidPicture(Qt::red));
    EXPECT_TRUE(test::findWidget<WallpaperCanvas>(editor)->image());

    navigation.selection = SettingsCategory::animation;
    settle();
    EXPECT_FALSE(followsWallpaper());
    navigation.selection = SettingsCategory::cornerRounding;
    settle();
    EXPECT_EQ(snapshot.requests.size(), 3u) << "showing again asks for a picture";
    EXPECT_TRUE(followsWallpaper());
}

// Return (or Escape) in a ring's radius field closes it and leaves the keyboard and the page's scroll where
// they were: the field going away must not hand the keyboard to the next control of the page (the "Top
// corners" slider) and scroll the page down to it.
TEST_F(CornerRoundingPageTest, ClosingARadiusFieldLeavesTheFocusAndThePagesScrollWhereTheyWere) {
    RootViewRig rig(*settings, defaults, loop, services(), QSize(700, 500));
    QApplication::setActiveWindow(&rig.view);
    rig.navigation.selection = SettingsCategory::cornerRounding;
    settle();
    editCorners([](CornerSettings& c) { c.bottomRadius = 20; });
    RingOverlay* rings = ringLayer(test::findWidget<CornerRoundingSection>(test::shownPage(rig.view)));
    ASSERT_NE(rings, nullptr);
    QScrollBar* scroll = rig.detail()->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 60) << "the page is taller than the window";
    SidebarRow* sidebarRow =
        test::findWidget<SettingsSidebar>(&rig.view)->row(SettingsCategory::cornerRounding);

    const struct {
        const char* what;
        QWidget* focusBefore;
        int key;
        int typed;
        double radius;
    } cases[] = {
        {"Return with nothing focused", nullptr, Qt::Key_Return, 30, 30},
        {"Return with the sidebar focused", sidebarRow, Qt::Key_Return, 31, 31},
        {"the keypad's Enter", nullptr, Qt::Key_Enter, 32, 32},
        {"Escape", sidebarRow, Qt::Key_Escape, 40, 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.focusBefore)
            c.focusBefore->setFocus(Qt::TabFocusReason);
        else if (QApplication::focusWidget())
            QApplication::focusWidget()->clearFocus();
        scroll->setValue(40);
        startTypingRadius(rings, GaugeCorner::bottomLeft);
        auto* field = test::findWidget<QLineEdit>(rings);
        ASSERT_TRUE(field->hasFocus()) << "typing goes to the field";
        field->setText(QString::number(c.typed));
        emit field->textEdited(field->text());
        QKeyEvent key(QEvent::KeyPress, c.key, Qt::NoModifier);
        QApplication::sendEvent(field, &key);
        settle();
        EXPECT_FALSE(field->isVisible());
        EXPECT_DOUBLE_EQ(storedRadius(settings->corners(), ScreenCorner::bottomLeft), c.radius);
        EXPECT_EQ(QApplication::focusWidget(), c.focusBefore);
        EXPECT_EQ(scroll->value(), 40) << "the page stays where it was";
    }
}

}  // namespace
}  // namespace velaro
