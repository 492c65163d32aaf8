// Text placement and the shared shapes of the tour pages.
#include "onboarding/TourPainting.h"

#include <QFontMetricsF>
#include <QPainterPath>
#include <QPalette>

#include "ui/settings/kit/SettingsStyle.h"

namespace velaro::tour {

QLinearGradient accentGradient(const QRectF& rect) {
    QLinearGradient gradient(rect.topRight(), rect.bottomLeft());
    gradient.setColorAt(0, accentStart);
    gradient.setColorAt(1, accentEnd);
    return gradient;
}

QPainterPath capsule(const QRectF& rect) {
    QPainterPath path;
    const double r = std::min(rect.width(), rect.height()) / 2;
    path.addRoundedRect(rect, r, r);
    return path;
}

QRectF lineFrame(const QPaintDevice& device, const QString& text, const FontSpec& spec, double x,
                 double reference) {
    const QFontMetricsF metrics(font(spec, device), const_cast<QPaintDevice*>(&device));
    const double size = renderedSize(spec);
    const double top = reference - lineRaise * size;
    return {x, top, metrics.horizontalAdvance(text), std::max(metrics.height(), size * 1.2)};
}

QRectF drawLine(QPainter& painter, const QString& text, const FontSpec& spec, double x, double reference,
                const QBrush& brush) {
    painter.save();
    painter.setFont(font(spec, *painter.device()));
    painter.setPen(QPen(brush, 0));
    painter.drawText(QPointF(x, reference), text);
    painter.restore();
    return lineFrame(*painter.device(), text, spec, x, reference);
}

QRectF drawFittedLine(QPainter& painter, const QString& text, const FontSpec& spec, double x,
                      double reference, double maxWidth, const QBrush& brush) {
    const QRectF frame = lineFrame(*painter.device(), text, spec, x, reference);
    if (maxWidth <= 0 || frame.width() <= maxWidth) return drawLine(painter, text, spec, x, reference, brush);
    // The desktop's sans runs wider than the lines were written for; squeezing keeps every word in view.
    painter.save();
    painter.translate(x, 0);
    painter.scale(maxWidth / frame.width(), 1);
    drawLine(painter, text, spec, 0, reference, brush);
    painter.restore();
    return {frame.topLeft(), QSizeF(maxWidth, frame.height())};
}

void drawCentredLine(QPainter& painter, const QString& text, const FontSpec& spec, const QRectF& rect,
                     const QBrush& brush) {
    painter.save();
    const QFont f = font(spec, *painter.device());
    const QFontMetricsF metrics(f, painter.device());
    painter.setFont(f);
    painter.setPen(QPen(brush, 0));
    const double x = rect.center().x() - metrics.horizontalAdvance(text) / 2;
    const double baseline = rect.center().y() + (metrics.ascent() - metrics.descent()) / 2;
    painter.drawText(QPointF(x, baseline), text);
    painter.restore();
}

namespace {
// The lines the block draws on `device`: its own, or more where it wraps.
QStringList blockLines(const QPaintDevice& device, const LineBlock& block) {
    if (!block.wrap || block.maxWidth <= 0) return block.lines;
    const QFontMetricsF metrics(font(block.font, device), const_cast<QPaintDevice*>(&device));
    QStringList out;
    for (const QString& line : block.lines) {
        QString current;
        for (const QString& word : line.split(QLatin1Char(' '))) {
            const QString longer = current.isEmpty() ? word : current + QLatin1Char(' ') + word;
            if (!current.isEmpty() && metrics.horizontalAdvance(longer) > block.maxWidth) {
                out << current;
                current = word;
            } else {
                current = longer;
            }
        }
        out << current;
    }
    return out;
}
}  // namespace

void drawBlock(QPainter& painter, const LineBlock& block, const QBrush& brush) {
    // Lines raised to a legible size keep their spacing in proportion.
    const double step = block.step * renderedSize(block.font) / block.font.size;
    const QStringList lines = blockLines(*painter.device(), block);
    for (int i = 0; i < lines.size(); ++i)
        drawFittedLine(painter, lines[i], block.font, block.x, block.reference + step * i, block.maxWidth,
                       brush);
}

LineBlock headlineBlock(const Header& header) {
    return {header.headline, headlineFont, 69, 253.3515, 46};
}

LineBlock subtitleBlock(const Header& header) {
    return {header.subtitle, bodyFont, 69, 332.371, 15.5};
}

void drawHeader(QPainter& painter, const Header& header) {
    // Each headline line carries its own gradient, corner to corner of the line itself.
    const LineBlock headline = headlineBlock(header);
    for (int i = 0; i < headline.lines.size(); ++i) {
        const double reference = headline.reference + headline.step * i;
        const QRectF frame =
            lineFrame(*painter.device(), headline.lines[i], headline.font, headline.x, reference);
        drawLine(painter, headline.lines[i], headline.font, headline.x, reference, accentGradient(frame));
    }
    QColor subtitle = text;
    subtitle.setAlphaF(0.8f);
    drawBlock(painter, subtitleBlock(header), subtitle);
}

void drawCard(QPainter& painter, const QRectF& rect, double radius) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect, radius, radius);
    painter.fillPath(shape, shadeDark);
    // The edge lies inside the card: a half-point line centred a quarter point in.
    const QRectF edge = rect.adjusted(0.25, 0.25, -0.25, -0.25);
    QPainterPath edgePath;
    edgePath.addRoundedRect(edge, radius - 0.25, radius - 0.25);
    painter.setCompositionMode(sheenBlend);
    painter.strokePath(edgePath, QPen(shadeLight, 0.5));
    painter.restore();
}

void drawFocusRing(QPainter& painter, const QRectF& shape, double radius) {
    // The settings window's ring in the tour's colours.
    QPalette colours;
    colours.setColor(QPalette::Active, QPalette::Highlight, white);
    colours.setColor(QPalette::Active, QPalette::Window, groundStops().front().second);
    SettingsStyle::paintFocusRing(painter, shape, radius, colours);
}

void drawInfoSymbol(QPainter& painter, double x, double reference, double size, const QColor& colour) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle(x, reference - size * 0.9, size * 0.9, size * 0.9);
    painter.setPen(QPen(colour, size * 0.09));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(circle);
    const QPointF c = circle.center();
    painter.setPen(QPen(colour, size * 0.11, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(c.x(), c.y() - size * 0.03), QPointF(c.x(), c.y() + size * 0.22));
    painter.drawPoint(QPointF(c.x(), c.y() - size * 0.2));
    painter.restore();
}

double noteSymbolSize() {
    return 4 * renderedSize(pageNoteFont) / pageNoteFont.size;
}

void drawWarningSymbol(QPainter& painter, double x, double reference, double size, const QColor& colour) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = size;
    const double top = reference - size * 0.9;
    QPainterPath triangle;
    triangle.moveTo(x + w / 2, top);
    triangle.lineTo(x + w, reference);
    triangle.lineTo(x, reference);
    triangle.closeSubpath();
    painter.setPen(QPen(colour, size * 0.09, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(triangle);
    painter.setPen(QPen(colour, size * 0.1, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(x + w / 2, top + size * 0.3), QPointF(x + w / 2, top + size * 0.6));
    painter.drawPoint(QPointF(x + w / 2, reference - size * 0.15));
    painter.restore();
}

}  // namespace velaro::tour
