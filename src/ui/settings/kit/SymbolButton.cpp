// The borderless symbol button.
#include "ui/settings/kit/SymbolButton.h"

#include <QPainter>

#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SymbolIcon.h"

namespace velaro {

SymbolButton::SymbolButton(std::string symbol, int side, const QString& accessibleName, QWidget* parent,
                           bool withTooltip)
    : QAbstractButton(parent), symbol_(std::move(symbol)), side_(side) {
    setAccessibleName(accessibleName);
    if (withTooltip) setToolTip(accessibleName);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setFixedSize(sizeHint());
}

void SymbolButton::setInk(std::optional<QColor> ink) {
    ink_ = ink;
    update();
}

void SymbolButton::setFrame(QSize frame, int glyph) {
    frame_ = frame;
    glyph_ = glyph;
    setFixedSize(frame);
    update();
}

QSize SymbolButton::sizeHint() const {
    return frame_.value_or(QSize(side_, side_));
}

void SymbolButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor ink = ink_.value_or(palette().color(QPalette::Active, QPalette::WindowText));
    ink.setAlphaF(ink.alphaF() * (!isEnabled() ? 0.3f : isDown() ? 0.5f : 0.85f));
    const QRectF square = frame_ ? QRectF((width() - glyph_) / 2.0, (height() - glyph_) / 2.0, glyph_, glyph_)
                                 : QRectF(rect()).adjusted(2, 2, -2, -2);
    // The ring goes under the symbol: on a small button they share the edge.
    if (hasFocus()) SettingsStyle::paintFocusRing(p, QRectF(rect()), 5, palette());
    paintSymbol(p, square, symbol_, ink);
}

}  // namespace velaro
