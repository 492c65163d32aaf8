// The overlay corners section and the row pages over real settings and a fake store: linked and unlinked
// corner rows with the values each keeps, the custom colour well, the pill note; the menu-bar shape page's
// swap, texts, percent rows and "Restore Defaults"; the animation and light-beam pages; the behaviour and
// advanced pages with their global-only groups under an app profile, the notch rows without and with a notch,
// the general switches, and sizes loaded far beyond their sliders.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QColorDialog>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <utility>
#include <vector>

#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"
#include "support/FakeDefaultsStore.h"
#include "support/RowSearch.h"
#include "support/VirtualLoop.h"
#include "ui/CornerEdits.h"
#include "ui/settings/kit/GlobalOnlyGroup.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/kit/StyleOpacityControls.h"
#include "ui/settings/pages/AdvancedSection.h"
#include "ui/settings/pages/AnimationSection.h"
#include "ui/settings/pages/AppearanceSettingsView.h"
#include "ui/settings/pages/BehaviorSection.h"
#include "ui/settings/pages/GeneralSwitches.h"
#include "ui/settings/pages/LightReflectionsSection.h"
#include "ui/settings/pages/OverlayCornersSection.h"
#include "ui/settings/pages/PillShapeSection.h"

namespace velaro {
namespace {

class OverlayPagesTest : public ::testing::Test {
protected:
    OverlayPagesTest() {
        profiles = std::make_unique<ProfileManager>(defaults);
        profiles->addProfile("org.example.Editor", "Editor");
        settings = std::make_unique<OverlaySettings>(defaults, loop);
        settings->attachProfileManager(*profiles);
        settings->isEditingActive = [] { return true; };
        loop.runUntilIdle();
    }
    ~OverlayPagesTest() override { closeSharedColorPanel(); }

    void settle() { loop.runUntilIdle(); }
    void editCorners(const std::function<void(CornerSettings&)>& change) {
        test::editCorners(*settings, loop, change);
    }
    static bool shows(const QWidget* w, const QWidget* page) { return w && w->isVisibleTo(page); }
    static QString text(SettingsSliderRow* row) { return test::valueShown(row); }
    static void drag(SettingsSliderRow* row, double to) {
        row->slider()->setValue(row->slider()->positionOf(to));
    }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    std::unique_ptr<ProfileManager> profiles;
    std::unique_ptr<OverlaySettings> settings;
};

TEST_F(OverlayPagesTest, OverlayCornersSwapLinkedAndUnlinkedRowsThatKeepTheirValues) {
    AppearanceSettingsView page(*settings, loop);
    OverlayCornersSection& corners = *test::findWidget<OverlayCornersSection>(&page);
    const auto slider = [&](const char* title) {
        return test::rowTitled<SettingsSliderRow>(&corners, QString::fromUtf8(title));
    };
    const auto toggle = [&](const char* title) {
        return test::rowTitled<SettingsToggleRow>(&corners, QString::fromUtf8(title));
    };
    // The linked pair's rows or each corner's: one set shows.
    EXPECT_TRUE(shows(slider("Radius"), &page));
    EXPECT_FALSE(shows(slider("Left radius"), &page));
    EXPECT_EQ(text(slider("Radius")), QStringLiteral("28px"));

    drag(slider("Radius"), 20);
    settle();
    EXPECT_DOUBLE_EQ(settings->corners().topRadius, 20);
    EXPECT_DOUBLE_EQ(settings->corners().topLeftRadius, 28) << "the linked row writes the row radius only";

    editCorners([](CornerSettings& c) { c.topRadius = 500; });
    EXPECT_EQ(text(slider("Radius")), QStringLiteral("500px"));
    EXPECT_EQ(slider("Radius")->slider()->value(), slider("Radius")->slider()->maximum());
    editCorners([](CornerSettings& c) { c.topLeftRadius = 12.5; });
    toggle("Link left & right")->toggle()->click();
    settle();
    EXPECT_FALSE(settings->corners().topLinked);
    EXPECT_TRUE(shows(slider("Left radius"), &page));
    EXPECT_EQ(text(slider("Left radius")), QStringLiteral("13px"));
    EXPECT_EQ(text(slider("Right radius")), QStringLiteral("28px"));

    // Following the overlay's opacity: the rows read it and are disabled; leaving keeps what they read.
    settings->overlayOpacity = 0.6;
    settle();
    EXPECT_FALSE(slider("Left opacity")->isEnabled());
    EXPECT_EQ(text(slider("Left opacity")), QStringLiteral("60%"));
    toggle("Follow Top Panel opacity")->toggle()->click();
    settle();
    EXPECT_TRUE(slider("Left opacity")->isEnabled());
    EXPECT_EQ(text(slider("Right opacity")), QStringLiteral("60%"));
    drag(slider("Right opacity"), 0.25);
    settle();
    EXPECT_DOUBLE_EQ(settings->corners().topRightOpacity, 0.25);
    EXPECT_DOUBLE_EQ(settings->corners().topLeftOpacity, 0.6);
}

TEST_F(OverlayPagesTest, TheCustomWellShowsOnlyForCustomAndThePillNoteOnlyForPills) {
    AppearanceSettingsView page(*settings, loop);
    page.resize(460, 2000);
    page.show();
    OverlayCornersSection& corners = *test::findWidget<OverlayCornersSection>(&page);
    // The linked pair's colour: its mode menu, titled "Color", and the custom well under it.
    auto* colorMode = test::rowTitled<SettingsChoiceRow>(&corners, QStringLiteral("Color"));
    auto* customRow =
        test::rowTitled<SettingsColorWellRow>(colorMode->parentWidget(), QStringLiteral("Custom color"));
    const auto pillCaption = [&] {
        return test::textReading(
            &corners, QStringLiteral("Pill shape masks the overlay into capsules, so these corners "
                                     "aren't drawn while it's on. Your settings are kept and "
                                     "return in Full Bar."));
    };
    EXPECT_FALSE(shows(customRow, &page));
    EXPECT_FALSE(shows(pillCaption(), &page));

    editCorners([](CornerSettings& c) {
        c.topLeftColorMode = TopColorMode::custom;
        c.topLeftCustomColorHex = "not a colour";
        c.shapeMode = ShapeMode::pill;
    });
    EXPECT_TRUE(shows(customRow, &page));
    EXPECT_EQ(customRow->accessibleName(), QString()) << "the well carries the spoken label";
    EXPECT_EQ(customRow->well()->accessibleName(), QStringLiteral("Color custom color"));
    EXPECT_EQ(test::paintedCentre(customRow->well()), QColor(Qt::black))
        << "unparsable: black, nothing written";
    EXPECT_EQ(settings->corners().topLeftCustomColorHex, "not a colour");
    EXPECT_TRUE(shows(pillCaption(), &page));

    // Picking writes the corner, its linked twin and the row; another mode removes the well and its panel.
    customRow->well()->click();
    sharedColorPanelIfCreated()->setCurrentColor(QColor(255, 0, 0));
    settle();
    EXPECT_EQ(settings->corners().topLeftCustomColorHex, "#FF0000");
    EXPECT_EQ(settings->corners().topRightCustomColorHex, "#FF0000");
    EXPECT_EQ(settings->corners().topCustomColorHex, "#FF0000");
    auto* picker = test::menuOf(colorMode);
    ASSERT_NE(picker, nullptr);
    emit picker->activated(1);  // "Black"
    settle();
    EXPECT_EQ(settings->corners().topLeftColorMode, TopColorMode::black);
    EXPECT_EQ(settings->corners().topColorMode, TopColorMode::black);
    EXPECT_FALSE(shows(customRow, &page));
    EXPECT_FALSE(sharedColorPanelIfCreated()->isVisible());
}

TEST_F(OverlayPagesTest, ShapePageSwapsGroupsAndShowsItsTexts) {
    PillShapeSection page(*settings, loop);
    const auto group = [&](const char* header) {
        return test::sectionTitled(&page, QString::fromUtf8(header));
    };
    const auto pillCaption = [&] {
        return test::textReading(&page,
                                 QStringLiteral("The pill wraps the panel's tray and clock, wherever they sit."));
    };
    EXPECT_TRUE(shows(group("Full Bar"), &page));
    EXPECT_FALSE(shows(group("Pill Shape"), &page));
    EXPECT_FALSE(shows(pillCaption(), &page));
    const struct {
        double depth, cover;
        const char *depthText, *coverText;
    } fullBar[] = {{0, 0, "Default", "Off"}, {-12.7, 4, "-12px", "4px"}};
    for (const auto& f : fullBar) {
        settings->overlayExtraDepth = f.depth;
        settings->seamCoverDepth = f.cover;
        settle();
        EXPECT_EQ(text(test::rowTitled<SettingsSliderRow>(&page, QStringLiteral("Depth"))),
                  QString::fromUtf8(f.depthText));
        EXPECT_EQ(text(test::rowTitled<SettingsSliderRow>(&page, QStringLiteral("Seam Cover"))),
                  QString::fromUtf8(f.coverText));
    }

    const auto segments = test::segmentsOf(test::rowTitled<SettingsChoiceRow>(&page, QStringLiteral("Mode")));
    ASSERT_EQ(segments.size(), 2);
    segments[1]->click();  // "Pill"
    EXPECT_EQ(settings->corners().shapeMode, ShapeMode::fullBar) << "the mode lands on the next turn";
    settle();
    EXPECT_EQ(settings->corners().shapeMode, ShapeMode::pill);
    EXPECT_EQ(
        CornerSettings::decode(std::span<const std::uint8_t>(defaults.object("cornerSettings").get_binary()))
            ->shapeMode,
        ShapeMode::pill);
    EXPECT_FALSE(shows(group("Full Bar"), &page));
    EXPECT_TRUE(shows(group("Pill Shape"), &page));
    EXPECT_TRUE(shows(pillCaption(), &page));
    // The tray's pill switched off leaves the band uncut, and its caption says so.
    EXPECT_TRUE(
        shows(test::textReading(&page, QStringLiteral("Off = no pill: the band covers the whole top panel.")),
              &page));

    const struct {
        const char* title;
        double CornerSettings::*field;
        double stored;
        const char* shown;
    } texts[] = {
        {"Corner radius", &CornerSettings::pillCornerRadius, 7.5, "7.5px"},
        {"Corner radius", &CornerSettings::pillCornerRadius, 7, "7px"},
        {"Tray offset", &CornerSettings::pillRightHOffset, -10, "-10px"},
        {"Border width", &CornerSettings::pillStrokeWidth, 0.5, "0.5px"},
        {"Border opacity", &CornerSettings::pillStrokeOpacity, 0.2, "20%"},
        // Values far outside a row's range saturate instead of overflowing.
        {"Vertical offset", &CornerSettings::pillVerticalOffset, 1e300, "9223372036854775807px"},
        {"Border opacity", &CornerSettings::pillStrokeOpacity, 3, "300%"},
    };
    for (const auto& t : texts) {
        editCorners([&](CornerSettings& c) { c.*t.field = t.stored; });
        EXPECT_EQ(text(test::rowTitled<SettingsSliderRow>(&page, QString::fromUtf8(t.title))),
                  QString::fromUtf8(t.shown))
            << t.title;
    }

    // Percent rows run in percent and store fractions; "Glass fill" stops at 60.
    drag(test::rowTitled<SettingsSliderRow>(&page, QStringLiteral("Border opacity")), 35);
    drag(test::rowTitled<SettingsSliderRow>(&page, QStringLiteral("Glass fill")), 90);
    settle();
    EXPECT_DOUBLE_EQ(settings->corners().pillStrokeOpacity, 0.35);
    EXPECT_EQ(text(test::rowTitled<SettingsSliderRow>(&page, QStringLiteral("Border opacity"))),
              QStringLiteral("35%"));
    EXPECT_DOUBLE_EQ(settings->corners().pillFillOpacity, 0.6);
}

// No left pill is drawn on this desktop: its offset keeps its row and stored value, but disabled, with the
// reason on one line under it; the rows that do act stay enabled, and reading the settings again changes
// neither.
TEST_F(OverlayPagesTest, TheLeftOffsetThisDesktopNeverDrawsIsDisabledWithItsReasonUnderIt) {
    editCorners([](CornerSettings& c) {
        c.shapeMode = ShapeMode::pill;
        c.pillLeftHOffset = 5;
    });
    PillShapeSection page(*settings, loop);
    page.resize(SettingsPage::maximumPageWidth, 1600);
    page.show();
    auto* left = test::rowTitled<SettingsSliderRow>(&page, QStringLiteral("Left offset"));
    EXPECT_TRUE(shows(left, &page));
    EXPECT_FALSE(left->slider()->isEnabled());
    EXPECT_EQ(text(left), QStringLiteral("5px")) << "the stored value shows";
    const SpacedText* why = test::textReading(&page, QString::fromUtf8(PillShapeSection::noLeftPill));
    ASSERT_NE(why, nullptr);
    EXPECT_TRUE(shows(why, &page));
    EXPECT_TRUE(why->isEnabled()) << "the reason reads at full strength";
    EXPECT_LT(why->label()->height(), 2 * why->label()->fontMetrics().lineSpacing()) << "one line";
    for (const char* title : {"Tray offset", "Vertical offset", "Horizontal padding"})
        EXPECT_TRUE(
            test::rowTitled<SettingsSliderRow>(&page, QString::fromUtf8(title))->slider()->isEnabled())
            << title;

    editCorners([](CornerSettings& c) { c.pillRightHOffset = 3; });
    EXPECT_FALSE(left->slider()->isEnabled());
    EXPECT_DOUBLE_EQ(settings->corners().pillLeftHOffset, 5);
}

TEST_F(OverlayPagesTest, RestoreDefaultsBringsBackTheTenPillFieldsAsTenWrites) {
    PillShapeSection page(*settings, loop);
    editCorners([](CornerSettings& c) {
        c.shapeMode = ShapeMode::pill;
        c.pillCornerRadius = 3;
        c.pillVerticalInset = 1;
        c.pillHPadding = 9;
        c.pillStrokeWidth = 2;
        c.pillStrokeOpacity = 0.9;
        c.pillFillOpacity = 0.5;
        c.pillSeparateSides = false;
        c.pillLeftHOffset = 5;
        c.pillRightHOffset = 5;
        c.pillVerticalOffset = 2;
        c.bottomRadius = 12;
    });
    int published = 0;
    const Subscription watch = settings->corners.changes().sink([&](const CornerSettings&) { ++published; });
    defaults.clearWrites();
    for (QPushButton* button : page.findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("Restore Defaults")) button->click();
    EXPECT_EQ(published, 0);
    settle();
    EXPECT_EQ(published, 10);
    EXPECT_EQ(defaults.writes().size(), 10u);
    CornerSettings expected;
    expected.shapeMode = ShapeMode::pill;
    expected.bottomRadius = 12;
    EXPECT_EQ(settings->corners(), expected) << "mode and corners untouched";
}

TEST_F(OverlayPagesTest, AnimationCaptionFollowsTheLandedStyleAndBeamRowsFollowTheirSwitches) {
    AnimationSection animation(*settings, loop);
    // The caption under the style: the one text row of the page.
    const auto caption = [&] { return test::findWidget<SettingsCaptionRow>(&animation)->text(); };
    EXPECT_EQ(caption(), QStringLiteral("Fill sweeps up on appear; disappears instantly."));
    test::segmentsOf(test::rowTitled<SettingsChoiceRow>(&animation, QStringLiteral("Style")))[1]->click();
    EXPECT_EQ(caption(), QStringLiteral("Fill sweeps up on appear; disappears instantly."));
    settle();
    EXPECT_EQ(defaults.object("overlayAnimationKind"), PlistValue("Spread"));
    EXPECT_EQ(caption(),
              QStringLiteral("Fill spreads out from the top center; collapses back to center on exit."));

    LightReflectionsSection beam(*settings, loop);
    const auto beamRow = [&](const char* title) {
        return test::rowTitled<SettingsSliderRow>(&beam, QString::fromUtf8(title));
    };
    const auto beamSwitch = [&](const char* title) {
        return test::rowTitled<SettingsToggleRow>(&beam, QString::fromUtf8(title));
    };
    // The "Fine-tuning" disclosure heads its group; the core colour's row stands for the folding card.
    QToolButton* disclosure = nullptr;
    for (QToolButton* button : test::findWidgets<QToolButton>(&beam))
        if (button->text() == QStringLiteral("Fine-tuning")) disclosure = button;
    ASSERT_NE(disclosure, nullptr);
    const auto coreColorRow = [&] {
        return test::rowTitled<SettingsColorWellRow>(&beam, QStringLiteral("Core color"));
    };
    EXPECT_FALSE(shows(beamSwitch("Glow"), &beam));
    EXPECT_FALSE(shows(disclosure, &beam));
    beamSwitch("Enable light beam")->toggle()->click();
    settle();
    EXPECT_TRUE(shows(beamSwitch("Glow"), &beam));
    EXPECT_TRUE(shows(disclosure, &beam));
    EXPECT_FALSE(shows(coreColorRow(), &beam)) << "fine-tuning starts folded";
    disclosure->click();
    EXPECT_TRUE(shows(coreColorRow(), &beam));

    settings->beamTopStreakHeight = 2.5;
    settings->beamLength = 0.129;
    settings->beamCoreFollowsSampled = true;
    settings->beamGlowEnabled = false;
    settle();
    EXPECT_EQ(text(beamRow("Streak height")), QStringLiteral("2.50 px"));
    EXPECT_EQ(text(beamRow("Beam length")), QStringLiteral("12%"));
    settings->beamBrightness = 1e300;
    settle();
    EXPECT_EQ(text(beamRow("Brightness")), QStringLiteral("9223372036854775807%"));
    EXPECT_FALSE(coreColorRow()->isEnabled());
    EXPECT_TRUE(shows(coreColorRow(), &beam));
    EXPECT_FALSE(shows(beamRow("Glow brightness"), &beam));
    drag(beamRow("Streak height"), 3.3);
    settle();
    EXPECT_DOUBLE_EQ(settings->beamTopStreakHeight(), 3.25);

    settings->lightReflectionsEnabled = false;
    settle();
    EXPECT_FALSE(shows(disclosure, &beam));
    EXPECT_DOUBLE_EQ(settings->beamLength(), 0.129) << "hidden values stay stored";
}

// Sizes another program put far beyond the controls, either way: every size row of the pages shows what its
// slider shows at that end, never more (a beam length of 1e6 once read "9223372036854775807%").
TEST_F(OverlayPagesTest, SizesFarBeyondTheirControlsShowAsTheControlsEnds) {
    LightReflectionsSection beam(*settings, loop);
    BehaviorSection behavior(*settings, *profiles, loop);
    PillShapeSection pill(*settings, loop);
    AppearanceSettingsView appearance(*settings, loop);
    const std::pair<QWidget*, std::vector<const char*>> pages[] = {
        {&beam, {"Beam length", "Beam height", "Top streak length", "Hotspot length", "Streak height"}},
        {test::findWidget<AlwaysOnControls>(&behavior), {"Overlay height", "Corner radius"}},
        {&pill,
         {"Corner radius", "Vertical inset", "Horizontal padding", "Border width", "Left offset",
          "Tray offset", "Vertical offset"}},
        {test::findWidget<OverlayCornersSection>(&appearance), {"Radius", "Left radius", "Right radius"}},
    };
    for (const double far : {1e6, -1e6}) {
        SCOPED_TRACE(far);
        for (const char* key : {"beamLength", "beamHeight", "beamWidth", "beamTopStreakHotspot",
                                "beamTopStreakHeight", "alwaysOnOverlayHeight", "alwaysOnCornerRadius"})
            defaults.changeOutside(key, far);
        CornerSettings corners;
        for (const auto& bound : cornerBounds) corners.*bound.member = far;
        defaults.changeOutside("cornerSettings", plistData(*encodeCornerSettings(corners)));
        settle();
        for (const auto& [page, titles] : pages)
            for (const char* title : titles) {
                auto* row = test::rowTitled<SettingsSliderRow>(page, QString::fromUtf8(title));
                const QString shown = text(row);
                // To the other end and back, so that the near end is written whatever the thumb showed.
                QSlider* slider = row->slider();
                slider->setValue(far > 0 ? slider->minimum() : slider->maximum());
                settle();
                slider->setValue(far > 0 ? slider->maximum() : slider->minimum());
                settle();
                EXPECT_EQ(shown.toStdString(), text(row).toStdString()) << title;
            }
    }
}

TEST_F(OverlayPagesTest,
       GlobalOnlyCardsAreDisabledWithTheNoteWhileAnAppIsEditedAndOtherRowsWriteItsOverrides) {
    BehaviorSection behavior(*settings, *profiles, loop);
    AdvancedSection advanced(*settings, *profiles, loop);
    GlobalOnlyGroup* sampling = test::findWidget<GlobalOnlyGroup>(&behavior);
    const auto behindCaption = [&] {
        return test::textReading(&behavior,
                                 QStringLiteral("Overlay renders behind app windows instead of on top"));
    };
    EXPECT_TRUE(test::findWidget<SettingsCard>(sampling)->isEnabled());
    EXPECT_FALSE(shows(test::findWidget<GlobalOnlyNote>(sampling), &behavior));
    EXPECT_FALSE(shows(behindCaption(), &behavior));

    profiles->selectedScope = ProfileScope::app("org.example.Editor");
    settle();
    for (GlobalOnlyGroup* group : {sampling, test::findWidget<GlobalOnlyGroup>(&advanced)}) {
        EXPECT_FALSE(test::findWidget<SettingsCard>(group)->isEnabled());
        EXPECT_TRUE(test::findWidget<GlobalOnlyNote>(group)->isVisibleTo(group));
    }
    EXPECT_FALSE(test::findWidget<PauseOnHoverToggle>(&behavior)->isEnabled());

    // The layer and always-on rows stay usable and write the app's overrides.
    test::segmentsOf(test::rowTitled<SettingsChoiceRow>(&behavior, QStringLiteral("Layer")))[1]->click();
    settle();
    EXPECT_EQ(settings->layerPosition(), LayerPosition::behindWindows);
    EXPECT_TRUE(shows(behindCaption(), &behavior));
    EXPECT_FALSE(defaults.hasStoredValue("layerPosition")) << "an app's override, not the global value";
    EXPECT_TRUE(test::findWidget<AlwaysOnControls>(&behavior)->isEnabled());

    profiles->selectedScope = ProfileScope::global();
    settle();
    EXPECT_TRUE(test::findWidget<SettingsCard>(sampling)->isEnabled());
    EXPECT_FALSE(test::findWidget<GlobalOnlyNote>(sampling)->isVisibleTo(sampling));
}

TEST_F(OverlayPagesTest, AdvancedRowsFollowShapeBlurNotchAndTheOverlay) {
    bool notch = false;
    AdvancedSection page(*settings, *profiles, loop, [&notch] { return notch; });
    const auto toggle = [&](const char* title) {
        return test::rowTitled<SettingsToggleRow>(&page, QString::fromUtf8(title));
    };
    const auto slider = [&](const QObject* within, const char* title) {
        return test::rowTitled<SettingsSliderRow>(within, QString::fromUtf8(title));
    };
    const auto caption = [&](const char* text) { return test::textReading(&page, QString::fromUtf8(text)); };
    auto* stroke = test::findWidget<AdvancedStrokeControls>(&page);
    auto* notchFade = test::findWidget<OverlayNotchFadeControl>(&page);
    // A shown caption or row stands for the block it sits in.
    const auto strokeFadeDistanceShows = [&] {
        return shows(caption("Top hairline dissolves around the notch"), &page);
    };
    const auto notchStrokeRowsShow = [&] { return shows(slider(stroke, "Top Curves"), &page); };
    const auto notchFadeDistanceShows = [&] { return shows(slider(notchFade, "Fade Distance"), &page); };
    const auto rendererCaption = [&] {
        return test::findWidget<SettingsCaptionRow>(test::findWidget<AdvancedRendererControl>(&page))->text();
    };
    settings->strokeNotchFadeEnabled = true;
    settings->notchStrokeEnabled = true;
    settings->notchFadeEnabled = true;
    settle();
    EXPECT_FALSE(toggle("Notch stroke")->isEnabled());
    EXPECT_TRUE(shows(caption("No notch detected"), &page));
    EXPECT_FALSE(toggle("Stroke notch fade")->isEnabled());
    EXPECT_FALSE(strokeFadeDistanceShows()) << "no fade distance without a notch";
    EXPECT_FALSE(notchStrokeRowsShow());
    EXPECT_FALSE(toggle("Overlay notch fade")->isEnabled());
    EXPECT_FALSE(notchFadeDistanceShows());

    notch = true;
    page.refresh();
    EXPECT_TRUE(toggle("Notch stroke")->isEnabled());
    EXPECT_FALSE(shows(caption("No notch detected"), &page));
    EXPECT_TRUE(strokeFadeDistanceShows());
    EXPECT_TRUE(notchStrokeRowsShow());
    EXPECT_TRUE(notchFadeDistanceShows());
    const struct {
        double height;
        const char* shown;
    } heights[] = {{-0.4, "+0px"}, {0, "0"}, {3, "+3px"}, {-4.6, "-4px"}};
    for (const auto& h : heights) {
        settings->notchStrokeHeight = h.height;
        settle();
        EXPECT_EQ(text(slider(stroke, "Height")), QString::fromUtf8(h.shown));
    }
    for (const auto& [length, shown] : {std::pair{0.0, "Off"}, std::pair{0.5, "0px"}}) {
        settings->strokeFadeLength = length;
        settle();
        EXPECT_EQ(text(slider(stroke, "Stroke Fade")), QString::fromUtf8(shown));
    }

    // The renderer's caption: pill first, then blur, else the plain one.
    settings->blurEnabled = true;
    settle();
    EXPECT_TRUE(rendererCaption().startsWith(QStringLiteral("Background Blur is on")));
    editCorners([](CornerSettings& c) { c.shapeMode = ShapeMode::pill; });
    EXPECT_TRUE(rendererCaption().startsWith(QStringLiteral("Paused while Pill shape is on")));
    EXPECT_FALSE(toggle("Separate corner windows (advanced)")->isEnabled());

    // Overlay off: the strokes and the notch fade are gated; the rest stays usable.
    settings->overlayEnabled = false;
    settle();
    EXPECT_FALSE(test::findWidget<SettingsOverlayGate>(&page)->content()->isEnabled());
    EXPECT_TRUE(shows(test::findWidget<SettingsOverlayGate>(&page)->notice(), &page));
    EXPECT_TRUE(toggle("Smooth colors")->isEnabled());
    EXPECT_TRUE(test::findWidget<SettingsCard>(test::findWidget<GlobalOnlyGroup>(&page))->isEnabled());
}

TEST_F(OverlayPagesTest, GeneralSwitchesWriteOnTheNextTurn) {
    MaximiseFillToggle fill(*settings, loop);
    fill.row()->toggle()->click();
    EXPECT_FALSE(settings->maximiseButtonFillsWindow());
    settle();
    EXPECT_TRUE(settings->maximiseButtonFillsWindow());
    EXPECT_EQ(defaults.object("greenButtonFillsWindow"), PlistValue(true));

    for (bool note : {false, true}) {
        ShowTaskbarIconToggle dock(*settings, loop, note);
        EXPECT_EQ(test::findWidgets<SettingsCaptionRow>(&dock).size(), note ? 2u : 1u);
    }
}

}  // namespace
}  // namespace velaro
