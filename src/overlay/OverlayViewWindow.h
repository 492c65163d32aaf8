// An overlay window whose content is one overlay view: the view paints the window, and any change of the
// settings, the sampled colours or the drift clock refreshes the view and repaints the window once.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "overlay/OverlayFeed.h"
#include "platform/OverlayWindowHost.h"

namespace velaro {

template <class View>
class OverlayViewWindow {
public:
    OverlayViewWindow(const OverlayViewWindow&) = delete;
    OverlayViewWindow& operator=(const OverlayViewWindow&) = delete;

    OverlayWindow& window() { return *window_; }
    View& view() { return view_; }
    const View& view() const { return view_; }

protected:
    struct Placement {
        std::string name;
        Rect frame;
        int level;
    };

    // `view` is built in place; the window starts ordered out with an alpha of 1.
    template <class... ViewArguments>
    OverlayViewWindow(OverlayWindowHost& host, MainLoop& loop, const OverlaySettings& settings,
                      const OverlayFeed& feed, const HueDriftClock& driftClock, const Placement& placement,
                      ViewArguments&&... view)
        : view_(std::forward<ViewArguments>(view)...),
          window_(host.makeWindow({placement.name, placement.frame, placement.level, 1.0,
                                   [this](QPainter& painter, Size size) { view_.paint(painter, size); }})),
          watch_(loop, settings, feed, driftClock, [this] { view_.refresh(); }) {
        view_.setOnNeedsDisplay([this] { window_->setNeedsDisplay(); });
        if constexpr (requires(const View& v, Size size) { v.paintedArea(size); })
            window_->setPaintedArea([this](Size size) { return view_.paintedArea(size); });
    }
    ~OverlayViewWindow() = default;

private:
    View view_;
    std::unique_ptr<OverlayWindow> window_;  // after the view: it paints the view until it goes
    OverlayInputWatch watch_;
};

}  // namespace velaro
