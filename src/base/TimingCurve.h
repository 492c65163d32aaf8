// The timing curves that changes of value, opacity and geometry move along, and an animated change's timing.
#pragma once

namespace velaro {

enum class TimingCurve { linear, easeIn, easeOut, easeInEaseOut };

// Progress along `curve` at the fraction `t` of the duration (clamped to 0...1); 0 at 0 and 1 at 1.
double timingCurveProgress(TimingCurve curve, double t);

struct OverlayAnimation {
    double duration = 0.25;  // seconds; 0 or less applies the change at once
    TimingCurve curve = TimingCurve::easeInEaseOut;
};

}  // namespace velaro
