// Painting an overlay window into device pixels of its own that the window shows through puts (see
// QtOverlayShmStore): only the rows that differ from what the window shows are put, rows the content
// repeats are painted once and copied down by the X server, and pixels the content covers with opaque
// paint are not cleared first.
#pragma once

#include <QImage>
#include <QRect>
#include <QRegion>
#include <QSize>
#include <array>
#include <vector>

#include "base/Geometry.h"

class QPaintDevice;

namespace velaro {

class OverlayWindow;

// A row of a window that the server copies down a block of rows beneath it, after a put: the row is
// `rows`' columns at `sourceY`.
struct OverlayRowCopy {
    int sourceY = 0;
    QRect rows;
    bool operator==(const OverlayRowCopy&) const = default;
};

// Two buffers of a window's device pixels, painted in turn and put on the window.
class OverlayPixelBuffers {
public:
    virtual ~OverlayPixelBuffers() = default;
    // A buffer free to paint into, holding an older picture; null while none is free yet.
    virtual QImage* beginPaint() = 0;
    // Puts `devicePixels` of the buffer beginPaint handed out on the window, then makes `copies` there.
    virtual void put(const QRegion& devicePixels, const std::vector<OverlayRowCopy>& copies) = 0;
    // The buffer beginPaint handed out (0 or 1; -1 for none), and the pixels of either: the new picture is
    // compared with the one put before it.
    virtual int paintingIndex() const = 0;
    virtual const QImage& image(int index) const = 0;
};

// The rows of `area` (device pixels) whose pixels are the same in both pictures, as rectangles of `area`;
// nothing where the pictures differ in size or are not 32 bits a pixel.
QRegion unchangedRows(const QImage& now, const QImage& before, const QRegion& area);

// Paints the content of `window`, `size` points large, into `device`, clipped to `region` (points) unless
// that is the whole window.
void paintOverlayContent(QPaintDevice& device, const OverlayWindow& window, QSize size,
                         const QRegion& region);

// What a window's paints need to remember between them: where its content could paint last time and, on
// the own path, what the window shows.
class QtOverlayStorePainter {
public:
    // The window's pixels are unknown (at an expose, after a resize): the next paint covers the whole window
    // and puts all it paints.
    void paintWholeNext() { wholeWindow_ = true; }
    // The region (points) the next paint of `window`, `size` points large, covers: the parts its content
    // can paint in, and those it could paint in last time, so that they are cleared.
    QRegion nextRegion(const OverlayWindow& window, QSize size);
    // Paints `window` into a free buffer of `buffers`, `dpr` device pixels a point, and puts what changed;
    // false when no buffer is free yet.
    bool paint(OverlayPixelBuffers& buffers, const OverlayWindow& window, QSize size, double dpr);

private:
    // Rows of the next paint that the server copies down instead: the region painted (the whole region when
    // nothing is copied) and its device pixels, and the copies.
    struct RepeatPlan {
        QRegion paintRegion, paintDevice, copiedDevice;
        std::vector<OverlayRowCopy> copies;
    };
    static RepeatPlan planRepeats(const std::vector<Rect>& parts, const QRegion& region,
                                  const QRegion& device, Size points, double dpr);
    // The last paint's region (points), opaque part and repeated parts, with the device pixels they make:
    // all of them, those cleared before a paint, and the rows copied down.
    struct PaintPlan {
        QRegion region;
        std::vector<Rect> opaque, repeated;
        double dpr = 0;
        QSize size;
        QRegion device;
        QRegion cleared;
        RepeatPlan repeats;
    };

    bool wholeWindow_ = true;      // the next paint covers the whole window
    QRegion lastArea_;             // where the content could paint at the last paint
    std::vector<Rect> lastParts_;  // the parts it was made of, for a window of lastPartsSize_ points
    QSize lastPartsSize_;
    // The device pixels of each buffer known to hold what the window shows.
    std::array<QRegion, 2> sameAsShown_;
    // The rows the window shows as copies of the row above them, made from that row as the window shows it.
    std::vector<OverlayRowCopy> shownCopies_;
    PaintPlan plan_;
};

}  // namespace velaro
