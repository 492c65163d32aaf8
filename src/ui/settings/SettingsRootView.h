// The settings window's content. The pages fill it in; the shell builds it with everything they edit.
#pragma once

#include <QWidget>
#include <functional>

namespace velaro {

class LoginItemManager;
class OverlaySettings;
class ProfileManager;
class SettingsNavigation;

class SettingsRootView : public QWidget {
public:
    struct Model {
        std::function<void()> showWelcomeTour;
        OverlaySettings& settings;
        LoginItemManager& loginItem;
        ProfileManager& profileManager;
        SettingsNavigation& navigation;
    };

    explicit SettingsRootView(Model model, QWidget* parent = nullptr);

    const Model& model() const { return model_; }

private:
    Model model_;
};

}  // namespace velaro
