// The visualizer's window set-up, the choice of its path, and the renderers bound to its surface.
#include "music/VizBarWindow.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QRegion>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "base/Log.h"
#include "music/VizBarRenderer.h"
#include "platform/Screens.h"

namespace velaro {

Rect vizBarWindowFrame(const Rect& screenFrame) {
    return {screenFrame.minX(), screenFrame.maxY() - kVizBarWindowHeight, screenFrame.width(),
            kVizBarWindowHeight};
}

std::unique_ptr<OverlayWindow> makeVizBarWindow(OverlayWindowHost& host, const Screens& screens,
                                                VizWindowUnavailable* why, OverlaySurfaceKind surface) {
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
    options.level = OverlayWindowLevel::belowPanel;
    options.surface = surface;
    return host.makeWindow(options);
}

bool vizSoftwareRenderer(const std::string& rendererName) {
    std::string name = rendererName;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const std::string_view rasteriser : {"llvmpipe", "softpipe", "swrast"})
        if (name.find(rasteriser) != std::string::npos) return true;
    return false;
}

VizRenderPath vizRenderPathFor(OverlayWindow& glWindow) {
    // The context is made whatever is chosen: the window already loaded the driver, which must stay loaded
    // from then on (see keepGLDriverLoaded), and only a context keeps it.
    OverlayGLSurface* surface = glWindow.glSurface();
    QOpenGLContext* context = surface && surface->makeCurrent() ? QOpenGLContext::currentContext() : nullptr;
    if (const char* chosen = std::getenv("VELARO_VIZ_RENDERER")) {
        if (std::string_view(chosen) == "gl") return VizRenderPath::gpu;
        if (std::string_view(chosen) == "raster") return VizRenderPath::raster;
    }
    if (!context || context->isOpenGLES() || context->format().version() < qMakePair(3, 3)) {
        qCInfo(lcVisualizer) << tagged("VIZ", "no OpenGL 3.3 here: the visualizer draws on the CPU");
        return VizRenderPath::raster;
    }
    const auto* name = reinterpret_cast<const char*>(context->functions()->glGetString(GL_RENDERER));
    const std::string renderer = name ? name : "";
    if (!vizSoftwareRenderer(renderer)) return VizRenderPath::gpu;
    qCInfo(lcVisualizer) << tagged(
        "VIZ", "OpenGL is drawn by the CPU here (" + renderer + "): the visualizer draws on the CPU instead");
    return VizRenderPath::raster;
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

VizRasterWindowRenderer::VizRasterWindowRenderer(OverlayWindow& window, const std::vector<VizBarSlot>& bars,
                                                 double contentsScale)
    : window_(window),
      raster_(static_cast<int>(std::lround(window.frame().width() * contentsScale)),
              static_cast<int>(std::lround(window.frame().height() * contentsScale)), contentsScale, bars) {
    // The composite runs when the window is painted, straight into its pixels where the host keeps them
    // itself; a frame the host leaves out (it shows at most one a refresh) is never composed.
    window_.setContent([this](QPainter& painter, Size size) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QRectF(0, 0, size.width, size.height), raster_.composeImage());
    });
    window_.setPixelContent([this](QImage& pixels, const QRegion& devicePixels) {
        const int rows = devicePixels.boundingRect().bottom() + 1;
        if (pixels.width() == raster_.width() && pixels.height() == raster_.height() &&
            pixels.format() == QImage::Format_ARGB32_Premultiplied) {
            raster_.compose(pixels.bits(), std::size_t(pixels.bytesPerLine()), rows);
            return;
        }
        // A window resized before its renderer was rebuilt: the image, scaled.
        QPainter painter(&pixels);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QRectF(QPointF(), pixels.deviceIndependentSize()), raster_.composeImage());
    });
    // The rows below the last one painted are clear; one row at least, as no parts at all means everywhere.
    window_.setPaintedArea([this, scale = contentsScale](Size size) {
        return std::vector<Rect>{Rect(0, 0, size.width, std::max(raster_.paintedRows(), 1) / scale)};
    });
}

VizRasterWindowRenderer::~VizRasterWindowRenderer() {
    window_.setPaintedArea({});
    window_.setPixelContent({});
    window_.setContent({});
}

void VizRasterWindowRenderer::encodeFrame(const VizFrame& frame) {
    raster_.prepare(frame);
    window_.setNeedsDisplay();
}

}  // namespace velaro
