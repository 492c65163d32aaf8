// The cubic Bezier curves behind the named timing curves.
#include "base/TimingCurve.h"

#include <cmath>

namespace velaro {

namespace {

struct Bezier {
    double x1, y1, x2, y2;
    // One coordinate of the cubic through (0,0), (a), (b), (1,1) at the parameter s.
    static double at(double a, double b, double s) {
        const double u = 1 - s;
        return 3 * u * u * s * a + 3 * u * s * s * b + s * s * s;
    }
    double x(double s) const { return at(x1, x2, s); }
    double y(double s) const { return at(y1, y2, s); }
};

Bezier bezierFor(TimingCurve curve) {
    switch (curve) {
        case TimingCurve::linear:
            return {0, 0, 1, 1};
        case TimingCurve::easeIn:
            return {0.42, 0, 1, 1};
        case TimingCurve::easeOut:
            return {0, 0, 0.58, 1};
        case TimingCurve::easeInEaseOut:
            return {0.42, 0, 0.58, 1};
    }
    return {0, 0, 1, 1};
}

}  // namespace

double timingCurveProgress(TimingCurve curve, double t) {
    if (!(t > 0)) return 0;
    if (t >= 1) return 1;
    const Bezier b = bezierFor(curve);
    // x(s) is monotonic on 0...1 for these control points, so bisection always finds the parameter.
    double lo = 0, hi = 1, s = t;
    for (int i = 0; i < 60; ++i) {
        const double x = b.x(s);
        if (std::abs(x - t) < 1e-9) break;
        if (x < t)
            lo = s;
        else
            hi = s;
        s = (lo + hi) / 2;
    }
    return b.y(s);
}

}  // namespace velaro
