// GL-surface overlay windows: context creation, loss and presentation.
#include "platform/linux/QtOverlayGLSurface.h"

#include <dlfcn.h>
#include <link.h>

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QWindow>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "base/Log.h"

namespace velaro {

namespace {

constexpr const char* kTag = "OVERLAY-WINDOW";

// Every new context gets a number no earlier one had, across windows.
std::uint64_t nextGeneration() {
    static std::uint64_t counter = 0;
    return ++counter;
}

}  // namespace

void keepGLDriverLoaded() {
    // The walk over the loaded libraries holds the loader's lock on that list, and dlopen() takes the
    // loader's other lock: opening inside the walk deadlocks with any thread opening a library meanwhile (Qt
    // loading an image plugin for a cover), which holds the second and waits for the first. So the names are
    // noted first.
    std::vector<std::string> drivers;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* found) {
            const std::string_view path = info->dlpi_name ? info->dlpi_name : "";
            // Mesa's drivers (…/dri/*_dri.so), the gallium library they may share, and the GLX vendor.
            if (path.find("_dri.so") != std::string_view::npos ||
                path.find("libgallium") != std::string_view::npos ||
                path.find("libGLX_") != std::string_view::npos)
                static_cast<std::vector<std::string>*>(found)->emplace_back(path);
            return 0;
        },
        &drivers);
    // A reference that is never dropped; RTLD_NODELETE keeps the library even past dlclose().
    for (const auto& driver : drivers) dlopen(driver.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

QtOverlayGLSurface::QtOverlayGLSurface() = default;

QtOverlayGLSurface::~QtOverlayGLSurface() {
    dropContext();
}

QSurfaceFormat QtOverlayGLSurface::surfaceFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setAlphaBufferSize(8);
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setDepthBufferSize(0);
    format.setStencilBufferSize(0);
    // The owner paces its frames (a display link); a swap must never block the main thread on the display.
    format.setSwapInterval(0);
    return format;
}

void QtOverlayGLSurface::attach(QWindow* window) {
    dropContext();
    window_ = window;
    failed_ = false;
    presented_ = false;
}

void QtOverlayGLSurface::dropContext() {
    if (!context_) return;
    if (QOpenGLContext::currentContext() == context_.get()) context_->doneCurrent();
    context_.reset();
}

bool QtOverlayGLSurface::makeCurrent() {
    if (!window_ || !window_->handle()) return false;
    if (context_ && !context_->isValid()) {
        // Lost (a GPU reset): this call fails, the next one starts over with a new context.
        qCWarning(lcOverlay) << tagged(kTag, "GL context lost on " + window_->title().toStdString());
        dropContext();
        return false;
    }
    if (!context_) {
        if (failed_) return false;
        auto context = std::make_unique<QOpenGLContext>();
        context->setFormat(surfaceFormat());
        if (!context->create()) {
            failed_ = true;
            qCWarning(lcOverlay) << tagged(kTag,
                                              "no OpenGL context for " + window_->title().toStdString());
            return false;
        }
        context_ = std::move(context);
        generation_ = nextGeneration();
        keepGLDriverLoaded();
    }
    if (context_->makeCurrent(window_)) return true;
    if (!context_->isValid()) {
        qCWarning(lcOverlay) << tagged(kTag, "GL context lost on " + window_->title().toStdString());
        dropContext();
    }
    return false;
}

unsigned QtOverlayGLSurface::framebuffer() const {
    return context_ ? context_->defaultFramebufferObject() : 0;
}

double QtOverlayGLSurface::devicePixelRatio() const {
    return window_ ? window_->devicePixelRatio() : 1.0;
}

int QtOverlayGLSurface::pixelWidth() const {
    return window_ ? static_cast<int>(std::lround(window_->width() * devicePixelRatio())) : 0;
}

int QtOverlayGLSurface::pixelHeight() const {
    return window_ ? static_cast<int>(std::lround(window_->height() * devicePixelRatio())) : 0;
}

void QtOverlayGLSurface::present() {
    // Swapping a window that is not on screen is undefined; its next frame shows it.
    if (!context_ || !window_ || !window_->isExposed()) return;
    context_->swapBuffers(window_);
    presented_ = true;
}

void QtOverlayGLSurface::clearIfUndrawn() {
    if (presented_ || !window_ || !window_->isExposed() || !makeCurrent()) return;
    auto* f = context_->functions();
    f->glBindFramebuffer(GL_FRAMEBUFFER, context_->defaultFramebufferObject());
    f->glViewport(0, 0, pixelWidth(), pixelHeight());
    f->glClearColor(0, 0, 0, 0);
    f->glClear(GL_COLOR_BUFFER_BIT);
    present();
}

}  // namespace velaro
