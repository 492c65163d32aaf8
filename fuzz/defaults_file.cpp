// Arbitrary text as the defaults file users may edit by hand: never crashes, and whatever decodes writes
// back to a file that reads back as the same values and the same text.
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "platform/linux/defaults/DefaultsFileFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto stored = velaro::decodeDefaultsFile(text, &error);
    if (!stored) {
        VELARO_FUZZ_REQUIRE(!error.empty());
        return 0;
    }
    const std::string written = velaro::encodeDefaultsFile(*stored);
    const auto reread = velaro::decodeDefaultsFile(written, &error);
    VELARO_FUZZ_REQUIRE(reread.has_value());
    VELARO_FUZZ_REQUIRE(velaro::encodeDefaultsFile(*reread) == written);
    return 0;
}
