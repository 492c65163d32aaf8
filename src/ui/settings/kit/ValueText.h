// The texts that settings rows show beside their sliders: whole numbers with a unit, percentages of a 0...1
// value, signed offsets. A value set in code need not lie inside a row's range, so every conversion to a
// whole number saturates (base/NumberCast.h) instead of overflowing.
#pragma once

#include <QString>

namespace velaro {

// The whole percent of a 0...1 fraction, truncated toward zero: 0.456 gives "45%". Past the binary error of
// v / 100 × 100 (0.29 × 100 is 28.999…), so a slider set to 29 reads "29%".
QString truncatedPercentText(double fraction);
// The nearest whole percent, halves away from zero: 0.35 gives "35%".
QString roundedPercentText(double fraction);
// The unit every length reads in: Qt's device-independent pixels, which the stored sizes are.
inline const QString lengthUnit = QStringLiteral("px");

// `value` truncated toward zero followed by `unit`: 12.9 and "px" give "12px".
QString truncatedText(double value, const QString& unit);
// `value` rounded half away from zero followed by `unit`: 12.5 and "px" give "13px".
QString roundedText(double value, const QString& unit);
// An offset in points: "0" for exactly 0, else the truncated value with its sign always shown and the
// length unit (3.9 gives "+3px", -0.4 gives "+0px").
QString signedPointsText(double points);

}  // namespace velaro
