// What "get" prints, as the engine reads it: arbitrary bytes, or (first byte odd) the bytes as the cover of
// a well-formed answer so that mutations reach the image readers. Never crashes; a colour is a colour, and it
// carries the key of the answer it came in.
#include <QByteArray>
#include <cmath>
#include <string>

#include <nlohmann/json.hpp>

#include "FuzzCheck.h"
#include "music/AdapterProtocol.h"
#include "music/ArtworkColor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velaro;
    if (size == 0) return 0;
    const bool wrapped = data[0] & 1;
    const QByteArray rest(reinterpret_cast<const char*>(data) + 1, static_cast<qsizetype>(size - 1));
    const std::string output = wrapped ? nlohmann::json({{"payload",
                                                          {{"bundleIdentifier", "org.example.Player"},
                                                           {"title", "Song"},
                                                           {"artist", "Band"},
                                                           {"artworkData", rest.toBase64().toStdString()}}}})
                                             .dump()
                                       : rest.toStdString();
    (void)adapter::artworkRefusal(output);
    const auto result = decodeArtwork(output);
    if (!result) return 0;
    for (const double channel :
         {result->color.red, result->color.green, result->color.blue, result->color.alpha})
        VELARO_FUZZ_REQUIRE(std::isfinite(channel) && channel >= 0 && channel <= 1);
    if (wrapped) VELARO_FUZZ_REQUIRE(result->key == "org.example.Player|Song|Band");
    return 0;
}
