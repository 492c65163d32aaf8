// Saturating conversions and the value texts built on them.
#include "ui/settings/kit/ValueText.h"

#include <cmath>
#include <limits>

namespace velaro {
namespace {

// 2^63 is the first double past the 64-bit range; anything from there on saturates.
constexpr double kPastInt64 = 9223372036854775808.0;

std::int64_t saturated(double whole) {
    if (std::isnan(whole)) return 0;
    if (whole >= kPastInt64) return std::numeric_limits<std::int64_t>::max();
    if (whole < -kPastInt64) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(whole);
}

QString withUnit(std::int64_t whole, const QString& unit) {
    return QString::number(whole) + unit;
}

}  // namespace

std::int64_t saturatedTruncation(double x) {
    return saturated(std::trunc(x));
}

std::int64_t saturatedRounding(double x) {
    return saturated(std::round(x));
}

QString truncatedPercentText(double fraction) {
    return withUnit(saturatedTruncation(fraction * 100 + 1e-9), QStringLiteral("%"));
}

QString roundedPercentText(double fraction) {
    return withUnit(saturatedRounding(fraction * 100), QStringLiteral("%"));
}

QString truncatedText(double value, const QString& unit) {
    return withUnit(saturatedTruncation(value), unit);
}

QString roundedText(double value, const QString& unit) {
    return withUnit(saturatedRounding(value), unit);
}

QString signedPointsText(double points) {
    if (points == 0) return QStringLiteral("0");
    return QString::asprintf("%+lld", static_cast<long long>(saturatedTruncation(points))) + lengthUnit;
}

}  // namespace velaro
