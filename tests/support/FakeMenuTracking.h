// Menu tracking driven by the test.
#pragma once

#include "platform/MenuTracking.h"

namespace velaro::test {

class FakeMenuTracking final : public MenuTracking {
public:
    Stream<MenuTrackingEvent> events() const override { return events_.stream(); }

    void begin() { events_.send(MenuTrackingEvent::began); }
    void end() { events_.send(MenuTrackingEvent::ended); }

private:
    PassthroughSubject<MenuTrackingEvent> events_;
};

}  // namespace velaro::test
