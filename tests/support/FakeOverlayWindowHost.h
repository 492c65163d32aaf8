// An overlay-window host that only records: frames, levels, alpha, visibility, the stacking order and the
// batches, and renders a window's content into an image on request.
#pragma once

#include <QImage>
#include <memory>
#include <string>
#include <vector>

#include "platform/OverlayWindowHost.h"

namespace velaro::test {

class FakeOverlayWindowHost;

// The drawable of a GL-surface window without OpenGL: it counts presents, and a test can take its context
// away (makeCurrent fails once, then a new context comes with a new generation).
class FakeGLSurface final : public OverlayGLSurface {
public:
    explicit FakeGLSurface(const OverlayWindow& window) : window_(window) {}
    bool makeCurrent() override;
    unsigned framebuffer() const override { return 0; }
    int pixelWidth() const override;
    int pixelHeight() const override;
    double devicePixelRatio() const override { return scale_; }
    void present() override { ++presents_; }
    std::uint64_t generation() const override { return generation_; }

    void setDevicePixelRatio(double scale) { scale_ = scale; }
    void loseContext() { lost_ = true; }
    int presentCount() const { return presents_; }

private:
    const OverlayWindow& window_;
    double scale_ = 1;
    bool lost_ = false;
    int presents_ = 0;
    std::uint64_t generation_ = 1;
};

class FakeOverlayWindow final : public OverlayWindow {
public:
    FakeOverlayWindow(FakeOverlayWindowHost& host, const OverlayWindowOptions& options, WindowNumber number);
    ~FakeOverlayWindow() override;

    WindowNumber windowNumber() const override { return number_; }
    OverlayGLSurface* glSurface() override { return gl_.get(); }
    FakeGLSurface* fakeGLSurface() { return gl_.get(); }

    // Every frame and alpha the window took, in order (the initial ones first), animation steps included.
    const std::vector<Rect>& frameHistory() const { return frames_; }
    const std::vector<double>& alphaHistory() const { return alphas_; }
    int paintCount() const { return paints_; }
    // What is on screen: ordered in, and not hidden by an alpha of 0 where translucency is missing.
    bool isShownOnScreen() const;
    // A mouse or scroll event over the window, as the desktop would send it: it reaches the handler only
    // while the window is on screen and takes the mouse. Returns whether it reached it.
    bool sendMouse(const OverlayMouseEvent& event);

protected:
    void applyFrame(const Rect& frame) override;
    void applyAlpha(double alpha) override;
    void applyVisible(bool visible) override;
    void applyLevel(int level) override;
    void paint() override;
    void applyTakesMouse(bool takes) override;

private:
    FakeOverlayWindowHost& fakeHost_;
    WindowNumber number_;
    std::unique_ptr<FakeGLSurface> gl_;
    std::vector<Rect> frames_;
    std::vector<double> alphas_;
    int paints_ = 0;
};

class FakeOverlayWindowHost final : public OverlayWindowHost {
public:
    explicit FakeOverlayWindowHost(MainLoop& loop) : OverlayWindowHost(loop) {}

    std::unique_ptr<OverlayWindow> makeWindow(const OverlayWindowOptions& options) override;
    bool supportsTranslucency() const override { return translucency_; }
    void setSupportsTranslucency(bool on) { translucency_ = on; }

    // One line per event: "front NAME", "out NAME", "alpha NAME 0.5", "frame NAME x y w h", "level NAME 1",
    // "paint NAME", "mouse NAME on" / "mouse NAME off",
    // "stack A,B,C" (front to back, when the stack reaches the screen) and "commit" (a batch ended).
    const std::vector<std::string>& log() const { return log_; }
    void clearLog() { log_.clear(); }
    // The names of the ordered-in windows, front to back, as the stack last reached the screen.
    const std::vector<std::string>& lastStack() const { return lastStack_; }
    int stackUpdates() const { return stackUpdates_; }

    // The window's content painted at its current size into a transparent image, `scale` pixels a point.
    static QImage render(const OverlayWindow& window, double scale = 1.0);

    void record(std::string line);

protected:
    void stackChanged() override;
    void batchCommitted() override { record("commit"); }

private:
    bool translucency_ = true;
    WindowNumber nextNumber_ = 1001;
    std::vector<std::string> log_;
    std::vector<std::string> lastStack_;
    int stackUpdates_ = 0;
};

}  // namespace velaro::test
