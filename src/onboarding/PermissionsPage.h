// The tour's second page: a card for each permission the app uses, with a button that asks for it, the
// "Permission Granted" badge once the desktop reports it, or nothing for the one that is only explained.
#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <vector>

#include "base/Cancellable.h"
#include "base/MainLoop.h"
#include "onboarding/TourCard.h"
#include "onboarding/TourPalette.h"

namespace velaro {

class TourPermissionModel;

class PermissionsPage : public QWidget {
public:
    // The page holds the model started while it exists, so the model polls exactly while the page shows.
    PermissionsPage(TourPermissionModel& permissions, MainLoop& loop, QWidget* parent = nullptr);
    ~PermissionsPage() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Derives every row from the model's flags; `capture` and `trusted` are the values being published.
    void updateRows(bool capture, bool asked, bool trusted);

    TourPermissionModel& permissions_;
    std::vector<TourCard*> rows_;
    std::vector<Subscription> subscriptions_;
    tour::PageArtwork backdrop_{QStringLiteral("TourPermissionsBackdrop")};
    tour::PageArtwork icons_{QStringLiteral("TourPermissionsIcons")};
};

}  // namespace velaro
