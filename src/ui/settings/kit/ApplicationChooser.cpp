// The application chooser: the installed apps by name and icon, a search field that narrows them, Enter or a
// double-click to choose.
#include "ui/settings/kit/ApplicationChooser.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QDialogButtonBox>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>
#include <map>

#include "base/NameOrder.h"
#include "base/Published.h"
#include "platform/AppCatalog.h"
#include "ui/settings/kit/AppListPieces.h"
#include "ui/settings/kit/SettingsStyle.h"

namespace velaro {

namespace {

constexpr int kIconSide = 24;
constexpr int kRowPadding = 4;
constexpr int kRowInset = 8;

enum Role {
    appIdRole = Qt::UserRole,
    nameRole,    // the name as the catalog gives it
    listedRole,  // the caller lists the app already
    iconRole,    // the app's icon as a QImage, null while it has none
};

// How well an app matches what was typed, best first; an app that does not match has none.
enum class MatchRank { sameName, nameStart, wordStart, anywhere };

std::optional<MatchRank> matchRank(const QString& name, const QString& appId, const QString& typed) {
    if (name.compare(typed, Qt::CaseInsensitive) == 0) return MatchRank::sameName;
    if (name.startsWith(typed, Qt::CaseInsensitive)) return MatchRank::nameStart;
    // A word starts after anything that is not a letter or a digit ("Text Editor", "GNU-Emacs").
    for (qsizetype i = 1; i < name.size(); ++i)
        if (!name[i - 1].isLetterOrNumber() && name[i].isLetterOrNumber() &&
            QStringView(name).sliced(i).startsWith(typed, Qt::CaseInsensitive))
            return MatchRank::wordStart;
    if (name.contains(typed, Qt::CaseInsensitive) || appId.contains(typed, Qt::CaseInsensitive))
        return MatchRank::anywhere;
    return std::nullopt;
}

}  // namespace

// The installed apps in name order. Icons are read when a row is first painted, so that opening the chooser
// reads only the icons of the rows it shows.
class InstalledAppsModel final : public QAbstractListModel {
public:
    InstalledAppsModel(const AppCatalog& catalog, std::set<std::string> listed, QObject* parent)
        : QAbstractListModel(parent), catalog_(catalog), listed_(std::move(listed)) {
        load();
        // Apps installed or removed while the chooser is open come and go from it.
        changes_ = catalog_.changed().sink([this](int) {
            beginResetModel();
            load();
            endResetModel();
        });
    }

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : int(apps_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= int(apps_.size())) return {};
        const InstalledApp& app = apps_[std::size_t(index.row())];
        switch (role) {
            case Qt::DisplayRole:
                return oneLineName(QString::fromStdString(app.name));
            case Qt::ToolTipRole:
                return QString::fromStdString(app.appId);
            case appIdRole:
                return QString::fromStdString(app.appId);
            case nameRole:
                return QString::fromStdString(app.name);
            case listedRole:
                return listed_.count(app.appId) > 0;
            case iconRole: {
                auto it = icons_.find(app.url);
                if (it == icons_.end()) it = icons_.emplace(app.url, catalog_.iconForFile(app.url)).first;
                return it->second;
            }
            default:
                return {};
        }
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid()) return Qt::NoItemFlags;
        // An app the caller lists already shows, marked, but cannot be chosen again.
        if (data(index, listedRole).toBool()) return Qt::ItemNeverHasChildren;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    }

    const InstalledApp& app(int row) const { return apps_[std::size_t(row)]; }

private:
    void load() {
        apps_ = catalog_.installedApplications();
        sortByName(apps_, [](const InstalledApp& app) -> const std::string& { return app.name; });
        icons_.clear();
    }

    const AppCatalog& catalog_;
    std::set<std::string> listed_;
    std::vector<InstalledApp> apps_;
    mutable std::map<std::string, QImage> icons_;  // by location
    Subscription changes_;
};

// The apps the search leaves, best match first: the name that is the typed text, names that start with it,
// names with a word that starts with it, then names or app ids holding it anywhere; in name order within
// each, which is the order of the installed apps' model. Without a search, every app in name order.
class AppMatches final : public QSortFilterProxyModel {
public:
    explicit AppMatches(QObject* parent) : QSortFilterProxyModel(parent) { sort(0); }

    void setSearch(const QString& typed) {
        if (typed == typed_) return;
        typed_ = typed;
        invalidate();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        return rank(sourceModel()->index(row, 0, parent)).has_value();
    }

    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override {
        const auto a = rank(left), b = rank(right);
        if (a != b) return a < b;
        return left.row() < right.row();
    }

private:
    std::optional<MatchRank> rank(const QModelIndex& source) const {
        if (typed_.isEmpty()) return MatchRank::sameName;
        return matchRank(source.data(nameRole).toString(), source.data(appIdRole).toString(), typed_);
    }

    QString typed_;
};

namespace {

// A row: the app's icon, its name on one line cut at the tail, and "Added" at the trailing edge of an app the
// caller lists already, which reads dimmed.
class InstalledAppDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {0, std::max(kIconSide, option.fontMetrics.height()) + 2 * kRowPadding};
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        // The style draws the row's highlight and focus; the content is the app list's own.
        QStyleOptionViewItem panel = option;
        initStyleOption(&panel, index);
        panel.text.clear();
        panel.icon = QIcon();
        panel.features &= ~(QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration);
        const QWidget* widget = option.widget;
        (widget ? widget->style() : QApplication::style())
            ->drawControl(QStyle::CE_ItemViewItem, &panel, p, widget);

        const bool listed = index.data(listedRole).toBool();
        const bool selected = option.state & QStyle::State_Selected;
        const QRect content = option.rect.adjusted(kRowInset, 0, -kRowInset, 0);
        const QRectF icon(content.left(), content.top() + (content.height() - kIconSide) / 2, kIconSide,
                          kIconSide);
        p->save();
        if (listed) p->setOpacity(0.5);
        paintAppIcon(*p, icon, index.data(iconRole).value<QImage>(), "app.dashed", option.palette);
        p->restore();

        p->save();
        p->setFont(option.font);
        int right = content.right() + 1;
        if (listed) {
            const QString marker = QString::fromUtf8(ApplicationChooserDialog::listedText);
            const int width = option.fontMetrics.horizontalAdvance(marker);
            p->setPen(SettingsStyle::secondaryText(option.palette));
            p->drawText(QRect(right - width, content.top(), width, content.height()),
                        Qt::AlignVCenter | Qt::AlignRight | Qt::TextSingleLine, marker);
            right -= width + kRowInset;
        }
        const QRect nameArea(QPoint(int(icon.right()) + kRowInset, content.top()),
                             QPoint(right - 1, content.bottom()));
        const QPalette::ColorGroup group = listed ? QPalette::Disabled : QPalette::Active;
        p->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        p->drawText(nameArea, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                    elidedLine(index.data(Qt::DisplayRole).toString(), option.font, nameArea.width()));
        p->restore();
    }
};

bool isChoosable(const QModelIndex& index) {
    return index.isValid() && (index.flags() & Qt::ItemIsEnabled);
}

}  // namespace

ApplicationChooserDialog::ApplicationChooserDialog(const AppCatalog& catalog, std::set<std::string> listed,
                                                   QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Choose an Application"));
    apps_ = new InstalledAppsModel(catalog, std::move(listed), this);
    shown_ = new AppMatches(this);
    shown_->setSourceModel(apps_);

    auto* column = new QVBoxLayout(this);
    search_ = new QLineEdit(this);
    search_->setPlaceholderText(QStringLiteral("Search"));
    search_->setAccessibleName(QStringLiteral("Search applications"));
    search_->setClearButtonEnabled(true);
    // The arrow keys move through the list while the typing stays in the field.
    search_->installEventFilter(this);
    column->addWidget(search_);

    list_ = new QListView(this);
    list_->setModel(shown_);
    list_->setItemDelegate(new InstalledAppDelegate(list_));
    list_->setUniformItemSizes(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setAccessibleName(QStringLiteral("Applications"));
    // The keyboard stays in the search field, so that typing always narrows the list.
    list_->setFocusPolicy(Qt::NoFocus);
    column->addWidget(list_, 1);

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton* add = buttons_->addButton(QString::fromUtf8(addText), QDialogButtonBox::AcceptRole);
    add->setDefault(true);
    column->addWidget(buttons_);

    QObject::connect(buttons_, &QDialogButtonBox::accepted, this, [this] { chooseCurrent(); });
    QObject::connect(buttons_, &QDialogButtonBox::rejected, this, [this] { reject(); });
    QObject::connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        shown_->setSearch(text.trimmed());
        // The best match is the top one: Enter adds it.
        selectFirst();
    });
    QObject::connect(list_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!isChoosable(index)) return;
        list_->setCurrentIndex(index);
        chooseCurrent();
    });
    QObject::connect(list_->selectionModel(), &QItemSelectionModel::currentChanged, this,
                     [this] { showAddable(); });
    // The catalog changed under the open chooser: the app that was current stays so while it is listed.
    auto kept = std::make_shared<std::optional<std::string>>();
    QObject::connect(shown_, &QAbstractItemModel::modelAboutToBeReset, this,
                     [this, kept] { *kept = currentAppId(); });
    QObject::connect(shown_, &QAbstractItemModel::modelReset, this, [this, kept] {
        for (int row = 0; *kept && row < shown_->rowCount(); ++row)
            if (shown_->index(row, 0).data(appIdRole).toString().toStdString() == **kept) {
                list_->setCurrentIndex(shown_->index(row, 0));
                return;
            }
        selectFirst();
    });

    selectFirst();
    search_->setFocus();
    resize(400, 460);
}

ApplicationChooserDialog::~ApplicationChooserDialog() = default;

std::vector<std::string> ApplicationChooserDialog::shownAppIds() const {
    std::vector<std::string> ids;
    for (int row = 0; row < shown_->rowCount(); ++row)
        ids.push_back(shown_->index(row, 0).data(appIdRole).toString().toStdString());
    return ids;
}

std::optional<std::string> ApplicationChooserDialog::currentAppId() const {
    const QModelIndex current = list_->currentIndex();
    if (!isChoosable(current)) return std::nullopt;
    return current.data(appIdRole).toString().toStdString();
}

void ApplicationChooserDialog::selectFirst() {
    for (int row = 0; row < shown_->rowCount(); ++row)
        if (const QModelIndex index = shown_->index(row, 0); isChoosable(index)) {
            list_->setCurrentIndex(index);
            list_->scrollTo(index);
            showAddable();
            return;
        }
    list_->setCurrentIndex({});
    showAddable();
}

void ApplicationChooserDialog::showAddable() {
    for (QAbstractButton* button : buttons_->buttons())
        if (buttons_->buttonRole(button) == QDialogButtonBox::AcceptRole)
            button->setEnabled(isChoosable(list_->currentIndex()));
}

void ApplicationChooserDialog::chooseCurrent() {
    const QModelIndex current = list_->currentIndex();
    if (!isChoosable(current)) return;
    chosen_ = apps_->app(shown_->mapToSource(current).row()).url;
    accept();
}

bool ApplicationChooserDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == search_ && event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
                QApplication::sendEvent(list_, event);
                return true;
            default:
                break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

ApplicationChooser standardApplicationChooser(const AppCatalog& catalog) {
    return [&catalog](QWidget* over, const std::set<std::string>& listed) -> std::optional<std::string> {
        const QPointer<QWidget> window = over ? over->window() : QApplication::activeWindow();
        const QPointer<ApplicationChooserDialog> dialog =
            new ApplicationChooserDialog(catalog, listed, window);
        dialog->exec();
        std::optional<std::string> chosen;
        // Whatever the modal run did to the windows, the dialog may have gone with its parent.
        if (dialog) {
            chosen = dialog->chosen();
            delete dialog.data();
        }
        // The window manager may give the focus to any window once the dialog is gone; the window the choice
        // was made for keeps it.
        if (window && window->isVisible()) {
            window->raise();
            window->activateWindow();
        }
        return chosen;
    };
}

}  // namespace velaro
