// A horizontal slider over a Double value that a double click returns to its default (a slider without a
// default is a plain one). Every write it makes lands on a later turn of the main loop, and only the user's
// actions write: showing a stored value, even one far outside the range, never does. Three forms, chosen by
// `step` and `showsTicks`:
//  - no step: the thumb moves freely and the value follows it;
//  - a step with ticks: the slider itself is stepped and shows its tick marks;
//  - a step without ticks: the thumb moves freely, and the value written is snapped to the nearest step
//    from the lower bound and kept inside the range.
#pragma once

#include <QSlider>
#include <optional>

#include "base/AnimatedValue.h"
#include "ui/kit/DeferredBinding.h"

namespace velaro {

class MainLoop;

struct SliderRange {
    double lower = 0;
    double upper = 1;
};

class ResettableSlider : public QSlider {
public:
    // Track positions of the free-moving forms: fine enough that one pixel of a 200-point track is a step.
    static constexpr int freeResolution = 1000;

    // `step`, when given, is positive; `range.lower` is not above `range.upper`.
    ResettableSlider(MainLoop& loop, Binding<double> value, SliderRange range,
                     std::optional<double> defaultValue, std::optional<double> step = std::nullopt,
                     bool showsTicks = false, QWidget* parent = nullptr);
    ~ResettableSlider() override;

    // Moves the thumb to the value as it is now; leaves it alone while the user drags it.
    void refresh();

    // lower + step × round((x − lower) ÷ step), rounded half away from zero, then kept inside the range.
    static double snapped(double x, SliderRange range, double step);
    // The value the thumb at `position` writes.
    double valueAt(int position) const;
    int positionOf(double value) const;

    SliderRange range() const { return range_; }
    std::optional<double> defaultValue() const { return defaultValue_; }

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // The wheel scrolls the page: a slider that passes under the pointer while the user scrolls must not
    // change a setting on the way.
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void positionChanged(int position);
    bool stepped() const { return step_ && showsTicks_; }

    MainLoop& loop_;
    Binding<double> value_;
    SliderRange range_;
    std::optional<double> defaultValue_;
    std::optional<double> step_;
    bool showsTicks_;
    // Moves the thumb to the default after a reset; the write itself has been queued already.
    AnimatedValue<double> resetThumb_;
};

}  // namespace velaro
