// The click tap on X11: a synchronous passive grab of the primary button on the root window, on the session's
// desktop connection. Each press waits in the server until the tap decides on the main thread (at most half a
// second: past that it goes on untouched and the tap reports itself switched off by timeout); a passed press
// is replayed to the windows beneath, a swallowed one (and its release) reaches no other program.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>

#include "base/Geometry.h"
#include "platform/EventTap.h"

namespace velaro {

class X11Session;

// The tap's flags for an X modifier state: Shift, Control, Alt (Mod1) as option and Super (Mod4) as command.
std::uint64_t tapFlagsFor(std::uint16_t state);

class X11EventTap final : public EventTap {
public:
    // Main thread only, like the taps it creates; it must outlive them, and the session must outlive it.
    explicit X11EventTap(X11Session& session);
    ~X11EventTap() override;

    // X11 lets any client hold clicks back; true while the display answers.
    bool isTrusted() const override;
    // Null when another program grabs the primary button on the root already.
    std::unique_ptr<TapPort> createTap(Callback callback) override;

private:
    class Port;
    X11Session& session_;
    bool refusalLogged_ = false;
};

}  // namespace velaro
