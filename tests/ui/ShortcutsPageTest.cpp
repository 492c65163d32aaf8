// The Shortcuts page and its recorder, driven by key events sent into a real (offscreen) window: which key
// presses are stored, which are refused with which notice and whether recording goes on, what pauses and
// restores the global hot keys, and how the rows show it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeHotkeys.h"
#include "support/FakeKeyboardLayout.h"
#include "support/RowSearch.h"
#include "support/VirtualLoop.h"
#include "ui/settings/pages/ShortcutsSection.h"

namespace velaro {
namespace {

using test::FakeKeyboardLayout;
using A = ShortcutAction;

constexpr std::uint32_t kK = 40, kA = 0, kEscape = 53, kLeft = 123, kRight = 124;
constexpr std::uint32_t kCtrl = ShortcutKeyCombo::controlMask, kAlt = ShortcutKeyCombo::optionMask,
                        kShift = ShortcutKeyCombo::shiftMask, kCmd = ShortcutKeyCombo::commandMask;

class ShortcutsPageTest : public ::testing::Test {
protected:
    // A row's clear button, by the name it is announced with: "Clear shortcut for" and the title the row
    // shows.
    static QAbstractButton* clearButton(const ShortcutRecorderRow* row) {
        const QString prefix = QStringLiteral("Clear shortcut for ");
        for (QAbstractButton* button : row->findChildren<QAbstractButton*>())
            if (button->accessibleName().startsWith(prefix) &&
                test::labelReading(row, button->accessibleName().mid(prefix.size())))
                return button;
        return nullptr;
    }
    static ShortcutRecordButton* recordButton(const ShortcutRecorderRow* row) {
        return test::findWidget<ShortcutRecordButton>(row);
    }
    // The record button's fill as painted beside its text: tinted while it records.
    static QColor buttonFill(const ShortcutRecorderRow* row) {
        ShortcutRecordButton* button = recordButton(row);
        return button->grab().toImage().pixelColor(4, button->height() / 2);
    }
    ShortcutsPageTest() {
        layout.setKey(kK, "k");
        settings = std::make_unique<OverlaySettings>(defaults, loop);
        loop.runUntilIdle();
        window = std::make_unique<QWidget>();
        auto* column = new QVBoxLayout(window.get());
        page = new ShortcutsSection(*settings, loop, {&hotkeys, &layout}, window.get());
        column->addWidget(page);
        window->resize(460, 500);
        window->show();
        activate(window.get());
    }
    ~ShortcutsPageTest() override { page = nullptr; }

    static void activate(QWidget* w) {
        w->activateWindow();
        QApplication::setActiveWindow(w);
        QCoreApplication::processEvents();
    }

    // The action whose row shows it records, once the page has caught up.
    std::optional<A> recordingAction() {
        loop.runUntilIdle();
        for (A action : {A::master, A::overlay, A::visualizer, A::progressBar, A::corners})
            if (recordButton(page->row(action))->accessibleName().startsWith(QStringLiteral("Recording ")))
                return action;
        return std::nullopt;
    }
    // Leaving the page and coming back ends a recording.
    void leaveAndReturn() {
        page->hide();
        page->show();
    }

    // A key press as the desktop delivers it to the window's focus.
    bool press(std::uint32_t keyCode, Qt::KeyboardModifiers modifiers, bool repeat = false,
               QWidget* target = nullptr) {
        QKeyEvent event(QEvent::KeyPress, Qt::Key_unknown, modifiers, FakeKeyboardLayout::native(keyCode), 0,
                        0, QString(), repeat);
        QCoreApplication::sendEvent(target ? target : recordButton(page->row(A::master)), &event);
        return event.isAccepted();
    }

    std::optional<ShortcutKeyCombo> stored(A action) const { return settings->appShortcuts().combo(action); }
    void store(A action, ShortcutKeyCombo combo) {
        ShortcutSettings shortcuts = settings->appShortcuts();
        shortcuts.assign(action, combo);
        settings->appShortcuts = shortcuts;
    }
    // The notice a row shows, once the page has caught up: a refusal in red, a warning in orange.
    std::optional<ShortcutNotice> notice() {
        loop.runUntilIdle();
        for (A action : {A::master, A::overlay, A::visualizer, A::progressBar, A::corners}) {
            const SpacedText* shown = page->row(action)->notice();
            if (!shown->isVisibleTo(page)) continue;
            const QColor ink = shown->label()->palette().color(QPalette::WindowText);
            return ShortcutNotice{action, shown->text().toStdString(), ink == QColor(255, 59, 48)};
        }
        return std::nullopt;
    }
    void record(A action) {
        recordButton(page->row(action))->click();
        loop.runUntilIdle();
    }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    test::FakeHotkeys hotkeys;
    FakeKeyboardLayout layout;
    std::unique_ptr<OverlaySettings> settings;
    std::unique_ptr<QWidget> window;
    ShortcutsSection* page = nullptr;
};

TEST_F(ShortcutsPageTest, RowsShowTheirActionsStoredCombinationsAndClearButtons) {
    const std::vector<std::pair<A, const char*>> titles{{A::master, "Master Switch"},
                                                        {A::overlay, "Overlay"},
                                                        {A::visualizer, "Music Visualizer"},
                                                        {A::progressBar, "Progress Bar"},
                                                        {A::corners, "Corner Rounding"}};
    for (const auto& [action, title] : titles) {
        ShortcutRecorderRow* row = page->row(action);
        ASSERT_NE(row, nullptr) << title;
        EXPECT_NE(test::labelReading(row, QString::fromUtf8(title)), nullptr);
        EXPECT_EQ(recordButton(row)->text(), QStringLiteral("Record Shortcut"));
        EXPECT_EQ(recordButton(row)->accessibleName(), QStringLiteral("Record shortcut for ") + title);
        EXPECT_FALSE(clearButton(row)->isVisibleTo(page)) << title;
        EXPECT_FALSE(row->notice()->isVisibleTo(page)) << title;
    }
    // The rows run top to bottom in the actions' order.
    for (std::size_t i = 1; i < titles.size(); ++i)
        EXPECT_LT(page->row(titles[i - 1].first)->mapTo(page, QPoint()).y(),
                  page->row(titles[i].first)->mapTo(page, QPoint()).y());

    store(A::overlay, {kK, kCtrl | kAlt | kShift | kCmd});
    loop.runUntilIdle();
    EXPECT_EQ(recordButton(page->row(A::overlay))->text(), QStringLiteral("Ctrl+Alt+Shift+Super+K"));
    ASSERT_NE(test::findAccessible<QAbstractButton>(page->row(A::overlay),
                                                    QStringLiteral("Clear shortcut for Overlay")),
              nullptr);
    EXPECT_TRUE(clearButton(page->row(A::overlay))->isVisibleTo(page));

    clearButton(page->row(A::overlay))->click();
    loop.runUntilIdle();
    EXPECT_FALSE(stored(A::overlay));
    EXPECT_EQ(recordButton(page->row(A::overlay))->text(), QStringLiteral("Record Shortcut"));
    EXPECT_EQ(defaults.dataValue("appShortcuts"), encodeSortedKeys(ShortcutSettings{}));
}

TEST_F(ShortcutsPageTest, RecordingPausesTheHotKeysShowsItsLookAndAToggleStopsIt) {
    store(A::overlay, {kK, kCtrl | kAlt});
    record(A::overlay);
    ShortcutRecorderRow* row = page->row(A::overlay);
    EXPECT_TRUE(settings->shortcutRecordingActive());
    EXPECT_NE(buttonFill(row), buttonFill(page->row(A::visualizer))) << "the recording look";
    EXPECT_EQ(recordButton(row)->text(), QStringLiteral("Type shortcut… (Esc cancels)"));
    EXPECT_EQ(recordButton(row)->accessibleName(), QStringLiteral("Recording shortcut for Overlay"));
    EXPECT_FALSE(clearButton(row)->isVisibleTo(page)) << "no clear button while recording, even when stored";
    EXPECT_EQ(recordButton(page->row(A::master))->text(), QStringLiteral("Record Shortcut"));

    record(A::master);  // another row takes over
    EXPECT_EQ(recordingAction(), A::master);
    EXPECT_EQ(buttonFill(row), buttonFill(page->row(A::visualizer))) << "the resting look again";
    EXPECT_TRUE(settings->shortcutRecordingActive());

    record(A::master);  // its own button again: stopped, nothing stored
    EXPECT_FALSE(recordingAction());
    EXPECT_FALSE(settings->shortcutRecordingActive());
    EXPECT_FALSE(stored(A::master));
    EXPECT_FALSE(press(kK, Qt::ControlModifier | Qt::AltModifier)) << "idle: keys pass through";
}

// One key press while "overlay" records, with the state it leaves. Stored before: corners holds Ctrl+Alt+K.
TEST_F(ShortcutsPageTest, EachKindOfKeyPressIsStoredOrRefusedWithItsNotice) {
    struct Case {
        const char* what;
        std::uint32_t key;
        Qt::KeyboardModifiers modifiers;
        std::optional<ShortcutKeyCombo> stored;  // overlay's combination afterwards
        std::optional<std::string> notice;
        bool blocking;
        bool stillRecording;
    };
    const std::string usedByCorners = "Already used by “Corner Rounding”.";
    const std::string reserved = "Reserved by the progress bar’s Alt+arrow keys.";
    const std::vector<Case> cases{
        {"a letter alone", kA, Qt::NoModifier, std::nullopt, ShortcutRecorderModel::missingModifierText, true,
         true},
        {"caps lock and keypad are no modifiers", kA, Qt::KeypadModifier, std::nullopt,
         ShortcutRecorderModel::missingModifierText, true, true},
        {"another action's combination", kK, Qt::ControlModifier | Qt::AltModifier, std::nullopt,
         usedByCorners, true, false},
        {"the progress bar's seek keys", kLeft, Qt::AltModifier, std::nullopt, reserved, true, false},
        {"seek keys with another modifier as well", kLeft, Qt::AltModifier | Qt::ShiftModifier,
         ShortcutKeyCombo{kLeft, kAlt | kShift}, std::nullopt, false, false},
        {"an arrow with control", kLeft, Qt::ControlModifier, ShortcutKeyCombo{kLeft, kCtrl}, std::nullopt,
         false, false},
        {"Escape with a modifier", kEscape, Qt::AltModifier, ShortcutKeyCombo{kEscape, kAlt}, std::nullopt,
         false, false},
        {"Super is command", kK, Qt::MetaModifier, ShortcutKeyCombo{kK, kCmd}, std::nullopt, false, false},
        {"Escape alone cancels", kEscape, Qt::NoModifier, std::nullopt, std::nullopt, false, false},
    };
    // Refusals name the keys as the desktop writes them.
    EXPECT_STREQ(ShortcutRecorderModel::missingModifierText,
                 "Add at least one modifier key (Ctrl, Alt, Shift or Super).");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        settings->appShortcuts = ShortcutSettings{};
        store(A::corners, {kK, kCtrl | kAlt});
        record(A::overlay);
        EXPECT_TRUE(press(c.key, c.modifiers)) << "the press is consumed";
        loop.runUntilIdle();
        EXPECT_EQ(stored(A::overlay), c.stored);
        EXPECT_EQ(stored(A::corners), (ShortcutKeyCombo{kK, kCtrl | kAlt})) << "never touched";
        if (c.notice) {
            ASSERT_TRUE(notice());
            EXPECT_EQ(*notice(), (ShortcutNotice{A::overlay, *c.notice, c.blocking}));
            EXPECT_TRUE(page->row(A::overlay)->notice()->isVisibleTo(page));
            EXPECT_EQ(page->row(A::overlay)->notice()->text().toStdString(), *c.notice);
            EXPECT_FALSE(page->row(A::master)->notice()->isVisibleTo(page));
        } else {
            EXPECT_FALSE(notice());
            EXPECT_FALSE(page->row(A::overlay)->notice()->isVisibleTo(page));
        }
        EXPECT_EQ(recordingAction().has_value(), c.stillRecording);
        EXPECT_EQ(settings->shortcutRecordingActive(), c.stillRecording);
        leaveAndReturn();
    }
}

TEST_F(ShortcutsPageTest, TheSeekModifierFollowsTheSettingAndUnknownValuesMeanOption) {
    const std::vector<std::tuple<const char*, std::uint32_t, const char*>> cases{
        {"shift", kShift, "Shift"}, {"control", kCtrl, "Ctrl"}, {"command", kCmd, "Super"},
        {"option", kAlt, "Alt"},    {"hyper", kAlt, "Alt"},
    };
    for (const auto& [name, mask, key] : cases) {
        settings->progressModifier = std::string(name);
        for (std::uint32_t arrow : {123u, 124u, 125u, 126u})
            EXPECT_EQ(conflictMessage({arrow, mask}, A::master, *settings),
                      std::string("Reserved by the progress bar’s ") + key + "+arrow keys.")
                << name << " " << arrow;
        EXPECT_FALSE(conflictMessage({kK, mask}, A::master, *settings)) << name;
        const std::uint32_t extra = mask == kShift ? kCtrl : kShift;
        EXPECT_FALSE(conflictMessage({kRight, mask | extra}, A::master, *settings))
            << name << ": not exactly";
    }
}

TEST_F(ShortcutsPageTest, RecordingAnActionsOwnCombinationAgainSavesIt) {
    store(A::master, {kK, kCtrl | kAlt});
    record(A::master);
    EXPECT_TRUE(press(kK, Qt::ControlModifier | Qt::AltModifier));
    EXPECT_EQ(stored(A::master), (ShortcutKeyCombo{kK, kCtrl | kAlt}));
    EXPECT_FALSE(notice());
    EXPECT_FALSE(recordingAction());
}

TEST_F(ShortcutsPageTest, AMissingModifierKeepsRecordingSoTheNextTrySaves) {
    record(A::visualizer);
    press(kA, Qt::NoModifier);
    EXPECT_TRUE(notice() && notice()->isBlocking);
    // Repeats of a held key and keys no shortcut can hold change nothing; modifiers alone pass on.
    EXPECT_TRUE(press(kK, Qt::ControlModifier | Qt::AltModifier, /*repeat=*/true));
    layout.unknownNativeKeys.insert(FakeKeyboardLayout::native(99));
    EXPECT_FALSE(press(99, Qt::ControlModifier)) << "a media key passes through";
    EXPECT_FALSE(stored(A::visualizer));
    EXPECT_EQ(recordingAction(), A::visualizer);

    EXPECT_TRUE(press(kK, Qt::ControlModifier | Qt::AltModifier));
    EXPECT_EQ(stored(A::visualizer), (ShortcutKeyCombo{kK, kCtrl | kAlt}));
    EXPECT_FALSE(notice()) << "a save clears the refusal";
    EXPECT_FALSE(settings->shortcutRecordingActive());
}

TEST_F(ShortcutsPageTest, ACombinationAnotherProgramHoldsIsSavedWithAWarning) {
    hotkeys.heldElsewhere.insert({kK, kCtrl | kAlt});
    record(A::progressBar);
    press(kK, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(stored(A::progressBar), (ShortcutKeyCombo{kK, kCtrl | kAlt}));
    ASSERT_TRUE(notice());
    EXPECT_EQ(*notice(),
              (ShortcutNotice{A::progressBar,
                              "Saved. Note: Ctrl+Alt+K is also an active desktop shortcut — the system may "
                              "act on it too.",
                              false}));
    loop.runUntilIdle();
    EXPECT_EQ(recordButton(page->row(A::progressBar))->text(), QStringLiteral("Ctrl+Alt+K"));
    EXPECT_TRUE(page->row(A::progressBar)->notice()->isVisibleTo(page));

    // The probe leaves nothing registered; a free combination saves without a warning.
    EXPECT_TRUE(hotkeys.registered().empty());
    record(A::corners);
    press(kA, Qt::ControlModifier);
    EXPECT_FALSE(notice());
    EXPECT_TRUE(hotkeys.registered().empty());
    EXPECT_EQ(hotkeys.unregisterCalls, 1);

    // A warning survives a cancel; a new recording clears it; a refusal does not survive a cancel.
    record(A::progressBar);
    hotkeys.heldElsewhere.insert({kK, kCtrl | kShift});
    press(kK, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(notice());
    press(kEscape, Qt::NoModifier);
    EXPECT_TRUE(notice() && !notice()->isBlocking);
    record(A::master);
    EXPECT_FALSE(notice());
    press(kA, Qt::NoModifier);
    press(kEscape, Qt::NoModifier);
    EXPECT_FALSE(notice());
}

TEST_F(ShortcutsPageTest, WithoutAProbeServiceNothingCountsAsHeld) {
    EXPECT_FALSE(isActiveSystemShortcut({kK, kCtrl}, nullptr));
    hotkeys.heldElsewhere.insert({kK, kCtrl});
    EXPECT_TRUE(isActiveSystemShortcut({kK, kCtrl}, &hotkeys));
    EXPECT_FALSE(isActiveSystemShortcut({kA, kCtrl}, &hotkeys));
}

TEST_F(ShortcutsPageTest, FocusLossAnotherWindowAndLeavingThePageEndRecording) {
    QWidget other;
    other.show();
    struct Ending {
        const char* what;
        std::function<void()> act;
    };
    const std::vector<Ending> endings{
        {"the window loses the focus",
         [&] {
             QEvent deactivate(QEvent::WindowDeactivate);
             QCoreApplication::sendEvent(window.get(), &deactivate);
         }},
        {"the application turns inactive",
         [&] {
             QApplicationStateChangeEvent inactive(Qt::ApplicationInactive);
             QCoreApplication::sendEvent(qApp, &inactive);
         }},
        {"a key lands in another window",
         [&] {
             activate(&other);
             EXPECT_FALSE(press(kK, Qt::ControlModifier, false, &other)) << "the key passes on";
         }},
        {"the page hides", [&] { page->hide(); }},
        {"the window closes", [&] { window->close(); }},
    };
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.what);
        window->show();
        page->show();
        activate(window.get());
        record(A::overlay);
        press(kA, Qt::NoModifier);  // a refusal that a cancel removes
        ASSERT_TRUE(settings->shortcutRecordingActive());
        ending.act();
        loop.runUntilIdle();
        EXPECT_FALSE(recordingAction());
        EXPECT_FALSE(settings->shortcutRecordingActive()) << "the hot keys come back";
        EXPECT_FALSE(stored(A::overlay));
        activate(window.get());
        EXPECT_FALSE(press(kK, Qt::ControlModifier | Qt::AltModifier)) << "no filter is left behind";
    }
}

TEST_F(ShortcutsPageTest, RecordingWithNoFocusedWindowCancelsOnTheFirstKey) {
    window->hide();
    QApplication::setActiveWindow(nullptr);
    ShortcutRecorderModel recorder({&hotkeys, &layout});
    recorder.begin(A::master, *settings);
    QKeyEvent event(QEvent::KeyPress, Qt::Key_K, Qt::ControlModifier, FakeKeyboardLayout::native(kK), 0, 0);
    EXPECT_FALSE(recorder.handleKeyPress(event));
    EXPECT_FALSE(recorder.recordingAction()());
    EXPECT_FALSE(stored(A::master));
}

TEST_F(ShortcutsPageTest, ARecorderDestroyedWhileRecordingGivesTheHotKeysBack) {
    {
        ShortcutRecorderModel recorder({&hotkeys, &layout});
        recorder.begin(A::master, *settings);
        ASSERT_TRUE(settings->shortcutRecordingActive());
    }
    EXPECT_FALSE(settings->shortcutRecordingActive());
    // Its key filter went with it: a key press reaches the window as usual.
    EXPECT_FALSE(press(kK, Qt::ControlModifier | Qt::AltModifier));
    EXPECT_FALSE(stored(A::master));

    // The page likewise, destroyed in the middle of a recording.
    record(A::corners);
    delete page;
    page = nullptr;
    EXPECT_FALSE(settings->shortcutRecordingActive());
}

}  // namespace
}  // namespace velaro
