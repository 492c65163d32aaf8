// The hue drift editor's rows.
#include "ui/settings/pages/HueDriftSection.h"

#include <QVBoxLayout>

#include "settings/OverlaySettings.h"
#include "ui/settings/kit/PaletteEditor.h"
#include "ui/settings/kit/ValueText.h"

namespace velaro {
namespace {

// One field of the drift: read from the value as it is now, written by assigning the whole value with that
// field changed (the settings store it only when it differs).
template <class F>
Binding<F> driftField(OverlaySettings& settings, F OverlayHueDrift::*field) {
    return {[&settings, field] { return settings.hueDrift().*field; },
            [&settings, field](F value) {
                OverlayHueDrift drift = settings.hueDrift();
                drift.*field = std::move(value);
                settings.hueDrift = drift;
            }};
}

}  // namespace

HueDriftSection::HueDriftSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : SettingsRow(parent), settings_(settings), refresh_(loop, [this] { refresh(); }) {
    using Drift = OverlayHueDrift;
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* enable = new SettingsToggleRow(QStringLiteral("Hue Drift"),
                                         deferredBinding(loop, driftField(settings, &Drift::enabled)),
                                         QStringLiteral("Continuously cycles the overlay color"));
    on_ = rowStack(this);
    auto* style = new SettingsPickerRow<Drift::Variant>(
        QStringLiteral("Style"), deferredBinding(loop, driftField(settings, &Drift::variant)),
        {{Drift::Variant::uniform, QStringLiteral("Uniform")},
         {Drift::Variant::scroll, QStringLiteral("Scroll")}});
    styleCaption_ = new SettingsCaptionRow({});
    auto* colors = new SettingsPickerRow<Drift::Source>(
        QStringLiteral("Colors"), deferredBinding(loop, driftField(settings, &Drift::source)),
        {{Drift::Source::rainbow, QStringLiteral("Rainbow")},
         {Drift::Source::palette, QStringLiteral("Palette")}});
    auto* duration = new SettingsSliderRow(
        loop, QStringLiteral("Transition duration"), driftField(settings, &Drift::periodSeconds),
        {hueDriftPeriodBounds.lo, hueDriftPeriodBounds.hi}, 2.0,
        SettingsSliderRow::Options::showing(
            [&settings] { return QString::asprintf("%.1f s", settings.hueDrift().periodSeconds); }, 0.5));

    scroll_ = rowStack(on_);
    auto* direction = new SettingsPickerRow<Drift::Direction>(
        QStringLiteral("Direction"), deferredBinding(loop, driftField(settings, &Drift::direction)),
        {{Drift::Direction::rightToLeft, QStringLiteral("Right to left")},
         {Drift::Direction::leftToRight, QStringLiteral("Left to right")}});
    auto* blend = new SettingsToggleRow(QStringLiteral("Gradient transition"),
                                        deferredBinding(loop, driftField(settings, &Drift::blend)));
    width_ = new SettingsSliderRow(
        loop, QStringLiteral("Transition width"), driftField(settings, &Drift::transitionWidth),
        {transitionWidthBounds.lo, transitionWidthBounds.hi}, 1.0,
        SettingsSliderRow::Options::showing(
            [&settings] { return roundedPercentText(settings.hueDrift().transitionWidth); }, 0.05));
    addRows(scroll_, {direction, blend, width_});

    palette_ = new PaletteEditor(
        loop, {.read = [&settings] { return settings.hueDrift().paletteStops; },
               .writeBack = driftField(settings, &Drift::paletteStops).set,
               .resetList = Drift::defaultPalette(),
               .resetLabel = QStringLiteral("Reset to rainbow"),
               .wellLabelPrefix = QStringLiteral("Cycle color "),
               .caption = QStringLiteral(
                   "Order is the drift order; the cycle wraps from the last color back to the first.")});

    addRows(on_, {style, styleCaption_, colors, duration,
                  new SettingsCaptionRow(QStringLiteral("Seconds from one color to the next.")), scroll_,
                  palette_});
    column->addWidget(enable);
    column->addWidget(new SettingsCaptionRow(
        QStringLiteral("The overlay and its own corners drift through the color cycle as one block."), this));
    column->addWidget(on_);

    watch_ = settings.hueDrift.changes().sink([this](const OverlayHueDrift&) { refresh_.schedule(); });
    refresh();
}

void HueDriftSection::refresh() {
    const OverlayHueDrift& drift = settings_.hueDrift();
    const bool scrolls = drift.variant == OverlayHueDrift::Variant::scroll;
    on_->setVisible(drift.enabled);
    scroll_->setVisible(scrolls);
    width_->setVisible(drift.blend);
    palette_->setVisible(drift.source == OverlayHueDrift::Source::palette);
    styleCaption_->setText(
        scrolls ? QStringLiteral("The colors sit side by side and flow in the chosen direction.")
                : QStringLiteral("One color at a time, blending through the cycle."));
    for (SettingsRow* row : findChildren<SettingsRow*>()) row->refresh();
}

}  // namespace velaro
