// The style chips and the opacity slider.
#include "ui/settings/StyleOpacityControls.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <cmath>

#include "settings/OverlaySettings.h"
#include "ui/settings/DeferredBinding.h"

namespace velaro {
namespace {

constexpr std::array<MenuBarStyle, 3> kStyles{MenuBarStyle::solid, MenuBarStyle::gradient,
                                              MenuBarStyle::live};

QFont smaller(QFont font, double factor) {
    font.setPointSizeF(font.pointSizeF() * factor);
    return font;
}

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

StyleOpacityControls::StyleOpacityControls(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : QWidget(parent), settings_(settings), refresh_(loop, [this] { refresh(); }) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);

    // Style picker.
    auto* pickerGroup = new QVBoxLayout;
    pickerGroup->setSpacing(4);
    auto* strip = new QHBoxLayout;
    strip->setSpacing(2);
    const auto writeStyle = deferredBinding(loop, settingBinding(settings_.style));
    for (std::size_t i = 0; i < kStyles.size(); ++i) {
        auto* chip = new QPushButton(QString::fromUtf8(styleLabel(kStyles[i])), this);
        chip->setCheckable(true);
        chip->setFlat(true);
        chip->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        const MenuBarStyle style = kStyles[i];
        QObject::connect(chip, &QPushButton::clicked, this, [writeStyle, style, chip, this] {
            // The chip shows the stored style until the write lands.
            chip->setChecked(settings_.style() == style);
            writeStyle.set(style);
        });
        chips_[i] = chip;
        strip->addWidget(chip);
    }
    pickerGroup->addLayout(strip);
    description_ = new QLabel(this);
    description_->setWordWrap(true);
    description_->setFont(smaller(description_->font(), 0.8));
    description_->setForegroundRole(QPalette::PlaceholderText);
    pickerGroup->addWidget(description_);
    column->addLayout(pickerGroup);

    // Opacity.
    auto* opacityGroup = new QVBoxLayout;
    opacityGroup->setSpacing(4);
    auto* header = new QHBoxLayout;
    auto* title = new QLabel(QStringLiteral("Opacity"), this);
    title->setFont(smaller(title->font(), 0.85));
    header->addWidget(title);
    value_ = new QLabel(this);
    QFont mono = smaller(value_->font(), 0.85);
    mono.setStyleHint(QFont::Monospace);
    mono.setFamily(QStringLiteral("monospace"));
    value_->setFont(mono);
    value_->setForegroundRole(QPalette::PlaceholderText);
    header->addWidget(value_);
    header->addStretch(1);
    opacityGroup->addLayout(header);
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setRange(0, 100);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setTickInterval(10);
    const auto writeOpacity = deferredBinding(loop, settingBinding(settings_.overlayOpacity));
    QObject::connect(slider_, &QSlider::valueChanged, this,
                     [writeOpacity](int percent) { writeOpacity.set(percent / 100.0); });
    opacityGroup->addWidget(slider_);
    column->addLayout(opacityGroup);

    watch_ = settings_.objectWillChange().sink([this](const std::monostate&) { refresh_.schedule(); });
    refresh();
}

QPushButton* StyleOpacityControls::styleButton(MenuBarStyle style) const {
    for (std::size_t i = 0; i < kStyles.size(); ++i)
        if (kStyles[i] == style) return chips_[i];
    return nullptr;
}

QString StyleOpacityControls::opacityText() const {
    return value_->text();
}

QString StyleOpacityControls::descriptionText() const {
    return description_->text();
}

void StyleOpacityControls::refresh() {
    const MenuBarStyle current = settings_.style();
    for (std::size_t i = 0; i < kStyles.size(); ++i) {
        chips_[i]->setChecked(kStyles[i] == current);
        QFont f = chips_[i]->font();
        f.setBold(kStyles[i] == current);
        chips_[i]->setFont(f);
    }
    description_->setText(QString::fromUtf8(styleDescription(current)));
    const double opacity = settings_.overlayOpacity();
    // Truncated toward zero, but past the binary error of value / 100 × 100 (0.29 × 100 is 28.999…): the
    // text shows the percentage the slider set.
    value_->setText(QString::number(static_cast<int>(std::trunc(opacity * 100 + 1e-9))) + QLatin1Char('%'));
    const QSignalBlocker quiet(slider_);
    slider_->setValue(static_cast<int>(std::lround(opacity * 100)));
}

}  // namespace velaro
