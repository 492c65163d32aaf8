// Finding a widget of a C++ class among a widget's descendants. Qt's findChild needs the class to declare
// Q_OBJECT; most of the app's widgets do not, so tests look through every descendant instead.
#pragma once

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

}  // namespace velaro::test
