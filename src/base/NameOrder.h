// Lists ordered by names as people read them.
#pragma once

#include <QCollator>
#include <QString>
#include <algorithm>
#include <vector>

namespace velaro {

// Orders `items` by the name `nameOf` gives each (a std::string), ignoring case; equal names keep their
// order.
template <class T, class NameOf>
void sortByName(std::vector<T>& items, NameOf nameOf) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(items.begin(), items.end(), [&](const T& a, const T& b) {
        return collator.compare(QString::fromStdString(nameOf(a)), QString::fromStdString(nameOf(b))) < 0;
    });
}

}  // namespace velaro
