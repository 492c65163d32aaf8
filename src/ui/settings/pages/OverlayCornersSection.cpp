// The overlay corners section.
#include "ui/settings/pages/OverlayCornersSection.h"

#include <QVBoxLayout>

#include "settings/OverlaySettings.h"
#include "ui/settings/kit/ValueText.h"
#include "ui/settings/rings/CornerMutators.h"

namespace velaro {
namespace {

TopColorMode ownTopMode(const CornerSettings& c, ScreenCorner corner) {
    return corner == ScreenCorner::topLeft ? c.topLeftColorMode : c.topRightColorMode;
}

const std::string& ownTopHex(const CornerSettings& c, ScreenCorner corner) {
    return corner == ScreenCorner::topLeft ? c.topLeftCustomColorHex : c.topRightCustomColorHex;
}

SettingsSliderRow* makeRadiusRow(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner,
                                 const QString& title) {
    return new SettingsSliderRow(
        loop, title,
        {[&settings, corner] { return storedRadius(settings.corners(), corner); },
         [&settings, &loop, corner](double radius) { deferSetCornerRadius(settings, loop, corner, radius); }},
        {cornerRadiusBounds.lo, cornerRadiusBounds.hi}, 28.0,
        SettingsSliderRow::Options::showing(
            [&settings, corner] { return roundedText(storedRadius(settings.corners(), corner), lengthUnit); },
            1.0));
}

}  // namespace

const SettingsOptions<TopColorMode>& overlayCornerModeOptions() {
    static const SettingsOptions<TopColorMode> options{
        {TopColorMode::followOverlay, QStringLiteral("Follow overlay")},
        {TopColorMode::black, QStringLiteral("Black")},
        {TopColorMode::custom, QStringLiteral("Custom")}};
    return options;
}

SettingsSliderRow* cornerOpacityRow(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner,
                                    const QString& title) {
    const auto shown = [&settings, corner] {
        return settings.corners().opacity(corner, settings.overlayOpacity());
    };
    return new SettingsSliderRow(
        loop, title,
        {shown, [&settings, &loop,
                 corner](double opacity) { deferSetCornerOpacity(settings, loop, corner, opacity); }},
        {cornerOpacityBounds.lo, cornerOpacityBounds.hi}, 1.0,
        SettingsSliderRow::Options::showing([shown] { return roundedPercentText(shown()); }));
}

// ---- colour block ----

CornerColorBlock::CornerColorBlock(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner,
                                   const QString& title, const SettingsOptions<TopColorMode>& modeOptions,
                                   QWidget* parent)
    : SettingsRow(parent), settings_(settings), corner_(corner) {
    auto* mode = new SettingsPickerRow<TopColorMode>(
        title,
        {[&settings, corner] { return ownTopMode(settings.corners(), corner); },
         [&settings, &loop, corner](TopColorMode mode) {
             deferSetTopCornerColorMode(settings, loop, corner, mode);
         }},
        modeOptions);
    // A custom colour that does not parse shows black; nothing is written until the user picks one.
    custom_ = new SettingsColorWellRow(
        QStringLiteral("Custom color"),
        {[&settings, corner] {
             return colorFromHex(ownTopHex(settings.corners(), corner)).value_or(Color::black());
         },
         [&settings, &loop, corner](Color picked) {
             deferSetCornerCustomHex(settings, loop, corner, hexString(picked));
         }},
        false, title + QStringLiteral(" custom color"));
    addRows(this, {mode, custom_});
    refresh();
}

void CornerColorBlock::refresh() {
    custom_->setVisible(ownTopMode(settings_.corners(), corner_) == TopColorMode::custom);
}

// ---- section ----

OverlayCornersSection::OverlayCornersSection(OverlaySettings& settings, MainLoop& loop,
                                             SettingsOptions<TopColorMode> modeOptions, QWidget* parent)
    : SettingsRow(parent),
      settings_(settings),
      linkedRows_(loop, new QWidget(this)),
      unlinkedRows_(loop, new QWidget(this)) {
    auto* card = new SettingsCard;
    addRows(this, {new SettingsSectionHeader(QStringLiteral("Overlay Corners")), card});

    const auto enabledBinding = [&](ScreenCorner corner) -> Binding<bool> {
        return {[&settings, corner] {
                    const CornerSettings& c = settings.corners();
                    return corner == ScreenCorner::topLeft ? c.topLeftEnabled : c.topRightEnabled;
                },
                [&settings, &loop, corner](bool on) { deferSetCornerEnabled(settings, loop, corner, on); }};
    };
    auto* left = new SettingsToggleRow(QStringLiteral("Left corner"), enabledBinding(ScreenCorner::topLeft));
    auto* right =
        new SettingsToggleRow(QStringLiteral("Right corner"), enabledBinding(ScreenCorner::topRight));
    auto* link = new SettingsToggleRow(
        QStringLiteral("Link left & right"),
        {[&settings] { return settings.corners().topLinked; },
         [&settings, &loop](bool on) { deferSetRowLinked(settings, loop, CornerRow::top, on); }},
        QStringLiteral("Linked corners share on/off, radius, color, and opacity"));
    auto* follow = new SettingsToggleRow(
        QStringLiteral("Follow Top Panel opacity"),
        {[&settings] { return settings.corners().topFollowsOverlayOpacity; },
         [&settings, &loop](bool on) { deferSetTopFollowsOverlayOpacity(settings, loop, on); }});

    // With the row linked, the left corner's controls edit the shared values.
    auto* linkedRadius = makeRadiusRow(settings, loop, ScreenCorner::topLeft, QStringLiteral("Radius"));
    auto* linkedColor =
        new CornerColorBlock(settings, loop, ScreenCorner::topLeft, QStringLiteral("Color"), modeOptions);
    addRows(linkedRows_.block(), {linkedRadius, linkedColor});
    auto* leftRadius = makeRadiusRow(settings, loop, ScreenCorner::topLeft, QStringLiteral("Left radius"));
    auto* leftColor = new CornerColorBlock(settings, loop, ScreenCorner::topLeft,
                                           QStringLiteral("Left color"), modeOptions);
    auto* rightRadius = makeRadiusRow(settings, loop, ScreenCorner::topRight, QStringLiteral("Right radius"));
    auto* rightColor = new CornerColorBlock(settings, loop, ScreenCorner::topRight,
                                            QStringLiteral("Right color"), modeOptions);
    addRows(unlinkedRows_.block(), {leftRadius, leftColor, new SettingsHairline, rightRadius, rightColor});

    auto* linkedOpacityRow =
        cornerOpacityRow(settings, loop, ScreenCorner::topLeft, QStringLiteral("Opacity"));
    auto* leftOpacity =
        cornerOpacityRow(settings, loop, ScreenCorner::topLeft, QStringLiteral("Left opacity"));
    auto* rightOpacity =
        cornerOpacityRow(settings, loop, ScreenCorner::topRight, QStringLiteral("Right opacity"));
    linkedOpacity_ = rowStack(nullptr, {linkedOpacityRow});
    unlinkedOpacity_ = rowStack(nullptr, {leftOpacity, new SettingsHairline, rightOpacity});
    opacityGroup_ = rowStack(nullptr, {linkedOpacity_, unlinkedOpacity_});

    pillCaption_ = new SettingsCaptionRow(QStringLiteral(
        "Pill shape masks the overlay into capsules, so these corners aren't drawn while it's on. "
        "Your settings are kept and return in Full Bar."));
    card->addRow(left);
    card->addRow(right);
    card->addHairline();
    card->addRow(link);
    card->addHairline();
    card->addRow(linkedRows_.block());
    card->addRow(unlinkedRows_.block());
    card->addHairline();
    card->addRow(follow);
    card->addHairline();
    card->addRow(opacityGroup_);
    card->addRow(new SettingsCaptionRow(QStringLiteral(
        "These corners round the top panel overlay's bottom edge — they are part of the overlay and "
        "hide and return with it. To round your screen's own corners, use Corner Rounding.")));
    card->addRow(pillCaption_);
    refresh();
}

void OverlayCornersSection::refresh() {
    const CornerSettings& c = settings_.corners();
    linkedRows_.setShown(c.topLinked);
    unlinkedRows_.setShown(!c.topLinked);
    linkedOpacity_->setVisible(c.topLinked);
    unlinkedOpacity_->setVisible(!c.topLinked);
    opacityGroup_->setEnabled(!c.topFollowsOverlayOpacity);
    pillCaption_->setVisible(c.shapeMode == ShapeMode::pill);
}

}  // namespace velaro
