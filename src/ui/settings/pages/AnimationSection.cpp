// The animation page.
#include "ui/settings/pages/AnimationSection.h"

#include <QVBoxLayout>

#include "settings/OverlaySettings.h"

namespace velaro {

AnimationSection::AnimationSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : OverlaySettingsPage(settings, loop, parent) {
    auto* card = new SettingsCard(this);
    auto* style = new SettingsSegmentedRow<OverlayAnimationKind>(
        QStringLiteral("Style"), deferredBinding(loop, settingBinding(settings.animationKind)),
        {{OverlayAnimationKind::rise, QStringLiteral("Rise")},
         {OverlayAnimationKind::spread, QStringLiteral("Spread")}});
    card->addRow(style);
    caption_ = new SettingsCaptionRow({});
    card->addRow(caption_);
    column()->addWidget(card);
    follow(settings.animationKind.changes());
    refresh();
}

void AnimationSection::refreshPage() {
    caption_->setText(
        settings().animationKind() == OverlayAnimationKind::spread
            ? QStringLiteral("Fill spreads out from the top center; collapses back to center on exit.")
            : QStringLiteral("Fill sweeps up on appear; disappears instantly."));
}

}  // namespace velaro
