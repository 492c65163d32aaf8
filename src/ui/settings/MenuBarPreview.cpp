// Painting of the bar miniature.
#include "ui/settings/MenuBarPreview.h"

#include <QPainter>
#include <QPainterPath>

namespace velaro {

MenuBarPreview::MenuBarPreview(QWidget* parent) : QWidget(parent) {
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void MenuBarPreview::setInputs(Inputs inputs) {
    inputs_ = std::move(inputs);
    update();
}

void MenuBarPreview::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    QPainterPath shape;
    shape.addRoundedRect(bounds, cornerRadius, cornerRadius);
    p.setClipPath(shape);

    if (inputs_.blurBackdrop && !inputs_.blurBackdrop->image.isNull())
        p.drawImage(bounds, inputs_.blurBackdrop->image);

    MenuBarStyleFill fill = inputs_;
    fill.opacity = inputs_.opacity * inputs_.styleOpacityFactor;
    fill.driftPhase = 0;
    fill.driftRightToLeft = false;
    // Painted into an image of its own first: the live strip paints in device pixels from the painter's
    // origin, which inside a nested widget is not the bar's.
    const qreal scale = devicePixelRatioF();
    QImage layer((QSizeF(size()) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(scale);
    layer.fill(Qt::transparent);
    {
        QPainter into(&layer);
        into.setRenderHint(QPainter::Antialiasing);
        fill.paint(into, bounds);
    }
    p.drawImage(bounds, layer);

    // The mock items, as a bar would show them.
    QFont font = p.font();
    font.setPixelSize(9);
    p.setPen(palette().color(QPalette::WindowText));
    int x = 8;
    const auto item = [&](const QString& text, bool strong) {
        QFont f = font;
        f.setBold(strong);
        p.setFont(f);
        const int w = QFontMetrics(f).horizontalAdvance(text);
        p.drawText(QRect(x, 0, w, barHeight), Qt::AlignVCenter | Qt::AlignLeft, text);
        x += w + 8;
    };
    item(QStringLiteral("Files"), true);
    item(QStringLiteral("File"), false);
    item(QStringLiteral("Edit"), false);
    p.setFont(font);
    p.drawText(QRect(0, 0, width() - 8, barHeight), Qt::AlignVCenter | Qt::AlignRight,
               QStringLiteral("100%   9:41"));

    p.setClipping(false);
    p.setPen(QPen(palette().color(QPalette::Mid), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
}

}  // namespace velaro
