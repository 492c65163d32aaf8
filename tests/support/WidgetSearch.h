// Finding a widget of a C++ class among a widget's descendants. Qt's findChild needs the class to declare
// Q_OBJECT; most of the app's widgets do not, so tests look through every descendant instead.
#pragma once

#include <QAbstractButton>
#include <QWidget>
#include <vector>

namespace velaro::test {

template <class T>
std::vector<T*> findWidgets(const QObject* root) {
    std::vector<T*> found;
    for (QWidget* widget : root->findChildren<QWidget*>())
        if (auto* match = dynamic_cast<T*>(widget)) found.push_back(match);
    return found;
}

// The first descendant of that class, or null.
template <class T>
T* findWidget(const QObject* root) {
    const auto found = findWidgets<T>(root);
    return found.empty() ? nullptr : found.front();
}

// The button among the descendants that shows that text, as the user reads it, or null.
inline QAbstractButton* findButton(const QObject* root, const QString& text) {
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>())
        if (button->text() == text) return button;
    return nullptr;
}

// The descendant of that class with that object name, or null.
template <class T>
T* findNamed(const QObject* root, const QString& name) {
    for (T* widget : findWidgets<T>(root))
        if (widget->objectName() == name) return widget;
    return nullptr;
}

}  // namespace velaro::test
