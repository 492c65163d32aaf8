// The per-pixel loops of the frame analysis, portable and in AVX2.
#include "sampling/LineKernels.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

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

VELARO_VECTOR_TARGET void zoneColorsVector(const std::uint8_t* rgba, int width, int zoneCount, Color* zones,
                                           Color& mean) {
    const int step = width / zoneCount;
    const int lastCount = width - (zoneCount - 1) * step;
    if (step < 1 || lastCount > kMaxVectorZonePixels) {
        zoneColorsPortable(rgba, width, zoneCount, zones, mean);
        return;
    }
    const auto divisorOf = [](int count) { return static_cast<double>(count) * 255.0; };
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
    // The whole line's sums stay far below 2^31 for any width that gets here.
    alignas(16) std::int32_t t[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(t), total);
    mean = colorOfSums(static_cast<std::uint64_t>(t[0]), static_cast<std::uint64_t>(t[1]),
                       static_cast<std::uint64_t>(t[2]), static_cast<std::uint64_t>(width));
}

VELARO_VECTOR_TARGET void blendColorsVector(Color* from, const Color* to, std::size_t count,
                                            double fraction) {
    double t = fraction;  // clamped as `interpolated` clamps it
    if (!(t < 1)) {
        t = 1;
    } else if (t < 0) {
        t = 0;
    }
    const __m256d by = _mm256_set1_pd(t);
    const __m256d opaque = _mm256_set1_pd(1.0);
    for (std::size_t i = 0; i < count; ++i) {
        const __m256d a = _mm256_loadu_pd(&from[i].red);
        __m256d step = _mm256_mul_pd(_mm256_sub_pd(_mm256_loadu_pd(&to[i].red), a), by);
        // Kept apart from the addition: fused into one multiply-add the result would be rounded once
        // instead of twice, and differ in the last bit from the plain form.
        asm("" : "+x"(step));
        _mm256_storeu_pd(&from[i].red, _mm256_blend_pd(_mm256_add_pd(a, step), opaque, 0b1000));
    }
}

constexpr LineKernels kVector{"avx2", convertRowVector, sameColorsVector, zoneColorsVector,
                              blendColorsVector};

bool processorRunsVectorKernels() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
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

const LineKernels& lineKernels() {
    static const LineKernels& best = vectorLineKernels() ? *vectorLineKernels() : portableLineKernels();
    return best;
}

}  // namespace velaro
