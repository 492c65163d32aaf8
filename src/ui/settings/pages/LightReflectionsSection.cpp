// The light reflections page.
#include "ui/settings/pages/LightReflectionsSection.h"

#include <QToolButton>
#include <QVBoxLayout>

#include "settings/OverlaySettings.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/ValueText.h"

namespace velaro {
namespace {

// One slider of the page: it spans what the key table bounds its number to.
struct BeamSlider {
    const char* title;
    Setting<double> OverlaySettings::*setting;
    SliderRange range;
    double defaultValue;
    std::optional<double> step = std::nullopt;
    // The streak height shows pixels with two decimals; the others show fractions in percent.
    bool pixels = false;
};

BeamSlider beamSlider(const char* title, Setting<double> OverlaySettings::*setting,
                      const settings_keys::Entry<double, Bounds>& row,
                      std::optional<double> step = std::nullopt, bool pixels = false) {
    return {title, setting, {row.check.lo, row.check.hi}, row.defaultValue, step, pixels};
}

SettingsSliderRow* beamSliderRow(OverlaySettings& settings, MainLoop& loop, const BeamSlider& s) {
    Setting<double>& setting = settings.*s.setting;
    const bool pixels = s.pixels;
    return new SettingsSliderRow(
        loop, QString::fromUtf8(s.title), settingBinding(setting), s.range, s.defaultValue,
        SettingsSliderRow::Options::showing(
            [&setting, pixels] {
                return pixels ? QString::asprintf("%.2f px", setting()) : truncatedPercentText(setting());
            },
            s.step));
}

SettingsToggleRow* deferredToggle(OverlaySettings& settings, MainLoop& loop, const QString& title,
                                  Setting<bool> OverlaySettings::*setting) {
    return new SettingsToggleRow(title, deferredBinding(loop, settingBinding(settings.*setting)));
}

}  // namespace

LightReflectionsSection::LightReflectionsSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : OverlaySettingsPage(settings, loop, parent),
      beamRows_(loop, new QWidget(this)),
      fineCard_(loop, new QWidget(this)) {
    auto* card = new SettingsCard(this);
    card->addRow(deferredToggle(settings, loop, QStringLiteral("Enable light beam"),
                                &OverlaySettings::lightReflectionsEnabled));
    card->addRow(new SettingsCaptionRow(QStringLiteral(
        "A thin light beam at the screen's top edge follows your pointer's horizontal position and "
        "glows in the color sampled just below the top panel. Independent of the overlay tint.")));
    const struct {
        const char* title;
        Setting<bool> OverlaySettings::*setting;
        const char* caption;
    } groups[] = {
        {"Glow", &OverlaySettings::beamGlowEnabled,
         "Soft downward halo emanating from the top edge. Turn off for just the crisp line."},
        {"Beam bloom", &OverlaySettings::beamBloomEnabled,
         "Extra soft halo on the beam body only — the top streak stays crisp."},
        {"Spread-in animation", &OverlaySettings::beamEntryAnimation,
         "Animate the beam spreading outward when the pointer enters the sample area. Exit is always "
         "instant."},
    };
    for (const auto& g : groups)
        addRows(beamRows_.block(),
                {new SettingsHairline, deferredToggle(settings, loop, QString::fromUtf8(g.title), g.setting),
                 new SettingsCaptionRow(QString::fromUtf8(g.caption))});
    card->addRow(beamRows_.block());
    column()->addWidget(card);

    // Fine-tuning: folded away until asked for; the fold is not stored.
    fineTuning_ = new QWidget(this);
    auto* fine = new QVBoxLayout(fineTuning_);
    fine->setContentsMargins(0, 28, 0, 0);
    fine->setSpacing(8);
    auto* disclosure = new QToolButton(fineTuning_);
    disclosure->setText(QStringLiteral("Fine-tuning"));
    disclosure->setFont(SettingsStyle::calloutFont());
    disclosure->setAutoRaise(true);
    disclosure->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    disclosure->setArrowType(Qt::RightArrow);
    disclosure->setCheckable(true);
    QObject::connect(disclosure, &QToolButton::toggled, this, [this, disclosure](bool open) {
        expanded_ = open;
        disclosure->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        refreshPage();
    });
    fine->addWidget(disclosure);

    auto* fineCard = new SettingsCard;
    fineCard->addRow(new SettingsCaptionRow(QStringLiteral(
        "Advanced controls for the beam's size, brightness, and glow. The defaults are tuned to look "
        "good — adjust these only if you want a different look.")));
    namespace keys = settings_keys;
    using S = OverlaySettings;
    const BeamSlider sliders[] = {
        beamSlider("Beam length", &S::beamLength, keys::beamLength),
        beamSlider("Brightness", &S::beamBrightness, keys::beamBrightness),
        beamSlider("Beam height", &S::beamHeight, keys::beamHeight),
        beamSlider("Top streak length", &S::beamWidth, keys::beamWidth),
        beamSlider("Hotspot length", &S::beamTopStreakHotspot, keys::beamTopStreakHotspot),
        beamSlider("Streak height", &S::beamTopStreakHeight, keys::beamTopStreakHeight, 0.25, true),
        beamSlider("Core brightness", &S::beamCoreBrightness, keys::beamCoreBrightness),
    };
    for (const BeamSlider& s : sliders) {
        fineCard->addHairline();
        fineCard->addRow(beamSliderRow(settings, loop, s));
    }
    fineCard->addHairline();
    coreColor_ = new SettingsColorWellRow(
        QStringLiteral("Core color"), deferredBinding(loop, settingBinding(settings.beamCoreColor)), false);
    fineCard->addRow(coreColor_);
    fineCard->addHairline();
    fineCard->addRow(deferredToggle(settings, loop, QStringLiteral("Follow sampled color"),
                                    &OverlaySettings::beamCoreFollowsSampled));
    glowBrightness_ = fineCard->addHairlinedRow(beamSliderRow(
        settings, loop, beamSlider("Glow brightness", &S::beamGlowBrightness, keys::beamGlowBrightness)));
    addRows(fineCard_.block(), {fineCard});
    fine->addWidget(fineCard_.block());
    column()->addWidget(fineTuning_);

    follow(settings.objectWillChange());
    refresh();
}

void LightReflectionsSection::refreshPage() {
    const bool on = settings().lightReflectionsEnabled();
    beamRows_.setShown(on);
    fineTuning_->setVisible(on);
    fineCard_.setShown(expanded_);
    coreColor_->setEnabled(!settings().beamCoreFollowsSampled());
    glowBrightness_->setVisible(settings().beamGlowEnabled());
}

}  // namespace velaro
