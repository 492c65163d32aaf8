// Arbitrary bytes as an update feed: reading never crashes, a feed that reads offers only items with a
// version and an accepted address, and allowing plain http to this machine only ever adds items.
#include <QByteArray>
#include <QString>

#include "FuzzCheck.h"
#include "platform/linux/AppcastUpdater.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velaro;
    const auto document =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto secure = parseAppcast(document, PlainHttp::refused);
    const auto forTests = parseAppcast(document, PlainHttp::loopbackOnly);
    VELARO_FUZZ_REQUIRE(secure.error == forTests.error);
    if (!secure.error.empty()) {
        VELARO_FUZZ_REQUIRE(secure.items.empty() && forTests.items.empty());
        return 0;
    }
    VELARO_FUZZ_REQUIRE(secure.items.size() <= forTests.items.size());
    for (const auto& item : secure.items) {
        VELARO_FUZZ_REQUIRE(!item.version.empty() && !item.displayVersion.empty());
        VELARO_FUZZ_REQUIRE(isAcceptedWebURL(QString::fromStdString(item.downloadURL), PlainHttp::refused));
        VELARO_FUZZ_REQUIRE(
            item.releaseNotesURL.empty() ||
            isAcceptedWebURL(QString::fromStdString(item.releaseNotesURL), PlainHttp::refused));
    }
    // The update chosen is newer than the version asked about, and no item is newer than it.
    if (const auto update = newestUpdate(secure.items, "1.0")) {
        VELARO_FUZZ_REQUIRE(compareVersions(update->version, "1.0") > 0);
        for (const auto& item : secure.items)
            VELARO_FUZZ_REQUIRE(compareVersions(item.version, update->version) <= 0);
    }
    return 0;
}
