// The value texts, built on the saturating conversions.
#include "ui/settings/kit/ValueText.h"

#include <cstdint>

#include "base/NumberCast.h"

namespace velaro {
namespace {

QString withUnit(std::int64_t whole, const QString& unit) {
    return QString::number(whole) + unit;
}

}  // namespace

QString truncatedPercentText(double fraction) {
    return withUnit(saturatedCast<std::int64_t>(fraction * 100 + 1e-9), QStringLiteral("%"));
}

QString roundedPercentText(double fraction) {
    return withUnit(saturatedRound<std::int64_t>(fraction * 100), QStringLiteral("%"));
}

QString truncatedText(double value, const QString& unit) {
    return withUnit(saturatedCast<std::int64_t>(value), unit);
}

QString roundedText(double value, const QString& unit) {
    return withUnit(saturatedRound<std::int64_t>(value), unit);
}

QString signedPointsText(double points) {
    if (points == 0) return QStringLiteral("0");
    return QString::asprintf("%+lld", static_cast<long long>(saturatedCast<std::int64_t>(points))) +
           lengthUnit;
}

}  // namespace velaro
