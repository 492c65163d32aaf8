// The tray through QSystemTrayIcon (an XEmbed tray or a StatusNotifierItem host), with menus and the popover
// as Qt popups placed under the panel at the icon.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSystemTrayIcon>
#include <memory>
#include <optional>

#include "platform/Tray.h"

class QWidget;

namespace velaro {

class Screens;
class QtTrayPopupWindow;

// The status icons, built once on first use and kept for the life of the process (safe from any thread): the
// installed theme icons, else those beside the executable's prefix, else a plain drawing of the same idea.
// They are masks, 18 × 18 points.
const QIcon& statusIcon(StatusIcon which);
// The same without asking the icon theme (which takes milliseconds): the app's own icon, else the drawing.
// Where the theme has no icon of its own, statusIcon() is this icon (it has the same cache key).
const QIcon& bundledStatusIcon(StatusIcon which);

// Where a popup of `size` goes under the panel: its top at `panelBottom`, its left at the anchor's left or,
// for a `centred` popup, centred on the anchor; moved sideways as far as needed to stay on `screen`.
QPoint trayPopupPosition(const QRect& anchor, const QSize& size, const QRect& screen, int panelBottom,
                         bool centred);

class QtTray final : public QObject, public Tray {
    Q_OBJECT
public:
    // `screens` (may be null, else must outlive the tray) tells where each monitor's top panel ends; without
    // it Qt's available geometry stands in, which is right for one monitor.
    explicit QtTray(const Screens* screens = nullptr);
    ~QtTray() override;

    void show(const TrayAppearance& appearance) override;
    void setAppearance(const TrayAppearance& appearance) override;
    void useDesktopIcons() override;
    Stream<TrayClick> clicks() const override { return clicks_.stream(); }
    void popUpMenu(std::vector<TrayMenuItem> items) override;
    std::unique_ptr<TrayPopover> makePopover(std::shared_ptr<TrayPopoverContent> content) override;
    QIcon iconImage(StatusIcon which) const override { return statusIcon(which); }

    // The icon's place in global Qt coordinates, read now: absent while the tray has not placed it (Qt
    // reports a stale origin then) and always on StatusNotifierItem hosts, which do not tell.
    std::optional<QRect> iconGeometry() const;
    // The icon's place, else a one-point rectangle at the pointer: what menus and popovers hang from.
    QRect anchor() const;
    // The monitor holding `point` from the bottom edge of its top panel down to its bottom or the top of a
    // bottom panel, across the monitor's whole width, in global Qt coordinates.
    QRect workArea(QPoint point) const;
    // The bottom edge of the top panel on the monitor holding `point`, in global Qt coordinates.
    int panelBottom(QPoint point) const { return workArea(point).top(); }
    QSystemTrayIcon& icon() { return icon_; }
    const TrayAppearance& appearance() const { return appearance_; }

    // Reports a click as the icon would; the popover forwards the clicks it intercepts on the icon.
    void deliverClick(Qt::MouseButton button, Qt::KeyboardModifiers modifiers);

private:
    void activated(QSystemTrayIcon::ActivationReason reason);

    const Screens* screens_;
    QSystemTrayIcon icon_;
    TrayAppearance appearance_;
    bool desktopIcons_ = false;
    PassthroughSubject<TrayClick> clicks_;
};

}  // namespace velaro
