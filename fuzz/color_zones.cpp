// Arbitrary bytes as stored colour zones: decoding never crashes, the normalised value keeps its ranges,
// and it survives a write and a read unchanged.
#include <cmath>

#include "FuzzCheck.h"
#include "settings/ValueTypes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto decoded = velaro::OverlayColorZones::decode(velaro::fuzz::bytes(data, size));
    if (!decoded) return 0;
    const auto zones = decoded->normalized();
    VELARO_FUZZ_REQUIRE(!zones.stops.empty() && zones.stops.size() <= 10);
    VELARO_FUZZ_REQUIRE(velaro::transitionWidthBounds.contains(zones.transitionWidth));
    const auto stored = velaro::encodeSortedKeys(zones);
    VELARO_FUZZ_REQUIRE(stored.has_value());
    const auto again = velaro::OverlayColorZones::decode(*stored);
    VELARO_FUZZ_REQUIRE(again.has_value() && again->normalized() == zones);
    return 0;
}
