// Arbitrary bytes as a stored hue drift: decoding never crashes, sanitising keeps every range, and the
// sanitised value survives a write and a read unchanged.
#include "FuzzCheck.h"
#include "settings/ValueTypes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto decoded = velaro::OverlayHueDrift::decode(velaro::fuzz::bytes(data, size));
    if (!decoded) return 0;
    const auto drift = decoded->sanitized();
    VELARO_FUZZ_REQUIRE(drift.paletteStops.size() >= 2 && drift.paletteStops.size() <= 10);
    VELARO_FUZZ_REQUIRE(velaro::hueDriftPeriodBounds.contains(drift.periodSeconds));
    VELARO_FUZZ_REQUIRE(velaro::transitionWidthBounds.contains(drift.transitionWidth));
    VELARO_FUZZ_REQUIRE(drift.effectivePaletteStops().size() >= 2);
    const auto stored = velaro::encodeSortedKeys(drift);
    VELARO_FUZZ_REQUIRE(stored.has_value());
    const auto again = velaro::OverlayHueDrift::decode(*stored);
    VELARO_FUZZ_REQUIRE(again.has_value() && again->sanitized() == drift);
    return 0;
}
