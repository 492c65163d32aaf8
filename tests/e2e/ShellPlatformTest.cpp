// The shell's platform services against the test desktop: the capability probes find what it runs, the dock
// policy keeps our windows out of the taskbar and the pager (also after they are shown again) and moves the
// focus.
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TestSession.h"
#include "platform/linux/X11Permissions.h"
#include "platform/linux/X11TaskbarPolicy.h"
#include "support/BusNameSquatter.h"

namespace velaro::e2e {
namespace {

xcb_connection_t* qtConnection() {
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_atom_t atom(const char* name) {
    auto* c = qtConnection();
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return a;
}

std::vector<uint32_t> property(xcb_window_t window, const char* name) {
    auto* c = qtConnection();
    auto* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom(name), XCB_ATOM_ANY, 0, 1024), nullptr);
    std::vector<uint32_t> out;
    if (reply && reply->format == 32) {
        const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(reply));
        out.assign(v, v + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return out;
}

xcb_window_t root() {
    return xcb_setup_roots_iterator(xcb_get_setup(qtConnection())).data->root;
}

bool skipsTaskbarAndPager(xcb_window_t window) {
    const auto states = property(window, "_NET_WM_STATE");
    const auto has = [&](const char* name) {
        return std::find(states.begin(), states.end(), atom(name)) != states.end();
    };
    return has("_NET_WM_STATE_SKIP_TASKBAR") && has("_NET_WM_STATE_SKIP_PAGER");
}

// Whether the window manager has the window on now (WM_STATE present and not withdrawn).
bool managedNow(xcb_window_t window) {
    const auto state = property(window, "WM_STATE");
    return !state.empty() && state[0] != 0;
}

xcb_window_t activeWindow() {
    const auto v = property(root(), "_NET_ACTIVE_WINDOW");
    return v.empty() ? 0 : v[0];
}

// Another app's window, made on a connection of its own, owned by another process id and of the window type
// named (none when empty), mapped.
xcb_window_t showForeignWindow(xcb_connection_t* other, const char* type = "") {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(other)).data;
    const xcb_window_t window = xcb_generate_id(other);
    xcb_create_window(other, XCB_COPY_FROM_PARENT, window, screen->root, 100, 100, 400, 300, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const uint32_t pid = 1, typeAtom = *type ? atom(type) : 0;
    xcb_change_property(other, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1,
                        &pid);
    if (*type)
        xcb_change_property(other, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
                            32, 1, &typeAtom);
    xcb_map_window(other, window);
    xcb_flush(other);
    return window;
}

class ShellPlatformTest : public ::testing::Test {
protected:
    void SetUp() override { VELARO_REQUIRE_DESKTOP(); }
};

TEST_F(ShellPlatformTest, TheProbesFindWhatTheTestDesktopRunsAndAPlayerThatJoinsTheBus) {
    TestSession session;
    ASSERT_TRUE(session);
    QtMainLoop loop;
    X11Permissions permissions(session.session.get(), loop);
    const auto answer = [&](Capability c) {
        std::optional<bool> found;
        permissions.check(c, [&](bool present) { found = present; });
        waitUntil([&] { return found.has_value(); });
        return found;
    };
    // Xvfb under openbox, picom, and the PulseAudio null sink.
    EXPECT_EQ(answer(Capability::x11Session), true);
    EXPECT_EQ(answer(Capability::windowManager), true);
    EXPECT_EQ(answer(Capability::compositor), true);
    EXPECT_EQ(answer(Capability::soundServer), true);
    // A player is found by its name on the session bus alone.
    const QString player =
        QStringLiteral("org.mpris.MediaPlayer2.velaro_probe%1").arg(QCoreApplication::applicationPid());
    EXPECT_EQ(answer(Capability::mediaPlayer), false);
    {
        test::BusNameSquatter squatter(QDBusConnection::sessionBus(), player,
                                       QStringLiteral("/org/mpris/MediaPlayer2"),
                                       test::BusNameSquatter::Kind::serveNothing);
        ASSERT_TRUE(squatter.ownsName());
        EXPECT_EQ(answer(Capability::mediaPlayer), true);
    }
    EXPECT_EQ(answer(Capability::mediaPlayer), false);
}

TEST_F(ShellPlatformTest, AccessoryWindowsStayOutOfTheTaskbarAndPagerEvenWhenShownAgain) {
    TestSession session;
    ASSERT_TRUE(session);
    auto policy = std::make_unique<X11TaskbarPolicy>(*session);
    QWidget settings;
    settings.setWindowTitle("Velaro Settings");
    settings.resize(700, 500);
    const auto window = static_cast<xcb_window_t>(settings.winId());
    // Added before it is first shown, as the shell does when it builds the window.
    policy->setActivationPolicy(ActivationPolicy::accessory);
    policy->addWindow(window, TaskbarEntry::byPolicy);
    settings.show();
    ASSERT_TRUE(waitUntil([&] { return managedNow(window); })) << "never managed";
    ASSERT_TRUE(waitUntil([&] { return skipsTaskbarAndPager(window); }));

    policy->setActivationPolicy(ActivationPolicy::regular);
    ASSERT_TRUE(waitUntil([&] { return !skipsTaskbarAndPager(window); }));
    policy->setActivationPolicy(ActivationPolicy::accessory);
    ASSERT_TRUE(waitUntil([&] { return skipsTaskbarAndPager(window); }));

    // The window manager drops the state of a withdrawn window; the policy must hold once it is back.
    settings.hide();
    ASSERT_TRUE(waitUntil([&] { return !managedNow(window); }));
    settings.show();
    ASSERT_TRUE(waitUntil([&] { return managedNow(window); }));
    EXPECT_TRUE(waitUntil([&] { return skipsTaskbarAndPager(window); }));
}

TEST_F(ShellPlatformTest, AWindowThatMustNotBeLostKeepsItsEntryWhileTheWindowManagerOffersToMinimiseIt) {
    TestSession session;
    ASSERT_TRUE(session);
    auto policy = std::make_unique<X11TaskbarPolicy>(*session);
    policy->setActivationPolicy(ActivationPolicy::accessory);
    QWidget tour;
    tour.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    tour.resize(300, 200);
    const auto window = static_cast<xcb_window_t>(tour.winId());
    policy->addWindow(window, TaskbarEntry::whileMinimisable);
    tour.show();
    ASSERT_TRUE(waitUntil([&] { return managedNow(window); })) << "never managed";
    // This window manager offers to minimise it, whatever its Motif hints ask.
    const auto allowed = property(window, "_NET_WM_ALLOWED_ACTIONS");
    ASSERT_NE(std::find(allowed.begin(), allowed.end(), atom("_NET_WM_ACTION_MINIMIZE")), allowed.end());
    EXPECT_FALSE(waitUntil([&] { return skipsTaskbarAndPager(window); }, std::chrono::seconds(1)));

    // A window manager that honours the hint leaves minimising out: the policy applies again.
    const std::vector<uint32_t> withoutMinimise{atom("_NET_WM_ACTION_MOVE"), atom("_NET_WM_ACTION_CLOSE")};
    xcb_change_property(qtConnection(), XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_ALLOWED_ACTIONS"),
                        XCB_ATOM_ATOM, 32, uint32_t(withoutMinimise.size()), withoutMinimise.data());
    xcb_flush(qtConnection());
    EXPECT_TRUE(waitUntil([&] { return skipsTaskbarAndPager(window); }));
}

TEST_F(ShellPlatformTest, ActivationBringsOurWindowForwardAndDeactivationHandsTheFocusBack) {
    TestSession session;
    ASSERT_TRUE(session);
    auto policy = std::make_unique<X11TaskbarPolicy>(*session);

    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    const xcb_window_t foreign = showForeignWindow(other);
    ASSERT_TRUE(waitUntil([&] { return managedNow(foreign); }));

    QWidget settings;
    settings.resize(300, 200);
    policy->addWindow(static_cast<WindowNumber>(settings.winId()), TaskbarEntry::byPolicy);
    settings.show();
    ASSERT_TRUE(waitUntil([&] { return managedNow(settings.winId()); }));

    // The policy learns of each change from its own event, which may come after the root property changed.
    policy->activate(static_cast<WindowNumber>(foreign));
    ASSERT_TRUE(waitUntil([&] { return activeWindow() == foreign; }));
    EXPECT_TRUE(waitUntil([&] { return !policy->isActive(); }));

    policy->activate(static_cast<WindowNumber>(settings.winId()));
    ASSERT_TRUE(waitUntil([&] { return activeWindow() == settings.winId(); }));
    EXPECT_TRUE(waitUntil([&] { return policy->isActive(); }));
    // Qt answers the window manager's focus offer with a focus request of its own, stamped with the offer's
    // time: one still unanswered would take the focus back from the window it is handed to below.
    ASSERT_TRUE(waitUntil([&] { return settings.isActiveWindow(); }));

    policy->deactivate();
    EXPECT_TRUE(waitUntil([&] { return activeWindow() == foreign; }));
    EXPECT_TRUE(waitUntil([&] { return !policy->isActive(); }));
    xcb_disconnect(other);
}

// Above the window the focus goes back to lie windows it must pass over, whose answers all come together:
// one of ours never added (a message box), a minimised one and a utility window; below it another app's
// window that must not get the focus either.
TEST_F(ShellPlatformTest, DeactivationHandsTheFocusToTheTopmostShownNormalWindowOfAnotherApp) {
    TestSession session;
    ASSERT_TRUE(session);
    auto policy = std::make_unique<X11TaskbarPolicy>(*session);
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(other)).data;
    std::vector<xcb_window_t> windows;  // bottom to top, each mapped once the one before is managed
    for (const char* type : {"", "", "", "_NET_WM_WINDOW_TYPE_UTILITY"}) {
        windows.push_back(showForeignWindow(other, type));
        ASSERT_TRUE(waitUntil([&] { return managedNow(windows.back()); }));
    }
    const xcb_window_t below = windows[0], wanted = windows[1], minimised = windows[2];
    xcb_client_message_event_t iconify{};
    iconify.response_type = XCB_CLIENT_MESSAGE;
    iconify.format = 32;
    iconify.window = minimised;
    iconify.type = atom("WM_CHANGE_STATE");
    iconify.data.data32[0] = 3;  // IconicState
    xcb_send_event(other, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&iconify));
    xcb_flush(other);
    ASSERT_TRUE(waitUntil([&] {
        const auto states = property(minimised, "_NET_WM_STATE");
        return std::find(states.begin(), states.end(), atom("_NET_WM_STATE_HIDDEN")) != states.end();
    }));

    QWidget message, settings;
    message.resize(200, 100);
    message.show();
    ASSERT_TRUE(waitUntil([&] { return managedNow(message.winId()); }));
    settings.resize(300, 200);
    policy->addWindow(static_cast<WindowNumber>(settings.winId()), TaskbarEntry::byPolicy);
    settings.show();
    ASSERT_TRUE(waitUntil([&] { return managedNow(settings.winId()); }));
    policy->activate(static_cast<WindowNumber>(settings.winId()));
    ASSERT_TRUE(waitUntil([&] { return activeWindow() == settings.winId() && settings.isActiveWindow(); }));
    const auto stacking = property(root(), "_NET_CLIENT_LIST_STACKING");
    ASSERT_LT(std::find(stacking.begin(), stacking.end(), below),
              std::find(stacking.begin(), stacking.end(), wanted));

    policy->deactivate();
    EXPECT_TRUE(waitUntil([&] { return activeWindow() == wanted; }));
    xcb_disconnect(other);
}

}  // namespace
}  // namespace velaro::e2e
