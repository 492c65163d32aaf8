// Choosing one installed application from disk, as the excluded-apps page and the profile selector do: a
// modal open dialog on desktop entries that returns the chosen file, or nothing when cancelled.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace velaro {

using ApplicationChooser = std::function<std::optional<std::string>()>;

// The folder the dialog starts in: the first XDG applications folder that exists (the user's own first).
std::string applicationsFolder();

// A modal file dialog on "*.desktop" files in `applicationsFolder()`, one file, no folders, over the active
// window. What the chosen file is (an application or not) is the caller's question.
ApplicationChooser standardApplicationChooser();

}  // namespace velaro
