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

    // The window's ICCCM state (WM_STATE): 0 withdrawn, 1 normal, 3 iconic; 0 when it has none.
    std::uint32_t wmState(xcb_window_t window) const;
    // Whether the window manager offers to minimise the window; true where it does not say.
    bool minimisable(xcb_window_t window) const;
    bool skips(xcb_window_t window, const Tracked& tracked) const;
    void apply(xcb_window_t window, std::uint32_t state);
    bool ours(xcb_window_t window) const;
    xcb_window_t activeWindow() const;
    void sendActivation(xcb_window_t window);

    X11Session& session_;
    Subscription handler_;
    ActivationPolicy policy_ = ActivationPolicy::regular;
    std::map<xcb_window_t, Tracked> windows_;
    // Our windows the window manager holds minimised, as their WM_STATE changes told.
    std::set<xcb_window_t> iconic_;
    bool everAdded_ = false;  // a window was added once: one of ours may hold the focus even once hidden
};

}  // namespace velaro
