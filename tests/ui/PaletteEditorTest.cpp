// The colour-list editor over the wave palette and the hue drift's cycle: its buttons at the limits, a stored
// entry that is not a colour, reset, the colour panel released by moves and removals and the guard that keeps
// a late pick from landing on another colour; the hue drift section's rows, resets and unchanged writes.
#include <gtest/gtest.h>

#include <QColorDialog>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/RowSearch.h"
#include "support/VirtualLoop.h"
#include "ui/settings/kit/PaletteEditor.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/kit/SymbolButton.h"
#include "ui/settings/pages/HueDriftSection.h"
#include "ui/settings/pages/VisualizerSection.h"

namespace velaro {
namespace {

using List = std::vector<std::string>;

List numbered(std::size_t count) {
    List list;
    for (std::size_t i = 0; i < count; ++i) list.push_back(hexString(Color::rgb(double(i) / 10, 0, 0)));
    return list;
}

// The rows an editor shows, top to bottom: it hides the rows a shorter list leaves over, never destroys them.
std::vector<PaletteEditor::Row*> shownRows(const PaletteEditor* editor) {
    std::vector<PaletteEditor::Row*> shown;
    for (PaletteEditor::Row* row : test::findWidgets<PaletteEditor::Row>(editor))
        if (!row->isHidden()) shown.push_back(row);
    return shown;
}

class PaletteEditorTest : public ::testing::Test {
protected:
    PaletteEditorTest() {
        settings = std::make_unique<OverlaySettings>(defaults, loop);
        settings->vizEnabled = true;
        settings->vizStyle = "waves";
        settings->vizWaveColorMode = "palette";
        loop.runUntilIdle();
        page = std::make_unique<VisualizerSection>(*settings, loop);
        page->show();
        editor = test::findWidget<PaletteEditor>(page.get());
    }
    ~PaletteEditorTest() override { closeSharedColorPanel(); }

    void setPalette(List list) {
        settings->vizPalette = std::move(list);
        loop.runUntilIdle();
    }
    // Opens row i's well and picks a colour in the panel; the write is queued, not run.
    void pick(std::size_t row, const QColor& colour) {
        shownRows(editor)[row]->well()->click();
        sharedColorPanelIfCreated()->setCurrentColor(colour);
    }
    // A row's move button, by the name it is announced with ("Move color 2 up").
    static QAbstractButton* moveButton(const PaletteEditor::Row& row, std::size_t index, const char* way) {
        return test::findAccessible<QAbstractButton>(
            &row, QStringLiteral("Move color %1 %2").arg(index + 1).arg(QString::fromUtf8(way)));
    }
    // A row's remove button, by the name it is announced with ("Remove color 2").
    static QAbstractButton* removeButton(const PaletteEditor::Row& row, std::size_t index) {
        return test::findAccessible<QAbstractButton>(&row, QStringLiteral("Remove color %1").arg(index + 1));
    }
    bool panelShows() const { return sharedColorPanelIfCreated() && sharedColorPanelIfCreated()->isVisible(); }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    std::unique_ptr<OverlaySettings> settings;
    std::unique_ptr<VisualizerSection> page;
    PaletteEditor* editor = nullptr;
};

TEST_F(PaletteEditorTest, ButtonsFollowTheLimitsOfTwoAndTen) {
    const struct {
        std::size_t count;
        bool add, remove;
    } cases[] = {{2, true, false}, {3, true, true}, {9, true, true}, {10, false, true}, {8, true, true}};
    for (const auto& c : cases) {
        setPalette(numbered(c.count));
        const auto rows = shownRows(editor);
        ASSERT_EQ(rows.size(), c.count);
        EXPECT_EQ(test::buttonLabelled(editor, QStringLiteral("Add"))->isEnabled(), c.add) << c.count;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            QAbstractButton* remove = removeButton(*rows[i], i);
            ASSERT_NE(remove, nullptr) << c.count << " row " << i;
            EXPECT_EQ(remove->isEnabled(), c.remove) << c.count << " row " << i;
            const QString number = QString::number(i + 1);
            EXPECT_EQ(moveButton(*rows[i], i, "up")->isEnabled(), i > 0);
            EXPECT_EQ(moveButton(*rows[i], i, "down")->isEnabled(), i + 1 < c.count);
            EXPECT_NE(test::labelReading(rows[i], number), nullptr) << "the ordinal";
            EXPECT_EQ(rows[i]->well()->accessibleName(), QStringLiteral("Palette color %1").arg(i + 1));
            EXPECT_NE(test::labelReading(rows[i], QString::fromStdString(numbered(c.count)[i])), nullptr);
        }
    }
    // Refused edits change nothing, even when called directly.
    setPalette(numbered(2));
    defaults.clearWrites();
    editor->remove(0);
    editor->move(0, -1);
    editor->move(1, +1);
    editor->move(7, -1);
    setPalette(numbered(10));
    defaults.clearWrites();
    editor->add();
    loop.runUntilIdle();
    EXPECT_EQ(settings->vizPalette(), numbered(10));
    EXPECT_TRUE(defaults.writes().empty());

    // An empty list (only a hand-edited store gets there) offers nothing to copy.
    settings->vizPalette = List{};
    loop.runUntilIdle();
    editor->add();
    EXPECT_TRUE(settings->vizPalette().empty());
}

TEST_F(PaletteEditorTest, EditsWriteTheWholeListAtOnceAndResetRestoresTheReference) {
    setPalette({"#111111", "#222222", "#333333"});
    defaults.clearWrites();
    moveButton(*shownRows(editor)[0], 0, "down")->click();
    EXPECT_EQ(settings->vizPalette(), (List{"#222222", "#111111", "#333333"})) << "buttons write at once";
    EXPECT_EQ(defaults.stringArrayValue("vizPalette"), settings->vizPalette());
    test::buttonLabelled(editor, QStringLiteral("Add"))->click();
    EXPECT_EQ(settings->vizPalette().back(), "#333333");
    EXPECT_EQ(settings->vizPalette().size(), 4u);
    removeButton(*shownRows(editor)[1], 1)->click();
    EXPECT_EQ(settings->vizPalette(), (List{"#222222", "#333333", "#333333"}));

    setPalette(numbered(10));
    EXPECT_FALSE(test::buttonLabelled(editor, QStringLiteral("Add"))->isEnabled());
    settings->vizWaveColorMode = "palette";
    test::buttonLabelled(editor, QStringLiteral("Reset to reference"))->click();
    loop.runUntilIdle();
    EXPECT_EQ(settings->vizPalette(), vizDefaultPalette());
    EXPECT_EQ(shownRows(editor).size(), 8u);
    EXPECT_TRUE(test::buttonLabelled(editor, QStringLiteral("Add"))->isEnabled());
    EXPECT_EQ(settings->vizWaveColorMode(), "palette");
}

TEST_F(PaletteEditorTest, AnEntryThatIsNoColourShowsWhiteUntilItIsRecoloured) {
    setPalette({"#FF0000", "tomato", "#00FF00"});
    auto row = shownRows(editor)[1];
    EXPECT_EQ(test::paintedCentre(row->well()), QColor(Qt::white));
    EXPECT_NE(test::labelReading(row, QStringLiteral("tomato")), nullptr);
    pick(1, QColor(0x12, 0x34, 0x56));
    EXPECT_EQ(settings->vizPalette()[1], "tomato") << "the well's write waits for the next turn";
    loop.runUntilIdle();
    EXPECT_EQ(settings->vizPalette(), (List{"#FF0000", "#123456", "#00FF00"}));
    EXPECT_NE(test::labelReading(row, QStringLiteral("#123456")), nullptr);

    // Several picks before the loop turns all land, the last one last.
    sharedColorPanelIfCreated()->setCurrentColor(QColor(0xAA, 0, 0));
    sharedColorPanelIfCreated()->setCurrentColor(QColor(0xBB, 0, 0));
    loop.runUntilIdle();
    EXPECT_EQ(settings->vizPalette()[1], "#BB0000");
}

TEST_F(PaletteEditorTest, MovesAndRemovalsReleaseThePanelAndLatePicksNeverLandOnAnotherColour) {
    const struct {
        const char* name;
        std::function<void()> edit;
        List after;
    } cases[] = {
        {"move up",
         [&] { moveButton(*shownRows(editor)[1], 1, "up")->click(); },
         {"#222222", "#111111", "#333333"}},
        {"move down", [&] { editor->move(1, +1); }, {"#111111", "#333333", "#222222"}},
        {"remove before", [&] { editor->remove(0); }, {"#222222", "#333333"}},
        {"remove it", [&] { editor->remove(1); }, {"#111111", "#333333"}},
        {"reset", [&] { editor->reset(); }, vizDefaultPalette()},
    };
    for (const auto& c : cases) {
        setPalette({"#111111", "#222222", "#333333"});
        pick(1, QColor(0xAB, 0xCD, 0xEF));  // queued for entry 1, "#222222"
        ASSERT_TRUE(panelShows());
        c.edit();
        EXPECT_FALSE(panelShows()) << c.name;
        EXPECT_FALSE(sharedColorPanelServes(*shownRows(editor)[1]->well())) << c.name;
        loop.runUntilIdle();
        EXPECT_EQ(settings->vizPalette(), c.after) << c.name << ": the late pick was dropped";
        // The detached panel sends nothing anywhere.
        sharedColorPanelIfCreated()->setCurrentColor(QColor(1, 2, 3));
        loop.runUntilIdle();
        EXPECT_EQ(settings->vizPalette(), c.after) << c.name;
    }
    // Adding leaves the panel alone.
    setPalette({"#111111", "#222222"});
    pick(0, QColor(0x44, 0x44, 0x44));
    editor->add();
    EXPECT_TRUE(panelShows());
    loop.runUntilIdle();
    EXPECT_EQ(settings->vizPalette(), (List{"#444444", "#222222", "#222222"}));
}

TEST_F(PaletteEditorTest, TheEditorGoingClosesThePanel) {
    pick(0, QColor(9, 9, 9));
    settings->vizWaveColorMode = "rainbow";
    loop.runUntilIdle();
    EXPECT_FALSE(panelShows());
}

// ---- hue drift ----

class HueDriftSectionTest : public ::testing::Test {
protected:
    HueDriftSectionTest() {
        settings = std::make_unique<OverlaySettings>(defaults, loop);
        loop.runUntilIdle();
        section = std::make_unique<HueDriftSection>(*settings, loop);
        section->show();
        defaults.clearWrites();
    }
    ~HueDriftSectionTest() override { closeSharedColorPanel(); }

    void setDrift(const std::function<void(OverlayHueDrift&)>& change) {
        OverlayHueDrift drift = settings->hueDrift();
        change(drift);
        settings->hueDrift = drift;
        loop.runUntilIdle();
    }
    bool shows(const QWidget* w) const { return w && w->isVisibleTo(section.get()); }
    // The section's rows, by the titles they show.
    template <class Row>
    Row* row(const char* title) const {
        return test::rowTitled<Row>(section.get(), QString::fromUtf8(title));
    }
    SettingsSliderRow* durationRow() const { return row<SettingsSliderRow>("Transition duration"); }
    SettingsSliderRow* widthRow() const { return row<SettingsSliderRow>("Transition width"); }
    PaletteEditor* paletteEditor() const { return test::findWidget<PaletteEditor>(section.get()); }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    std::unique_ptr<OverlaySettings> settings;
    std::unique_ptr<HueDriftSection> section;
};

TEST_F(HueDriftSectionTest, RowsFollowEnabledVariantBlendAndSource) {
    using V = OverlayHueDrift::Variant;
    using S = OverlayHueDrift::Source;
    const struct {
        bool enabled;
        V variant;
        bool blend;
        S source;
        bool on, scroll, width, palette;
        const char* caption;
    } cases[] = {
        {false, V::scroll, true, S::palette, false, false, false, false, nullptr},
        {true, V::uniform, true, S::rainbow, true, false, false, false, "One color at a time, blending through the cycle."},
        {true, V::scroll, false, S::rainbow, true, true, false, false,
         "The colors sit side by side and flow in the chosen direction."},
        {true, V::scroll, true, S::rainbow, true, true, true, false, nullptr},
        {true, V::uniform, true, S::palette, true, false, false, true, nullptr},
        {true, V::scroll, true, S::palette, true, true, true, true, nullptr},
    };
    for (const auto& c : cases) {
        setDrift([&](OverlayHueDrift& d) {
            d.enabled = c.enabled;
            d.variant = c.variant;
            d.blend = c.blend;
            d.source = c.source;
        });
        const int at = int(&c - cases);
        EXPECT_TRUE(shows(row<SettingsToggleRow>("Hue Drift"))) << at;
        EXPECT_EQ(shows(row<SettingsChoiceRow>("Style")), c.on) << at << ": the rows under the switch";
        if (!c.on) continue;
        EXPECT_EQ(shows(row<SettingsChoiceRow>("Direction")), c.scroll)
            << at << ": the scrolling style's rows";
        EXPECT_EQ(shows(widthRow()), c.width) << at;
        EXPECT_EQ(shows(paletteEditor()), c.palette) << at;
        if (c.caption) {
            EXPECT_TRUE(shows(test::textReading(section.get(), QString::fromUtf8(c.caption)))) << at;
        }
        EXPECT_TRUE(durationRow()->isEnabled()) << "nothing in the section dims";
    }
    // Switching to the palette shows the stored stops as they are.
    setDrift([](OverlayHueDrift& d) {
        d.source = S::rainbow;
        d.paletteStops = {"#010101", "#020202", "#030303"};
    });
    setDrift([](OverlayHueDrift& d) { d.source = S::palette; });
    ASSERT_EQ(shownRows(paletteEditor()).size(), 3u);
    EXPECT_NE(test::labelReading(shownRows(paletteEditor())[2], QStringLiteral("#030303")), nullptr);
    EXPECT_EQ(shownRows(paletteEditor())[0]->well()->accessibleName(), QStringLiteral("Cycle color 1"));
}

TEST_F(HueDriftSectionTest, ControlsChangeOneFieldAndUnchangedValuesStoreNothing) {
    setDrift([](OverlayHueDrift& d) {
        d.enabled = true;
        d.variant = OverlayHueDrift::Variant::scroll;
        d.periodSeconds = 7.5;
        d.transitionWidth = 0.35;
    });
    EXPECT_EQ(test::valueShown(durationRow()), QStringLiteral("7.5 s"));
    EXPECT_EQ(test::valueShown(widthRow()), QStringLiteral("35%"));

    // Double clicks reset to the rows' own defaults: 2.0 s and 100 %.
    for (SettingsSliderRow* row : {durationRow(), widthRow()}) {
        QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(row->slider(), &click);
    }
    loop.runUntilIdle();
    EXPECT_EQ(settings->hueDrift().periodSeconds, 2.0);
    EXPECT_EQ(settings->hueDrift().transitionWidth, 1.0);
    EXPECT_EQ(test::valueShown(durationRow()), QStringLiteral("2.0 s"));
    EXPECT_EQ(test::valueShown(widthRow()), QStringLiteral("100%"));
    EXPECT_TRUE(settings->hueDrift().enabled) << "other fields stay";

    // The switch writes on the next turn; choosing the value already there stores nothing.
    defaults.clearWrites();
    row<SettingsToggleRow>("Gradient transition")->toggle()->click();
    EXPECT_TRUE(settings->hueDrift().blend);
    loop.runUntilIdle();
    EXPECT_FALSE(settings->hueDrift().blend);
    EXPECT_TRUE(defaults.wasWritten("overlayHueDrift"));
    defaults.clearWrites();
    settings->hueDrift = settings->hueDrift();
    auto* style = test::menuOf(row<SettingsChoiceRow>("Style"));
    style->activated(1);  // "Scroll", as stored
    loop.runUntilIdle();
    EXPECT_FALSE(defaults.wasWritten("overlayHueDrift"));
}

TEST_F(HueDriftSectionTest, ThePaletteEditorWritesTheStopsAndResetsToTheRainbow) {
    setDrift([](OverlayHueDrift& d) {
        d.enabled = true;
        d.source = OverlayHueDrift::Source::palette;
        d.periodSeconds = 4;
        d.paletteStops = {"#0000FF", "#00FF00"};
    });
    PaletteEditor* editor = paletteEditor();
    test::buttonLabelled(editor, QStringLiteral("Add"))->click();
    EXPECT_EQ(settings->hueDrift().paletteStops, (List{"#0000FF", "#00FF00", "#00FF00"}));
    EXPECT_EQ(settings->hueDrift().periodSeconds, 4);
    loop.runUntilIdle();
    shownRows(editor)[2]->well()->click();
    sharedColorPanelIfCreated()->setCurrentColor(QColor(0xFF, 0, 0));
    loop.runUntilIdle();
    EXPECT_EQ(settings->hueDrift().paletteStops[2], "#FF0000");
    test::buttonLabelled(editor, QStringLiteral("Reset to rainbow"))->click();
    EXPECT_FALSE(sharedColorPanelIfCreated()->isVisible());
    EXPECT_EQ(settings->hueDrift().paletteStops, OverlayHueDrift::defaultPalette());
    EXPECT_EQ(settings->hueDrift().source, OverlayHueDrift::Source::palette);
    // Switching the drift off takes the editor, and its panel, away.
    loop.runUntilIdle();
    shownRows(editor)[0]->well()->click();
    ASSERT_TRUE(sharedColorPanelIfCreated()->isVisible());
    setDrift([](OverlayHueDrift& d) { d.enabled = false; });
    EXPECT_FALSE(sharedColorPanelIfCreated()->isVisible());
}

}  // namespace
}  // namespace velaro
