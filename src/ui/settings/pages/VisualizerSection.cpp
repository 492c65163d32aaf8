// The Music Visualizer page's sections and the conditions that show, hide and dim their rows.
#include "ui/settings/pages/VisualizerSection.h"

#include <QVBoxLayout>
#include <cmath>

#include "settings/OverlaySettings.h"
#include "ui/settings/kit/PaletteEditor.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/kit/ValueText.h"
#include "ui/settings/pages/ProgressBarSection.h"

namespace velaro {
namespace {

// A header and its card, as one block that shows and hides together.
QWidget* section(const QString& title, SettingsCard* card) {
    return rowStack(nullptr, {new SettingsSectionHeader(title), card});
}

SettingsCard* cardOf(std::initializer_list<QWidget*> rows) {
    auto* card = new SettingsCard;
    for (QWidget* row : rows) card->addRow(row);
    return card;
}

QString formatted(const char* format, double value) {
    return QString::asprintf(format, value);
}

}  // namespace

VisualizerSection::VisualizerSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : OverlaySettingsPage(settings, loop, parent) {
    using Options = SettingsSliderRow::Options;
    const auto deferred = [&loop](auto& setting) { return deferredBinding(loop, settingBinding(setting)); };
    const auto slider = [&loop](const QString& title, Setting<double>& setting,
                                const settings_keys::Entry<double, Bounds>& row, std::optional<double> step,
                                std::function<QString(double)> text) {
        return new SettingsSliderRow(loop, title, settingBinding(setting), row,
                                     Options::showing([&setting, text] { return text(setting()); }, step));
    };
    // The two whole-number settings: the slider's value is rounded and kept in range on the next turn, then
    // assigned, read back and stored.
    const auto wholeSlider = [&loop, &settings](const QString& title, Setting<int>& setting,
                                                const settings_keys::Entry<int, Bounds>& row) {
        const Bounds bounds = row.check;
        const char* key = row.key;
        Binding<double> binding{
            [&setting] { return double(setting()); },
            [&loop, &settings, &setting, key, bounds](double value) {
                deferredWrite(loop, value, [&settings, &setting, key, bounds](double written) {
                    // The bounds' ends are whole numbers; not a number goes to the lower one.
                    const int kept =
                        static_cast<int>(bounded(std::round(written), bounds).value_or(bounds.lo));
                    settings.setIntAndPersist(kept, setting, key);
                });
            }};
        return new SettingsSliderRow(loop, title, std::move(binding), row,
                                     Options::showing([&setting] { return QString::number(setting()); }, 1));
    };
    const auto points = [](double v) { return truncatedText(v, lengthUnit); };
    const auto percent = [](double v) { return roundedPercentText(v); };
    const auto caption = [](const char* text) { return new SettingsCaptionRow(QString::fromUtf8(text)); };

    masterOff_ =
        new SettingsNoticeText(QString::fromUtf8(masterOffText), SettingsStyle::secondaryText(palette()));
    column()->addWidget(masterOff_);
    content_ = rowStack(this);
    column()->addWidget(content_);

    // The switch and the audio engine's message, shown whenever there is one.
    auto* enable =
        new SettingsToggleRow(QStringLiteral("Enable Music Visualizer"), deferred(settings.vizEnabled));
    status_ = new SettingsNoticeText({}, SettingsStyle::warningColor());
    addRows(content_, {cardOf({enable, status_})});

    auto* style = new SettingsSegmentedRow<std::string>(
        QStringLiteral("Style"), deferred(settings.vizStyle),
        {{"bars", QStringLiteral("Bars")}, {"waves", QStringLiteral("Waves")}});
    auto* opacity = slider(QStringLiteral("Opacity"), settings.vizOpacity, settings_keys::vizOpacity,
                           std::nullopt, percent);
    auto* styleCard = cardOf(
        {style,
         caption(
             "Waves replaces the bars with soft envelopes flowing along the top edge — bass on the widest "
             "wave. Trail and glow apply to both styles; each style keeps its own color settings."),
         new SettingsHairline, opacity,
         caption(
             "Fades the whole visualizer — bars and waves alike, glow included. The master toggle is what "
             "turns it off.")});

    auto* thickness = slider(QStringLiteral("Thickness"), settings.vizBarThickness,
                             settings_keys::vizBarThickness, 1, points);
    auto* gap = slider(QStringLiteral("Gap"), settings.vizBarGap, settings_keys::vizBarGap, 1, points);
    bars_ =
        section(QStringLiteral("Bars"),
                cardOf({thickness, new SettingsHairline, gap,
                        caption("Bars fill the full width — the count follows thickness + gap. Double-click "
                                "a slider to reset.")}));

    auto* waveCount =
        wholeSlider(QStringLiteral("Wave count"), settings.vizWaveCount, settings_keys::vizWaveCount);
    auto* edgeSoftness = slider(QStringLiteral("Edge softness"), settings.vizWaveEdgeSoftness,
                                settings_keys::vizWaveEdgeSoftness, std::nullopt,
                                [](double v) { return formatted("%.1f", v) + lengthUnit; });
    auto* waveOpacity = slider(QStringLiteral("Opacity"), settings.vizWaveOpacity,
                               settings_keys::vizWaveOpacity, std::nullopt, percent);
    auto* peaks = wholeSlider(QStringLiteral("Peaks"), settings.vizWavePeaks, settings_keys::vizWavePeaks);
    auto* spectrum = slider(QStringLiteral("Spectrum"), settings.vizWaveSpectrum,
                            settings_keys::vizWaveSpectrum, std::nullopt, percent);
    waves_ = section(
        QStringLiteral("Waves"),
        cardOf({waveCount, caption("More waves = denser, richer pattern."), new SettingsHairline,
                edgeSoftness, caption("0 = crisp, reference-style edges."), new SettingsHairline, waveOpacity,
                caption("Higher values make lobes solid; overlaps bloom white."), new SettingsHairline, peaks,
                caption("Approximate number of crests across the width."), new SettingsHairline, spectrum,
                caption("Maps bass→treble across the width; 0% = uniform layers.")}));

    auto* barsMode =
        new SettingsPickerRow<std::string>(QStringLiteral("Mode"), deferred(settings.vizColorMode),
                                           {{"mono", QStringLiteral("Mono")},
                                            {"solid", QStringLiteral("Solid")},
                                            {"rainbow", QStringLiteral("Rainbow")},
                                            {"artwork", QStringLiteral("Artwork")}});
    barsSolid_ =
        new SettingsColorWellRow(QStringLiteral("Solid color"), deferred(settings.vizSolidColor), false);
    hueDrift_ = slider(QStringLiteral("Hue drift"), settings.vizHueSpeed, settings_keys::vizHueSpeed, 1,
                       hueSpeedText);
    barsColors_ = rowStack(
        nullptr,
        {barsMode, new SettingsHairline, barsSolid_, new SettingsHairline, hueDrift_,
         caption(
             "Artwork picks a color based on the cover that is playing, and falls back to your Solid color "
             "when no usable cover arrives. Solid uses your color exactly — hue and brightness, unchanged by "
             "the backdrop. Rainbow runs red (bass, left) to purple (treble, right), slowly drifts, and "
             "adapts its brightness to the backdrop.")});

    auto* wavesMode =
        new SettingsPickerRow<std::string>(QStringLiteral("Mode"), deferred(settings.vizWaveColorMode),
                                           {{"mono", QStringLiteral("Mono")},
                                            {"solid", QStringLiteral("Solid")},
                                            {"rainbow", QStringLiteral("Rainbow")},
                                            {"palette", QStringLiteral("Palette")},
                                            {"artwork", QStringLiteral("Artwork")}});
    wavesSolid_ =
        new SettingsColorWellRow(QStringLiteral("Solid color"), deferred(settings.vizWaveSolidColor), false);
    colorFlow_ = slider(QStringLiteral("Color flow"), settings.vizWaveHueSpeed,
                        settings_keys::vizWaveHueSpeed, 1, hueSpeedText);
    auto* palette = new PaletteEditor(
        loop,
        {.read = [&settings] { return settings.vizPalette(); },
         .writeBack = [&settings](std::vector<std::string> list) { settings.vizPalette = std::move(list); },
         .resetList = vizDefaultPalette(),
         .resetLabel = QStringLiteral("Reset to reference"),
         .wellLabelPrefix = QStringLiteral("Palette color "),
         .caption = QStringLiteral("Order matters: the first color rides the bass wave. The gradient wraps "
                                   "from the last color back to the first.")});
    auto* paletteHolder = new QWidget;
    auto* paletteColumn = new QVBoxLayout(paletteHolder);
    paletteColumn->setContentsMargins(0, 10, 0, 10);
    paletteColumn->setSpacing(4);
    paletteColumn->addWidget(palette);
    paletteBlock_ = rowStack(nullptr, {new SettingsHairline, paletteHolder});
    wavesColors_ = rowStack(
        nullptr,
        {wavesMode, new SettingsHairline, wavesSolid_, new SettingsHairline, colorFlow_, paletteBlock_,
         caption(
             "Artwork tints the waves based on the cover that is playing, falling back to your Solid color "
             "when no usable cover arrives. Palette paints the waves with the reference gradient. Color flow "
             "drifts the hue in Rainbow and flows the palette in Palette — 0 locks it in place. Brightness "
             "always adapts to the backdrop.")});
    // Switching the style closes a colour panel opened from the other form.
    closeSharedColorPanelWhenHidden(*barsColors_);
    closeSharedColorPanelWhenHidden(*wavesColors_);

    auto* trail = new SettingsToggleRow(QStringLiteral("Trail"), deferred(settings.vizTrailEnabled));
    trailLength_ = slider(QStringLiteral("Length"), settings.vizTrailLength, settings_keys::vizTrailLength,
                          std::nullopt, [](double v) { return formatted("%.2fs", v); });
    auto* glow = new SettingsToggleRow(QStringLiteral("Glow"), deferred(settings.vizBloomEnabled));
    intensity_ =
        slider(QStringLiteral("Intensity"), settings.vizBloomIntensity, settings_keys::vizBloomIntensity,
               std::nullopt, [](double v) { return formatted("%.1f", v); });
    radius_ =
        slider(QStringLiteral("Radius"), settings.vizBloomRadius, settings_keys::vizBloomRadius, 1, points);

    sections_ = rowStack(
        content_,
        {section(QStringLiteral("Style"), styleCard), bars_, waves_,
         section(QStringLiteral("Color"), cardOf({barsColors_, wavesColors_})),
         section(
             QStringLiteral("Trail"),
             cardOf({trail, new SettingsHairline, trailLength_,
                     caption("Bars leave a falling afterimage that fades out — length is its half-life.")})),
         section(
             QStringLiteral("Glow"),
             cardOf({glow, new SettingsHairline, intensity_, new SettingsHairline, radius_,
                     caption("A soft glow that breathes with the music. Not drawn while the bars are black "
                             "(mono on light backdrops).")}))});
    closeSharedColorPanelWhenHidden(*sections_);
    auto* progress = new ProgressBarSection(settings, loop);
    addRows(content_, {sections_, progress});

    const auto followAll = [this](const auto&... members) { (follow(members.changes()), ...); };
    followAll(settings.masterEnabled, settings.vizEnabled, settings.vizStatus, settings.vizStyle,
              settings.vizOpacity, settings.vizBarThickness, settings.vizBarGap, settings.vizWaveCount,
              settings.vizWaveEdgeSoftness, settings.vizWaveOpacity, settings.vizWavePeaks,
              settings.vizWaveSpectrum, settings.vizColorMode, settings.vizSolidColor, settings.vizHueSpeed,
              settings.vizWaveColorMode, settings.vizWaveSolidColor, settings.vizWaveHueSpeed,
              settings.vizPalette, settings.vizTrailEnabled, settings.vizTrailLength,
              settings.vizBloomEnabled, settings.vizBloomIntensity, settings.vizBloomRadius);
    followAll(settings.progressEnabled, settings.progressColorMode, settings.progressSolidColor,
              settings.progressHueSpeed, settings.progressOpacity, settings.progressModifier,
              settings.progressKeySeekEnabled, settings.progressAutoHide, settings.progressAutoHideSeconds);
    refresh();
}

void VisualizerSection::refreshPage() {
    const OverlaySettings& s = settings();
    const bool master = s.masterEnabled();
    masterOff_->setVisible(!master);
    content_->setEnabled(master);
    const auto& status = s.vizStatus();
    status_->setText(status ? QString::fromStdString(*status) : QString());
    status_->setVisible(status.has_value());

    sections_->setVisible(s.vizEnabled());
    // A string none of these knows (a profile may hold one) matches no case: a style that is neither shows
    // no style section of its own and the waves' colour rows.
    const auto style = fromString<VizStyle>(s.vizStyle());
    bars_->setVisible(style == VizStyle::bars);
    waves_->setVisible(style == VizStyle::waves);
    barsColors_->setVisible(style == VizStyle::bars);
    wavesColors_->setVisible(style != VizStyle::bars);

    const auto barsMode = fromString<VizBarsColorMode>(s.vizColorMode());
    barsSolid_->setEnabled(barsMode == VizBarsColorMode::solid);
    hueDrift_->setEnabled(barsMode == VizBarsColorMode::rainbow);
    const auto wavesMode = fromString<VizWaveColorMode>(s.vizWaveColorMode());
    wavesSolid_->setEnabled(wavesMode == VizWaveColorMode::solid);
    colorFlow_->setEnabled(wavesMode == VizWaveColorMode::rainbow || wavesMode == VizWaveColorMode::palette);
    paletteBlock_->setVisible(wavesMode == VizWaveColorMode::palette);

    trailLength_->setEnabled(s.vizTrailEnabled());
    intensity_->setEnabled(s.vizBloomEnabled());
    radius_->setEnabled(s.vizBloomEnabled());
}

}  // namespace velaro
