// Helpers of the fuzz targets: a property that fails stops the run with a crash report libFuzzer keeps.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#define VELARO_FUZZ_REQUIRE(condition)                                                                  \
    do {                                                                                                \
        if (!(condition)) {                                                                             \
            std::fprintf(stderr, "fuzz property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                               \
        }                                                                                               \
    } while (false)

namespace velaro::fuzz {
inline std::span<const std::uint8_t> bytes(const std::uint8_t* data, std::size_t size) {
    return {data, size};
}
}  // namespace velaro::fuzz
