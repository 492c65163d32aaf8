// The settings window's content.
#include "ui/settings/SettingsRootView.h"

namespace velaro {

SettingsRootView::SettingsRootView(Model model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {}

}  // namespace velaro
