// The settings window with its header row.
#include "ui/settings/SettingsWindow.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <utility>

#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"
#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

// ---- master switch ----

TitlebarMasterSwitch::TitlebarMasterSwitch(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : QWidget(parent), settings_(settings), refresh_(loop, [this] { refresh(); }) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(11, 5, 11, 5);
    row->setSpacing(6);
    label_ = new QLabel(this);
    QFont font = label_->font();
    font.setPixelSize(12);
    font.setWeight(QFont::Medium);
    label_->setFont(font);
    row->addWidget(label_);
    toggle_ = new QCheckBox(this);
    toggle_->setAccessibleName(QStringLiteral("Top panel overlay"));
    QObject::connect(toggle_, &QCheckBox::toggled, this, [this](bool on) { settings_.masterEnabled = on; });
    row->addWidget(toggle_);
    // However the switch changes (menu, hot key, popover), the text follows.
    watch_ = settings_.masterEnabled.changes().sink([this](bool) { refresh_.schedule(); });
    refresh();
}

QString TitlebarMasterSwitch::text() const {
    return label_->text();
}

void TitlebarMasterSwitch::refresh() {
    const bool on = settings_.masterEnabled();
    label_->setText(on ? QStringLiteral("Enabled") : QStringLiteral("Disabled"));
    const QSignalBlocker quiet(toggle_);
    toggle_->setChecked(on);
}

// ---- window ----

SettingsWindow::SettingsWindow(OverlaySettings& settings, ProfileManager& profileManager, MainLoop& loop,
                               QWidget* root, std::function<void()> onOverridesChanged,
                               ProfileSelectorServices selector, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Velaro Settings"));
    // The pages are laid out for this width: only the height changes.
    setMinimumSize(windowWidth, minimumHeight);
    setMaximumWidth(windowWidth);
    resize(windowWidth, initialHeight);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    // The header row stands where the title bar's accessories would: on the bar colour, above a hairline.
    auto* strip = new SettingsTopStripBackdrop(this);
    auto* header = new QHBoxLayout(strip);
    header->setContentsMargins(8, 6, 8, 7);
    auto* profileSelector = new ProfileSelectorView(profileManager, loop, std::move(onOverridesChanged),
                                                    std::move(selector), strip);
    header->addWidget(profileSelector);
    header->addStretch(1);
    auto* masterSwitch = new TitlebarMasterSwitch(settings, loop, strip);
    header->addWidget(masterSwitch);
    column->addWidget(strip);
    if (root) {
        root->setParent(this);
        column->addWidget(root, 1);
    } else {
        column->addStretch(1);
    }
}

void SettingsWindow::placeInside(const QRect& area) {
    // Window managers' title bars run under 30 pixels; the rest of a frame is a pixel or two.
    const qreal ratio = devicePixelRatioF() > 0 ? devicePixelRatioF() : 1;
    const int titleBar = int(std::ceil(30 / ratio));
    placeInside(area, QMargins(1, titleBar, 1, 1));
    placedIn_ = area;
}

void SettingsWindow::placeInside(const QRect& area, const QMargins& frame) {
    const QSize room = area.size().shrunkBy(frame).expandedTo(QSize(0, 0));
    // A screen smaller than the least size gets a window as large as it, which it may shrink no further; a
    // narrower one also fixes the width at the screen's.
    setMinimumSize(QSize(windowWidth, minimumHeight).boundedTo(room));
    setMaximumWidth(std::min(windowWidth, room.width()));
    resize(QSize(windowWidth, initialHeight).boundedTo(room));
    QRect outer(QPoint(0, 0), size().grownBy(frame));
    outer.moveCenter(area.center());
    outer.moveTopLeft(QPoint(std::max(outer.left(), area.left()), std::max(outer.top(), area.top())));
    move(outer.topLeft());
}

void SettingsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The window's frame is known once the window manager has framed it, which it has by the time the
    // window is first exposed.
    if (placedIn_ && windowHandle()) windowHandle()->installEventFilter(this);
}

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::Expose && placedIn_ &&
        windowHandle()->isExposed()) {
        windowHandle()->removeEventFilter(this);
        const QRect area = *std::exchange(placedIn_, std::nullopt);
        const QRect outer = frameGeometry();
        const QRect inner = geometry();
        if (!area.contains(outer))
            placeInside(area, QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                                       outer.right() - inner.right(), outer.bottom() - inner.bottom()));
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsWindow::hideEvent(QHideEvent* event) {
    // A spontaneous hide is the window manager's (minimising, another desktop): the window stays open.
    if (!event->spontaneous() && onWillClose) onWillClose();
    QWidget::hideEvent(event);
}

bool SettingsWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && onDidBecomeKey) onDidBecomeKey();
    return QWidget::event(event);
}

}  // namespace velaro
