// How window types and states become window levels.
#include "platform/linux/X11WindowList.h"

#include <gtest/gtest.h>

namespace velaro {
namespace {

TEST(X11WindowLevels, TypesAndStatesMapToLevels) {
    auto level = [](std::vector<std::string> types, std::vector<std::string> states = {},
                    bool unmanaged = false) {
        return windowLevelFor({std::move(types), std::move(states), unmanaged, std::nullopt});
    };
    EXPECT_EQ(level({}), WindowLevel::normal);
    EXPECT_EQ(level({"_NET_WM_WINDOW_TYPE_DOCK"}), WindowLevel::status);
    EXPECT_EQ(level({"_NET_WM_WINDOW_TYPE_POPUP_MENU"}, {}, true), WindowLevel::popUpMenu);
    EXPECT_EQ(level({"_NET_WM_WINDOW_TYPE_DROPDOWN_MENU"}, {}, true), WindowLevel::popUpMenu);
    EXPECT_EQ(level({}, {}, true), WindowLevel::popUpMenu)
        << "an unmanaged window naming no type is a pop-up";
    EXPECT_EQ(level({}, {"_NET_WM_STATE_ABOVE"}), WindowLevel::floating);
    EXPECT_FALSE(level({"_NET_WM_WINDOW_TYPE_DESKTOP"})) << "the wallpaper window is left out";
    // A declared level wins over the type, but never brings back a desktop window.
    EXPECT_EQ(windowLevelFor({{}, {}, true, 24}), 24);
    EXPECT_FALSE(windowLevelFor({{"_NET_WM_WINDOW_TYPE_DESKTOP"}, {}, true, 24}));
}

}  // namespace
}  // namespace velaro
