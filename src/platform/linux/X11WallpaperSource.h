// The main display's desktop picture on X11: the root pixmap the wallpaper setter names, else the picture of
// a desktop-type window that fills the display. Read on the capture worker.
#pragma once

#include "base/MainLoop.h"
#include "platform/WallpaperSource.h"
#include "platform/linux/X11CaptureService.h"

namespace velaro {

class X11WallpaperSource final : public WallpaperSource {
public:
    // `loop` runs the handlers; it and the capture service must outlive the source.
    X11WallpaperSource(MainLoop& loop, X11CaptureService& capture);

    void captureWallpaperImage(double maxPixelSize, bool nativeScale, ImageHandler handler) override;

private:
    MainLoop& loop_;
    X11CaptureService& capture_;
};

}  // namespace velaro
