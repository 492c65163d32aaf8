// A desktop whose published overview state the test sets.
#pragma once

#include "platform/DesktopOverview.h"

namespace velaro::test {

class FakeDesktopOverview final : public DesktopOverview {
public:
    const Published<std::optional<bool>>& overviewActive() const override { return state; }

    Published<std::optional<bool>> state{std::nullopt};
};

}  // namespace velaro::test
