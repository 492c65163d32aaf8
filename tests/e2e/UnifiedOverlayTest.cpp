// The unified overlay window on the test desktop: in the pill shape, measured from the tray's real icon
// windows, a capsule of the sampled colour lies behind the tray and the clock while the rest of the panel
// stays untinted; a Rise reveal, caught in a quick sequence of grabs, grows from the bottom of the band.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <memory>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TestSession.h"
#include "overlay/HueDriftClock.h"
#include "overlay/MenuShapeGeometry.h"
#include "overlay/UnifiedOverlayWindow.h"
#include "platform/linux/QtOverlayWindowHost.h"
#include "platform/linux/X11MenuBarItems.h"
#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"

namespace velaro::e2e {
namespace {

constexpr int kPanelHeight = 28;
constexpr int kEarRadius = 20;
const QColor kTint(0x78, 0x14, 0x5a);

Color fromQt(const QColor& c) {
    return Color::rgb(c.redF(), c.greenF(), c.blueF());
}

// The top strip of the primary screen as it is on screen now: a quick server-side grab.
QImage grabStrip(int height) {
    auto* screen = QGuiApplication::primaryScreen();
    return screen->grabWindow(0, 0, 0, screen->geometry().width(), height)
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

class UnifiedOverlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        loop = std::make_unique<QtMainLoop>();
        session = std::make_unique<TestSession>();
        ASSERT_TRUE(*session);
        host = std::make_unique<QtOverlayWindowHost>(*loop, session->session.get());
        settings = std::make_unique<OverlaySettings>(store, *loop);
        settings->style = MenuBarStyle::solid;
        settings->autoSample = true;
        settings->strokeEnabled = false;
        auto corners = settings->corners();
        corners.topLinked = true;
        corners.topRadius = kEarRadius;
        settings->corners = corners;
        clock = std::make_unique<HueDriftClock>(*settings, *loop);
        dominant = fromQt(kTint);
        corner = fromQt(kTint);
        const QRect geometry = QGuiApplication::primaryScreen()->geometry();
        screen.id = "primary";
        screen.frame = Rect(0, 0, geometry.width(), geometry.height());
        screen.visibleFrame = Rect(0, 0, geometry.width(), geometry.height() - kPanelHeight);
    }
    void TearDown() override {
        window.reset();
        tray.reset();
        clock.reset();
        settings.reset();
        host.reset();
        session.reset();
        loop.reset();
    }
    std::unique_ptr<TestSession> session;

    OverlayFeed feed() const {
        OverlayFeed f;
        f.sampler.dominantColor = &dominant;
        f.sampler.liveLeftCornerColor = &corner;
        f.sampler.liveRightCornerColor = &corner;
        return f;
    }

    void makeWindow() {
        const double h = kPanelHeight + kEarRadius;
        window = std::make_unique<UnifiedOverlayWindow>(
            *host, *loop, *settings, feed(), *clock,
            Rect(0, screen.frame.height() - h, screen.frame.width(), h), OverlayWindowLevel::belowPanel,
            UnifiedScreenMetrics{screen.id, [] { return double(kPanelHeight); },
                                 [] { return double(kPanelHeight); }});
        window->window().orderFrontRegardless();
    }

    void dockTrayIcon() {
        QPixmap pixmap(22, 22);
        pixmap.fill(QColor(0x20, 0xc0, 0x40));
        tray = std::make_unique<QSystemTrayIcon>(QIcon(pixmap));
        tray->show();
    }

    test::FakeDefaultsStore store;
    std::unique_ptr<QtMainLoop> loop;
    std::unique_ptr<QtOverlayWindowHost> host;
    std::unique_ptr<OverlaySettings> settings;
    std::unique_ptr<HueDriftClock> clock;
    Published<Color> dominant{Color::black()};
    Published<Color> corner{Color::black()};
    ScreenInfo screen;
    std::unique_ptr<QSystemTrayIcon> tray;
    std::unique_ptr<UnifiedOverlayWindow> window;
};

TEST_F(UnifiedOverlayTest, PillShapeTintsACapsuleBehindTheTrayAndClockOnly) {
    dockTrayIcon();
    auto items = std::make_unique<X11MenuBarItems>(**session, *loop);
    ASSERT_TRUE(waitUntil([&] { return !items->readTrays().empty(); })) << "the tray icon never docked";

    auto corners = settings->corners();
    corners.shapeMode = ShapeMode::pill;
    corners.pillFillOpacity = 0;
    corners.pillStrokeWidth = 0;
    settings->corners = corners;
    MenuShapeGeometry geometry(
        [this] { return std::vector<ScreenInfo>{screen}; }, *items, *loop,
        [this] { return settings->corners(); },
        [this](PillGeometryByScreen map) { settings->pillGeometryByScreen = std::move(map); });
    // The trays' first reading is made off the main loop and told when it is in.
    const auto& measured = settings->pillGeometryByScreen();
    ASSERT_TRUE(waitUntil([&] {
        geometry.computePillGeometries();
        return measured.count(screen.id) && measured.at(screen.id).right;
    })) << "the tray's icons were not found";
    const auto pills = measured.at(screen.id);
    EXPECT_FALSE(pills.left) << "no global menu on this desktop";
    ASSERT_TRUE(pills.right) << "the tray's icons were not found";
    const PillSpan right = *pills.right;
    EXPECT_GT(right.minX, screen.frame.width() / 2) << "the tray and clock sit at the panel's right end";
    EXPECT_GT(right.maxX - right.minX, 50) << "the pill reaches over the clock";

    makeWindow();
    window->presenter()->revealInstant = true;
    window->presenter()->shown = true;
    const int mid = kPanelHeight / 2;
    const QPoint inPill(int(right.minX) + 4, mid);
    QImage shot;
    ASSERT_TRUE(waitUntil([&] {
        shot = grabStrip(kPanelHeight + kEarRadius);
        return closeTo(shot.pixelColor(inPill), kTint, 8);
    })) << "the pill never showed the sampled colour";

    int tinted = 0, total = 0;
    for (int x = int(right.minX) + 10; x < int(right.maxX) - 10; ++x, ++total)
        if (closeTo(shot.pixelColor(x, 8), kTint, 8)) ++tinted;
    EXPECT_GT(tinted, total / 3) << "the capsule's upper part lies behind the tray and clock";
    EXPECT_FALSE(closeTo(shot.pixelColor(int(right.minX) + 1, 7), kTint, 30))
        << "the capsule's corner is rounded";
    EXPECT_FALSE(closeTo(shot.pixelColor(int(right.minX) + 4, 2), kTint, 30)) << "above the capsule";
    EXPECT_FALSE(closeTo(shot.pixelColor(int(screen.frame.width() / 3), mid), kTint, 30))
        << "the rest of the panel is untinted";
    EXPECT_FALSE(closeTo(shot.pixelColor(1, kPanelHeight + 1), kTint, 30)) << "the ears are cut away";
}

TEST_F(UnifiedOverlayTest, RiseRevealGrowsFromTheBottomOfTheBand) {
    settings->animationKind = OverlayAnimationKind::rise;
    makeWindow();
    ASSERT_TRUE(waitUntil([&] { return !closeTo(grabStrip(kPanelHeight).pixelColor(960, 2), kTint, 8); }));

    const int x = int(screen.frame.width() / 3);
    window->presenter()->shown = true;
    struct Frame {
        bool top, bottom;
    };
    std::vector<Frame> frames;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 900) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const QImage strip = grabStrip(kPanelHeight);
        frames.push_back({closeTo(strip.pixelColor(x, 2), kTint, 8),
                          closeTo(strip.pixelColor(x, kPanelHeight - 3), kTint, 8)});
    }
    ASSERT_GE(frames.size(), 4u) << "too few grabs to follow the reveal";
    bool bottomFirst = false;
    for (const auto& f : frames) {
        EXPECT_FALSE(f.top && !f.bottom) << "the band's top showed before its bottom";
        if (f.bottom && !f.top) bottomFirst = true;
    }
    EXPECT_TRUE(bottomFirst) << "no grab caught the band part-way up (" << frames.size() << " grabs)";
    EXPECT_TRUE(frames.back().top && frames.back().bottom) << "the reveal did not complete";
}

}  // namespace
}  // namespace velaro::e2e
