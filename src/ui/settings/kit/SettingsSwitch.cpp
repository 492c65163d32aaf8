// The switch's look.
#include "ui/settings/kit/SettingsSwitch.h"

#include <QPainter>

#include "ui/settings/kit/SettingsStyle.h"

namespace velaro {

SettingsSwitch::SettingsSwitch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setFixedSize(trackWidth, trackHeight);
}

void SettingsSwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) p.setOpacity(0.45);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = track.height() / 2;
    const QColor on = palette().color(QPalette::Active, QPalette::Highlight);
    p.setPen(Qt::NoPen);
    p.setBrush(isChecked() ? on : SettingsStyle::primary(palette(), 0.18));
    p.drawRoundedRect(track, radius, radius);
    const double knob = track.height() - 4;
    const double x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    const QRectF knobRect(x, track.top() + 2, knob, knob);
    p.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
    p.setBrush(Qt::white);
    p.drawEllipse(knobRect);
    if (hasFocus()) SettingsStyle::paintFocusRing(p, QRectF(rect()), radius, palette());
}

}  // namespace velaro
