// Arbitrary bytes as the stored JSON string of each settings enumeration: decoding never crashes, and what
// decodes writes back to bytes that decode to the same case.
#include "FuzzCheck.h"
#include "settings/ValueTypes.h"

namespace {

template <class E>
void checkEnum(std::span<const std::uint8_t> data) {
    const auto decoded = velaro::decodeEnumJson<E>(data);
    if (!decoded) return;
    const auto stored = velaro::encodeEnumJson(*decoded);
    VELARO_FUZZ_REQUIRE(stored.has_value());
    const auto again = velaro::decodeEnumJson<E>(*stored);
    VELARO_FUZZ_REQUIRE(again.has_value() && *again == *decoded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto bytes = velaro::fuzz::bytes(data, size);
    checkEnum<velaro::MenuBarStyle>(bytes);
    checkEnum<velaro::OverlayAnimationKind>(bytes);
    checkEnum<velaro::LayerPosition>(bytes);
    checkEnum<velaro::BottomCornerZ>(bytes);
    checkEnum<velaro::EmptyDesktopMode>(bytes);
    return 0;
}
