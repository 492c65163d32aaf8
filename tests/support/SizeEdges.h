// The stored values a test of a bounded size tries, each with the value it must load as.
#pragma once

#include <utility>
#include <vector>

#include "settings/LoadNotes.h"

namespace velaro::test {

// Both ends exactly (kept as they are), a thousandth of the span beyond either end, and a million beyond
// either way (each bounded to its end).
inline std::vector<std::pair<double, double>> sizeEdges(SizeRange range) {
    const double beyond = (range.hi - range.lo) / 1000;
    return {{range.lo, range.lo},          {range.hi, range.hi}, {range.lo - beyond, range.lo},
            {range.hi + beyond, range.hi}, {-1e6, range.lo},     {1e6, range.hi}};
}

}  // namespace velaro::test
