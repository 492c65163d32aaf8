// One captured row of the strip under the bar, with the width in points at which it is drawn.
#pragma once

#include <QImage>

namespace velaro {

struct LiveLine {
    QImage image;  // one row high
    double pointWidth = 0;
};

}  // namespace velaro
