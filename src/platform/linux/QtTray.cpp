// The tray icon, its menus and its popover on Qt.
#include "platform/linux/QtTray.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <utility>

#include "platform/Screens.h"

namespace velaro {
namespace {

constexpr int kIconPoints = 18;

// A stand-in for the status icon when no icon file can be found: a rounded band across the top of a screen
// shape, struck through when off.
QIcon drawnStatusIcon(StatusIcon which) {
    QIcon icon;
    for (const int scale : {1, 2}) {
        QPixmap pixmap(kIconPoints * scale, kIconPoints * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(1.75, 3.75, 14.5, 10.5), 2, 2);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(1.75, 3.75, 14.5, 3.5), 1.5, 1.5);
        if (which == StatusIcon::off) {
            p.setPen(QPen(Qt::white, 1.5, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(2.5, 15.5), QPointF(15.5, 2.5));
        }
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QString statusIconName(StatusIcon which) {
    return which == StatusIcon::on ? QStringLiteral("velaro-status-on") : QStringLiteral("velaro-status-off");
}

// The icon the app brings: a relocatable install (or the build tree, which mirrors the installed layout)
// keeps it in share/ beside bin/; without it, the drawing.
QIcon loadBundledStatusIcon(StatusIcon which) {
    QIcon icon;
    const QString path = QCoreApplication::applicationDirPath() +
                         QStringLiteral("/../share/icons/hicolor/scalable/status/") + statusIconName(which) +
                         QStringLiteral(".svg");
    if (QFileInfo::exists(path)) icon = QIcon(QDir::cleanPath(path));
    if (icon.isNull() || icon.pixmap(kIconPoints).isNull()) icon = drawnStatusIcon(which);
    // Like a template image: the desktop may recolour it to suit the panel.
    icon.setIsMask(true);
    return icon;
}

// The icon theme's own icon of that name, else the bundled one.
QIcon loadStatusIcon(StatusIcon which) {
    QIcon themed = QIcon::fromTheme(statusIconName(which));
    if (themed.isNull() || themed.pixmap(kIconPoints).isNull()) return bundledStatusIcon(which);
    themed.setIsMask(true);
    return themed;
}

// The desktop's icon nearest to a symbol of the design's vocabulary.
QIcon symbolIcon(const std::string& symbol) {
    static const std::pair<const char*, const char*> names[] = {
        {"eye", "view-visible"},
        {"eye.slash", "view-hidden"},
        {"gearshape", "preferences-system"},
        {"arrow.triangle.2.circlepath", "view-refresh"},
        {"power", "application-exit"},
    };
    for (const auto& [from, to] : names)
        if (symbol == from) return QIcon::fromTheme(QString::fromLatin1(to));
    return {};
}

// Qt's global coordinates are the root window's; the global points of the model are anchored at the primary
// monitor.
CoordinateSpace qtCoordinateSpace() {
    QScreen* primary = QGuiApplication::primaryScreen();
    const QRect g = primary ? primary->geometry() : QRect();
    return CoordinateSpace(Rect{double(g.x()), double(g.y()), double(g.width()), double(g.height())});
}

// One icon of each kind, made the first time it is asked for (rendering an SVG is start-up work the other
// may never need) and kept.
template <QIcon (*load)(StatusIcon)>
const QIcon& keptIcon(StatusIcon which) {
    if (which == StatusIcon::on) {
        static const QIcon on = load(StatusIcon::on);
        return on;
    }
    static const QIcon off = load(StatusIcon::off);
    return off;
}

}  // namespace

const QIcon& bundledStatusIcon(StatusIcon which) {
    return keptIcon<loadBundledStatusIcon>(which);
}

const QIcon& statusIcon(StatusIcon which) {
    return keptIcon<loadStatusIcon>(which);
}

QPoint trayPopupPosition(const QRect& anchor, const QSize& size, const QRect& screen, int panelBottom,
                         bool centred) {
    int x = centred ? anchor.center().x() - size.width() / 2 : anchor.left();
    // Right edge first, so a popup wider than the screen keeps its left edge on it.
    x = std::min(x, screen.right() + 1 - size.width());
    x = std::max(x, screen.left());
    return {x, panelBottom};
}

// The popover's window: a popup that hosts the content widget and reports, instead of obeying, what would
// close it.
class QtTrayPopupWindow final : public QWidget {
public:
    QtTrayPopupWindow(QtTray& tray, TrayPopoverContent* content)
        : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint), tray_(tray), content_(content) {
        setAttribute(Qt::WA_NoMouseReplay);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        if (content_ && content_->widget()) layout->addWidget(content_->widget());
    }

    void place() {
        const QRect anchor = tray_.anchor();
        const QRect area = tray_.workArea(anchor.center());
        // The content fits itself to the room first (which may resize the window and come back here).
        if (content_) content_->setAvailableHeight(area.height());
        adjustSize();
        move(trayPopupPosition(anchor, size(), area, area.top(), true));
    }
    void closeByRequest() {
        requested_ = true;
        close();
        requested_ = false;
    }

    PassthroughSubject<Point> dismissRequests;

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (rect().contains(event->position().toPoint())) {
            QWidget::mousePressEvent(event);
            return;
        }
        event->accept();
        const QPoint global = event->globalPosition().toPoint();
        // The popup holds the pointer grab, so a click on the icon lands here; it is still the icon's click.
        if (const auto icon = tray_.iconGeometry(); icon && icon->contains(global)) {
            tray_.deliverClick(event->button(), event->modifiers());
            return;
        }
        dismissRequests.send(globalPoint(global));
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override { mousePressEvent(event); }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            event->accept();
            dismissRequests.send(globalPoint(QCursor::pos()));
            return;
        }
        QWidget::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override {
        QWidget::closeEvent(event);
        // Qt closes popups by itself when the grab is lost; the shell must hear of it to stay in step.
        if (!requested_) dismissRequests.send(globalPoint(QCursor::pos()));
    }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        if (isVisible()) place();
    }

private:
    static Point globalPoint(QPoint p) {
        return qtCoordinateSpace().globalFromRoot(Point{double(p.x()), double(p.y())});
    }

    QtTray& tray_;
    TrayPopoverContent* content_;
    bool requested_ = false;
};

namespace {

class QtTrayPopover final : public TrayPopover {
public:
    QtTrayPopover(QtTray& tray, std::shared_ptr<TrayPopoverContent> content) : content_(std::move(content)) {
        window_ = std::make_unique<QtTrayPopupWindow>(tray, content_.get());
    }
    ~QtTrayPopover() override {
        window_->closeByRequest();
        // The content may outlive the popover: take its widget back before the window deletes it.
        if (content_ && content_->widget()) content_->widget()->setParent(nullptr);
    }

    void show() override {
        if (window_->isVisible()) return;
        window_->place();
        window_->show();
    }
    void close() override { window_->closeByRequest(); }
    bool isShown() const override { return window_->isVisible(); }
    Stream<Point> outsideClicks() const override { return window_->dismissRequests.stream(); }

private:
    std::shared_ptr<TrayPopoverContent> content_;
    std::unique_ptr<QtTrayPopupWindow> window_;
};

}  // namespace

QtTray::QtTray(const Screens* screens) : screens_(screens) {
    connect(&icon_, &QSystemTrayIcon::activated, this, &QtTray::activated);
}

QtTray::~QtTray() = default;

void QtTray::show(const TrayAppearance& appearance) {
    setAppearance(appearance);
    icon_.show();
}

void QtTray::setAppearance(const TrayAppearance& appearance) {
    appearance_ = appearance;
    icon_.setIcon(desktopIcons_ ? statusIcon(appearance.icon) : bundledStatusIcon(appearance.icon));
    icon_.setToolTip(QString::fromStdString(appearance.toolTip));
}

void QtTray::useDesktopIcons() {
    if (std::exchange(desktopIcons_, true)) return;
    const QIcon& icon = statusIcon(appearance_.icon);
    if (icon.cacheKey() != icon_.icon().cacheKey()) icon_.setIcon(icon);
}

void QtTray::activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
        // The second press of a quick double click arrives only as this; it is still a click.
        case QSystemTrayIcon::DoubleClick:
            deliverClick(Qt::LeftButton, QGuiApplication::queryKeyboardModifiers());
            break;
        case QSystemTrayIcon::Context:
            deliverClick(Qt::RightButton, QGuiApplication::queryKeyboardModifiers());
            break;
        default:
            break;
    }
}

void QtTray::deliverClick(Qt::MouseButton button, Qt::KeyboardModifiers modifiers) {
    if (button != Qt::LeftButton && button != Qt::RightButton) return;
    TrayClick click;
    click.button = button == Qt::RightButton ? TrayButton::right : TrayButton::left;
    click.control = modifiers.testFlag(Qt::ControlModifier);
    clicks_.send(click);
}

std::optional<QRect> QtTray::iconGeometry() const {
    const QRect g = icon_.geometry();
    if (g.isEmpty() || g.topLeft() == QPoint(0, 0)) return std::nullopt;
    return g;
}

QRect QtTray::anchor() const {
    if (auto g = iconGeometry()) return *g;
    return QRect(QCursor::pos(), QSize(1, 1));
}

QRect QtTray::workArea(QPoint point) const {
    QScreen* screen = QGuiApplication::screenAt(point);
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return QRect(point, QSize(1, 1));
    const QRect geometry = screen->geometry();
    const auto spanning = [](const QRect& monitor, int top, int bottom) {
        return QRect(QPoint(monitor.left(), top), QPoint(monitor.right(), std::max(top, bottom)));
    };
    if (screens_) {
        QScreen* primary = QGuiApplication::primaryScreen();
        const QRect p = primary->geometry();
        const CoordinateSpace space(
            Rect{double(p.x()), double(p.y()), double(p.width()), double(p.height())});
        for (const auto& info : screens_->screens()) {
            const Rect root = space.rootFromGlobal(info.frame);
            if (!root.contains(Point{double(point.x()), double(point.y())})) continue;
            const Rect visible = space.rootFromGlobal(info.visibleFrame);
            const QRect monitor(int(root.x()), int(root.y()), int(root.width()), int(root.height()));
            return spanning(monitor, int(visible.y()), int(visible.maxY()) - 1);
        }
    }
    // Qt's available geometry is the union's work area, right for one monitor.
    const QRect available = screen->availableGeometry();
    return spanning(geometry, std::max(geometry.top(), available.top()),
                    std::min(geometry.bottom(), available.bottom()));
}

void QtTray::popUpMenu(std::vector<TrayMenuItem> items) {
    auto* menu = new QMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (auto& item : items) {
        if (item.separator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(symbolIcon(item.symbol), QString::fromStdString(item.title));
        action->setEnabled(item.enabled);
        if (!item.toolTip.empty()) {
            action->setToolTip(QString::fromStdString(item.toolTip));
            menu->setToolTipsVisible(true);
        }
        // Queued, so the action runs after the menu has closed and released its grab.
        connect(
            action, &QAction::triggered, this,
            [action = std::move(item.action)] {
                if (action) action();
            },
            Qt::QueuedConnection);
    }
    const QRect anchor = this->anchor();
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(anchor.topLeft(), menu->sizeHint());
    menu->popup(trayPopupPosition(anchor, menu->sizeHint(), area, panelBottom(anchor.center()), false));
}

std::unique_ptr<TrayPopover> QtTray::makePopover(std::shared_ptr<TrayPopoverContent> content) {
    return std::make_unique<QtTrayPopover>(*this, std::move(content));
}

}  // namespace velaro
