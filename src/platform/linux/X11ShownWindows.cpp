// The marker's round trip through the X server and the toolkit's event queue.
#include "platform/linux/X11ShownWindows.h"

#include <QCoreApplication>
#include <utility>

#include "base/MainLoop.h"

namespace velaro {

namespace {

// What the launch puts after its first band (the tray's theme icon, the corner windows, the settings it
// migrated) must not hang on one lost event: past this, the blocks run without the marker.
constexpr double kMarkerTimeout = 1.0;

}  // namespace

X11ShownWindows::X11ShownWindows(xcb_connection_t* toolkit, MainLoop& loop)
    : toolkit_(toolkit), loop_(loop) {}

X11ShownWindows::~X11ShownWindows() {
    lifetime_.end();
    if (!marker_) return;
    QCoreApplication::instance()->removeNativeEventFilter(this);
    xcb_destroy_window(toolkit_, marker_);
    xcb_flush(toolkit_);
}

void X11ShownWindows::afterShown(std::function<void()> block) {
    if (!toolkit_ || xcb_connection_has_error(toolkit_)) {
        loop_.post(lifetime_.guard(std::move(block)));
        return;
    }
    waiting_.push_back(std::move(block));
    if (marker_) return;  // the marker on its way was sent after every window shown so far
    // A window of our own that is never mapped receives the marker: an event sent with no mask goes to the
    // window's creator, after every event the requests before it caused. No reply is waited for.
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(toolkit_)).data;
    marker_ = xcb_generate_id(toolkit_);
    xcb_create_window(toolkit_, 0, marker_, screen->root, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = marker_;
    message.type = XCB_ATOM_NOTICE;
    xcb_send_event(toolkit_, 0, marker_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_flush(toolkit_);
    QCoreApplication::instance()->installNativeEventFilter(this);
    giveUp_ = loop_.postAfter(kMarkerTimeout, lifetime_.guard([this] { markerCameBack(); }));
}

bool X11ShownWindows::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
    if (type != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
    if (reinterpret_cast<const xcb_client_message_event_t*>(event)->window != marker_) return false;
    markerCameBack();
    return true;  // ours alone: the toolkit has no window of that number
}

void X11ShownWindows::markerCameBack() {
    giveUp_.cancel();
    QCoreApplication::instance()->removeNativeEventFilter(this);
    xcb_destroy_window(toolkit_, marker_);
    xcb_flush(toolkit_);
    marker_ = 0;
    // The exposes read before the marker are handed to their windows after the blocks posted in this turn:
    // one more turn lets them (and the painting they start) go first.
    loop_.post(lifetime_.guard([this, blocks = std::exchange(waiting_, {})]() mutable {
        loop_.post(lifetime_.guard([blocks = std::move(blocks)] {
            for (const auto& block : blocks) block();
        }));
    }));
}

}  // namespace velaro
