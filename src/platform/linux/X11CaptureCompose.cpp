// Pixel work of the X11 capture that needs no display.
#include "platform/linux/X11CaptureCompose.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace velaro::x11capture {

namespace {

void copyPixel(std::uint8_t* to, const std::uint8_t* from) {
    std::memcpy(to, from, 4);
}

}  // namespace

PixelRect PixelRect::intersection(const PixelRect& o) const {
    const int x0 = std::max(x, o.x), y0 = std::max(y, o.y);
    const int x1 = std::min(maxX(), o.maxX()), y1 = std::min(maxY(), o.maxY());
    if (x1 <= x0 || y1 <= y0) return {};
    return {x0, y0, x1 - x0, y1 - y0};
}

std::vector<Monitor> primaryFirst(std::vector<Monitor> monitors) {
    if (monitors.empty()) return monitors;
    auto primary = std::find_if(monitors.begin(), monitors.end(), [](const Monitor& m) { return m.primary; });
    if (primary == monitors.end())
        primary = std::find_if(monitors.begin(), monitors.end(), [](const Monitor& m) {
            return m.root.x <= 0 && m.root.y <= 0 && m.root.maxX() > 0 && m.root.maxY() > 0;
        });
    if (primary == monitors.end()) primary = monitors.begin();
    for (auto& m : monitors) m.primary = false;
    primary->primary = true;
    std::rotate(monitors.begin(), primary, primary + 1);
    return monitors;
}

BgraImage tiled(const BgraImage& tile, const PixelRect& area) {
    BgraImage out(std::max(area.width, 0), std::max(area.height, 0));
    if (tile.width <= 0 || tile.height <= 0 || out.width == 0) return out;
    const auto wrap = [](int v, int n) { return ((v % n) + n) % n; };
    const std::size_t rowBytes = static_cast<std::size_t>(out.width) * 4;
    const int startX = wrap(area.x, tile.width);
    for (int y = 0; y < out.height; ++y) {
        // Rows repeat with the tile's height: a row made once is copied whole.
        if (y >= tile.height) {
            std::memcpy(out.pixel(0, y), out.pixel(0, y - tile.height), rowBytes);
            continue;
        }
        const int ty = wrap(area.y + y, tile.height);
        // The rest of the tile's row from where the area starts, then one whole row of the tile; what follows
        // repeats it, so the filled part is copied onto itself, doubling (a one-pixel tile, the plain colour
        // a root usually has, takes a dozen copies rather than one per pixel).
        const int head = std::min(tile.width - startX, out.width);
        std::memcpy(out.pixel(0, y), tile.pixel(startX, ty), static_cast<std::size_t>(head) * 4);
        if (head == out.width) continue;
        int filled = std::min(tile.width, out.width - head);
        std::memcpy(out.pixel(head, y), tile.pixel(0, ty), static_cast<std::size_t>(filled) * 4);
        while (head + filled < out.width) {
            const int run = std::min(filled, out.width - head - filled);
            std::memcpy(out.pixel(head + filled, y), out.pixel(head, y), static_cast<std::size_t>(run) * 4);
            filled += run;
        }
    }
    return out;
}

PixelRect sourceRectInRoot(const Rect& sourcePoints, const PixelRect& displayInRoot, double pixelsPerPoint) {
    const double s = pixelsPerPoint;
    const double x0 = sourcePoints.minX() * s, y0 = sourcePoints.minY() * s;
    const double x1 = sourcePoints.maxX() * s, y1 = sourcePoints.maxY() * s;
    if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1) || !(s > 0))
        return {};
    // Clamp before converting: a huge rectangle must not overflow int on its way to being cut to the display.
    const auto clampToDisplay = [](double v, int extent) {
        return static_cast<int>(std::clamp(v, 0.0, static_cast<double>(extent)));
    };
    const int px0 = clampToDisplay(std::floor(x0), displayInRoot.width);
    const int py0 = clampToDisplay(std::floor(y0), displayInRoot.height);
    const int px1 = clampToDisplay(std::ceil(x1), displayInRoot.width);
    const int py1 = clampToDisplay(std::ceil(y1), displayInRoot.height);
    if (px1 <= px0 || py1 <= py0) return {};
    return {displayInRoot.x + px0, displayInRoot.y + py0, px1 - px0, py1 - py0};
}

std::vector<std::uint8_t> exclusionMask(const PixelRect& area,
                                        const std::vector<StackedWindow>& bottomToTop) {
    std::vector<std::uint8_t> mask(
        static_cast<std::size_t>(std::max(area.width, 0)) * std::max(area.height, 0), 0);
    for (const auto& w : bottomToTop) {
        const PixelRect r = w.bounds.intersection(area);
        if (r.isEmpty()) continue;
        for (int y = r.y; y < r.maxY(); ++y) {
            auto* row = mask.data() + static_cast<std::size_t>(y - area.y) * area.width;
            std::fill(row + (r.x - area.x), row + (r.maxX() - area.x), w.excluded ? 1 : 0);
        }
    }
    return mask;
}

bool anySet(const std::vector<std::uint8_t>& mask) {
    return std::any_of(mask.begin(), mask.end(), [](std::uint8_t m) { return m != 0; });
}

PixelRect maskBounds(const std::vector<std::uint8_t>& mask, int width, int height) {
    int x0 = width, y0 = height, x1 = -1, y1 = -1;
    for (int y = 0; y < height; ++y) {
        const auto* row = mask.data() + static_cast<std::size_t>(y) * width;
        const void* first = std::memchr(row, 1, static_cast<std::size_t>(width));
        if (!first) continue;
        const void* last = memrchr(row, 1, static_cast<std::size_t>(width));
        x0 = std::min(x0, static_cast<int>(static_cast<const std::uint8_t*>(first) - row));
        x1 = std::max(x1, static_cast<int>(static_cast<const std::uint8_t*>(last) - row));
        y0 = std::min(y0, y), y1 = y;
    }
    if (x1 < 0) return {};
    return {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

void fillFromNearestClean(BgraImage& image, const std::vector<std::uint8_t>& mask,
                          const BgraImage* fallback) {
    const int w = image.width, h = image.height;
    std::vector<int> cleanRows;  // rows with at least one unmasked pixel, in order
    std::vector<std::uint8_t> rowFullyMasked(h, 0);
    for (int y = 0; y < h; ++y) {
        const auto* m = mask.data() + static_cast<std::size_t>(y) * w;
        rowFullyMasked[y] = std::all_of(m, m + w, [](std::uint8_t v) { return v != 0; });
        if (!rowFullyMasked[y]) cleanRows.push_back(y);
    }
    // Rows first, within themselves: a clean row never reads pixels another row changed.
    for (int y = 0; y < h; ++y) {
        if (rowFullyMasked[y]) continue;
        const auto* m = mask.data() + static_cast<std::size_t>(y) * w;
        int x = 0;
        while (x < w) {
            if (!m[x]) {
                ++x;
                continue;
            }
            int end = x;
            while (end < w && m[end]) ++end;
            const int left = x - 1, right = end;  // the clean neighbours of the run, when inside the row
            for (int i = x; i < end; ++i) {
                const bool useLeft = left >= 0 && (right >= w || i - left <= right - i);
                copyPixel(image.pixel(i, y), image.pixel(useLeft ? left : right, y));
            }
            x = end;
        }
    }
    for (int y = 0; y < h; ++y) {
        if (!rowFullyMasked[y]) continue;
        if (cleanRows.empty()) {
            if (fallback && fallback->width == w && fallback->height == h)
                std::memcpy(image.pixel(0, y), fallback->pixel(0, y), static_cast<std::size_t>(w) * 4);
            continue;
        }
        // The nearest clean row, the upper one on a tie.
        auto it = std::lower_bound(cleanRows.begin(), cleanRows.end(), y);
        int source;
        if (it == cleanRows.end()) {
            source = cleanRows.back();
        } else if (it == cleanRows.begin()) {
            source = *it;
        } else {
            const int below = *it, above = *(it - 1);
            source = (y - above <= below - y) ? above : below;
        }
        std::memcpy(image.pixel(0, y), image.pixel(0, source), static_cast<std::size_t>(w) * 4);
    }
}

void drawOver(BgraImage& dst, const BgraImage& src, int dx, int dy, bool srcHasAlpha) {
    const PixelRect target =
        PixelRect{dx, dy, src.width, src.height}.intersection({0, 0, dst.width, dst.height});
    if (!srcHasAlpha) {
        for (int y = target.y; y < target.maxY(); ++y)
            copyPixels(dst.pixel(target.x, y), src.pixel(target.x - dx, y - dy),
                       static_cast<std::size_t>(target.width), true);
        return;
    }
    for (int y = target.y; y < target.maxY(); ++y) {
        for (int x = target.x; x < target.maxX(); ++x) {
            std::uint8_t* d = dst.pixel(x, y);
            const std::uint8_t* s = src.pixel(x - dx, y - dy);
            const unsigned inverse = 255u - s[3];
            for (int c = 0; c < 4; ++c) {
                // Premultiplied source-over, rounded; a channel above its alpha (bad input) must not wrap.
                const unsigned v = s[c] + (d[c] * inverse + 127u) / 255u;
                d[c] = static_cast<std::uint8_t>(std::min(v, 255u));
            }
        }
    }
}

void replaceMasked(BgraImage& image, const BgraImage& replacement, const PixelRect& at,
                   const std::vector<std::uint8_t>& mask) {
    const PixelRect r = at.intersection({0, 0, image.width, image.height});
    for (int y = r.y; y < r.maxY(); ++y) {
        const auto* m = mask.data() + static_cast<std::size_t>(y) * image.width;
        // Runs of masked pixels, copied whole.
        for (int x = r.x; x < r.maxX();) {
            if (!m[x]) {
                ++x;
                continue;
            }
            int end = x;
            while (end < r.maxX() && m[end]) ++end;
            std::memcpy(image.pixel(x, y), replacement.pixel(x - at.x, y - at.y),
                        static_cast<std::size_t>(end - x) * 4);
            x = end;
        }
    }
}

void copyPixels(std::uint8_t* to, const std::uint8_t* from, std::size_t pixels, bool opaque) {
    if (!opaque) {
        std::memcpy(to, from, pixels * 4);
        return;
    }
    // Whole pixels at a time (alpha is the highest byte of a little-endian word), in blocks the compiler
    // turns into vector instructions.
    constexpr std::size_t kBlock = 16;
    std::size_t i = 0;
    for (; i + kBlock <= pixels; i += kBlock) {
        std::uint32_t block[kBlock];
        std::memcpy(block, from + i * 4, sizeof block);
        for (auto& v : block) v |= 0xff000000u;
        std::memcpy(to + i * 4, block, sizeof block);
    }
    for (; i < pixels; ++i) {
        std::uint32_t v;
        std::memcpy(&v, from + i * 4, 4);
        v |= 0xff000000u;
        std::memcpy(to + i * 4, &v, 4);
    }
}

void makeOpaque(BgraImage& image) {
    copyPixels(image.bytes.data(), image.bytes.data(), image.bytes.size() / 4, true);
}

namespace {

// For each target index, the half-open range of source indices it averages: never empty, together covering
// the source when shrinking and repeating source pixels when growing.
std::vector<std::pair<int, int>> spans(int source, int target) {
    std::vector<std::pair<int, int>> out(target);
    for (int i = 0; i < target; ++i) {
        const int begin = static_cast<int>(static_cast<long long>(i) * source / target);
        const int end = static_cast<int>(static_cast<long long>(i + 1) * source / target);
        out[i] = {begin, std::max(end, begin + 1)};
    }
    return out;
}

}  // namespace

BgraImage scaled(BgraImage src, int width, int height) {
    if (width == src.width && height == src.height) return src;
    BgraImage out(std::max(width, 0), std::max(height, 0));
    if (out.width == 0 || out.height == 0 || src.width == 0 || src.height == 0) return out;
    const auto xs = spans(src.width, out.width), ys = spans(src.height, out.height);
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            std::uint64_t sum[4] = {0, 0, 0, 0};  // wide: a big shrink sums millions of bytes
            for (int sy = ys[y].first; sy < ys[y].second; ++sy)
                for (int sx = xs[x].first; sx < xs[x].second; ++sx) {
                    const std::uint8_t* p = src.pixel(sx, sy);
                    for (int c = 0; c < 4; ++c) sum[c] += p[c];
                }
            const std::uint64_t n = static_cast<std::uint64_t>(ys[y].second - ys[y].first) *
                                    static_cast<std::uint64_t>(xs[x].second - xs[x].first);
            std::uint8_t* d = out.pixel(x, y);
            for (int c = 0; c < 4; ++c) d[c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
        }
    }
    return out;
}

// The same sums as `scaled` over the expanded picture, grouped otherwise: each row of the result adds up the
// tile's rows under it once, column by column of the tile, and its pixels add up those column sums through
// the tile's column under each column of the area. A tile is narrow, so the rows cost next to nothing.
BgraImage scaledTile(const BgraImage& tile, const PixelRect& area, int width, int height) {
    BgraImage out(std::max(width, 0), std::max(height, 0));
    if (out.width == 0 || out.height == 0 || tile.width <= 0 || tile.height <= 0 || area.isEmpty())
        return out;
    const auto wrap = [](int v, int n) { return ((v % n) + n) % n; };
    std::vector<int> columns(area.width);
    for (int x = 0; x < area.width; ++x) columns[x] = wrap(area.x + x, tile.width);
    const auto xs = spans(area.width, out.width), ys = spans(area.height, out.height);
    std::vector<std::uint64_t> columnSums(static_cast<std::size_t>(tile.width) * 4);
    for (int y = 0; y < out.height; ++y) {
        std::fill(columnSums.begin(), columnSums.end(), 0);
        for (int sy = ys[y].first; sy < ys[y].second; ++sy) {
            const std::uint8_t* row = tile.pixel(0, wrap(area.y + sy, tile.height));
            for (std::size_t i = 0; i < columnSums.size(); ++i) columnSums[i] += row[i];
        }
        const std::uint64_t rows = static_cast<std::uint64_t>(ys[y].second - ys[y].first);
        for (int x = 0; x < out.width; ++x) {
            std::uint64_t sum[4] = {0, 0, 0, 0};
            for (int sx = xs[x].first; sx < xs[x].second; ++sx) {
                const std::uint64_t* column = &columnSums[static_cast<std::size_t>(columns[sx]) * 4];
                for (int c = 0; c < 4; ++c) sum[c] += column[c];
            }
            const std::uint64_t n = rows * static_cast<std::uint64_t>(xs[x].second - xs[x].first);
            std::uint8_t* d = out.pixel(x, y);
            for (int c = 0; c < 4; ++c) d[c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
        }
    }
    return out;
}

CaptureFrame toFrame(BgraImage&& image, double timestamp) {
    CaptureFrame frame;
    frame.width = image.width;
    frame.height = image.height;
    frame.bytesPerRow = image.width * 4;
    frame.timestamp = timestamp;
    frame.pixels = std::make_shared<const std::vector<std::uint8_t>>(std::move(image.bytes));
    return frame;
}

}  // namespace velaro::x11capture
