// The desktop picture of the main display alone, without the windows and panels in front of it.
#pragma once

#include <functional>
#include <optional>

#include "base/Published.h"
#include "platform/CaptureFrame.h"

namespace velaro {

class WallpaperSource {
public:
    using ImageHandler = std::function<void(std::optional<CaptureFrame> image)>;

    virtual ~WallpaperSource() = default;

    // Takes the picture and calls `handler` on the main loop with it, or with nothing when there is no
    // desktop picture or it cannot be read. With `nativeScale` the picture keeps the display's pixel density;
    // otherwise its longer side is at most `maxPixelSize` pixels and it is never enlarged beyond one pixel
    // per point.
    virtual void captureWallpaperImage(double maxPixelSize, bool nativeScale, ImageHandler handler) = 0;
    // Tells on the main loop that a picture taken now may differ from the last one: the session named another
    // desktop picture, or the displays changed. A picture shown meanwhile needs no other check.
    virtual Stream<int> wallpaperChanged() const = 0;
};

// The size of the wallpaper picture for a desktop picture of `pointWidth` × `pointHeight` points on a display
// of `pixelsPerPoint`; an empty size (0 × 0) when the request cannot give an image of at least one pixel.
struct WallpaperPixelSize {
    int width = 0;
    int height = 0;
    bool isEmpty() const { return width < 1 || height < 1; }
    friend bool operator==(const WallpaperPixelSize&, const WallpaperPixelSize&) = default;
};
WallpaperPixelSize wallpaperPixelSize(double pointWidth, double pointHeight, double pixelsPerPoint,
                                      double maxPixelSize, bool nativeScale);

}  // namespace velaro
