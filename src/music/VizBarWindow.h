// The visualizer's window: a click-through overlay window 80 points deep along the top of the main screen,
// with a GL surface or painted, and the renderers that draw into either.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "music/VizRasterRenderer.h"
#include "music/VizRenderer.h"
#include "platform/OverlayWindowHost.h"

namespace velaro {

class Screens;
class VizBarRenderer;

inline constexpr double kVizBarWindowHeight = 80;
inline constexpr const char* kVizBarWindowName = "viz-bar";

enum class VizWindowUnavailable { none, noMainScreen, noTranslucency };

// How the visualizer draws: with its OpenGL passes into a GL-surface window, or on the CPU into a painted
// one, where OpenGL is itself drawn by the CPU (or missing) and the passes would cost a core.
enum class VizRenderPath { gpu, raster };

// The window's frame over a screen's frame (global points, y up): the full width, its top edge on the
// screen's top edge.
Rect vizBarWindowFrame(const Rect& screenFrame);

// The window over the main screen, ordered out, below the panel. Nothing without a main screen, and
// nothing without translucency: a GL surface cannot be cut to shape, so without a compositor it would be an
// opaque black band, and the glow of a painted one would be lost. `why` (optional) says which.
std::unique_ptr<OverlayWindow> makeVizBarWindow(OverlayWindowHost& host, const Screens& screens,
                                                VizWindowUnavailable* why = nullptr,
                                                OverlaySurfaceKind surface = OverlaySurfaceKind::gl);

// The path for this display, read from the OpenGL renderer of a GL-surface window's context: the raster path
// where that renderer is a software rasteriser (llvmpipe, softpipe, swrast) or there is no context of
// OpenGL 3.3 at all. VELARO_VIZ_RENDERER=gl or =raster in the environment chooses instead (to compare
// the two on one display).
VizRenderPath vizRenderPathFor(OverlayWindow& glWindow);
// Whether an OpenGL renderer's name (GL_RENDERER) is one of Mesa's CPU rasterisers.
bool vizSoftwareRenderer(const std::string& rendererName);

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

// Draws the visualizer on the CPU and shows it through a painted window: the window's content is the
// renderer's composite, written straight into the window's pixels where the host keeps them itself, and
// only the rows it can hold something in are repainted.
class VizRasterWindowRenderer final : public VizRenderer {
public:
    // `window` is a painted window; it must outlive the renderer.
    VizRasterWindowRenderer(OverlayWindow& window, const std::vector<VizBarSlot>& bars, double contentsScale);
    ~VizRasterWindowRenderer() override;

    void encodeFrame(const VizFrame& frame) override;
    void setBloomSigma(double points) override { raster_.setBloomSigma(points); }
    void setNeedsTrailClear() override { raster_.setNeedsTrailClear(); }
    bool isUsable() const override { return true; }

    const VizRasterRenderer& renderer() const { return raster_; }

private:
    OverlayWindow& window_;
    VizRasterRenderer raster_;
};

}  // namespace velaro
