// The wallpaper snapshot of the main display.
#include "sampling/WallpaperSnapshot.h"

#include <cstring>

#include "platform/Screens.h"
#include "platform/WallpaperSource.h"

namespace velaro {

QImage imageFromFrame(const CaptureFrame& frame) {
    if (!frame.isValid()) return {};
    QImage image(frame.width, frame.height, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return {};
    for (int y = 0; y < frame.height; ++y)
        std::memcpy(image.scanLine(y), frame.row(y), static_cast<std::size_t>(frame.width) * 4);
    return image;
}

std::optional<CaptureWindow> findWallpaperWindow(const ShareableContent& content, const Rect& displayBounds) {
    for (const auto& w : content.windows) {
        if (!w.isDesktop) continue;
        if (w.frame.width() != displayBounds.width() || w.frame.height() != displayBounds.height()) continue;
        if (!w.frame.intersects(displayBounds)) continue;
        return w;
    }
    return std::nullopt;
}

WallpaperSnapshot::WallpaperSnapshot(CaptureService& capture, const Screens& screens,
                                     WallpaperSource* fallback)
    : capture_(capture), screens_(screens), fallback_(fallback) {}

namespace {

void useFallback(WallpaperSource* fallback, double maxPixelSize, bool nativeScale,
                 const WallpaperSnapshot::ImageHandler& handler) {
    if (!fallback) {
        handler(std::nullopt);
        return;
    }
    fallback->captureWallpaperImage(maxPixelSize, nativeScale, [handler](std::optional<CaptureFrame> frame) {
        QImage image = frame ? imageFromFrame(*frame) : QImage();
        handler(image.isNull() ? std::nullopt : std::optional<QImage>(std::move(image)));
    });
}

}  // namespace

Stream<int> WallpaperSnapshot::wallpaperChanged() const {
    if (fallback_) return fallback_->wallpaperChanged();
    return Stream<int>([](const Stream<int>::Sink&) { return Subscription(); });
}

// The services outlive the snapshot's requests; the snapshot object itself need not.
void WallpaperSnapshot::captureWallpaperImage(double maxPixelSize, bool nativeScale, ImageHandler handler) {
    capture_.getShareableContent(
        false, true,
        [capture = &capture_, screens = &screens_, fallback = fallback_, maxPixelSize, nativeScale, handler](
            std::optional<ShareableContent> content, std::optional<CaptureError> error) {
            const auto all = screens->screens();
            if (error || !content || all.empty()) {
                handler(std::nullopt);
                return;
            }
            // The main display is the primary monitor, which sits at the origin of the top-left convention.
            const ScreenInfo& primary = all.front();
            std::optional<CaptureDisplay> display;
            for (const auto& d : content->displays)
                if (d.displayID == primary.number) display = d;
            const Rect bounds =
                display ? display->frame : Rect{0, 0, primary.frame.width(), primary.frame.height()};
            const auto window = findWallpaperWindow(*content, bounds);
            if (!window) {
                // Most X11 desktops have no wallpaper window: the picture is the root's.
                useFallback(fallback, maxPixelSize, nativeScale, handler);
                return;
            }
            const auto size = wallpaperPixelSize(window->frame.width(), window->frame.height(),
                                                 primary.backingScale, maxPixelSize, nativeScale);
            if (size.isEmpty()) {
                handler(std::nullopt);
                return;
            }
            StreamConfiguration config;
            config.width = size.width;
            config.height = size.height;
            capture->captureImage(
                ContentFilter::desktopIndependentWindow(*window), config,
                [handler](std::optional<CaptureFrame> frame, std::optional<CaptureError> error) {
                    QImage image = (!error && frame) ? imageFromFrame(*frame) : QImage();
                    handler(image.isNull() ? std::nullopt : std::optional<QImage>(std::move(image)));
                });
        });
}

}  // namespace velaro
