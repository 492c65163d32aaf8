// What the app relies on in the desktop session, each checked live, and the help page that says what a
// missing one costs and how to get it. An X11 desktop grants no program a permission of its own: each of
// these runs in the session or it does not, and may start or stop while the app runs.
#pragma once

#include <array>
#include <cstddef>
#include <functional>

#include "base/Lifetime.h"
#include "base/Published.h"

namespace velaro {

enum class Capability {
    // An X11 session whose screen can be read and drawn over: the band itself. (The X server of a Wayland
    // session shows none of the desktop, so its colours would be wrong without any error.)
    x11Session,
    // A compositing manager: translucency. Without one every overlay pixel is opaque.
    compositor,
    // A media player on the session bus: the progress bar's track.
    mediaPlayer,
    // A PulseAudio-compatible sound server: the music visualizer's sound.
    soundServer,
    // A window manager that answers the desktop's window hints: acting on other windows (filling one).
    windowManager,
};

inline constexpr std::size_t capabilityCount = 5;
inline constexpr std::array<Capability, capabilityCount> allCapabilities{
    Capability::x11Session, Capability::compositor, Capability::mediaPlayer, Capability::soundServer,
    Capability::windowManager};

// `unknown` until the first answer: a check that waits on another process has not come back yet.
enum class CapabilityStatus { unknown, present, missing };

// The last answer for every capability.
struct CapabilityStatuses {
    std::array<CapabilityStatus, capabilityCount> of{};

    CapabilityStatus operator[](Capability c) const { return of[static_cast<std::size_t>(c)]; }
    CapabilityStatus& operator[](Capability c) { return of[static_cast<std::size_t>(c)]; }
    bool present(Capability c) const { return (*this)[c] == CapabilityStatus::present; }
    friend bool operator==(const CapabilityStatuses&, const CapabilityStatuses&) = default;
};

class Permissions {
public:
    using Answer = std::function<void(bool present)>;

    virtual ~Permissions() = default;

    // Checks afresh whether `capability` is there and calls `answer` with it on the main thread: before
    // returning where the X server alone tells (a round trip), on a later turn where another process must
    // answer (the session bus, the sound server). Nothing here blocks for longer than an X round trip. A
    // caller that may go before the answer comes guards `answer`. Main thread.
    virtual void check(Capability capability, Answer answer) = 0;
    // Opens the help page on what `capability` gives and how to get it; false when nothing could be opened.
    virtual bool openHelp(Capability capability) = 0;
};

// Every capability's status as the desktop last answered it, asked again on refresh(). A capability whose
// check is still out is not asked again until it answers, so a bus that hangs never piles up calls.
class CapabilityWatch {
public:
    // Checks every capability at once: those the X server answers are known when this returns.
    explicit CapabilityWatch(Permissions& permissions);
    CapabilityWatch(const CapabilityWatch&) = delete;
    CapabilityWatch& operator=(const CapabilityWatch&) = delete;

    // Assigned only when an answer changes a status.
    const Published<CapabilityStatuses>& statuses() const { return statuses_; }
    bool present(Capability c) const { return statuses_().present(c); }
    void refresh();
    bool openHelp(Capability c) { return permissions_.openHelp(c); }

private:
    void record(Capability c, bool present);

    Permissions& permissions_;
    Published<CapabilityStatuses> statuses_;
    std::array<bool, capabilityCount> asking_{};
    Lifetime lifetime_;
};

}  // namespace velaro
