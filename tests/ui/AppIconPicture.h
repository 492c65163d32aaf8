// Which placeholder an app icon shows, read from its picture: the placeholder is only ever painted.
#pragma once

#include <QImage>
#include <string>

#include "ui/settings/kit/AppListPieces.h"

namespace velaro::test {

// Whether `icon` paints as a fresh icon of its size and palette that shows the placeholder `symbol`.
inline bool paintsPlaceholder(AppIconView& icon, const std::string& symbol) {
    // The size hint leaves room for the running dot past the square.
    AppIconView reference(icon.sizeHint().width() - 2, nullptr, symbol);
    reference.setPalette(icon.palette());
    const auto picture = [](AppIconView& view) {
        return view.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };
    return picture(reference) == picture(icon);
}

}  // namespace velaro::test
