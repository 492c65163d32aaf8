// Arbitrary lines as version strings: comparing is a consistent order. Each version equals itself, swapping
// two flips the sign, and the order is transitive, equal versions included; otherwise the newest update
// would depend on the order of a feed's items.
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "platform/linux/AppcastUpdater.h"

namespace {
int sign(int v) {
    return (v > 0) - (v < 0);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using velaro::compareVersions;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> v;
    for (std::size_t start = 0; v.size() < 3;) {
        const auto end = text.find('\n', start);
        v.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    while (v.size() < 3) v.push_back({});
    for (const auto a : v) VELARO_FUZZ_REQUIRE(compareVersions(a, a) == 0);
    for (const auto a : v)
        for (const auto b : v)
            VELARO_FUZZ_REQUIRE(sign(compareVersions(a, b)) == -sign(compareVersions(b, a)));
    for (const auto a : v)
        for (const auto b : v)
            for (const auto c : v) {
                const int ab = sign(compareVersions(a, b)), bc = sign(compareVersions(b, c));
                const int ac = sign(compareVersions(a, c));
                if (ab <= 0 && bc <= 0) VELARO_FUZZ_REQUIRE(ac <= 0);
                if (ab == 0 && bc == 0) VELARO_FUZZ_REQUIRE(ac == 0);
            }
    return 0;
}
