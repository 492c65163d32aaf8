// Overlay windows as frameless, override-redirect Qt windows, stacked by level through xcb.
#pragma once

#include <QRegion>
#include <memory>

#include "platform/OverlayWindowHost.h"

class QImage;
class QWindow;

namespace velaro {

class QtOverlaySurface;
class X11OverlayDesktop;

// The part of a painted image that shows where no compositor blends: every pixel with any coverage, in
// the window's points (`devicePixelRatio` image pixels a point).
QRegion overlayShapeFromImage(const QImage& image, double devicePixelRatio);

class QtOverlayWindowHost final : public OverlayWindowHost {
public:
    // Needs the Qt application object. On a platform other than xcb (offscreen tests) the windows still
    // exist and paint, but nothing is stacked.
    explicit QtOverlayWindowHost(MainLoop& loop);
    ~QtOverlayWindowHost() override;

    std::unique_ptr<OverlayWindow> makeWindow(const OverlayWindowOptions& options) override;
    bool supportsTranslucency() const override { return translucency_; }

    // Whether clicks pass through the windows: false only on an X server without XFixes and SHAPE input.
    bool clickThroughAvailable() const { return clickThrough_; }

    // The Qt window behind an overlay window of this host (tests and diagnostics).
    static QWindow* qtWindow(const OverlayWindow& window);

    // Re-reads the stack and puts the windows back where they belong if anything moved over or under them.
    void reassertStack();

    // Switches between translucent windows and windows cut to their painted shape, making every native
    // window anew. The compositor watch calls it; without X (offscreen) it is the only way to switch.
    void setTranslucency(bool on);

protected:
    void stackChanged() override;
    void batchCommitted() override;

private:
    friend class QtOverlayWindow;
    void restack(bool force);
    void scheduleCheck();

    bool translucency_ = true;
    bool clickThrough_ = true;
    bool checkPosted_ = false;
    std::unique_ptr<X11OverlayDesktop> desktop_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velaro
