// The Qt window that shows an overlay window, found as any other code could: among the application's
// windows, by the window number the overlay window gives.
#pragma once

#include <QGuiApplication>
#include <QWindow>

#include "platform/OverlayWindowHost.h"

namespace velaro::test {

inline QWindow* qtWindowOf(const OverlayWindow& window) {
    const auto number = window.windowNumber();
    for (QWindow* candidate : QGuiApplication::allWindows())
        if (candidate->handle() && static_cast<WindowNumber>(candidate->winId()) == number)
            return candidate;
    return nullptr;
}

}  // namespace velaro::test
