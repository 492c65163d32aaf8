// Fonts and colours of the settings pages, and the card painter.
#include "ui/settings/kit/SettingsStyle.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace velaro::SettingsStyle {

namespace {
// The smallest pixel ratio of the screens there are (1 with none).
qreal leastPixelRatio() {
    qreal least = 0;
    for (const QScreen* screen : QGuiApplication::screens())
        if (least == 0 || screen->devicePixelRatio() < least) least = screen->devicePixelRatio();
    return least > 0 ? least : 1;
}
}  // namespace

double readableTextSize(double points, qreal scale) {
    return scale > 0 ? std::max(points, minimumTextPixels / scale) : points;
}

QFont systemFont(double points, QFont::Weight weight) {
    QFont font = QApplication::font();
    // Points here are device-independent pixels, as everywhere in the app's geometry. Pixel sizes are whole,
    // and the screen of the least ratio needs the largest to keep the smallest text legible.
    font.setPixelSize(std::max(qRound(points), int(std::ceil(minimumTextPixels / leastPixelRatio()))));
    font.setWeight(weight);
    return font;
}

QFont rowTitleFont() {
    return systemFont(13);
}
QFont headerFont() {
    return systemFont(15, QFont::DemiBold);
}
QFont noticeIconFont() {
    return systemFont(12);
}
QFont symbolFont() {
    return systemFont(10);
}
QFont captionFont() {
    return systemFont(11);
}
QFont caption2Font() {
    return systemFont(10);
}
QFont badgeFont() {
    return systemFont(11, QFont::DemiBold);
}
QFont titleFont() {
    return systemFont(22, QFont::Bold);
}
QFont subheadlineFont() {
    return systemFont(12);
}
QFont calloutFont() {
    return systemFont(12);
}

QFont valueFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(11);
    return font;
}

QColor badgeColor() {
    return QColor::fromRgbF(1.0f, 0.584f, 0.0f);
}
QColor warningColor() {
    return QColor::fromRgbF(1.0f, 0.584f, 0.0f);
}

QColor primary(const QPalette& palette, double opacity) {
    QColor c = palette.color(QPalette::Active, QPalette::WindowText);
    c.setAlphaF(float(opacity));
    return c;
}

QColor cardFill(const QPalette& palette) {
    return primary(palette, 0.05);
}
QColor cardStroke(const QPalette& palette) {
    return primary(palette, 0.06);
}
QColor hairlineColor(const QPalette& palette) {
    return primary(palette, 0.08);
}
QColor secondaryText(const QPalette& palette) {
    return primary(palette, 0.55);
}
QColor tertiaryText(const QPalette& palette) {
    return primary(palette, 0.35);
}

QColor topStripMaterial(const QPalette& palette) {
    // The window's own colour, nudged toward the text colour, as a title bar sits apart from the content.
    const QColor window = palette.color(QPalette::Active, QPalette::Window);
    const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    const auto mix = [](int a, int b) { return a + (b - a) * 4 / 100; };
    return QColor(mix(window.red(), text.red()), mix(window.green(), text.green()),
                  mix(window.blue(), text.blue()));
}

void paintFocusRing(QPainter& painter, const QRectF& shape, double radius, const QPalette& palette) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    const double half = focusRingWidth / 2;
    QColor accent = palette.color(QPalette::Active, QPalette::Highlight);
    painter.setPen(QPen(accent, focusRingWidth));
    painter.drawRoundedRect(shape.adjusted(half, half, -half, -half), std::max(0.0, radius - half),
                            std::max(0.0, radius - half));
    QColor gap = palette.color(QPalette::Active, QPalette::Window);
    gap.setAlphaF(0.9f);
    painter.setPen(QPen(gap, 1));
    const double inset = focusRingWidth + 0.5;
    painter.drawRoundedRect(shape.adjusted(inset, inset, -inset, -inset), std::max(0.0, radius - inset),
                            std::max(0.0, radius - inset));
    painter.restore();
}

void paintCard(QPainter& painter, const QRectF& rect, const QColor& fill, const QColor& stroke,
               double radius) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outer;
    outer.addRoundedRect(rect, radius, radius);
    painter.fillPath(outer, fill);
    // The border lies inside the edge: the ring between the card and the card inset by one point.
    QPainterPath inner;
    inner.addRoundedRect(rect.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    painter.fillPath(outer.subtracted(inner), stroke);
    painter.restore();
}

}  // namespace velaro::SettingsStyle
