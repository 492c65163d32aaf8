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
          watch_(loop, settings, feed, driftClock, [this] { refresh(); }) {
        view_.setOnNeedsDisplay([this] {
            if (refreshing_)
                changedInRefresh_ = true;
            else
                window_->setNeedsDisplay();
        });
        if constexpr (requires(const View& v, Size size) { v.paintedArea(size); })
            window_->setPaintedArea([this](Size size) { return view_.paintedArea(size); });
        if constexpr (requires(const View& v, Size size) { v.opaqueArea(size); })
            window_->setOpaqueArea([this](Size size) { return view_.opaqueArea(size); });
        if constexpr (requires(const View& v, Size size) { v.repeatedArea(size); })
            window_->setRepeatedArea([this](Size size) { return view_.repeatedArea(size); });
    }
    ~OverlayViewWindow() = default;

private:
    // What a refresh changed is painted as it ends, in the same turn: the refresh already waited a turn
    // to take in every input that changed, and a frame's results would otherwise cost one more turn of the
    // loop before they show. Other changes (animation steps) are painted on the next turn, together.
    void refresh() {
        refreshing_ = true;
        view_.refresh();
        refreshing_ = false;
        if (std::exchange(changedInRefresh_, false)) window_->display();
    }

    bool refreshing_ = false;
    bool changedInRefresh_ = false;
    View view_;
    std::unique_ptr<OverlayWindow> window_;  // after the view: it paints the view until it goes
    OverlayInputWatch watch_;
};

}  // namespace velaro
