// The Excluded Apps page: the list box, its rows and the plus and minus bar.
#include "ui/settings/pages/ExcludedAppsSection.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "base/MainLoop.h"
#include "ui/settings/kit/AppListPieces.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/kit/SymbolButton.h"

namespace velaro {

namespace {

constexpr double kBoxRadius = 6;

QColor boxBorder(const QPalette& palette) {
    return SettingsStyle::primary(palette, 0.15);
}

// The box's border, laid over everything the box holds so that no row or bar covers it.
class BoxBorder final : public QWidget {
public:
    explicit BoxBorder(QWidget* box) : QWidget(box) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        box->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize) {
            setGeometry(parentWidget()->rect());
            raise();
        }
        return false;
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(boxBorder(palette()), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kBoxRadius - 0.5, kBoxRadius - 0.5);
    }
};

// The box around the list: the text background, clipped to a rounded rectangle with a separator-coloured
// border drawn inside its edge.
class ListBox final : public QWidget {
public:
    explicit ListBox(QWidget* parent) : QWidget(parent) { new BoxBorder(this); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), kBoxRadius, kBoxRadius);
        p.fillPath(shape, palette().color(QPalette::Base));
    }
    void resizeEvent(QResizeEvent*) override {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), kBoxRadius, kBoxRadius);
        setMask(QRegion(shape.toFillPolygon().toPolygon()));
    }
};

// The bar under the list: the window background, its lower corners rounded along the inside of the box's
// border.
class ButtonBar final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const double radius = kBoxRadius - 1;
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(0, -radius, 0, 0), radius, radius);
        p.setClipRect(rect());
        p.fillPath(shape, palette().color(QPalette::Window));
    }
};

QWidget* line(Qt::Orientation orientation, int length, QWidget* parent) {
    auto* divider = new QWidget(parent);
    divider->setAutoFillBackground(true);
    QPalette palette = divider->palette();
    palette.setColor(QPalette::Window, boxBorder(palette));
    divider->setPalette(palette);
    if (orientation == Qt::Horizontal)
        divider->setFixedHeight(1);
    else
        divider->setFixedSize(1, length);
    return divider;
}

}  // namespace

// ---- row ----

ExcludedAppRow::ExcludedAppRow(const ExcludedAppsModel::MemberApp& member, bool isRunning, bool excluded,
                               ExcludedAppsModel& model, MainLoop& loop, QWidget* parent)
    : QWidget(parent), member_(member) {
    setFont(SettingsStyle::calloutFont());
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 3, 8, 3);
    layout->setSpacing(8);
    icon_ = new AppIconView(18, this);
    layout->addWidget(icon_);
    name_ = new ElidedLabel(QString::fromStdString(member.name), this);
    layout->addWidget(name_, 1);
    layout->addSpacing(8);
    toggle_ = new SettingsSwitch(this);
    toggle_->setAccessibleName(QStringLiteral("Exclude"));
    layout->addWidget(toggle_);
    showState(isRunning, excluded);
    // One switch for the three sets: it shows the overlay-hide membership and writes all three.
    QObject::connect(toggle_, &QAbstractButton::toggled, this,
                     [&model, id = member.id](bool on) { model.setExcluded(on, id); });

    // The icon is read after the row shows; the model caches it per app, so rebuilt rows find it at once.
    loop.post(lifetime_.guard([this, &model] {
        if (!icon_->showsPlaceholder()) return;
        if (auto image = model.icon(member_)) icon_->setIcon(*image);
    }));
}

void ExcludedAppRow::setSelected(bool selected) {
    // The name is drawn over the list's selection highlight: it takes the highlight's own text colour.
    setTextColour(name_, palette().color(QPalette::Active,
                                         selected ? QPalette::HighlightedText : QPalette::WindowText));
}

void ExcludedAppRow::showState(bool isRunning, bool excluded) {
    icon_->setRunning(isRunning);
    const QSignalBlocker quiet(toggle_);
    toggle_->setChecked(excluded);
}

// ---- page ----

ExcludedAppsSection::ExcludedAppsSection(ExcludedAppsModel& model, MainLoop& loop,
                                         ApplicationChooser chooseApplication, QWidget* parent)
    : SettingsPage(loop, parent), model_(model), chooseApplication_(std::move(chooseApplication)) {
    auto* caption = new SettingsCaptionRow(QString::fromUtf8(captionText), this);
    auto* captionHolder = new QWidget(this);
    auto* captionColumn = new QVBoxLayout(captionHolder);
    captionColumn->setContentsMargins(0, 10, 0, 0);
    captionColumn->addWidget(caption);
    column()->addWidget(captionHolder);

    auto* box = new ListBox(this);
    box->setFixedHeight(boxHeight);
    box->setMaximumWidth(maximumPageWidth);
    auto* boxColumn = new QVBoxLayout(box);
    boxColumn->setContentsMargins(1, 1, 1, 1);
    boxColumn->setSpacing(0);

    content_ = new QStackedWidget(box);
    auto* empty = new QLabel(QString::fromUtf8(emptyText), content_);
    empty->setFont(SettingsStyle::calloutFont());
    empty->setAlignment(Qt::AlignCenter);
    setTextColour(empty, SettingsStyle::secondaryText(palette()));
    empty_ = empty;
    content_->addWidget(empty_);
    list_ = new QListWidget(content_);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The box's colour shows through.
    list_->viewport()->setAutoFillBackground(false);
    list_->setStyleSheet(QStringLiteral("QListWidget { background: transparent; }"));
    content_->addWidget(list_);
    boxColumn->addWidget(content_, 1);
    boxColumn->addWidget(line(Qt::Horizontal, 0, box));

    auto* bar = new ButtonBar(box);
    bar->setFixedHeight(24);
    auto* barRow = new QHBoxLayout(bar);
    barRow->setContentsMargins(0, 0, 0, 0);
    barRow->setSpacing(0);
    auto* add = new SymbolButton("plus", 24, QStringLiteral("Add an application"), bar, true);
    add->setFrame(QSize(26, 24), 12);
    barRow->addWidget(add);
    barRow->addWidget(line(Qt::Vertical, 16, bar), 0, Qt::AlignVCenter);
    auto* remove =
        new SymbolButton("minus", 24, QStringLiteral("Remove the selected application"), bar, true);
    remove->setFrame(QSize(26, 24), 12);
    remove_ = remove;
    barRow->addWidget(remove_);
    barRow->addStretch(1);
    boxColumn->addWidget(bar);

    auto* boxHolder = new QWidget(this);
    auto* boxColumnOuter = new QVBoxLayout(boxHolder);
    boxColumnOuter->setContentsMargins(0, 0, 0, 10);
    boxColumnOuter->addWidget(box);
    column()->addWidget(boxHolder);

    QObject::connect(add, &QAbstractButton::clicked, this, [this] { addApp(); });
    QObject::connect(remove_, &QAbstractButton::clicked, this, [this] { removeSelected(); });
    QObject::connect(list_, &QListWidget::itemSelectionChanged, this, [this] {
        const auto items = list_->selectedItems();
        selection_ = items.isEmpty()
                         ? std::nullopt
                         : std::optional(items.front()->data(Qt::UserRole).toString().toStdString());
        remove_->setEnabled(selection_.has_value());
        showSelection();
    });

    follow(model_.members.changes());
    follow(model_.runningAppIds.changes());
    follow(model_.overlayHide.changes());
    rebuildRows();
}

std::vector<ExcludedAppRow*> ExcludedAppsSection::rows() const {
    std::vector<ExcludedAppRow*> out;
    for (int i = 0; i < list_->count(); ++i)
        out.push_back(static_cast<ExcludedAppRow*>(list_->itemWidget(list_->item(i))));
    return out;
}

void ExcludedAppsSection::select(std::optional<std::string> appId) {
    selection_ = std::move(appId);
    const QSignalBlocker quiet(list_);
    list_->clearSelection();
    for (int i = 0; i < list_->count(); ++i)
        if (selection_ && list_->item(i)->data(Qt::UserRole).toString().toStdString() == *selection_)
            list_->item(i)->setSelected(true);
    remove_->setEnabled(selection_.has_value());
    showSelection();
}

void ExcludedAppsSection::showSelection() {
    for (int i = 0; i < list_->count(); ++i)
        if (auto* row = static_cast<ExcludedAppRow*>(list_->itemWidget(list_->item(i))))
            row->setSelected(list_->item(i)->isSelected());
}

void ExcludedAppsSection::addApp() {
    if (!chooseApplication_) return;
    std::set<std::string> listed;
    for (const auto& member : model_.members()) listed.insert(member.id);
    // The choice runs modally: the page may be gone when it ends.
    const QPointer<QWidget> alive(this);
    const auto chosen = chooseApplication_(this, listed);
    // What is not an application with an identifier, and an app already listed, the model ignores silently.
    if (chosen && alive) model_.add(*chosen);
}

void ExcludedAppsSection::removeSelected() {
    if (!selection_) return;
    const std::string id = *selection_;
    select(std::nullopt);
    model_.remove(id);
}

void ExcludedAppsSection::refreshPage() {
    rebuildRows();
}

void ExcludedAppsSection::rebuildRows() {
    const auto& members = model_.members();
    const auto& running = model_.runningAppIds();
    const auto& excluded = model_.overlayHide();
    const auto shown = rows();
    const bool sameMembers = shown.size() == members.size() &&
                             std::equal(members.begin(), members.end(), shown.begin(),
                                        [](const ExcludedAppsModel::MemberApp& m, const ExcludedAppRow* row) {
                                            return row->member() == m;
                                        });
    if (sameMembers) {
        // Only the dots and switches changed: the rows stay, and so does the list's scroll position.
        for (ExcludedAppRow* row : shown)
            row->showState(running.count(row->member().id) > 0, excluded.count(row->member().id) > 0);
    } else {
        const QSignalBlocker quiet(list_);
        list_->clear();
        for (const auto& member : members) {
            auto* item = new QListWidgetItem(list_);
            item->setData(Qt::UserRole, QString::fromStdString(member.id));
            auto* row = new ExcludedAppRow(member, running.count(member.id) > 0,
                                           excluded.count(member.id) > 0, model_, loop());
            item->setSizeHint(QSize(0, 26));
            list_->setItemWidget(item, row);
        }
    }
    content_->setCurrentWidget(members.empty() ? empty_ : static_cast<QWidget*>(list_));
    // A selected member that left the list is no longer selected.
    const bool stillListed =
        selection_ && std::any_of(members.begin(), members.end(),
                                  [&](const ExcludedAppsModel::MemberApp& m) { return m.id == *selection_; });
    select(stillListed ? selection_ : std::nullopt);
}

}  // namespace velaro
