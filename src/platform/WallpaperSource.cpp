// The size rule of the wallpaper picture, shared by every wallpaper source.
#include "platform/WallpaperSource.h"

#include <algorithm>
#include <cmath>

namespace velaro {

WallpaperPixelSize wallpaperPixelSize(double pointWidth, double pointHeight, double pixelsPerPoint,
                                      double maxPixelSize, bool nativeScale) {
    if (!(pointWidth > 0) || !(pointHeight > 0) || !std::isfinite(pointWidth) || !std::isfinite(pointHeight))
        return {};
    double scale;
    if (nativeScale) {
        scale = (std::isfinite(pixelsPerPoint) && pixelsPerPoint > 0) ? pixelsPerPoint : 1.0;
    } else {
        // A bad limit (NaN, zero, negative) gives no picture rather than a zero-sized or garbage one.
        if (!(maxPixelSize > 0)) return {};
        const double longer = std::max(pointWidth, pointHeight);
        scale = longer > 1 ? std::min(maxPixelSize / longer, 1.0) : std::min(maxPixelSize, 1.0);
    }
    // Pictures beyond this are not a preview any more, and the multiplication below must stay in range.
    constexpr double kLargest = 32768;
    const double w = std::trunc(scale * pointWidth), h = std::trunc(scale * pointHeight);
    if (!(w >= 1) || !(h >= 1) || w > kLargest || h > kLargest) return {};
    return {static_cast<int>(w), static_cast<int>(h)};
}

}  // namespace velaro
