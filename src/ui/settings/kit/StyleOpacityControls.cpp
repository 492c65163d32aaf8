// The style and opacity controls, and the always-on rows.
#include "ui/settings/kit/StyleOpacityControls.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "settings/OverlaySettings.h"
#include "ui/kit/DeferredBinding.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/ValueText.h"

namespace velaro {

// The overlay opacity as the percent its sliders run over; a write stores the fraction, and the setting
// persists it.
Binding<double> overlayOpacityPercent(OverlaySettings& settings) {
    return {[&settings] { return settings.overlayOpacity() * 100; },
            [&settings](double percent) { settings.overlayOpacity = percent / 100; }};
}

SliderRange overlayOpacityPercentRange() {
    const Bounds bounds = settings_keys::overlayOpacity.check;
    return {bounds.lo * 100, bounds.hi * 100};
}

double overlayOpacityDefaultPercent() {
    return settings_keys::overlayOpacity.defaultValue * 100;
}

StyleOpacityControls::StyleOpacityControls(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : QWidget(parent), settings_(settings), refresh_(loop, [this] { refresh(); }) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);

    picker_ = new StylePicker(deferredBinding(loop, settingBinding(settings_.style)), this);
    column->addWidget(picker_);

    auto* opacityGroup = new QVBoxLayout;
    opacityGroup->setSpacing(4);
    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    auto* title = new QLabel(QStringLiteral("Opacity"), this);
    title->setFont(SettingsStyle::captionFont());
    header->addWidget(title);
    value_ = new QLabel(this);
    value_->setFont(SettingsStyle::valueFont());
    QPalette quiet = value_->palette();
    quiet.setColor(QPalette::WindowText, SettingsStyle::secondaryText(quiet));
    value_->setPalette(quiet);
    header->addWidget(value_);
    header->addStretch(1);
    opacityGroup->addLayout(header);
    // No step: the ticks the popover asks for belong to stepped sliders only, so the track is continuous.
    slider_ = new ResettableSlider(loop, overlayOpacityPercent(settings_), overlayOpacityPercentRange(),
                                   overlayOpacityDefaultPercent(), std::nullopt, true, this);
    slider_->setAccessibleName(QStringLiteral("Opacity"));
    opacityGroup->addWidget(slider_);
    column->addLayout(opacityGroup);

    watch_ = settings_.objectWillChange().sink([this](const std::monostate&) { refresh_.schedule(); });
    refresh();
}

void StyleOpacityControls::refresh() {
    picker_->refresh();
    value_->setText(truncatedPercentText(settings_.overlayOpacity()));
    slider_->refresh();
}

// ---- always on ----

AlwaysOnControls::AlwaysOnControls(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : SettingsRow(parent), settings_(settings), rows_(loop, new QWidget(this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* toggle = new SettingsToggleRow(QStringLiteral("Keep overlay always on"),
                                         deferredBinding(loop, settingBinding(settings.keepOverlayAlwaysOn)),
                                         {}, nullptr, this);
    column->addWidget(toggle);
    column->addWidget(new SettingsCaptionRow(
        QStringLiteral("Keeps the overlay visible at all times, even when no window fills the screen. "
                       "Appear/disappear animations are replaced by smooth color changes."),
        this));

    QWidget* block = rows_.block();
    auto* height = new SettingsSliderRow(
        loop, QStringLiteral("Overlay height"), settingBinding(settings.alwaysOnOverlayHeight),
        settings_keys::alwaysOnOverlayHeight, SettingsSliderRow::Options::showing([&settings] {
            return truncatedText(settings.alwaysOnOverlayHeight(), lengthUnit);
        }));
    auto* radius = new SettingsSliderRow(
        loop, QStringLiteral("Corner radius"), settingBinding(settings.alwaysOnCornerRadius),
        settings_keys::alwaysOnCornerRadius, SettingsSliderRow::Options::showing([&settings] {
            return truncatedText(settings.alwaysOnCornerRadius(), lengthUnit);
        }));
    addRows(
        block,
        {new SettingsHairline,
         new SettingsPickerRow<EmptyDesktopMode>(
             QStringLiteral("Empty desktop appearance"),
             deferredBinding(loop, settingBinding(settings.emptyDesktopMode)),
             {{EmptyDesktopMode::black, QStringLiteral("Black")},
              {EmptyDesktopMode::transparent, QStringLiteral("Transparent")},
              {EmptyDesktopMode::blur, QStringLiteral("Blur")}}),
         new SettingsCaptionRow(QStringLiteral("What the overlay shows when no window fills the screen.")),
         height,
         new SettingsCaptionRow(QStringLiteral(
             "Height of the always-on nested shape (bar + corners). Always covers the top panel; "
             "larger values extend it down the screen. Applies live.")),
         radius,
         new SettingsCaptionRow(
             QStringLiteral("Roundness of the always-on shape's overlay corners. Applies live."))});
    column->addWidget(block);
    refresh();
}

void AlwaysOnControls::refresh() {
    rows_.setShown(settings_.keepOverlayAlwaysOn());
}

}  // namespace velaro
