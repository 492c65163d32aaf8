// The row conversion and comparison of every line kernel this processor runs, against plain per-pixel work.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "sampling/LineKernels.h"

namespace velaro {
namespace {

// Rows whose lengths end inside, at and just past the vector widths and the comparison's blocks, written
// at every position within a cache line (the wide form lines its stores up with the destination's lines).
TEST(LineKernels, ConvertRowsToOpaqueRgbaAndCompareOnlyTheirColours) {
    for (const auto* kernels : availableLineKernels()) {
        SCOPED_TRACE(kernels->name);
        for (const std::size_t count : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 200u, 1840u}) {
            SCOPED_TRACE(count);
            std::vector<std::uint8_t> bgra(count * 4);
            for (std::size_t i = 0; i < bgra.size(); ++i)
                bgra[i] = static_cast<std::uint8_t>(i * 131 + i / 7);
            // A pixel before and after the row must stay as it was.
            std::vector<std::uint8_t> space(count * 4 + 64 + 8);
            std::uint8_t* rgba = nullptr;
            for (std::size_t lead = 4; lead < 4 + 64; lead += count < 100 ? 2 : 12) {
                SCOPED_TRACE(lead);
                std::fill(space.begin(), space.end(), 0x5A);
                rgba = space.data() + lead;
                kernels->convertRow(bgra.data(), count, rgba);
                for (std::size_t x = 0; x < count; ++x) {
                    const std::uint8_t* s = &bgra[x * 4];
                    const std::uint8_t* d = &rgba[x * 4];
                    ASSERT_TRUE(d[0] == s[2] && d[1] == s[1] && d[2] == s[0] && d[3] == 255) << x;
                }
                ASSERT_TRUE(std::all_of(space.begin(), space.begin() + static_cast<std::ptrdiff_t>(lead),
                                        [](std::uint8_t b) { return b == 0x5A; }));
                ASSERT_TRUE(std::all_of(rgba + count * 4, space.data() + space.size(),
                                        [](std::uint8_t b) { return b == 0x5A; }));
            }
            EXPECT_TRUE(kernels->sameColors(bgra.data(), rgba, count));

            // Opacity is not a colour; every colour byte is, wherever it sits.
            for (std::size_t x = 0; x < count; ++x) bgra[x * 4 + 3] ^= 0x33;
            EXPECT_TRUE(kernels->sameColors(bgra.data(), rgba, count));
            for (const std::size_t byte : {std::size_t{0}, count * 2 + 1, count * 4 - 2}) {
                if (byte % 4 == 3) continue;
                bgra[byte] ^= 1;
                EXPECT_FALSE(kernels->sameColors(bgra.data(), rgba, count)) << byte;
                bgra[byte] ^= 1;
            }
        }
    }
}

// Every sum a zone of these sizes can have, in each channel, divided as a plain division would: the vector
// form divides by multiplying and correcting, which must land on the same double every time.
TEST(LineKernels, ZoneColoursAreThePlainQuotientsOfEverySum) {
    for (const auto* kernels : availableLineKernels()) {
        SCOPED_TRACE(kernels->name);
        for (const int n : {1, 3, 30, 61, 256}) {
            SCOPED_TRACE(n);
            const int width = 64 * n;
            const int top = 255 * n;
            std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
            std::vector<Color> zones(64);
            Color mean;
            // Zone i, channel c holds the sum `first + 3 * i + c`: 192 sums a row.
            for (int first = 0; first <= top; first += 192) {
                const auto sumOf = [&](int zone, int channel) {
                    return std::min(top, first + 3 * zone + channel);
                };
                for (int zone = 0; zone < 64; ++zone)
                    for (int c = 0; c < 4; ++c) {
                        const int sum = c < 3 ? sumOf(zone, c) : 0;
                        for (int k = 0; k < n; ++k)
                            row[static_cast<std::size_t>(zone * n + k) * 4 + c] =
                                static_cast<std::uint8_t>(sum / n + (k < sum % n ? 1 : 0));
                    }
                kernels->zoneColors(row.data(), width, 64, zones.data(), mean);
                const double d = n * 255.0;
                for (int zone = 0; zone < 64; ++zone)
                    ASSERT_EQ(zones[zone],
                              Color::rgb(sumOf(zone, 0) / d, sumOf(zone, 1) / d, sumOf(zone, 2) / d))
                        << first << " zone " << zone;
            }
        }
        // Other zone counts, odd ones too, split as the plain form splits them.
        std::vector<std::uint8_t> row(1000 * 4);
        for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<std::uint8_t>(i * 29 + i / 3);
        for (const int zoneCount : {1, 2, 7, 64}) {
            SCOPED_TRACE(zoneCount);
            std::vector<Color> zones(zoneCount), plainZones(zoneCount);
            Color mean, plainMean;
            kernels->zoneColors(row.data(), 1000, zoneCount, zones.data(), mean);
            portableLineKernels().zoneColors(row.data(), 1000, zoneCount, plainZones.data(), plainMean);
            EXPECT_EQ(zones, plainZones);
            EXPECT_EQ(mean, plainMean);
        }
    }
}

// Every way a line splits into zones, for every width up to 16 pixels a zone and then some, with a few zone
// counts: the vector forms' whole vectors, masked tails and wider last zone land on the portable form's
// colours. A row of uneven bytes, read at an odd offset so no load is aligned by chance.
TEST(LineKernels, EveryZoneSplitGivesThePortableColours) {
    std::vector<std::uint8_t> bytes(4 * 1200 + 4);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 97 + i / 11);
    const std::uint8_t* row = bytes.data() + 4;
    for (const auto* kernels : availableLineKernels()) {
        SCOPED_TRACE(kernels->name);
        for (const int zoneCount : {1, 3, 64}) {
            for (int width = zoneCount; width <= 17 * zoneCount + 40 && width <= 1200; ++width) {
                std::vector<Color> zones(zoneCount), plainZones(zoneCount);
                Color mean, plainMean;
                kernels->zoneColors(row, width, zoneCount, zones.data(), mean);
                portableLineKernels().zoneColors(row, width, zoneCount, plainZones.data(), plainMean);
                ASSERT_EQ(zones, plainZones) << zoneCount << " zones over " << width;
                ASSERT_EQ(mean, plainMean) << zoneCount << " zones over " << width;
            }
        }
    }
}

// Smoothing moves each zone colour as the plain blend does, bit for bit, whatever the fraction, and leaves
// the colours past `count` alone (an odd count leaves one for the narrower vectors).
TEST(LineKernels, BlendColoursAsThePlainBlendDoes) {
    std::vector<Color> to(64);
    std::vector<Color> start(64);
    for (int i = 0; i < 64; ++i) {
        start[i] = Color::rgb(i / 63.0, 1 - i / 97.0, (i * 37 % 64) / 64.0, 0.25);
        to[i] = Color::rgb((i * 11 % 64) / 63.0, i / 255.0, 0.1 + i / 71.0, 0.5);
    }
    for (const auto* kernels : availableLineKernels()) {
        SCOPED_TRACE(kernels->name);
        for (const double fraction : {-0.5, 0.0, 0.163, 1 / 3.0, 0.999, 1.0, 2.0, std::nan("")}) {
            SCOPED_TRACE(fraction);
            for (const std::size_t count : {std::size_t{64}, std::size_t{5}}) {
                auto blended = start;
                kernels->blendColors(blended.data(), to.data(), count, fraction);
                for (std::size_t i = 0; i < 64; ++i)
                    ASSERT_EQ(blended[i], i < count ? interpolated(start[i], to[i], fraction) : start[i])
                        << i;
            }
        }
    }
}

// Smoothing a colour toward black (or any channel of 0) for minutes ends exactly on the target instead of
// shrinking into subnormal numbers, which never reach 0 and make every later blend many times slower.
TEST(LineKernels, SmoothingReachesItsTargetInsteadOfShrinkingForever) {
    const std::vector<Color> to(5, Color::rgb(0, 1, 0.5));
    for (const auto* kernels : availableLineKernels()) {
        SCOPED_TRACE(kernels->name);
        std::vector<Color> zones(5, Color::rgb(1, 0, 0.25));
        for (int frame = 0; frame < 60 * 120; ++frame) {
            kernels->blendColors(zones.data(), to.data(), zones.size(), 0.163);
            for (const Color& c : zones)
                for (const double channel : {c.red, c.green, c.blue})
                    ASSERT_NE(std::fpclassify(channel), FP_SUBNORMAL) << "frame " << frame;
        }
        for (const Color& c : zones) EXPECT_EQ(c, Color::rgb(0, 1, 0.5));
    }
}

}  // namespace
}  // namespace velaro
