// The OpenGL drawable of a GL-surface overlay window: an OpenGL 3.3 core context with an 8-bit alpha
// channel on the window's native surface, made when first asked for and again after a loss or a rebuild.
#pragma once

#include <QPointer>
#include <QSurfaceFormat>
#include <memory>

#include "platform/OverlayWindowHost.h"

class QOpenGLContext;
class QWindow;

namespace velaro {

// Keeps the OpenGL driver libraries loaded now mapped until the process ends. Call it once a context exists.
// The driver is unloaded when Qt closes its X display on the way out, and what the driver's globals still
// held then looks leaked to the sanitizer build's leak check, which fails the exit.
void keepGLDriverLoaded();

class QtOverlayGLSurface final : public OverlayGLSurface {
public:
    QtOverlayGLSurface();
    ~QtOverlayGLSurface() override;

    // The format every GL-surface window is made with, before its native window exists.
    static QSurfaceFormat surfaceFormat();

    // Draws into `window` from now on; its former context and everything made in it go.
    void attach(QWindow* window);
    // Shows the window transparent when nothing was presented on it yet (its first expose).
    void clearIfUndrawn();

    bool makeCurrent() override;
    unsigned framebuffer() const override;
    int pixelWidth() const override;
    int pixelHeight() const override;
    double devicePixelRatio() const override;
    void present() override;
    std::uint64_t generation() const override { return generation_; }

private:
    void dropContext();

    QPointer<QWindow> window_;
    std::unique_ptr<QOpenGLContext> context_;
    bool failed_ = false;     // this window's context could not be made: not tried again
    bool presented_ = false;  // something was shown since the window was attached
    std::uint64_t generation_ = 0;
};

}  // namespace velaro
