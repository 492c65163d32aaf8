// The main display's desktop picture on X11, read on the capture worker and scaled down for previews.
#include "platform/linux/X11WallpaperSource.h"

#include "platform/linux/X11CaptureCompose.h"

namespace velaro {

using namespace x11capture;

namespace {

// The picture under the primary monitor: the root's named pixmap, else a desktop window of exactly the
// monitor's size that lies on it.
std::optional<BgraImage> readWallpaper(Session& session, const Monitor& primary) {
    if (auto picture = session.grabRootPicture(primary.root)) return picture;
    for (const auto& t : session.topLevels()) {
        if (!t.isDesktop || !t.viewable) continue;
        if (t.bounds.width != primary.root.width || t.bounds.height != primary.root.height) continue;
        if (t.bounds.intersection(primary.root).isEmpty()) continue;
        return session.grabWindow(t);
    }
    return std::nullopt;
}

}  // namespace

X11WallpaperSource::X11WallpaperSource(MainLoop& loop, X11CaptureService& capture)
    : loop_(loop), capture_(capture) {}

void X11WallpaperSource::captureWallpaperImage(double maxPixelSize, bool nativeScale, ImageHandler handler) {
    capture_.onWorker([&loop = loop_, maxPixelSize, nativeScale, handler = std::move(handler)](
                          Session* session, const CaptureError&) {
        std::optional<CaptureFrame> result;
        if (session) {
            const auto monitors = session->monitors();
            if (!monitors.empty()) {
                const Monitor& primary = monitors.front();
                const double s = session->pixelsPerPoint();
                const auto size = wallpaperPixelSize(primary.root.width / s, primary.root.height / s, s,
                                                     maxPixelSize, nativeScale);
                if (!size.isEmpty()) {
                    if (auto picture = readWallpaper(*session, primary))
                        result = toFrame(scaled(std::move(*picture), size.width, size.height), loop.uptime());
                }
            }
        }
        loop.post([handler, result = std::move(result)]() mutable { handler(std::move(result)); });
    });
}

}  // namespace velaro
