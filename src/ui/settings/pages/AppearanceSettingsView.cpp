// The Appearance page's stack of sections.
#include "ui/settings/pages/AppearanceSettingsView.h"

#include <QVBoxLayout>

#include "settings/OverlaySettings.h"
#include "ui/settings/pages/BackgroundBlurSection.h"
#include "ui/settings/pages/HueDriftSection.h"
#include "ui/settings/pages/OverlayCornersSection.h"
#include "ui/settings/pages/OverlayStyleSection.h"

namespace velaro {

AppearanceSettingsView::AppearanceSettingsView(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : OverlaySettingsPage(settings, loop, parent), overlayOn_(loop, new QWidget(this)) {
    auto* style = new OverlayStyleSection(settings, loop, this);
    style->setHueDriftSection(new HueDriftSection(settings, loop));
    column()->addWidget(style);
    QWidget* lower = overlayOn_.block();
    auto* stack = new QVBoxLayout(lower);
    stack->setContentsMargins(0, sectionSpacing, 0, 0);
    stack->setSpacing(sectionSpacing);
    auto* blur = new BackgroundBlurSection(settings, loop, lower);
    stack->addWidget(blur);
    auto* corners = new OverlayCornersSection(settings, loop, overlayCornerModeOptions(), lower);
    stack->addWidget(corners);
    column()->addWidget(lower);
    follow(settings.objectWillChange());
    refresh();
}

void AppearanceSettingsView::refreshPage() {
    overlayOn_.setShown(settings().overlayEnabled());
}

}  // namespace velaro
