// Minimise, restore and destroy of one process's windows, from StructureNotify and PropertyNotify on its
// client windows (WM_STATE tells iconic from normal, read off the main loop).
#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "platform/WindowEvents.h"
#include "platform/linux/X11ReadThread.h"
#include "platform/linux/XcbUtil.h"

namespace velaro {

class MainLoop;
class X11Session;

// What a change of a window's WM_STATE means: iconified, restored, or nothing worth telling.
std::optional<WindowEventKind> windowStateChange(bool wasIconic, bool isIconic);

class X11WindowEvents final : public WindowEvents {
public:
    // Needs the Qt application object; the session must outlive the service.
    explicit X11WindowEvents(X11Session& session);
    // Stops a reading of states in progress first.
    ~X11WindowEvents() override;

    bool isTrusted() const override { return true; }
    std::unique_ptr<WindowEventObservation> observe(std::int32_t pid, Callback callback) override;

private:
    struct Watch {
        std::int32_t pid;
        Callback callback;
        // Client window → iconic; absent until its first state is read.
        std::map<std::uint32_t, std::optional<bool>> windows;
        std::map<std::uint32_t, Subscription> selections;
    };
    class Observation;
    // A window's WM_STATE to read off the main loop, in the order asked: the first state of a window a watch
    // adopts, or the state after a notice (`known` when the notice says it already: deleted).
    struct StateAsk {
        std::uint32_t window = 0;
        bool first = false;
        std::optional<bool> known;
    };
    // What a read of `StateAsk`s found, in the same order.
    struct State {
        std::uint32_t window = 0;
        bool first = false;
        bool iconic = false;
    };

    void handle(const xcb_generic_event_t& event);
    // Adds each watch's process's listed windows to it (on start and after each reading of the client list).
    void adoptWindows(const std::vector<Watch*>& watches);
    std::vector<Watch*> allWatches();
    void askStates(std::vector<StateAsk> asks);
    // The reading thread's: reads the states asked so far.
    std::vector<State> readStates(const std::atomic<bool>& stop);
    // Main thread: a first state is each watch's starting point, a later one tells of a change.
    void take(const std::vector<State>& states);
    // Calls each watch still there.
    void call(const std::vector<std::pair<std::uint64_t, WindowEventKind>>& calls);
    void end(std::uint64_t id);

    X11Session& session_;
    Subscription handler_;
    Subscription clientChanges_;
    std::map<std::uint64_t, Watch> watches_;
    std::uint64_t nextId_ = 0;
    Lifetime lifetime_;
    std::mutex asksMutex_;
    std::vector<StateAsk> asks_;
    x11::ToMainThread toMain_;
    std::unique_ptr<x11::ReadThread> reads_;  // last: it goes first
};

}  // namespace velaro
