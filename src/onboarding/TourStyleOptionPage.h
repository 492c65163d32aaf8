// The six feature pages: one page type that shows a feature's demo clip, its title and two lines, and the
// control that switches it in the settings (the Full Bar / Pill picker on the shape page, a switch on the
// others), with a warning while the master switch is off.
#pragma once

#include <QStringList>
#include <QWidget>
#include <optional>
#include <variant>

#include "base/Lifetime.h"
#include "base/MainLoop.h"
#include "base/Published.h"
#include "onboarding/OnboardingStep.h"
#include "onboarding/TourPalette.h"
#include "ui/kit/DeferredBinding.h"

namespace velaro {

class OverlaySettings;
class Permissions;
class TourVideoWell;
namespace tour {
class TourSwitch;
class TourSegmentedShape;
}  // namespace tour

class TourStyleOptionPage : public QWidget {
public:
    struct Copy {
        QString title;
        QStringList lines;
    };

    // `accessibilityGranted` is the trust as the page is made; it is read again each time the app becomes
    // active.
    TourStyleOptionPage(OverlaySettings& settings, OnboardingStep option, bool accessibilityGranted,
                        MainLoop& loop, Permissions& permissions, Stream<std::monostate> becameActive,
                        QWidget* parent = nullptr);
    ~TourStyleOptionPage() override;

    // The title and lines for the option as the settings stand.
    Copy optionCopy() const;
    std::string videoName() const;
    QPointF videoAnchor() const;
    // The switch's binding (deferred); none on the shape page and for an option outside the six.
    std::optional<Binding<bool>> toggleBinding();
    void refreshAccessibility();
    bool showsWarning() const;

    TourVideoWell& well() const { return *well_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Follows the settings: the clip, the control's state and the drawing.
    void refresh();

    OverlaySettings& settings_;
    OnboardingStep option_;
    bool accessibilityGranted_;
    MainLoop& loop_;
    Permissions& permissions_;
    TourVideoWell* well_ = nullptr;
    tour::TourSwitch* switch_ = nullptr;
    tour::TourSegmentedShape* picker_ = nullptr;
    tour::PageArtwork backdrop_{QStringLiteral("TourStyleBackdrop")};
    bool refreshQueued_ = false;
    Lifetime lifetime_;
    Subscription settingsSubscription_;
    Subscription activationSubscription_;
};

}  // namespace velaro
