// The per-pixel loops of the frame analysis, portable and in AVX2.
#include "sampling/LineKernels.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <optional>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VELARO_VECTOR_LINE_KERNELS 1
#include <immintrin.h>
#endif

namespace velaro {

Color colorOfSums(std::uint64_t red, std::uint64_t green, std::uint64_t blue, std::uint64_t count) {
    const double d = static_cast<double>(count) * 255.0;
    return Color::rgb(static_cast<double>(red) / d, static_cast<double>(green) / d,
                      static_cast<double>(blue) / d);
}

namespace {

// ---- portable ----

// The RGBA form, opaque, of a BGRA pixel read as a native word.
constexpr std::uint32_t rgbaOf(std::uint32_t v) {
    if constexpr (std::endian::native == std::endian::little)
        return (v & 0x0000FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16) | 0xFF000000u;
    else
        return (v & 0x00FF0000u) | ((v >> 16) & 0xFF00u) | ((v & 0xFF00u) << 16) | 0xFFu;
}

void convertRowPortable(const std::uint8_t* bgra, std::size_t count, std::uint8_t* rgba) {
    const std::uint8_t* __restrict src = bgra;
    std::uint8_t* __restrict dst = rgba;
    // A word at a time so the loop vectorises.
    for (std::size_t x = 0; x < count; ++x) {
        std::uint32_t v;
        std::memcpy(&v, src + x * 4, 4);
        v = rgbaOf(v);
        std::memcpy(dst + x * 4, &v, 4);
    }
}

bool sameColorsPortable(const std::uint8_t* bgra, const std::uint8_t* rgba, std::size_t count) {
    constexpr std::uint32_t kColorBits = rgbaOf(0x00FFFFFFu) & ~rgbaOf(0);
    // Blocks keep the inner loop free of branches (it vectorises) and still stop soon at a changed row.
    constexpr std::size_t kBlock = 64;
    for (std::size_t begin = 0; begin < count; begin += kBlock) {
        const std::size_t end = std::min(count, begin + kBlock);
        std::uint32_t diff = 0;
        for (std::size_t i = begin; i < end; ++i) {
            std::uint32_t a, b;
            std::memcpy(&a, bgra + i * 4, 4);
            std::memcpy(&b, rgba + i * 4, 4);
            diff |= rgbaOf(a) ^ b;
        }
        if ((diff & kColorBits) != 0) return false;
    }
    return true;
}

struct ChannelSums {
    std::uint64_t r = 0, g = 0, b = 0;
};

// The red, green and blue sums of `count` RGBA pixels.
ChannelSums sumPixels(const std::uint8_t* rgba, int count) {
    // Red and blue share a 32-bit lane as two 16-bit fields and green has a lane of its own, so the loop
    // runs in plain 32-bit vector lanes. A field holds 257 bytes of 255 before it could carry into the
    // next: blocks of 256 pixels, each folded into the 64-bit sums.
    constexpr int kBlock = 256;
    ChannelSums sums;
    for (int begin = 0; begin < count; begin += kBlock) {
        const int n = std::min(kBlock, count - begin);
        const std::uint8_t* p = rgba + static_cast<std::size_t>(begin) * 4;
        std::uint32_t redBlue = 0, green = 0;
        for (int i = 0; i < n; ++i) {
            std::uint32_t v;
            std::memcpy(&v, p + i * 4, 4);
            if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
            redBlue += v & 0x00FF00FFu;
            green += (v >> 8) & 0xFFu;
        }
        sums.r += redBlue & 0xFFFFu;
        sums.b += redBlue >> 16;
        sums.g += green;
    }
    return sums;
}

void zoneColorsPortable(const std::uint8_t* rgba, int width, int zoneCount, Color* zones, Color& mean) {
    const int step = width / zoneCount;
    ChannelSums total;
    for (int i = 0; i < zoneCount; ++i) {
        const int start = i * step;
        const int count = i == zoneCount - 1 ? width - start : step;
        const ChannelSums zone = sumPixels(rgba + static_cast<std::size_t>(start) * 4, count);
        zones[i] = colorOfSums(zone.r, zone.g, zone.b, static_cast<std::uint64_t>(count));
        total.r += zone.r;
        total.g += zone.g;
        total.b += zone.b;
    }
    mean = colorOfSums(total.r, total.g, total.b, static_cast<std::uint64_t>(width));
}

void blendColorsPortable(Color* from, const Color* to, std::size_t count, double fraction) {
    for (std::size_t i = 0; i < count; ++i) from[i] = interpolated(from[i], to[i], fraction);
}

constexpr LineKernels kPortable{"portable", convertRowPortable, sameColorsPortable, zoneColorsPortable,
                                blendColorsPortable};

// ---- AVX2 with FMA ----

#ifdef VELARO_VECTOR_LINE_KERNELS

#define VELARO_VECTOR_TARGET __attribute__((target("avx2,fma")))

static_assert(sizeof(Color) == 4 * sizeof(double) && offsetof(Color, red) == 0 &&
                  offsetof(Color, green) == sizeof(double) && offsetof(Color, blue) == 2 * sizeof(double) &&
                  offsetof(Color, alpha) == 3 * sizeof(double),
              "a colour is stored as four doubles in the order red, green, blue, alpha");

// BGRA → RGBA, and the opaque alpha.
#define VELARO_RGBA_ORDER                                                                                    \
    _mm256_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15, 2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, \
                     11, 14, 13, 12, 15)

VELARO_VECTOR_TARGET bool sameColorsVector(const std::uint8_t* bgra, const std::uint8_t* rgba,
                                           std::size_t count) {
    const __m256i order = VELARO_RGBA_ORDER;
    const __m256i colorBits = _mm256_set1_epi32(0x00FFFFFF);
    constexpr std::size_t kBlock = 64;
    std::size_t x = 0;
    while (x + 8 <= count) {
        const std::size_t end = std::min(count & ~std::size_t{7}, x + kBlock);
        __m256i diff = _mm256_setzero_si256();
        for (; x < end; x += 8) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bgra + x * 4));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rgba + x * 4));
            diff = _mm256_or_si256(diff, _mm256_xor_si256(_mm256_shuffle_epi8(a, order), b));
        }
        if (!_mm256_testz_si256(diff, colorBits)) return false;
    }
    return x == count || sameColorsPortable(bgra + x * 4, rgba + x * 4, count - x);
}

VELARO_VECTOR_TARGET void convertRowVector(const std::uint8_t* bgra, std::size_t count, std::uint8_t* rgba) {
    const __m256i order = VELARO_RGBA_ORDER;
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    std::size_t x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bgra + x * 4));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(rgba + x * 4),
                            _mm256_or_si256(_mm256_shuffle_epi8(v, order), opaque));
    }
    if (x < count) convertRowPortable(bgra + x * 4, count - x, rgba + x * 4);
}

// Zones of up to this many pixels keep every 16-bit lane of the sums below 2^16: at the end a lane holds one
// channel of the whole zone, at most 255 a pixel.
constexpr int kMaxVectorZonePixels = 256;

// The pixels of a zone short of a whole vector: a mask of the first `count % 8` pixel lanes.
VELARO_VECTOR_TARGET inline __m256i tailMask(int count) {
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(count % 8), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// The channel sums of pixels [p, p + count) in 16-bit lanes, per 128-bit half [r01 r23 g01 g23 b01 b23 0 0].
// The pixels short of a whole vector are read with the masked load `tail`, so nothing past them is touched.
VELARO_VECTOR_TARGET inline __m256i sumZone(const std::uint8_t* p, int count, __m256i tail) {
    // Each 128-bit half (four pixels) is arranged as the four reds, the four greens, the four blues and
    // zeros; adding neighbouring bytes then gives the lanes above.
    const __m256i byChannel = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, -1, -1, -1, -1,  //
                                               0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, -1, -1, -1, -1);
    const __m256i ones = _mm256_set1_epi8(1);
    __m256i acc = _mm256_setzero_si256();
    const std::uint8_t* end = p + static_cast<std::size_t>(count / 8) * 32;
    for (; p != end; p += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        acc = _mm256_add_epi16(acc, _mm256_maddubs_epi16(_mm256_shuffle_epi8(v, byChannel), ones));
    }
    if (count % 8) {
        const __m256i v = _mm256_maskload_epi32(reinterpret_cast<const int*>(p), tail);
        acc = _mm256_add_epi16(acc, _mm256_maddubs_epi16(_mm256_shuffle_epi8(v, byChannel), ones));
    }
    return acc;
}

// Sums divided by `divisor` (count × 255, an integer), correctly rounded as a plain division would be: the
// product with the rounded reciprocal `inverse` lies within two units of the last place of the quotient,
// its remainder is exact in one fused multiply-add, and one more step from there gives the nearest double,
// because a quotient of integers this small never lies close enough to a halfway point for the error left
// (far below a millionth of a unit) to decide the rounding.
VELARO_VECTOR_TARGET inline void storeColor(Color& out, __m128i sums, __m256d divisor, __m256d inverse) {
    const __m256d a = _mm256_cvtepi32_pd(sums);
    const __m256d q = _mm256_mul_pd(a, inverse);
    const __m256d r = _mm256_fnmadd_pd(q, divisor, a);
    const __m256d rounded = _mm256_fmadd_pd(r, inverse, q);
    _mm256_storeu_pd(&out.red, _mm256_blend_pd(rounded, _mm256_set1_pd(1.0), 0b1000));
}

// The pixels of each zone but the last (`step`) and of the last one, which takes the rest of the line.
struct ZoneWidths {
    int step;
    int last;
};

// Nothing where the vector forms cannot sum the zones (too narrow a line, too wide a zone): the portable
// form does.
inline std::optional<ZoneWidths> vectorZoneWidths(int width, int zoneCount) {
    const int step = width / zoneCount;
    const int last = width - (zoneCount - 1) * step;
    if (step < 1 || last > kMaxVectorZonePixels) return std::nullopt;
    return ZoneWidths{step, last};
}

// What a zone's channel sums are divided by.
constexpr double divisorOf(int count) {
    return static_cast<double>(count) * 255.0;
}

// The zone colours through `kernel` where it can sum the zones, else through the portable form.
template <void (*kernel)(const std::uint8_t*, int, int, ZoneWidths, Color*, Color&)>
void zoneColorsOrPortable(const std::uint8_t* rgba, int width, int zoneCount, Color* zones, Color& mean) {
    if (const auto widths = vectorZoneWidths(width, zoneCount))
        kernel(rgba, width, zoneCount, *widths, zones, mean);
    else
        zoneColorsPortable(rgba, width, zoneCount, zones, mean);
}

// The line's colour from its sums [r g b 0] in 32-bit lanes, which stay far below 2^31 for any width the
// vector forms take.
VELARO_VECTOR_TARGET inline void storeMean(__m128i total, int width, Color& mean) {
    alignas(16) std::int32_t t[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(t), total);
    mean = colorOfSums(static_cast<std::uint64_t>(t[0]), static_cast<std::uint64_t>(t[1]),
                       static_cast<std::uint64_t>(t[2]), static_cast<std::uint64_t>(width));
}

VELARO_VECTOR_TARGET void zoneColorsVector(const std::uint8_t* rgba, int width, int zoneCount,
                                           ZoneWidths widths, Color* zones, Color& mean) {
    const int step = widths.step;
    const int lastCount = widths.last;
    const __m256d divisor = _mm256_set1_pd(divisorOf(step));
    const __m256d inverse = _mm256_set1_pd(1.0 / divisorOf(step));
    const __m256i tail = tailMask(step);
    const __m128i zero = _mm_setzero_si128();
    __m128i total = zero;
    const auto sumOf = [&](int zone) VELARO_VECTOR_TARGET {
        const std::uint8_t* p = rgba + static_cast<std::size_t>(zone) * step * 4;
        if (zone < zoneCount - 1) return sumZone(p, step, tail);
        return sumZone(p, lastCount, tailMask(lastCount));
    };
    const auto store = [&](int zone, __m128i sums) VELARO_VECTOR_TARGET {
        if (zone < zoneCount - 1)
            storeColor(zones[zone], sums, divisor, inverse);
        else
            storeColor(zones[zone], sums, _mm256_set1_pd(divisorOf(lastCount)),
                       _mm256_set1_pd(1.0 / divisorOf(lastCount)));
    };
    // Two zones at a time: adding neighbouring lanes of both gives [r g b 0] of each per half, whole once
    // the halves are added (a zone's sums stay below 2^16).
    for (int i = 0; i < zoneCount; i += 2) {
        const bool pair = i + 1 < zoneCount;
        const __m256i both = _mm256_hadd_epi16(sumOf(i), pair ? sumOf(i + 1) : _mm256_setzero_si256());
        const __m128i sums = _mm_add_epi16(_mm256_castsi256_si128(both), _mm256_extracti128_si256(both, 1));
        const __m128i first = _mm_unpacklo_epi16(sums, zero);
        const __m128i second = _mm_unpackhi_epi16(sums, zero);
        total = _mm_add_epi32(total, _mm_add_epi32(first, second));
        store(i, first);
        if (pair) store(i + 1, second);
    }
    storeMean(total, width, mean);
}

// The fraction clamped as `interpolated` clamps it.
inline double blendFraction(double fraction) {
    if (!(fraction < 1)) return 1;
    return fraction < 0 ? 0 : fraction;
}

VELARO_VECTOR_TARGET void blendColorsVector(Color* from, const Color* to, std::size_t count,
                                            double fraction) {
    const __m256d by = _mm256_set1_pd(blendFraction(fraction));
    const __m256d opaque = _mm256_set1_pd(1.0);
    const __m256d snap = _mm256_set1_pd(kBlendSnap);
    for (std::size_t i = 0; i < count; ++i) {
        const __m256d a = _mm256_loadu_pd(&from[i].red);
        const __m256d target = _mm256_loadu_pd(&to[i].red);
        __m256d step = _mm256_mul_pd(_mm256_sub_pd(target, a), by);
        // Kept apart from the addition: fused into one multiply-add the result would be rounded once
        // instead of twice, and differ in the last bit from the plain form.
        asm("" : "+x"(step));
        const __m256d moved = _mm256_add_pd(a, step);
        // Within the snap distance of the target the channel takes the target, as the plain blend does.
        const __m256d off = _mm256_andnot_pd(_mm256_set1_pd(-0.0), _mm256_sub_pd(target, moved));
        const __m256d snapped = _mm256_blendv_pd(moved, target, _mm256_cmp_pd(off, snap, _CMP_LT_OQ));
        _mm256_storeu_pd(&from[i].red, _mm256_blend_pd(snapped, opaque, 0b1000));
    }
}

constexpr LineKernels kVector{"avx2", convertRowVector, sameColorsVector,
                              zoneColorsOrPortable<zoneColorsVector>, blendColorsVector};

bool processorRunsVectorKernels() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

// ---- AVX-512 with byte and word operations and byte dot products (and its 256-bit forms) ----
//
// Twice the pixels an instruction, and masks instead of loops for the pixels short of a whole vector: a 30-
// pixel zone is one full and one masked load. The sums are the same exact integers and the quotients come
// from the same correction step, so the colours are the same.

#define VELARO_WIDE_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,avx512vnni,avx2,fma")))

// (The masked forms of some operations below only keep GCC from warning about the unmasked forms' undefined
// starting value; every lane is kept.)
VELARO_WIDE_TARGET inline __m512i wide128(__m128i lanes) {
    return _mm512_maskz_broadcast_i32x4(0xFFFF, lanes);
}

// BGRA → RGBA, and the opaque alpha, per 128-bit quarter.
VELARO_WIDE_TARGET inline __m512i rgbaOrderWide() {
    return wide128(_mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15));
}

// The first `count` (< 16) pixel lanes.
inline __mmask16 firstPixels(std::size_t count) {
    return static_cast<__mmask16>((1u << count) - 1);
}

VELARO_WIDE_TARGET void convertRowWide(const std::uint8_t* bgra, std::size_t count, std::uint8_t* rgba) {
    const __m512i order = rgbaOrderWide();
    const __m512i opaque = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
    const auto convert = [&](__m512i v) VELARO_WIDE_TARGET {
        return _mm512_or_si512(_mm512_shuffle_epi8(v, order), opaque);
    };
    std::size_t x = 0;
    // Stores that straddle two cache lines cost two: the pixels up to the destination's next line first.
    const std::size_t offset = reinterpret_cast<std::uintptr_t>(rgba) % 64;
    if (offset != 0 && offset % 4 == 0) {
        const __mmask16 head = firstPixels(std::min(count, (64 - offset) / 4));
        _mm512_mask_storeu_epi32(rgba, head, convert(_mm512_maskz_loadu_epi32(head, bgra)));
        x = std::min(count, (64 - offset) / 4);
    }
    for (; x + 16 <= count; x += 16)
        _mm512_storeu_si512(rgba + x * 4, convert(_mm512_loadu_si512(bgra + x * 4)));
    if (x < count) {
        const __mmask16 tail = firstPixels(count - x);
        _mm512_mask_storeu_epi32(rgba + x * 4, tail, convert(_mm512_maskz_loadu_epi32(tail, bgra + x * 4)));
    }
}

VELARO_WIDE_TARGET bool sameColorsWide(const std::uint8_t* bgra, const std::uint8_t* rgba,
                                       std::size_t count) {
    const __m512i order = rgbaOrderWide();
    const __m512i colorBits = _mm512_set1_epi32(0x00FFFFFF);
    constexpr std::size_t kBlock = 64;
    std::size_t x = 0;
    while (x < count) {
        const std::size_t end = std::min(count, x + kBlock);
        __m512i diff = _mm512_setzero_si512();
        for (; x + 16 <= end; x += 16) {
            const __m512i a = _mm512_loadu_si512(bgra + x * 4);
            const __m512i b = _mm512_loadu_si512(rgba + x * 4);
            diff = _mm512_or_si512(diff, _mm512_xor_si512(_mm512_shuffle_epi8(a, order), b));
        }
        if (x < end) {
            const __mmask16 tail = firstPixels(end - x);
            const __m512i a = _mm512_maskz_loadu_epi32(tail, bgra + x * 4);
            const __m512i b = _mm512_maskz_loadu_epi32(tail, rgba + x * 4);
            diff = _mm512_or_si512(diff, _mm512_xor_si512(_mm512_shuffle_epi8(a, order), b));
            x = end;
        }
        if (_mm512_test_epi32_mask(diff, colorBits)) return false;
    }
    return true;
}

// The channel sums of a zone as 32-bit integers, per 128-bit quarter [r g b 0]: the bytes of each quarter's
// four pixels grouped by channel, then each group of four added into its lane in one step. The zone is
// `fullBytes` of whole vectors from `p`, then the pixels of the `tail` mask (none when the zone is whole
// vectors: a masked load of nothing reads nothing, so there is no branch).
VELARO_WIDE_TARGET inline __m512i sumZoneWide(const std::uint8_t* p, std::size_t fullBytes, __mmask16 tail) {
    const __m512i byChannel = wide128(_mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, -1, -1, -1, -1));
    const __m512i ones = _mm512_set1_epi8(1);
    const auto add = [&](__m512i acc, __m512i pixels) VELARO_WIDE_TARGET {
        return _mm512_dpbusd_epi32(acc, _mm512_shuffle_epi8(pixels, byChannel), ones);
    };
    const std::uint8_t* end = p + fullBytes;
    __m512i acc = add(_mm512_setzero_si512(), _mm512_maskz_loadu_epi32(tail, end));
    for (; p != end; p += 64) acc = add(acc, _mm512_loadu_si512(p));
    return acc;
}

// Where a zone's pixels lie for sumZoneWide.
struct WideZone {
    std::size_t fullBytes;
    __mmask16 tail;
};

inline WideZone wideZone(int count) {
    return {static_cast<std::size_t>(count / 16) * 64, firstPixels(static_cast<std::size_t>(count % 16))};
}

// [r g b 0] of two zones (the first, then the second) from their quarters' sums.
VELARO_WIDE_TARGET inline __m256i pairSums(__m512i first, __m512i second) {
    // [f0 f1 s0 s1] + [f2 f3 s2 s3], then the two halves of each zone.
    const __m512i halves =
        _mm512_add_epi32(_mm512_maskz_shuffle_i64x2(0xFF, first, second, _MM_SHUFFLE(1, 0, 1, 0)),
                         _mm512_maskz_shuffle_i64x2(0xFF, first, second, _MM_SHUFFLE(3, 2, 3, 2)));
    const __m512i whole =
        _mm512_add_epi32(_mm512_maskz_shuffle_i64x2(0xFF, halves, halves, _MM_SHUFFLE(2, 0, 2, 0)),
                         _mm512_maskz_shuffle_i64x2(0xFF, halves, halves, _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm512_maskz_extracti64x4_epi64(0xF, whole, 0);
}

// storeColor for the two zones of `sums` at once; `keep` masks the components stored (0xFF: both zones).
VELARO_WIDE_TARGET inline void storeColorPair(Color* out, __m256i sums, __m512d divisor, __m512d inverse,
                                              __mmask8 keep) {
    const __m512d a = _mm512_maskz_cvtepi32_pd(0xFF, sums);
    const __m512d q = _mm512_mul_pd(a, inverse);
    const __m512d r = _mm512_fnmadd_pd(q, divisor, a);
    const __m512d rounded = _mm512_fmadd_pd(r, inverse, q);
    _mm512_mask_storeu_pd(&out->red, keep, _mm512_mask_blend_pd(0x88, rounded, _mm512_set1_pd(1.0)));
}

VELARO_WIDE_TARGET void zoneColorsWide(const std::uint8_t* rgba, int width, int zoneCount, ZoneWidths widths,
                                       Color* zones, Color& mean) {
    const int step = widths.step;
    const int lastCount = widths.last;
    const __m512d divisor = _mm512_set1_pd(divisorOf(step));
    const __m512d inverse = _mm512_set1_pd(1.0 / divisorOf(step));
    const std::size_t stepBytes = static_cast<std::size_t>(step) * 4;
    const WideZone zone = wideZone(step);
    __m256i total = _mm256_setzero_si256();
    // Two zones at a time, up to the last one, which may be wider.
    int i = 0;
    const std::uint8_t* p = rgba;
    for (; i + 2 < zoneCount; i += 2, p += 2 * stepBytes) {
        const __m256i sums = pairSums(sumZoneWide(p, zone.fullBytes, zone.tail),
                                      sumZoneWide(p + stepBytes, zone.fullBytes, zone.tail));
        total = _mm256_add_epi32(total, sums);
        storeColorPair(zones + i, sums, divisor, inverse, 0xFF);
    }
    const WideZone last = wideZone(lastCount);
    const __m512d lastDivisor = _mm512_set1_pd(divisorOf(lastCount));
    const __m512d lastInverse = _mm512_set1_pd(1.0 / divisorOf(lastCount));
    __m256i sums;
    if (i + 1 < zoneCount) {
        sums = pairSums(sumZoneWide(p, zone.fullBytes, zone.tail),
                        sumZoneWide(p + stepBytes, last.fullBytes, last.tail));
        storeColorPair(zones + i, sums, _mm512_mask_blend_pd(0xF0, divisor, lastDivisor),
                       _mm512_mask_blend_pd(0xF0, inverse, lastInverse), 0xFF);
    } else {
        sums = pairSums(sumZoneWide(p, last.fullBytes, last.tail), _mm512_setzero_si512());
        storeColorPair(zones + i, sums, lastDivisor, lastInverse, 0x0F);
    }
    total = _mm256_add_epi32(total, sums);
    storeMean(_mm_add_epi32(_mm256_castsi256_si128(total), _mm256_extracti128_si256(total, 1)), width, mean);
}

VELARO_WIDE_TARGET void blendColorsWide(Color* from, const Color* to, std::size_t count, double fraction) {
    const __m512d by = _mm512_set1_pd(blendFraction(fraction));
    const __m512d opaque = _mm512_set1_pd(1.0);
    const __m512d snap = _mm512_set1_pd(kBlendSnap);
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const __m512d a = _mm512_loadu_pd(&from[i].red);
        const __m512d target = _mm512_loadu_pd(&to[i].red);
        __m512d step = _mm512_mul_pd(_mm512_sub_pd(target, a), by);
        asm("" : "+v"(step));  // not fused with the addition, as in blendColorsVector
        const __m512d moved = _mm512_add_pd(a, step);
        const __mmask8 near =
            _mm512_cmp_pd_mask(_mm512_abs_pd(_mm512_sub_pd(target, moved)), snap, _CMP_LT_OQ);
        _mm512_storeu_pd(&from[i].red,
                         _mm512_mask_blend_pd(0x88, _mm512_mask_blend_pd(near, moved, target), opaque));
    }
    if (i < count) blendColorsVector(from + i, to + i, count - i, fraction);
}

constexpr LineKernels kWide{"avx512", convertRowWide, sameColorsWide, zoneColorsOrPortable<zoneColorsWide>,
                            blendColorsWide};

bool processorRunsWideKernels() {
    __builtin_cpu_init();
    return processorRunsVectorKernels() && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512vnni");
}

#endif

}  // namespace

const LineKernels& portableLineKernels() {
    return kPortable;
}

const LineKernels* vectorLineKernels() {
#ifdef VELARO_VECTOR_LINE_KERNELS
    static const bool runs = processorRunsVectorKernels();
    return runs ? &kVector : nullptr;
#else
    return nullptr;
#endif
}

const LineKernels* wideLineKernels() {
#ifdef VELARO_VECTOR_LINE_KERNELS
    static const bool runs = processorRunsWideKernels();
    return runs ? &kWide : nullptr;
#else
    return nullptr;
#endif
}

std::vector<const LineKernels*> availableLineKernels() {
    std::vector<const LineKernels*> kernels{&portableLineKernels()};
    for (const auto* faster : {vectorLineKernels(), wideLineKernels()})
        if (faster) kernels.push_back(faster);
    return kernels;
}

const LineKernels& lineKernels() {
    static const LineKernels& best = wideLineKernels()     ? *wideLineKernels()
                                     : vectorLineKernels() ? *vectorLineKernels()
                                                           : portableLineKernels();
    return best;
}

}  // namespace velaro
