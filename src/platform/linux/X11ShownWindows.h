// Knowing when the windows the app has shown so far have had their first picture: the X server has taken
// the toolkit's requests (the maps among them) and the exposes they caused have reached their windows.
#pragma once

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <functional>
#include <vector>

#include "base/Cancellable.h"
#include "base/Lifetime.h"

namespace velaro {

class MainLoop;

class X11ShownWindows final : private QAbstractNativeEventFilter {
public:
    // `toolkit` is Qt's own connection: the one its windows are mapped and exposed on. Main thread.
    X11ShownWindows(xcb_connection_t* toolkit, MainLoop& loop);
    ~X11ShownWindows() override;
    X11ShownWindows(const X11ShownWindows&) = delete;
    X11ShownWindows& operator=(const X11ShownWindows&) = delete;

    // Runs `block` on the main loop once every window shown before this call has been exposed and painted,
    // or was not exposed at all (covered, or cut to nothing): a marker sent after the maps comes back behind
    // their exposes, and the toolkit hands those to their windows a turn later, before the block runs.
    // Nothing waits for the server meanwhile. Without a connection the block runs on the next turn; a marker
    // that does not come back within a second (lost on the way) is not waited for any longer.
    void afterShown(std::function<void()> block);

private:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;
    void markerCameBack();

    xcb_connection_t* toolkit_;
    MainLoop& loop_;
    xcb_window_t marker_ = 0;  // while a marker is on its way
    std::vector<std::function<void()>> waiting_;
    Lifetime lifetime_;
    Cancellable giveUp_;  // while a marker is on its way
};

}  // namespace velaro
