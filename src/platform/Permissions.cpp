// The live statuses of what the app relies on in the session.
#include "platform/Permissions.h"

namespace velaro {

CapabilityWatch::CapabilityWatch(Permissions& permissions) : permissions_(permissions) {
    refresh();
}

void CapabilityWatch::refresh() {
    for (const Capability c : allCapabilities) {
        auto& asking = asking_[static_cast<std::size_t>(c)];
        if (asking) continue;
        // Marked first: an answer may come before check() returns.
        asking = true;
        permissions_.check(c, lifetime_.guard([this, c](bool present) {
            asking_[static_cast<std::size_t>(c)] = false;
            record(c, present);
        }));
    }
}

void CapabilityWatch::record(Capability c, bool present) {
    CapabilityStatuses next = statuses_();
    next[c] = present ? CapabilityStatus::present : CapabilityStatus::missing;
    if (next != statuses_()) statuses_ = next;
}

}  // namespace velaro
