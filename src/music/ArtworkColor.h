// The colour of a track's artwork: the cover that the adapter's "get" prints, decoded at a reduced size and
// averaged as the screen sampler averages a strip.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/Color.h"

namespace velaro {

struct ArtworkResult {
    // The artwork key of the track the output names; none without a title.
    std::optional<std::string> key;
    Color color;
};

// The key and colour in what "get" printed; none for output that is empty, not a JSON object, without
// strict Base64 "artworkData", or whose bytes are no image this platform decodes.
std::optional<ArtworkResult> decodeArtwork(std::string_view output);

// "#RRGGBB" of a colour for the diagnostics; "?" for one with components that are not numbers.
std::string artworkHex(const Color& color);

}  // namespace velaro
