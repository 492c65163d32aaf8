// A desktop whose light or dark preference the test sets.
#pragma once

#include "platform/DesktopAppearance.h"

namespace velaro::test {

class FakeDesktopAppearance final : public DesktopAppearance {
public:
    const Published<ColorSchemePreference>& colorScheme() const override { return scheme; }

    Published<ColorSchemePreference> scheme{ColorSchemePreference::none};
};

}  // namespace velaro::test
