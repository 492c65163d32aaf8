// The progress bar section's rows and the texts that follow the modifier key.
#include "ui/settings/pages/ProgressBarSection.h"

#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "settings/OverlaySettings.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/kit/ValueText.h"
#include "ui/settings/pages/ShortcutRecorder.h"

namespace velaro {
namespace {

constexpr std::array<double, 6> kAutoHidePresets{5, 10, 15, 20, 25, 30};

// The "After" menu: its options follow the stored delay, so the labels are rebuilt before every read.
class AutoHideDelayRow final : public SettingsChoiceRow {
public:
    AutoHideDelayRow(OverlaySettings& settings, MainLoop& loop)
        : SettingsChoiceRow(
              Form::popUpMenu, QStringLiteral("After"), {},
              [&settings] {
                  const double current = settings.progressAutoHideSeconds();
                  const auto options = autoHideDelayOptions(current);
                  for (std::size_t i = 0; i < options.size(); ++i)
                      if (options[i].first == current) return int(i);
                  return -1;
              },
              [&settings, &loop](int index) {
                  const auto options = autoHideDelayOptions(settings.progressAutoHideSeconds());
                  if (index < 0 || std::size_t(index) >= options.size()) return;
                  const double chosen = options[std::size_t(index)].first;
                  // An equal choice stores nothing.
                  loop.post([&settings, chosen] {
                      if (chosen != settings.progressAutoHideSeconds())
                          settings.progressAutoHideSeconds = chosen;
                  });
              }),
          settings_(settings) {
        refresh();
    }

    void refresh() override {
        setMenuLabels(detail::optionLabels(autoHideDelayOptions(settings_.progressAutoHideSeconds())));
        SettingsChoiceRow::refresh();
    }

private:
    OverlaySettings& settings_;
};

}  // namespace

QString progressModifierName(const std::string& modifier) {
    const std::string_view name = ShortcutKeyCombo::modifierName(progressSeekModifier(modifier));
    return QString::fromLatin1(name.data(), qsizetype(name.size()));
}

QString progressNavigationText(const std::string& modifier) {
    if (modifier == "shift") return QStringLiteral("Shift+arrow text selection");
    if (modifier == "control") return QStringLiteral("Ctrl+arrow word navigation");
    if (modifier == "command") return QStringLiteral("Super+arrow window tiling");
    return QStringLiteral("Alt+arrow back/forward navigation");
}

QString hueSpeedText(double degreesPerSecond) {
    return degreesPerSecond == 0 ? QStringLiteral("Off")
                                 : truncatedText(degreesPerSecond, QStringLiteral("°/s"));
}

SettingsOptions<double> autoHideDelayOptions(double current) {
    SettingsOptions<double> options;
    for (double preset : kAutoHidePresets)
        options.emplace_back(preset, truncatedText(preset, QStringLiteral("s")));
    if (std::find(kAutoHidePresets.begin(), kAutoHidePresets.end(), current) != kAutoHidePresets.end())
        return options;
    const auto later = std::find_if(options.begin(), options.end(),
                                    [current](const auto& option) { return option.first > current; });
    options.emplace(later, current, truncatedText(current, QStringLiteral("s (current)")));
    return options;
}

ProgressBarSection::ProgressBarSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : SettingsRow(parent), settings_(settings) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new SettingsSectionHeader(QStringLiteral("Progress Bar"), this));
    auto* card = new SettingsCard(this);
    column->addWidget(card);

    const auto deferredBool = [&loop](Setting<bool>& setting) {
        return deferredBinding(loop, settingBinding(setting));
    };
    const auto deferredText = [&loop](Setting<std::string>& setting) {
        return deferredBinding(loop, settingBinding(setting));
    };

    auto* enable =
        new SettingsToggleRow(QStringLiteral("Enable Progress Bar"), deferredBool(settings.progressEnabled));
    card->addRow(enable);

    // The menu offers the modes' stored strings; a string it does not know (a profile may hold one) shows as
    // no choice.
    const auto colorMode = [](ProgressColorMode mode, const QString& label) {
        return std::pair{std::string(toString(mode)), label};
    };
    auto* color = new SettingsPickerRow<std::string>(
        QStringLiteral("Color"), deferredText(settings.progressColorMode),
        {colorMode(ProgressColorMode::mono, QStringLiteral("Mono")),
         colorMode(ProgressColorMode::solid, QStringLiteral("Solid")),
         colorMode(ProgressColorMode::rainbow, QStringLiteral("Rainbow"))});
    solid_ =
        new SettingsColorWellRow(QStringLiteral("Solid color"),
                                 deferredBinding(loop, settingBinding(settings.progressSolidColor)), false);
    closeSharedColorPanelWhenHidden(*solid_);
    hueDrift_ =
        new SettingsSliderRow(loop, QStringLiteral("Hue drift"), settingBinding(settings.progressHueSpeed),
                              settings_keys::progressHueSpeed,
                              SettingsSliderRow::Options::showing(
                                  [&settings] { return hueSpeedText(settings.progressHueSpeed()); }, 1));
    auto* opacity = new SettingsSliderRow(
        loop, QStringLiteral("Opacity"), settingBinding(settings.progressOpacity),
        settings_keys::progressOpacity, SettingsSliderRow::Options::showing([&settings] {
            return roundedPercentText(settings.progressOpacity());
        }));
    auto* modifier = new SettingsPickerRow<std::string>(QStringLiteral("Modifier key"),
                                                        deferredText(settings.progressModifier),
                                                        {{"shift", QStringLiteral("Shift")},
                                                         {"control", QStringLiteral("Ctrl")},
                                                         {"option", QStringLiteral("Alt")},
                                                         {"command", QStringLiteral("Super")}});
    commandWarning_ = new SettingsNoticeText(
        QStringLiteral(
            "Super+← / → / ↑ / ↓ are common desktop shortcuts; choosing Super overrides them globally while "
            "a track is loaded."),
        SettingsStyle::warningColor());
    seekCaption_ = new SettingsCaptionRow({});
    keyboard_ = new SettingsToggleRow({}, deferredBool(settings.progressKeySeekEnabled));
    keyboardCaption_ = new SettingsCaptionRow({});
    auto* autoHide = new SettingsToggleRow(QStringLiteral("Auto-hide while paused"),
                                           deferredBool(settings.progressAutoHide));
    after_ = new AutoHideDelayRow(settings, loop);
    reappearCaption_ = new SettingsCaptionRow({});

    details_ = rowStack(card);
    addRows(details_,
            {new SettingsHairline,
             color,
             new SettingsHairline,
             solid_,
             new SettingsHairline,
             hueDrift_,
             new SettingsHairline,
             opacity,
             new SettingsCaptionRow(QStringLiteral(
                 "A thin line along the very top edge that fills with the current track. Mono goes black or "
                 "white based on the window behind the top panel, and on the system appearance when no "
                 "window is there. Rainbow sweeps the hue along the bar and drifts. Opacity fades the line "
                 "without changing where you can click to seek.")),
             new SettingsHairline,
             modifier,
             commandWarning_,
             seekCaption_,
             new SettingsHairline,
             keyboard_,
             keyboardCaption_,
             new SettingsHairline,
             autoHide,
             after_,
             reappearCaption_});
    card->addRow(details_);
    refresh();
}

void ProgressBarSection::refresh() {
    const std::string& modifier = settings_.progressModifier();
    const auto mode = fromString<ProgressColorMode>(settings_.progressColorMode());
    const QString m = progressModifierName(modifier);
    details_->setVisible(settings_.progressEnabled());
    solid_->setEnabled(mode == ProgressColorMode::solid);
    hueDrift_->setEnabled(mode == ProgressColorMode::rainbow);
    after_->setEnabled(settings_.progressAutoHide());
    commandWarning_->setVisible(modifier == "command");
    seekCaption_->setText(m + QStringLiteral("+click or drag the bar to seek; ") + m +
                          QStringLiteral("+← / → skips ±10s."));
    const QString keyboardTitle = QStringLiteral("Keyboard control (") + m + QStringLiteral("+arrows)");
    keyboard_->titleLabel()->setText(keyboardTitle);
    keyboard_->toggle()->setAccessibleName(keyboardTitle);
    keyboardCaption_->setText(
        QStringLiteral("← / → skips ±10s · ↑ / ↓ next/previous. While a track is loaded, "
                       "this overrides ") +
        progressNavigationText(modifier) + QStringLiteral("."));
    reappearCaption_->setText(
        QStringLiteral("Reappears when playback resumes, the pointer reaches the top, or ") + m +
        QStringLiteral(" is held."));
}

}  // namespace velaro
