// Icons named by desktop entries anyone may drop into the user's folders: arbitrary bytes as an entry
// (first byte even) whose Icon= is judged, or as the icon file's bytes (odd). A themed name never leaves the
// theme's folders, a file is an absolute path, and a decoded icon is small.
#include <QByteArray>
#include <string>

#include "FuzzCheck.h"
#include "platform/linux/XdgAppCatalog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velaro;
    if (size == 0) return 0;
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1) {
        const QImage icon = decodeIconImage(QByteArray::fromStdString(rest));
        VELARO_FUZZ_REQUIRE(icon.isNull() || (icon.width() <= 512 && icon.height() <= 512));
        return 0;
    }
    const auto entry = parseDesktopEntry(rest, "de_DE");
    if (!entry) return 0;
    const IconReference icon = iconReference(entry->icon);
    switch (icon.kind) {
        case IconReference::Kind::file:
            VELARO_FUZZ_REQUIRE(icon.value.front() == '/' && icon.value.find('\0') == std::string::npos);
            break;
        case IconReference::Kind::themed:
            VELARO_FUZZ_REQUIRE(icon.value.find('/') == std::string::npos && icon.value.front() != '.');
            VELARO_FUZZ_REQUIRE(icon.value.find('\0') == std::string::npos);
            break;
        case IconReference::Kind::none:
            VELARO_FUZZ_REQUIRE(icon.value.empty());
            break;
    }
    return 0;
}
