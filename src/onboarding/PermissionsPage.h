// The tour's second page: a card for each thing the app relies on in the session (the X11 session, a
// compositing manager, a media player, a sound server), with what it gives and a "Running" badge while the
// desktop has it, or what its absence costs and a button to the help page on how to get it.
#pragma once

#include <QStringList>
#include <QWidget>
#include <vector>

#include "base/Cancellable.h"
#include "base/MainLoop.h"
#include "onboarding/TourCard.h"
#include "onboarding/TourPalette.h"
#include "platform/Permissions.h"

namespace velaro {

class TourPermissionModel;

class PermissionsPage : public QWidget {
public:
    // What a row says of its capability.
    struct RowCopy {
        Capability capability;
        QString title;
        // What it gives while it is there (and while the desktop has not answered yet).
        QStringList present;
        // What its absence costs, and how to get it.
        QStringList missing;
    };
    static const std::vector<RowCopy>& rows();
    static constexpr const char* runningBadge = "Running";
    static constexpr const char* helpButton = "Open Help";

    // The page holds the model started while it exists, so the model polls exactly while the page shows.
    PermissionsPage(TourPermissionModel& permissions, MainLoop& loop, QWidget* parent = nullptr);
    ~PermissionsPage() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Derives every row from the statuses being published.
    void updateRows(const CapabilityStatuses& statuses);

    TourPermissionModel& permissions_;
    std::vector<TourCard*> cards_;
    Subscription subscription_;
    tour::PageArtwork backdrop_{QStringLiteral("TourPermissionsBackdrop")};
    tour::PageArtwork icons_{QStringLiteral("TourPermissionsIcons")};
};

}  // namespace velaro
