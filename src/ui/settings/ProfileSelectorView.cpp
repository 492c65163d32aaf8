// The profile selector: the scope button, its popover of scope rows and the add row, and the alerts.
#include "ui/settings/ProfileSelectorView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/AppCatalog.h"
#include "ui/settings/kit/AppListPieces.h"
#include "ui/settings/kit/SettingsKit.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SymbolButton.h"
#include "ui/settings/kit/SymbolIcon.h"

namespace velaro {

namespace {

constexpr const char* kGlobalName = "Global Settings";

QLabel* symbolLabel(const std::string& symbol, int glyph, int frame, const QColor& colour, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFixedSize(frame, frame);
    label->setAlignment(Qt::AlignCenter);
    label->setPixmap(symbolPixmap(symbol, glyph, colour, parent->devicePixelRatioF()));
    return label;
}

// A row's layout: 12 points left and right, 5 above and below, 8 between its parts.
QHBoxLayout* rowLayout(QWidget* row) {
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(12, 5, 12, 5);
    layout->setSpacing(8);
    return layout;
}

// The highlight under the pointer, as a menu shows it, and the focus ring of the row the keyboard is on.
void paintRowHighlight(QAbstractButton& row) {
    const QRectF area = QRectF(row.rect()).adjusted(4, 0, -4, 0);
    QPainter p(&row);
    p.setRenderHint(QPainter::Antialiasing);
    if (row.isEnabled() && (row.underMouse() || row.isDown())) {
        QPainterPath shape;
        shape.addRoundedRect(area, 5, 5);
        p.fillPath(shape, SettingsStyle::primary(row.palette(), 0.08));
    }
    if (row.hasFocus()) SettingsStyle::paintFocusRing(p, area, 5, row.palette());
}

// The number of overrides on a capsule. A label, so the count is read as text like every other.
class CountBadge final : public QLabel {
public:
    CountBadge(std::size_t count, QWidget* parent) : QLabel(QString::number(count), parent) {
        setObjectName(QStringLiteral("overrideCount"));
        setFont(SettingsStyle::systemFont(10, QFont::Medium));
        setFixedSize(sizeHint());
    }
    QSize sizeHint() const override {
        return {fontMetrics().horizontalAdvance(text()) + 10, fontMetrics().height() + 2};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath capsule;
        capsule.addRoundedRect(QRectF(rect()), height() / 2.0, height() / 2.0);
        p.fillPath(capsule, SettingsStyle::primary(palette(), 0.1));
        p.setPen(SettingsStyle::secondaryText(palette()));
        p.drawText(rect(), Qt::AlignCenter, text());
    }
};

QWidget* insetDivider(QWidget* parent) {
    auto* holder = new QWidget(parent);
    holder->setObjectName(QStringLiteral("divider"));
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(8, 4, 8, 4);
    auto* line = new QWidget(holder);
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, SettingsStyle::primary(palette, 0.12));
    line->setPalette(palette);
    row->addWidget(line);
    return holder;
}

}  // namespace

// ---- services ----

ProfileSelectorServices ProfileSelectorServices::standard(const AppCatalog* catalog) {
    ProfileSelectorServices services;
    services.catalog = catalog;
    if (catalog) services.chooseApplication = standardApplicationChooser(*catalog);
    services.alert = [](const ProfileAlert& alert) {
        QMessageBox box(QApplication::activeWindow());
        box.setIcon(alert.style == ProfileAlert::Style::warning ? QMessageBox::Warning
                                                                : QMessageBox::Information);
        box.setText(alert.message);
        box.setInformativeText(alert.informativeText);
        if (alert.confirmButton.isEmpty()) {
            box.addButton(QMessageBox::Ok);
            box.exec();
            return true;
        }
        QPushButton* confirm = box.addButton(alert.confirmButton, QMessageBox::DestructiveRole);
        box.addButton(QMessageBox::Cancel);
        box.exec();
        return box.clickedButton() == confirm;
    };
    return services;
}

// ---- rows ----

ProfileScopeRow::ProfileScopeRow(const ProfileManager::AppProfile* profile, bool selected, const QImage& icon,
                                 QWidget* parent)
    : QAbstractButton(parent), checked_(selected) {
    setAttribute(Qt::WA_Hover);
    QHBoxLayout* layout = rowLayout(this);
    auto* appIcon = new AppIconView(18, this, profile ? "app.dashed" : "globe");
    appIcon->setIcon(icon);
    layout->addWidget(appIcon);
    name_ = new ElidedLabel(
        profile ? QString::fromStdString(profile->displayName) : QString::fromUtf8(kGlobalName), this);
    layout->addWidget(name_, 1);
    if (profile) {
        // A profile's row goes by its app's identifier.
        setObjectName(QString::fromStdString(profile->appId));
        if (!profile->overrides.empty()) layout->addWidget(new CountBadge(profile->overrides.size(), this));
    }
    // The checkmark's place stays free in profile rows, so names end at the same point.
    if (selected)
        layout->addWidget(symbolLabel("checkmark", 11, 16, palette().color(QPalette::WindowText), this));
    else if (profile)
        layout->addSpacing(16);
    if (profile) {
        remove_ = new SymbolButton("xmark.circle.fill", 16, QStringLiteral("Remove profile"), this, true);
        remove_->setInk(SettingsStyle::secondaryText(palette()));
        layout->addWidget(remove_);
    }
    setAccessibleName(name());
}

QString ProfileScopeRow::name() const {
    return name_->text();
}

void ProfileScopeRow::paintEvent(QPaintEvent*) {
    paintRowHighlight(*this);
}

void ProfileScopeRow::addContextEntry(QString title, std::function<void()> action) {
    contextEntries_.emplace_back(std::move(title), std::move(action));
}

void ProfileScopeRow::contextMenuEvent(QContextMenuEvent* event) {
    if (contextEntries_.empty()) return;
    // The popover may rebuild its rows while the menu is open: the menu and the entries are local copies,
    // and nothing of the row is touched once it closes.
    const auto entries = contextEntries_;
    QMenu menu;
    for (const auto& entry : entries) menu.addAction(entry.first);
    const QAction* picked = menu.exec(event->globalPos());
    if (!picked) return;
    const auto actions = menu.actions();
    const auto index = std::size_t(actions.indexOf(const_cast<QAction*>(picked)));
    if (index < entries.size()) entries[index].second();
}

ProfileAddRow::ProfileAddRow(bool atLimit, QWidget* parent) : QAbstractButton(parent) {
    setAttribute(Qt::WA_Hover);
    QHBoxLayout* layout = rowLayout(this);
    layout->addWidget(symbolLabel("plus", 12, 18, palette().color(QPalette::WindowText), this));
    layout->addWidget(new QLabel(QStringLiteral("Add App…"), this));
    auto* limit = new QLabel(this);
    limit->setFont(SettingsStyle::systemFont(11));
    setTextColour(limit, SettingsStyle::tertiaryText(palette()));
    if (atLimit) limit->setText(QStringLiteral("(max %1)").arg(ProfileManager::maxProfiles));
    limit->setVisible(atLimit);
    layout->addWidget(limit);
    layout->addStretch(1);
    setEnabled(!atLimit);
    applyDisabledDim(this, 0.45);
    setToolTip(atLimit ? QStringLiteral("Profile limit reached — remove one to add another.")
                       : QStringLiteral("Add an app profile"));
    setAccessibleName(QStringLiteral("Add App…"));
}

void ProfileAddRow::paintEvent(QPaintEvent*) {
    paintRowHighlight(*this);
}

// ---- popover and button ----

// The popover's window: a pop-up that closes on a click elsewhere, which also collapses the selector.
class ProfileSelectorView::Popover final : public QWidget {
public:
    explicit Popover(ProfileSelectorView& owner)
        : QWidget(&owner, Qt::Popup | Qt::FramelessWindowHint), owner_(owner) {
        // The click that closes it must not reach the scope button, which would open it again.
        setAttribute(Qt::WA_NoMouseReplay);
        setFixedWidth(popoverWidth);
    }

protected:
    void hideEvent(QHideEvent* event) override {
        owner_.expanded_ = false;
        QWidget::hideEvent(event);
    }
    // The keyboard walks the rows as it walks a menu's items: the arrows move, Return and Space choose,
    // Escape closes.
    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
            case Qt::Key_Up:
            case Qt::Key_Down:
                owner_.moveRowFocus(event->key() == Qt::Key_Down ? 1 : -1);
                return;
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Space:
                if (auto* row = qobject_cast<QAbstractButton*>(focusWidget()); row && row->isEnabled()) {
                    row->click();
                    return;
                }
                break;
            case Qt::Key_Escape:
                owner_.setExpanded(false);
                return;
            default:
                break;
        }
        QWidget::keyPressEvent(event);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::Window));
        p.setPen(SettingsStyle::primary(palette(), 0.2));
        p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }

private:
    ProfileSelectorView& owner_;
};

// The button that names the scope: its icon, its name and a chevron.
class ProfileSelectorView::ScopeButton final : public QAbstractButton {
public:
    explicit ScopeButton(QWidget* parent) : QAbstractButton(parent) {
        setAttribute(Qt::WA_Hover);
        setFocusPolicy(Qt::TabFocus);
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(6, 5, 6, 5);
        layout->setSpacing(6);
        icon_ = new AppIconView(15, this, "globe");
        layout->addWidget(icon_);
        name_ = new ElidedLabel(QString(), this);
        name_->setFont(SettingsStyle::systemFont(13, QFont::Medium));
        layout->addWidget(name_, 1);
        layout->addWidget(symbolLabel("chevron.down", 9, 10, SettingsStyle::secondaryText(palette()), this));
        setAccessibleName(QStringLiteral("Settings scope"));
    }

    void showScope(const QString& name, bool global, const QImage& icon) {
        name_->setText(name);
        setAccessibleDescription(name);
        icon_->setIcon(global ? QImage() : icon);
        // The global scope's globe, or the app's icon with the dashed placeholder when it has none.
        icon_->setPlaceholder(global ? "globe" : "app.dashed");
    }

protected:
    void paintEvent(QPaintEvent*) override { paintRowHighlight(*this); }

private:
    AppIconView* icon_;
    ElidedLabel* name_;
};

// ---- selector ----

ProfileSelectorView::ProfileSelectorView(ProfileManager& profileManager, MainLoop& loop,
                                         std::function<void()> onOverridesChanged,
                                         ProfileSelectorServices services, QWidget* parent)
    : QWidget(parent),
      profileManager_(profileManager),
      onOverridesChanged_(std::move(onOverridesChanged)),
      services_(std::move(services)),
      refresh_(loop, [this] { refresh(); }) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    button_ = new ScopeButton(this);
    button_->setMaximumWidth(320);
    row->addWidget(button_);
    row->addStretch(1);
    QObject::connect(button_, &QAbstractButton::clicked, this, [this] { setExpanded(!expanded_); });

    popover_ = new Popover(*this);
    popoverColumn_ = new QVBoxLayout(popover_);
    popoverColumn_->setContentsMargins(0, 6, 0, 6);
    popoverColumn_->setSpacing(0);

    scopeWatch_ = profileManager_.selectedScope.changes().sink([this](const auto&) { refresh_.schedule(); });
    profilesWatch_ = profileManager_.profiles().changes().sink([this](const auto&) { refresh_.schedule(); });
    refresh();
}

ProfileSelectorView::~ProfileSelectorView() = default;

QString ProfileSelectorView::scopeName() const {
    const auto& scope = profileManager_.selectedScope();
    if (scope.isGlobal()) return QString::fromUtf8(kGlobalName);
    for (const auto& profile : profileManager_.profiles().value())
        if (profile.appId == *scope.appId()) return QString::fromStdString(profile.displayName);
    return QString::fromStdString(*scope.appId());
}

void ProfileSelectorView::setExpanded(bool expanded) {
    if (expanded == expanded_) return;
    expanded_ = expanded;
    if (!expanded) {
        popover_->hide();
        return;
    }
    rebuildPopover();
    popover_->adjustSize();
    popover_->move(button_->mapToGlobal(QPoint(0, button_->height() + 2)));
    popover_->show();
    focusChosenRow();
}

void ProfileSelectorView::focusChosenRow() {
    for (ProfileScopeRow* row : rows_)
        if (row->showsCheckmark()) {
            row->setFocus(Qt::PopupFocusReason);
            return;
        }
}

void ProfileSelectorView::moveRowFocus(int step) {
    std::vector<QAbstractButton*> rows(rows_.begin(), rows_.end());
    if (addRow_) rows.push_back(addRow_);
    const auto at = std::find(rows.begin(), rows.end(), popover_->focusWidget());
    const int count = int(rows.size());
    int index = at == rows.end() ? (step > 0 ? -1 : count) : int(at - rows.begin());
    // Past a disabled row (the add row at the limit), and no further than the ends.
    for (index += step; index >= 0 && index < count; index += step)
        if (rows[std::size_t(index)]->isEnabled()) {
            rows[std::size_t(index)]->setFocus(Qt::TabFocusReason);
            return;
        }
}

QImage ProfileSelectorView::iconFor(const std::string& appId) {
    if (auto it = icons_.find(appId); it != icons_.end()) return it->second;
    QImage icon;
    if (services_.catalog) {
        if (auto url = services_.catalog->urlForApplication(appId))
            icon = services_.catalog->iconForFile(*url);
    }
    icons_[appId] = icon;
    return icon;
}

void ProfileSelectorView::refresh() {
    const auto& scope = profileManager_.selectedScope();
    button_->showScope(scopeName(), scope.isGlobal(), scope.isGlobal() ? QImage() : iconFor(*scope.appId()));
    rebuildPopover();
}

void ProfileSelectorView::rebuildPopover() {
    while (QLayoutItem* item = popoverColumn_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    rows_.clear();

    const auto& scope = profileManager_.selectedScope();
    const auto& profiles = profileManager_.profiles().value();
    auto* global = new ProfileScopeRow(nullptr, scope.isGlobal(), QImage(), popover_);
    QObject::connect(global, &QAbstractButton::clicked, this, [this] { choose(ProfileScope::global()); });
    popoverColumn_->addWidget(global);
    rows_.push_back(global);
    popoverColumn_->addWidget(insetDivider(popover_));
    for (const auto& profile : profiles) {
        const std::string id = profile.appId;
        auto* row = new ProfileScopeRow(&profile, scope.appId() == id, iconFor(id), popover_);
        QObject::connect(row, &QAbstractButton::clicked, this, [this, id] { choose(ProfileScope::app(id)); });
        QObject::connect(row->removeButton(), &QAbstractButton::clicked, this,
                         [this, id] { removeProfile(id); });
        if (!profile.overrides.empty())
            row->addContextEntry(QStringLiteral("Reset All Overrides…"), [this, id] { resetOverrides(id); });
        row->addContextEntry(QStringLiteral("Remove Profile"), [this, id] { removeProfile(id); });
        popoverColumn_->addWidget(row);
        rows_.push_back(row);
    }
    if (!profiles.empty()) popoverColumn_->addWidget(insetDivider(popover_));
    addRow_ = new ProfileAddRow(profiles.size() >= profileLimit, popover_);
    QObject::connect(addRow_, &QAbstractButton::clicked, this, [this] { addApp(); });
    popoverColumn_->addWidget(addRow_);
    if (popover_->isVisible()) {
        popover_->adjustSize();
        // The rows the keyboard was on are gone: it goes back to the chosen one.
        focusChosenRow();
    }
}

void ProfileSelectorView::choose(const ProfileScope& scope) {
    profileManager_.selectedScope = scope;
    setExpanded(false);
}

void ProfileSelectorView::addApp() {
    setExpanded(false);
    if (!services_.chooseApplication || !services_.catalog) return;
    const auto url = services_.chooseApplication(this, {});
    if (!url) return;
    const auto bundle = services_.catalog->openApp(*url);
    // Not an application, or one without an identifier: nothing to add and nothing to say.
    if (!bundle || bundle->appId.empty()) return;
    const std::string& id = bundle->appId;
    if (!profileManager_.hasProfile(id) && profileManager_.profiles().value().size() >= profileLimit) {
        if (services_.alert)
            services_.alert(
                ProfileAlert{ProfileAlert::Style::informational, QStringLiteral("Profile limit reached"),
                             QStringLiteral("You can keep up to %1 app profiles. Remove one to add another.")
                                 .arg(profileLimit),
                             QString()});
        return;
    }
    profileManager_.addProfile(id, applicationDisplayName(*services_.catalog, *url));
    profileManager_.selectedScope = ProfileScope::app(id);
}

void ProfileSelectorView::resetOverrides(const std::string& appId) {
    setExpanded(false);
    QString name = QString::fromStdString(appId);
    std::size_t count = 0;
    for (const auto& profile : profileManager_.profiles().value())
        if (profile.appId == appId) {
            name = QString::fromStdString(profile.displayName);
            count = profile.overrides.size();
            break;
        }
    const ProfileAlert confirmation{
        ProfileAlert::Style::warning, QStringLiteral("Reset all overrides for %1?").arg(name),
        QStringLiteral(
            "%1 customized setting(s) will return to Global values. The profile itself will be kept.")
            .arg(count),
        QStringLiteral("Reset")};
    if (!services_.alert || !services_.alert(confirmation)) return;
    profileManager_.resetAllOverrides(appId);
    if (onOverridesChanged_) onOverridesChanged_();
}

void ProfileSelectorView::removeProfile(const std::string& appId) {
    // At once and without a confirmation; the popover stays open.
    profileManager_.removeProfile(appId);
}

}  // namespace velaro
