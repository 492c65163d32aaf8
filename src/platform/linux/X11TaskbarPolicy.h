// The activation policy on an EWMH desktop: a tray-only app keeps its windows out of the taskbar and the
// pager with _NET_WM_STATE_SKIP_TASKBAR and _NET_WM_STATE_SKIP_PAGER; activation goes through
// _NET_ACTIVE_WINDOW, which restores a minimised window once it is mapped again (ICCCM). Whether the window
// manager offers to minimise a window is read from its _NET_WM_ALLOWED_ACTIONS: some (openbox) keep the
// minimise button whatever the window's Motif hints ask.
#pragma once

#include <xcb/xcb.h>

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "base/Cancellable.h"
#include "platform/TaskbarPolicy.h"

namespace velaro {

class X11Session;

class X11TaskbarPolicy final : public TaskbarPolicy {
public:
    // The session must outlive the policy. Main thread.
    explicit X11TaskbarPolicy(X11Session& session);
    ~X11TaskbarPolicy() override;

    ActivationPolicy activationPolicy() const override { return policy_; }
    void setActivationPolicy(ActivationPolicy policy) override;
    void addWindow(WindowNumber window, TaskbarEntry entry) override;
    void removeWindow(WindowNumber window) override;
    void activate(WindowNumber window) override;
    void deactivate() override;
    bool isActive() const override;

private:
    struct Tracked {
        Subscription selection;  // of its property changes
        TaskbarEntry entry;
        bool skipping = false;  // as last asked
    };

    // What the policy reads of one of our windows, asked for several windows together and read after.
    struct Facts {
        std::uint32_t wmState = 0;            // ICCCM WM_STATE: 0 withdrawn (or none), 1 normal, 3 iconic
        bool minimisable = true;              // the window manager offers to minimise it, or does not say
        std::vector<std::uint32_t> netState;  // _NET_WM_STATE as the window holds it
    };
    // One round trip on the desktop connection, whatever the number of windows.
    std::vector<Facts> factsOf(const std::vector<xcb_window_t>& windows) const;
    // Whether the window manager's actions for the window decide its entry (and are read with its facts).
    bool readsActions(const Tracked& tracked) const;
    bool skips(const Tracked& tracked, const Facts& facts) const;
    void apply(xcb_window_t window, const Facts& facts);
    // Whether each window is ours: added here, or of this process. One round trip for all of them (two when
    // some lack _NET_WM_PID); none when all were added.
    std::vector<bool> ours(const std::vector<xcb_window_t>& windows) const;
    // A WINDOW-list property of the root, asked; read later.
    xcb_get_property_cookie_t askRootWindows(const char* property, std::uint32_t most) const;
    xcb_window_t activeWindow() const;
    // The active window from an answer to askRootWindows("_NET_ACTIVE_WINDOW"), waited for.
    xcb_window_t activeFrom(xcb_get_property_cookie_t ask) const;
    // `active`: the window active now, which the window manager is told the request comes from.
    void sendActivation(xcb_window_t window, xcb_window_t active);

    X11Session& session_;
    Subscription handler_;
    ActivationPolicy policy_ = ActivationPolicy::regular;
    std::map<xcb_window_t, Tracked> windows_;
    // Our windows the window manager holds minimised, as their WM_STATE changes told.
    std::set<xcb_window_t> iconic_;
    bool everAdded_ = false;  // a window was added once: one of ours may hold the focus even once hidden
};

}  // namespace velaro
