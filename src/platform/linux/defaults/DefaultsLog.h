// The settings store's diagnostic lines: the "DEFAULTS" tag, in the settings category.
#pragma once

#include <string>

#include "base/Log.h"

namespace velaro::defaults {

// Something went wrong, or the store falls back to something: shown by default.
inline void warn(const std::string& message) {
    qCWarning(lcSettings) << tagged("DEFAULTS", message);
}

// Something the store did on its own that the user may look for (a leftover removed, copies pruned).
inline void note(const std::string& message) {
    qCInfo(lcSettings) << tagged("DEFAULTS", message);
}

// What goes on as it was said before (another try of a write that keeps failing): a debug line.
inline void trace(const std::string& message) {
    qCDebug(lcSettings) << tagged("DEFAULTS", message);
}

}  // namespace velaro::defaults
