// The host-independent half of the overlay windows: stored state, the stacking model, batches and the
// animations the main loop drives.
#include "platform/OverlayWindowHost.h"

#include <algorithm>
#include <cmath>

#include "base/MainLoop.h"

namespace velaro {

namespace {

constexpr double kFrameInterval = 1.0 / 60.0;

bool isFinite(const Rect& r) {
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) &&
           std::isfinite(r.height());
}

Rect interpolate(const Rect& a, const Rect& b, double p) {
    auto mix = [p](double u, double v) { return u + (v - u) * p; };
    return {mix(a.x(), b.x()), mix(a.y(), b.y()), mix(a.width(), b.width()), mix(a.height(), b.height())};
}

}  // namespace

// The completion bookkeeping of one animate() call: each tween that ends counts down once.
struct AnimationGroup {
    int remaining = 0;
    std::function<void()> completion;
    MainLoop* loop = nullptr;
    Lifetime::Token host;

    void finishOne() {
        if (--remaining > 0 || !completion) return;
        // Completions run on a later turn, never inside the setter that took an animation over.
        loop->post([completion = std::move(completion), host = host] {
            if (host.aliveHere()) completion();
        });
    }
};

struct OverlayWindow::Tween {
    std::shared_ptr<AnimationGroup> group;
    double start = 0;
    double duration = 0;
    TimingCurve curve = TimingCurve::linear;
    double fromAlpha = 0, toAlpha = 0;
    Rect fromFrame, toFrame;

    ~Tween() {
        if (group) group->finishOne();
    }
    double progress(double now, bool* done) const {
        const double t = (now - start) / duration;
        *done = !(t < 1);
        return timingCurveProgress(curve, t);
    }
};

// MARK: OverlayWindow

OverlayWindow::OverlayWindow(OverlayWindowHost& host, const OverlayWindowOptions& options)
    : host_(host),
      name_(options.name),
      frame_(isFinite(options.frame) ? options.frame : Rect{}),
      level_(options.level),
      alpha_(std::isfinite(options.alpha) ? std::clamp(options.alpha, 0.0, 1.0) : 0.0),
      content_(options.content) {
    frame_.size.width = std::max(0.0, frame_.size.width);
    frame_.size.height = std::max(0.0, frame_.size.height);
    host_.attach(this);
}

OverlayWindow::~OverlayWindow() {
    if (attached_) host_.detach(this);
}

void OverlayWindow::detachFromHost() {
    if (!attached_) return;
    alphaTween_.reset();
    frameTween_.reset();
    if (visible_) {
        visible_ = false;
        applyVisible(false);
    }
    attached_ = false;
    host_.detach(this);
}

void OverlayWindow::setFrameInternal(const Rect& frame) {
    if (!isFinite(frame)) return;  // a corrupt frame keeps the window where it was
    Rect sane = frame;
    sane.size.width = std::max(0.0, sane.size.width);
    sane.size.height = std::max(0.0, sane.size.height);
    if (sane == frame_) return;
    frame_ = sane;
    applyFrame(frame_);
}

void OverlayWindow::setAlphaInternal(double alpha) {
    const double sane = std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : 0.0;
    if (sane == alpha_) return;
    alpha_ = sane;
    applyAlpha(alpha_);
}

void OverlayWindow::setFrame(const Rect& frame, bool display) {
    frameTween_.reset();
    const Rect before = frame_;
    setFrameInternal(frame);
    if (display) {
        this->display();
    } else if (frame_.size != before.size) {
        setNeedsDisplay();
    }
}

void OverlayWindow::setLevel(int level) {
    if (level == level_) return;
    level_ = level;
    applyLevel(level);
    if (visible_) host_.noteStackChange();
}

void OverlayWindow::setAlphaValue(double alpha) {
    alphaTween_.reset();
    setAlphaInternal(alpha);
}

void OverlayWindow::orderFrontRegardless() {
    belowForeign_.reset();
    host_.moveToFront(this);
    orderIn();
}

void OverlayWindow::orderIn() {
    // The stack learns of the window before it shows, so it never flashes in the wrong place.
    const bool wasVisible = visible_;
    visible_ = true;
    host_.noteStackChange();
    if (!wasVisible) {
        applyVisible(true);
        if (!host_.inBatch()) displayIfNeeded();  // a batch paints when it commits
    }
}

void OverlayWindow::orderOut() {
    if (!visible_) return;
    visible_ = false;
    belowForeign_.reset();
    host_.remove(this);
    applyVisible(false);
    host_.noteStackChange();
}

void OverlayWindow::orderBelow(WindowNumber other) {
    OverlayWindow* sibling = host_.windowWithNumber(other);
    if (sibling == this) return;
    if (sibling) {
        belowForeign_.reset();
        if (sibling->visible_ && sibling->level_ == level_)
            host_.moveBelow(this, sibling);
        else
            host_.moveToFront(this);
    } else if (other != 0) {
        belowForeign_ = other;
        host_.moveToFront(this);
    } else {
        // Below nothing in particular: the back of the window's level.
        belowForeign_.reset();
        host_.moveBelow(this, nullptr);
    }
    orderIn();
}

void OverlayWindow::setTakesMouse(bool takes) {
    if (takes == takesMouse_) return;
    takesMouse_ = takes;
    applyTakesMouse(takes);
}

void OverlayWindow::deliverMouse(const OverlayMouseEvent& event) {
    if (!takesMouse_ || !mouseHandler_) return;
    // The handler may drop the window (and with it this handler) while it runs.
    const OverlayMouseHandler handler = mouseHandler_;
    handler(event);
}

void OverlayWindow::setContent(OverlayContent content) {
    content_ = std::move(content);
    setNeedsDisplay();
}

void OverlayWindow::setPixelContent(OverlayPixelContent content) {
    pixelContent_ = std::move(content);
    setNeedsDisplay();
}

void OverlayWindow::setPaintedArea(PaintedArea area) {
    paintedArea_ = std::move(area);
    setNeedsDisplay();
}

void OverlayWindow::setNeedsDisplay() {
    needsDisplay_ = true;
    host_.noteNeedsDisplay(this);
}

void OverlayWindow::display() {
    needsDisplay_ = true;
    if (!host_.inBatch()) displayIfNeeded();
}

void OverlayWindow::displayIfNeeded() {
    // A window that is out keeps its mark and is painted when it is ordered in.
    if (!needsDisplay_ || !visible_) return;
    needsDisplay_ = false;
    paint();
}

void OverlayWindow::animateStep(double now) {
    // Taking the tween out first lets a paint that starts another animation install it unharmed.
    if (alphaTween_) {
        bool done = false;
        const double p = alphaTween_->progress(now, &done);
        setAlphaInternal(alphaTween_->fromAlpha + (alphaTween_->toAlpha - alphaTween_->fromAlpha) * p);
        if (done) alphaTween_.reset();
    }
    if (frameTween_) {
        bool done = false;
        const double p = frameTween_->progress(now, &done);
        auto tween = frameTween_;
        if (done) frameTween_.reset();
        setFrameInternal(done ? tween->toFrame : interpolate(tween->fromFrame, tween->toFrame, p));
        needsDisplay_ = true;
        displayIfNeeded();
    }
}

// MARK: OverlayWindowHost

OverlayWindowHost::OverlayWindowHost(MainLoop& loop) : loop_(loop) {}

OverlayWindowHost::~OverlayWindowHost() {
    lifetime_.end();
    // Windows should be gone by now; any left behind must not reach back into a dead host.
    for (auto* window : windows_) window->attached_ = false;
}

void OverlayWindowHost::attach(OverlayWindow* window) {
    windows_.push_back(window);
}

void OverlayWindowHost::detach(OverlayWindow* window) {
    std::erase(windows_, window);
    const bool wasOrdered = std::find(zOrder_.begin(), zOrder_.end(), window) != zOrder_.end();
    zOrder_.remove(window);
    if (wasOrdered) noteStackChange();
}

void OverlayWindowHost::moveToFront(OverlayWindow* window) {
    zOrder_.remove(window);
    zOrder_.push_front(window);
}

void OverlayWindowHost::moveBelow(OverlayWindow* window, OverlayWindow* other) {
    zOrder_.remove(window);
    auto it = other ? std::find(zOrder_.begin(), zOrder_.end(), other) : zOrder_.end();
    if (it != zOrder_.end()) ++it;
    zOrder_.insert(it, window);
}

void OverlayWindowHost::remove(OverlayWindow* window) {
    zOrder_.remove(window);
}

void OverlayWindowHost::noteStackChange() {
    if (batchDepth_ > 0)
        stackDirty_ = true;
    else
        stackChanged();
}

std::vector<OverlayWindow*> OverlayWindowHost::orderedWindows() const {
    std::vector<OverlayWindow*> ordered(zOrder_.begin(), zOrder_.end());
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const OverlayWindow* a, const OverlayWindow* b) { return a->level() > b->level(); });
    return ordered;
}

OverlayWindow* OverlayWindowHost::windowWithNumber(WindowNumber number) const {
    if (number == 0) return nullptr;
    for (auto* window : windows_)
        if (window->windowNumber() == number) return window;
    return nullptr;
}

Cancellable OverlayWindowHost::batch() {
    beginBatch();
    return Cancellable(lifetime_.guard([this] { commitBatch(); }));
}

void OverlayWindowHost::beginBatch() {
    ++batchDepth_;
}

void OverlayWindowHost::commitBatch() {
    if (batchDepth_ == 0 || --batchDepth_ > 0) return;
    if (stackDirty_) {
        stackDirty_ = false;
        stackChanged();
    }
    flushDisplays();
    batchCommitted();
}

void OverlayWindowHost::noteNeedsDisplay(OverlayWindow*) {
    if (batchDepth_ > 0 || displayPosted_) return;
    displayPosted_ = true;
    loop_.post(lifetime_.guard([this] {
        displayPosted_ = false;
        flushDisplays();
    }));
}

void OverlayWindowHost::flushDisplays() {
    const auto windows = windows_;  // a paint may create or drop windows
    for (auto* window : windows)
        if (std::find(windows_.begin(), windows_.end(), window) != windows_.end()) window->displayIfNeeded();
}

void OverlayWindowHost::animate(const OverlayAnimation& animation,
                                const std::vector<OverlayWindowChange>& changes,
                                std::function<void()> completion) {
    auto group = std::make_shared<AnimationGroup>();
    group->completion = std::move(completion);
    group->loop = &loop_;
    group->host = lifetime_.token();
    group->remaining = 1;  // held until every tween is installed, so none can complete the group early
    const bool instant = !(std::isfinite(animation.duration) && animation.duration > 0);
    const double now = loop_.uptime();
    auto makeTween = [&] {
        auto tween = std::make_shared<OverlayWindow::Tween>();
        tween->start = now;
        tween->duration = animation.duration;
        tween->curve = animation.curve;
        ++group->remaining;
        tween->group = group;
        return tween;
    };
    for (const auto& change : changes) {
        OverlayWindow* window = change.window;
        if (!window) continue;
        if (change.alpha) {
            if (instant) {
                window->setAlphaValue(*change.alpha);
            } else {
                auto tween = makeTween();
                tween->fromAlpha = window->alpha_;
                tween->toAlpha = std::isfinite(*change.alpha) ? std::clamp(*change.alpha, 0.0, 1.0) : 0.0;
                window->alphaTween_ = std::move(tween);
            }
        }
        if (change.frame) {
            if (instant || !isFinite(*change.frame)) {
                window->setFrame(*change.frame, true);
            } else {
                auto tween = makeTween();
                tween->fromFrame = window->frame_;
                tween->toFrame = *change.frame;
                tween->toFrame.size.width = std::max(0.0, tween->toFrame.size.width);
                tween->toFrame.size.height = std::max(0.0, tween->toFrame.size.height);
                window->frameTween_ = std::move(tween);
            }
        }
    }
    group->finishOne();
    startTicking();
}

void OverlayWindowHost::startTicking() {
    if (ticker_.isActive()) return;
    const bool anyRunning = std::any_of(windows_.begin(), windows_.end(), [](const OverlayWindow* w) {
        return w->alphaTween_ || w->frameTween_;
    });
    if (anyRunning) ticker_ = loop_.every(kFrameInterval, [this] { tick(); });
}

void OverlayWindowHost::tick() {
    const double now = loop_.uptime();
    const auto windows = windows_;
    bool anyRunning = false;
    for (auto* window : windows) {
        if (std::find(windows_.begin(), windows_.end(), window) == windows_.end()) continue;
        window->animateStep(now);
        anyRunning = anyRunning || window->alphaTween_ || window->frameTween_;
    }
    if (!anyRunning) ticker_.cancel();
}

}  // namespace velaro
