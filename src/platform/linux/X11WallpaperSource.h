// The main display's desktop picture on X11: the root pixmap the wallpaper setter names, else the picture of
// a desktop-type window that fills the display.
#pragma once

#include <memory>

#include "base/MainLoop.h"
#include "platform/WallpaperSource.h"
#include "platform/linux/X11CaptureSession.h"

namespace velaro {

class X11WallpaperSource final : public WallpaperSource {
public:
    // `loop` runs the handlers and must outlive the source.
    X11WallpaperSource(MainLoop& loop, x11capture::SessionOptions options = {});
    ~X11WallpaperSource() override;

    void captureWallpaperImage(double maxPixelSize, bool nativeScale, ImageHandler handler) override;

private:
    struct Shared;
    MainLoop& loop_;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<SerialQueue> queue_;
};

}  // namespace velaro
