// The overlay controller on the test desktop, fed by the real sampler: over a maximised window of one colour
// from another program the band over the panel takes that colour, and on the empty desktop it goes away.
// A small driver stands in for the shell's visibility rule: show while a window fills the top, else hide.
#include <QGuiApplication>
#include <QScreen>
#include <chrono>
#include <memory>
#include <optional>

#include "DesktopSampler.h"
#include "E2eSupport.h"
#include "ForeignWindow.h"
#include "overlay/MenuBarOverlayController.h"
#include "overlay/UnifiedOverlayWindow.h"
#include "platform/linux/QtOverlayWindowHost.h"
#include "settings/OverlaySettings.h"

namespace velaro::e2e {
namespace {

constexpr int kPanelHeight = 28;
const QColor kWindowColour(0x3c, 0xb4, 0x50);

class OverlayControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        ASSERT_TRUE(desktop.start());
        host = std::make_unique<QtOverlayWindowHost>(*desktop.loop, desktop.session.session.get());
        settings = std::make_unique<OverlaySettings>(store, *desktop.loop);
        settings->style = MenuBarStyle::solid;
        settings->autoSample = true;
        settings->strokeEnabled = false;
        settings->manualSeparateCorners = true;
        desktop.sampler->enable();
        const OverlayControllerServices services{*desktop.loop, *host, *desktop.screens, *desktop.workspace};
        controller = std::make_unique<MenuBarOverlayController>(
            *desktop.sampler, *settings, nullptr, services,
            unifiedOverlayMode(*desktop.sampler, *settings, services));
        driver =
            desktop.sampler->isFilledWindowActive.stream().receiveOn(*desktop.loop).sink([this](const bool&) {
                if (desktop.sampler->isFilledWindowActive()) {
                    if (!controller->isVisible()) shownAt = std::chrono::steady_clock::now();
                    controller->show(false);
                } else {
                    controller->hide(false);
                }
            });
        // When the sampler first has the window's colour: from then on the band's part is to show it.
        sampled = desktop.sampler->dominantColor.stream().receiveOn(*desktop.loop).sink([this](const Color&) {
            const Color c = desktop.sampler->dominantColor();
            if (!sampledAt && closeTo(QColor::fromRgbF(c.red, c.green, c.blue), kWindowColour, 3))
                sampledAt = std::chrono::steady_clock::now();
        });
        panelPoint = QPoint(QGuiApplication::primaryScreen()->geometry().width() / 3, kPanelHeight / 2);
    }
    void TearDown() override {
        driver.cancel();
        sampled.cancel();
        controller.reset();
        settings.reset();
        host.reset();
        desktop.sampler.reset();
        waitUntil([] { return false; }, std::chrono::milliseconds(200));
    }

    bool bandShows(const QImage& shot) const {
        return closeTo(shot.pixelColor(panelPoint), kWindowColour, 8);
    }
    // Maximises again now and then: the window manager may map the window before it reads the request.
    bool waitUntilFilled(ForeignWindow& window) {
        return askUntil([&] { setMaximised(window.window(), true); }, [&] { return controller->isVisible(); },
                        std::chrono::seconds(15));
    }

    DesktopSampler desktop;
    test::FakeDefaultsStore store;
    std::unique_ptr<QtOverlayWindowHost> host;
    std::unique_ptr<OverlaySettings> settings;
    std::unique_ptr<MenuBarOverlayController> controller;
    Subscription driver, sampled;
    std::chrono::steady_clock::time_point shownAt;
    std::optional<std::chrono::steady_clock::time_point> sampledAt;
    QPoint panelPoint;
};

TEST_F(OverlayControllerTest, BandOverThePanelTakesTheFilledWindowsColourAndLeavesWithIt) {
    ASSERT_NE(controller->windowsOf(desktop.screens->screens().front().id), nullptr);
    {
        ForeignWindow window({.rgb = kWindowColour.rgb() & 0xffffff, .maximised = true});
        ASSERT_NE(window.window(), 0u);
        ASSERT_TRUE(waitUntilFilled(window)) << "the sampler never saw the window fill the top";

        // Timed by reading the one pixel, then confirmed on a whole screenshot.
        waitUntil([&] { return closeTo(screenPixel(panelPoint), kWindowColour, 8); }, std::chrono::seconds(3));
        ASSERT_TRUE(sampledAt) << "the sampler never published the window's colour";
        const auto took = std::chrono::steady_clock::now() - std::max(shownAt, *sampledAt);
        const QImage shot =
            screenshotWhen([&](const QImage& image) { return bandShows(image); }, std::chrono::seconds(3));
        ASSERT_TRUE(bandShows(shot)) << "the panel shows "
                                     << shot.pixelColor(panelPoint).name().toStdString();
        EXPECT_LE(took, std::chrono::seconds(1)) << "the band took its colour too slowly";
        const auto* screen = controller->windowsOf(desktop.screens->screens().front().id);
        ASSERT_TRUE(screen && screen->band);
        EXPECT_DOUBLE_EQ(screen->band->window().frame().height(), kPanelHeight + 4)
            << "panel plus seam cover";
    }
    // The window is gone: the desktop is empty, the overlay hides and the panel no longer shows the colour.
    ASSERT_TRUE(waitUntil([&] { return !controller->isVisible(); }, std::chrono::seconds(5)));
    const QImage shot =
        screenshotWhen([&](const QImage& image) { return !bandShows(image); }, std::chrono::seconds(3));
    EXPECT_FALSE(bandShows(shot));
    EXPECT_TRUE(waitUntil([&] {
        const auto* screen = controller->windowsOf(desktop.screens->screens().front().id);
        return screen && screen->band && !screen->band->window().isVisible();
    }));
}

}  // namespace
}  // namespace velaro::e2e
