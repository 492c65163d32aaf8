// Symbol names mapped onto freedesktop icon-theme names.
#include "ui/settings/SymbolIcon.h"

#include <utility>

namespace velaro {

QIcon symbolIcon(std::string_view symbol) {
    static const std::pair<std::string_view, const char*> names[] = {
        {"eye", "view-visible"},
        {"eye.fill", "view-visible"},
        {"eye.slash", "view-hidden"},
        {"gearshape", "preferences-system"},
        {"power", "application-exit"},
        {"paintbrush.fill", "applications-graphics"},
        {"record.circle", "media-record"},
        {"menubar.rectangle", "preferences-desktop"},
        {"app.dashed", "application-x-executable"},
        {"arrow.triangle.2.circlepath", "view-refresh"},
    };
    for (const auto& [from, to] : names)
        if (symbol == from) return QIcon::fromTheme(QString::fromLatin1(to));
    return {};
}

}  // namespace velaro
