// The per-pixel loops of the frame analysis: turning a captured row into the live line, and the zone colours
// of a line. A portable form builds everywhere; on x86-64 processors with AVX2 and FMA a vector form, and
// with AVX-512 (byte and word operations) a wider one, is chosen once at run time. Both give bit for bit the
// same results: the sums are exact integers and every division is correctly rounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/Color.h"

namespace velaro {

struct LineKernels {
    const char* name;
    // `count` BGRA pixels written as opaque RGBA.
    void (*convertRow)(const std::uint8_t* bgra, std::size_t count, std::uint8_t* rgba);
    // Whether `count` BGRA pixels have the colours of `count` RGBA pixels (opacity not compared).
    bool (*sameColors)(const std::uint8_t* bgra, const std::uint8_t* rgba, std::size_t count);
    // The colours of `zoneCount` zones of an RGBA line of `width` >= `zoneCount` pixels (zone i covers
    // [i * step, (i + 1) * step) with step = width / zoneCount, the last one runs to the end) and of the
    // whole line. Opacity is ignored; the colours are opaque.
    void (*zoneColors)(const std::uint8_t* rgba, int width, int zoneCount, Color* zones, Color& mean);
    // Each of `count` colours moved toward its counterpart in `to` as `interpolated` moves it, in place.
    void (*blendColors)(Color* from, const Color* to, std::size_t count, double fraction);
};

// Always present.
const LineKernels& portableLineKernels();
// Null where the processor (or the build's target) has no AVX2 with FMA.
const LineKernels* vectorLineKernels();
// Null where the processor (or the build's target) has no AVX-512 with byte and word operations.
const LineKernels* wideLineKernels();
// Every form this processor runs, the portable one first.
std::vector<const LineKernels*> availableLineKernels();
// The fastest form this processor runs.
const LineKernels& lineKernels();

// The colour of channel sums over `count` pixels: each sum divided by count × 255.
Color colorOfSums(std::uint64_t red, std::uint64_t green, std::uint64_t blue, std::uint64_t count);

}  // namespace velaro
