// Arbitrary bytes as a stored corner record: decoding never crashes, every number of a record that decodes
// lies inside its control's bounds, and the record is written and read back unchanged, with every lookup
// answering for every corner.
#include "FuzzCheck.h"
#include "settings/CornerSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto corners = velaro::CornerSettings::decode(velaro::fuzz::bytes(data, size));
    if (!corners) return 0;
    for (const auto& bound : velaro::cornerBounds)
        VELARO_FUZZ_REQUIRE(bound.bounds.contains((*corners).*bound.member));
    for (const auto corner : velaro::allCases<velaro::ScreenCorner>()) {
        (void)corners->effectiveRadius(corner);
        (void)corners->opacity(corner, 0.5);
        (void)corners->color(corner, velaro::Color::white());
    }
    const auto stored = velaro::encodeCornerSettings(*corners);
    VELARO_FUZZ_REQUIRE(stored.has_value());
    VELARO_FUZZ_REQUIRE(velaro::CornerSettings::decode(*stored) == corners);
    return 0;
}
