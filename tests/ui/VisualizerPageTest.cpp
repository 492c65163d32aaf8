// The Music Visualizer page: which rows show and which dim for every combination of the switches, styles and
// colour modes (stored values that match no option included); value texts; the whole-number sliders; the
// audio engine's message; the progress bar card with its modifier texts and "After" delays; the colour panel
// going with the colour rows.
#include <gtest/gtest.h>

#include <QColorDialog>
#include <QComboBox>

#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/RowSearch.h"
#include "support/VirtualLoop.h"
#include "ui/settings/kit/PaletteEditor.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/pages/ProgressBarSection.h"
#include "ui/settings/pages/VisualizerSection.h"

namespace velaro {
namespace {

class VisualizerPageTest : public ::testing::Test {
protected:
    VisualizerPageTest() {
        settings = std::make_unique<OverlaySettings>(defaults, loop);
        loop.runUntilIdle();
        page = std::make_unique<VisualizerSection>(*settings, loop);
        page->resize(460, 2400);
        defaults.clearWrites();
    }
    ~VisualizerPageTest() override { closeSharedColorPanel(); }

    bool shows(const QWidget* w) const { return w->isVisibleTo(page.get()); }
    // Enabled as far as its own conditions go (the master switch aside).
    bool live(const QWidget* w) const { return w->isEnabledTo(content()); }

    // The page's parts as the user finds them: rows by title (within a section where titles repeat).
    template <class Row = SettingsSliderRow>
    Row* row(const char* title, const QObject* within = nullptr) const {
        return test::rowTitled<Row>(within ? within : page.get(), QString::fromUtf8(title));
    }
    QWidget* section(const char* title) const {
        return test::sectionTitled(page.get(), QString::fromUtf8(title));
    }
    SettingsToggleRow* enableRow() const { return row<SettingsToggleRow>("Enable Music Visualizer"); }
    // Everything under the master-off notice: the page's block that holds the switch.
    QWidget* content() const {
        QWidget* block = enableRow();
        while (block->parentWidget() != page.get()) block = block->parentWidget();
        return block;
    }
    // The audio engine's message, in the switch's card.
    SettingsNoticeText* statusText() const {
        return test::findWidget<SettingsNoticeText>(enableRow()->parentWidget());
    }
    SpacedText* masterOffNotice() const {
        return test::textReading(page.get(), QString::fromUtf8(VisualizerSection::masterOffText));
    }
    // The "Color" section's two forms, bars first: each has a solid colour well.
    SettingsColorWellRow* solidRow(std::size_t form) const {
        return test::rowsTitled<SettingsColorWellRow>(section("Color"), QStringLiteral("Solid color"))
            .at(form);
    }
    SettingsColorWellRow* barsSolidRow() const { return solidRow(0); }
    SettingsColorWellRow* wavesSolidRow() const { return solidRow(1); }
    SettingsSliderRow* hueDriftRow() const { return row("Hue drift", section("Color")); }
    SettingsSliderRow* colorFlowRow() const { return row("Color flow"); }
    ProgressBarSection* progressSection() const { return test::findWidget<ProgressBarSection>(page.get()); }
    std::vector<QString> menuLabels(SettingsChoiceRow* row) const {
        auto* menu = test::menuOf(row);
        std::vector<QString> labels;
        for (int i = 0; i < menu->count(); ++i) labels.push_back(menu->itemText(i));
        return labels;
    }
    void settle() { loop.runUntilIdle(); }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    std::unique_ptr<OverlaySettings> settings;
    std::unique_ptr<VisualizerSection> page;
};

TEST_F(VisualizerPageTest, RowsShowAndDimByTheSwitchesStyleAndColourModes) {
    const struct {
        bool master, viz;
        const char *style, *barsMode, *wavesMode;
        bool bars, waves, barsColors, solidBars, hueDrift, solidWaves, colorFlow, palette;
    } cases[] = {
        // master viz  style       bars mode   waves mode  bars  waves bColr solB  hue   solW  flow  pal
        {true, false, "bars", "rainbow", "palette", false, false, false, false, false, false, false, false},
        {true, true, "bars", "rainbow", "palette", true, false, true, false, true, false, false, false},
        {true, true, "bars", "solid", "palette", true, false, true, true, false, false, false, false},
        {true, true, "bars", "mono", "solid", true, false, true, false, false, false, false, false},
        {true, true, "bars", "artwork", "solid", true, false, true, false, false, false, false, false},
        {true, true, "bars", "neon", "solid", true, false, true, false, false, false, false, false},
        {true, true, "waves", "solid", "palette", false, true, false, false, false, false, true, true},
        {true, true, "waves", "solid", "rainbow", false, true, false, false, false, false, true, false},
        {true, true, "waves", "solid", "solid", false, true, false, false, false, true, false, false},
        {true, true, "waves", "solid", "artwork", false, true, false, false, false, false, false, false},
        {true, true, "waves", "solid", "neon", false, true, false, false, false, false, false, false},
        // A style that is neither: no style section of its own, the waves' colour rows.
        {true, true, "sparkles", "solid", "palette", false, false, false, false, false, false, true, true},
        {false, true, "waves", "solid", "mono", false, true, false, false, false, false, false, false},
    };
    for (const auto& c : cases) {
        settings->masterEnabled = c.master;
        settings->vizEnabled = c.viz;
        settings->vizStyle = c.style;
        settings->vizColorMode = c.barsMode;
        settings->vizWaveColorMode = c.wavesMode;
        settle();
        const std::string where = std::string(c.style) + " " + c.barsMode + " " + c.wavesMode +
                                  (c.master ? "" : " master off") + (c.viz ? "" : " viz off");
        EXPECT_EQ(shows(masterOffNotice()), !c.master) << where;
        EXPECT_EQ(content()->isEnabled(), c.master) << where;
        EXPECT_TRUE(shows(enableRow())) << where;
        EXPECT_TRUE(shows(progressSection())) << where;
        EXPECT_EQ(shows(section("Style")), c.viz) << where;
        if (!c.viz) continue;
        EXPECT_EQ(shows(section("Bars")), c.bars) << where;
        EXPECT_EQ(shows(section("Waves")), c.waves) << where;
        EXPECT_EQ(shows(barsSolidRow()), c.barsColors) << where;
        EXPECT_EQ(shows(hueDriftRow()), c.barsColors) << where;
        EXPECT_EQ(shows(wavesSolidRow()), !c.barsColors) << where;
        EXPECT_EQ(shows(colorFlowRow()), !c.barsColors) << where;
        EXPECT_EQ(shows(test::findWidget<PaletteEditor>(page.get())), c.palette) << where;
        if (c.barsColors) {
            EXPECT_EQ(live(barsSolidRow()), c.solidBars) << where;
            EXPECT_EQ(live(hueDriftRow()), c.hueDrift) << where;
        } else {
            EXPECT_EQ(live(wavesSolidRow()), c.solidWaves) << where;
            EXPECT_EQ(live(colorFlowRow()), c.colorFlow) << where;
        }
    }
    EXPECT_EQ(masterOffNotice()->label()->text(),
              QStringLiteral("Turn on Velaro (the switch at the window's top right) to use these."));

    settings->vizEnabled = true;
    settings->vizTrailEnabled = false;
    settings->vizBloomEnabled = false;
    settle();
    EXPECT_FALSE(live(row("Length")));
    EXPECT_FALSE(live(row("Intensity")));
    EXPECT_FALSE(live(row("Radius")));
    EXPECT_TRUE(shows(row("Radius"))) << "dimmed rows stay in the layout";
    settings->vizTrailEnabled = true;
    settings->vizBloomEnabled = true;
    settle();
    EXPECT_TRUE(live(row("Length")));
    EXPECT_TRUE(live(row("Radius")));
}

TEST_F(VisualizerPageTest, ValueTextsFollowTheirSettings) {
    settings->vizEnabled = true;
    const struct {
        std::function<void()> set;
        SettingsSliderRow* row;
        const char* text;
    } cases[] = {
        {[&] { settings->vizHueSpeed = 0.0; }, hueDriftRow(), "Off"},
        {[&] { settings->vizHueSpeed = 25.4; }, hueDriftRow(), "25°/s"},
        {[&] { settings->vizWaveHueSpeed = 0.0; }, colorFlowRow(), "Off"},
        {[&] { settings->vizWaveHueSpeed = 59.9; }, colorFlowRow(), "59°/s"},
        {[&] { settings->vizWaveEdgeSoftness = 2.5; }, row("Edge softness"), "2.5px"},
        {[&] { settings->vizTrailLength = 0.1; }, row("Length"), "0.10s"},
        {[&] { settings->vizWaveSpectrum = 0.5; }, row("Spectrum"), "50%"},
        {[&] { settings->vizOpacity = 0.555; }, row("Opacity", section("Style")), "56%"},
        {[&] { settings->vizBarThickness = 2.9; }, row("Thickness"), "2px"},
        {[&] { settings->vizBloomIntensity = 2.0; }, row("Intensity"), "2.0"},
        {[&] { settings->vizBloomRadius = 24.0; }, row("Radius"), "24px"},
        {[&] { settings->vizWaveCount = 17; }, row("Wave count"), "17"},
        {[&] { settings->progressHueSpeed = 0.0; }, row("Hue drift", progressSection()), "Off"},
        {[&] { settings->progressOpacity = 0.2; }, row("Opacity", progressSection()), "20%"},
    };
    for (const auto& c : cases) {
        c.set();
        settle();
        EXPECT_EQ(test::valueShown(c.row), QString::fromUtf8(c.text));
    }
}

TEST_F(VisualizerPageTest, WholeNumberSlidersRoundKeepInRangeAndStoreOnce) {
    settings->vizEnabled = true;
    settings->vizStyle = "waves";
    settle();
    defaults.clearWrites();
    ResettableSlider* count = row("Wave count")->slider();
    count->setValue(count->positionOf(7.6));
    EXPECT_EQ(settings->vizWaveCount(), 4) << "the write waits for a later turn";
    settle();
    EXPECT_EQ(settings->vizWaveCount(), 8);
    EXPECT_EQ(defaults.writes().size(), 1u);
    EXPECT_EQ(defaults.integerForKey("vizWaveCount"), 8);

    ResettableSlider* peaks = row("Peaks")->slider();
    for (int position : {peaks->minimum(), peaks->maximum(), peaks->positionOf(-40), peaks->positionOf(400)}) {
        peaks->setValue(position);
        settle();
        EXPECT_GE(settings->vizWavePeaks(), 2);
        EXPECT_LE(settings->vizWavePeaks(), 50);
    }
    EXPECT_EQ(defaults.integerForKey("vizWavePeaks"), 50);
    EXPECT_EQ(test::valueShown(row("Peaks")), QStringLiteral("50"));
}

TEST_F(VisualizerPageTest, TheEnginesMessageShowsInOrangeEvenWhileTheVisualizerIsOff) {
    EXPECT_FALSE(shows(statusText()));
    settings->vizStatus = std::string("Couldn't start — no audio");
    settle();
    ASSERT_FALSE(settings->vizEnabled());
    EXPECT_TRUE(shows(statusText()));
    EXPECT_EQ(statusText()->text(), QStringLiteral("Couldn't start — no audio"));
    EXPECT_EQ(statusText()->color(), SettingsStyle::warningColor());
    settings->vizStatus = std::nullopt;
    settle();
    EXPECT_FALSE(shows(statusText()));
}

TEST_F(VisualizerPageTest, SwitchesWriteOnTheNextTurn) {
    enableRow()->toggle()->click();
    EXPECT_FALSE(settings->vizEnabled());
    EXPECT_TRUE(defaults.writes().empty());
    settle();
    EXPECT_TRUE(settings->vizEnabled());
    EXPECT_TRUE(defaults.boolForKey("vizEnabled"));
    EXPECT_TRUE(shows(section("Style")));
}

TEST_F(VisualizerPageTest, ProgressCardCollapsesDimsAndNamesTheModifier) {
    ProgressBarSection* bar = progressSection();
    // Every row under the switch shows and hides with the colour menu.
    const auto colorRow = [&] { return row<SettingsChoiceRow>("Color", bar); };
    const auto showsText = [&](const char* text) {
        const SpacedText* caption = test::textReading(bar, QString::fromUtf8(text));
        return caption && shows(caption);
    };
    const QString commandWarning = QStringLiteral(
        "Super+← / → / ↑ / ↓ are common desktop shortcuts; choosing Super overrides them globally while a "
        "track is loaded.");
    EXPECT_FALSE(shows(colorRow())) << "off: only the switch";
    settings->progressEnabled = true;
    settle();
    EXPECT_TRUE(shows(colorRow()));

    const struct {
        const char* mode;
        bool solid, hue;
    } modes[] = {{"mono", false, false}, {"solid", true, false}, {"rainbow", false, true}, {"plaid", false, false}};
    for (const auto& m : modes) {
        settings->progressColorMode = m.mode;
        settle();
        EXPECT_EQ(row<SettingsColorWellRow>("Solid color", bar)->isEnabled(), m.solid) << m.mode;
        EXPECT_EQ(row("Hue drift", bar)->isEnabled(), m.hue) << m.mode;
    }

    const struct {
        const char* modifier;
        int index;  // in the menu: shift, control, option, command
        bool warning;
        const char *seek, *keyboard, *keyboardCaption, *reappear;
    } modifiers[] = {
        {"command", 3, true, "Super+click or drag the bar to seek; Super+← / → skips ±10s.",
         "Keyboard control (Super+arrows)",
         "← / → skips ±10s · ↑ / ↓ next/previous. While a track is loaded, this overrides Super+arrow "
         "window tiling.",
         "Reappears when playback resumes, the pointer reaches the top, or Super is held."},
        {"option", 2, false, "Alt+click or drag the bar to seek; Alt+← / → skips ±10s.",
         "Keyboard control (Alt+arrows)",
         "← / → skips ±10s · ↑ / ↓ next/previous. While a track is loaded, this overrides Alt+arrow "
         "back/forward "
         "navigation.",
         "Reappears when playback resumes, the pointer reaches the top, or Alt is held."},
        {"control", 1, false, "Ctrl+click or drag the bar to seek; Ctrl+← / → skips ±10s.",
         "Keyboard control (Ctrl+arrows)",
         "← / → skips ±10s · ↑ / ↓ next/previous. While a track is loaded, this overrides Ctrl+arrow word "
         "navigation.",
         "Reappears when playback resumes, the pointer reaches the top, or Ctrl is held."},
        {"shift", 0, false, "Shift+click or drag the bar to seek; Shift+← / → skips ±10s.",
         "Keyboard control (Shift+arrows)",
         "← / → skips ±10s · ↑ / ↓ next/previous. While a track is loaded, this overrides Shift+arrow text "
         "selection.",
         "Reappears when playback resumes, the pointer reaches the top, or Shift is held."},
        // Not one of the four: the Alt key's texts.
        {"hyper", -1, false, "Alt+click or drag the bar to seek; Alt+← / → skips ±10s.",
         "Keyboard control (Alt+arrows)",
         "← / → skips ±10s · ↑ / ↓ next/previous. While a track is loaded, this overrides Alt+arrow "
         "back/forward "
         "navigation.",
         "Reappears when playback resumes, the pointer reaches the top, or Alt is held."},
    };
    for (const auto& m : modifiers) {
        settings->progressModifier = m.modifier;
        settle();
        EXPECT_EQ(shows(test::textReading(bar, commandWarning)), m.warning) << m.modifier;
        EXPECT_TRUE(showsText(m.seek)) << m.modifier;
        auto* keyboard = row<SettingsToggleRow>(m.keyboard, bar);
        EXPECT_EQ(keyboard->toggle()->accessibleName(), QString::fromUtf8(m.keyboard)) << m.modifier;
        EXPECT_TRUE(showsText(m.keyboardCaption)) << m.modifier;
        EXPECT_TRUE(showsText(m.reappear)) << m.modifier;
        EXPECT_EQ(test::shownChoice(row<SettingsChoiceRow>("Modifier key", bar)), m.index) << m.modifier;
    }
    // The menu names the keys as the desktop does, without the other platform's glyphs.
    const QComboBox* menu = test::menuOf(row<SettingsChoiceRow>("Modifier key", bar));
    ASSERT_NE(menu, nullptr);
    QStringList keys;
    for (int i = 0; i < menu->count(); ++i) keys << menu->itemText(i);
    EXPECT_EQ(keys, (QStringList{"Shift", "Ctrl", "Alt", "Super"}));

    // "After" is dimmed while auto-hide is off, and keeps its value.
    settings->progressAutoHideSeconds = 15.0;
    settings->progressAutoHide = false;
    settle();
    EXPECT_FALSE(row<SettingsChoiceRow>("After", bar)->isEnabled());
    EXPECT_EQ(test::shownChoice(row<SettingsChoiceRow>("After", bar)), 2);
    settings->progressAutoHide = true;
    settle();
    EXPECT_TRUE(row<SettingsChoiceRow>("After", bar)->isEnabled());

    settings->progressEnabled = false;
    settle();
    EXPECT_FALSE(shows(colorRow()));
    EXPECT_EQ(settings->progressAutoHideSeconds(), 15.0) << "collapsing keeps the settings";
}

TEST_F(VisualizerPageTest, AfterListsTheStoredDelayInOrderAndAnEqualChoiceStoresNothing) {
    const struct {
        double current;
        std::vector<QString> labels;
        int chosen;
    } cases[] = {
        {12, {"5s", "10s", "12s (current)", "15s", "20s", "25s", "30s"}, 2},
        {45, {"5s", "10s", "15s", "20s", "25s", "30s", "45s (current)"}, 6},
        {20, {"5s", "10s", "15s", "20s", "25s", "30s"}, 3},
        {7.5, {"5s", "7s (current)", "10s", "15s", "20s", "25s", "30s"}, 1},
    };
    settings->progressEnabled = true;
    SettingsChoiceRow* after = row<SettingsChoiceRow>("After", progressSection());
    for (const auto& c : cases) {
        std::vector<QString> fromOptions;
        for (const auto& option : autoHideDelayOptions(c.current)) fromOptions.push_back(option.second);
        EXPECT_EQ(fromOptions, c.labels) << c.current;
        settings->progressAutoHideSeconds = c.current;
        settle();
        EXPECT_EQ(menuLabels(after), c.labels) << c.current;
        EXPECT_EQ(test::shownChoice(after), c.chosen) << c.current;
    }

    // 20 stored: choosing 20 again stores nothing; choosing 25 stores it on the next turn.
    auto* menu = test::menuOf(after);
    settings->progressAutoHideSeconds = 20.0;
    settle();
    defaults.clearWrites();
    menu->activated(3);
    settle();
    EXPECT_FALSE(defaults.wasWritten("progressAutoHideSeconds"));
    menu->activated(4);
    EXPECT_EQ(settings->progressAutoHideSeconds(), 20.0);
    settle();
    EXPECT_EQ(settings->progressAutoHideSeconds(), 25.0);
    EXPECT_TRUE(defaults.wasWritten("progressAutoHideSeconds"));
    EXPECT_EQ(menuLabels(after).size(), 6u);
}

TEST_F(VisualizerPageTest, ColourRowsThatGoTakeTheColourPanelWithThem) {
    settings->vizEnabled = true;
    settings->vizStyle = "bars";
    settings->vizColorMode = "solid";
    settle();
    page->show();
    const auto openFrom = [&](SettingsColorWellRow* row) {
        row->well()->click();
        return sharedColorPanelIfCreated() && sharedColorPanelIfCreated()->isVisible();
    };
    ASSERT_TRUE(openFrom(barsSolidRow()));
    settings->vizStyle = "waves";
    settle();
    EXPECT_FALSE(sharedColorPanelIfCreated()->isVisible()) << "switching the style closes the bars' panel";

    settings->vizWaveColorMode = "solid";
    settle();
    ASSERT_TRUE(openFrom(wavesSolidRow()));
    settings->vizEnabled = false;
    settle();
    EXPECT_FALSE(sharedColorPanelIfCreated()->isVisible()) << "turning the visualizer off closes it";

    settings->progressEnabled = true;
    settings->progressColorMode = "solid";
    settle();
    ASSERT_TRUE(openFrom(row<SettingsColorWellRow>("Solid color", progressSection())));
    settings->progressEnabled = false;
    settle();
    EXPECT_FALSE(sharedColorPanelIfCreated()->isVisible());
}

}  // namespace
}  // namespace velaro
