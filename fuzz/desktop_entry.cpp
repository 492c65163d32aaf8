// Arbitrary bytes as a desktop entry: reading never crashes, and the bytes as a program path (the way the
// login item writes the app's own Exec line) read back as the same program.
#include <string>

#include "FuzzCheck.h"
#include "platform/linux/XdgAppCatalog.h"
#include "platform/linux/XdgLoginItem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velaro;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const auto entry = parseDesktopEntry(text, "de_DE")) {
        VELARO_FUZZ_REQUIRE(entry->name.find('\n') == std::string::npos);
        VELARO_FUZZ_REQUIRE(!entry->localizedName || entry->localizedName->find('\n') == std::string::npos);
    }
    // An absolute path, as the login item always writes; a NUL ends a C path, so none is inside one.
    if (!text.empty() && text.front() == '/' && text.find('\0') == std::string::npos) {
        const auto entry = parseDesktopEntry(
            "[Desktop Entry]\nType=Application\nExec=" + desktopEntryExec(text) + " %U\n", "");
        VELARO_FUZZ_REQUIRE(entry && entry->exec == text);
    }
    return 0;
}
