// Painting of the bar miniature and its fades.
#include "ui/settings/kit/MenuBarPreview.h"

#include <QPainter>
#include <QPainterPath>

#include "ui/settings/kit/SymbolIcon.h"

namespace velaro {
namespace {

constexpr OverlayAnimation fade(double seconds) {
    return OverlayAnimation{seconds, TimingCurve::easeInEaseOut};
}

// Whether the change from `a` to `b` is one the fill cross-fades over.
bool fadesBetween(const MenuBarStyleFill& a, const MenuBarStyleFill& b) {
    return a.color != b.color || a.style != b.style || a.gradientTopColor != b.gradientTopColor ||
           a.gradientBottomColor != b.gradientBottomColor || a.gradientTopOpacity != b.gradientTopOpacity ||
           a.gradientBottomOpacity != b.gradientBottomOpacity;
}

QImage transparentImage(QSizeF points, qreal scale) {
    QImage image((points * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    return image;
}

// The fill alone, in an image of its own: the live strip paints in device pixels from the painter's origin,
// which inside a nested widget is not the bar's.
void paintFill(QImage& into, const QRectF& bounds, const MenuBarPreview::Inputs& inputs, double factor) {
    MenuBarStyleFill fill = inputs;
    fill.opacity = inputs.opacity * factor;
    fill.driftPhase = 0;
    fill.driftRightToLeft = false;
    QPainter p(&into);
    p.setRenderHint(QPainter::Antialiasing);
    fill.paint(p, bounds);
}

void paintAround(QPainter& p, const QRectF& bounds, const MenuBarPreview::Inputs& inputs,
                 const QPalette& palette, const QImage& fill) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(bounds, MenuBarPreview::cornerRadius, MenuBarPreview::cornerRadius);
    p.setClipPath(shape);
    if (inputs.blurBackdrop && !inputs.blurBackdrop->image.isNull())
        p.drawImage(bounds, inputs.blurBackdrop->image);
    p.drawImage(bounds.topLeft(), fill);

    // The mock items, as a bar shows them: the system menu, the front app and two menus; the network
    // symbol, the battery and the clock.
    const QColor ink = palette.color(QPalette::Active, QPalette::WindowText);
    QFont font = p.font();
    font.setPixelSize(9);
    const double h = bounds.height();
    const double symbol = 10;
    double x = bounds.left() + 8;
    paintSymbol(p, QRectF(x, bounds.top() + (h - symbol) / 2, symbol, symbol), "system.logo", ink);
    x += symbol + 8;
    p.setPen(ink);
    const auto item = [&](const QString& text, bool strong) {
        QFont f = font;
        f.setWeight(strong ? QFont::DemiBold : QFont::Normal);
        p.setFont(f);
        const double w = QFontMetricsF(f).horizontalAdvance(text);
        p.drawText(QRectF(x, bounds.top(), w + 1, h), Qt::AlignVCenter | Qt::AlignLeft, text);
        x += w + 8;
    };
    item(QStringLiteral("Files"), true);
    item(QStringLiteral("File"), false);
    item(QStringLiteral("Edit"), false);
    p.setFont(font);
    const QFontMetricsF metrics(font);
    double right = bounds.right() - 8;
    for (const QString& text : {QStringLiteral("9:41"), QStringLiteral("100%")}) {
        const double w = metrics.horizontalAdvance(text);
        p.drawText(QRectF(right - w - 1, bounds.top(), w + 1, h), Qt::AlignVCenter | Qt::AlignRight, text);
        right -= w + 8;
    }
    paintSymbol(p, QRectF(right - symbol, bounds.top() + (h - symbol) / 2, symbol, symbol), "wifi", ink);

    p.setClipping(false);
    p.setPen(QPen(palette.color(QPalette::Mid), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), MenuBarPreview::cornerRadius,
                      MenuBarPreview::cornerRadius);
    p.restore();
}

}  // namespace

MenuBarPreview::MenuBarPreview(MainLoop& loop, QWidget* parent)
    : QWidget(parent), crossFade_(loop, 1.0), factor_(loop, 1.0) {
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    crossFade_.setOnChange([this] { update(); });
    factor_.setOnChange([this] { update(); });
}

void MenuBarPreview::setInputs(Inputs inputs) {
    // Nothing fades while nobody sees it.
    const bool onScreen = isVisible() && !size().isEmpty();
    if (onScreen && fadesBetween(inputs_, inputs)) {
        fadeFrom_ = shownFill();
        crossFade_.snapTo(0.0);
        crossFade_.set(1.0, fade(fillFadeSeconds));
    } else if (!onScreen) {
        crossFade_.snapTo(1.0);
    }
    if (onScreen)
        factor_.set(inputs.styleOpacityFactor, fade(factorFadeSeconds));
    else
        factor_.snapTo(inputs.styleOpacityFactor);
    inputs_ = std::move(inputs);
    update();
}

QImage MenuBarPreview::fillLayer(const Inputs& inputs, double factor) const {
    const QRectF bounds(QPointF(0, 0), QSizeF(size()));
    QImage layer = transparentImage(bounds.size(), devicePixelRatioF());
    paintFill(layer, bounds, inputs, factor);
    return layer;
}

QImage MenuBarPreview::shownFill() const {
    QImage now = fillLayer(inputs_, factor_.value());
    const double t = crossFade_.value();
    if (t >= 1 || fadeFrom_.size() != now.size()) return now;
    // Premultiplied pixels mixed linearly: the old fill at 1 − t plus the new at t.
    QImage mixed = transparentImage(QSizeF(size()), devicePixelRatioF());
    QPainter p(&mixed);
    p.setOpacity(1 - t);
    p.drawImage(QPointF(0, 0), fadeFrom_);
    p.setCompositionMode(QPainter::CompositionMode_Plus);
    p.setOpacity(t);
    p.drawImage(QPointF(0, 0), now);
    return mixed;
}

void MenuBarPreview::paint(QPainter& painter, const QRectF& bounds, const Inputs& inputs,
                           const QPalette& palette, qreal scale) {
    QImage layer = transparentImage(bounds.size(), scale);
    paintFill(layer, QRectF(QPointF(0, 0), bounds.size()), inputs, inputs.styleOpacityFactor);
    paintAround(painter, bounds, inputs, palette, layer);
}

void MenuBarPreview::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintAround(p, QRectF(rect()), inputs_, palette(), shownFill());
}

}  // namespace velaro
