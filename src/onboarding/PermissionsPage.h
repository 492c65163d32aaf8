// The tour's second page: a card for each permission the app uses, with a button that asks for it, the
// "Permission Granted" badge once the desktop reports it, or nothing for the one that is only explained.
#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <vector>

#include "base/Cancellable.h"
#include "base/MainLoop.h"
#include "onboarding/TourPalette.h"

namespace velaro {

class TourPermissionModel;
namespace tour {
class TourButton;
}

// One permission's card, 286.5 × 67.5 points.
class TourPermissionRow : public QWidget {
public:
    enum class State { grantable, granted, informational };
    static constexpr QSizeF size{286.5, 67.5};

    TourPermissionRow(MainLoop& loop, QString title, QStringList detail, QPointF offset, QWidget* parent);
    // What shows beside the title; a grantable row's button carries `label` and runs `action`.
    void setState(State state, const QString& label = {}, std::function<void()> action = {});
    State state() const { return state_; }
    // The grant button while the row has one.
    tour::TourButton* button() const { return state_ == State::grantable ? button_ : nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void layoutControl();

    QString title_;
    QStringList detail_;
    QPointF origin_;
    QPointF frameOrigin_;
    State state_ = State::informational;
    QString label_;
    std::function<void()> action_;
    tour::TourButton* button_;
};

class PermissionsPage : public QWidget {
public:
    // The page holds the model started while it exists, so the model polls exactly while the page shows.
    PermissionsPage(TourPermissionModel& permissions, MainLoop& loop, QWidget* parent = nullptr);
    ~PermissionsPage() override;

    TourPermissionRow& screenRecordingRow() const { return *rows_[0]; }
    TourPermissionRow& accessibilityRow() const { return *rows_[1]; }
    TourPermissionRow& systemAudioRow() const { return *rows_[2]; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Derives every row from the model's flags; `capture` and `trusted` are the values being published.
    void updateRows(bool capture, bool asked, bool trusted);

    TourPermissionModel& permissions_;
    std::vector<TourPermissionRow*> rows_;
    std::vector<Subscription> subscriptions_;
    tour::PageArtwork backdrop_{QStringLiteral("TourPermissionsBackdrop")};
    tour::PageArtwork icons_{QStringLiteral("TourPermissionsIcons")};
};

}  // namespace velaro
