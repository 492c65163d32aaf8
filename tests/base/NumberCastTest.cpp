// The saturating conversions at the edges of their target types (the sanitizer build stops at any overflow).
#include "base/NumberCast.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace velaro {
namespace {

TEST(NumberCast, PastEitherEndGivesThatEndAndInsideTruncatesOrRounds) {
    using Int = std::numeric_limits<int>;
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(saturatedCast<int>(1e308), Int::max());
    EXPECT_EQ(saturatedCast<int>(-inf), Int::min());
    EXPECT_EQ(saturatedCast<int>(2147483647.9), Int::max());
    EXPECT_EQ(saturatedCast<int>(-2147483648.9), Int::min());
    EXPECT_EQ(saturatedCast<int>(-7.9), -7);
    EXPECT_EQ(saturatedRound<int>(-7.5), -8);
    EXPECT_EQ(saturatedRound<int>(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(saturatedCast<std::int64_t>(9223372036854775808.0), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(saturatedCast<std::uint64_t>(inf), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(saturatedCast<std::uint8_t>(-0.9), 0);
    EXPECT_EQ(saturatedCast<std::uint8_t>(256.0), 255);
}

}  // namespace
}  // namespace velaro
