// Capture's reader of the screen for the benchmarks, over an X11 session made as the app makes it and
// following the server's notices as a running stream does; null without a display.
#pragma once

#include <memory>

#include "platform/linux/X11CaptureSession.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/XdgAppCatalog.h"

namespace velaro::bench {

inline std::unique_ptr<x11capture::Session> openCaptureReader() {
    static XdgAppCatalog catalog({"/nonexistent"});
    static const auto x11 = X11Session::open(
        {}, [] { return 1.0; }, catalog);
    if (!x11) return nullptr;
    auto session = x11capture::Session::open(*x11, {}, nullptr);
    if (session) session->setFollowing(true);
    return session;
}

}  // namespace velaro::bench
