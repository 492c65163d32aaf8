// Menu-bar item frames and status windows set by the test.
#pragma once

#include "platform/MenuBarItems.h"

namespace velaro::test {

class FakeMenuBarItems final : public MenuBarItems {
public:
    std::optional<std::vector<std::optional<Rect>>> frontMenuItemFrames() override {
        ++menuReads;
        return menuItems;
    }
    std::vector<MenuBarItemWindow> statusItemWindows() override { return windows; }
    Stream<int> statusAreaChanged() const override { return statusArea.stream(); }

    std::optional<std::vector<std::optional<Rect>>> menuItems;
    std::vector<MenuBarItemWindow> windows;
    int menuReads = 0;
    PassthroughSubject<int> statusArea;
};

}  // namespace velaro::test
