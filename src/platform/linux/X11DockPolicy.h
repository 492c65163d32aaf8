// The activation policy on an EWMH desktop: a tray-only app keeps its windows out of the taskbar and the
// pager with _NET_WM_STATE_SKIP_TASKBAR and _NET_WM_STATE_SKIP_PAGER; activation goes through
// _NET_ACTIVE_WINDOW.
#pragma once

#include <xcb/xcb.h>

#include <map>
#include <memory>
#include <vector>

#include "base/Cancellable.h"
#include "platform/DockPolicy.h"

namespace velaro {

class X11Session;

class X11DockPolicy final : public DockPolicy {
public:
    // The session must outlive the policy. Main thread.
    explicit X11DockPolicy(X11Session& session);
    ~X11DockPolicy() override;

    ActivationPolicy activationPolicy() const override { return policy_; }
    void setActivationPolicy(ActivationPolicy policy) override;
    void addWindow(WindowNumber window) override;
    void removeWindow(WindowNumber window) override;
    void activate(WindowNumber window) override;
    void deactivate() override;
    bool isActive() const override;

private:
    void apply(xcb_window_t window);
    bool managed(xcb_window_t window) const;
    bool ours(xcb_window_t window) const;
    xcb_window_t activeWindow() const;
    void sendActivation(xcb_window_t window);

    X11Session& session_;
    Subscription handler_;
    ActivationPolicy policy_ = ActivationPolicy::regular;
    std::map<xcb_window_t, Subscription> windows_;  // with their property selections
};

}  // namespace velaro
