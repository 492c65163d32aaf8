// Pixel work of the X11 capture that needs no display: strip geometry, the exclusion mask, filling what the
// content filter leaves out, compositing window pictures and scaling to the configured size.
#pragma once

#include <cstdint>
#include <vector>

#include "base/Geometry.h"
#include "platform/CaptureFrame.h"

namespace velaro::x11capture {

// A rectangle of whole pixels in root coordinates.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool isEmpty() const { return width <= 0 || height <= 0; }
    int maxX() const { return x + width; }
    int maxY() const { return y + height; }
    PixelRect intersection(const PixelRect& o) const;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// Packed BGRA pixels (4 × width bytes a row), premultiplied alpha.
struct BgraImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes;

    BgraImage() = default;
    BgraImage(int w, int h) : width(w), height(h), bytes(static_cast<std::size_t>(w) * h * 4, 0) {}
    std::uint8_t* pixel(int x, int y) { return bytes.data() + (static_cast<std::size_t>(y) * width + x) * 4; }
    const std::uint8_t* pixel(int x, int y) const {
        return bytes.data() + (static_cast<std::size_t>(y) * width + x) * 4;
    }
};

// A monitor of the root window; `displayID` is its display number.
struct Monitor {
    std::uint32_t displayID = 0;
    PixelRect root;
    bool primary = false;
    // Defined by a client rather than made of outputs: it comes, goes and moves without a notice.
    bool byClient = false;
};

// The monitors with the primary first and marked: the one the server names, else the one at the root's
// origin, else the first listed.
std::vector<Monitor> primaryFirst(std::vector<Monitor> monitors);

// The root's background made of a tile repeated from the root's origin, as the server paints it, for `area`.
BgraImage tiled(const BgraImage& tile, const PixelRect& area);

// The root pixels of `sourcePoints` (points from the display's top-left), widened to whole pixels and cut to
// the display. Empty when nothing of it lies on the display or the numbers are not finite.
PixelRect sourceRectInRoot(const Rect& sourcePoints, const PixelRect& displayInRoot, double pixelsPerPoint);

// A mapped top-level window as the stacking walk sees it.
struct StackedWindow {
    PixelRect bounds;  // root pixels, border included
    bool excluded = false;
};

// One byte per pixel of `area`: 1 where the topmost window over that pixel is excluded by the filter, else 0.
// `bottomToTop` is the stacking order, lowest first.
std::vector<std::uint8_t> exclusionMask(const PixelRect& area, const std::vector<StackedWindow>& bottomToTop);
bool anySet(const std::vector<std::uint8_t>& mask);
// The smallest rectangle (relative to the mask's area) holding every set pixel; empty when none is set.
PixelRect maskBounds(const std::vector<std::uint8_t>& mask, int width, int height);

// Where nothing beneath the excluded windows can be read (no compositor), each masked pixel takes the colour
// of the nearest clean pixel in its row (the left one on a tie); a row masked end to end takes the nearest
// clean row's pixel in the same column; with no clean pixel at all, `fallback` (same size, may be null)
// gives the pixel, else it is left as it was.
void fillFromNearestClean(BgraImage& image, const std::vector<std::uint8_t>& mask, const BgraImage* fallback);

// Draws `src` over `dst` with its top-left at (dx, dy), clipped to `dst`. With `srcHasAlpha` the pixels are
// premultiplied source-over; otherwise `src` is copied as opaque.
void drawOver(BgraImage& dst, const BgraImage& src, int dx, int dy, bool srcHasAlpha);

// Copies the pixels of `replacement`, which covers the rectangle `at` of `image`, into `image` where the mask
// (one byte per pixel of `image`) is set.
void replaceMasked(BgraImage& image, const BgraImage& replacement, const PixelRect& at,
                   const std::vector<std::uint8_t>& mask);

// Sets every alpha byte to 255: 24-bit drawables come back with an undefined pad byte there.
void makeOpaque(BgraImage& image);
// Copies `pixels` BGRA pixels, setting their alpha to 255 on the way when `opaque`.
void copyPixels(std::uint8_t* to, const std::uint8_t* from, std::size_t pixels, bool opaque);

// `src` resized to `width` × `height` by averaging the source pixels under each target pixel; handed back
// untouched when it already has that size.
BgraImage scaled(BgraImage src, int width, int height);
// What `scaled(tiled(tile, area), width, height)` gives, read from the tile itself: a desktop picture is
// often a small tile, and its expansion over a whole screen (8 MB at 1920 × 1080) would be made only to be
// averaged down again.
BgraImage scaledTile(const BgraImage& tile, const PixelRect& area, int width, int height);

CaptureFrame toFrame(BgraImage&& image, double timestamp);

}  // namespace velaro::x11capture
