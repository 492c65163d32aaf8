// The slider's track mapping, its deferred writes and the reset.
#include "ui/settings/kit/ResettableSlider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "base/MainLoop.h"
#include "ui/settings/kit/SettingsStyle.h"

namespace velaro {

ResettableSlider::ResettableSlider(MainLoop& loop, Binding<double> value, SliderRange range,
                                   std::optional<double> defaultValue, std::optional<double> step,
                                   bool showsTicks, QWidget* parent)
    : QSlider(Qt::Horizontal, parent),
      loop_(loop),
      value_(std::move(value)),
      range_(range),
      defaultValue_(defaultValue),
      step_(step),
      showsTicks_(showsTicks),
      resetThumb_(loop, 0.0) {
    if (stepped()) {
        const double steps = std::round((range_.upper - range_.lower) / *step_);
        setRange(0, int(std::max(0.0, steps)));
        setSingleStep(1);
        setPageStep(1);
        setTickPosition(QSlider::TicksBelow);
        setTickInterval(1);
    } else {
        setRange(0, freeResolution);
        setSingleStep(freeResolution / 100);
        setPageStep(freeResolution / 10);
    }
    resetThumb_.setOnChange([this] {
        const QSignalBlocker quiet(this);
        setValue(int(std::lround(resetThumb_.value())));
    });
    QObject::connect(this, &QSlider::valueChanged, this, [this](int position) { positionChanged(position); });
    refresh();
}

ResettableSlider::~ResettableSlider() = default;

double ResettableSlider::snapped(double x, SliderRange range, double step) {
    const double snappedValue = range.lower + step * std::round((x - range.lower) / step);
    return std::clamp(snappedValue, range.lower, range.upper);
}

double ResettableSlider::valueAt(int position) const {
    if (stepped()) return std::min(range_.lower + *step_ * position, range_.upper);
    const double x = range_.lower + (range_.upper - range_.lower) * position / double(freeResolution);
    return step_ ? snapped(x, range_, *step_) : x;
}

int ResettableSlider::positionOf(double value) const {
    const double span = range_.upper - range_.lower;
    // A value that is not a number has no place on the track: the thumb rests at the lower end.
    if (!(span > 0) || std::isnan(value)) return 0;
    const double clamped = std::clamp(value, range_.lower, range_.upper);
    if (stepped()) return int(std::lround((clamped - range_.lower) / *step_));
    return int(std::lround((clamped - range_.lower) / span * freeResolution));
}

void ResettableSlider::refresh() {
    if (isSliderDown() || resetThumb_.isAnimating()) return;
    const QSignalBlocker quiet(this);
    setValue(positionOf(value_.get()));
}

void ResettableSlider::positionChanged(int position) {
    deferredWrite(loop_, valueAt(position), value_.set);
}

void ResettableSlider::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!defaultValue_) {
        QSlider::mouseDoubleClickEvent(event);
        return;
    }
    event->accept();
    if (!isEnabled()) return;
    deferredWrite(loop_, *defaultValue_, value_.set);
    // A quick settle of the thumb from where it stands; the value is written once, above.
    resetThumb_.snapTo(value());
    resetThumb_.set(positionOf(*defaultValue_), OverlayAnimation{0.3, TimingCurve::easeOut});
}

void ResettableSlider::wheelEvent(QWheelEvent* event) {
    event->ignore();
}

void ResettableSlider::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (!hasFocus()) return;
    // The thumb carries the ring: it is what the arrow keys move.
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect thumb = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const double grow = SettingsStyle::focusRingWidth;
    const QRectF ring = QRectF(thumb).adjusted(-grow, -grow, grow, grow).intersected(QRectF(rect()));
    QPainter p(this);
    SettingsStyle::paintFocusRing(p, ring, std::min(ring.width(), ring.height()) / 2, palette());
}

}  // namespace velaro
