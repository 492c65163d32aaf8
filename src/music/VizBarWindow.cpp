// The visualizer's window set-up and the renderer bound to its GL surface.
#include "music/VizBarWindow.h"

#include <cmath>

#include "music/VizBarRenderer.h"
#include "platform/OverlayWindowHost.h"
#include "platform/Screens.h"

namespace velaro {

Rect vizBarWindowFrame(const Rect& screenFrame) {
    return {screenFrame.minX(), screenFrame.maxY() - kVizBarWindowHeight, screenFrame.width(),
            kVizBarWindowHeight};
}

std::unique_ptr<OverlayWindow> makeVizBarWindow(OverlayWindowHost& host, const Screens& screens,
                                                VizWindowUnavailable* why) {
    auto say = [why](VizWindowUnavailable reason) {
        if (why) *why = reason;
    };
    const auto screen = screens.mainScreen();
    if (!screen) {
        say(VizWindowUnavailable::noMainScreen);
        return nullptr;
    }
    if (!host.supportsTranslucency()) {
        say(VizWindowUnavailable::noTranslucency);
        return nullptr;
    }
    say(VizWindowUnavailable::none);
    OverlayWindowOptions options;
    options.name = kVizBarWindowName;
    options.frame = vizBarWindowFrame(screen->frame);
    options.level = OverlayWindowLevel::mainMenu;
    options.surface = OverlaySurfaceKind::gl;
    return host.makeWindow(options);
}

std::unique_ptr<VizWindowRenderer> VizWindowRenderer::create(OverlayWindow& window,
                                                             const std::vector<VizBarSlot>& bars) {
    OverlayGLSurface* surface = window.glSurface();
    if (!surface || !surface->makeCurrent()) return nullptr;
    auto renderer = VizBarRenderer::create(surface->pixelWidth(), surface->pixelHeight(),
                                           surface->devicePixelRatio(), bars);
    if (!renderer) return nullptr;
    return std::unique_ptr<VizWindowRenderer>(new VizWindowRenderer(*surface, std::move(renderer)));
}

VizWindowRenderer::VizWindowRenderer(OverlayGLSurface& surface, std::unique_ptr<VizBarRenderer> renderer)
    : surface_(surface), renderer_(std::move(renderer)), generation_(surface.generation()) {}

VizWindowRenderer::~VizWindowRenderer() {
    // The GL objects are freed in their own context; a replaced context took them with it.
    if (usable_) makeCurrent();
    renderer_.reset();
}

bool VizWindowRenderer::makeCurrent() {
    if (!usable_) return false;
    if (!surface_.makeCurrent() || surface_.generation() != generation_) usable_ = false;
    return usable_;
}

void VizWindowRenderer::encodeFrame(const VizFrame& frame) {
    if (!makeCurrent()) return;
    renderer_->encode(frame, {surface_.framebuffer(), surface_.pixelWidth(), surface_.pixelHeight()});
    surface_.present();
}

void VizWindowRenderer::setBloomSigma(double points) {
    renderer_->setBloomSigma(points);
}

void VizWindowRenderer::setNeedsTrailClear() {
    renderer_->setNeedsTrailClear();
}

}  // namespace velaro
