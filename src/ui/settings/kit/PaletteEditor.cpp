// The colour-list editor's rows, buttons and edits.
#include "ui/settings/kit/PaletteEditor.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>

#include "base/MainLoop.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/kit/SymbolButton.h"
#include "ui/settings/kit/SymbolIcon.h"

namespace velaro {
namespace {

QFont monospacedCaption() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(SettingsStyle::caption2Font().pixelSize());
    return font;
}

void setInk(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::WindowText, colour);
    label->setPalette(palette);
}

}  // namespace

// ---- row ----

PaletteEditor::Row::Row(PaletteEditor& editor, std::size_t index, QWidget* parent)
    : QWidget(parent), index_(index), wellState_(std::make_shared<WellState>()) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    const QString number = QString::number(index + 1);

    auto* ordinal = new QLabel(number, this);
    ordinal->setFont(monospacedCaption());
    setInk(ordinal, SettingsStyle::tertiaryText(palette()));
    ordinal->setFixedWidth(16);
    ordinal->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(ordinal);

    // The well reads its entry afresh; its write waits for the next turn and then lands only on the entry it
    // was made for (see WellState). The write holds no pointer to the row or the editor.
    const auto read = editor.spec_.read;
    const auto writeBack = editor.spec_.writeBack;
    MainLoop& loop = editor.loop_;
    Binding<Color> colour{[read, index] {
                              const std::vector<std::string> list = read();
                              if (index < list.size())
                                  if (auto parsed = colorFromHex(list[index])) return *parsed;
                              return Color::white();
                          },
                          [read, writeBack, index, state = wellState_, &loop](Color picked) {
                              const std::string hex = hexString(picked);
                              std::string expected = std::exchange(state->expected, hex);
                              ++state->pending;
                              loop.post([read, writeBack, index, state, hex, expected = std::move(expected)] {
                                  --state->pending;
                                  std::vector<std::string> list = read();
                                  if (index >= list.size() || list[index] != expected) return;
                                  list[index] = hex;
                                  writeBack(std::move(list));
                              });
                          }};
    well_ = new ColorWell(std::move(colour), false, this);
    well_->setFixedSize(30, 18);
    well_->setAccessibleName(editor.spec_.wellLabelPrefix + number);
    layout->addWidget(well_);

    text_ = new QLabel(this);
    text_->setFont(monospacedCaption());
    text_->setTextFormat(Qt::PlainText);
    setInk(text_, SettingsStyle::secondaryText(palette()));
    layout->addWidget(text_);
    layout->addStretch(1);

    up_ = new SymbolButton("chevron.up", 18, QStringLiteral("Move color %1 up").arg(number), this);
    down_ = new SymbolButton("chevron.down", 18, QStringLiteral("Move color %1 down").arg(number), this);
    remove_ = new SymbolButton("minus.circle", 18, QStringLiteral("Remove color %1").arg(number), this);
    for (SymbolButton* button : {up_, down_, remove_}) layout->addWidget(button);
    QObject::connect(up_, &QAbstractButton::clicked, this, [&editor, index] { editor.move(index, -1); });
    QObject::connect(down_, &QAbstractButton::clicked, this, [&editor, index] { editor.move(index, +1); });
    QObject::connect(remove_, &QAbstractButton::clicked, this, [&editor, index] { editor.remove(index); });
}

void PaletteEditor::Row::showEntry(const std::vector<std::string>& list) {
    const std::string& entry = list[index_];
    // Only a well with nothing queued learns the entry from the list; otherwise its own last pick stands.
    if (wellState_->pending == 0) wellState_->expected = entry;
    text_->setText(QString::fromStdString(entry));
    well_->refresh();
    up_->setEnabled(index_ > 0);
    down_->setEnabled(index_ + 1 < list.size());
    remove_->setEnabled(list.size() > minimumCount);
}

// ---- editor ----

PaletteEditor::PaletteEditor(MainLoop& loop, Spec spec, QWidget* parent)
    : SettingsRow(parent), loop_(loop), spec_(std::move(spec)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto* rowHolder = new QWidget(this);
    rowColumn_ = new QVBoxLayout(rowHolder);
    rowColumn_->setContentsMargins(0, 0, 0, 0);
    rowColumn_->setSpacing(4);
    column->addWidget(rowHolder);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    add_ = new QPushButton(symbolIcon("plus", palette().color(QPalette::ButtonText)), QStringLiteral("Add"),
                           this);
    auto* resetButton = new QPushButton(spec_.resetLabel, this);
    for (QPushButton* button : {add_, resetButton}) {
        button->setFont(SettingsStyle::captionFont());
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    buttons->addWidget(add_);
    buttons->addStretch(1);
    buttons->addWidget(resetButton);
    column->addLayout(buttons);
    QObject::connect(add_, &QAbstractButton::clicked, this, [this] { add(); });
    QObject::connect(resetButton, &QAbstractButton::clicked, this, [this] { reset(); });

    auto* caption = new QLabel(spec_.caption, this);
    caption->setFont(SettingsStyle::caption2Font());
    setInk(caption, SettingsStyle::tertiaryText(palette()));
    caption->setWordWrap(true);
    column->addWidget(caption);

    closeSharedColorPanelWhenHidden(*this);
    refresh();
}

PaletteEditor::~PaletteEditor() = default;

void PaletteEditor::refresh() {
    const std::vector<std::string> entries = list();
    while (rows_.size() < entries.size()) {
        auto* row = new Row(*this, rows_.size(), rowColumn_->parentWidget());
        rowColumn_->addWidget(row);
        rows_.push_back(row);
    }
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const bool shown = i < entries.size();
        if (shown) rows_[i]->showEntry(entries);
        rows_[i]->setVisible(shown);
    }
    add_->setEnabled(entries.size() < maximumCount);
}

void PaletteEditor::write(std::vector<std::string> entries) {
    spec_.writeBack(std::move(entries));
}

void PaletteEditor::move(std::size_t index, int step) {
    std::vector<std::string> entries = list();
    const std::size_t other = index + std::size_t(std::ptrdiff_t(step));
    if (index >= entries.size() || other >= entries.size()) return;
    releaseSharedColorPanel();
    std::swap(entries[index], entries[other]);
    write(std::move(entries));
}

void PaletteEditor::remove(std::size_t index) {
    std::vector<std::string> entries = list();
    if (entries.size() <= minimumCount || index >= entries.size()) return;
    releaseSharedColorPanel();
    entries.erase(entries.begin() + std::ptrdiff_t(index));
    write(std::move(entries));
}

void PaletteEditor::add() {
    std::vector<std::string> entries = list();
    if (entries.size() >= maximumCount || entries.empty()) return;
    entries.push_back(entries.back());
    write(std::move(entries));
}

void PaletteEditor::reset() {
    releaseSharedColorPanel();
    write(spec_.resetList);
}

}  // namespace velaro
