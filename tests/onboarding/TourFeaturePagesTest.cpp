// The feature pages and the All Set page over the settings: what each says and shows under each condition,
// what their controls write (on a later turn), and how the tour ends from the last page.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QMouseEvent>

#include "onboarding/AllSetPage.h"
#include "onboarding/TourControls.h"
#include "onboarding/TourStyleOptionPage.h"
#include "onboarding/TourSwitches.h"
#include "onboarding/TourTestRig.h"
#include "onboarding/TourVideoWell.h"
#include "support/WidgetSearch.h"

namespace velaro {
namespace {

using test::TourRig;

TourStyleOptionPage& featurePage(OnboardingRootView& view) {
    auto* page = test::findWidget<TourStyleOptionPage>(&view);
    EXPECT_NE(page, nullptr);
    return *page;
}

void setShape(OverlaySettings& settings, ShapeMode mode) {
    CornerSettings corners = settings.corners();
    corners.shapeMode = mode;
    settings.corners = corners;
}

// Whether the page's well shows the clip of that name: both at rest on its first frame, it paints what a
// well of its size and anchor with that clip does.
bool wellShows(TourStyleOptionPage& page, const std::string& clip, MainLoop& loop) {
    TourVideoWell& well = page.well();
    TourVideoWell reference(loop);
    reference.resize(well.size());
    reference.setAnchor(page.videoAnchor());
    reference.load(clip);
    // The well's rounded corners lie within 20 points of its corners: what is outside those squares counts.
    const auto paint = [](TourVideoWell& w) {
        QImage image(w.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        w.render(&image);
        QPainter corners(&image);
        corners.setCompositionMode(QPainter::CompositionMode_Clear);
        for (const QPoint& at : {QPoint(0, 0), QPoint(w.width() - 20, 0), QPoint(0, w.height() - 20),
                                 QPoint(w.width() - 20, w.height() - 20)})
            corners.fillRect(QRect(at, QSize(20, 20)), Qt::transparent);
        return image;
    };
    well.pointerLeft();
    reference.pointerLeft();
    return paint(well) == paint(reference);
}

// A press and release at a point of a widget, as the pointer would.
void clickAt(QWidget& widget, QPointF point) {
    QMouseEvent press(QEvent::MouseButtonPress, point, widget.mapToGlobal(point), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, point, widget.mapToGlobal(point), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &release);
}

TEST(TourFeaturePages, EachOptionSaysWhatItDoesUnderItsConditions) {
    struct Case {
        OnboardingStep option;
        bool trusted;
        std::function<void(OverlaySettings&)> arrange;
        QString title, firstLine;
        std::string video;
        bool hasSwitch;
    };
    const Case cases[] = {
        {OnboardingStep::menubarShape, true, [](auto& s) { setShape(s, ShapeMode::fullBar); },
         "Overlay Shape", "The overlay covers the whole top panel,", "tour-fullbar", false},
        // The pill wraps the panel's tray and clock whatever the window manager: no promise of a left pill.
        {OnboardingStep::menubarShape, false, [](auto& s) { setShape(s, ShapeMode::pill); }, "Overlay Shape",
         "The overlay shrinks to a capsule around", "tour-pill", false},
        {OnboardingStep::menubarShape, true, [](auto& s) { setShape(s, ShapeMode::pill); }, "Overlay Shape",
         "The overlay shrinks to a capsule around", "tour-pill", false},
        {OnboardingStep::style, true, [](auto&) {}, "Overlay Shape",
         "The overlay covers the whole top panel,", "tour-fullbar", false},
        {OnboardingStep::roundedCorners, true, [](auto&) {}, "Rounded Corners", "Rounds all the corners",
         "tour-cornerrounding", true},
        {OnboardingStep::lightReflections, true, [](auto&) {}, "Light Reflections",
         "Adds a soft light beam across the bar", "tour-lightreflections", true},
        {OnboardingStep::musicVisualizer, true, [](auto&) {}, "Music Visualizer",
         "Shows audio bars that sit on top of your screen", "tour-visualizer", true},
        {OnboardingStep::musicVisualizer, true, [](auto& s) { s.vizStatus = std::string("no audio"); },
         "Music Visualizer", "Couldn't start. The sound server (PulseAudio", "tour-visualizer", true},
        {OnboardingStep::progressBar, true, [](auto&) {}, "Progress Bar",
         "Shows a playback progress line on the top edge", "tour-progressbar", true},
        {OnboardingStep::fillWindow, true, [](auto&) {}, "Fill Window",
         "The maximise button fills the window", "tour-fillwindow", true},
        {OnboardingStep::fillWindow, false, [](auto&) {}, "Fill Window",
         "Needs a running window manager \u2014", "tour-fillwindow", true},
    };
    for (const auto& c : cases) {
        TourRig rig;
        rig.permissions[Capability::windowManager] = c.trusted;
        c.arrange(*rig.settings);
        auto& page = featurePage(rig.open(c.option));
        const auto copy = page.optionCopy();
        EXPECT_EQ(copy.title, c.title) << int(c.option);
        ASSERT_EQ(copy.lines.size(), 2);
        EXPECT_EQ(copy.lines[0], c.firstLine) << int(c.option);
        EXPECT_EQ(page.videoName(), c.video);
        EXPECT_TRUE(wellShows(page, c.video, rig.loop)) << c.video;
        EXPECT_EQ(test::findWidget<tour::TourSwitch>(&page) != nullptr, c.hasSwitch);
        EXPECT_EQ(test::findWidget<tour::TourSegmentedShape>(&page) != nullptr,
                  c.option == OnboardingStep::menubarShape || c.option == OnboardingStep::style);
    }
}

TEST(TourFeaturePages, LinesFollowTrustOnActivationAndTheVisualizerStatus) {
    TourRig rig;
    rig.permissions[Capability::windowManager] = false;
    auto& view = rig.open(OnboardingStep::fillWindow);
    auto& page = featurePage(view);
    EXPECT_NE(page.optionCopy().lines[0], QStringLiteral("The maximise button fills the window"))
        << "without a window manager the copy says what is missing";
    rig.permissions[Capability::windowManager] = true;
    rig.activation.send({});
    EXPECT_EQ(page.optionCopy().lines[0], QStringLiteral("The maximise button fills the window"));

    view.go(OnboardingStep::musicVisualizer);
    auto& viz = featurePage(view);
    rig.settings->vizStatus = std::string("failed");
    rig.loop.runUntilIdle();
    EXPECT_EQ(viz.optionCopy().lines[1], QStringLiteral("or PipeWire) may not be running."));
    rig.settings->vizStatus = std::nullopt;
    EXPECT_EQ(viz.optionCopy().lines[1], QStringLiteral("while music plays."));
}

TEST(TourFeaturePages, WarningShowsOnlyWhileTheMasterSwitchIsOff) {
    TourRig rig;
    auto& view = rig.open(OnboardingStep::progressBar);
    rig.settings->masterEnabled = true;
    EXPECT_FALSE(featurePage(view).showsWarning());
    rig.settings->masterEnabled = false;
    EXPECT_TRUE(featurePage(view).showsWarning());
}

TEST(TourFeaturePages, PickerWritesOnEveryClickAndTheClipFollowsOnceItLands) {
    TourRig rig;
    setShape(*rig.settings, ShapeMode::fullBar);
    auto& page = featurePage(rig.open(OnboardingStep::menubarShape));
    auto& picker = *test::findWidget<tour::TourSegmentedShape>(&page);
    // Its two rows, the full bar's first.
    const auto pickerRows = test::findWidgets<QAbstractButton>(&picker);
    ASSERT_EQ(pickerRows.size(), 2u);
    EXPECT_DOUBLE_EQ(picker.highlightTop(), 3.065);
    EXPECT_TRUE(pickerRows.at(0)->isChecked());
    EXPECT_FALSE(pickerRows.at(1)->isChecked());

    pickerRows.at(1)->click();
    EXPECT_EQ(rig.settings->corners().shapeMode, ShapeMode::fullBar) << "the write lands on a later turn";
    EXPECT_TRUE(wellShows(page, "tour-fullbar", rig.loop));
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.settings->corners().shapeMode, ShapeMode::pill);
    EXPECT_DOUBLE_EQ(picker.highlightTop(), 17.0);
    EXPECT_TRUE(pickerRows.at(1)->isChecked());
    EXPECT_TRUE(wellShows(page, "tour-pill", rig.loop));

    rig.defaults.clearWrites();
    pickerRows.at(1)->click();
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.defaults.wasWritten("cornerSettings")) << "the chosen row writes again";
}

TEST(TourFeaturePages, RoundedCornersSwitchTouchesOnlyTheBottomFlagsAsTheyStandWhenItLands) {
    TourRig rig;
    CornerSettings corners = rig.settings->corners();
    corners.bottomLeftEnabled = true;
    corners.bottomRightEnabled = false;
    rig.settings->corners = corners;
    auto& page = featurePage(rig.open(OnboardingStep::roundedCorners));
    ASSERT_NE(test::findWidget<tour::TourSwitch>(&page), nullptr);
    EXPECT_TRUE(test::findWidget<tour::TourSwitch>(&page)->isChecked())
        << "one bottom corner on shows the switch on";

    test::findWidget<tour::TourSwitch>(&page)->click();
    // An edit of another corner queued between the click and its write survives it.
    rig.loop.post([&] {
        CornerSettings edited = rig.settings->corners();
        edited.topLeftEnabled = false;
        edited.topRadius = 11;
        rig.settings->corners = edited;
    });
    EXPECT_TRUE(test::findWidget<tour::TourSwitch>(&page)->isChecked())
        << "the switch moves once the write lands";
    rig.loop.runUntilIdle();
    const CornerSettings after = rig.settings->corners();
    EXPECT_FALSE(after.bottomLeftEnabled);
    EXPECT_FALSE(after.bottomRightEnabled);
    EXPECT_FALSE(after.topLeftEnabled);
    EXPECT_EQ(after.topRadius, 11);
    EXPECT_FALSE(test::findWidget<tour::TourSwitch>(&page)->isChecked());

    test::findWidget<tour::TourSwitch>(&page)->click();
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.settings->corners().bottomLeftEnabled);
    EXPECT_TRUE(rig.settings->corners().bottomRightEnabled);
}

TEST(TourFeaturePages, SwitchPressesSixPointsAroundItsTrackAndNoFarther) {
    TourRig rig;
    rig.settings->progressEnabled = false;
    auto& page = featurePage(rig.open(OnboardingStep::progressBar));
    auto& toggle = *test::findWidget<tour::TourSwitch>(&page);
    const QPointF track = toggle.mapFrom(&page, QPoint(626, 297)) + QPointF(0.5, 0.117);
    struct Case {
        QPointF at;
        bool presses;
    };
    const Case cases[] = {{{16, 7}, true}, {{-5.5, 7}, true}, {{37.5, 20}, true}, {{16, -5.5}, true}};
    bool expected = false;
    for (const auto& c : cases) {
        clickAt(toggle, track + c.at);
        rig.loop.runUntilIdle();
        if (c.presses) expected = !expected;
        EXPECT_EQ(rig.settings->progressEnabled(), expected) << c.at.x() << "," << c.at.y();
    }
    EXPECT_FALSE(toggle.rect().contains((track + QPointF(-7, 7)).toPoint()))
        << "beyond six points the switch has no area to press";
}

TEST(TourAllSetPage, SwitchesShowStoredStateAndViewSettingsEndsTheTour) {
    TourRig rig;
    rig.settings->showTaskbarIcon = true;
    rig.loginService.registerError = std::string("not allowed");
    auto& view = rig.open(OnboardingStep::allSet);
    auto* page = test::findWidget<AllSetPage>(&view);
    ASSERT_NE(page, nullptr);
    QAbstractButton* login = test::findButton(page, QStringLiteral("Start at Login"));
    QAbstractButton* taskbar = test::findButton(page, QStringLiteral("Show Taskbar Icon"));
    QAbstractButton* viewSettings = test::findButton(page, QStringLiteral("View Settings"));
    ASSERT_TRUE(login && taskbar && viewSettings);
    EXPECT_TRUE(taskbar->isChecked());
    EXPECT_FALSE(login->isChecked());

    login->click();
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.loginService.registerCalls, 1);
    EXPECT_FALSE(login->isChecked()) << "a refused login item goes back to off";
    rig.loginService.registerError.reset();
    login->click();
    rig.loop.runUntilIdle();
    EXPECT_TRUE(login->isChecked());

    taskbar->click();
    rig.loop.runUntilIdle();
    EXPECT_FALSE(rig.settings->showTaskbarIcon());
    EXPECT_FALSE(taskbar->isChecked());

    viewSettings->click();
    EXPECT_EQ(rig.storedStep(), 4);
    EXPECT_EQ(rig.finishes, 1);
    EXPECT_EQ(rig.settingsOpened, 1);
}

}  // namespace
}  // namespace velaro
