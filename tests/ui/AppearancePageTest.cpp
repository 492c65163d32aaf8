// The Appearance page's sections over real settings and a fake store: the style section's blocks over every
// combination of style, auto-sample, colour zones and drift; percent and point texts (truncated, saturated);
// snapped slider writes and refreshes that write nothing; the blur section; the colour zones editor (add,
// remove, hover, blend, captions, the colour panel moving between its swatches); the style picker shared with
// the popover; the always-on rows; and the bar miniature's fill opacity and fades.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/RowSearch.h"
#include "support/VirtualLoop.h"
#include "ui/settings/kit/MenuBarPreview.h"
#include "ui/settings/kit/PreviewColors.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/kit/StyleOpacityControls.h"
#include "ui/settings/kit/ValueText.h"
#include "ui/settings/pages/AppearanceSettingsView.h"
#include "ui/settings/pages/BackgroundBlurSection.h"
#include "ui/settings/pages/ColorSection.h"
#include "ui/settings/pages/HueDriftSection.h"
#include "ui/settings/pages/OverlayStyleSection.h"

namespace velaro {
namespace {

// The miniature as it paints `inputs` with no fade under way, on the window colour a grab puts beneath it.
QImage still(const MenuBarPreview& preview, const MenuBarPreview::Inputs& inputs) {
    QImage image(preview.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(preview.palette().color(QPalette::Window));
    QPainter painter(&image);
    MenuBarPreview::paint(painter, QRectF(image.rect()), inputs, preview.palette(), 1);
    return image;
}

// The fill's colour in the middle of the bar's top edge, clear of the mock items.
QColor fillColour(const QImage& bar) {
    return bar.pixelColor(bar.width() / 2, 2);
}

// Each channel of `c` within one step of the range from `a` to `b`, ends included.
bool between(const QColor& a, const QColor& c, const QColor& b) {
    const auto inside = [](int from, int x, int to) {
        return x >= std::min(from, to) - 1 && x <= std::max(from, to) + 1;
    };
    return inside(a.red(), c.red(), b.red()) && inside(a.green(), c.green(), b.green()) &&
           inside(a.blue(), c.blue(), b.blue());
}

class AppearancePageTest : public ::testing::Test {
protected:
    AppearancePageTest() {
        settings = std::make_unique<OverlaySettings>(defaults, loop);
        loop.runUntilIdle();
    }
    ~AppearancePageTest() override { closeSharedColorPanel(); }

    AppearanceSettingsView& page() {
        if (!page_) {
            page_ = std::make_unique<AppearanceSettingsView>(*settings, loop);
            page_->resize(460, 1200);
        }
        return *page_;
    }
    OverlayStyleSection& style() { return *test::findWidget<OverlayStyleSection>(&page()); }
    ColorSection& zones() { return *test::findWidget<ColorSection>(&style()); }
    // The zones' parts as the user finds them.
    SettingsToggleRow* multicolorRow() { return row<SettingsToggleRow>(zones(), "Multicolor"); }
    SettingsToggleRow* blendRow() { return row<SettingsToggleRow>(zones(), "Gradient transition"); }
    SettingsSliderRow* widthRow() { return row<SettingsSliderRow>(zones(), "Transition width"); }
    QAbstractButton* addButton() {
        return test::findAccessible<QAbstractButton>(&zones(), QStringLiteral("Add a color zone"));
    }
    MenuBarPreview* zonesPreview() { return test::findWidget<MenuBarPreview>(&zones()); }
    bool showsZonesText(const char* text) {
        return shows(test::textReading(&zones(), QString::fromUtf8(text)));
    }
    BackgroundBlurSection& blurSection() { return *test::findWidget<BackgroundBlurSection>(&page()); }
    // The sections shown only while the overlay is on slide in together, in one block.
    QWidget* overlaySections() { return blurSection().parentWidget(); }
    template <class Row>
    Row* row(QWidget& within, const char* title) {
        return test::rowTitled<Row>(&within, QString::fromUtf8(title));
    }
    SettingsSliderRow* opacityRow() { return row<SettingsSliderRow>(style(), "Opacity"); }
    SettingsSliderRow* amountRow() { return row<SettingsSliderRow>(blurSection(), "Blur Amount"); }
    SettingsSliderRow* styleOpacityRow() { return row<SettingsSliderRow>(blurSection(), "Style Opacity"); }
    SettingsToggleRow* blurCornersRow() {
        return row<SettingsToggleRow>(blurSection(), "Blur overlay corners");
    }
    ColorWell* manualWell() {
        return test::findAccessible<ColorWell>(&style(), QStringLiteral("Custom overlay color"));
    }
    // The fade's stops, bottom then top.
    GradientStopEditor& gradientStop(std::size_t index) {
        return *test::findWidgets<GradientStopEditor>(&style()).at(index);
    }
    // The page as the user sees it: after the turn on which the settings' changes are read again.
    void settle() { loop.runUntilIdle(); }
    bool shows(const QWidget* w) { return w && w->isVisibleTo(&page()); }

    void setZones(std::vector<std::string> stops, bool multicolor = true, bool blend = false) {
        OverlayColorZones zones;
        zones.stops = std::move(stops);
        zones.multicolorEnabled = multicolor;
        zones.blend = blend;
        settings->overlayColorZones = zones;
        settle();
    }
    std::vector<std::string> stops() const { return settings->overlayColorZones().stops; }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    std::unique_ptr<OverlaySettings> settings;
    std::unique_ptr<AppearanceSettingsView> page_;
};

TEST(ValueTextTest, TruncatesRoundsAndSaturates) {
    const struct {
        QString shown, expected;
    } cases[] = {
        {truncatedPercentText(0.29), "29%"},
        {truncatedPercentText(0.57), "57%"},
        {truncatedPercentText(0.58), "58%"},
        {truncatedPercentText(0.456), "45%"},
        {truncatedPercentText(0.505), "50%"},
        {truncatedPercentText(-0.015), "-1%"},
        {roundedPercentText(0.35), "35%"},
        {roundedPercentText(0.005), "1%"},
        {truncatedText(12.9, "px"), "12px"},
        {truncatedText(159.9, "px"), "159px"},
        {roundedText(12.5, "px"), "13px"},
        {roundedText(-12.5, "px"), "-13px"},
        {signedPointsText(0), "0"},
        {signedPointsText(3.9), "+3px"},
        {signedPointsText(-2.5), "-2px"},
        {signedPointsText(-0.4), "+0px"},
        // Hand-edited values far outside any range saturate instead of overflowing.
        {truncatedPercentText(1e300), "9223372036854775807%"},
        {truncatedText(-1e300, "px"), "-9223372036854775808px"},
        {roundedPercentText(std::nan("")), "0%"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.shown, c.expected);
}

TEST_F(AppearancePageTest, StyleBlocksFollowStyleAutoSampleZonesAndDrift) {
    for (MenuBarStyle shown : pickerStyles)
        for (bool autoSample : {false, true})
            for (bool multicolor : {false, true})
                for (bool drift : {false, true}) {
                    settings->style = shown;
                    settings->autoSample = autoSample;
                    OverlayColorZones zones = settings->overlayColorZones();
                    zones.multicolorEnabled = multicolor;
                    settings->overlayColorZones = zones;
                    OverlayHueDrift hue = settings->hueDrift();
                    hue.enabled = drift;
                    settings->hueDrift = hue;
                    settle();
                    const bool solid = shown == MenuBarStyle::solid;
                    const std::string at = std::string(styleLabel(shown)) + (autoSample ? " auto" : "") +
                                           (multicolor ? " zones" : "") + (drift ? " drift" : "");
                    EXPECT_EQ(shows(row<SettingsChoiceRow>(style(), "Live sampling rate")),
                              shown == MenuBarStyle::live)
                        << at;
                    EXPECT_EQ(shows(&gradientStop(0)), shown == MenuBarStyle::gradient) << at;
                    EXPECT_EQ(shows(test::findWidget<AutoSampleBlock>(&style())), shown != MenuBarStyle::live)
                        << at;
                    EXPECT_EQ(shows(&this->zones()), solid) << at;
                    EXPECT_EQ(shows(test::findWidget<HueDriftSection>(&page())),
                              solid && !autoSample && !multicolor)
                        << at;
                    EXPECT_EQ(shows(manualWell()), solid && !autoSample && !multicolor && !drift) << at;
                }
}

TEST_F(AppearancePageTest, OverlaySwitchHidesEverythingButItsCaptionAndTheLowerSections) {
    // Everything under the switch goes with the style picker; the caption says why.
    const auto onBlockShows = [&] { return shows(test::findWidget<StylePicker>(&style())); };
    const auto offCaption = [&] {
        return test::textReading(&style(),
                                 QStringLiteral("The overlay is off. Its settings are kept, and turning it "
                                                "back on restores them."));
    };
    EXPECT_TRUE(onBlockShows());
    EXPECT_TRUE(shows(&blurSection()));
    EXPECT_FALSE(shows(offCaption()));

    row<SettingsToggleRow>(style(), "Enable overlay")->toggle()->click();
    EXPECT_TRUE(settings->overlayEnabled()) << "the switch writes on the next turn";
    settle();
    EXPECT_FALSE(settings->overlayEnabled());
    EXPECT_EQ(defaults.object("overlayEnabled"), PlistValue(false));
    EXPECT_FALSE(onBlockShows());
    EXPECT_FALSE(shows(overlaySections()));
    EXPECT_TRUE(shows(offCaption()));

    // Back on while the page shows: the lower sections slide open over 0.2 s with their values intact.
    page().show();
    settings->overlayEnabled = true;
    settle();
    EXPECT_TRUE(overlaySections()->isVisible());
    loop.advance(0.1);
    EXPECT_LT(overlaySections()->maximumHeight(), overlaySections()->sizeHint().height());
    loop.advance(0.15);
    EXPECT_EQ(overlaySections()->maximumHeight(), QWIDGETSIZE_MAX);
}

TEST_F(AppearancePageTest, ValueTextsTruncateAndSlidersStoreSnappedValuesOnTheNextTurn) {
    settings->blurEnabled = true;
    const struct {
        double opacity;
        const char* text;
    } opacities[] = {{0.29, "29%"}, {0.456, "45%"}, {0.505, "50%"}, {1e300, "9223372036854775807%"}};
    for (const auto& o : opacities) {
        settings->overlayOpacity = o.opacity;
        settle();
        EXPECT_EQ(test::valueShown(opacityRow()), QString::fromUtf8(o.text));
    }
    settings->blurRadius = 12.9;
    settings->styleOpacityOverBlur = 0.45;
    settle();
    EXPECT_EQ(test::valueShown(amountRow()), QStringLiteral("12px"));
    EXPECT_EQ(test::valueShown(styleOpacityRow()), QStringLiteral("45%"));

    const struct {
        SettingsSliderRow* row;
        double dragTo;
        const Setting<double>& stored;
        double expected;
    } drags[] = {
        {amountRow(), 7.6, settings->blurRadius, 8},
        {amountRow(), 99, settings->blurRadius, 40},
        {styleOpacityRow(), 0.62, settings->styleOpacityOverBlur, 0.6},
        {opacityRow(), 62.5, settings->overlayOpacity, 0.625},
    };
    for (const auto& d : drags) {
        ResettableSlider* slider = d.row->slider();
        slider->setValue(slider->positionOf(d.dragTo));
        settle();
        EXPECT_DOUBLE_EQ(d.stored(), d.expected) << d.row->slider()->accessibleName().toStdString();
    }

    // A double click restores the default only while the row is enabled.
    QMouseEvent twice(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    page().setEnabled(false);
    QApplication::sendEvent(amountRow()->slider(), &twice);
    settle();
    EXPECT_DOUBLE_EQ(settings->blurRadius(), 40);
    page().setEnabled(true);
    QApplication::sendEvent(amountRow()->slider(), &twice);
    settle();
    EXPECT_DOUBLE_EQ(settings->blurRadius(), 12);
}

TEST_F(AppearancePageTest, ShowingStoredValuesOutsideTheRangesWritesNothing) {
    settings->blurEnabled = true;
    settings->overlayOpacity = 1.5;
    settings->alwaysOnOverlayHeight = 1e300;
    settings->blurRadius = 12;
    settings->styleOpacityOverBlur = -3;
    settle();
    page().show();
    AlwaysOnControls alwaysOn(*settings, loop);
    settings->keepOverlayAlwaysOn = true;
    settle();
    defaults.clearWrites();
    page().refresh();
    alwaysOn.refresh();
    settle();
    EXPECT_TRUE(defaults.writes().empty()) << defaults.writes().front().key;
    EXPECT_DOUBLE_EQ(settings->overlayOpacity(), 1.5);
    ResettableSlider* opacity = opacityRow()->slider();
    EXPECT_EQ(opacity->value(), opacity->maximum()) << "the thumb rests at the end";
    EXPECT_EQ(styleOpacityRow()->slider()->value(), 0);
    EXPECT_EQ(
        test::valueShown(test::rowTitled<SettingsSliderRow>(&alwaysOn, QStringLiteral("Overlay height"))),
        QStringLiteral("9223372036854775807px"));
}

TEST_F(AppearancePageTest, BlurRowsFollowTheSwitchAndThePillShape) {
    BackgroundBlurSection& blur = blurSection();
    const auto pillCaption = [&] {
        return test::textReading(
            &blur, QStringLiteral("Not applied in Pill shape — Pill draws the overlay as a single "
                                  "window, so there are no separate overlay-corner windows to "
                                  "frost. Applies again in Full Bar."));
    };
    EXPECT_FALSE(shows(amountRow())) << "the rows under the switch are hidden";
    row<SettingsToggleRow>(blur, "Enable blur")->toggle()->click();
    settle();
    EXPECT_TRUE(settings->blurEnabled());
    EXPECT_TRUE(shows(amountRow()));
    EXPECT_TRUE(blurCornersRow()->isEnabled()) << "full bar with blur: separate corner windows";
    EXPECT_FALSE(shows(pillCaption()));

    CornerSettings corners = settings->corners();
    corners.shapeMode = ShapeMode::pill;
    settings->corners = corners;
    settle();
    EXPECT_FALSE(blurCornersRow()->isEnabled());
    EXPECT_TRUE(shows(pillCaption()));
    EXPECT_TRUE(blurCornersRow()->toggle()->isChecked()) << "the stored value stays shown";
}

TEST_F(AppearancePageTest, TheStylePickerQueuesTheStyleAndItsWellsClosePanelsTheyServe) {
    settings->style = MenuBarStyle::solid;
    settings->autoSample = false;
    settle();
    page().show();
    StylePicker& picker = *test::findWidget<StylePicker>(&style());
    picker.button(MenuBarStyle::gradient)->click();
    EXPECT_TRUE(picker.button(MenuBarStyle::solid)->isChecked()) << "the stored style until the write lands";
    settle();
    EXPECT_EQ(settings->style(), MenuBarStyle::gradient);
    EXPECT_EQ(defaults.object("menuBarStyle"), PlistValue("gradient"));
    EXPECT_TRUE(picker.button(MenuBarStyle::gradient)->isChecked());
    EXPECT_NE(
        test::labelReading(
            &picker, QStringLiteral("Vertical fade — opaque at the bottom edge, lighter toward the top.")),
        nullptr);

    // The manual colour's well goes when multicolour comes on, and takes its open panel with it.
    settings->style = MenuBarStyle::solid;
    settings->autoSample = false;
    settle();
    ColorWell* manual = manualWell();
    ASSERT_TRUE(manual->isVisible());
    manual->click();
    ASSERT_TRUE(sharedColorPanelIfCreated()->isVisible());
    multicolorRow()->toggle()->click();
    settle();
    EXPECT_FALSE(manual->isVisible());
    EXPECT_FALSE(sharedColorPanelIfCreated()->isVisible());

    // Turning auto-sample on closes a panel that another control opened, before the value changes.
    GradientStopEditor& top = gradientStop(1);
    top.well()->click();
    ASSERT_TRUE(sharedColorPanelIfCreated()->isVisible());
    test::findAccessible<SettingsSwitch>(&style(), QStringLiteral("Auto-sample"))->click();
    settle();
    EXPECT_TRUE(settings->autoSample());
    EXPECT_FALSE(sharedColorPanelIfCreated()->isVisible());
}

TEST_F(AppearancePageTest, FadeStopsHideTheirWellOnlyWhileFollowingAnAutoSample) {
    settings->style = MenuBarStyle::gradient;
    GradientStopEditor& bottom = gradientStop(0);
    for (bool follows : {false, true})
        for (bool autoSample : {false, true}) {
            settings->gradientBottomFollowsSample = follows;
            settings->autoSample = autoSample;
            settings->gradientBottomOpacity = 0.29;
            settle();
            EXPECT_EQ(bottom.well()->isVisibleTo(&page()), !(follows && autoSample)) << follows << autoSample;
            EXPECT_NE(test::labelReading(&bottom, QStringLiteral("29%")), nullptr) << "the opacity text";
        }
    test::findAccessible<SettingsSwitch>(&bottom, QStringLiteral("Follow sample"))->click();
    EXPECT_TRUE(settings->gradientBottomFollowsSample());
    settle();
    EXPECT_FALSE(settings->gradientBottomFollowsSample());
}

TEST_F(AppearancePageTest, AddingCopiesTheLastStopUpToTenAndRemovingKeepsTheOrder) {
    settings->style = MenuBarStyle::solid;
    settings->autoSample = false;
    setZones({"#FF0000", "#00FF00"});
    addButton()->click();
    EXPECT_EQ(stops(), (std::vector<std::string>{"#FF0000", "#00FF00", "#00FF00"})) << "added at once";
    for (int i = 0; i < 10; ++i) zones().addZone();
    EXPECT_EQ(stops().size(), 10u);
    settle();
    EXPECT_FALSE(addButton()->isEnabled());
    EXPECT_EQ(zones().shownSwatches().size(), 10u);

    setZones({"#FF0000", "#00FF00", "#0000FF"});
    page().show();
    zones().shownSwatches()[2]->well()->click();
    ASSERT_TRUE(sharedColorPanelIfCreated()->isVisible());
    zones().removeZone(0);
    EXPECT_FALSE(sharedColorPanelIfCreated()->isVisible()) << "no panel outlives its colour";
    EXPECT_EQ(stops(), (std::vector<std::string>{"#00FF00", "#0000FF"}));
    for (int bad : {-1, 2, 7}) zones().removeZone(bad);
    EXPECT_EQ(stops().size(), 2u);
    settle();
    EXPECT_EQ(zones().shownSwatches().size(), 2u);

    // With one stop left nothing can be removed, by button or menu.
    zones().removeZone(1);
    settle();
    zones().removeZone(0);
    EXPECT_EQ(stops(), std::vector<std::string>{"#00FF00"});
    EXPECT_TRUE(zones().shownSwatches()[0]->contextMenu()->isEmpty());

    // Multicolour off: add and remove do nothing.
    setZones({"#FF0000", "#00FF00"}, false);
    zones().addZone();
    zones().removeZone(0);
    EXPECT_EQ(stops().size(), 2u);
}

TEST_F(AppearancePageTest, TheRemoveButtonShowsOnTheHoveredSwatchOnlyAndLateLeavesChangeNothing) {
    settings->style = MenuBarStyle::solid;
    settings->autoSample = false;
    setZones({"#FF0000", "#00FF00", "#0000FF", "#FFFFFF"});
    page().show();
    const auto buttons = [&] {
        std::vector<bool> shown;
        for (ZoneSwatch* s : zones().shownSwatches()) shown.push_back(s->removeButton()->isVisible());
        return shown;
    };
    zones().swatchEntered(2);
    zones().swatchEntered(3);
    zones().swatchLeft(2);  // arrives after the pointer entered the next swatch
    EXPECT_EQ(buttons(), (std::vector<bool>{false, false, false, true}))
        << "the last swatch entered stays hovered";
    zones().swatchLeft(3);
    EXPECT_EQ(buttons(), (std::vector<bool>(4, false)));

    zones().swatchEntered(1);
    std::unique_ptr<QMenu> menu = zones().shownSwatches()[1]->contextMenu();
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().front()->text(), QStringLiteral("Remove Color"));
    zones().shownSwatches()[1]->removeButton()->click();
    EXPECT_EQ(stops(), (std::vector<std::string>{"#FF0000", "#0000FF", "#FFFFFF"}));
}

TEST_F(AppearancePageTest, BlendRowWidthAndCaptionCountOnlyStopsThatParse) {
    settings->style = MenuBarStyle::solid;
    settings->autoSample = false;
    const struct {
        std::vector<std::string> stops;
        bool blend;
        bool blendEnabled, widthShown;
        const char* caption;
    } cases[] = {
        {{"#FF0000"}, true, false, false, "Add colors to split the bar into left-to-right zones."},
        {{"#FF0000", "bogus"}, true, false, false, "Add colors to split the bar into left-to-right zones."},
        {{"#FF0000", "#00FF00"}, false, true, false, "Colors fill equal-width zones, left to right."},
        {{"#FF0000", "#00FF00"}, true, true, true, "Colors blend smoothly across the bar, left to right."},
    };
    for (const auto& c : cases) {
        setZones(c.stops, true, c.blend);
        EXPECT_EQ(blendRow()->isEnabled(), c.blendEnabled) << c.caption;
        EXPECT_EQ(shows(widthRow()), c.widthShown) << c.caption;
        EXPECT_TRUE(showsZonesText(c.caption)) << c.caption;
    }
    // A stop that does not parse keeps its place and shows white.
    setZones({"#FF0000", "bogus"});
    EXPECT_EQ(test::paintedCentre(zones().shownSwatches()[1]->well()), QColor(Qt::white));

    setZones({"#FF0000", "#00FF00"}, true, true);
    ResettableSlider* width = widthRow()->slider();
    width->setValue(width->positionOf(0.33));
    settle();
    EXPECT_DOUBLE_EQ(settings->overlayColorZones().transitionWidth, 0.35);
    EXPECT_EQ(test::valueShown(widthRow()), QStringLiteral("35%"));
    blendRow()->toggle()->click();
    settle();
    EXPECT_FALSE(settings->overlayColorZones().blend);
}

TEST_F(AppearancePageTest, MulticolorFollowsAutoSampleAndSeedsFiveStops) {
    settings->style = MenuBarStyle::solid;
    settings->autoSample = true;
    settle();
    EXPECT_FALSE(multicolorRow()->isEnabled());
    EXPECT_EQ(multicolorRow()->toggle()->accessibleDescription(),
              QStringLiteral("Turn off Auto-sample first"));
    EXPECT_TRUE(showsZonesText("Turn off Auto-sample to use Multicolor."));

    settings->autoSample = false;
    settle();
    EXPECT_TRUE(multicolorRow()->isEnabled());
    EXPECT_FALSE(shows(blendRow())) << "no zone editor";
    multicolorRow()->toggle()->click();
    settle();
    EXPECT_EQ(stops().size(), 5u) << "the first switch-on seeds a palette";
    EXPECT_TRUE(shows(blendRow())) << "the zone editor";
    EXPECT_TRUE(shows(zonesPreview()));

    // Auto-sample back on with zones on: the editor stays, disabled, its strip dimmed.
    settings->autoSample = true;
    settle();
    EXPECT_TRUE(shows(blendRow()));
    EXPECT_FALSE(blendRow()->isEnabled());
    EXPECT_FALSE(addButton()->isEnabled());
}

TEST_F(AppearancePageTest, ThePanelWritesOnlyIntoTheSwatchItServesNow) {
    settings->style = MenuBarStyle::solid;
    settings->autoSample = false;
    setZones({"#FF0000", "bogus", "#0000FF"});
    page().show();
    const auto swatches = zones().shownSwatches();
    swatches[0]->well()->click();
    swatches[1]->well()->click();  // retargets the panel to a stop that does not parse (shown white)
    settle();
    EXPECT_EQ(stops(), (std::vector<std::string>{"#FF0000", "bogus", "#0000FF"})) << "opening writes nothing";
    sharedColorPanelIfCreated()->setCurrentColor(QColor(0, 255, 0));
    settle();
    EXPECT_EQ(stops(), (std::vector<std::string>{"#FF0000", "#00FF00", "#0000FF"}));

    // A pick for a stop that went while the write waited is dropped.
    swatches[2]->well()->click();
    sharedColorPanelIfCreated()->setCurrentColor(QColor(255, 255, 0));
    OverlayColorZones shorter = settings->overlayColorZones();
    shorter.stops.pop_back();
    settings->overlayColorZones = shorter;
    settle();
    EXPECT_EQ(stops(), (std::vector<std::string>{"#FF0000", "#00FF00"}));
}

TEST_F(AppearancePageTest, TheMiniaturePaintsTheOpacityTimesTheFrostFactorAndFades) {
    settings->style = MenuBarStyle::solid;
    settings->autoSample = false;
    settings->overlayOpacity = 0.8;
    settings->blurEnabled = true;
    settings->styleOpacityOverBlur = 0.45;
    setZones({"#FF0000", "#00FF00"});
    MenuBarPreview& preview = *zonesPreview();
    // Both zones at 0.8 opacity, taken down to 0.45 of it over the frost: 0.36 in all.
    MenuBarPreview::Inputs frosted;
    frosted.style = MenuBarStyle::solid;
    frosted.color = settings->manualColor();
    frosted.zoneColors = {Color::rgb(1, 0, 0), Color::rgb(0, 1, 0)};
    frosted.zoneBlend = settings->overlayColorZones().blend;
    frosted.zoneTransitionWidth = settings->overlayColorZones().transitionWidth;
    frosted.opacity = 0.8;
    frosted.styleOpacityFactor = 0.45;
    MenuBarPreview::Inputs atOnce = frosted;
    atOnce.opacity = 0.36;
    atOnce.styleOpacityFactor = 1;
    const QImage painted = preview.grab().toImage();
    for (const QImage& expected : {still(preview, frosted), still(preview, atOnce)})
        for (int x : {painted.width() / 4, painted.width() / 2, painted.width() * 3 / 4})
            EXPECT_TRUE(between(expected.pixelColor(x, 2), painted.pixelColor(x, 2), expected.pixelColor(x, 2)))
                << "both zones painted at the opacity times the factor, at " << x;

    page().show();
    settings->blurEnabled = false;
    settle();
    MenuBarPreview::Inputs clear = frosted;
    clear.styleOpacityFactor = 1;
    // The same fill over the frost, at the factor it fades from.
    MenuBarPreview::Inputs from = clear;
    from.styleOpacityFactor = frosted.styleOpacityFactor;
    const QColor fadeStart = fillColour(still(preview, from)), fadeEnd = fillColour(still(preview, clear));
    ASSERT_NE(fadeStart, fadeEnd);
    EXPECT_GT(loop.pendingTimers(), 0u) << "the factor fades";
    loop.advance(MenuBarPreview::factorFadeSeconds / 2);
    const QColor halfway = fillColour(preview.grab().toImage());
    EXPECT_TRUE(between(fadeStart, halfway, fadeEnd)) << "on the way";
    EXPECT_FALSE(between(fadeStart, halfway, fadeStart)) << "past the start";
    EXPECT_FALSE(between(fadeEnd, halfway, fadeEnd)) << "short of the end";
    loop.advance(MenuBarPreview::factorFadeSeconds);
    EXPECT_TRUE(between(fadeEnd, fillColour(preview.grab().toImage()), fadeEnd));
    EXPECT_EQ(loop.pendingTimers(), 0u) << "nothing fades any more";

    // A new colour cross-fades over 0.4 s.
    MenuBarPreview::Inputs red = clear;
    red.zoneColors.clear();
    red.color = Color::rgb(1, 0, 0);
    preview.setInputs(red);
    MenuBarPreview::Inputs blue = red;
    blue.color = Color::rgb(0, 0, 1);
    loop.advance(1);
    preview.setInputs(blue);
    loop.advance(MenuBarPreview::fillFadeSeconds / 2);
    const QImage middle = preview.grab().toImage();
    const QColor mid = middle.pixelColor(middle.width() / 2, 2);
    EXPECT_GT(mid.red(), 40);
    EXPECT_GT(mid.blue(), 40);
    loop.advance(MenuBarPreview::fillFadeSeconds);
    const QImage end = preview.grab().toImage();
    EXPECT_LT(end.pixelColor(end.width() / 2, 2).red(), mid.red() - 30) << "blue alone at the end";
}

TEST_F(AppearancePageTest, DriftColoursAreListedOnlyWhileTheDriftTakesEffect) {
    settings->style = MenuBarStyle::solid;
    settings->autoSample = false;
    OverlayHueDrift drift;
    drift.enabled = true;
    drift.source = OverlayHueDrift::Source::palette;
    drift.paletteStops = {"#FF0000", "nope"};
    settings->hueDrift = drift;
    EXPECT_EQ(hueDriftPreviewColors(*settings), std::vector<Color>{Color::rgb(1, 0, 0)})
        << "two stops chosen, one parses: not the default palette";
    drift.paletteStops = {"#FF0000"};
    settings->hueDrift = drift;
    EXPECT_EQ(hueDriftPreviewColors(*settings).size(), 8u);
    settings->style = MenuBarStyle::gradient;
    EXPECT_TRUE(hueDriftPreviewColors(*settings).empty());
}

TEST_F(AppearancePageTest, AlwaysOnRowsFollowTheirSwitchAndWriteStraightThrough) {
    // A page of its own, as the Behavior page holds the rows: it reads them again after each change.
    SettingsPage holder(loop);
    holder.follow(settings->objectWillChange());
    auto& controls = *new AlwaysOnControls(*settings, loop, &holder);
    const auto slider = [&](const char* title) {
        return test::rowTitled<SettingsSliderRow>(&controls, QString::fromUtf8(title));
    };
    // The rows under the switch come and go together.
    EXPECT_FALSE(slider("Overlay height")->isVisibleTo(&holder));
    test::rowTitled<SettingsToggleRow>(&controls, QStringLiteral("Keep overlay always on"))
        ->toggle()
        ->click();
    settle();
    EXPECT_TRUE(slider("Overlay height")->isVisibleTo(&holder));
    settings->alwaysOnOverlayHeight = 159.9;
    settle();
    EXPECT_EQ(test::valueShown(slider("Overlay height")), QStringLiteral("159px"));
    ResettableSlider* radius = slider("Corner radius")->slider();
    radius->setValue(radius->positionOf(30));
    settle();
    EXPECT_NEAR(settings->alwaysOnCornerRadius(), 30, 0.1);
    EXPECT_TRUE(defaults.wasWritten("alwaysOnCornerRadius"));
}

TEST_F(AppearancePageTest, PopoverControlsShareThePickerAndResetTheOpacityToFull) {
    StyleOpacityControls controls(*settings, loop);
    auto* opacity = test::findWidget<ResettableSlider>(&controls);
    settings->overlayOpacity = 0.505;
    settle();
    EXPECT_NE(test::labelReading(&controls, QStringLiteral("50%")), nullptr);
    EXPECT_EQ(opacity->value(), opacity->positionOf(50.5));
    QMouseEvent twice(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(opacity, &twice);
    settle();
    EXPECT_DOUBLE_EQ(settings->overlayOpacity(), 1.0);
    EXPECT_EQ(test::findWidget<StylePicker>(&controls)->button(MenuBarStyle::live)->text(),
              QStringLiteral("Live"));
}

}  // namespace
}  // namespace velaro
