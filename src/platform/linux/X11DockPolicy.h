// The activation policy on an EWMH desktop: a tray-only app keeps its windows out of the taskbar and the
// pager with _NET_WM_STATE_SKIP_TASKBAR and _NET_WM_STATE_SKIP_PAGER; activation goes through
// _NET_ACTIVE_WINDOW.
#pragma once

#include <xcb/xcb.h>

#include <memory>
#include <set>
#include <vector>

#include "base/Cancellable.h"
#include "platform/DockPolicy.h"

namespace velaro {

namespace x11 {
class Connection;
class EventPump;
}  // namespace x11

class X11DockPolicy final : public DockPolicy {
public:
    // Null when there is no X display.
    static std::unique_ptr<X11DockPolicy> create(const char* display = nullptr);
    ~X11DockPolicy() override;

    ActivationPolicy activationPolicy() const override { return policy_; }
    void setActivationPolicy(ActivationPolicy policy) override;
    void addWindow(WindowNumber window) override;
    void removeWindow(WindowNumber window) override;
    void activate(WindowNumber window) override;
    void deactivate() override;
    bool isActive() const override;

private:
    explicit X11DockPolicy(std::unique_ptr<x11::Connection> connection);
    void apply(xcb_window_t window);
    bool managed(xcb_window_t window) const;
    bool ours(xcb_window_t window) const;
    xcb_window_t activeWindow() const;
    void sendActivation(xcb_window_t window);

    std::unique_ptr<x11::Connection> connection_;
    std::unique_ptr<x11::EventPump> pump_;
    Subscription handler_;
    ActivationPolicy policy_ = ActivationPolicy::regular;
    std::set<xcb_window_t> windows_;
};

}  // namespace velaro
