// Printing of geometry values, for test failure messages and diagnostics.
#include "base/Geometry.h"

namespace velaro {

std::ostream& operator<<(std::ostream& os, const Point& p) {
    return os << "(" << p.x << ", " << p.y << ")";
}
std::ostream& operator<<(std::ostream& os, const Size& s) {
    return os << s.width << "x" << s.height;
}
std::ostream& operator<<(std::ostream& os, const Rect& r) {
    return os << r.origin << " " << r.size;
}

}  // namespace velaro
