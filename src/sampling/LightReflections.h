// Colour helpers of the light beam: the vivid-weighted average of an image and the beam's colour boost.
#pragma once

#include <QImage>
#include <cstdint>
#include <optional>

#include "base/Color.h"

namespace velaro {

// Byte order of 32-bit pixels in memory.
enum class PixelOrder { BGRA, RGBA };

// The vivid-weighted average colour of a block of 32-bit pixels: the block is first reduced to at most
// 40 × 16 pixels by area averaging; saturated, bright pixels then dominate (weight = brightness ·
// saturation²), so a small vivid spot colours the result, while a grey block gives its plain mean. Alpha is
// ignored. nullopt for an empty block. Allocates nothing; safe from any thread.
std::optional<Color> averageColorOfPixels(const std::uint8_t* pixels, int width, int height, int bytesPerRow,
                                          PixelOrder order);

// The same for an image of any format; nullopt for an image without pixels.
std::optional<Color> averageColor(const QImage& image);

// The beam's colour: saturation × 1.6 and brightness × 1.3 + 0.2, each capped at 1, opaque.
Color vividBeamColor(const Color& color);

}  // namespace velaro
