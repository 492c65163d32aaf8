// The slider's track mapping, its deferred writes and the reset.
#include "ui/settings/ResettableSlider.h"

#include <QEasingCurve>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>

#include "base/MainLoop.h"

namespace velaro {

ResettableSlider::ResettableSlider(MainLoop& loop, Binding<double> value, SliderRange range,
                                   double defaultValue, std::optional<double> step, bool showsTicks,
                                   QWidget* parent)
    : QSlider(Qt::Horizontal, parent),
      loop_(loop),
      value_(std::move(value)),
      range_(range),
      defaultValue_(defaultValue),
      step_(step),
      showsTicks_(showsTicks),
      resetAnimation_(new QVariantAnimation(this)) {
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
    // A spring-like settle: quick, with a small overshoot.
    resetAnimation_->setDuration(300);
    resetAnimation_->setEasingCurve(QEasingCurve::OutBack);
    QObject::connect(resetAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        const QSignalBlocker quiet(this);
        setValue(v.toInt());
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
    if (!(span > 0)) return 0;
    const double clamped = std::clamp(value, range_.lower, range_.upper);
    if (stepped()) return int(std::lround((clamped - range_.lower) / *step_));
    return int(std::lround((clamped - range_.lower) / span * freeResolution));
}

void ResettableSlider::refresh() {
    if (isSliderDown() || resetAnimation_->state() == QAbstractAnimation::Running) return;
    const QSignalBlocker quiet(this);
    setValue(positionOf(value_.get()));
}

void ResettableSlider::positionChanged(int position) {
    deferredWrite(loop_, valueAt(position), value_.set);
}

void ResettableSlider::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    if (!isEnabled()) return;
    deferredWrite(loop_, defaultValue_, value_.set);
    resetAnimation_->stop();
    resetAnimation_->setStartValue(value());
    resetAnimation_->setEndValue(positionOf(defaultValue_));
    resetAnimation_->start();
}

}  // namespace velaro
