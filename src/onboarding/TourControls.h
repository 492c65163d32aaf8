// The tour's painted controls: a button drawn by its page (capsule buttons, the chrome), the page dots, and a
// layer that draws over its siblings while letting every click through. Each is placed by a fractional frame
// in page points: the widget covers the frame plus room for what is drawn around it, and paints from the
// frame's own top-left corner.
#pragma once

#include <QAbstractButton>
#include <QMarginsF>
#include <QRectF>
#include <functional>

#include "base/AnimatedValue.h"
#include "base/MainLoop.h"
#include "onboarding/OnboardingStep.h"
#include "onboarding/TourEntrance.h"

namespace velaro::tour {

// Sets `widget` over `frame` grown by `room`, on whole points; returns where the frame's top-left lies in
// the widget.
QPointF placeOver(QWidget& widget, const QRectF& frame, const QMarginsF& room = {});

// A tour control the keyboard reaches: Tab gives it the focus (a click does not, so its ring shows only for
// the keyboard), Space presses it, and the arrow keys stay the tour's Back and Next.
class TourKeyButton : public QAbstractButton {
public:
    explicit TourKeyButton(QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A button drawn by a function over its face (the frame's rectangle, from (0, 0)); it presses only inside the
// face grown by `reach`. While it has the keyboard focus a ring goes around its face.
class TourButton : public TourKeyButton {
public:
    using Face = std::function<void(QPainter& painter, const QRectF& face, const TourButton& button)>;

    TourButton(MainLoop& loop, const QString& label, Face face, QWidget* parent);

    void setFrame(const QRectF& frame, double reach = 0, const QMarginsF& room = {});
    const QRectF& frame() const { return frame_; }
    // Grows by 5 % while the pointer is over an enabled button.
    void setHoverScales(bool on) { hoverScales_ = on; }
    // The whole button's opacity.
    void setFaceOpacity(double opacity);
    // Drawn over the face, unscaled and never hit (the welcome pulse ring).
    void setOverlay(std::function<void(QPainter&, const QRectF& face)> overlay) {
        overlay_ = std::move(overlay);
    }
    // The button comes in with `entrance`: until it is in place, its face is drawn from an image made once.
    void setEntrance(const Entrance* entrance);
    // Where the focus ring goes: `outset` points outside the face (negative: inside), with corners of
    // `radius`; a capsule's by default.
    void setFocusRing(double outset, double radius);

protected:
    bool hitButton(const QPoint& pos) const override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void setHovering(bool hovering);
    void updateScale();
    void paintFace(QPainter& painter) const;

    Face face_;
    QRectF frame_;
    QPointF origin_;
    double reach_ = 0;
    bool hoverScales_ = false;
    bool hovering_ = false;
    double opacity_ = 1;
    AnimatedValue<double> scale_;
    std::function<void(QPainter&, const QRectF&)> overlay_;
    const Entrance* entrance_ = nullptr;
    mutable PieceImage entranceImage_;
    double focusOutset_;
    double focusRadius_ = -1;  // a capsule's
};

// Draws a page-sized picture over its siblings; every click passes through to what lies beneath.
class TourLayer : public QWidget {
public:
    TourLayer(std::function<void(QPainter&)> paint, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<void(QPainter&)> paint_;
};

// One dot per page, the current one a short accent capsule; read as "Page n of 9".
class TourPageIndicator : public QWidget {
public:
    explicit TourPageIndicator(QWidget* parent);
    void setStep(OnboardingStep step);
    // The centre it is laid around, in page points.
    static constexpr QPointF centre{369.5, 425.6035};

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    OnboardingStep step_ = OnboardingStep::welcome;
    QPointF origin_;
};

}  // namespace velaro::tour
