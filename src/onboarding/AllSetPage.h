// The tour's last page: the app now runs from the top panel (shown by a miniature of it), switches for
// starting at login and for the taskbar icon, and a card that ends the tour into the settings window.
#pragma once

#include <QWidget>
#include <functional>
#include <vector>

#include "base/Cancellable.h"
#include "base/MainLoop.h"
#include "onboarding/TourPalette.h"
#include "ui/kit/DeferredBinding.h"

namespace velaro {

class OverlaySettings;
class TourCard;
namespace tour {
class TourButton;
class TourSwitch;
}  // namespace tour

class AllSetPage : public QWidget {
public:
    AllSetPage(OverlaySettings& settings, LoginItemControl loginItem, MainLoop& loop,
               std::function<void()> openSettings, QWidget* parent = nullptr);
    ~AllSetPage() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    tour::TourSwitch* login_ = nullptr;
    tour::TourSwitch* taskbar_ = nullptr;
    tour::TourButton* viewSettings_ = nullptr;
    tour::PageArtwork backdrop_{QStringLiteral("TourAllSetBackdrop")};
    tour::PageArtwork icons_{QStringLiteral("TourAllSetIcons")};
    std::vector<Subscription> subscriptions_;
};

}  // namespace velaro
