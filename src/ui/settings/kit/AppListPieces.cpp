// App names on one line and app icons with their placeholder and running dot.
#include "ui/settings/kit/AppListPieces.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SymbolIcon.h"

namespace velaro {

QString oneLineName(const QString& name) {
    QString out = name;
    for (QChar& c : out)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    return out;
}

// ---- name ----

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QWidget(parent), text_(oneLineName(text)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text) {
    const QString line = oneLineName(text);
    if (line == text_) return;
    text_ = line;
    updateGeometry();
    update();
}

QString elidedLine(const QString& text, const QFont& font, int width) {
    // Only text really wider than the space is cut: a width that holds it exactly holds it.
    if (QFontMetricsF(font).horizontalAdvance(text) <= width) return text;
    return QFontMetrics(font).elidedText(text, Qt::ElideRight, width);
}

QString ElidedLabel::shownText() const {
    return elidedLine(text_, font(), width());
}

QSize ElidedLabel::sizeHint() const {
    // Rounded up: a text 30.4 pixels wide needs a label of 31, not 30.
    return {int(std::ceil(QFontMetricsF(font()).horizontalAdvance(text_))), fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    // However narrow the row gets, the name gives way first.
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")), fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, shownText());
}

// ---- icon ----

AppIconView::AppIconView(int size, QWidget* parent, std::string placeholder)
    : QWidget(parent), size_(size), placeholder_(std::move(placeholder)) {
    // The running dot stands out past the icon's corner.
    setFixedSize(sizeHint());
}

void AppIconView::setIcon(const QImage& icon) {
    icon_ = icon;
    update();
}

void AppIconView::setPlaceholder(std::string symbol) {
    if (symbol == placeholder_) return;
    placeholder_ = std::move(symbol);
    update();
}

void AppIconView::setRunning(bool running) {
    if (running_ == running) return;
    running_ = running;
    update();
}

void AppIconView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintAppIcon(p, QRectF(0, 0, size_, size_), icon_, placeholder_, palette(), running_);
}

void paintAppIcon(QPainter& p, const QRectF& square, const QImage& icon, std::string_view placeholder,
                  const QPalette& palette, bool running) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (icon.isNull())
        paintSymbol(p, square, placeholder, SettingsStyle::secondaryText(palette));
    else
        p.drawImage(square, icon);
    if (running) {
        // 6 points across, its centre 1.5 points right of and below the corner, with a ring in the list's
        // background colour so it stands off the icon.
        const QRectF dot(square.right() - 6 + 1.5, square.bottom() - 6 + 1.5, 6, 6);
        p.setPen(Qt::NoPen);
        p.setBrush(palette.color(QPalette::Base));
        p.drawEllipse(dot);
        p.setBrush(QColor(52, 199, 89));
        p.drawEllipse(dot.adjusted(1, 1, -1, -1));
    }
    p.restore();
}

}  // namespace velaro
