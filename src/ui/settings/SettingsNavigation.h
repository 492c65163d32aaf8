// The page the settings window shows: one per process, shared by the window and whoever opens it at a page.
#pragma once

#include <optional>

#include "base/Published.h"
#include "ui/settings/SettingsCategory.h"

namespace velaro {

class SettingsNavigation {
public:
    SettingsNavigation() = default;
    SettingsNavigation(const SettingsNavigation&) = delete;
    SettingsNavigation& operator=(const SettingsNavigation&) = delete;

    // No value means no page is selected: the window then asks the user to pick one.
    Published<std::optional<SettingsCategory>> selection{SettingsCategory::appearance};
};

}  // namespace velaro
