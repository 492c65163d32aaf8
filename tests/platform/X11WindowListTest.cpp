// How window types and states become window levels, and which events make the list read the server again.
#include "platform/linux/X11WindowList.h"

#include <gtest/gtest.h>

#include <cstring>

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

// Structure changes of any window that can change what is on screen, the stacking list on the root and the
// properties a window is described by mark the list changed; everything else (windows made or destroyed,
// which are unmapped then, pointer motion, other properties, other root properties) does not, and only
// property changes name a stale window.
TEST(WindowListChangesTest, OnlyEventsThatCanChangeTheListMarkIt) {
    constexpr std::uint32_t kRoot = 1, kWindow = 77, kStacking = 300, kState = 301, kTitle = 302,
                            kActive = 303;
    const auto event = [](std::uint8_t type) {
        xcb_generic_event_t e{};
        e.response_type = type;
        return e;
    };
    const auto property = [](std::uint32_t window, std::uint32_t atom) {
        xcb_property_notify_event_t p{};
        p.response_type = XCB_PROPERTY_NOTIFY;
        p.window = window;
        p.atom = atom;
        xcb_generic_event_t e{};
        std::memcpy(&e, &p, sizeof p);
        return e;
    };
    struct Case {
        const char* what;
        xcb_generic_event_t event;
        bool changed;
        std::vector<std::uint32_t> stale;
    };
    const std::vector<Case> cases = {
        {"a window is made (unmapped)", event(XCB_CREATE_NOTIFY), false, {}},
        {"a window is mapped", event(XCB_MAP_NOTIFY), true, {}},
        {"a window is unmapped", event(XCB_UNMAP_NOTIFY), true, {}},
        {"a window moves or restacks", event(XCB_CONFIGURE_NOTIFY), true, {}},
        {"a window is reparented", event(XCB_REPARENT_NOTIFY), true, {}},
        {"a window is gone (unmapped first when it was mapped)", event(XCB_DESTROY_NOTIFY), false, {}},
        {"sent from the server's side (bit 7)", event(XCB_MAP_NOTIFY | 0x80), true, {}},
        {"the stacking list", property(kRoot, kStacking), true, {}},
        {"another root property", property(kRoot, kActive), false, {}},
        {"a window's state", property(kWindow, kState), true, {kWindow}},
        {"a window's title", property(kWindow, kTitle), false, {}},
        {"a key press", event(XCB_KEY_PRESS), false, {}},
        {"a client message", event(XCB_CLIENT_MESSAGE), false, {}},
    };
    for (const auto& c : cases) {
        WindowListChanges changes(kRoot, {kStacking, {kState}});
        EXPECT_TRUE(changes.take().changed) << "nothing has been read yet";
        const auto generation = changes.generation();
        int told = 0;
        changes.callOnNextChange([&told] { ++told; });
        changes.note(c.event);
        EXPECT_EQ(changes.generation() != generation, c.changed) << c.what;
        EXPECT_EQ(told, c.changed ? 1 : 0) << c.what << ": a reader asleep on the list is woken once";
        const auto taken = changes.take();
        EXPECT_EQ(taken.changed, c.changed) << c.what;
        EXPECT_EQ(taken.staleWindows, c.stale) << c.what;
        EXPECT_FALSE(changes.take().changed) << c.what << ": taken once";
    }
    // A list read that a reader did not wait for moves the generation and wakes a sleeping reader, but asks
    // no read of its own: the list would be read over and over.
    WindowListChanges changes(kRoot, {kStacking, {kState}});
    (void)changes.take();
    const auto generation = changes.generation();
    int told = 0;
    changes.callOnNextChange([&told] { ++told; });
    changes.markRead();
    EXPECT_NE(changes.generation(), generation);
    EXPECT_EQ(told, 1);
    EXPECT_FALSE(changes.changed());
    changes.markChanged();
    EXPECT_TRUE(changes.changed());
}

// The root's children are known from the notices of their coming, mapping, unmapping and going, so that a
// read asks the server only of children no notice told of; what a read found of one is kept unless a newer
// notice told of it meanwhile, and children gone without a heard notice are forgotten.
TEST(WindowListChangesTest, RootChildrenAreKnownFromTheirNoticesAndReadsLearnOnlyTheRest) {
    constexpr std::uint32_t kRoot = 1, kPanel = 10, kMenu = 11, kOld = 12, kGone = 13;
    WindowListChanges changes(kRoot, {});
    // `parent`: where a reparented window went.
    const auto notice = [&](std::uint8_t type, std::uint32_t window, bool overrideRedirect = false,
                            std::uint32_t parent = 0) {
        xcb_generic_event_t e{};
        if (type == XCB_CREATE_NOTIFY) {
            xcb_create_notify_event_t c{};
            c.response_type = type;
            c.parent = kRoot;
            c.window = window;
            c.override_redirect = overrideRedirect;
            std::memcpy(&e, &c, sizeof c);
        } else if (type == XCB_REPARENT_NOTIFY) {
            xcb_reparent_notify_event_t r{};
            r.response_type = type;
            r.event = kRoot;
            r.window = window;
            r.parent = parent ? parent : kRoot;
            std::memcpy(&e, &r, sizeof r);
        } else {
            xcb_map_notify_event_t m{};
            m.response_type = type;
            m.event = kRoot;
            m.window = window;
            m.override_redirect = overrideRedirect;
            std::memcpy(&e, &m, sizeof m);
        }
        changes.note(e);
    };
    const auto state = [&](std::uint32_t window) { return changes.childStates({window}).front(); };
    using State = WindowListChanges::ChildState;

    notice(XCB_CREATE_NOTIFY, kPanel);
    notice(XCB_CREATE_NOTIFY, kMenu, true);
    ASSERT_TRUE(state(kPanel));
    EXPECT_FALSE(state(kPanel)->viewable) << "made unmapped";
    EXPECT_TRUE(state(kMenu)->overrideRedirect);
    notice(XCB_MAP_NOTIFY, kPanel);
    EXPECT_TRUE(state(kPanel)->viewable);
    notice(XCB_UNMAP_NOTIFY, kPanel);
    EXPECT_FALSE(state(kPanel)->viewable);
    notice(XCB_DESTROY_NOTIFY, kMenu);
    EXPECT_FALSE(state(kMenu)) << "gone";
    notice(XCB_REPARENT_NOTIFY, kPanel, false, 99);
    EXPECT_FALSE(state(kPanel)) << "no longer the root's child";
    EXPECT_FALSE(state(kOld)) << "there before any notice: unknown, so a read asks";

    // A read that began before a notice about a child keeps the notice's state, not the older answer.
    const auto since = changes.childNotices();
    notice(XCB_CREATE_NOTIFY, kGone);
    notice(XCB_MAP_NOTIFY, kGone);
    changes.learnChildStates({{kOld, State{true, false}}, {kGone, State{false, false}}}, since,
                             {kOld, kGone});
    ASSERT_TRUE(state(kOld));
    EXPECT_TRUE(state(kOld)->viewable) << "learnt from the read";
    EXPECT_TRUE(state(kGone)->viewable) << "the newer notice wins";
    // A child gone without a notice heard is forgotten by the next read that does not find it.
    changes.learnChildStates({}, changes.childNotices(), {kGone});
    EXPECT_FALSE(state(kOld));
    EXPECT_TRUE(state(kGone));
}

}  // namespace
}  // namespace velaro
