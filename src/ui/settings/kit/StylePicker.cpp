// The style chips, their strip and the description.
#include "ui/settings/kit/StylePicker.h"

#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/settings/kit/SegmentedControl.h"
#include "ui/settings/kit/SettingsStyle.h"

namespace velaro {

const char* styleLabel(MenuBarStyle style) {
    switch (style) {
        case MenuBarStyle::gradient:
            return "Fade";
        case MenuBarStyle::live:
            return "Live";
        case MenuBarStyle::solid:
            break;
    }
    return "Solid";
}

const char* styleDescription(MenuBarStyle style) {
    switch (style) {
        case MenuBarStyle::gradient:
            return "Vertical fade — opaque at the bottom edge, lighter toward the top.";
        case MenuBarStyle::live:
            return "Mirrors the screen beneath as vertical color bands — tabs, splits, and gradients.";
        case MenuBarStyle::solid:
            break;
    }
    return "A single flat color across the whole bar.";
}

StylePicker::StylePicker(Binding<MenuBarStyle> selection, QWidget* parent)
    : SettingsRow(parent), selection_(std::move(selection)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    std::vector<QString> labels;
    for (MenuBarStyle style : pickerStyles) labels.push_back(QString::fromUtf8(styleLabel(style)));
    // A press never shows its chip chosen by itself: the stored style changes only when the queued write
    // lands, and the chips show the stored style.
    chips_ = new SegmentedControl(labels, false, this);
    chips_->onPressed = [this](int index) { selection_.set(pickerStyles[std::size_t(index)]); };
    chips_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    column->addWidget(chips_);

    description_ = new QLabel(this);
    description_->setFont(SettingsStyle::caption2Font());
    description_->setWordWrap(true);
    QPalette quiet = description_->palette();
    quiet.setColor(QPalette::WindowText, SettingsStyle::secondaryText(quiet));
    description_->setPalette(quiet);
    column->addWidget(description_);
    refresh();
}

void StylePicker::refresh() {
    const MenuBarStyle current = selection_.get();
    const auto at = std::find(pickerStyles.begin(), pickerStyles.end(), current);
    chips_->setChosen(at == pickerStyles.end() ? -1 : int(at - pickerStyles.begin()));
    description_->setText(QString::fromUtf8(styleDescription(current)));
}

QAbstractButton* StylePicker::button(MenuBarStyle style) const {
    const auto at = std::find(pickerStyles.begin(), pickerStyles.end(), style);
    return at == pickerStyles.end() ? nullptr : chips_->segment(int(at - pickerStyles.begin()));
}

}  // namespace velaro
