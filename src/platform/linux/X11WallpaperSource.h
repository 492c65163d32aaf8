// The main display's desktop picture on X11: the root pixmap the wallpaper setter names, else the picture of
// a desktop-type window that fills the display. Read on the capture worker; followed through the root's
// property notices, so nothing reads it again while it stays the same.
#pragma once

#include <xcb/xcb.h>

#include <array>

#include "base/MainLoop.h"
#include "platform/WallpaperSource.h"
#include "platform/linux/X11CaptureService.h"

namespace velaro {

class X11Session;

class X11WallpaperSource final : public WallpaperSource {
public:
    // `loop` runs the handlers; it, the capture service and the session must outlive the source.
    X11WallpaperSource(MainLoop& loop, X11CaptureService& capture, X11Session& session);

    void captureWallpaperImage(double maxPixelSize, bool nativeScale, ImageHandler handler) override;
    Stream<int> wallpaperChanged() const override { return changed_.stream(); }

    // The root properties a wallpaper setter names its pixmap in, the first one read first.
    using PictureNames = std::array<xcb_atom_t, 2>;

private:
    MainLoop& loop_;
    X11CaptureService& capture_;
    PictureNames names_{};
    PassthroughSubject<int> changed_;
    Subscription rootSelection_;
    Subscription handler_;
    Subscription screensWatch_;
};

}  // namespace velaro
