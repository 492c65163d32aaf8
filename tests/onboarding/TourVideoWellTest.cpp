// The clip well: cover fit at its anchor, and playback: once at load, at rest on the first frame, looping
// under the pointer, rewound when it leaves; frames come only while it plays. The clips: each rests on a
// frame that shows its feature.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPainter>
#include <functional>
#include <tuple>

#include "onboarding/TourVideoWell.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

TEST(TourVideoWell, CoverFitKeepsTheAnchoredPartInView) {
    struct Case {
        QSizeF natural;
        QPointF anchor;
        QRectF expected;
    };
    const Case cases[] = {
        {{1920, 1080}, {0.5, 0.5}, {-66.6667, 0, 533.3333, 300}},
        {{1920, 1080}, {0, 0}, {0, 0, 533.3333, 300}},
        {{1920, 1080}, {1, 1}, {-133.3333, 0, 533.3333, 300}},
        {{1080, 1920}, {0.5, 0}, {0, 0, 400, 711.1111}},
        {{1080, 1920}, {0.5, 1}, {0, -411.1111, 400, 711.1111}},
        {{0, 0}, {0.5, 0.5}, {0, 0, 400, 300}},
    };
    for (const auto& c : cases) {
        const QRectF frame = coverFrame(c.natural, {400, 300}, c.anchor);
        EXPECT_NEAR(frame.x(), c.expected.x(), 0.01);
        EXPECT_NEAR(frame.y(), c.expected.y(), 0.01);
        EXPECT_NEAR(frame.width(), c.expected.width(), 0.01);
        EXPECT_NEAR(frame.height(), c.expected.height(), 0.01);
    }
}

// A two-second clip that counts the frames it is asked for and keeps where the last one was put.
class CountingClip final : public TourClip {
public:
    CountingClip(QSizeF size, int* frames, QTransform* placed)
        : size_(size), frames_(frames), placed_(placed) {}
    QSizeF naturalSize() const override { return size_; }
    double duration() const override { return 2.0; }
    void paint(QPainter& painter, double) const override {
        ++*frames_;
        *placed_ = painter.worldTransform();
    }

private:
    QSizeF size_;
    int* frames_;
    QTransform* placed_;
};

struct WellRig {
    test::VirtualLoop loop;
    int frames = 0;
    QTransform placed;
    int finds = 0;
    bool windowActive = true;
    QSizeF clipSize{1280, 900};
    TourVideoWell well{loop, nullptr, [this](std::string_view name) -> std::unique_ptr<TourClip> {
                           ++finds;
                           if (name == "missing") return nullptr;
                           return std::make_unique<CountingClip>(clipSize, &frames, &placed);
                       }};
    // Playback's ticker is the well's only timer.
    bool playing() const { return loop.pendingTimers() > 0; }
    // Paints the well as the window would; returns how many frames of the clip that drew.
    int render() {
        QImage image(281, 207, QImage::Format_ARGB32_Premultiplied);
        const int before = frames;
        well.render(&image);
        return frames - before;
    }
    // Lets the toolkit deliver what the well on screen has pending (an expose, the updates it asked for);
    // returns how many frames of the clip that painted.
    int paintsPending() {
        const int before = frames;
        for (int pass = 0; pass < 3; ++pass) QCoreApplication::processEvents();
        return frames - before;
    }
    WellRig() {
        well.resize(281, 207);
        well.setWindowActiveQuery([this] { return windowActive; });
    }
};

TEST(TourVideoWell, PlaysOnceRestsLoopsWhileHoveredAndRewindsOnLeave) {
    WellRig rig;
    rig.well.load("tour-pill");
    EXPECT_TRUE(rig.playing()) << "a loaded clip plays through once";
    rig.loop.advance(1.0);
    EXPECT_NEAR(rig.well.position(), 1.0, 0.05);
    rig.loop.advance(1.1);
    EXPECT_FALSE(rig.playing());
    EXPECT_EQ(rig.well.position(), 0.0) << "then it rests on its first frame";
    EXPECT_EQ(rig.loop.pendingTimers(), 0u) << "no timer runs at rest";

    rig.well.pointerEntered();
    rig.loop.advance(2.5);
    EXPECT_TRUE(rig.playing()) << "it loops while the pointer is over it";
    EXPECT_NEAR(rig.well.position(), 0.5, 0.05);
    rig.well.pointerLeft();
    EXPECT_FALSE(rig.playing());
    EXPECT_EQ(rig.well.position(), 0.0);
    rig.well.pointerEntered();
    EXPECT_NEAR(rig.well.position(), 0.0, 0.001) << "a new hover plays from the start";
}

TEST(TourVideoWell, AnInactiveWindowNeitherPlaysNorKeepsPlaying) {
    WellRig rig;
    rig.well.load("tour-pill");
    rig.loop.advance(2.1);
    rig.windowActive = false;
    rig.well.pointerEntered();
    EXPECT_FALSE(rig.playing());
    rig.windowActive = true;
    rig.well.pointerEntered();
    EXPECT_TRUE(rig.playing());
    rig.windowActive = false;
    rig.well.windowActivationChanged();
    EXPECT_FALSE(rig.playing()) << "going to the back counts as leaving";
    EXPECT_EQ(rig.well.position(), 0.0);

    // No longer hovered: a clip loaded once the window is in front again plays once and rests.
    rig.windowActive = true;
    rig.well.windowActivationChanged();
    rig.well.load("tour-fullbar");
    rig.loop.advance(2.1);
    EXPECT_FALSE(rig.playing()) << "a hovered well would loop";
}

TEST(TourVideoWell, SameNameDoesNoWorkAndUnknownNamesStayEmpty) {
    WellRig rig;
    rig.well.load("tour-pill");
    rig.loop.advance(0.5);
    // On screen, a well paints the clip again only when something asks it to.
    rig.well.show();
    rig.paintsPending();
    rig.well.load("tour-pill");
    rig.well.setAnchor({0.5, 0.5});
    EXPECT_EQ(rig.paintsPending(), 0) << "nothing laid out or painted anew";
    EXPECT_EQ(rig.finds, 1);
    EXPECT_NEAR(rig.well.position(), 0.5, 0.05) << "not restarted";
    rig.well.setAnchor({0, 0});
    EXPECT_GT(rig.paintsPending(), 0) << "another anchor is laid out and painted";
    rig.well.hide();

    rig.well.load("missing");
    EXPECT_EQ(rig.render(), 0) << "an empty well paints no clip";
    EXPECT_FALSE(rig.playing());
    rig.well.pointerEntered();
    EXPECT_FALSE(rig.playing()) << "hovering an empty well does nothing";
    EXPECT_EQ(rig.loop.pendingTimers(), 0u);
}

TEST(TourVideoWell, FramesArePaintedFromTheClipAtItsCoverFrame) {
    WellRig rig;
    rig.clipSize = {0, 0};
    rig.well.load("tour-pill");
    EXPECT_EQ(rig.render(), 1) << "a clip of no size is stretched to the well, not left out";
    EXPECT_EQ(rig.placed.map(QPointF(0, 0)), QPointF(0, 0));

    // A clip twice the well's size is painted at half its scale, from the frame's corner.
    WellRig wide;
    wide.clipSize = {562, 414};
    wide.well.load("tour-pill");
    ASSERT_EQ(wide.render(), 1);
    EXPECT_EQ(wide.placed.map(QPointF(562, 414)), QPointF(281, 207));
}

TEST(TourClips, EveryNamedClipDrawsInItsNaturalSize) {
    for (const auto name : tourClipNames) {
        const auto clip = findTourClip(name);
        ASSERT_NE(clip, nullptr) << name;
        EXPECT_GT(clip->duration(), 1.0);
        const QSizeF size = clip->naturalSize();
        QImage image(size.toSize() / 4, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.scale(0.25, 0.25);
        clip->paint(painter, clip->duration() / 2);
        painter.end();
        EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() * 3 / 4).alpha(), 255) << name;
    }
    EXPECT_EQ(findTourClip("tour-unknown"), nullptr);
}

TEST(TourClips, EveryClipRestsOnAFrameThatShowsItsFeatureAndEndsWhereItBegan) {
    const auto ember = [](QColor c) { return c.red() > 150 && c.green() < 110 && c.blue() < 80; };
    const auto orange = [](QColor c) { return c.red() > 200 && c.green() > 60 && c.blue() < 130; };
    const auto black = [](QColor c) { return c.lightness() < 10; };
    const auto bright = [](QColor c) { return c.lightness() > 90; };  // the bar is dark but for the beam
    const QPoint barGap(660, 22);
    // Where each clip's first frame shows its feature: the band in the window's colour, the band cut to a
    // pill around the tray and clock at the right end (the rest of the panel shows the wallpaper), a round
    // lower corner, the beam by the pointer,
    // a bar hanging from the top, the progress line, the window filling the screen.
    const std::vector<std::tuple<std::string_view, QPoint, std::function<bool(QColor)>>> probes{
        {"tour-fullbar", barGap, ember},
        {"tour-pill", {1262, 22}, ember},
        {"tour-pill", {18, 22}, std::not_fn(ember)},
        {"tour-pill", barGap, std::not_fn(ember)},
        {"tour-cornerrounding", {2, 996}, black},
        {"tour-lightreflections", {600, 10}, bright},
        {"tour-lightreflections", {150, 10}, std::not_fn(bright)},
        {"tour-visualizer", {23, 6}, orange},
        {"tour-progressbar", {200, 2}, orange},
        {"tour-fillwindow", {640, 860}, ember},
    };
    for (const auto& [name, point, shows] : probes) {
        const auto clip = findTourClip(name);
        const auto frame = [&](double t) {
            QImage image(clip->naturalSize().toSize(), QImage::Format_ARGB32_Premultiplied);
            QPainter painter(&image);
            clip->paint(painter, t);
            return image;
        };
        const QImage rest = frame(0);
        EXPECT_TRUE(shows(rest.pixelColor(point))) << name << " at " << point.x() << "," << point.y();
        if (name != "tour-visualizer") {
            EXPECT_EQ(rest, frame(clip->duration())) << name << " loops without a jump";
        }
    }
}

}  // namespace
}  // namespace velaro
