// The stored values a test of a bounded number tries, each with the value it must load as.
#pragma once

#include <utility>
#include <vector>

#include "settings/LoadNotes.h"

namespace velaro::test {

// Both ends exactly (kept as they are), a thousandth of the span beyond either end, and a million beyond
// either way (each bounded to its end).
inline std::vector<std::pair<double, double>> boundEdges(Bounds bounds) {
    const double beyond = (bounds.hi - bounds.lo) / 1000;
    return {{bounds.lo, bounds.lo},          {bounds.hi, bounds.hi}, {bounds.lo - beyond, bounds.lo},
            {bounds.hi + beyond, bounds.hi}, {-1e6, bounds.lo},      {1e6, bounds.hi}};
}

}  // namespace velaro::test
