// The Music Visualizer page: which rows show and which dim for every combination of the switches, styles and
// colour modes (stored values that match no option included); value texts; the whole-number sliders; the
// audio engine's message; the progress bar card with its modifier texts and "After" delays; the colour panel
// going with the colour rows.
#include <gtest/gtest.h>

#include <QColorDialog>
#include <QComboBox>

#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
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
    bool live(const QWidget* w) const { return w->isEnabledTo(page->content()); }
    std::vector<QString> menuLabels(SettingsChoiceRow* row) const {
        auto* menu = static_cast<QComboBox*>(row->control());
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
        EXPECT_EQ(shows(page->masterOffNotice()), !c.master) << where;
        EXPECT_EQ(page->content()->isEnabled(), c.master) << where;
        EXPECT_TRUE(shows(page->enableRow())) << where;
        EXPECT_TRUE(shows(page->progressSection())) << where;
        EXPECT_EQ(shows(page->visualizerSections()), c.viz) << where;
        if (!c.viz) continue;
        EXPECT_EQ(shows(page->barsSection()), c.bars) << where;
        EXPECT_EQ(shows(page->wavesSection()), c.waves) << where;
        EXPECT_EQ(shows(page->barsColors()), c.barsColors) << where;
        EXPECT_EQ(shows(page->wavesColors()), !c.barsColors) << where;
        EXPECT_EQ(shows(page->paletteEditor()), c.palette) << where;
        if (c.barsColors) {
            EXPECT_EQ(live(page->barsSolidRow()), c.solidBars) << where;
            EXPECT_EQ(live(page->hueDriftRow()), c.hueDrift) << where;
            EXPECT_TRUE(shows(page->barsSolidRow())) << where << ": dimmed rows stay in the layout";
        } else {
            EXPECT_EQ(live(page->wavesSolidRow()), c.solidWaves) << where;
            EXPECT_EQ(live(page->colorFlowRow()), c.colorFlow) << where;
            EXPECT_TRUE(shows(page->colorFlowRow())) << where;
        }
    }
    EXPECT_EQ(page->masterOffNotice()->findChild<QLabel*>()->text(),
              QStringLiteral("Turn on Velaro (the power button in the sidebar) to use these."));

    settings->vizEnabled = true;
    settings->vizTrailEnabled = false;
    settings->vizBloomEnabled = false;
    settle();
    EXPECT_FALSE(live(page->trailLengthRow()));
    EXPECT_FALSE(live(page->intensityRow()));
    EXPECT_FALSE(live(page->radiusRow()));
    EXPECT_TRUE(shows(page->radiusRow()));
    settings->vizTrailEnabled = true;
    settings->vizBloomEnabled = true;
    settle();
    EXPECT_TRUE(live(page->trailLengthRow()));
    EXPECT_TRUE(live(page->radiusRow()));
}

TEST_F(VisualizerPageTest, ValueTextsFollowTheirSettings) {
    settings->vizEnabled = true;
    const struct {
        std::function<void()> set;
        SettingsSliderRow* row;
        const char* text;
    } cases[] = {
        {[&] { settings->vizHueSpeed = 0.0; }, page->hueDriftRow(), "Off"},
        {[&] { settings->vizHueSpeed = 25.4; }, page->hueDriftRow(), "25°/s"},
        {[&] { settings->vizWaveHueSpeed = 0.0; }, page->colorFlowRow(), "Off"},
        {[&] { settings->vizWaveHueSpeed = 59.9; }, page->colorFlowRow(), "59°/s"},
        {[&] { settings->vizWaveEdgeSoftness = 2.5; }, page->edgeSoftnessRow(), "2.5pt"},
        {[&] { settings->vizTrailLength = 0.1; }, page->trailLengthRow(), "0.10s"},
        {[&] { settings->vizWaveSpectrum = 0.5; }, page->spectrumRow(), "50%"},
        {[&] { settings->vizOpacity = 0.555; }, page->opacityRow(), "56%"},
        {[&] { settings->vizBarThickness = 2.9; }, page->thicknessRow(), "2pt"},
        {[&] { settings->vizBloomIntensity = 2.0; }, page->intensityRow(), "2.0"},
        {[&] { settings->vizBloomRadius = 24.0; }, page->radiusRow(), "24pt"},
        {[&] { settings->vizWaveCount = 17; }, page->waveCountRow(), "17"},
        {[&] { settings->progressHueSpeed = 0.0; }, page->progressSection()->hueDriftRow(), "Off"},
        {[&] { settings->progressOpacity = 0.2; }, page->progressSection()->opacityRow(), "20%"},
    };
    for (const auto& c : cases) {
        c.set();
        settle();
        EXPECT_EQ(c.row->valueLabel()->text(), QString::fromUtf8(c.text));
    }
}

TEST_F(VisualizerPageTest, WholeNumberSlidersRoundKeepInRangeAndStoreOnce) {
    settings->vizEnabled = true;
    settings->vizStyle = "waves";
    settle();
    defaults.clearWrites();
    ResettableSlider* count = page->waveCountRow()->slider();
    count->setValue(count->positionOf(7.6));
    EXPECT_EQ(settings->vizWaveCount(), 4) << "the write waits for a later turn";
    settle();
    EXPECT_EQ(settings->vizWaveCount(), 8);
    EXPECT_EQ(defaults.writes().size(), 1u);
    EXPECT_EQ(defaults.integerForKey("vizWaveCount"), 8);

    ResettableSlider* peaks = page->peaksRow()->slider();
    for (int position : {peaks->minimum(), peaks->maximum(), peaks->positionOf(-40), peaks->positionOf(400)}) {
        peaks->setValue(position);
        settle();
        EXPECT_GE(settings->vizWavePeaks(), 2);
        EXPECT_LE(settings->vizWavePeaks(), 50);
    }
    EXPECT_EQ(defaults.integerForKey("vizWavePeaks"), 50);
    EXPECT_EQ(page->peaksRow()->valueLabel()->text(), QStringLiteral("50"));
}

TEST_F(VisualizerPageTest, TheEnginesMessageShowsInOrangeEvenWhileTheVisualizerIsOff) {
    EXPECT_FALSE(shows(page->statusText()));
    settings->vizStatus = std::string("Couldn't start — no audio");
    settle();
    ASSERT_FALSE(settings->vizEnabled());
    EXPECT_TRUE(shows(page->statusText()));
    EXPECT_EQ(page->statusText()->text(), QStringLiteral("Couldn't start — no audio"));
    EXPECT_EQ(page->statusText()->color(), SettingsStyle::warningColor());
    settings->vizStatus = std::nullopt;
    settle();
    EXPECT_FALSE(shows(page->statusText()));
}

TEST_F(VisualizerPageTest, SwitchesWriteOnTheNextTurn) {
    page->enableRow()->toggle()->click();
    EXPECT_FALSE(settings->vizEnabled());
    EXPECT_TRUE(defaults.writes().empty());
    settle();
    EXPECT_TRUE(settings->vizEnabled());
    EXPECT_TRUE(defaults.boolForKey("vizEnabled"));
    EXPECT_TRUE(shows(page->visualizerSections()));
}

TEST_F(VisualizerPageTest, ProgressCardCollapsesDimsAndNamesTheModifier) {
    ProgressBarSection* bar = page->progressSection();
    EXPECT_FALSE(shows(bar->detailBlock())) << "off: only the switch";
    settings->progressEnabled = true;
    settle();
    EXPECT_TRUE(shows(bar->detailBlock()));

    const struct {
        const char* mode;
        bool solid, hue;
    } modes[] = {{"mono", false, false}, {"solid", true, false}, {"rainbow", false, true}, {"plaid", false, false}};
    for (const auto& m : modes) {
        settings->progressColorMode = m.mode;
        settle();
        EXPECT_EQ(bar->solidColorRow()->isEnabled(), m.solid) << m.mode;
        EXPECT_EQ(bar->hueDriftRow()->isEnabled(), m.hue) << m.mode;
    }

    const struct {
        const char* modifier;
        int index;  // in the menu: shift, control, option, command
        bool warning;
        const char *seek, *keyboard, *keyboardCaption, *reappear;
    } modifiers[] = {
        {"command", 3, true, "⌘-click or drag the bar to seek; ⌘ ← / → skips ±10s.", "Keyboard control (⌘ arrows)",
         "← / → skips ±10s · ↑ / ↓ next/previous. While a track is loaded, this overrides ⌘-arrow "
         "line/document navigation.",
         "Reappears when playback resumes, the pointer reaches the top, or ⌘ is held."},
        {"option", 2, false, "⌥-click or drag the bar to seek; ⌥ ← / → skips ±10s.", "Keyboard control (⌥ arrows)",
         "← / → skips ±10s · ↑ / ↓ next/previous. While a track is loaded, this overrides ⌥-arrow word "
         "navigation.",
         "Reappears when playback resumes, the pointer reaches the top, or ⌥ is held."},
        {"control", 1, false, "⌃-click or drag the bar to seek; ⌃ ← / → skips ±10s.", "Keyboard control (⌃ arrows)",
         "← / → skips ±10s · ↑ / ↓ next/previous. While a track is loaded, this overrides ⌃-arrow desktop "
         "switching.",
         "Reappears when playback resumes, the pointer reaches the top, or ⌃ is held."},
        {"shift", 0, false, "⇧-click or drag the bar to seek; ⇧ ← / → skips ±10s.", "Keyboard control (⇧ arrows)",
         "← / → skips ±10s · ↑ / ↓ next/previous. While a track is loaded, this overrides ⇧-arrow text "
         "selection.",
         "Reappears when playback resumes, the pointer reaches the top, or ⇧ is held."},
        // Not one of the four: the option key's texts.
        {"hyper", -1, false, "⌥-click or drag the bar to seek; ⌥ ← / → skips ±10s.", "Keyboard control (⌥ arrows)",
         "← / → skips ±10s · ↑ / ↓ next/previous. While a track is loaded, this overrides ⌥-arrow word "
         "navigation.",
         "Reappears when playback resumes, the pointer reaches the top, or ⌥ is held."},
    };
    for (const auto& m : modifiers) {
        settings->progressModifier = m.modifier;
        settle();
        EXPECT_EQ(shows(bar->commandWarning()), m.warning) << m.modifier;
        EXPECT_EQ(bar->seekCaption()->text(), QString::fromUtf8(m.seek)) << m.modifier;
        EXPECT_EQ(bar->keyboardRow()->titleLabel()->text(), QString::fromUtf8(m.keyboard)) << m.modifier;
        EXPECT_EQ(bar->keyboardRow()->toggle()->accessibleName(), QString::fromUtf8(m.keyboard)) << m.modifier;
        EXPECT_EQ(bar->keyboardCaption()->text(), QString::fromUtf8(m.keyboardCaption)) << m.modifier;
        EXPECT_EQ(bar->reappearCaption()->text(), QString::fromUtf8(m.reappear)) << m.modifier;
        EXPECT_EQ(bar->modifierRow()->shownIndex(), m.index) << m.modifier;
    }

    // "After" is dimmed while auto-hide is off, and keeps its value.
    settings->progressAutoHideSeconds = 15.0;
    settings->progressAutoHide = false;
    settle();
    EXPECT_FALSE(bar->afterRow()->isEnabled());
    EXPECT_EQ(bar->afterRow()->shownIndex(), 2);
    settings->progressAutoHide = true;
    settle();
    EXPECT_TRUE(bar->afterRow()->isEnabled());

    settings->progressEnabled = false;
    settle();
    EXPECT_FALSE(shows(bar->detailBlock()));
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
    SettingsChoiceRow* after = page->progressSection()->afterRow();
    for (const auto& c : cases) {
        std::vector<QString> fromOptions;
        for (const auto& option : autoHideDelayOptions(c.current)) fromOptions.push_back(option.second);
        EXPECT_EQ(fromOptions, c.labels) << c.current;
        settings->progressAutoHideSeconds = c.current;
        settle();
        EXPECT_EQ(menuLabels(after), c.labels) << c.current;
        EXPECT_EQ(after->shownIndex(), c.chosen) << c.current;
    }

    // 20 stored: choosing 20 again stores nothing; choosing 25 stores it on the next turn.
    auto* menu = static_cast<QComboBox*>(after->control());
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
    ASSERT_TRUE(openFrom(page->barsSolidRow()));
    settings->vizStyle = "waves";
    settle();
    EXPECT_FALSE(sharedColorPanelIfCreated()->isVisible()) << "switching the style closes the bars' panel";

    settings->vizWaveColorMode = "solid";
    settle();
    ASSERT_TRUE(openFrom(page->wavesSolidRow()));
    settings->vizEnabled = false;
    settle();
    EXPECT_FALSE(sharedColorPanelIfCreated()->isVisible()) << "turning the visualizer off closes it";

    settings->progressEnabled = true;
    settings->progressColorMode = "solid";
    settle();
    ASSERT_TRUE(openFrom(page->progressSection()->solidColorRow()));
    settings->progressEnabled = false;
    settle();
    EXPECT_FALSE(sharedColorPanelIfCreated()->isVisible());
}

}  // namespace
}  // namespace velaro
