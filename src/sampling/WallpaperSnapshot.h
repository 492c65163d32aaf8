// A picture of the main display's desktop wallpaper alone, for the corner editor's preview: the desktop
// window that fills the main display, captured by itself, else the desktop picture the session names.
#pragma once

#include <QImage>
#include <functional>
#include <optional>

#include "base/Published.h"
#include "platform/CaptureFrame.h"
#include "platform/CaptureService.h"

namespace velaro {

class Screens;
class WallpaperSource;

// The capture's pixels as an image of its own (premultiplied BGRA is ARGB32 in memory on this platform);
// a null image for a frame without valid pixels.
QImage imageFromFrame(const CaptureFrame& frame);

// The first desktop window of `content` that has exactly the size of `displayBounds` (top-left global
// points) and lies on it; nullopt when there is none.
std::optional<CaptureWindow> findWallpaperWindow(const ShareableContent& content, const Rect& displayBounds);

// Where the corner editor's preview asks for pictures of the wallpaper: the snapshot below in the app, a
// stand-in in tests.
class WallpaperPictureSource {
public:
    using ImageHandler = std::function<void(std::optional<QImage> image)>;

    virtual ~WallpaperPictureSource() = default;
    // Calls `handler` on the main loop with the picture, or with nothing when there is no wallpaper to
    // capture or the capture failed. With `nativeScale` the picture keeps the display's pixel density;
    // otherwise its longer side is at most `maxPixelSize` pixels and it is never enlarged.
    virtual void captureWallpaperImage(double maxPixelSize, bool nativeScale, ImageHandler handler) = 0;
    // Tells on the main loop that a picture taken now may differ from the last one; while it says nothing,
    // the last picture still stands.
    virtual Stream<int> wallpaperChanged() const = 0;
};

class WallpaperSnapshot final : public WallpaperPictureSource {
public:
    // `fallback` may be null: then only a desktop window gives a picture.
    WallpaperSnapshot(CaptureService& capture, const Screens& screens, WallpaperSource* fallback);

    void captureWallpaperImage(double maxPixelSize, bool nativeScale, ImageHandler handler) override;
    // The session's desktop picture tells of its changes; the desktop programs that draw a wallpaper window
    // name their picture on the root as well. Without a fallback nothing is told.
    Stream<int> wallpaperChanged() const override;

private:
    CaptureService& capture_;
    const Screens& screens_;
    WallpaperSource* fallback_;
};

}  // namespace velaro
