// The Shortcuts page and its rows.
#include "ui/settings/pages/ShortcutsSection.h"

#include <QHBoxLayout>
#include <QHideEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "settings/OverlaySettings.h"
#include "ui/settings/kit/AccentColors.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SharedColorPanel.h"

namespace velaro {

namespace {

constexpr ShortcutAction kActions[] = {ShortcutAction::master, ShortcutAction::overlay,
                                       ShortcutAction::visualizer, ShortcutAction::progressBar,
                                       ShortcutAction::corners};

QColor accent() {
    return qColorFromColor(accentStart);
}

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

// ---- buttons ----

ShortcutRecordButton::ShortcutRecordButton(QWidget* parent) : QAbstractButton(parent) {
    setFont(SettingsStyle::rowTitleFont());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void ShortcutRecordButton::setRecording(bool recording) {
    if (recording_ == recording) return;
    recording_ = recording;
    update();
}

QSize ShortcutRecordButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 20, metrics.height() + 8};
}

void ShortcutRecordButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = recording_ ? accent() : SettingsStyle::primary(palette(), 1.0);
    fill.setAlphaF(recording_ ? 0.18f : 0.06f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 6, 6);
    p.fillPath(shape, fill);
    QColor ink = recording_ ? accent() : palette().color(QPalette::WindowText);
    if (isDown()) ink.setAlphaF(0.6f);
    p.setPen(ink);
    p.drawText(rect().adjusted(10, 4, -10, -4), Qt::AlignCenter, text());
    // Space starts a recording: the button that has the keyboard shows it.
    if (hasFocus()) SettingsStyle::paintFocusRing(p, QRectF(rect()), 6, palette());
}

// ---- page ----

ShortcutsSection::ShortcutsSection(OverlaySettings& settings, MainLoop& loop,
                                   ShortcutRecorderServices services, QWidget* parent)
    : OverlaySettingsPage(settings, loop, parent),
      recorder_(std::make_unique<ShortcutRecorderModel>(services)) {
    auto* card = new SettingsCard(this);
    for (std::size_t i = 0; i < std::size(kActions); ++i) {
        if (i > 0) card->addHairline();
        rows_[i] = new ShortcutRecorderRow(kActions[i], settings, *recorder_, card);
        card->addRow(rows_[i]);
    }
    column()->addWidget(card);
    column()->addWidget(new SettingsCaptionRow(QString::fromUtf8(captionText), this));

    follow(recorder_->recordingAction().changes());
    follow(recorder_->notice().changes());
    follow(settings.appShortcuts.changes());
}

ShortcutsSection::~ShortcutsSection() {
    // The rows refer to the recorder: they go first.
    for (ShortcutRecorderRow*& row : rows_) {
        delete row;
        row = nullptr;
    }
}

ShortcutRecorderRow* ShortcutsSection::row(ShortcutAction action) const {
    for (ShortcutRecorderRow* row : rows_)
        if (row && row->action() == action) return row;
    return nullptr;
}

void ShortcutsSection::hideEvent(QHideEvent* event) {
    // Another page, or the window closed: no recording and no pause of the hot keys outlives the page.
    recorder_->end();
    OverlaySettingsPage::hideEvent(event);
}

// ---- row ----

ShortcutRecorderRow::ShortcutRecorderRow(ShortcutAction action, OverlaySettings& settings,
                                         ShortcutRecorderModel& recorder, QWidget* parent)
    : SettingsRow(parent), action_(action), settings_(settings), recorder_(recorder) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* line = new QWidget(this);
    title_ = new QLabel(qs(title(action)), line);
    QHBoxLayout* layout = rowFrame(line, title_);
    record_ = new ShortcutRecordButton(line);
    layout->addWidget(record_);
    clear_ = new SymbolButton("xmark.circle.fill", 18, QStringLiteral("Clear shortcut for ") + title_->text(),
                              line);
    clear_->setInk(SettingsStyle::secondaryText(palette()));
    layout->addWidget(clear_);
    column->addWidget(line);

    notice_ = new SpacedText(QString(), QMargins(0, 0, 0, 10), this);
    notice_->label()->setFont(SettingsStyle::caption2Font());
    notice_->label()->setWordWrap(true);
    column->addWidget(notice_);

    QObject::connect(record_, &QAbstractButton::clicked, this,
                     [this] { recorder_.begin(action_, settings_); });
    QObject::connect(clear_, &QAbstractButton::clicked, this,
                     [this] { recorder_.clear(action_, settings_); });
    refresh();
}

bool ShortcutRecorderRow::isRecording() const {
    return recorder_.recordingAction()() == action_;
}

std::optional<ShortcutKeyCombo> ShortcutRecorderRow::currentCombo() const {
    return settings_.appShortcuts().combo(action_);
}

void ShortcutRecorderRow::refresh() {
    const bool recording = isRecording();
    const auto combo = currentCombo();
    const QString name = title_->text();
    record_->setRecording(recording);
    if (recording)
        record_->setText(QStringLiteral("Type shortcut… (Esc cancels)"));
    else if (combo)
        record_->setText(QString::fromStdString(combo->displayString(recorder_.services().keyboardLayout)));
    else
        record_->setText(QStringLiteral("Record Shortcut"));
    record_->setAccessibleName(
        (recording ? QStringLiteral("Recording shortcut for ") : QStringLiteral("Record shortcut for ")) +
        name);
    record_->updateGeometry();
    clear_->setVisible(combo.has_value() && !recording);

    const auto& notice = recorder_.notice()();
    const bool ours = notice && notice->action == action_;
    notice_->setVisible(ours);
    if (ours) {
        notice_->setText(QString::fromStdString(notice->text));
        setTextColour(notice_->label(), notice->isBlocking ? QColor(255, 59, 48) : QColor(255, 149, 0));
    }
}

}  // namespace velaro
