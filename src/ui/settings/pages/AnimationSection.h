// The Animation page: how the overlay reveals itself.
#pragma once

#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class AnimationSection : public OverlaySettingsPage {
public:
    AnimationSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    SettingsChoiceRow* styleRow() const { return style_; }
    QString captionText() const { return caption_->text(); }

protected:
    void refreshPage() override;

private:
    SettingsChoiceRow* style_;
    SettingsCaptionRow* caption_;
};

}  // namespace velaro
