// The desktop's icon nearest to a symbol name of the app's own vocabulary ("eye", "gearshape", "power", …).
#pragma once

#include <QIcon>
#include <string_view>

namespace velaro {

// The icon theme's nearest icon; a null icon when the theme has none (callers then show text alone).
QIcon symbolIcon(std::string_view symbol);

}  // namespace velaro
