// The pointer on an X11 display, read with a pointer query on a connection of its own, so that any thread
// may read it; motion is watched by polling on the main loop and reported only when the pointer moved.
#pragma once

#include <memory>
#include <mutex>

#include "base/Geometry.h"
#include "base/MainLoop.h"
#include "platform/PointerSource.h"

struct xcb_connection_t;

namespace velaro {

class X11PointerSource final : public PointerSource {
public:
    // Opens its own connection to `displayName` (null: $DISPLAY). The primary monitor is read from RandR
    // (the root window's extent when RandR names none); `pollInterval` is the motion poll's period.
    explicit X11PointerSource(MainLoop& loop, const char* displayName = nullptr,
                              double pollInterval = 1.0 / 60);
    ~X11PointerSource() override;

    bool isConnected() const;

    std::optional<Point> location() const override;
    std::optional<Point> topLeftLocation() const override;
    Cancellable watchMotion(std::function<void()> moved) override;

    // Replaces the conversion from root pixels to points: the primary monitor in root points, and the
    // pixels per point of the desktop. Call when the monitors change. Any thread.
    void setCoordinateSpace(const CoordinateSpace& space, double pixelsPerPoint = 1);
    // Reads the primary monitor from RandR again.
    void refreshPrimary();

private:
    // The pointer in root points, or nullopt when it cannot be read.
    std::optional<Point> rootLocation(CoordinateSpace& space) const;
    void poll();

    MainLoop& loop_;
    double pollInterval_;
    mutable std::mutex mutex_;  // guards the connection and the conversion
    xcb_connection_t* connection_ = nullptr;
    unsigned int root_ = 0;
    CoordinateSpace space_;
    double pixelsPerPoint_ = 1;

    struct Watchers;
    std::shared_ptr<Watchers> watchers_;
    Cancellable pollTimer_;
    std::optional<Point> lastPolled_;
};

}  // namespace velaro
