// The style chips, their strip and the description.
#include "ui/settings/kit/StylePicker.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/settings/kit/SettingsStyle.h"

namespace velaro {
namespace {

constexpr double kStripRadius = 9;
constexpr double kChipRadius = 7;

// One chip: its whole rectangle takes the press. Checked means "the stored style"; a press never flips it
// by itself, since the stored style changes only when the queued write lands.
class StyleChip final : public QAbstractButton {
public:
    StyleChip(const QString& label, QWidget* parent) : QAbstractButton(parent) {
        setText(label);
        setCheckable(true);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setAccessibleName(label);
    }

    QSize sizeHint() const override {
        QFont strong = SettingsStyle::calloutFont();
        strong.setWeight(QFont::DemiBold);
        const QFontMetrics metrics(strong);
        // 5 points above and below the text, 2 around the chip.
        return {metrics.horizontalAdvance(text()) + 16, metrics.height() + 10 + 4};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void nextCheckState() override {}

    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled()) p.setOpacity(0.4);
        const QRectF chip = QRectF(rect()).adjusted(2, 2, -2, -2);
        QFont font = SettingsStyle::calloutFont();
        if (isChecked()) {
            font.setWeight(QFont::DemiBold);
            p.setPen(Qt::NoPen);
            p.setBrush(palette().color(QPalette::Active, QPalette::Highlight));
            p.drawRoundedRect(chip, kChipRadius, kChipRadius);
            p.setPen(Qt::white);
        } else {
            QColor ink = palette().color(QPalette::Active, QPalette::WindowText);
            if (isDown()) ink.setAlphaF(0.6f);
            p.setPen(ink);
        }
        p.setFont(font);
        p.drawText(chip, Qt::AlignCenter, text());
        if (hasFocus()) {
            p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(chip.adjusted(0.5, 0.5, -0.5, -0.5), kChipRadius, kChipRadius);
        }
    }
};

// The strip behind the chips.
class ChipStrip final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(SettingsStyle::primary(palette(), 0.08));
        p.drawRoundedRect(QRectF(rect()), kStripRadius, kStripRadius);
    }
};

}  // namespace

const char* styleLabel(MenuBarStyle style) {
    switch (style) {
        case MenuBarStyle::gradient:
            return "Fade";
        case MenuBarStyle::live:
            return "Live";
        case MenuBarStyle::solid:
            break;
    }
    return "Solid";
}

const char* styleDescription(MenuBarStyle style) {
    switch (style) {
        case MenuBarStyle::gradient:
            return "Vertical fade — opaque at the bottom edge, lighter toward the top.";
        case MenuBarStyle::live:
            return "Mirrors the screen beneath as vertical color bands — tabs, splits, and gradients.";
        case MenuBarStyle::solid:
            break;
    }
    return "A single flat color across the whole bar.";
}

StylePicker::StylePicker(Binding<MenuBarStyle> selection, QWidget* parent)
    : SettingsRow(parent), selection_(std::move(selection)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    auto* strip = new ChipStrip(this);
    auto* chips = new QHBoxLayout(strip);
    chips->setContentsMargins(0, 0, 0, 0);
    chips->setSpacing(0);
    for (std::size_t i = 0; i < pickerStyles.size(); ++i) {
        const MenuBarStyle style = pickerStyles[i];
        auto* chip = new StyleChip(QString::fromUtf8(styleLabel(style)), strip);
        QObject::connect(chip, &QAbstractButton::clicked, this, [this, style] { selection_.set(style); });
        chips_[i] = chip;
        chips->addWidget(chip);
    }
    strip->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    column->addWidget(strip);

    description_ = new QLabel(this);
    description_->setFont(SettingsStyle::caption2Font());
    description_->setWordWrap(true);
    QPalette quiet = description_->palette();
    quiet.setColor(QPalette::WindowText, SettingsStyle::secondaryText(quiet));
    description_->setPalette(quiet);
    column->addWidget(description_);
    refresh();
}

void StylePicker::refresh() {
    const MenuBarStyle current = selection_.get();
    for (std::size_t i = 0; i < pickerStyles.size(); ++i) chips_[i]->setChecked(pickerStyles[i] == current);
    description_->setText(QString::fromUtf8(styleDescription(current)));
}

QAbstractButton* StylePicker::button(MenuBarStyle style) const {
    for (std::size_t i = 0; i < pickerStyles.size(); ++i)
        if (pickerStyles[i] == style) return chips_[i];
    return nullptr;
}

QString StylePicker::descriptionText() const {
    return description_->text();
}

}  // namespace velaro
