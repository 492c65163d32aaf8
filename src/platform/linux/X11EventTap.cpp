// The click tap on X11: grab, decision per press on the main thread, replay or swallow, and the timeout
// that keeps the desktop's clicks going while the main thread does not answer.
#include "platform/linux/X11EventTap.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "base/Log.h"
#include "platform/linux/X11Session.h"

namespace velaro {

namespace {
constexpr std::uint8_t kPrimaryButton = 1;
// How long a press waits for the main thread's decision. The pointer of the whole desktop is frozen
// meanwhile: past this the press goes to its window untouched and the tap counts as switched off.
constexpr auto kDecisionTimeout = std::chrono::milliseconds(500);
}  // namespace

std::uint64_t tapFlagsFor(std::uint16_t state) {
    std::uint64_t flags = 0;
    if (state & XCB_MOD_MASK_SHIFT) flags |= TapEvent::shiftFlag;
    if (state & XCB_MOD_MASK_CONTROL) flags |= TapEvent::controlFlag;
    if (state & XCB_MOD_MASK_1) flags |= TapEvent::optionFlag;
    if (state & XCB_MOD_MASK_4) flags |= TapEvent::commandFlag;
    return flags;
}

// Decides on the presses on the desktop connection's event thread, so that a frozen press can be let go even
// when the main thread, which decides, is busy.
class X11EventTap::Port final : public TapPort {
public:
    Port(X11Session& session, Callback callback) : session_(session), shared_(std::make_shared<Shared>()) {
        shared_->callback = std::move(callback);
        // The filter holds only the shared state: it may still be running when the port goes.
        filter_ = session_.addEventFilter(
            [shared = shared_, &session](x11::EventPump::Batch& batch) { filter(session, shared, batch); });
    }
    ~Port() override {
        {
            std::lock_guard lock(shared_->mutex);
            shared_->alive = false;
        }
        shared_->decided.notify_all();
        filter_.cancel();
        auto& connection = session_.desktop();
        auto* c = connection.get();
        // A press still frozen must not stay frozen once nobody decides on it.
        xcb_allow_events(c, XCB_ALLOW_REPLAY_POINTER, XCB_CURRENT_TIME);
        xcb_ungrab_button(c, kPrimaryButton, connection.root(), XCB_MOD_MASK_ANY);
        xcb_flush(c);
    }
    void setEnabled(bool enabled) override { shared_->enabled = enabled; }
    bool isEnabled() const override { return shared_->enabled; }

private:
    // What the event thread and the main thread share; the main thread's blocks may outlive the port.
    struct Shared {
        std::mutex mutex;
        std::condition_variable decided;
        bool alive = true;
        std::atomic<bool> enabled{true};
        Callback callback;  // main thread only
        // The press waiting for its decision, and the answer.
        std::int64_t waiting = 0;
        std::optional<bool> pass;
        // A press was let go without a decision: the main thread hears of it before its next event.
        bool timedOut = false;
        // The event thread's own: the press whose release is ours too, and the numbering.
        std::optional<std::int64_t> swallowed;
        std::int64_t nextNumber = 0;
    };

    static TapEvent eventFor(X11Session& session, TapEventType type, std::int64_t number, std::int16_t rootX,
                             std::int16_t rootY, std::uint16_t state) {
        return TapEvent{type, number, session.space().topLeftFromRoot(Point{double(rootX), double(rootY)}),
                        tapFlagsFor(state)};
    }

    // Runs `event` through the callback on the main thread; for a press, records whether it passed.
    static void deliver(const std::shared_ptr<Shared>& shared, const TapEvent& event) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [shared, event] {
                Callback callback;
                bool timedOut = false;
                {
                    std::lock_guard lock(shared->mutex);
                    if (!shared->alive) return;
                    callback = shared->callback;
                    timedOut = std::exchange(shared->timedOut, false);
                }
                if (timedOut) callback(TapEvent{TapEventType::tapDisabledByTimeout, 0, event.location, 0});
                // A press whose wait ran out has gone to its window already: deciding on it now would be
                // wrong.
                {
                    std::lock_guard lock(shared->mutex);
                    if (event.type == TapEventType::leftMouseDown && shared->waiting != event.eventNumber)
                        return;
                }
                const bool pass = callback(event).has_value();
                if (event.type != TapEventType::leftMouseDown) return;
                {
                    std::lock_guard lock(shared->mutex);
                    if (shared->waiting == event.eventNumber) shared->pass = pass;
                }
                shared->decided.notify_all();
            },
            Qt::QueuedConnection);
    }

    // The event thread's part: presses and releases of the primary button are the tap's, whatever window
    // they were grabbed over; everything else goes on to the main thread.
    static void filter(X11Session& session, const std::shared_ptr<Shared>& shared,
                       x11::EventPump::Batch& batch) {
        auto* c = session.desktop().get();
        for (auto& e : batch) {
            if (!e) continue;
            const auto type = e->response_type & 0x7f;
            if (type == XCB_BUTTON_PRESS) {
                const auto& press = reinterpret_cast<const xcb_button_press_event_t&>(*e);
                if (press.detail != kPrimaryButton) continue;
                const auto number = ++shared->nextNumber;
                shared->swallowed.reset();
                bool pass = true;
                if (shared->enabled) {
                    std::unique_lock lock(shared->mutex);
                    if (!shared->alive) continue;
                    shared->waiting = number;
                    shared->pass.reset();
                    lock.unlock();
                    deliver(shared, eventFor(session, TapEventType::leftMouseDown, number, press.root_x,
                                             press.root_y, press.state));
                    lock.lock();
                    const bool answered = shared->decided.wait_for(
                        lock, kDecisionTimeout, [&] { return shared->pass.has_value() || !shared->alive; });
                    if (answered && shared->pass) pass = *shared->pass;
                    if (!answered) shared->timedOut = true;
                    shared->waiting = 0;
                }
                // The server replays a passed press exactly as it was: other flags cannot be put on it.
                if (pass) {
                    xcb_allow_events(c, XCB_ALLOW_REPLAY_POINTER, press.time);
                } else {
                    // The grab stays ours until the button is released, so the release comes here too.
                    xcb_allow_events(c, XCB_ALLOW_ASYNC_POINTER, press.time);
                    shared->swallowed = number;
                }
                xcb_flush(c);
                e.reset();
            } else if (type == XCB_BUTTON_RELEASE) {
                const auto& release = reinterpret_cast<const xcb_button_release_event_t&>(*e);
                if (release.detail != kPrimaryButton) continue;
                // The window never saw the press, so it cannot be given the release either.
                if (shared->swallowed)
                    deliver(shared, eventFor(session, TapEventType::leftMouseUp, *shared->swallowed,
                                             release.root_x, release.root_y, release.state));
                shared->swallowed.reset();
                e.reset();
            }
        }
    }

    X11Session& session_;
    std::shared_ptr<Shared> shared_;
    Subscription filter_;
};

X11EventTap::X11EventTap(X11Session& session) : session_(session) {}

X11EventTap::~X11EventTap() = default;

bool X11EventTap::isTrusted() const {
    return !session_.desktop().broken();
}

std::unique_ptr<TapPort> X11EventTap::createTap(Callback callback) {
    auto& connection = session_.desktop();
    auto* c = connection.get();
    if (connection.broken() || !QCoreApplication::instance()) return nullptr;
    // The port listens before the grab exists, so that no press can reach the main thread undecided.
    auto port = std::make_unique<Port>(session_, std::move(callback));
    const std::uint16_t mask = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE;
    const auto error = x11::checkRequest(
        c, xcb_grab_button_checked(c, 0, connection.root(), mask, XCB_GRAB_MODE_SYNC, XCB_GRAB_MODE_ASYNC,
                                   XCB_WINDOW_NONE, XCB_CURSOR_NONE, kPrimaryButton, XCB_MOD_MASK_ANY));
    if (error) {
        // Asked again at every program switch: say it once.
        if (!refusalLogged_)
            qCWarning(lcDesktop) << tagged("GREENFILL",
                                           "cannot watch clicks: another program holds the primary button");
        refusalLogged_ = true;
        return nullptr;
    }
    return port;
}

}  // namespace velaro
