// The paint plan of an overlay window's own pixels: the region painted, the pixels cleared first, the rows
// copied down, and the rows put.
#include "platform/linux/QtOverlayStorePainter.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/OverlayWindowHost.h"

namespace velaro {

QRegion unchangedRows(const QImage& now, const QImage& before, const QRegion& area) {
    QRegion same;
    if (now.size() != before.size() || now.depth() != 32 || before.depth() != 32) return same;
    const QRect bounds(QPoint(), now.size());
    for (const QRect& rect : area) {
        const QRect r = rect.intersected(bounds);
        const std::size_t bytes = std::size_t(r.width()) * 4;
        int runStart = -1;
        for (int y = r.top(); y <= r.bottom() + 1; ++y) {
            const bool equal =
                y <= r.bottom() && std::memcmp(now.constScanLine(y) + r.x() * 4,
                                               before.constScanLine(y) + r.x() * 4, bytes) == 0;
            if (equal && runStart < 0) runStart = y;
            if (!equal && runStart >= 0) {
                same += QRect(r.x(), runStart, r.width(), y - runStart);
                runStart = -1;
            }
        }
    }
    return same;
}

void paintOverlayContent(QPaintDevice& device, const OverlayWindow& window, QSize size,
                         const QRegion& region) {
    QPainter painter(&device);
    if (region != QRegion(QRect(QPoint(), size))) painter.setClipRegion(region);
    painter.setRenderHint(QPainter::Antialiasing);
    if (window.content()) window.content()(painter, Size{double(size.width()), double(size.height())});
}

QRegion QtOverlayStorePainter::nextRegion(const OverlayWindow& window, QSize size) {
    const QRect whole(QPoint(), size);
    std::vector<Rect> parts = window.paintedArea(Size{double(size.width()), double(size.height())});
    const bool wholeAsked = std::exchange(wholeWindow_, false);
    // A band repainted frame after frame names the same parts each time: their region is made once.
    if (!wholeAsked && parts == lastParts_ && size == lastPartsSize_) return lastArea_;
    QRegion area;
    for (const Rect& part : parts)
        area += QRectF(part.x(), part.y(), part.width(), part.height()).toAlignedRect();
    area = area.isEmpty() ? QRegion(whole) : area.intersected(whole);
    // What the content could paint in last time and cannot now is painted too, so that it is cleared.
    const QRegion region = wholeAsked ? QRegion(whole) : area.united(lastArea_);
    lastArea_ = area;
    lastParts_ = std::move(parts);
    lastPartsSize_ = size;
    return region;
}

bool QtOverlayStorePainter::paint(OverlayPixelBuffers& buffers, const OverlayWindow& window, QSize size,
                                  double dpr) {
    QImage* image = buffers.beginPaint();
    if (!image) return false;
    // After an expose or a resize the window's pixels are unknown: everything painted goes to the server.
    if (wholeWindow_) {
        sameAsShown_ = {};
        shownCopies_.clear();
    }
    const QRegion region = nextRegion(window, size);
    const Size points{double(size.width()), double(size.height())};
    auto opaque = window.opaqueArea(points);
    auto repeated = window.repeatedArea(points);
    // A band repainted frame after frame keeps its region, its opaque part and its repeated rows: their
    // pixels are worked out once.
    if (region != plan_.region || opaque != plan_.opaque || repeated != plan_.repeated || dpr != plan_.dpr ||
        image->size() != plan_.size) {
        QRegion device, covered;
        for (const QRect& r : region)
            device += QRectF(r.x() * dpr, r.y() * dpr, r.width() * dpr, r.height() * dpr).toAlignedRect();
        device &= QRect(QPoint(), image->size());
        for (const Rect& part : opaque) {
            const int x0 = static_cast<int>(std::ceil(part.minX() * dpr)),
                      y0 = static_cast<int>(std::ceil(part.minY() * dpr));
            const int x1 = static_cast<int>(std::floor(part.maxX() * dpr)),
                      y1 = static_cast<int>(std::floor(part.maxY() * dpr));
            if (x1 > x0 && y1 > y0) covered += QRect(x0, y0, x1 - x0, y1 - y0);
        }
        // Rows the content repeats are painted once and copied down by the server: a band of identical rows
        // then costs a row of painting and of upload, not the band's.
        RepeatPlan repeats = planRepeats(repeated, region, device, points, dpr);
        const QRegion cleared = device - covered - repeats.copiedDevice;
        plan_ = {region, std::move(opaque), std::move(repeated), dpr, image->size(),
                 device, cleared,           std::move(repeats)};
    }
    if (const OverlayPixelContent& pixels = window.pixelContent()) {
        // The owner writes the pixels itself: no clear, no painter, and no record of what either buffer
        // shows for the painted path to diff against.
        pixels(*image, plan_.device);
        sameAsShown_ = {};
        shownCopies_.clear();
        buffers.put(plan_.device, {});
        return true;
    }
    const RepeatPlan& repeats = plan_.repeats;
    const QRegion& device = repeats.paintDevice;
    // The buffer holds an older picture. Where the content lays opaque paint over every pixel that paint
    // replaces it; the rest of the region is cleared to nothing first, in device pixels.
    uchar* bits = image->bits();
    const qsizetype stride = image->bytesPerLine();
    for (const QRect& r : plan_.cleared)
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::memset(bits + y * stride + r.x() * 4, 0, std::size_t(r.width()) * 4);
    paintOverlayContent(*image, window, size, repeats.paintRegion);
    // Only the rows that differ from what the window shows go to the server: each put pixel is uploaded,
    // copied and composited again. The other buffer holds the window's pixels where it is known to.
    const int index = buffers.paintingIndex();
    auto& painted = sameAsShown_[std::size_t(index)];
    auto& other = sameAsShown_[std::size_t(1 - index)];
    const QRegion same =
        other.isEmpty() ? QRegion() : unchangedRows(*image, buffers.image(1 - index), device & other);
    const QRegion changed = same.isEmpty() ? device : device - same;
    painted += device;
    other -= changed;
    // A copy is made again only when its row changed on the window or the rows do not hold it yet: an
    // unchanged band costs the server nothing.
    std::vector<OverlayRowCopy> due;
    for (const auto& copy : repeats.copies) {
        const bool shown = std::find(shownCopies_.begin(), shownCopies_.end(), copy) != shownCopies_.end();
        if (!shown || changed.intersects(QRect(copy.rows.x(), copy.sourceY, copy.rows.width(), 1)))
            due.push_back(copy);
    }
    if (!repeats.copies.empty()) {
        // Neither buffer holds the copied rows.
        painted -= repeats.copiedDevice;
        other -= repeats.copiedDevice;
    }
    shownCopies_ = repeats.copies;
    if (!changed.isEmpty() || !due.empty()) buffers.put(changed, due);
    return true;
}

QtOverlayStorePainter::RepeatPlan QtOverlayStorePainter::planRepeats(const std::vector<Rect>& parts,
                                                                     const QRegion& region,
                                                                     const QRegion& device, Size points,
                                                                     double dpr) {
    RepeatPlan plan{region, device, {}, {}};
    // Whole device pixels a point: a point row is then whole device rows, painted or copied alike.
    const int scale = static_cast<int>(std::lround(dpr));
    if (scale < 1 || std::abs(dpr - scale) > 1e-9) return plan;
    QRegion taken;
    for (const Rect& part : parts) {
        // Whole points inside the part and the window.
        const auto inside = [](double v, double limit) {
            return std::isfinite(v) ? std::clamp(v, 0.0, limit) : 0.0;
        };
        const QRect whole(QPoint(static_cast<int>(std::ceil(inside(part.minX(), points.width))),
                                 static_cast<int>(std::ceil(inside(part.minY(), points.height)))),
                          QPoint(static_cast<int>(std::floor(inside(part.maxX(), points.width))) - 1,
                                 static_cast<int>(std::floor(inside(part.maxY(), points.height))) - 1));
        if (whole.width() < 1 || whole.height() < 2) continue;
        // The part's first row is painted; the rest are copied from it. Only rows this paint covers anyway,
        // and never over another part's.
        const QRect rest = whole.adjusted(0, 1, 0, 0);
        if (taken.intersects(whole) || !(QRegion(whole) - region).isEmpty()) continue;
        taken += whole;
        plan.paintRegion -= rest;
        const QRect rows(rest.x() * scale, rest.y() * scale, rest.width() * scale, rest.height() * scale);
        plan.copies.push_back({rows.y() - 1, rows});
        plan.copiedDevice += rows;
    }
    plan.paintDevice -= plan.copiedDevice;
    return plan;
}

}  // namespace velaro
