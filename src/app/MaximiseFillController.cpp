// The green-button fill: the tap's decisions on presses and releases, and the worker chain that fills.
#include "app/MaximiseFillController.h"

#include "base/MainLoop.h"
#include "platform/WindowList.h"
#include "settings/OverlaySettings.h"

namespace velaro {

namespace {

constexpr std::uint64_t kShiftControlCommand =
    TapEvent::shiftFlag | TapEvent::controlFlag | TapEvent::commandFlag;
constexpr std::uint64_t kAllModifiers = kShiftControlCommand | TapEvent::optionFlag;

}  // namespace

MaximiseFillChain::MaximiseFillChain(SerialQueue& queue, WindowControl& windows,
                                     std::function<void(ChainOutcome)> report)
    : queue_(queue), windows_(windows), report_(std::move(report)) {}

void MaximiseFillChain::setActive(bool active) {
    std::lock_guard lock(lock_);
    active_ = active;
}

bool MaximiseFillChain::isActive() const {
    std::lock_guard lock(lock_);
    return active_;
}

void MaximiseFillChain::queueFill(WindowHandle window, std::int32_t pid) {
    // The block keeps the chain alive: a tap removed meanwhile must still see the fill reported as dropped.
    queue_.async([self = shared_from_this(), window, pid] { self->runFill(window, pid); });
}

void MaximiseFillChain::runFill(WindowHandle window, std::int32_t pid) {
    const auto outcome = isActive() ? performFill(window, pid) : ChainOutcome::droppedSettingOff;
    if (report_) report_(outcome);
}

ChainOutcome MaximiseFillChain::performFill(WindowHandle window, std::int32_t) {
    if (windows_.raise(window) == WindowActionResult::invalidWindow) return ChainOutcome::targetGone;
    // Whether the program came to the front does not decide anything: the fill goes ahead either way.
    windows_.activate(window);
    return pressMaximiseButton(window);
}

ChainOutcome MaximiseFillChain::pressMaximiseButton(WindowHandle window) {
    switch (windows_.fill(window)) {
        case WindowActionResult::success:
            return ChainOutcome::filled;
        case WindowActionResult::invalidWindow:
            return ChainOutcome::targetGone;
        case WindowActionResult::failure:
            break;
    }
    return ChainOutcome::clickLost;
}

MaximiseFillController::MaximiseFillController(MaximiseFillServices services)
    : services_(services), queue_(services.mainLoop.makeSerialQueue(queueLabel)) {}

MaximiseFillController::~MaximiseFillController() {
    settingObserver_.cancel();
    lifetime_.end();
    removeTap();
    // Blocks still queued are dropped with the queue; a running one finishes first.
    queue_.reset();
}

void MaximiseFillController::attach(OverlaySettings& settings) {
    settingObserver_ = settings.maximiseButtonFillsWindow.stream()
                           .receiveOn(services_.mainLoop)
                           .removeDuplicates()
                           .sink(lifetime_.guard([this](const bool& on) { settingChanged(on); }));
}

void MaximiseFillController::settingChanged(bool on) {
    desiredEnabled_ = on;
    if (on)
        installTap();
    else
        removeTap();
}

void MaximiseFillController::frontmostAppChanged(std::int32_t) {
    if (desiredEnabled_ && !tap_ && services_.eventTap.isTrusted()) installTap();
}

void MaximiseFillController::installTap() {
    if (tap_ || !services_.eventTap.isTrusted()) return;
    // The tap decides on the main thread; a press arriving after the controller went passes untouched.
    auto tap = services_.eventTap.createTap(
        [this, token = lifetime_.token()](const TapEvent& event) -> std::optional<TapEvent> {
            if (!token.aliveHere()) return event;
            return handle(event);
        });
    if (!tap) return;
    tap->setEnabled(true);

    // Nothing here waits on what a fill came to: the chain works unobserved.
    auto chain = std::make_shared<MaximiseFillChain>(*queue_, services_.windowControl, nullptr);
    chain->setActive(true);
    tap_ = std::move(tap);
    chain_ = std::move(chain);
}

void MaximiseFillController::removeTap() {
    if (chain_) {
        chain_->setActive(false);
        chain_.reset();
    }
    pending_.reset();
    strippedEventNumber_.reset();
    if (tap_) {
        tap_->setEnabled(false);
        tap_.reset();
    }
}

std::optional<MaximiseFillController::Owner> MaximiseFillController::windowOwnerAt(Point point) {
    for (const auto& w : services_.windowList.snapshot()) {
        if (!w.bounds || !w.ownerPID || !w.layer) continue;
        if (*w.layer == 0 && w.bounds->contains(point)) return Owner{*w.ownerPID, w.number.value_or(0)};
    }
    return std::nullopt;
}

std::optional<TapEvent> MaximiseFillController::handle(const TapEvent& event) {
    const auto n = event.eventNumber;
    switch (event.type) {
        case TapEventType::tapDisabledByTimeout:
        case TapEventType::tapDisabledByUserInput:
            if (tap_) tap_->setEnabled(true);
            return event;

        case TapEventType::leftMouseDown: {
            // A new press abandons whatever an earlier one left.
            pending_.reset();
            strippedEventNumber_.reset();
            if (event.flags & kShiftControlCommand) return event;
            const auto owner = windowOwnerAt(event.location);
            if (!owner || owner->pid < 1 || owner->pid == services_.ownPID) return event;
            const auto button = services_.windowControl.maximiseButtonAt(event.location, owner->windowNumber);
            if (!button) return event;
            if (services_.windowControl.isFullScreen(button->window).value_or(false)) return event;
            if ((event.flags & kAllModifiers) == TapEvent::optionFlag) {
                // Option asks for the window manager's own action: a plain click on the button.
                strippedEventNumber_ = n;
                auto plain = event;
                plain.flags &= ~TapEvent::optionFlag;
                return plain;
            }
            const auto pid = services_.windowControl.processOf(button->window);
            if (!pid || *pid < 1 || !chain_) return event;
            pending_ = PendingFill{n, button->frame, button->window, *pid};
            return std::nullopt;
        }

        case TapEventType::leftMouseUp:
            if (pending_ && pending_->eventNumber == n) {
                const auto fill = *pending_;
                pending_.reset();
                // Released off the button: the click is cancelled, and the window saw neither half.
                if (!fill.buttonFrame.contains(event.location) || !chain_) return std::nullopt;
                chain_->queueFill(fill.window, fill.pid);
                return std::nullopt;
            }
            if (strippedEventNumber_ == n) {
                strippedEventNumber_.reset();
                auto plain = event;
                plain.flags &= ~TapEvent::optionFlag;
                return plain;
            }
            return event;
    }
    return event;
}

}  // namespace velaro
