// Arbitrary text as a stored colour: never crashes, and whatever parses formats back to the canonical form.
#include <string_view>

#include "FuzzCheck.h"
#include "base/Color.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto color = velaro::colorFromHex(text);
    if (!color) return 0;
    const auto hex = velaro::hexString(*color);
    VELARO_FUZZ_REQUIRE(hex.size() == 7 && hex[0] == '#');
    VELARO_FUZZ_REQUIRE(velaro::colorFromHex(hex) == color);
    VELARO_FUZZ_REQUIRE(color->alpha == 1.0);
    return 0;
}
