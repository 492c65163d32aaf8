// The background blur section.
#include "ui/settings/pages/BackgroundBlurSection.h"

#include <QVBoxLayout>

#include "settings/OverlaySettings.h"
#include "ui/settings/kit/ValueText.h"

namespace velaro {

BackgroundBlurSection::BackgroundBlurSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : SettingsRow(parent), settings_(settings), rows_(loop, new QWidget(this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new SettingsSectionHeader(QStringLiteral("Background Blur"), this));
    auto* card = new SettingsCard(this);
    column->addWidget(card);

    auto* enable =
        new SettingsToggleRow(QStringLiteral("Enable blur"),
                              deferredBinding(loop, settingBinding(settings.blurEnabled)), {}, nullptr, card);
    card->addRow(enable);

    auto* amount = new SettingsSliderRow(
        loop, QStringLiteral("Blur Amount"), settingBinding(settings.blurRadius), settings_keys::blurRadius,
        SettingsSliderRow::Options::showing(
            [&settings] { return truncatedText(settings.blurRadius(), lengthUnit); }, 1.0));
    corners_ = new SettingsToggleRow(QStringLiteral("Blur overlay corners"),
                                     deferredBinding(loop, settingBinding(settings.blurTopCorners)));
    pillCaption_ = new SettingsCaptionRow(QStringLiteral(
        "Not applied in Pill shape — Pill draws the overlay as a single window, so there are no "
        "separate overlay-corner windows to frost. Applies again in Full Bar."));
    auto* styleOpacity = new SettingsSliderRow(
        loop, QStringLiteral("Style Opacity"), settingBinding(settings.styleOpacityOverBlur),
        settings_keys::styleOpacityOverBlur,
        SettingsSliderRow::Options::showing(
            [&settings] { return truncatedPercentText(settings.styleOpacityOverBlur()); }, 0.05));
    QWidget* rows = rows_.block();
    rows->setParent(card);
    addRows(rows,
            {new SettingsHairline, amount, new SettingsHairline, corners_, pillCaption_, new SettingsHairline,
             styleOpacity,
             new SettingsCaptionRow(QStringLiteral("How strongly the overlay style paints over the frost"))});
    card->addRow(rows);
    refresh();
}

void BackgroundBlurSection::refresh() {
    rows_.setShown(settings_.blurEnabled());
    const bool unified = settings_.usesUnifiedRenderer();
    corners_->setEnabled(!unified);
    pillCaption_->setVisible(unified);
}

}  // namespace velaro
