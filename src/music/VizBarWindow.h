// The visualizer's window: a click-through GL-surface overlay window 80 points deep along the top of the
// main screen, and the renderer that draws into it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/Geometry.h"
#include "music/VizRenderer.h"

namespace velaro {

class OverlayWindow;
class OverlayWindowHost;
class OverlayGLSurface;
class Screens;
class VizBarRenderer;

inline constexpr double kVizBarWindowHeight = 80;
inline constexpr const char* kVizBarWindowName = "viz-bar";

enum class VizWindowUnavailable { none, noMainScreen, noTranslucency };

// The window's frame over a screen's frame (global points, y up): the full width, its top edge on the
// screen's top edge.
Rect vizBarWindowFrame(const Rect& screenFrame);

// The window over the main screen, ordered out, at the main-menu level. Nothing without a main screen, and
// nothing without translucency: a GL surface cannot be cut to shape, so without a compositor it would be an
// opaque black band. `why` (optional) says which.
std::unique_ptr<OverlayWindow> makeVizBarWindow(OverlayWindowHost& host, const Screens& screens,
                                                VizWindowUnavailable* why = nullptr);

// Draws the visualizer into a GL-surface window through its own OpenGL renderer.
class VizWindowRenderer final : public VizRenderer {
public:
    // Null when the window has no GL surface, its context cannot be made current, or the renderer cannot
    // be made; the drawable is the window's size in device pixels.
    static std::unique_ptr<VizWindowRenderer> create(OverlayWindow& window,
                                                     const std::vector<VizBarSlot>& bars);
    ~VizWindowRenderer() override;

    void encodeFrame(const VizFrame& frame) override;
    void setBloomSigma(double points) override;
    void setNeedsTrailClear() override;
    bool isUsable() const override { return usable_; }

    const VizBarRenderer& renderer() const { return *renderer_; }

private:
    VizWindowRenderer(OverlayGLSurface& surface, std::unique_ptr<VizBarRenderer> renderer);
    bool makeCurrent();

    OverlayGLSurface& surface_;
    std::unique_ptr<VizBarRenderer> renderer_;
    std::uint64_t generation_;
    bool usable_ = true;
};

}  // namespace velaro
