// The settings window with its header row.
#include "ui/settings/SettingsWindow.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

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
    toggle_->setAccessibleName(QStringLiteral("Menu bar overlay"));
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
    // Only the height can change.
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
    profileSelector_ =
        new ProfileSelectorView(profileManager, loop, std::move(onOverridesChanged), std::move(selector), strip);
    header->addWidget(profileSelector_);
    header->addStretch(1);
    masterSwitch_ = new TitlebarMasterSwitch(settings, loop, strip);
    header->addWidget(masterSwitch_);
    column->addWidget(strip);
    if (root) {
        root->setParent(this);
        column->addWidget(root, 1);
    } else {
        column->addStretch(1);
    }
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
