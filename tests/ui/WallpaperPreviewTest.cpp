// The wallpaper preview over a fake snapshot and the virtual loop: no timer, one change watch and one
// desktop-switch watch however often it starts, only the newest load counts, unchanged pictures publish
// nothing, what the digest tells apart, and the canvas's shape, fill, stand-in and cached copy.
#include <gtest/gtest.h>

#include <QPainter>

#include "support/AllocationCounter.h"
#include "support/FakeScreens.h"
#include "support/FakeWallpaperSnapshot.h"
#include "support/FakeWorkspace.h"
#include "support/VirtualLoop.h"
#include "ui/settings/rings/WallpaperPreview.h"

namespace velaro {
namespace {

using test::solidPicture;

class WallpaperPreviewTest : public ::testing::Test {
protected:
    WallpaperPreviewTest() {
        watch = model->image.changes().sink([this](const std::optional<QImage>& image) {
            published.push_back(image ? image->pixelColor(0, 0) : QColor());
        });
    }
    void switchDesktop() { workspace.send(WorkspaceEvent::Kind::activeSpaceDidChange); }
    void newWallpaper() {
        snapshot.sendChange();
        loop.runUntilIdle();
    }
    QColor shown() const { return model->image() ? model->image()->pixelColor(0, 0) : QColor(); }

    test::VirtualLoop loop;
    test::FakeWallpaperSnapshot snapshot;
    test::FakeWorkspace workspace;
    std::unique_ptr<WallpaperPreviewModel> model =
        std::make_unique<WallpaperPreviewModel>(loop, &snapshot, &workspace);
    std::vector<QColor> published;  // invalid: no picture
    Subscription watch;
};

TEST_F(WallpaperPreviewTest, StartingTwiceMakesOneWatchOfEachAndOneLoadAndNoTimer) {
    model->start();
    model->start();
    EXPECT_TRUE(model->isStarted());
    EXPECT_EQ(loop.pendingTimers(), 0u) << "a preview of an unchanged wallpaper wakes nobody";
    ASSERT_EQ(snapshot.requests.size(), 1u);
    EXPECT_EQ(snapshot.requests[0].maxPixelSize, 920);
    EXPECT_FALSE(snapshot.requests[0].nativeScale) << "fit: never enlarged";

    switchDesktop();
    EXPECT_EQ(snapshot.requests.size(), 2u) << "one watch: one load per desktop switch";
    workspace.send(WorkspaceEvent::Kind::didActivateApplication);
    EXPECT_EQ(snapshot.requests.size(), 2u) << "only desktop switches reload";

    loop.advance(60);
    EXPECT_EQ(snapshot.requests.size(), 2u) << "time alone loads nothing";
    // Both properties a setter names its picture in, told in one turn: one load, on the next turn.
    snapshot.sendChange();
    snapshot.sendChange();
    EXPECT_EQ(snapshot.requests.size(), 2u);
    loop.runUntilIdle();
    EXPECT_EQ(snapshot.requests.size(), 3u) << "one watch: one load per turn of change notices";
    newWallpaper();
    EXPECT_EQ(snapshot.requests.size(), 4u);
}

TEST_F(WallpaperPreviewTest, OnlyTheNewestLoadIsApplied) {
    const QColor red(255, 0, 0), green(0, 255, 0), blue(0, 0, 255);
    // Stop then start at once: the stopped load arrives and is dropped; the fresh one applies.
    model->start();
    model->stop();
    model->start();
    ASSERT_EQ(snapshot.requests.size(), 2u);
    snapshot.answer(0, solidPicture(red));
    EXPECT_TRUE(published.empty()) << "the load of the stopped run was applied";
    snapshot.answer(1, solidPicture(blue));
    EXPECT_EQ(shown(), blue);

    // Two desktop switches: the first load finishes last and is dropped.
    switchDesktop();
    switchDesktop();
    ASSERT_EQ(snapshot.requests.size(), 4u);
    snapshot.answer(3, solidPicture(green));
    snapshot.answer(2, solidPicture(red));
    EXPECT_EQ(shown(), green);
    EXPECT_EQ(published, (std::vector<QColor>{blue, green}));
}

TEST_F(WallpaperPreviewTest, UnchangedPicturesPublishNothingAndMissingOnesShowTheStandIn) {
    const QColor red(255, 0, 0), green(0, 255, 0);
    QImage unreadable(920, 575, QImage::Format_RGB888);  // no 4-byte pixels: no digest
    unreadable.fill(red);
    const struct {
        const char* what;
        std::optional<QImage> picture;
        std::vector<QColor> publishedAfter;
    } steps[] = {
        {"first picture", solidPicture(red), {red}},
        {"same pixels again", solidPicture(red), {red}},
        {"red to green (same blue channel)", solidPicture(green), {red, green}},
        {"no wallpaper", std::nullopt, {red, green, QColor()}},
        {"still none: nothing more", std::nullopt, {red, green, QColor()}},
        {"a picture again", solidPicture(green), {red, green, QColor(), green}},
        {"no digest: published", unreadable, {red, green, QColor(), green, red}},
        {"no digest again: published again", unreadable, {red, green, QColor(), green, red, red}},
        {"the digest was cleared: the earlier picture publishes", solidPicture(green),
         {red, green, QColor(), green, red, red, green}},
    };
    model->start();
    for (const auto& step : steps) {
        snapshot.answerLast(step.picture);
        EXPECT_EQ(published, step.publishedAfter) << step.what;
        newWallpaper();
    }
}

TEST_F(WallpaperPreviewTest, StoppingKeepsThePictureAndEndsEverything) {
    model->start();
    snapshot.answerLast(solidPicture(Qt::red));
    switchDesktop();
    model->stop();
    EXPECT_FALSE(model->isStarted());
    EXPECT_EQ(loop.pendingTimers(), 0u);
    snapshot.answerLast(solidPicture(Qt::green));
    EXPECT_EQ(shown(), QColor(Qt::red)) << "a load answered after the stop was applied";
    switchDesktop();
    newWallpaper();
    EXPECT_EQ(snapshot.requests.size(), 2u) << "the stopped model still loads";

    // A notice told just before the stop finds the model stopped when its turn comes.
    model->start();
    snapshot.sendChange();
    model->stop();
    loop.runUntilIdle();
    EXPECT_EQ(snapshot.requests.size(), 3u) << "only the start's own load";

    // Starting again loads at once; the old picture shows until the new one lands.
    model->start();
    EXPECT_EQ(snapshot.requests.size(), 4u);
    EXPECT_EQ(shown(), QColor(Qt::red));

    // Gone with a load on its way: the answer finds nothing, and no timer is left.
    model.reset();
    EXPECT_EQ(loop.pendingTimers(), 0u);
    snapshot.answerLast(solidPicture(Qt::blue));
    switchDesktop();
    newWallpaper();
    EXPECT_EQ(snapshot.requests.size(), 4u);
}

TEST_F(WallpaperPreviewTest, WithoutAPictureSourceTheStandInShows) {
    WallpaperPreviewModel alone(loop, nullptr, nullptr);
    int changes = 0;
    const auto counting = alone.image.changes().sink([&](const auto&) { ++changes; });
    alone.start();
    loop.runUntilIdle();
    EXPECT_FALSE(alone.image());
    EXPECT_EQ(changes, 0) << "no picture replaced no picture";
}

TEST(WallpaperDigest, TellsPicturesApartByEveryChannelAndTheirSize) {
    const QImage red = solidPicture(QColor(255, 0, 0));
    QImage oneDot = red;
    oneDot.setPixelColor(16, 0, QColor(254, 0, 0));  // a sampled pixel
    QImage unsampled = red;
    unsampled.setPixelColor(1, 0, QColor(0, 0, 255));  // between two sampled pixels
    const struct {
        const char* what;
        QImage a, b;
        bool same;
    } cases[] = {
        {"equal pixels", red, solidPicture(QColor(255, 0, 0)), true},
        {"red and green share their blue bytes", red, solidPicture(QColor(0, 255, 0)), false},
        {"red and blue", red, solidPicture(QColor(0, 0, 255)), false},
        {"opaque and half transparent", red, solidPicture(QColor(255, 0, 0, 128)), false},
        {"one sampled pixel differs", red, oneDot, false},
        {"a pixel between the samples", red, unsampled, true},
        {"same bytes, other shape", solidPicture(Qt::red, 32, 2), solidPicture(Qt::red, 2, 32), false},
    };
    for (const auto& c : cases) {
        const auto a = wallpaperDigest(c.a), b = wallpaperDigest(c.b);
        ASSERT_TRUE(a && b) << c.what;
        EXPECT_EQ(*a == *b, c.same) << c.what;
    }
    EXPECT_FALSE(wallpaperDigest(QImage()));
    EXPECT_FALSE(wallpaperDigest(QImage(8, 8, QImage::Format_Grayscale8)));
}

// ---- canvas ----

TEST(WallpaperCanvasShape, FollowsTheMainScreenElseOnePointSix) {
    test::FakeScreens screens;
    const struct {
        const char* what;
        std::vector<ScreenInfo> list;
        int main;
        double aspect;
    } cases[] = {
        {"1440 × 900", {test::FakeScreens::make("A", Rect{0, 0, 1440, 900}, 24)}, 0, 1.6},
        {"3024 × 1964", {test::FakeScreens::make("A", Rect{0, 0, 3024, 1964}, 24)}, 0, 3024.0 / 1964.0},
        {"the main one of two",
         {test::FakeScreens::make("A", Rect{0, 0, 1440, 900}, 24),
          test::FakeScreens::make("B", Rect{1440, 0, 1000, 1000}, 24)},
         1,
         1.0},
        {"no main screen", {test::FakeScreens::make("A", Rect{0, 0, 1000, 1000}, 24)}, -1, 1.6},
        {"no height", {test::FakeScreens::make("A", Rect{0, 0, 1000, 0}, 0)}, 0, 1.6},
        {"no width", {test::FakeScreens::make("A", Rect{0, 0, 0, 900}, 24)}, 0, 1.6},
    };
    EXPECT_EQ(mainScreenAspect(nullptr), 1.6);
    for (const auto& c : cases) {
        screens.setScreens(c.list, c.main);
        EXPECT_DOUBLE_EQ(mainScreenAspect(&screens), c.aspect) << c.what;
    }

    // The canvas takes the new shape when the screens change.
    screens.setScreens({test::FakeScreens::make("A", Rect{0, 0, 1440, 900}, 24)});
    WallpaperCanvas canvas(&screens);
    EXPECT_EQ(canvas.heightForWidth(460), 288);
    screens.setScreens({test::FakeScreens::make("A", Rect{0, 0, 1000, 1000}, 24)});
    screens.sendParametersChanged();
    EXPECT_EQ(canvas.heightForWidth(460), 460);
}

QImage rendered(QSize points, const std::optional<QImage>& picture, qreal ratio = 1) {
    QImage target(points * ratio, QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(ratio);
    WallpaperCanvas::render(target, picture, QColor(0, 0, 0, 25));
    return target;
}

TEST(WallpaperCanvasDrawing, FillsTheRoundedShapeWithoutStretchingElseShowsTheDottedStandIn) {
    // A 2:1 picture in a 1.6:1 canvas: scaled to the canvas's height, its sides cut off evenly.
    QImage picture = solidPicture(Qt::red, 200, 100);
    QPainter(&picture).fillRect(0, 0, 30, 100, Qt::blue);      // cut off on the left
    QPainter(&picture).fillRect(20, 0, 30, 100, Qt::green);    // the canvas's left 30 points
    QPainter(&picture).fillRect(150, 0, 50, 100, Qt::yellow);  // the last 30 of 50 show on the right
    const QImage filled = rendered(QSize(160, 100), picture);
    const struct {
        QPoint at;
        QColor colour;
    } pixels[] = {{{15, 50}, Qt::green}, {{80, 50}, Qt::red}, {{150, 50}, Qt::yellow}};
    for (const auto& p : pixels) EXPECT_EQ(filled.pixelColor(p.at), p.colour) << p.at.x();
    EXPECT_EQ(filled.pixelColor(0, 0).alpha(), 0) << "the corner is not rounded";
    EXPECT_EQ(filled.pixelColor(159, 99).alpha(), 0) << "the corner is not rounded";

    // The stand-in: lighter at the top, a faint dot every 18 points from 9, none on a small canvas.
    const QImage standIn = rendered(QSize(160, 100), std::nullopt, 2);
    const auto grey = [&](int x, int y) { return standIn.pixelColor(x, y).red(); };
    EXPECT_NEAR(grey(60, 4), 0.16 * 255, 2);
    EXPECT_NEAR(grey(60, 195), 0.09 * 255, 2);
    EXPECT_GT(grey(18, 18), grey(36, 18) + 8) << "no dot at (9, 9)";
    EXPECT_GT(grey(54, 90), grey(46, 90) + 8) << "no dot at (27, 45)";
    for (const QSize small : {QSize(9, 60), QSize(60, 9)}) {
        const QImage none = rendered(small, std::nullopt, 2);
        for (int x = 4; x < none.width() - 4; ++x)
            EXPECT_EQ(none.pixelColor(x, none.height() / 2), none.pixelColor(4, none.height() / 2))
                << "a dot on a " << small.width() << " × " << small.height() << " canvas";
    }
}

TEST(WallpaperCanvasDrawing, DrawsAfreshOnlyForANewPictureOrSize) {
    if (!test::canCountAllocations()) GTEST_SKIP() << "this build cannot count allocations";
    WallpaperCanvas canvas(nullptr);
    canvas.resize(200, 125);
    // A repaint from the cached copy allocates less than one that draws the copy afresh first (its image,
    // the painter on it, the picture's scaled pixels).
    const auto allocationsOfARepaint = [&] {
        test::AllocationCounter counter;
        (void)canvas.grab();
        return counter.count();
    };
    const long first = allocationsOfARepaint();
    const long cached = allocationsOfARepaint();
    EXPECT_LT(cached, first);
    EXPECT_LE(allocationsOfARepaint(), cached) << "repaints keep drawing from the copy";
    canvas.setImage(solidPicture(Qt::red));
    EXPECT_GT(allocationsOfARepaint(), cached) << "a new picture is drawn afresh";
    EXPECT_LE(allocationsOfARepaint(), cached);
    EXPECT_EQ(canvas.grab().toImage().pixelColor(100, 60), QColor(Qt::red));
    canvas.resize(240, 150);
    EXPECT_GT(allocationsOfARepaint(), cached) << "a new size is drawn afresh";
    EXPECT_LE(allocationsOfARepaint(), cached);
    canvas.setImage(QImage());  // a null picture is no picture
    EXPECT_FALSE(canvas.image());
}

}  // namespace
}  // namespace velaro
