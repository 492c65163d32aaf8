// The click tap on X11: grab, decision per press on the main thread, replay or swallow, and the timeout
// that keeps the desktop's clicks going while the main thread does not answer.
#include "platform/linux/X11EventTap.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/Log.h"
#include "platform/linux/X11WindowControl.h"
#include "platform/linux/XcbUtil.h"

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

// Reads the tap connection's events on a thread of its own, so that a frozen press can be let go even
// when the main thread, which decides, is busy.
class X11EventTap::Port final : public TapPort {
public:
    Port(X11EventTap& owner, Callback callback) : owner_(owner), shared_(std::make_shared<Shared>()) {
        shared_->callback = std::move(callback);
        auto* c = owner_.connection_->get();
        // A window of our own to wake the reader with when the port goes.
        wakeWindow_ = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, wakeWindow_, owner_.connection_->root(), -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_flush(c);
        reader_ = std::thread([this] { read(); });
    }
    ~Port() override {
        auto* c = owner_.connection_->get();
        {
            std::lock_guard lock(shared_->mutex);
            shared_->alive = false;
        }
        shared_->decided.notify_all();
        xcb_client_message_event_t wake{};
        wake.response_type = XCB_CLIENT_MESSAGE;
        wake.format = 32;
        wake.window = wakeWindow_;
        xcb_send_event(c, 0, wakeWindow_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&wake));
        xcb_flush(c);
        if (reader_.joinable()) reader_.join();
        // A press still frozen must not stay frozen once nobody decides on it.
        xcb_allow_events(c, XCB_ALLOW_REPLAY_POINTER, XCB_CURRENT_TIME);
        xcb_ungrab_button(c, kPrimaryButton, owner_.connection_->root(), XCB_MOD_MASK_ANY);
        xcb_destroy_window(c, wakeWindow_);
        xcb_flush(c);
    }
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    bool isEnabled() const override { return enabled_; }

private:
    // What the reader and the main thread share; the main thread's blocks may outlive the port.
    struct Shared {
        std::mutex mutex;
        std::condition_variable decided;
        bool alive = true;
        Callback callback;  // main thread only
        // The press waiting for its decision, and the answer.
        std::int64_t waiting = 0;
        std::optional<bool> pass;
        // A press was let go without a decision: the main thread hears of it before its next event.
        bool timedOut = false;
    };

    TapEvent eventFor(TapEventType type, std::int64_t number, std::int16_t rootX, std::int16_t rootY,
                      std::uint16_t state) {
        const auto monitors = readMonitors(*owner_.connection_);
        const Point primary = monitors.empty() ? Point{} : monitors.front().origin;
        const double k = owner_.pixelsPerPoint_;
        return TapEvent{type, number, Point{(rootX - primary.x) / k, (rootY - primary.y) / k},
                        tapFlagsFor(state)};
    }

    // Runs `event` through the callback on the main thread; for a press, records whether it passed.
    void deliver(const TapEvent& event) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [shared = shared_, event] {
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

    void read() {
        auto* c = owner_.connection_->get();
        std::optional<std::int64_t> swallowed;
        std::int64_t nextNumber = 0;
        while (auto* raw = xcb_wait_for_event(c)) {
            auto e = x11::own(raw);
            const auto type = e->response_type & 0x7f;
            if (type == XCB_CLIENT_MESSAGE &&
                reinterpret_cast<const xcb_client_message_event_t&>(*e).window == wakeWindow_) {
                std::lock_guard lock(shared_->mutex);
                if (!shared_->alive) return;
            } else if (type == XCB_BUTTON_PRESS) {
                const auto& press = reinterpret_cast<const xcb_button_press_event_t&>(*e);
                if (press.detail != kPrimaryButton) continue;
                const auto number = ++nextNumber;
                swallowed.reset();
                bool pass = true;
                if (enabled_) {
                    std::unique_lock lock(shared_->mutex);
                    shared_->waiting = number;
                    shared_->pass.reset();
                    lock.unlock();
                    deliver(eventFor(TapEventType::leftMouseDown, number, press.root_x, press.root_y,
                                     press.state));
                    lock.lock();
                    const bool answered = shared_->decided.wait_for(
                        lock, kDecisionTimeout, [&] { return shared_->pass.has_value() || !shared_->alive; });
                    if (answered && shared_->pass) pass = *shared_->pass;
                    if (!answered) shared_->timedOut = true;
                    shared_->waiting = 0;
                }
                // The server replays a passed press exactly as it was: other flags cannot be put on it.
                if (pass) {
                    xcb_allow_events(c, XCB_ALLOW_REPLAY_POINTER, press.time);
                } else {
                    // The grab stays ours until the button is released, so the release comes here too.
                    xcb_allow_events(c, XCB_ALLOW_ASYNC_POINTER, press.time);
                    swallowed = number;
                }
                xcb_flush(c);
            } else if (type == XCB_BUTTON_RELEASE) {
                const auto& release = reinterpret_cast<const xcb_button_release_event_t&>(*e);
                if (release.detail != kPrimaryButton || !swallowed) continue;
                // The window never saw the press, so it cannot be given the release either.
                deliver(eventFor(TapEventType::leftMouseUp, *swallowed, release.root_x, release.root_y,
                                 release.state));
                swallowed.reset();
            }
        }
    }

    X11EventTap& owner_;
    std::shared_ptr<Shared> shared_;
    std::atomic<bool> enabled_{true};
    xcb_window_t wakeWindow_ = 0;
    std::thread reader_;
};

std::unique_ptr<X11EventTap> X11EventTap::create(double pixelsPerPoint, const char* display) {
    auto connection = x11::Connection::open(display);
    if (!connection) return nullptr;
    return std::unique_ptr<X11EventTap>(new X11EventTap(std::move(connection), pixelsPerPoint));
}

X11EventTap::X11EventTap(std::unique_ptr<x11::Connection> connection, double pixelsPerPoint)
    : connection_(std::move(connection)), pixelsPerPoint_(pixelsPerPoint > 0 ? pixelsPerPoint : 1) {}

X11EventTap::~X11EventTap() = default;

bool X11EventTap::isTrusted() const {
    return !connection_->broken();
}

std::unique_ptr<TapPort> X11EventTap::createTap(Callback callback) {
    auto* c = connection_->get();
    if (connection_->broken() || !QCoreApplication::instance()) return nullptr;
    const std::uint16_t mask = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE;
    auto* error = xcb_request_check(
        c, xcb_grab_button_checked(c, 0, connection_->root(), mask, XCB_GRAB_MODE_SYNC, XCB_GRAB_MODE_ASYNC,
                                   XCB_WINDOW_NONE, XCB_CURSOR_NONE, kPrimaryButton, XCB_MOD_MASK_ANY));
    if (error) {
        // Asked again at every program switch: say it once.
        if (!refusalLogged_)
            logLine("GREENFILL", "cannot watch clicks: another program holds the primary button");
        refusalLogged_ = true;
        std::free(error);
        return nullptr;
    }
    return std::make_unique<Port>(*this, std::move(callback));
}

}  // namespace velaro
