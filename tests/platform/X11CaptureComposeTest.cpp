// Strip geometry, exclusion masks, clean-pixel filling, compositing and scaling of the X11 capture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/linux/X11CaptureCompose.h"

namespace velaro::x11capture {
namespace {

struct Bgra {
    int b, g, r, a;
    friend bool operator==(const Bgra&, const Bgra&) = default;
};
std::ostream& operator<<(std::ostream& os, const Bgra& p) {
    return os << "(" << p.b << "," << p.g << "," << p.r << "," << p.a << ")";
}

Bgra at(const BgraImage& image, int x, int y) {
    const auto* p = image.pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}
void put(BgraImage& image, int x, int y, Bgra c) {
    auto* p = image.pixel(x, y);
    p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = c.a;
}
// An opaque image whose pixel (x, y) has blue = x and green = y, so every copy can be traced to its source.
BgraImage coordinates(int w, int h) {
    BgraImage image(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) put(image, x, y, {x, y, 0, 255});
    return image;
}
std::vector<std::uint8_t> maskOf(int w, int h, std::initializer_list<PixelRect> rects) {
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(w) * h, 0);
    for (const auto& r : rects)
        for (int y = r.y; y < r.maxY(); ++y)
            for (int x = r.x; x < r.maxX(); ++x) mask[y * w + x] = 1;
    return mask;
}

TEST(X11CaptureGeometry, SourceRectangleBecomesRootPixelsOfItsDisplay) {
    const PixelRect display{0, 0, 1512, 982};
    EXPECT_EQ(sourceRectInRoot({0, 24, 1512, 6}, display, 1), (PixelRect{0, 24, 1512, 6}));
    // A second monitor to the right: the strip moves with it.
    EXPECT_EQ(sourceRectInRoot({0, 24, 1920, 6}, {1512, 100, 1920, 1080}, 1),
              (PixelRect{1512, 124, 1920, 6}));
    // Two pixels per point doubles everything.
    EXPECT_EQ(sourceRectInRoot({0, 24, 756, 6}, display, 2), (PixelRect{0, 48, 1512, 12}));
    // Fractions widen outwards so no pixel of the asked area is lost.
    EXPECT_EQ(sourceRectInRoot({0.5, 24.2, 10, 6}, display, 1), (PixelRect{0, 24, 11, 7}));
}

TEST(X11CaptureGeometry, SourceRectangleIsCutToTheDisplay) {
    const PixelRect display{100, 0, 800, 600};
    EXPECT_EQ(sourceRectInRoot({700, 590, 300, 36}, display, 1), (PixelRect{800, 590, 100, 10}));
    EXPECT_TRUE(sourceRectInRoot({900, 0, 10, 10}, display, 1).isEmpty());
    EXPECT_TRUE(sourceRectInRoot({-50, -50, 10, 10}, display, 1).isEmpty());
    // Absurd numbers give an empty or cut rectangle, never an overflowed one.
    EXPECT_EQ(sourceRectInRoot({-1e300, 0, 2e300, 6}, display, 1), (PixelRect{100, 0, 800, 6}));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(sourceRectInRoot({nan, 0, 10, 6}, display, 1).isEmpty());
    EXPECT_TRUE(sourceRectInRoot({0, 0, 10, 6}, display, 0).isEmpty());
}

TEST(X11CaptureGeometry, PrimaryMonitorComesFirst) {
    const Monitor left{10, {-1920, 0, 1920, 1080}, false}, main{20, {0, 0, 2560, 1440}, false},
        right{30, {2560, 0, 1920, 1080}, false};
    // The server names none: the monitor at the root's origin is the primary, not the first listed.
    auto ordered = primaryFirst({left, main, right});
    ASSERT_EQ(ordered.size(), 3u);
    EXPECT_EQ(ordered[0].displayID, 20u);
    EXPECT_TRUE(ordered[0].primary);
    EXPECT_FALSE(ordered[1].primary);
    // The one the server names wins, and only one stays marked.
    Monitor named = right;
    named.primary = true;
    ordered = primaryFirst({left, main, named});
    EXPECT_EQ(ordered[0].displayID, 30u);
    EXPECT_EQ(std::count_if(ordered.begin(), ordered.end(), [](const Monitor& m) { return m.primary; }), 1);
    // Nothing at the origin: the first listed.
    EXPECT_EQ(primaryFirst({right, left})[0].displayID, 30u);
    EXPECT_TRUE(primaryFirst({}).empty());
}

TEST(X11CaptureGeometry, BackgroundTileRepeatsFromTheRootOrigin) {
    BgraImage tile = coordinates(3, 2);
    const BgraImage strip = tiled(tile, {4, 5, 4, 2});
    // Root x 4..7 → tile columns 1, 2, 0, 1; root y 5, 6 → tile rows 1, 0.
    EXPECT_EQ(at(strip, 0, 0), (Bgra{1, 1, 0, 255}));
    EXPECT_EQ(at(strip, 2, 0), (Bgra{0, 1, 0, 255}));
    EXPECT_EQ(at(strip, 3, 1), (Bgra{1, 0, 0, 255}));
    // Areas left of or above the origin wrap the same way.
    EXPECT_EQ(at(tiled(tile, {-1, -1, 1, 1}), 0, 0), (Bgra{2, 1, 0, 255}));
    EXPECT_EQ(tiled(BgraImage{}, {0, 0, 2, 2}).width, 2);
}

TEST(X11CaptureGeometry, TiledAreasMatchTheTilePixelForPixel) {
    // Rows and columns are filled by copying what is already filled: every pixel must still be the tile's
    // pixel at the root position modulo the tile, whatever the sizes and offsets.
    struct Case {
        int tileW, tileH;
        PixelRect area;
    };
    for (const Case& c :
         {Case{1, 1, {0, 28, 1920, 12}}, Case{3, 2, {4, 5, 100, 7}}, Case{7, 5, {-3, -9, 64, 11}},
          Case{64, 3, {10, 0, 63, 4}}, Case{64, 3, {10, 0, 200, 4}}, Case{5, 40, {2, 3, 9, 12}},
          Case{2, 1, {1, 0, 1, 3}}}) {
        const BgraImage tile = coordinates(c.tileW, c.tileH);
        const BgraImage out = tiled(tile, c.area);
        ASSERT_EQ(out.width, c.area.width);
        ASSERT_EQ(out.height, c.area.height);
        const auto wrap = [](int v, int n) { return ((v % n) + n) % n; };
        int wrong = 0;
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < out.width; ++x)
                wrong += at(out, x, y) != at(tile, wrap(c.area.x + x, c.tileW), wrap(c.area.y + y, c.tileH));
        EXPECT_EQ(wrong, 0) << "tile " << c.tileW << "x" << c.tileH << " over " << c.area.x << "," << c.area.y
                            << " " << c.area.width << "x" << c.area.height;
    }
}

TEST(X11CaptureMask, TopmostWindowDecidesEachPixel) {
    const PixelRect area{10, 20, 8, 2};
    // An excluded window, partly covered by a shown window stacked above it, and one beyond the area.
    const auto mask =
        exclusionMask(area, {{{0, 0, 14, 100}, true}, {{12, 0, 2, 100}, false}, {{100, 0, 5, 5}, true}});
    const std::vector<std::uint8_t> row = {1, 1, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<std::uint8_t>(mask.begin(), mask.begin() + 8), row);
    EXPECT_EQ(std::vector<std::uint8_t>(mask.begin() + 8, mask.end()), row);
    EXPECT_EQ(maskBounds(mask, 8, 2), (PixelRect{0, 0, 2, 2}));

    // Stacked the other way round the excluded window wins where they overlap.
    const auto flipped = exclusionMask(area, {{{12, 0, 2, 100}, false}, {{0, 0, 14, 100}, true}});
    EXPECT_EQ(std::count(flipped.begin(), flipped.end(), 1), 8);
    EXPECT_FALSE(anySet(exclusionMask(area, {{{12, 0, 2, 100}, false}})));
    EXPECT_TRUE(maskBounds(std::vector<std::uint8_t>(16, 0), 8, 2).isEmpty());
}

TEST(X11CaptureFill, MaskedRunsTakeTheNearestCleanColumn) {
    BgraImage image = coordinates(10, 2);
    // Row 0: a run of 4 in the middle (2..5); row 1: a run touching the left edge (0..2).
    fillFromNearestClean(image, maskOf(10, 2, {{2, 0, 4, 1}, {0, 1, 3, 1}}), nullptr);
    EXPECT_EQ(at(image, 2, 0).b, 1);  // nearer the left neighbour
    EXPECT_EQ(at(image, 3, 0).b, 1);  // equally far: the left one
    EXPECT_EQ(at(image, 4, 0).b, 6);
    EXPECT_EQ(at(image, 5, 0).b, 6);
    EXPECT_EQ(at(image, 6, 0).b, 6);  // clean pixels stay
    for (int x = 0; x < 3; ++x) EXPECT_EQ(at(image, x, 1), (Bgra{3, 1, 0, 255})) << x;
}

TEST(X11CaptureFill, FullyMaskedRowsTakeTheNearestCleanRow) {
    BgraImage image = coordinates(3, 5);
    // Rows 0, 2 and 3 are masked end to end; rows 1 and 4 are clean.
    fillFromNearestClean(image, maskOf(3, 5, {{0, 0, 3, 1}, {0, 2, 3, 2}}), nullptr);
    EXPECT_EQ(at(image, 2, 0), (Bgra{2, 1, 0, 255}));
    EXPECT_EQ(at(image, 1, 2), (Bgra{1, 1, 0, 255}));  // tie between rows 1 and 4 is 1 away vs 2: row 1
    EXPECT_EQ(at(image, 1, 3), (Bgra{1, 4, 0, 255}));
}

TEST(X11CaptureFill, NothingCleanUsesTheFallbackOrLeavesThePixels) {
    BgraImage image = coordinates(4, 2);
    const auto all = maskOf(4, 2, {{0, 0, 4, 2}});
    BgraImage wallpaper(4, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) put(wallpaper, x, y, {9, 9, 9, 255});
    BgraImage kept = image;
    fillFromNearestClean(kept, all, nullptr);
    EXPECT_EQ(kept.bytes, image.bytes);
    fillFromNearestClean(image, all, &wallpaper);
    EXPECT_EQ(image.bytes, wallpaper.bytes);
    // A fallback of another size is not read out of bounds.
    BgraImage small(1, 1);
    BgraImage other = coordinates(4, 2);
    fillFromNearestClean(other, all, &small);
    EXPECT_EQ(other.bytes, coordinates(4, 2).bytes);
}

TEST(X11CaptureCompose, DrawOverBlendsPremultipliedAndClips) {
    BgraImage dst(3, 1);
    for (int x = 0; x < 3; ++x) put(dst, x, 0, {255, 255, 255, 255});
    BgraImage half(2, 1);
    put(half, 0, 0, {0, 0, 128, 128});  // half-covering pure red
    put(half, 1, 0, {0, 0, 0, 0});      // fully transparent
    drawOver(dst, half, 1, 0, true);
    EXPECT_EQ(at(dst, 0, 0), (Bgra{255, 255, 255, 255}));
    EXPECT_EQ(at(dst, 1, 0), (Bgra{127, 127, 255, 255}));
    EXPECT_EQ(at(dst, 2, 0), (Bgra{255, 255, 255, 255}));

    // An opaque source overwrites, alpha forced; parts outside the target are dropped.
    BgraImage solid(2, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) put(solid, x, y, {1, 2, 3, 0});
    drawOver(dst, solid, -1, 0, false);
    EXPECT_EQ(at(dst, 0, 0), (Bgra{1, 2, 3, 255}));
    EXPECT_EQ(at(dst, 1, 0), (Bgra{127, 127, 255, 255}));
    // Channels above alpha (not premultiplied) saturate instead of wrapping.
    BgraImage bad(1, 1);
    put(bad, 0, 0, {255, 255, 255, 10});
    drawOver(dst, bad, 2, 0, true);
    EXPECT_EQ(at(dst, 2, 0), (Bgra{255, 255, 255, 255}));
}

TEST(X11CaptureCompose, ReplaceMaskedTakesOnlyMaskedPixelsFromAPlacedReplacement) {
    BgraImage image = coordinates(5, 2);
    // The replacement covers columns 1..3 of row 1 only; the mask also marks pixels outside it (row 0, column
    // 4), which must stay as they were rather than be read from beyond the replacement.
    BgraImage replacement(3, 1);
    for (int x = 0; x < 3; ++x) put(replacement, x, 0, {100 + x, 50, 7, 255});
    replaceMasked(image, replacement, {1, 1, 3, 1}, maskOf(5, 2, {{0, 0, 5, 1}, {2, 1, 3, 1}}));
    EXPECT_EQ(at(image, 1, 1), (Bgra{1, 1, 0, 255}));  // not masked
    EXPECT_EQ(at(image, 2, 1), (Bgra{101, 50, 7, 255}));
    EXPECT_EQ(at(image, 3, 1), (Bgra{102, 50, 7, 255}));
    EXPECT_EQ(at(image, 4, 1), (Bgra{4, 1, 0, 255}));  // masked, but the replacement does not reach it
    EXPECT_EQ(at(image, 3, 0), (Bgra{3, 0, 0, 255}));
}

TEST(X11CaptureScale, AveragesWhenShrinkingAndRepeatsWhenGrowing) {
    BgraImage src(4, 1);
    put(src, 0, 0, {0, 0, 0, 255});
    put(src, 1, 0, {100, 0, 0, 255});
    put(src, 2, 0, {200, 0, 0, 255});
    put(src, 3, 0, {255, 0, 0, 255});
    const BgraImage half = scaled(src, 2, 1);
    EXPECT_EQ(at(half, 0, 0), (Bgra{50, 0, 0, 255}));
    EXPECT_EQ(at(half, 1, 0), (Bgra{228, 0, 0, 255}));  // 227.5 rounds up

    const BgraImage doubled = scaled(half, 4, 2);
    EXPECT_EQ(at(doubled, 0, 1), (Bgra{50, 0, 0, 255}));
    EXPECT_EQ(at(doubled, 1, 0), (Bgra{50, 0, 0, 255}));
    EXPECT_EQ(at(doubled, 3, 1), (Bgra{228, 0, 0, 255}));
    EXPECT_EQ(scaled(src, 4, 1).bytes, src.bytes);
    EXPECT_EQ(scaled(src, 0, 3).width, 0);
}

TEST(X11CaptureScale, LargeShrinkDoesNotOverflowTheSums) {
    BgraImage wide(20000, 1000);
    std::fill(wide.bytes.begin(), wide.bytes.end(), 255);
    const BgraImage one = scaled(wide, 1, 1);
    EXPECT_EQ(at(one, 0, 0), (Bgra{255, 255, 255, 255}));
}

TEST(X11CaptureFrame, FrameCarriesPackedRowsAndTime) {
    const CaptureFrame frame = toFrame(coordinates(5, 2), 12.5);
    ASSERT_TRUE(frame.isValid());
    EXPECT_EQ(frame.bytesPerRow, 20);
    EXPECT_EQ(frame.timestamp, 12.5);
    EXPECT_EQ(frame.row(1)[4 * 3 + 0], 3);
    EXPECT_EQ(frame.row(1)[4 * 3 + 1], 1);
}

}  // namespace
}  // namespace velaro::x11capture
