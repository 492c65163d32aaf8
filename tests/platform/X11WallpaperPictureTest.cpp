// The wallpaper picture scaled straight from the root's tile: the same pixels as the tile repeated over the
// display and then scaled, for any tile, place and size, without the expansion in between.
#include <gtest/gtest.h>

#include "platform/linux/X11CaptureCompose.h"

namespace velaro::x11capture {
namespace {

// Every byte different and traceable to its pixel: a wrong column, row or average shows.
BgraImage patterned(int w, int h) {
    BgraImage image(w, h);
    for (std::size_t i = 0; i < image.bytes.size(); ++i)
        image.bytes[i] = static_cast<std::uint8_t>((i * 37 + i / 4 * 11) & 0xff);
    return image;
}

TEST(X11WallpaperPicture, ScaledFromTheTileMatchesTheExpandedPictureScaled) {
    struct Case {
        int tileW, tileH;
        PixelRect area;
        int width, height;
    };
    for (const Case& c : {
             Case{8, 8, {0, 0, 1920, 1080}, 920, 517},     // the test desktop's plain colour tile
             Case{7, 5, {1920, 0, 1280, 1024}, 920, 736},  // a second monitor: the tile repeats from the root
             Case{3, 2, {-3, -9, 64, 11}, 20, 3},
             Case{64, 40, {5, 7, 50, 30}, 50, 30},  // already the asked size: the tile's own pixels
             Case{2, 3, {1, 1, 4, 5}, 9, 11},       // enlarged: pixels repeat
             Case{1, 1, {0, 0, 300, 200}, 31, 17},
         }) {
        const BgraImage tile = patterned(c.tileW, c.tileH);
        const BgraImage direct = scaledTile(tile, c.area, c.width, c.height);
        const BgraImage expanded = scaled(tiled(tile, c.area), c.width, c.height);
        ASSERT_EQ(direct.width, c.width);
        ASSERT_EQ(direct.height, c.height);
        EXPECT_TRUE(direct.bytes == expanded.bytes)
            << "tile " << c.tileW << "x" << c.tileH << " over " << c.area.x << "," << c.area.y << " "
            << c.area.width << "x" << c.area.height << " at " << c.width << "x" << c.height;
    }
    // Nothing to read, or nothing asked: an empty picture, never a read outside the tile.
    EXPECT_EQ(scaledTile(BgraImage{}, {0, 0, 10, 10}, 5, 5).bytes, BgraImage(5, 5).bytes);
    EXPECT_EQ(scaledTile(patterned(4, 4), {0, 0, 0, 10}, 5, 5).bytes, BgraImage(5, 5).bytes);
    EXPECT_EQ(scaledTile(patterned(4, 4), {0, 0, 10, 10}, 0, 5).width, 0);
}

}  // namespace
}  // namespace velaro::x11capture
