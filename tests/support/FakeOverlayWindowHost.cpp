// The recording overlay-window host.
#include "support/FakeOverlayWindowHost.h"

#include <QPainter>
#include <cmath>
#include <sstream>

namespace velaro::test {

bool FakeGLSurface::makeCurrent() {
    if (!lost_) return true;
    lost_ = false;
    ++generation_;
    return false;
}

int FakeGLSurface::pixelWidth() const {
    return static_cast<int>(std::lround(window_.frame().width() * scale_));
}

int FakeGLSurface::pixelHeight() const {
    return static_cast<int>(std::lround(window_.frame().height() * scale_));
}

FakeOverlayWindow::FakeOverlayWindow(FakeOverlayWindowHost& host, const OverlayWindowOptions& options,
                                     WindowNumber number)
    : OverlayWindow(host, options), fakeHost_(host), number_(number) {
    if (options.surface == OverlaySurfaceKind::gl) gl_ = std::make_unique<FakeGLSurface>(*this);
    frames_.push_back(frame());
    alphas_.push_back(alphaValue());
}

FakeOverlayWindow::~FakeOverlayWindow() {
    detachFromHost();
}

bool FakeOverlayWindow::isShownOnScreen() const {
    return isVisible() && (fakeHost_.supportsTranslucency() || alphaValue() > 0);
}

bool FakeOverlayWindow::sendMouse(const OverlayMouseEvent& event) {
    if (!isShownOnScreen() || !takesMouse()) return false;
    deliverMouse(event);
    return true;
}

void FakeOverlayWindow::applyTakesMouse(bool takes) {
    fakeHost_.record("mouse " + name() + (takes ? " on" : " off"));
}

void FakeOverlayWindow::applyFrame(const Rect& frame) {
    frames_.push_back(frame);
    std::ostringstream line;
    line << "frame " << name() << " " << frame.x() << " " << frame.y() << " " << frame.width() << " "
         << frame.height();
    fakeHost_.record(line.str());
}

void FakeOverlayWindow::applyAlpha(double alpha) {
    alphas_.push_back(alpha);
    std::ostringstream line;
    line << "alpha " << name() << " " << alpha;
    fakeHost_.record(line.str());
}

void FakeOverlayWindow::applyVisible(bool visible) {
    fakeHost_.record((visible ? "front " : "out ") + name());
}

void FakeOverlayWindow::applyLevel(int level) {
    fakeHost_.record("level " + name() + " " + std::to_string(level));
}

void FakeOverlayWindow::paint() {
    ++paints_;
    fakeHost_.record("paint " + name());
}

std::unique_ptr<OverlayWindow> FakeOverlayWindowHost::makeWindow(const OverlayWindowOptions& options) {
    return std::make_unique<FakeOverlayWindow>(*this, options, nextNumber_++);
}

void FakeOverlayWindowHost::record(std::string line) {
    log_.push_back(std::move(line));
}

void FakeOverlayWindowHost::stackChanged() {
    lastStack_.clear();
    std::string line = "stack ";
    for (auto* window : orderedWindows()) {
        if (!lastStack_.empty()) line += ",";
        line += window->name();
        lastStack_.push_back(window->name());
    }
    ++stackUpdates_;
    record(line);
}

QImage FakeOverlayWindowHost::render(const OverlayWindow& window, double scale) {
    const Size size = window.frame().size;
    const int w = std::max(0, static_cast<int>(std::lround(size.width * scale)));
    const int h = std::max(0, static_cast<int>(std::lround(size.height * scale)));
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (window.content() && w > 0 && h > 0) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(scale, scale);
        window.content()(painter, size);
    }
    return image;
}

}  // namespace velaro::test
