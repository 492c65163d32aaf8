// Overlay windows as frameless, override-redirect Qt windows, stacked by level through xcb.
#pragma once

#include <QRect>
#include <QRegion>
#include <memory>

#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "platform/OverlayWindowHost.h"

class QImage;
class QWindow;

namespace velaro {

class QtOverlaySurface;
class X11OverlayDesktop;
class X11Session;

// The part of a painted image that shows where no compositor blends: every pixel with any coverage, in
// the window's points (`devicePixelRatio` image pixels a point).
QRegion overlayShapeFromImage(const QImage& image, double devicePixelRatio);

class QtOverlayWindowHost final : public OverlayWindowHost {
public:
    // Needs the Qt application object. Frames are placed and stacked through the session; without one
    // (offscreen tests) the windows still exist and paint, placed on Qt's primary screen, but nothing is
    // stacked. The session must outlive the host.
    QtOverlayWindowHost(MainLoop& loop, X11Session* session);
    ~QtOverlayWindowHost() override;

    std::unique_ptr<OverlayWindow> makeWindow(const OverlayWindowOptions& options) override;
    bool supportsTranslucency() const override { return translucency_; }

    // Whether translucent windows painted from now on put their pixels through shared memory of their own
    // (the default on X11 with MIT-SHM) or through Qt's backing store. Tests compare the two.
    void setOwnUploadAllowed(bool allowed) { ownUpload_ = allowed; }

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
    // Qt's geometry of a frame in global points.
    QRect qtGeometryFor(const Rect& frame) const;

    // Our windows as the last restack placed them, front-most first, with their levels and the foreign
    // window each lies below: a change that only takes windows out of that order leaves the others where
    // they were, and needs no look at the server.
    struct Placed {
        WindowNumber window;
        int level;
        WindowNumber below;
        friend bool operator==(const Placed&, const Placed&) = default;
    };
    std::vector<Placed> ordered() const;
    std::vector<Placed> stacked_;
    bool translucency_ = true;
    bool checkPosted_ = false;
    bool ownUpload_ = true;
    X11Session* session_;
    Subscription screensChanged_;
    std::unique_ptr<X11OverlayDesktop> desktop_;
    Lifetime lifetime_;
};

}  // namespace velaro
