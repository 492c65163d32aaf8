// Minimise, restore and destroy of one process's windows, from StructureNotify and PropertyNotify on its
// client windows (WM_STATE tells iconic from normal).
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "platform/WindowEvents.h"
#include "platform/linux/XcbUtil.h"

namespace velaro {

class X11Session;

// What a change of a window's WM_STATE means: iconified, restored, or nothing worth telling.
std::optional<WindowEventKind> windowStateChange(bool wasIconic, bool isIconic);

class X11WindowEvents final : public WindowEvents {
public:
    // The session must outlive the service.
    explicit X11WindowEvents(X11Session& session);
    ~X11WindowEvents() override;

    bool isTrusted() const override { return true; }
    std::unique_ptr<WindowEventObservation> observe(std::int32_t pid, Callback callback) override;

private:
    struct Watch {
        std::int32_t pid;
        Callback callback;
        std::map<std::uint32_t, bool> windows;  // client window → iconic
        std::map<std::uint32_t, Subscription> selections;
    };
    class Observation;

    void handle(const xcb_generic_event_t& event);
    // Adds each watch's process's listed windows to it (on start and after each reading of the client list).
    void adoptWindows(const std::vector<Watch*>& watches);
    std::vector<Watch*> allWatches();
    bool isIconic(std::uint32_t window);
    void end(std::uint64_t id);

    X11Session& session_;
    Subscription handler_;
    Subscription clientChanges_;
    std::map<std::uint64_t, Watch> watches_;
    std::uint64_t nextId_ = 0;
    Lifetime lifetime_;
};

}  // namespace velaro
