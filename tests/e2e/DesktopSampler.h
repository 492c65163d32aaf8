// A screen sampler over the real desktop's services (a fake settings store), for the end-to-end tests that
// drive the sampler, and the pager's request that maximises or restores a window.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "base/QtMainLoop.h"
#include "platform/linux/X11CaptureService.h"
#include "platform/linux/X11PointerSource.h"
#include "platform/linux/X11Screens.h"
#include "platform/linux/X11WindowList.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XcbUtil.h"
#include "platform/linux/XdgAppCatalog.h"
#include "sampling/ScreenSampler.h"
#include "sampling/ScreenTopology.h"
#include "sampling/WindowListScans.h"
#include "support/FakeDefaultsStore.h"

namespace velaro::e2e {

struct DesktopSampler {
    // Builds every service and the sampler; false (with a test failure) when the desktop cannot be reached.
    bool start() {
        loop = std::make_unique<QtMainLoop>();
        screens = X11Screens::create();
        windows = X11WindowList::create();
        catalog = std::make_unique<XdgAppCatalog>();
        EXPECT_TRUE(screens && windows) << "no X display";
        if (!screens || !windows) return false;
        workspace = X11Workspace::create(*catalog);
        EXPECT_TRUE(workspace);
        if (!workspace) return false;
        capture = std::make_unique<X11CaptureService>(*loop);
        pointer = std::make_unique<X11PointerSource>(*loop);
        topology = std::make_unique<ScreenTopology>(*screens, workspace.get());
        scans = std::make_unique<WindowListScans>(*windows, *screens, defaults, *workspace,
                                                  workspace->ownProcessIdentifier());
        sampler = std::make_unique<ScreenSampler>(ScreenSampler::Services{
            .loop = *loop,
            .capture = *capture,
            .screens = *screens,
            .topology = *topology,
            .scans = *scans,
            .defaults = defaults,
            .workspace = *workspace,
            .pointer = *pointer,
        });
        return true;
    }

    test::FakeDefaultsStore defaults;
    std::unique_ptr<QtMainLoop> loop;
    std::unique_ptr<X11Screens> screens;
    std::unique_ptr<X11WindowList> windows;
    std::unique_ptr<XdgAppCatalog> catalog;
    std::unique_ptr<X11Workspace> workspace;
    std::unique_ptr<X11CaptureService> capture;
    std::unique_ptr<X11PointerSource> pointer;
    std::unique_ptr<ScreenTopology> topology;
    std::unique_ptr<WindowListScans> scans;
    std::unique_ptr<ScreenSampler> sampler;
};

// Adds or removes both maximised states of a client window, as a pager asks the window manager.
inline void setMaximised(std::uint32_t window, bool on) {
    auto x = x11::Connection::open();
    ASSERT_TRUE(x);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = x->atom("_NET_WM_STATE");
    message.data.data32[0] = on ? 1 : 0;  // add or remove
    message.data.data32[1] = x->atom("_NET_WM_STATE_MAXIMIZED_VERT");
    message.data.data32[2] = x->atom("_NET_WM_STATE_MAXIMIZED_HORZ");
    message.data.data32[3] = 1;  // from an application
    xcb_send_event(x->get(), 0, x->root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(x->get());
}

}  // namespace velaro::e2e
