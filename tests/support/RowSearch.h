// Finding the parts of a settings page the way a user does: a row by the title it shows, a section by its
// header, a caption by its text. Pages keep their rows private; tests reach them only through what is shown.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QString>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "support/WidgetSearch.h"
#include "ui/settings/SettingsCategory.h"
#include "ui/settings/kit/SettingsKit.h"

namespace velaro::test {

// The rows of class Row under `root` whose own title label reads `title`, in layout order.
template <class Row>
std::vector<Row*> rowsTitled(const QObject* root, const QString& title) {
    std::vector<Row*> rows;
    for (Row* row : findWidgets<Row>(root))
        for (const QLabel* label : row->template findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
            if (label->text() == title) {
                rows.push_back(row);
                break;
            }
    return rows;
}

// The one such row; a missing or ambiguous title fails the test (gtest reports the exception).
template <class Row>
Row* rowTitled(const QObject* root, const QString& title) {
    const auto rows = rowsTitled<Row>(root, title);
    if (rows.size() != 1)
        throw std::runtime_error(std::to_string(rows.size()) + " rows titled \"" + title.toStdString() +
                                 "\"");
    return rows.front();
}

// The block a section header titled `title` heads (the header and the card under it).
inline QWidget* sectionTitled(const QObject* root, const QString& title) {
    return rowTitled<SettingsSectionHeader>(root, title)->parentWidget();
}

// The first widget of class T under `root` that a screen reader would announce as `name`, or null.
template <class T>
T* findAccessible(const QObject* root, const QString& name) {
    for (T* widget : findWidgets<T>(root))
        if (widget->accessibleName() == name) return widget;
    return nullptr;
}

// The caption or notice under `root` showing exactly `text`, or null.
inline SpacedText* textReading(const QObject* root, const QString& text) {
    for (SpacedText* shown : findWidgets<SpacedText>(root))
        if (shown->text() == text) return shown;
    return nullptr;
}

// The label under `root` showing exactly `text`, or null.
inline QLabel* labelReading(const QObject* root, const QString& text) {
    for (QLabel* label : root->findChildren<QLabel*>())
        if (label->text() == text) return label;
    return nullptr;
}

// The button under `root` labelled `text`; a missing label fails the test (gtest reports the exception).
inline QAbstractButton* buttonLabelled(const QObject* root, const QString& text) {
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>())
        if (button->text() == text) return button;
    throw std::runtime_error("no button labelled \"" + text.toStdString() + "\"");
}

// The value text a slider row shows beside its slider; empty while it shows none. It is the row's shown
// text that is not the row's title (the slider is announced by the title).
inline QString valueShown(const SettingsSliderRow* row) {
    for (const QLabel* label : row->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (!label->isHidden() && !label->text().isEmpty() &&
            label->text() != row->slider()->accessibleName())
            return label->text();
    return QString();
}

// The pop-up menu a picker row shows, or null for a segmented row.
inline QComboBox* menuOf(const SettingsChoiceRow* row) { return row->findChild<QComboBox*>(); }

// The segments a segmented row shows, in order; none for a picker row.
inline QList<QAbstractButton*> segmentsOf(const SettingsChoiceRow* row) {
    return row->findChildren<QAbstractButton*>();
}

// The index of the option a picker or segmented row shows chosen: the pop-up menu's current item, or the
// segment that is checked; -1 for none.
inline int shownChoice(const SettingsChoiceRow* row) {
    if (const auto* menu = menuOf(row)) return menu->currentIndex();
    const auto segments = segmentsOf(row);
    for (int i = 0; i < segments.size(); ++i)
        if (segments[i]->isChecked()) return i;
    return -1;
}

// The colour painted at the middle of a widget, as a colour well's swatch shows its colour there.
inline QColor paintedCentre(QWidget* widget) {
    return widget->grab().toImage().pixelColor(widget->width() / 2, widget->height() / 2);
}

// The page a settings view made for a category, which carries the category's name; null before it was first
// selected.
inline QWidget* madePage(const QWidget& view, SettingsCategory category) {
    const std::string_view name = rawValue(category);
    return findNamed<QWidget>(&view, QString::fromUtf8(name.data(), qsizetype(name.size())));
}

// The page a settings view shows now: the one of the pages it has made that is visible; null when none is.
inline QWidget* shownPage(const QWidget& view) {
    for (SettingsCategory category : allSettingsCategories)
        if (QWidget* page = madePage(view, category); page && page->isVisibleTo(&view)) return page;
    return nullptr;
}

}  // namespace velaro::test
