// Arbitrary adapter output, cut into chunks anywhere, through the engine's line splitter, parser and
// now-playing state: never crashes, and every snapshot is a finite fraction of a positive length.
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "base/Log.h"
#include "music/AdapterProtocol.h"
#include "music/NowPlayingState.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velaro;
    static const bool quiet = (setLogSink([](std::string_view, std::string_view) {}), true);
    (void)quiet;
    if (size == 0) return 0;
    // The first byte chooses the chunk size, so lines are split at every kind of place.
    const std::size_t chunk = data[0] % 64 + 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    adapter::LineSplitter splitter;
    NowPlayingState state;
    std::vector<std::string> lines;
    double now = 1714564800.0;
    for (std::size_t pos = 0; pos < bytes.size(); pos += chunk) {
        lines.clear();
        splitter.append(bytes.substr(pos, chunk), lines);
        for (const auto& line : lines) {
            VELARO_FUZZ_REQUIRE(line.size() <= adapter::LineSplitter::maxLineBytes);
            auto parsed = adapter::parseDataLine(line);
            if (!parsed) continue;
            state.apply(std::move(*parsed), now);
            (void)adapter::artworkKey(state.payload());
        }
        now += 0.5;
        const ProgressSnapshot snap = state.snapshot(now);
        if (snap.isValid) {
            VELARO_FUZZ_REQUIRE(snap.progress01 && *snap.progress01 >= 0 && *snap.progress01 <= 1);
            VELARO_FUZZ_REQUIRE(std::isfinite(snap.duration) && snap.duration > 0);
        } else {
            VELARO_FUZZ_REQUIRE(!snap.progress01 && snap.duration == 0 && !snap.isPlaying && !snap.appId);
        }
    }
    return 0;
}
