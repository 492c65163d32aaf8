// The rows, cards and modifiers of the settings kit.
#include "ui/settings/kit/SettingsKit.h"

#include <QComboBox>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>

#include "ui/settings/kit/SegmentedControl.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/kit/SymbolIcon.h"

namespace velaro {
namespace {

// A pop-up menu that leaves the wheel to the page, as the slider does: scrolling past it changes nothing.
class PageScrollingMenu final : public QComboBox {
public:
    using QComboBox::QComboBox;

protected:
    void wheelEvent(QWheelEvent* event) override { event->ignore(); }
};

// Keeps a widget's opacity effect in step with its enabled state.
class DimWatcher final : public QObject {
public:
    DimWatcher(QWidget* widget, double opacity) : QObject(widget), widget_(widget) {
        effect_ = new QGraphicsOpacityEffect(widget);
        effect_->setOpacity(opacity);
        widget->setGraphicsEffect(effect_);
        widget->installEventFilter(this);
        apply();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == widget_ && event->type() == QEvent::EnabledChange) apply();
        return false;
    }

private:
    void apply() { effect_->setEnabled(!widget_->isEnabled()); }

    QWidget* widget_;
    QGraphicsOpacityEffect* effect_;
};

// A label that reports a click on its whole rectangle.
class TapLabel final : public QLabel {
public:
    TapLabel(const QString& text, std::function<void()> tapped, QWidget* parent)
        : QLabel(text, parent), tapped_(std::move(tapped)) {}

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) tapped_();
        QLabel::mouseReleaseEvent(event);
    }

private:
    std::function<void()> tapped_;
};

QLabel* symbolLabel(const std::string& symbol, QWidget* parent) {
    auto* label = new QLabel(parent);
    const int size = SettingsStyle::symbolFont().pixelSize() + 2;
    label->setPixmap(symbolPixmap(symbol, size, SettingsStyle::secondaryText(parent->palette()),
                                  parent->devicePixelRatioF()));
    applyDisabledDim(label, 0.4);
    return label;
}

}  // namespace

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::WindowText, colour);
        palette.setColor(group, QPalette::Text, colour);
    }
    widget->setPalette(palette);
}

// The frame the toggle, slider, picker, segmented and colour rows share: title, a flexible gap of at least
// 8 points, then whatever the row adds to the returned layout.
QHBoxLayout* rowFrame(QWidget* row, QLabel* title) {
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 10, 0, 10);
    layout->setSpacing(10);
    title->setFont(SettingsStyle::rowTitleFont());
    applyDisabledDim(title, 0.4);
    layout->addWidget(title);
    layout->addSpacerItem(new QSpacerItem(8, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    row->setMinimumHeight(44);
    return layout;
}

void applyDisabledDim(QWidget* widget, double disabledOpacity) {
    QPalette palette = widget->palette();
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, palette.color(QPalette::Active, role));
    widget->setPalette(palette);
    new DimWatcher(widget, disabledOpacity);
}

// ---- header, card, hairline, backdrop ----

SpacedText::SpacedText(const QString& text, QMargins margins, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(margins);
    column->setSpacing(0);
    label_ = new QLabel(text, this);
    column->addWidget(label_);
}

QString SpacedText::text() const {
    return label_->text();
}

void SpacedText::setText(const QString& text) {
    label_->setText(text);
}

SettingsSectionHeader::SettingsSectionHeader(const QString& title, QWidget* parent)
    : SpacedText(title, {0, 28, 0, 8}, parent) {
    label()->setFont(SettingsStyle::headerFont());
    label()->setAccessibleDescription(QStringLiteral("heading"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

SettingsCard::SettingsCard(QWidget* parent) : QWidget(parent) {
    rows_ = new QVBoxLayout(this);
    rows_->setContentsMargins(16, 4, 16, 4);
    rows_->setSpacing(0);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void SettingsCard::addRow(QWidget* row) {
    // A caption that opens a card keeps the distance from the card's top edge that every row keeps.
    if (rows_->isEmpty())
        if (auto* caption = dynamic_cast<SettingsCaptionRow*>(row))
            caption->layout()->setContentsMargins(0, 10, 0, 10);
    rows_->addWidget(row);
}

void SettingsCard::addHairline() {
    rows_->addWidget(new SettingsHairline(this));
}

QWidget* SettingsCard::addHairlinedRow(QWidget* row) {
    QWidget* block = rowStack(this, {new SettingsHairline, row});
    rows_->addWidget(block);
    return block;
}

void SettingsCard::paintEvent(QPaintEvent*) {
    QPainter p(this);
    SettingsStyle::paintCard(p, QRectF(rect()), SettingsStyle::cardFill(palette()),
                             SettingsStyle::cardStroke(palette()));
}

SettingsHairline::SettingsHairline(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    applyDisabledDim(this, 0.4);
}

void SettingsHairline::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // The card's padding already holds the rows 16 points in; the line starts 16 further in still.
    p.fillRect(QRect(16, 0, width() - 16, 1), SettingsStyle::hairlineColor(palette()));
}

SettingsTopStripBackdrop::SettingsTopStripBackdrop(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SettingsTopStripBackdrop::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), SettingsStyle::topStripMaterial(palette()));
    p.fillRect(QRect(0, height() - 1, width(), 1), SettingsStyle::hairlineColor(palette()));
}

// ---- rows ----

SettingsToggleRow::SettingsToggleRow(const QString& title, Binding<bool> isOn, const QString& hint,
                                     QWidget* accessory, QWidget* parent)
    : SettingsRow(parent), isOn_(std::move(isOn)) {
    // The switch is made first so the title's tap has something to flip.
    switch_ = new SettingsSwitch(this);
    switch_->setAccessibleName(title);
    setHint(hint);
    title_ = new TapLabel(
        title, [this] { switch_->click(); }, this);
    QHBoxLayout* layout = rowFrame(this, title_);
    if (accessory) layout->addWidget(accessory);
    layout->addWidget(switch_);
    QObject::connect(switch_, &QAbstractButton::toggled, this, [this](bool on) { isOn_.set(on); });
    refresh();
}

void SettingsToggleRow::setHint(const QString& hint) {
    switch_->setAccessibleDescription(hint);
    switch_->setToolTip(hint);
}

void SettingsToggleRow::refresh() {
    const QSignalBlocker quiet(switch_);
    switch_->setChecked(isOn_.get());
}

SettingsSliderRow::SettingsSliderRow(MainLoop& loop, const QString& title, Binding<double> value,
                                     SliderRange range, double defaultValue, Options options, QWidget* parent)
    : SettingsRow(parent), valueText_(std::move(options.valueText)) {
    QHBoxLayout* layout = rowFrame(this, new QLabel(title, this));
    value_ = new QLabel(this);
    value_->setFont(SettingsStyle::valueFont());
    setTextColour(value_, SettingsStyle::secondaryText(palette()));
    applyDisabledDim(value_, 0.4);
    layout->addWidget(value_);
    if (!options.minSymbol.empty()) layout->addWidget(symbolLabel(options.minSymbol, this));
    slider_ = new ResettableSlider(loop, std::move(value), range, defaultValue, options.step, false, this);
    slider_->setFixedWidth(sliderWidth);
    slider_->setAccessibleName(title);
    layout->addWidget(slider_);
    if (!options.maxSymbol.empty()) layout->addWidget(symbolLabel(options.maxSymbol, this));
    refresh();
}

void SettingsSliderRow::refresh() {
    slider_->refresh();
    const QString text = valueText_ ? valueText_() : QString();
    value_->setText(text);
    value_->setVisible(!text.isEmpty());
    slider_->setAccessibleDescription(text);
}

SettingsChoiceRow::SettingsChoiceRow(Form form, const QString& title, std::vector<QString> labels,
                                     std::function<int()> chosenIndex, std::function<void(int)> choose,
                                     QWidget* parent)
    : SettingsRow(parent), chosenIndex_(std::move(chosenIndex)), choose_(std::move(choose)) {
    QHBoxLayout* layout = rowFrame(this, new QLabel(title, this));
    QWidget* control = nullptr;
    if (form == Form::popUpMenu) {
        menu_ = new PageScrollingMenu(this);
        for (const auto& label : labels) menu_->addItem(label);
        menu_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        menu_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        QObject::connect(menu_, &QComboBox::activated, this, [this](int index) { choose_(index); });
        control = menu_;
    } else {
        segments_ = new SegmentedControl(labels, true, this);
        segments_->onPressed = [this](int index) { choose_(index); };
        control = segments_;
    }
    control->setAccessibleName(title);
    layout->addWidget(control);
    refresh();
}

void SettingsChoiceRow::setMenuLabels(const std::vector<QString>& labels) {
    if (!menu_) return;
    bool same = menu_->count() == int(labels.size());
    for (int i = 0; same && i < menu_->count(); ++i) same = menu_->itemText(i) == labels[std::size_t(i)];
    if (same) return;
    const QSignalBlocker quiet(menu_);
    menu_->clear();
    for (const auto& label : labels) menu_->addItem(label);
}

void SettingsChoiceRow::refresh() {
    const int index = chosenIndex_();
    if (menu_) {
        const QSignalBlocker quiet(menu_);
        menu_->setCurrentIndex(index);
        return;
    }
    // No option matches (-1): no segment shows chosen.
    segments_->setChosen(index);
}

SettingsColorWellRow::SettingsColorWellRow(const QString& title, Binding<Color> selection,
                                           bool supportsOpacity, std::optional<QString> accessibilityLabel,
                                           QWidget* parent)
    : SettingsRow(parent) {
    QHBoxLayout* layout = rowFrame(this, new QLabel(title, this));
    well_ = new ColorWell(std::move(selection), supportsOpacity, this);
    well_->setAccessibleName(accessibilityLabel.value_or(title));
    layout->addWidget(well_);
}

void SettingsColorWellRow::refresh() {
    well_->refresh();
}

SettingsCaptionRow::SettingsCaptionRow(const QString& text, QWidget* parent)
    : SpacedText(text, {0, 0, 0, 10}, parent) {
    label()->setFont(SettingsStyle::captionFont());
    setTextColour(label(), SettingsStyle::tertiaryText(palette()));
    label()->setWordWrap(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    applyDisabledDim(this, 0.4);
}

QWidget* unavailableHereRow(QWidget* row, const QString& why) {
    // Disabled for good: whatever enables the rows around it later leaves this one as it is.
    row->setEnabled(false);
    return rowStack(nullptr, {row, new SettingsCaptionRow(why)});
}

SettingsNoticeText::SettingsNoticeText(const QString& text, const QColor& colour, QWidget* parent)
    : SpacedText(text, {0, 0, 0, 10}, parent) {
    label()->setFont(SettingsStyle::caption2Font());
    label()->setWordWrap(true);
    label()->setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    setColor(colour);
    applyDisabledDim(this, 0.4);
}

void SettingsNoticeText::setColor(const QColor& colour) {
    setTextColour(label(), colour);
}

QColor SettingsNoticeText::color() const {
    return label()->palette().color(QPalette::Active, QPalette::WindowText);
}

SettingsBetaBadge::SettingsBetaBadge(QWidget* parent) : QWidget(parent) {
    setFont(SettingsStyle::badgeFont());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("BETA"));
    applyDisabledDim(this, 0.7);
}

QSize SettingsBetaBadge::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(QStringLiteral("BETA")) + 12, metrics.height() + 4};
}

void SettingsBetaBadge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = SettingsStyle::badgeColor();
    fill.setAlphaF(0.18f);
    const QRectF capsule(rect());
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    p.setPen(SettingsStyle::badgeColor());
    p.drawText(rect(), Qt::AlignCenter, QStringLiteral("BETA"));
}

SettingsActionRow::SettingsActionRow(const QString& title, std::string symbol, Role role,
                                     std::function<void()> action, QWidget* parent)
    : QAbstractButton(parent), symbol_(std::move(symbol)), role_(role) {
    setText(title);
    setFont(SettingsStyle::rowTitleFont());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QObject::connect(this, &QAbstractButton::clicked, this, [action = std::move(action)] {
        if (action) action();
    });
}

QSize SettingsActionRow::sizeHint() const {
    const QFontMetrics metrics(font());
    const int symbolWidth = symbol_.empty() ? 0 : metrics.height() + 10;
    return {symbolWidth + metrics.horizontalAdvance(text()), std::max(44, metrics.height() + 20)};
}

void SettingsActionRow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!isEnabled()) p.setOpacity(0.4);
    // The plain look: no bezel; the text darkens while pressed, as a plain button does.
    QColor ink = role_ == Role::destructive ? QColor(255, 59, 48) : palette().color(QPalette::WindowText);
    if (isDown()) ink.setAlphaF(0.6f);
    const QFontMetrics metrics(font());
    int x = 0;
    if (!symbol_.empty()) {
        const int size = metrics.height();
        paintSymbol(p, QRectF(0, (height() - size) / 2.0, size, size), symbol_, ink);
        x = size + 10;
    }
    p.setPen(ink);
    p.drawText(QRect(x, 0, width() - x, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    if (hasFocus()) SettingsStyle::paintFocusRing(p, QRectF(rect()), 6, palette());
}

// ---- gate, note, page ----

SettingsOverlayGate::SettingsOverlayGate(QWidget* content, bool followsContent, QWidget* parent)
    : QWidget(parent), content_(content) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    notice_ = new QWidget(this);
    auto* row = new QHBoxLayout(notice_);
    row->setContentsMargins(0, followsContent ? 28 : 0, 0, 10);
    row->setSpacing(8);
    const QColor secondary = SettingsStyle::secondaryText(palette());
    auto* icon = new QLabel(notice_);
    const int size = SettingsStyle::noticeIconFont().pixelSize();
    icon->setPixmap(symbolPixmap("exclamationmark.triangle.fill", size, secondary, devicePixelRatioF()));
    icon->setFixedWidth(14);
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* text = new QLabel(QString::fromUtf8(noticeText), notice_);
    text->setFont(SettingsStyle::captionFont());
    setTextColour(text, secondary);
    text->setWordWrap(true);
    row->addWidget(text, 1, Qt::AlignTop);
    column->addWidget(notice_);
    notice_->hide();

    content_->setParent(this);
    column->addWidget(content_);
}

void SettingsOverlayGate::setOverlayEnabled(bool enabled) {
    overlayEnabled_ = enabled;
    notice_->setVisible(!enabled);
    content_->setEnabled(enabled);
}

GlobalOnlyNote::GlobalOnlyNote(QWidget* parent) : QLabel(QString::fromUtf8(noteText), parent) {
    setFont(SettingsStyle::captionFont());
    setTextColour(this, SettingsStyle::secondaryText(palette()));
    setWordWrap(true);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QWidget* rowStack(QWidget* parent, std::initializer_list<QWidget*> rows) {
    auto* stack = new QWidget(parent);
    addRows(stack, rows);
    return stack;
}

void addRows(QWidget* holder, std::initializer_list<QWidget*> rows) {
    QLayout* column = holder->layout();
    if (!column) {
        column = new QVBoxLayout(holder);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
    }
    for (QWidget* row : rows) column->addWidget(row);
}

SlideReveal::SlideReveal(MainLoop& loop, QWidget* block) : block_(block), open_(loop, 1.0) {
    open_.setOnChange([this] { apply(); });
}

void SlideReveal::setShown(bool shown) {
    if (!shown) {
        open_.snapTo(1.0);
        block_->hide();
        return;
    }
    if (!block_->isHidden()) return;
    const QWidget* parent = block_->parentWidget();
    const bool onScreen = parent && parent->isVisible();
    block_->show();
    if (!onScreen) return;
    open_.snapTo(0.0);
    open_.set(1.0, OverlayAnimation{seconds, TimingCurve::easeInEaseOut});
}

void SlideReveal::apply() {
    const double open = open_.value();
    block_->setMaximumHeight(open >= 1 ? QWIDGETSIZE_MAX
                                       : int(std::lround(open * block_->sizeHint().height())));
}

SettingsPage::SettingsPage(MainLoop& loop, QWidget* parent)
    : QWidget(parent), loop_(loop), refresh_(loop, [this] { refresh(); }) {
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(0);
    setMaximumWidth(maximumPageWidth);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void SettingsPage::refresh() {
    for (SettingsRow* row : findChildren<SettingsRow*>()) row->refresh();
    refreshPage();
}

}  // namespace velaro
