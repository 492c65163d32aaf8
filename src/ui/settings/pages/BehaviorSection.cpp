// The behaviour page.
#include "ui/settings/pages/BehaviorSection.h"

#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"
#include "ui/settings/kit/GlobalOnlyGroup.h"
#include "ui/settings/kit/StyleOpacityControls.h"

namespace velaro {

PauseOnHoverToggle::PauseOnHoverToggle(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : SettingsToggleRow(QStringLiteral("Pause sampling while pointer is in the top panel"),
                        deferredBinding(loop, settingBinding(settings.pauseOnMenuBarHover)),
                        QStringLiteral("Prevents opening menus from tinting the overlay"), nullptr, parent) {}

BehaviorSection::BehaviorSection(OverlaySettings& settings, ProfileManager& profileManager, MainLoop& loop,
                                 QWidget* parent)
    : ProfiledSettingsPage(settings, profileManager, loop, parent) {
    auto* layerCard = new SettingsCard(this);
    auto* layer = new SettingsSegmentedRow<LayerPosition>(
        QStringLiteral("Layer"), deferredBinding(loop, settingBinding(settings.layerPosition)),
        {{LayerPosition::aboveWindows, QStringLiteral("Above Windows")},
         {LayerPosition::behindWindows, QStringLiteral("Behind Windows")}});
    layerCard->addRow(layer);
    behindCaption_ =
        new SettingsCaptionRow(QStringLiteral("Overlay renders behind app windows instead of on top"));
    layerCard->addRow(behindCaption_);

    auto* alwaysOnCard = new SettingsCard;
    auto* alwaysOn = new AlwaysOnControls(settings, loop);
    alwaysOnCard->addRow(alwaysOn);

    auto* pause = new PauseOnHoverToggle(settings, loop);
    sampling_ = new GlobalOnlyGroup(QStringLiteral("Sampling"), pause);
    addRows(this,
            {layerCard, new SettingsSectionHeader(QStringLiteral("Always On")), alwaysOnCard, sampling_});

    follow(settings.objectWillChange());
    follow(profileManager.selectedScope.changes());
    refresh();
}

void BehaviorSection::refreshPage() {
    behindCaption_->setVisible(settings().layerPosition() == LayerPosition::behindWindows);
    sampling_->setEditingApp(!profileManager().selectedScope().isGlobal());
}

}  // namespace velaro
