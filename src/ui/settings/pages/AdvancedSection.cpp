// The advanced page.
#include "ui/settings/pages/AdvancedSection.h"

#include "sampling/ScreenTopology.h"
#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"
#include "ui/settings/kit/GlobalOnlyGroup.h"
#include "ui/settings/kit/ValueText.h"
#include "ui/settings/pages/GeneralSwitches.h"

namespace velaro {
namespace {

SettingsToggleRow* deferredToggle(OverlaySettings& settings, MainLoop& loop, const QString& title,
                                  Setting<bool>& setting, QWidget* accessory = nullptr) {
    return new SettingsToggleRow(title, deferredBinding(loop, settingBinding(setting)), {}, accessory);
}

using RangedRow = settings_keys::Entry<double, Bounds>;

// A slider bound straight to its setting, stepping by whole units, with its value text.
SettingsSliderRow* wholeSlider(MainLoop& loop, const QString& title, Setting<double>& setting,
                               const RangedRow& row, std::function<QString(double)> text) {
    return new SettingsSliderRow(
        loop, title, settingBinding(setting), row,
        SettingsSliderRow::Options::showing([&setting, text] { return text(setting()); }, 1.0));
}

QString pixels(double v) {
    return truncatedText(v, lengthUnit);
}

}  // namespace

NotchProbe mainScreenNotchProbe(ScreenTopology* topology) {
    return [topology] {
        if (!topology || topology->screens().empty()) return false;
        return notchRect(topology->screens().front()).has_value();
    };
}

// ---- renderer ----

AdvancedRendererControl::AdvancedRendererControl(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : SettingsRow(parent), settings_(settings) {
    auto* card = new SettingsCard;
    separate_ = deferredToggle(settings, loop, QStringLiteral("Separate corner windows (advanced)"),
                               settings.manualSeparateCorners);
    caption_ = new SettingsCaptionRow({});
    card->addRow(separate_);
    card->addRow(caption_);
    addRows(this, {card});
    refresh();
}

void AdvancedRendererControl::refresh() {
    const bool pill = settings_.corners().shapeMode == ShapeMode::pill;
    separate_->setEnabled(!pill);
    if (pill)
        caption_->setText(
            QStringLiteral("Paused while Pill shape is on — Pill uses the unified renderer. Set Top "
                           "Panel Shape to Full Bar to use separate corner windows."));
    else if (settings_.blurEnabled())
        caption_->setText(
            QStringLiteral("Background Blur is on, so separate windows are used automatically. Off + "
                           "no blur uses the unified single-window renderer."));
    else
        caption_->setText(
            QStringLiteral("On = legacy separate corner windows. Off = unified single-window renderer (no "
                           "ordering/flicker)."));
}

// ---- strokes ----

AdvancedStrokeControls::AdvancedStrokeControls(OverlaySettings& settings, MainLoop& loop, NotchProbe hasNotch,
                                               QWidget* parent)
    : SettingsRow(parent),
      settings_(settings),
      hasNotch_(std::move(hasNotch)),
      strokeRows_(loop, new QWidget(this)),
      notchRows_(loop, new QWidget(this)) {
    // Overlay stroke.
    auto* strokeCard = new SettingsCard;
    auto* stroke = deferredToggle(settings, loop, QStringLiteral("Add overlay stroke"),
                                  settings.strokeEnabled, new SettingsBetaBadge);
    strokeCard->addRow(stroke);
    strokeCard->addRow(
        new SettingsCaptionRow(QStringLiteral("Hairline border matching the system window stroke")));
    auto* curve = wholeSlider(loop, QStringLiteral("Curve Radius"), settings.strokeCurveRadius,
                              settings_keys::strokeCurveRadius, pixels);
    auto* fade = wholeSlider(loop, QStringLiteral("Stroke Fade"), settings.strokeFadeLength,
                             settings_keys::strokeFadeLength,
                             [](double v) { return v == 0 ? QStringLiteral("Off") : pixels(v); });
    notchFade_ =
        deferredToggle(settings, loop, QStringLiteral("Stroke notch fade"), settings.strokeNotchFadeEnabled);
    notchFadeDistance_ = rowStack(
        nullptr, {wholeSlider(loop, QStringLiteral("Fade Distance"), settings.strokeNotchFadeDistance,
                              settings_keys::strokeNotchFadeDistance, pixels),
                  new SettingsCaptionRow(QStringLiteral("Top hairline dissolves around the notch"))});
    addRows(strokeRows_.block(),
            {new SettingsHairline, curve,
             new SettingsCaptionRow(QStringLiteral("Match your display's corner rounding")), fade,
             new SettingsCaptionRow(QStringLiteral("Fades stroke ends into the window's own border")),
             new SettingsHairline, notchFade_, notchFadeDistance_});
    strokeCard->addRow(strokeRows_.block());

    // Notch stroke.
    auto* notchCard = new SettingsCard;
    notchStroke_ =
        deferredToggle(settings, loop, QStringLiteral("Notch stroke"), settings.notchStrokeEnabled);
    notchCard->addRow(notchStroke_);
    noNotch_ = new SettingsCaptionRow(QStringLiteral("No notch detected"));
    notchCard->addRow(noNotch_);
    const struct {
        const char* title;
        Setting<double>& setting;
        const RangedRow& row;
        bool signedText;
    } notchSliders[] = {
        {"Top Curves", settings.notchStrokeTopRadius, settings_keys::notchStrokeTopRadius, false},
        {"Bottom Curves", settings.notchStrokeBottomRadius, settings_keys::notchStrokeBottomRadius, false},
        {"Height", settings.notchStrokeHeight, settings_keys::notchStrokeHeight, true},
        {"Position", settings.notchStrokeXOffset, settings_keys::notchStrokeXOffset, true},
        {"Width", settings.notchStrokeWidthAdjust, settings_keys::notchStrokeWidthAdjust, true},
    };
    for (const auto& s : notchSliders) {
        addRows(notchRows_.block(),
                {new SettingsHairline, wholeSlider(loop, QString::fromUtf8(s.title), s.setting, s.row,
                                                   s.signedText ? signedPointsText : pixels)});
    }
    notchCard->addRow(notchRows_.block());

    addRows(this, {new SettingsSectionHeader(QStringLiteral("Overlay Stroke")), strokeCard,
                   new SettingsSectionHeader(QStringLiteral("Notch Stroke")), notchCard});
    refresh();
}

void AdvancedStrokeControls::refresh() {
    const bool notch = hasNotch_ && hasNotch_();
    strokeRows_.setShown(settings_.strokeEnabled());
    notchFade_->setEnabled(notch);
    notchFadeDistance_->setVisible(notch && settings_.strokeNotchFadeEnabled());
    notchStroke_->setEnabled(notch);
    noNotch_->setVisible(!notch);
    notchRows_.setShown(notch && settings_.notchStrokeEnabled());
}

// ---- notch fade ----

OverlayNotchFadeControl::OverlayNotchFadeControl(OverlaySettings& settings, MainLoop& loop,
                                                 NotchProbe hasNotch, QWidget* parent)
    : SettingsRow(parent),
      settings_(settings),
      hasNotch_(std::move(hasNotch)),
      distance_(loop, new QWidget(this)) {
    auto* card = new SettingsCard;
    fade_ = deferredToggle(settings, loop, QStringLiteral("Overlay notch fade"), settings.notchFadeEnabled);
    card->addRow(fade_);
    addRows(distance_.block(), {new SettingsHairline,
                                wholeSlider(loop, QStringLiteral("Fade Distance"), settings.notchFadeDistance,
                                            settings_keys::notchFadeDistance, pixels)});
    card->addRow(distance_.block());
    addRows(this, {new SettingsSectionHeader(QStringLiteral("Notch Fade")), card});
    refresh();
}

void OverlayNotchFadeControl::refresh() {
    const bool notch = hasNotch_ && hasNotch_();
    fade_->setEnabled(notch);
    distance_.setShown(notch && settings_.notchFadeEnabled());
}

// ---- page ----

AdvancedSection::AdvancedSection(OverlaySettings& settings, ProfileManager& profileManager, MainLoop& loop,
                                 NotchProbe hasNotch, QWidget* parent)
    : ProfiledSettingsPage(settings, profileManager, loop, parent) {
    auto* renderer = new AdvancedRendererControl(settings, loop);
    auto* stroke = new AdvancedStrokeControls(settings, loop, hasNotch);
    auto* notchFade = new OverlayNotchFadeControl(settings, loop, hasNotch);
    gate_ = new SettingsOverlayGate(rowStack(nullptr, {stroke, notchFade}), true);

    auto* smoothCard = new SettingsCard;
    auto* smooth = deferredToggle(settings, loop, QStringLiteral("Smooth colors"), settings.smoothColors);
    smoothCard->addRow(smooth);
    smoothCard->addRow(new SettingsCaptionRow(QStringLiteral(
        "Blends sampled color changes over time to reduce flicker. Off keeps the raw, instant sample.")));

    auto* maximiseButton = new MaximiseFillToggle(settings, loop);
    windowControls_ = new GlobalOnlyGroup(QStringLiteral("Window Controls"), maximiseButton);
    addRows(this, {renderer, gate_, new SettingsSectionHeader(QStringLiteral("Color Smoothing")), smoothCard,
                   windowControls_});

    follow(settings.objectWillChange());
    follow(profileManager.selectedScope.changes());
    refresh();
}

void AdvancedSection::refreshPage() {
    gate_->setOverlayEnabled(settings().overlayEnabled());
    windowControls_->setEditingApp(!profileManager().selectedScope().isGlobal());
}

}  // namespace velaro
