// Arbitrary bytes as the remembered-player file: a name comes out only when it is one well-formed MPRIS bus
// name, the same name whichever way it is read again.
#include <QByteArray>

#include "FuzzCheck.h"
#include "MprisPayload.h"
#include "RememberedPlayer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velaro::mpris;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto name = parseRememberedPlayer(bytes);
    if (!name) return 0;
    VELARO_FUZZ_REQUIRE(name->startsWith(busPrefix) && name->size() > busPrefix.size() &&
                        name->size() <= 255);
    for (const QChar c : *name)
        VELARO_FUZZ_REQUIRE(c.isLetterOrNumber() ? c.unicode() < 128 : (c == '.' || c == '_' || c == '-'));
    VELARO_FUZZ_REQUIRE(!name->contains(QStringLiteral("..")) && !name->endsWith(QLatin1Char('.')));
    VELARO_FUZZ_REQUIRE(parseRememberedPlayer(name->toLatin1()) == name);
    VELARO_FUZZ_REQUIRE(choosePlayer({{*name, true, 0}}) == name);
    return 0;
}
