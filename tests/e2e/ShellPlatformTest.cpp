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

    // Another app's window, made on a connection of its own and owned by another process id.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(other)).data;
    const xcb_window_t foreign = xcb_generate_id(other);
    xcb_create_window(other, XCB_COPY_FROM_PARENT, foreign, screen->root, 100, 100, 400, 300, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const uint32_t pid = 1;
    xcb_change_property(other, XCB_PROP_MODE_REPLACE, foreign, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1,
                        &pid);
    xcb_map_window(other, foreign);
    xcb_flush(other);
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

}  // namespace
}  // namespace velaro::e2e
