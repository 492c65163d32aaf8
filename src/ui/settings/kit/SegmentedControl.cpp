// The segment chips and their strip.
#include "ui/settings/kit/SegmentedControl.h"

#include <QHBoxLayout>
#include <QPainter>
#include <cmath>

#include "ui/settings/kit/SettingsStyle.h"

namespace velaro {
namespace {

constexpr double kStripRadius = 9;
constexpr double kChipRadius = 7;
// Around a chip inside the strip, and around its label inside the chip.
constexpr int kChipInset = 2;
constexpr int kLabelPaddingX = 8;
constexpr int kLabelPaddingY = 5;

QFont chipFont(bool chosen) {
    QFont font = SettingsStyle::calloutFont();
    if (chosen) font.setWeight(QFont::DemiBold);
    return font;
}

// One segment: its whole rectangle takes the press.
class SegmentChip final : public QAbstractButton {
public:
    SegmentChip(const QString& label, bool pressChooses, QWidget* parent)
        : QAbstractButton(parent), pressChooses_(pressChooses) {
        setText(label);
        setCheckable(true);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setAccessibleName(label);
    }

    QSize sizeHint() const override {
        // Measured in the chosen weight, so a chip keeps its width whichever segment is chosen.
        const QFontMetricsF metrics(chipFont(true));
        return {int(std::ceil(metrics.horizontalAdvance(text()))) + 2 * (kLabelPaddingX + kChipInset),
                int(std::ceil(metrics.height())) + 2 * (kLabelPaddingY + kChipInset)};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void nextCheckState() override {
        if (pressChooses_) QAbstractButton::nextCheckState();
    }

    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled()) p.setOpacity(0.4);
        const QRectF chip = QRectF(rect()).adjusted(kChipInset, kChipInset, -kChipInset, -kChipInset);
        if (isChecked()) {
            p.setPen(Qt::NoPen);
            p.setBrush(palette().color(QPalette::Active, QPalette::Highlight));
            p.drawRoundedRect(chip, kChipRadius, kChipRadius);
            p.setPen(palette().color(QPalette::Active, QPalette::HighlightedText));
        } else {
            QColor ink = palette().color(QPalette::Active, QPalette::WindowText);
            if (isDown()) ink.setAlphaF(0.6f);
            p.setPen(ink);
        }
        p.setFont(chipFont(isChecked()));
        p.drawText(chip, Qt::AlignCenter, text());
        if (hasFocus()) SettingsStyle::paintFocusRing(p, chip, kChipRadius, palette());
    }

private:
    bool pressChooses_;
};

}  // namespace

SegmentedControl::SegmentedControl(const std::vector<QString>& labels, bool pressChooses, QWidget* parent)
    : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (std::size_t i = 0; i < labels.size(); ++i) {
        auto* chip = new SegmentChip(labels[i], pressChooses, this);
        const int index = int(i);
        QObject::connect(chip, &QAbstractButton::clicked, this, [this, index, pressChooses] {
            if (pressChooses) setChosen(index);
            if (onPressed) onPressed(index);
        });
        segments_.push_back(chip);
        row->addWidget(chip);
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QAbstractButton* SegmentedControl::segment(int index) const {
    return index >= 0 && index < count() ? segments_[std::size_t(index)] : nullptr;
}

void SegmentedControl::setChosen(int index) {
    for (int i = 0; i < count(); ++i) segments_[std::size_t(i)]->setChecked(i == index);
}

void SegmentedControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(SettingsStyle::primary(palette(), 0.08));
    p.drawRoundedRect(QRectF(rect()), kStripRadius, kStripRadius);
}

}  // namespace velaro
