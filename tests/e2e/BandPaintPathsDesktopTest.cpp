// The band windows on the test desktop show what a plain full paint of their views shows, through the own
// window store's puts and the X server's copies of repeated rows, from one case of the band's settings to
// the next, at the desktop's pixel ratio (CTest runs this again at a ratio of two).
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>
#include <QScreen>
#include <cstring>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TestSession.h"
#include "overlay/BandPaintCases.h"
#include "platform/linux/QtOverlayWindowHost.h"
#include "platform/linux/XcbUtil.h"

namespace velaro::e2e {
namespace {

// The window's own pixels as the server holds them, premultiplied ARGB: what it shows before the compositor
// blends it over the desktop.
QImage windowPixels(xcb_window_t window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return {};
    const auto geometry = x11::own(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    if (!geometry || geometry->depth != 32) return {};
    const int width = geometry->width, height = geometry->height;
    const auto reply = x11::own(xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, geometry->width, geometry->height, ~0u),
        nullptr));
    const qsizetype rowBytes = qsizetype(width) * 4;
    if (!reply || xcb_get_image_data_length(reply.get()) < rowBytes * height) return {};
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), xcb_get_image_data(reply.get()) + y * rowBytes, std::size_t(rowBytes));
    return image;
}

TEST(BandPaintPathsDesktopTest, TheWindowsShowWhatAPlainFullPaintDoes) {
    VELARO_REQUIRE_DESKTOP();
    QtMainLoop hostLoop;
    TestSession session;
    ASSERT_TRUE(session);
    QtOverlayWindowHost host(hostLoop, session.session.get());
    ASSERT_TRUE(host.supportsTranslucency()) << "the test desktop runs a compositor";
    const double dpr = QGuiApplication::primaryScreen()->devicePixelRatio();
    for (const bool unified : {false, true}) {
        test::BandPaintRig rig;
        // Clear of the panel, the tray and the other tests' windows.
        rig.makeBand(host, unified, Point{120, 300});
        const auto window = xcb_window_t(rig.window().windowNumber());
        for (const auto& c : test::allBandPaintCases()) {
            for (const int frame : {0, 1}) {
                rig.apply(c, frame);
                const QImage plain = test::plainPaint(rig.window(), dpr);
                QImage shown;
                const auto matches = [&] {
                    shown = windowPixels(window);
                    return shown.size() == plain.size() && test::largestDifference(shown, plain).worst <= 2;
                };
                if (waitUntil(matches, std::chrono::seconds(3))) continue;
                const auto difference = test::largestDifference(shown, plain);
                ADD_FAILURE() << (unified ? "unified, " : "separate, ") << dpr << " pixels a point, "
                              << c.name() << ", frame " << frame << ": the window is " << shown.width()
                              << " x " << shown.height() << " pixels, device pixel (" << difference.at.x()
                              << ", " << difference.at.y() << ") off by " << difference.worst;
            }
        }
    }
}

}  // namespace
}  // namespace velaro::e2e
