// The tour's navigation: what each move stores and starts, when pages animate, when Next may be pressed,
// how the tour ends, and the welcome button's entrance and pulse.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <algorithm>
#include <cmath>

#include "onboarding/AllSetPage.h"
#include "onboarding/PermissionsPage.h"
#include "onboarding/TourCard.h"
#include "onboarding/TourControls.h"
#include "onboarding/TourStyleOptionPage.h"
#include "onboarding/TourTestRig.h"
#include "onboarding/WelcomePage.h"
#include "support/WidgetSearch.h"

namespace velaro {
namespace {

using test::TourRig;

// The tour's button of that object name ("letsStart", "back", "next").
QAbstractButton& button(QWidget& view, const char* name) {
    auto* found = test::findNamed<QAbstractButton>(&view, name);
    EXPECT_NE(found, nullptr) << name;
    return *found;
}

// The permissions page's row of that title.
TourCard& row(QWidget* page, const QString& title) {
    for (TourCard* card : test::findWidgets<TourCard>(page))
        if (card->accessibleName() == title) return *card;
    ADD_FAILURE() << title.toStdString();
    return *test::findWidget<TourCard>(page);
}

// Whether the desktop is asked again as time passes: the tour's poll runs.
bool polls(TourRig& rig) {
    const int before = rig.permissions.checks(Capability::x11Session);
    rig.loop.advance(2 * TourPermissionModel::pollInterval);
    return rig.permissions.checks(Capability::x11Session) > before;
}

// The tour's pages alive now: one at rest, two while the old one slides out.
std::vector<QWidget*> pages(QWidget& view) {
    std::vector<QWidget*> found;
    for (QWidget* child : view.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (dynamic_cast<WelcomePage*>(child) || dynamic_cast<PermissionsPage*>(child) ||
            dynamic_cast<TourStyleOptionPage*>(child) || dynamic_cast<AllSetPage*>(child))
            found.push_back(child);
    return found;
}

// Whether the welcome page paints as its artwork does with the logo's entrance, then each line's, at
// `progress`.
bool paintsAt(WelcomePage& page, const std::array<double, 4>& progress) {
    const qreal scale = page.devicePixelRatioF();
    QImage expected((QSizeF(page.size()) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    expected.setDevicePixelRatio(scale);
    expected.fill(page.palette().color(page.backgroundRole()));
    {
        QPainter painter(&expected);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        WelcomeArt(scale).paint(painter, progress);
    }
    return page.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) == expected;
}

// The welcome button drawn on its own: how opaque the middle of its face is, and whether a pulse ring shows
// in the room left of the face, where nothing else is drawn once the entrance is over.
struct StartButtonLook {
    int faceAlpha = 0;
    bool ring = false;
};
StartButtonLook startButtonLook(QWidget& view) {
    auto& start = button(view, "letsStart");
    QImage image(start.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    start.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    StartButtonLook look;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < 22; ++x) look.ring = look.ring || qAlpha(image.pixel(x, y)) > 40;
    look.faceAlpha = qAlpha(image.pixel(image.width() / 2, 41));
    return look;
}
// Moves time on by `seconds` in 50 ms steps; whether a ring showed at any of them.
bool ringShowsWithin(TourRig& rig, QWidget& view, double seconds) {
    bool shown = false;
    for (int step = 0; step < std::lround(seconds / 0.05); ++step) {
        rig.loop.advance(0.05);
        shown = startButtonLook(view).ring || shown;
    }
    return shown;
}

void pressReturn(QWidget& widget) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &press);
}

TEST(OnboardingRootView, MovesStartTheRuntimeOnlyBeforeFeaturePagesAndStoreOnlyWithProgress) {
    for (const bool persists : {true, false}) {
        TourRig rig;
        if (!persists) rig.defaults.seed(onboardingStepKey, PlistValue(4));
        auto& view = rig.open(OnboardingStep::welcome, persists);
        struct Move {
            OnboardingStep target;
            int runtimeStarts;
        };
        const Move moves[] = {
            {OnboardingStep::permissions, 0},    {OnboardingStep::menubarShape, 1},
            {OnboardingStep::roundedCorners, 2}, {OnboardingStep::allSet, 2},
            {OnboardingStep::fillWindow, 3},     {OnboardingStep::welcome, 3},
        };
        for (const auto& move : moves) {
            view.go(move.target);
            EXPECT_EQ(view.step(), move.target);
            EXPECT_EQ(rig.runtimeStarts, move.runtimeStarts) << int(move.target);
            EXPECT_EQ(rig.storedStep(), persists ? static_cast<std::int64_t>(move.target) : 4)
                << "persists " << persists << " at " << int(move.target);
        }
    }
}

TEST(OnboardingRootView, NextAndBackWalkThePageOrderAndStopAtItsEnds) {
    TourRig rig;
    auto& view = rig.open();
    auto* indicator = test::findWidget<tour::TourPageIndicator>(&view);
    ASSERT_NE(indicator, nullptr);
    view.goBack();
    EXPECT_EQ(view.step(), OnboardingStep::welcome);
    for (std::size_t i = 1; i < onboardingPageOrder.size(); ++i) {
        view.advance();
        EXPECT_EQ(view.step(), onboardingPageOrder[i]);
        EXPECT_EQ(indicator->accessibleName(),
                  QStringLiteral("Page %1 of %2").arg(i + 1).arg(onboardingPageOrder.size()));
    }
    EXPECT_EQ(indicator->accessibleName(), QStringLiteral("Page 9 of 9"));
    EXPECT_EQ(button(view, "next").text(), QStringLiteral("Done"));
    view.advance();
    EXPECT_EQ(view.step(), OnboardingStep::allSet) << "the last page stays";
    view.goBack();
    EXPECT_EQ(view.step(), OnboardingStep::fillWindow);
    EXPECT_EQ(rig.storedStep(), 10);
}

TEST(OnboardingRootView, PagesAnimateExceptBetweenFeaturePagesOrWithReducedMotion) {
    struct Case {
        bool reduceMotion;
        OnboardingStep from, to;
        bool animated;
    };
    const Case cases[] = {
        {false, OnboardingStep::permissions, OnboardingStep::menubarShape, true},
        {false, OnboardingStep::menubarShape, OnboardingStep::roundedCorners, false},
        {false, OnboardingStep::menubarShape, OnboardingStep::permissions, true},
        {false, OnboardingStep::fillWindow, OnboardingStep::allSet, true},
        {true, OnboardingStep::permissions, OnboardingStep::menubarShape, false},
        {true, OnboardingStep::welcome, OnboardingStep::permissions, false},
    };
    for (const auto& c : cases) {
        TourRig rig;
        auto& view = rig.open(c.from, true, c.reduceMotion);
        ASSERT_EQ(pages(view).size(), 1u);
        QPointer<QWidget> before = pages(view).front();
        view.go(c.to);
        const auto now = pages(view);
        EXPECT_EQ(now.size(), c.animated ? 2u : 1u);
        EXPECT_TRUE(std::any_of(now.begin(), now.end(), [&](QWidget* p) { return p != before; }))
            << "each step change makes its page anew";
        EXPECT_EQ(!before.isNull(), c.animated)
            << "the old page slides out, or goes at once: " << int(c.from) << " → " << int(c.to);
        rig.loop.advance(0.2);
        EXPECT_TRUE(before.isNull()) << "the slide lasts 0.18 s";
        ASSERT_EQ(pages(view).size(), 1u);
        EXPECT_EQ(pages(view).front()->pos(), QPoint(0, 0));
    }
}

TEST(OnboardingRootView, NextWaitsForAnX11SessionAndReturnDoesNothingBefore) {
    TourRig rig;
    rig.permissions[Capability::x11Session] = false;
    auto& view = rig.open(OnboardingStep::permissions);
    EXPECT_FALSE(view.canContinue());
    EXPECT_FALSE(button(view, "next").isEnabled());
    pressReturn(view);
    button(view, "next").click();
    EXPECT_EQ(view.step(), OnboardingStep::permissions);
    EXPECT_EQ(rig.runtimeStarts, 0);

    // There now; the page's poll sees it within a second and Next enables itself.
    rig.permissions[Capability::x11Session] = true;
    rig.loop.advance(1.0);
    EXPECT_TRUE(button(view, "next").isEnabled());
    pressReturn(view);
    EXPECT_EQ(view.step(), OnboardingStep::menubarShape);
    EXPECT_EQ(rig.runtimeStarts, 1);
    EXPECT_EQ(rig.storedStep(), 5);
}

TEST(OnboardingRootView, DoneAndOpenSettingsCompleteTheTourEvenInAReplay) {
    for (const bool persists : {true, false}) {
        TourRig rig;
        auto& view = rig.open(OnboardingStep::allSet, persists);
        view.continueTapped();
        EXPECT_EQ(rig.storedStep(), 4);
        EXPECT_EQ(rig.finishes, 1);
        EXPECT_EQ(rig.settingsOpened, 0);

        rig.defaults.seed(onboardingStepKey, PlistValue(3));
        view.finishAndOpenSettings();
        EXPECT_EQ(rig.storedStep(), 4);
        EXPECT_EQ(rig.finishes, 2);
        EXPECT_EQ(rig.settingsOpened, 1);
    }
}

TEST(OnboardingRootView, WelcomeButtonComesInAndPulsesOnlyWhileTheWelcomePageStays) {
    {
        TourRig rig;
        auto& view = rig.open();
        EXPECT_EQ(startButtonLook(view).faceAlpha, 0) << "the button comes in after 0.85 s";
        EXPECT_FALSE(ringShowsWithin(rig, view, 1.35));
        EXPECT_EQ(startButtonLook(view).faceAlpha, 255) << "in by 1.35 s";
        // Three rings from 1.35 s, each 0.9 s; each shows while it grows and fades.
        for (int round = 1; round <= 3; ++round)
            EXPECT_TRUE(ringShowsWithin(rig, view, 0.9)) << "round " << round;
        EXPECT_FALSE(ringShowsWithin(rig, view, 1.0)) << "gone at 4.1 s";
        EXPECT_EQ(rig.loop.pendingTimers(), 0u) << "nothing left running on a page at rest";
    }
    {
        TourRig rig;
        auto& view = rig.open();
        rig.loop.advance(1.0);
        view.advance();
        EXPECT_FALSE(ringShowsWithin(rig, view, 0.5)) << "left before 1.35 s: no pulse";
        view.goBack();
        EXPECT_EQ(startButtonLook(view).faceAlpha, 255) << "coming back replays no entrance";
        EXPECT_FALSE(ringShowsWithin(rig, view, 5)) << "nor the pulse";
    }
    {
        TourRig rig;
        auto& view = rig.open(OnboardingStep::welcome, true, true);
        EXPECT_EQ(startButtonLook(view).faceAlpha, 255) << "reduced motion: in at once";
        EXPECT_FALSE(ringShowsWithin(rig, view, 5)) << "reduced motion: no pulse ring";
        auto* page = test::findWidget<WelcomePage>(&view);
        ASSERT_NE(page, nullptr);
        EXPECT_TRUE(paintsAt(*page, {1.0, 1.0, 1.0, 1.0}));
    }
}

TEST(OnboardingRootView, PendingWelcomeStepsEndWithTheView) {
    TourRig rig;
    rig.open();
    rig.loop.advance(1.4);
    rig.view.reset();
    EXPECT_EQ(rig.loop.pendingTimers(), 0u);
    rig.loop.advance(5);  // under the sanitizer, a step left behind would touch the freed view
}

TEST(OnboardingRootView, WelcomeLinesComeInOneAfterAnother) {
    TourRig rig;
    auto& view = rig.open();
    // Entrances started with the page: the logo at once, the lines 0.25 s later and 0.15 s apart.
    std::array<std::unique_ptr<tour::Entrance>, 4> reference;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        reference[i] = std::make_unique<tour::Entrance>(rig.loop);
        reference[i]->show(true, i == 0 ? 0.0 : 0.25 + 0.15 * double(i - 1));
    }
    const auto progress = [&] {
        return std::array<double, 4>{reference[0]->progress(), reference[1]->progress(),
                                     reference[2]->progress(), reference[3]->progress()};
    };
    auto* page = test::findWidget<WelcomePage>(&view);
    ASSERT_NE(page, nullptr);
    rig.loop.advance(0.3);
    const auto early = progress();
    EXPECT_GT(early[0], 0.5);
    EXPECT_GT(early[1], 0.0);
    EXPECT_LT(early[1], 0.5);
    EXPECT_EQ(early[2], 0.0);
    EXPECT_TRUE(paintsAt(*page, early)) << "the logo well in, the first line coming, the others waiting";
    EXPECT_FALSE(paintsAt(*page, {early[0], 0.0, 0.0, 0.0})) << "the first line shows where it is";
    rig.loop.advance(0.71);
    EXPECT_TRUE(paintsAt(*page, {1.0, 1.0, 1.0, 1.0}));
}

TEST(OnboardingRootView, PermissionsPageHoldsTheModelWhileItShowsAndItsRowsFollowTheSession) {
    TourRig rig;
    rig.permissions[Capability::compositor] = false;
    rig.permissions.heldBack = {Capability::soundServer};
    auto& view = rig.open(OnboardingStep::welcome);
    EXPECT_FALSE(polls(rig));
    view.advance();
    EXPECT_TRUE(polls(rig));
    view.goBack();
    rig.loop.advance(0.2);
    EXPECT_FALSE(polls(rig));

    view.advance();
    auto* page = test::findWidget<PermissionsPage>(&view);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(row(page, QStringLiteral("X11 Session")).state(), TourCard::State::badge);
    EXPECT_EQ(row(page, QStringLiteral("X11 Session")).label(), QStringLiteral("Running"));
    EXPECT_EQ(row(page, QStringLiteral("Sound Server")).state(), TourCard::State::none)
        << "no word before the server answers";

    // Missing: what it costs, and a button to the help page; no quitting and reopening anywhere.
    TourCard& compositor = row(page, QStringLiteral("Compositing Manager"));
    ASSERT_NE(compositor.button(), nullptr);
    EXPECT_EQ(compositor.button()->text(), QStringLiteral("Open Help"));
    EXPECT_EQ(compositor.detail().first(), QStringLiteral("Without one the overlay is opaque"));
    compositor.button()->click();
    EXPECT_EQ(rig.permissions.openedHelp, std::vector<Capability>{Capability::compositor});

    // Started in the session: the poll turns it green; the sound server's late answer lands too.
    rig.permissions[Capability::compositor] = true;
    rig.loop.advance(TourPermissionModel::pollInterval);
    rig.permissions.answerPending();
    EXPECT_EQ(compositor.state(), TourCard::State::badge);
    EXPECT_EQ(compositor.detail().first(), QStringLiteral("Lets the overlay blend into"));
    EXPECT_EQ(row(page, QStringLiteral("Sound Server")).state(), TourCard::State::badge);

    rig.permissions[Capability::mediaPlayer] = false;
    rig.activation.send({});
    EXPECT_EQ(row(page, QStringLiteral("Media Player")).state(), TourCard::State::button);
    EXPECT_TRUE(view.canContinue()) << "only the X11 session holds Next back";
}

}  // namespace
}  // namespace velaro
