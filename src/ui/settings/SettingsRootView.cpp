// The root view's two columns, its page table and the states it passes to the pages.
#include "ui/settings/SettingsRootView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

#include "sampling/ExcludedAppsModel.h"
#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"
#include "ui/settings/SettingsSidebar.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/pages/AdvancedSection.h"
#include "ui/settings/pages/AnimationSection.h"
#include "ui/settings/pages/AppearanceSettingsView.h"
#include "ui/settings/pages/BehaviorSection.h"
#include "ui/settings/pages/CornerRoundingSections.h"
#include "ui/settings/pages/ExcludedAppsSection.h"
#include "ui/settings/pages/GeneralPage.h"
#include "ui/settings/pages/LightReflectionsSection.h"
#include "ui/settings/pages/PillShapeSection.h"
#include "ui/settings/pages/ShortcutsSection.h"
#include "ui/settings/pages/VisualizerSection.h"

namespace velaro {
namespace {

QVBoxLayout* stackOf(QWidget* holder, int spacing) {
    auto* column = new QVBoxLayout(holder);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);
    return column;
}

// `inner` at its full width up to its maximum, at the leading edge of a row that spans the pane.
QWidget* leading(QWidget* inner, QWidget* parent) {
    auto* holder = new QWidget(parent);
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(inner, 1);
    row->addStretch(0);
    return holder;
}

}  // namespace

SettingsRootView::SettingsRootView(Model model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), refresh_(model_.loop, [this] { apply(); }) {
    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);

    sidebar_ = new SettingsSidebar(this);
    sidebar_->onRowClicked = [this](SettingsCategory category) { sidebarRowClicked(category); };
    // The keys select as a click does, without the bounce that counts clicks.
    sidebar_->onRowChosenByKey = [this](SettingsCategory category) {
        model_.navigation.selection = category;
        apply();
    };
    columns->addWidget(sidebar_);
    // The divider between the columns is painted; this keeps its point free.
    columns->addSpacing(1);

    detail_ = new QScrollArea(this);
    detail_->setFrameShape(QFrame::NoFrame);
    detail_->setWidgetResizable(true);
    detail_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    detail_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    detail_->setFocusPolicy(Qt::NoFocus);
    columns->addWidget(detail_, 1);

    auto* content = new QWidget;
    auto* column = stackOf(content, 20);
    column->setContentsMargins(detailPadding, detailPadding, detailPadding, detailPadding);

    header_ = new QWidget(content);
    header_->setMaximumWidth(pageWidth);
    auto* headerColumn = stackOf(header_, 4);
    title_ = new QLabel(header_);
    title_->setFont(SettingsStyle::titleFont());
    headerColumn->addWidget(title_);
    blurb_ = new QLabel(header_);
    blurb_->setFont(SettingsStyle::subheadlineFont());
    blurb_->setWordWrap(true);
    QPalette quiet = blurb_->palette();
    quiet.setColor(QPalette::WindowText, SettingsStyle::secondaryText(quiet));
    blurb_->setPalette(quiet);
    headerColumn->addWidget(blurb_);
    column->addWidget(leading(header_, content));

    pageSlot_ = new QWidget(content);
    pageSlot_->setMaximumWidth(pageWidth);
    pageColumn_ = stackOf(pageSlot_, 0);
    column->addWidget(leading(pageSlot_, content));

    empty_ = new QLabel(QStringLiteral("Select a category"), content);
    empty_->setAlignment(Qt::AlignCenter);
    empty_->setPalette(quiet);
    empty_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    column->addWidget(empty_, 1);
    // Below a page, the rest of the pane stays empty, so the page starts at the top.
    filler_ = new QWidget(content);
    filler_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    column->addWidget(filler_, 1);
    detail_->setWidget(content);

    // Values notify before they are stored: the view reads them again on the next turn.
    watches_.push_back(
        model_.navigation.selection.changes().sink([this](const auto&) { refresh_.schedule(); }));
    watches_.push_back(
        model_.profileManager.selectedScope.changes().sink([this](const auto&) { refresh_.schedule(); }));
    watches_.push_back(model_.settings.overlayEnabled.changes().sink([this](bool) { refresh_.schedule(); }));
    apply();
}

SettingsRootView::~SettingsRootView() {
    // The pages hold on to the excluded-apps model: they go first.
    for (auto& [category, page] : pages_) delete page;
    pages_.clear();
}

void SettingsRootView::sidebarRowClicked(SettingsCategory category) {
    model_.navigation.selection = category;
    const std::int64_t tick = ++bounceTick_[category];
    sidebar_->row(category)->setBounceTick(tick);
    apply();
}

bool SettingsRootView::isEditingApp() const {
    return !model_.profileManager.selectedScope().isGlobal();
}

void SettingsRootView::apply() {
    const auto selection = model_.navigation.selection();
    sidebar_->setSelection(selection);

    if (selection && !pages_.contains(*selection)) {
        QWidget* made = makePage(*selection);
        // Named after its category, as Qt names widgets, so the page can be told apart from its neighbours.
        const std::string_view name = rawValue(*selection);
        made->setObjectName(QString::fromUtf8(name.data(), qsizetype(name.size())));
        made->setMaximumWidth(pageWidth);
        pageColumn_->addWidget(made);
        pages_[*selection] = made;
    }
    for (auto& [category, shown] : pages_) shown->setVisible(selection == category);

    header_->setVisible(selection.has_value());
    pageSlot_->setVisible(selection.has_value());
    filler_->setVisible(selection.has_value());
    empty_->setVisible(!selection);
    title_->setText(selection ? title(*selection) : QString());
    blurb_->setText(selection ? blurb(*selection) : QString());
    // The pane is announced as the selected page's title, or "Settings".
    detail_->setAccessibleName(selection ? title(*selection) : QStringLiteral("Settings"));

    const bool overlayOn = model_.settings.overlayEnabled();
    for (SettingsOverlayGate* gate : gates_) gate->setOverlayEnabled(overlayOn);
    const bool editing = isEditingApp();
    if (shortcutsSection_) {
        shortcutsSection_->setEnabled(!editing);
        shortcutsNote_->setVisible(editing);
    }
    if (generalPage_) generalPage_->setEditingApp(editing);
}

QWidget* SettingsRootView::gated(QWidget* page) {
    auto* gate = new SettingsOverlayGate(page, false);
    gates_.push_back(gate);
    return gate;
}

QWidget* SettingsRootView::makePage(SettingsCategory category) {
    OverlaySettings& settings = model_.settings;
    MainLoop& loop = model_.loop;
    switch (category) {
        case SettingsCategory::appearance:
            return new AppearanceSettingsView(settings, loop);
        case SettingsCategory::cornerRounding: {
            auto* stack = new QWidget;
            QVBoxLayout* column = stackOf(stack, 14);
            column->addWidget(new CornerRoundingSection(settings, loop, model_.cornerPreview, stack));
            column->addWidget(new CornerHoverLegend(loop, stack));
            column->addWidget(new CornerOpacitySection(settings, loop, stack));
            column->addWidget(new BottomCornerPositionSection(settings, loop, stack));
            column->addWidget(new CornerStrokeSection(settings, loop, stack));
            return stack;
        }
        case SettingsCategory::pillShape:
            return gated(new PillShapeSection(settings, loop));
        case SettingsCategory::animation:
            return gated(new AnimationSection(settings, loop));
        case SettingsCategory::lightReflections:
            return gated(new LightReflectionsSection(settings, loop));
        case SettingsCategory::musicVisualizer:
            return new VisualizerSection(settings, loop);
        case SettingsCategory::behavior:
            return new BehaviorSection(settings, model_.profileManager, loop);
        case SettingsCategory::excludedApps:
            if (!excludedAppsModel_ && model_.makeExcludedAppsModel)
                excludedAppsModel_ = model_.makeExcludedAppsModel();
            if (!excludedAppsModel_) return new SettingsPage(loop);
            return new ExcludedAppsSection(*excludedAppsModel_, loop, model_.chooseApplication);
        case SettingsCategory::shortcuts: {
            auto* stack = new QWidget;
            QVBoxLayout* column = stackOf(stack, 0);
            shortcutsSection_ = new ShortcutsSection(settings, loop, model_.shortcuts, stack);
            column->addWidget(shortcutsSection_);
            shortcutsNote_ = new GlobalOnlyNote(stack);
            column->addWidget(shortcutsNote_);
            return stack;
        }
        case SettingsCategory::advanced:
            return new AdvancedSection(settings, model_.profileManager, loop,
                                       mainScreenNotchProbe(model_.topology));
        case SettingsCategory::general:
            generalPage_ = new GeneralPage(model_.loginItem, settings, model_.showWelcomeTour, loop);
            return generalPage_;
        case SettingsCategory::about:
            return new AboutSection(model_.updateCheck(), model_.about, loop);
    }
    return new SettingsPage(loop);
}

void SettingsRootView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int divider = sidebar_->geometry().right() + 1;
    p.fillRect(QRect(0, 0, divider, height()), SettingsStyle::topStripMaterial(palette()));
    p.fillRect(QRect(divider, 0, 1, height()), SettingsStyle::hairlineColor(palette()));
}

}  // namespace velaro
