// A hook in front of every primary-button click on the desktop: it sees each press before any window does
// and decides whether the window under the pointer gets it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "base/Geometry.h"

namespace velaro {

enum class TapEventType {
    leftMouseDown,
    leftMouseUp,
    // The system switched the tap off (it answered too slowly, or user input did); it stays installed.
    tapDisabledByTimeout,
    tapDisabledByUserInput,
};

// One event as the tap sees it.
struct TapEvent {
    // Modifier flags of an event.
    static constexpr std::uint64_t shiftFlag = 0x20000;
    static constexpr std::uint64_t controlFlag = 0x40000;
    static constexpr std::uint64_t optionFlag = 0x80000;
    static constexpr std::uint64_t commandFlag = 0x100000;

    TapEventType type = TapEventType::leftMouseDown;
    // Numbers a click: a press and its release carry the same number; each press gets a new one.
    std::int64_t eventNumber = 0;
    // The pointer, in top-left global points.
    Point location;
    std::uint64_t flags = 0;

    friend bool operator==(const TapEvent&, const TapEvent&) = default;
};

// An installed tap. Destroying it removes the tap and passes every later click untouched.
class TapPort {
public:
    virtual ~TapPort() = default;
    // A disabled tap passes every event without asking its callback.
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
};

class EventTap {
public:
    // Called on the main thread for each left press and for the release of a press it swallowed; returns
    // the event to pass on (possibly with other flags), or nothing to swallow it.
    using Callback = std::function<std::optional<TapEvent>(const TapEvent&)>;

    virtual ~EventTap() = default;
    // True when this process may watch and hold back other programs' clicks.
    virtual bool isTrusted() const = 0;
    // Installs a tap for left presses and releases, enabled; null when it cannot be installed (not
    // trusted, or another program holds the clicks). Main thread only.
    virtual std::unique_ptr<TapPort> createTap(Callback callback) = 0;
};

}  // namespace velaro
