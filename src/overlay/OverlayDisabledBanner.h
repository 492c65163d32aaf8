// The "Overlay disabled" reminder: a small capsule that fades in just below the main screen's panel when
// the app starts with the master switch off, stays a few seconds and fades away.
#pragma once

#include <memory>
#include <vector>

#include "base/Cancellable.h"
#include "base/Geometry.h"
#include "base/Lifetime.h"
#include "platform/OverlayWindowHost.h"

class QPainter;

namespace velaro {

class MainLoop;
class Screens;

// The capsule's content: a switch symbol and the text, on a rounded glass-like plate with a margin around it.
class ReminderBannerView {
public:
    static constexpr const char* text = "Overlay disabled";
    // The size the content asks for; never stretched or squeezed.
    static Size idealSize();
    static void paint(QPainter& painter, Size size);
};

class ReminderBannerWindow {
public:
    // The window starts hidden (alpha 0) and ordered out, 220 × 84 pt, above the overlay's own windows.
    ReminderBannerWindow(OverlayWindowHost& host, MainLoop& loop, const Screens& screens);
    ~ReminderBannerWindow();
    ReminderBannerWindow(const ReminderBannerWindow&) = delete;
    ReminderBannerWindow& operator=(const ReminderBannerWindow&) = delete;

    // Fades the banner in centred below the main screen's panel and fades it out `duration` seconds later.
    // A second call while it shows schedules a second fade-out and keeps the first: the earlier one wins.
    void show(double duration);

    OverlayWindow& window() { return *window_; }

private:
    void fadeOut();

    OverlayWindowHost& host_;
    MainLoop& loop_;
    const Screens& screens_;
    std::unique_ptr<OverlayWindow> window_;
    std::vector<Cancellable> fadeOuts_;
    Lifetime lifetime_;
};

}  // namespace velaro
