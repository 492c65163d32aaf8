// The click tap on X11: grab, decision per press, replay or swallow.
#include "platform/linux/X11EventTap.h"

#include "base/Log.h"
#include "platform/linux/X11WindowControl.h"
#include "platform/linux/XcbUtil.h"

namespace velaro {

namespace {
constexpr std::uint8_t kPrimaryButton = 1;
}  // namespace

std::uint64_t tapFlagsFor(std::uint16_t state) {
    std::uint64_t flags = 0;
    if (state & XCB_MOD_MASK_SHIFT) flags |= TapEvent::shiftFlag;
    if (state & XCB_MOD_MASK_CONTROL) flags |= TapEvent::controlFlag;
    if (state & XCB_MOD_MASK_1) flags |= TapEvent::optionFlag;
    if (state & XCB_MOD_MASK_4) flags |= TapEvent::commandFlag;
    return flags;
}

class X11EventTap::Port final : public TapPort {
public:
    Port(X11EventTap& owner, Callback callback) : owner_(owner), callback_(std::move(callback)) {
        handler_ = owner_.pump_->addHandler([this](const xcb_generic_event_t& e) { handle(e); });
    }
    ~Port() override {
        handler_.cancel();
        auto* c = owner_.connection_->get();
        // A press still frozen must not stay frozen once nobody decides on it.
        xcb_allow_events(c, XCB_ALLOW_REPLAY_POINTER, XCB_CURRENT_TIME);
        xcb_ungrab_button(c, kPrimaryButton, owner_.connection_->root(), XCB_MOD_MASK_ANY);
        xcb_flush(c);
    }
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    bool isEnabled() const override { return enabled_; }

private:
    TapEvent eventFor(TapEventType type, std::int64_t number, std::int16_t rootX, std::int16_t rootY,
                      std::uint16_t state) {
        const auto monitors = readMonitors(*owner_.connection_);
        const Point primary = monitors.empty() ? Point{} : monitors.front().origin;
        const double k = owner_.pixelsPerPoint_;
        return TapEvent{type, number, Point{(rootX - primary.x) / k, (rootY - primary.y) / k},
                        tapFlagsFor(state)};
    }

    void handle(const xcb_generic_event_t& e) {
        auto* c = owner_.connection_->get();
        const auto type = e.response_type & 0x7f;
        if (type == XCB_BUTTON_PRESS) {
            const auto& press = reinterpret_cast<const xcb_button_press_event_t&>(e);
            if (press.detail != kPrimaryButton) return;
            const auto number = ++owner_.nextEventNumber_;
            swallowed_.reset();
            bool pass = true;
            if (enabled_ && callback_)
                pass = callback_(eventFor(TapEventType::leftMouseDown, number, press.root_x, press.root_y,
                                          press.state))
                           .has_value();
            // The server replays a passed press exactly as it was: other flags cannot be put on it.
            if (pass) {
                xcb_allow_events(c, XCB_ALLOW_REPLAY_POINTER, press.time);
            } else {
                // The grab stays ours until the button is released, so the release comes here too.
                xcb_allow_events(c, XCB_ALLOW_ASYNC_POINTER, press.time);
                swallowed_ = number;
            }
            xcb_flush(c);
        } else if (type == XCB_BUTTON_RELEASE) {
            const auto& release = reinterpret_cast<const xcb_button_release_event_t&>(e);
            if (release.detail != kPrimaryButton || !swallowed_) return;
            const auto number = *swallowed_;
            swallowed_.reset();
            // The window never saw the press, so it cannot be given the release either.
            if (callback_)
                callback_(eventFor(TapEventType::leftMouseUp, number, release.root_x, release.root_y,
                                   release.state));
        }
    }

    X11EventTap& owner_;
    Callback callback_;
    Subscription handler_;
    bool enabled_ = true;
    std::optional<std::int64_t> swallowed_;
};

std::unique_ptr<X11EventTap> X11EventTap::create(double pixelsPerPoint, const char* display) {
    auto connection = x11::Connection::open(display);
    if (!connection) return nullptr;
    return std::unique_ptr<X11EventTap>(new X11EventTap(std::move(connection), pixelsPerPoint));
}

X11EventTap::X11EventTap(std::unique_ptr<x11::Connection> connection, double pixelsPerPoint)
    : connection_(std::move(connection)),
      pump_(std::make_unique<x11::EventPump>(*connection_)),
      pixelsPerPoint_(pixelsPerPoint > 0 ? pixelsPerPoint : 1) {}

X11EventTap::~X11EventTap() = default;

bool X11EventTap::isTrusted() const {
    return !connection_->broken();
}

std::unique_ptr<TapPort> X11EventTap::createTap(Callback callback) {
    auto* c = connection_->get();
    if (connection_->broken()) return nullptr;
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
