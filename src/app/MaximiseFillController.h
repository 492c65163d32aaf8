// The green-button window fill: a plain click on another program's maximise button makes its window
// fill the work area of its monitor instead of what the window manager would do. A tap decides on each
// primary-button press and release; the fill itself runs on a worker queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "base/Cancellable.h"
#include "base/Geometry.h"
#include "base/Lifetime.h"
#include "platform/EventTap.h"
#include "platform/WindowControl.h"

namespace velaro {

class MainLoop;
class OverlaySettings;
class SerialQueue;
class WindowList;

// What one fill attempt came to.
enum class ChainOutcome { filled, droppedSettingOff, targetGone, clickLost };

// The worker of the fill: raises the window, activates its program and fills it, on its serial queue.
// Created with each tap and dropped with it; fills it had queued still run but find it inactive.
class MaximiseFillChain : public std::enable_shared_from_this<MaximiseFillChain> {
public:
    // `queue` and `windows` must outlive every block the chain queues. `report` is called on the queue.
    MaximiseFillChain(SerialQueue& queue, WindowControl& windows, std::function<void(ChainOutcome)> report);

    // Callable from any thread; work queued while inactive reports `droppedSettingOff` and does nothing.
    void setActive(bool active);
    bool isActive() const;
    // Queues the fill of `window` (owned by `pid`).
    void queueFill(WindowHandle window, std::int32_t pid);

    // On the queue only.
    void runFill(WindowHandle window, std::int32_t pid);
    ChainOutcome performFill(WindowHandle window, std::int32_t pid);
    ChainOutcome pressMaximiseButton(WindowHandle window);

private:
    SerialQueue& queue_;
    WindowControl& windows_;
    std::function<void(ChainOutcome)> report_;
    mutable std::mutex lock_;
    bool active_ = false;
};

// What the controller works with; every service must outlive it.
struct MaximiseFillServices {
    EventTap& eventTap;
    WindowList& windowList;
    WindowControl& windowControl;
    MainLoop& mainLoop;
    // This process: clicks on its own windows are never touched.
    std::int32_t ownPID;
};

class MaximiseFillController {
public:
    static constexpr const char* queueLabel = "com.quornet.velaro.greenfill";

    // No tap yet. Main thread only, like every member.
    explicit MaximiseFillController(MaximiseFillServices services);
    ~MaximiseFillController();
    MaximiseFillController(const MaximiseFillController&) = delete;
    MaximiseFillController& operator=(const MaximiseFillController&) = delete;

    // Follows the stored `maximiseButtonFillsWindow` (which must outlive the controller): each distinct
    // value, the current one first, on a later turn of the main loop, goes to `settingChanged`.
    void attach(OverlaySettings& settings);
    // The setting switched: on sets `desiredEnabled` and installs the tap, off clears it and removes it.
    void settingChanged(bool on);
    // Another program came to the front: installs the tap if it is wanted but missing (it may have been
    // refused while this process was not trusted).
    void frontmostAppChanged(std::int32_t pid);

    void installTap();
    void removeTap();
    // The tap's decision on one event: the event to pass (possibly altered), or nothing to swallow it.
    std::optional<TapEvent> handle(const TapEvent& event);

private:
    // A swallowed press on a maximise button, waiting for its release.
    struct PendingFill {
        std::int64_t eventNumber;
        Rect buttonFrame;
        WindowHandle window;
        std::int32_t pid;
    };
    struct Owner {
        std::int32_t pid;
        std::int64_t windowNumber;
    };
    // The program owning the front-most normal window under `point` (top-left global points).
    std::optional<Owner> windowOwnerAt(Point point);

    MaximiseFillServices services_;
    // The user's setting as last applied.
    bool desiredEnabled_ = false;
    std::unique_ptr<SerialQueue> queue_;
    std::unique_ptr<TapPort> tap_;
    std::shared_ptr<MaximiseFillChain> chain_;
    std::optional<PendingFill> pending_;
    std::optional<std::int64_t> strippedEventNumber_;
    Subscription settingObserver_;
    // Checked by the tap's callback, which may outlive the controller.
    Lifetime lifetime_;
};

}  // namespace velaro
