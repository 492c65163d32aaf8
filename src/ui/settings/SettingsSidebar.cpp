// The sidebar's rows, their tiles and the bounce.
#include "ui/settings/SettingsSidebar.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "ui/settings/kit/SettingsKit.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/kit/SymbolIcon.h"

namespace velaro {
namespace {

// The list's insets around each row, and the row's own padding inside its highlight.
constexpr int kListInsetX = 6;
constexpr int kPaddingX = 7;
constexpr int kSpacing = 10;
constexpr double kTileRadius = 9;

}  // namespace

// The vertical room of the list: around each row and its highlight, around each group header, and below the
// last row. `roomy` is the list's own look; `tight` what it gives up to before it scrolls.
struct SidebarSpacing {
    int rowInset;
    int rowPadding;
    int headerTop;
    int headerBottom;
    int listBottom;

    static constexpr SidebarSpacing roomy() { return {2, 5, 18, 6, 12}; }
    static constexpr SidebarSpacing tight() { return {1, 2, 8, 2, 0}; }
    // A fraction `t` of the way from roomy to tight, every gap rounded down so that the list never grows
    // past the height the fraction was worked out for.
    static SidebarSpacing between(double t) {
        const SidebarSpacing a = roomy();
        const SidebarSpacing b = tight();
        const auto at = [t](int from, int to) { return int(std::floor(from - t * (from - to))); };
        return {at(a.rowInset, b.rowInset), at(a.rowPadding, b.rowPadding), at(a.headerTop, b.headerTop),
                at(a.headerBottom, b.headerBottom), at(a.listBottom, b.listBottom)};
    }
};

SidebarRow::SidebarRow(SettingsCategory category, QWidget* parent)
    : QAbstractButton(parent),
      category_(category),
      bounce_(new QVariantAnimation(this)),
      insetY_(SidebarSpacing::roomy().rowInset),
      paddingY_(SidebarSpacing::roomy().rowPadding) {
    setText(title(category));
    setAccessibleName(text());
    setFont(SettingsStyle::rowTitleFont());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    bounce_->setStartValue(0.0);
    bounce_->setEndValue(1.0);
    bounce_->setDuration(int(bounceSeconds * 1000));
    QObject::connect(bounce_, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void SidebarRow::setSelected(bool selected) {
    if (selected == selected_) return;
    selected_ = selected;
    setAccessibleDescription(selected ? QStringLiteral("selected") : QString());
    update();
}

void SidebarRow::setBounceTick(std::int64_t tick) {
    if (tick == bounceTick_) return;
    bounceTick_ = tick;
    bounce_->stop();
    bounce_->start();
}

void SidebarRow::setVerticalSpacing(int inset, int padding) {
    if (inset == insetY_ && padding == paddingY_) return;
    insetY_ = inset;
    paddingY_ = padding;
    updateGeometry();
    update();
}

QSize SidebarRow::sizeHint() const {
    const QFontMetrics metrics(font());
    const int content = std::max(tileSize, metrics.height());
    return {SettingsSidebar::sidebarWidth, content + 2 * (paddingY_ + insetY_)};
}

void SidebarRow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF row = QRectF(rect()).adjusted(kListInsetX, insetY_, -kListInsetX, -insetY_);
    if (selected_)
        SettingsStyle::paintCard(p, row, SettingsStyle::primary(palette(), 0.10),
                                 SettingsStyle::primary(palette(), 0.06), 11);
    if (hasFocus()) SettingsStyle::paintFocusRing(p, row, 11, palette());

    // The tile: the page's accent colour with a soft shadow beneath.
    const QRectF tile(row.left() + kPaddingX, row.center().y() - tileSize / 2.0, tileSize, tileSize);
    QPainterPath shape;
    shape.addRoundedRect(tile, kTileRadius, kTileRadius);
    // A two-step stand-in for a blurred shadow, one point down.
    for (int i = 2; i >= 1; --i) {
        const double grow = i * 0.5;
        QPainterPath shadow;
        shadow.addRoundedRect(tile.translated(0, 1).adjusted(-grow, -grow, grow, grow), kTileRadius + grow,
                              kTileRadius + grow);
        p.fillPath(shadow, QColor(0, 0, 0, 32));
    }
    p.fillPath(shape, qColorFromColor(accentColor(category_)));

    // The symbol, scaled up and back once while it bounces.
    const double t =
        bounce_->state() == QAbstractAnimation::Running ? bounce_->currentValue().toDouble() : 0.0;
    const double scale = 1.0 + 0.25 * std::sin(std::numbers::pi * t);
    const double glyph = 14 * scale;
    paintSymbol(p, QRectF(tile.center().x() - glyph / 2, tile.center().y() - glyph / 2, glyph, glyph),
                systemImage(category_), Qt::white);

    p.setPen(palette().color(QPalette::WindowText));
    const double textLeft = tile.right() + kSpacing;
    p.drawText(QRectF(textLeft, row.top(), row.right() - kPaddingX - textLeft, row.height()),
               Qt::AlignVCenter | Qt::AlignLeft, text());
}

SettingsSidebar::SettingsSidebar(QWidget* parent) : QScrollArea(parent) {
    setFixedWidth(sidebarWidth);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidgetResizable(true);
    setFocusPolicy(Qt::NoFocus);

    auto* list = new QWidget;
    list->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(list);
    column->setContentsMargins(0, 0, 0, 12);
    column->setSpacing(0);
    for (const auto& group : SettingsGroup::all()) {
        auto* header = new SpacedText(group.title, {10, 0, 6, 0}, list);
        header->label()->setFont(SettingsStyle::systemFont(13, QFont::Bold));
        QPalette quiet = header->label()->palette();
        quiet.setColor(QPalette::WindowText, SettingsStyle::secondaryText(quiet));
        header->label()->setPalette(quiet);
        column->addWidget(header);
        headers_.push_back(header);
        for (SettingsCategory category : group.items) {
            auto* row = new SidebarRow(category, list);
            QObject::connect(row, &QAbstractButton::clicked, this, [this, category] {
                if (onRowClicked) onRowClicked(category);
            });
            rows_[category] = row;
            order_.push_back(row);
            row->installEventFilter(this);
            column->addWidget(row);
        }
    }
    column->addStretch(1);
    setWidget(list);
    viewport()->setAutoFillBackground(false);
    apply(SidebarSpacing::roomy());
    setSelection(std::nullopt);
}

void SettingsSidebar::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    fitHeight(viewport()->height());
}

int SettingsSidebar::contentHeight(const SidebarSpacing& spacing) const {
    const int row = std::max(SidebarRow::tileSize, QFontMetrics(order_.front()->font()).height());
    int height =
        spacing.listBottom + int(order_.size()) * (row + 2 * (spacing.rowInset + spacing.rowPadding));
    for (const SpacedText* header : headers_)
        height += spacing.headerTop + spacing.headerBottom + header->label()->sizeHint().height();
    return height;
}

void SettingsSidebar::fitHeight(int height) {
    const int roomy = contentHeight(SidebarSpacing::roomy());
    const int tight = contentHeight(SidebarSpacing::tight());
    double t = 1;
    if (roomy <= height)
        t = 0;
    else if (tight < height)
        t = double(roomy - height) / double(roomy - tight);
    apply(SidebarSpacing::between(t));
}

void SettingsSidebar::apply(const SidebarSpacing& spacing) {
    for (SidebarRow* row : order_) row->setVerticalSpacing(spacing.rowInset, spacing.rowPadding);
    for (SpacedText* header : headers_)
        header->layout()->setContentsMargins(10, spacing.headerTop, 6, spacing.headerBottom);
    widget()->layout()->setContentsMargins(0, 0, 0, spacing.listBottom);
}

void SettingsSidebar::setSelection(std::optional<SettingsCategory> selection) {
    for (SidebarRow* row : order_) {
        const bool selected = selection == row->category();
        row->setSelected(selected);
        const bool tabStop = selection ? selected : row == order_.front();
        row->setFocusPolicy(tabStop ? Qt::TabFocus : Qt::NoFocus);
    }
}

bool SettingsSidebar::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const auto from = std::find(order_.begin(), order_.end(), watched);
    if (from == order_.end()) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    const int last = int(order_.size()) - 1;
    int to = int(from - order_.begin());
    if (key == Qt::Key_Up)
        to = std::max(0, to - 1);
    else if (key == Qt::Key_Down)
        to = std::min(last, to + 1);
    else if (key == Qt::Key_Home)
        to = 0;
    else if (key == Qt::Key_End)
        to = last;
    else
        return false;
    SidebarRow* row = order_[std::size_t(to)];
    if (onRowChosenByKey) onRowChosenByKey(row->category());
    // The new selection is the Tab stop now; the keyboard goes with it, and the list shows it.
    row->setFocusPolicy(Qt::TabFocus);
    row->setFocus(Qt::OtherFocusReason);
    ensureWidgetVisible(row, 0, SidebarSpacing::roomy().rowInset);
    return true;
}

}  // namespace velaro
