// The popover's content: the header, the live status row, a card for each missing thing the app relies on
// in the session, the live preview, the "Overlay Style" group and the bottom row (master switch, "Settings…",
// "Quit"), in a fixed-width column that grows with its content up to a cap and scrolls beyond it.
#pragma once

#include <QIcon>
#include <QWidget>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "base/AnimatedValue.h"
#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "overlay/OverlayFeed.h"
#include "platform/Permissions.h"
#include "platform/Tray.h"
#include "ui/kit/DeferredBinding.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace velaro {

class AppWatcher;
class MainLoop;
class OverlaySettings;
class ScreenSampler;
class StyleOpacityControls;

namespace LivePreviewHeader {
class Preview;
class StatusRow;
}  // namespace LivePreviewHeader

class StatusPopover : public QWidget {
public:
    static constexpr int popoverWidth = 360;
    // The edge drawn around the popover, inside its width.
    static constexpr int frameWidth = 1;
    static constexpr double maxHeight = 760;
    static constexpr double initialContentHeight = 700;
    // The style controls come and go with the overlay switch over this long, easing in and out.
    static constexpr double styleRevealSeconds = 0.2;

    struct Model {
        ScreenSampler& sampler;
        OverlaySettings& settings;
        AppWatcher& appWatcher;
        Permissions& permissions;
        MainLoop& loop;
        std::function<void()> openSettings;
        std::function<void()> quit;
        // The tray icon's picture, which the header repeats.
        QIcon statusIcon = {};
    };

    explicit StatusPopover(Model model, QWidget* parent = nullptr);
    ~StatusPopover() override;

    // ---- what the view does ----
    // Asks the desktop again about what the cards stand for; a card comes or goes with the answer.
    void refreshPermissions();
    // A card's button: the help page on what is missing.
    void openHelp(Capability capability);
    void toggleMaster();

    // The column's measured height: a new value reaches `contentHeight` one loop turn later.
    void columnHeightChanged(double height);
    // The room on the screen below the panel: the popover stays within it (and within maxHeight), and the
    // column scrolls.
    void setAvailableHeight(int points);

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeCard(const char* symbol, const QColor& colour, const char* title, const char* detail,
                      const char* button, std::function<void()> action);
    // Shows the card of each missing capability, from the statuses being published.
    void applyCapabilities(const CapabilityStatuses& statuses);
    QWidget* makeStyleGroup();
    QWidget* makeBottomRow();
    void refresh();
    // The popover's height: the column's and the edge's, up to the cap and the screen's room.
    int popoverHeight() const;
    void applyHeight();
    void applyStyleReveal();

    Model model_;
    CapabilityWatch capabilities_;
    double contentHeight_ = initialContentHeight;
    double availableHeight_ = maxHeight;
    Lifetime lifetime_;

    QWidget* column_ = nullptr;
    std::vector<std::pair<Capability, QWidget*>> capabilityCards_;
    QCheckBox* overlaySwitch_ = nullptr;
    StyleOpacityControls* styleControls_ = nullptr;
    QPushButton* masterButton_ = nullptr;
    Binding<bool> overlayBinding_;
    // How much of the style controls shows: 0 hidden, 1 all of them.
    AnimatedValue<double> styleReveal_;
    CoalescedRefresh refresh_;
    Subscription watch_;
    Subscription capabilityWatch_;
};

// The popover's content as the tray hosts it. The widget lives as long as the content.
class StatusPopoverContent final : public TrayPopoverContent {
public:
    explicit StatusPopoverContent(StatusPopover::Model model)
        : view_(std::make_unique<StatusPopover>(std::move(model))) {}
    QWidget* widget() override { return view_.get(); }
    void setAvailableHeight(int points) override { view_->setAvailableHeight(points); }
    StatusPopover& view() { return *view_; }

private:
    std::unique_ptr<StatusPopover> view_;
};

}  // namespace velaro
