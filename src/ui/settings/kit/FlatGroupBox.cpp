// The flat group box's layout and card.
#include "ui/settings/kit/FlatGroupBox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/settings/kit/SettingsStyle.h"

namespace velaro {

FlatGroupBox::FlatGroupBox(const QString& title, const QIcon& icon, QWidget* parent) : QFrame(parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(padding, padding, padding, padding);
    outer->setSpacing(spacing);

    auto* caption = new QHBoxLayout;
    caption->setSpacing(4);
    if (!icon.isNull()) {
        auto* glyph = new QLabel(this);
        glyph->setPixmap(icon.pixmap(12, 12));
        caption->addWidget(glyph);
    }
    title_ = new QLabel(title, this);
    QFont font = title_->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    font.setWeight(QFont::DemiBold);
    title_->setFont(font);
    title_->setForegroundRole(QPalette::PlaceholderText);
    caption->addWidget(title_);
    caption->addStretch(1);
    outer->addLayout(caption);

    content_ = new QVBoxLayout;
    content_->setContentsMargins(0, 0, 0, 0);
    content_->setSpacing(8);
    outer->addLayout(content_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QString FlatGroupBox::title() const {
    return title_->text();
}

void FlatGroupBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    SettingsStyle::paintCard(p, QRectF(rect()), palette().color(QPalette::Base),
                             palette().color(QPalette::Mid), cornerRadius);
}

}  // namespace velaro
