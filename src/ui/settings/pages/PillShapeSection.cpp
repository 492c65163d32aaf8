// The menu-bar shape page.
#include "ui/settings/pages/PillShapeSection.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <cmath>
#include <optional>

#include "settings/OverlaySettings.h"
#include "ui/settings/kit/ValueText.h"

namespace velaro {
namespace {

// One pill slider: its title, the field, default, step, whether it shows a fraction in percent, and why this
// desktop never acts on it (none for a slider that works here). Its track spans what the corner record
// bounds the field to, in percent for a fraction.
struct PillSlider {
    const char* title;
    double CornerSettings::*field;
    double defaultValue;
    double step;
    bool percent = false;
    const char* unavailableWhy = nullptr;

    SliderRange range() const {
        const Bounds bounds = *cornerBoundsOf(field);
        const double scale = percent ? 100 : 1;
        return {bounds.lo * scale, bounds.hi * scale};
    }
};

const PillSlider kShapeSliders[] = {
    {"Corner radius", &CornerSettings::pillCornerRadius, 14, 0.5},
    {"Vertical inset", &CornerSettings::pillVerticalInset, 6, 0.5},
    {"Horizontal padding", &CornerSettings::pillHPadding, 2, 0.5},
    {"Border width", &CornerSettings::pillStrokeWidth, 0.5, 0.5},
    {"Border opacity", &CornerSettings::pillStrokeOpacity, 20, 1, true},
    {"Glass fill", &CornerSettings::pillFillOpacity, 10, 1, true},
};
const PillSlider kPositionSliders[] = {
    // The left pill would wrap the front app's menus, which are never measured here: a global-menu registrar
    // hands out the menus, not where the panel drew them.
    {"Left offset", &CornerSettings::pillLeftHOffset, 0, 1, false, PillShapeSection::noLeftPill},
    // The right pill is the tray's, wherever the panel puts the tray.
    {"Tray offset", &CornerSettings::pillRightHOffset, -10, 1},
    {"Vertical offset", &CornerSettings::pillVerticalOffset, 0, 0.5},
};

// Lengths: whole values as "14px" and "-10px", others with one decimal ("0.5px").
QString pillPointsText(double points) {
    if (std::isfinite(points) && points == std::trunc(points)) return truncatedText(points, lengthUnit);
    return QString::asprintf("%.1f", points) + lengthUnit;
}

SettingsSliderRow* pillSliderRow(OverlaySettings& settings, MainLoop& loop, const PillSlider& s) {
    const bool percent = s.percent;
    const double scale = percent ? 100 : 1;
    const auto field = s.field;
    return new SettingsSliderRow(loop, QString::fromUtf8(s.title),
                                 {[&settings, field, scale] { return settings.corners().*field * scale; },
                                  [&settings, field, scale](double value) {
                                      CornerSettings corners = settings.corners();
                                      corners.*field = value / scale;
                                      settings.corners = corners;
                                  }},
                                 s.range(), s.defaultValue,
                                 SettingsSliderRow::Options::showing(
                                     [&settings, field, percent] {
                                         const double stored = settings.corners().*field;
                                         return percent ? roundedPercentText(stored) : pillPointsText(stored);
                                     },
                                     s.step));
}

}  // namespace

PillShapeSection::PillShapeSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : OverlaySettingsPage(settings, loop, parent),
      fullBar_(loop, new QWidget(this)),
      pill_(loop, new QWidget(this)) {
    // Mode card.
    auto* modeCard = new SettingsCard(this);
    auto* intro = new SettingsCaptionRow(QStringLiteral(
        "Wrap the top panel's tray icons and clock in a floating pill, or keep the classic full bar. The "
        "pill follows the tray as icons come and go, wherever the panel puts it; the rest of the panel "
        "stays bare."));
    modeCard->addRow(intro);
    auto* mode = new SettingsSegmentedRow<ShapeMode>(
        QStringLiteral("Mode"),
        deferredBinding<ShapeMode>(loop, {[&settings] { return settings.corners().shapeMode; },
                                          [&settings](ShapeMode mode) {
                                              CornerSettings corners = settings.corners();
                                              corners.shapeMode = mode;
                                              settings.corners = corners;
                                          }}),
        {{ShapeMode::fullBar, QStringLiteral("Full Bar")}, {ShapeMode::pill, QStringLiteral("Pill")}});
    modeCard->addRow(mode);
    pillCaptions_ = rowStack(
        nullptr,
        {new SettingsCaptionRow(QStringLiteral("The pill wraps the panel's tray and clock, wherever they sit.")),
         new SettingsCaptionRow(QStringLiteral(
             "Pill uses the unified renderer, so Separate corner windows is paused while it's on. Its "
             "setting is kept and returns in Full Bar."))});
    modeCard->addRow(pillCaptions_);
    column()->addWidget(modeCard);

    // Full bar.
    auto* depth = new SettingsSliderRow(
        loop, QStringLiteral("Depth"), settingBinding(settings.overlayExtraDepth),
        settings_keys::overlayExtraDepth,
        SettingsSliderRow::Options::showing(
            [&settings] {
                const double depth = settings.overlayExtraDepth();
                return depth == 0 ? QStringLiteral("Default") : truncatedText(depth, lengthUnit);
            },
            1.0));
    auto* seamCover = new SettingsSliderRow(
        loop, QStringLiteral("Seam Cover"), settingBinding(settings.seamCoverDepth),
        settings_keys::seamCoverDepth,
        SettingsSliderRow::Options::showing(
            [&settings] {
                const double cover = settings.seamCoverDepth();
                return cover == 0 ? QStringLiteral("Off") : truncatedText(cover, lengthUnit);
            },
            1.0));
    auto* autoHide = new SettingsToggleRow(QStringLiteral("Auto-hide under popups"),
                                           settingBinding(settings.seamAutoHide));
    auto* fullBarCard = new SettingsCard;
    fullBarCard->addRow(depth);
    fullBarCard->addHairline();
    fullBarCard->addRow(seamCover);
    fullBarCard->addRow(
        new SettingsCaptionRow(QStringLiteral("Covers the top-edge line of the window below the bar.")));
    fullBarCard->addHairline();
    fullBarCard->addRow(autoHide);
    fullBarCard->addRow(new SettingsCaptionRow(QStringLiteral(
        "On: the cover briefly retracts while menus and popups are open, keeping the glass "
        "clean. Off: the cover stays put — its tint draws at the panel's top edge and can bleed into "
        "the glass.")));
    addRows(fullBar_.block(), {new SettingsSectionHeader(QStringLiteral("Full Bar")), fullBarCard});
    column()->addWidget(fullBar_.block());

    // Pill.
    auto* shapeCard = new SettingsCard;
    for (const PillSlider& s : kShapeSliders) {
        if (&s != kShapeSliders) shapeCard->addHairline();
        shapeCard->addRow(pillSliderRow(settings, loop, s));
    }
    auto* positionCard = new SettingsCard;
    for (const PillSlider& s : kPositionSliders) {
        if (&s != kPositionSliders) positionCard->addHairline();
        QWidget* row = pillSliderRow(settings, loop, s);
        positionCard->addRow(s.unavailableWhy ? unavailableHereRow(row, QString::fromUtf8(s.unavailableWhy))
                                              : row);
    }
    positionCard->addHairline();
    auto* separateSides = new SettingsToggleRow(
        QStringLiteral("Pill around the tray and clock"),
        deferredBinding<bool>(loop, {[&settings] { return settings.corners().pillSeparateSides; },
                                     [&settings](bool on) {
                                         CornerSettings corners = settings.corners();
                                         corners.pillSeparateSides = on;
                                         settings.corners = corners;
                                     }}));
    positionCard->addRow(separateSides);
    // Without the tray's pill there is nothing to cut the band to: it covers the panel as in Full Bar.
    positionCard->addRow(
        new SettingsCaptionRow(QStringLiteral("Off = no pill: the band covers the whole top panel.")));
    positionCard->addHairline();
    auto* restoreRow = new QWidget;
    auto* restoreLayout = new QHBoxLayout(restoreRow);
    restoreLayout->setContentsMargins(0, 10, 0, 10);
    restoreLayout->addStretch(1);
    auto* restore = new QPushButton(QStringLiteral("Restore Defaults"), restoreRow);
    QObject::connect(restore, &QPushButton::clicked, this, [this] { restoreDefaults(); });
    restoreLayout->addWidget(restore);
    positionCard->addRow(restoreRow);
    addRows(pill_.block(), {new SettingsSectionHeader(QStringLiteral("Pill Shape")), shapeCard,
                            new SettingsSectionHeader(QStringLiteral("Position")), positionCard});
    column()->addWidget(pill_.block());

    follow(settings.objectWillChange());
    refresh();
}

void PillShapeSection::restoreDefaults() {
    OverlaySettings& s = settings();
    loop().post([&s] {
        const CornerSettings defaults;
        // Each field its own write, as the sliders would make them.
        const auto restore = [&s](auto CornerSettings::*field, auto value) {
            CornerSettings corners = s.corners();
            corners.*field = value;
            s.corners = corners;
        };
        restore(&CornerSettings::pillCornerRadius, defaults.pillCornerRadius);
        restore(&CornerSettings::pillVerticalInset, defaults.pillVerticalInset);
        restore(&CornerSettings::pillHPadding, defaults.pillHPadding);
        restore(&CornerSettings::pillStrokeWidth, defaults.pillStrokeWidth);
        restore(&CornerSettings::pillStrokeOpacity, defaults.pillStrokeOpacity);
        restore(&CornerSettings::pillFillOpacity, defaults.pillFillOpacity);
        restore(&CornerSettings::pillSeparateSides, defaults.pillSeparateSides);
        restore(&CornerSettings::pillLeftHOffset, defaults.pillLeftHOffset);
        restore(&CornerSettings::pillRightHOffset, defaults.pillRightHOffset);
        restore(&CornerSettings::pillVerticalOffset, defaults.pillVerticalOffset);
    });
}

void PillShapeSection::refreshPage() {
    const bool pill = settings().corners().shapeMode == ShapeMode::pill;
    pillCaptions_->setVisible(pill);
    fullBar_.setShown(!pill);
    pill_.setShown(pill);
}

}  // namespace velaro
