// Arbitrary bytes as stored shortcuts: decoding never crashes, display text is built for every entry, and
// what decodes is written and read back unchanged.
#include "FuzzCheck.h"
#include "settings/ShortcutSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto shortcuts = velaro::ShortcutSettings::decode(velaro::fuzz::bytes(data, size));
    if (!shortcuts) return 0;
    for (const auto& [action, combo] : shortcuts->assignments) {
        VELARO_FUZZ_REQUIRE(!combo.displayString(nullptr).empty());
    }
    const auto stored = velaro::encodeSortedKeys(*shortcuts);
    VELARO_FUZZ_REQUIRE(stored.has_value());
    VELARO_FUZZ_REQUIRE(velaro::ShortcutSettings::decode(*stored) == shortcuts);
    return 0;
}
