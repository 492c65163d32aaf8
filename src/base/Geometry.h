// Points, sizes and rectangles in points, and the conversions between the desktop's coordinate conventions.
#pragma once

#include <algorithm>
#include <cmath>
#include <ostream>

namespace velaro {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// A rectangle given by its origin (smallest x and y) and a non-negative size, in whichever convention the
// caller documents: "global" (origin at the primary screen's bottom-left, y up), "top-left global" (origin at
// the primary screen's top-left, y down) or X11 root coordinates.
struct Rect {
    Point origin;
    Size size;

    constexpr Rect() = default;
    constexpr Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}
    constexpr Rect(Point o, Size s) : origin(o), size(s) {}

    double x() const { return origin.x; }
    double y() const { return origin.y; }
    double width() const { return size.width; }
    double height() const { return size.height; }
    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    double midX() const { return origin.x + size.width / 2; }
    double midY() const { return origin.y + size.height / 2; }
    double area() const { return isEmpty() ? 0 : size.width * size.height; }
    bool isEmpty() const { return !(size.width > 0) || !(size.height > 0); }

    // Half-open containment, as the desktop's hit tests use it.
    bool contains(Point p) const { return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY(); }
    bool intersects(const Rect& o) const { return !intersection(o).isEmpty(); }
    // The overlap of two rectangles; an empty rectangle at the origin when they do not overlap.
    Rect intersection(const Rect& o) const {
        const double x0 = std::max(minX(), o.minX()), x1 = std::min(maxX(), o.maxX());
        const double y0 = std::max(minY(), o.minY()), y1 = std::min(maxY(), o.maxY());
        if (!(x1 > x0) || !(y1 > y0)) return {};
        return {x0, y0, x1 - x0, y1 - y0};
    }
    Rect united(const Rect& o) const {
        if (isEmpty()) return o;
        if (o.isEmpty()) return *this;
        const double x0 = std::min(minX(), o.minX()), y0 = std::min(minY(), o.minY());
        return {x0, y0, std::max(maxX(), o.maxX()) - x0, std::max(maxY(), o.maxY()) - y0};
    }
    Rect insetBy(double dx, double dy) const {
        return {origin.x + dx, origin.y + dy, size.width - 2 * dx, size.height - 2 * dy};
    }
    Rect offsetBy(double dx, double dy) const {
        return {origin.x + dx, origin.y + dy, size.width, size.height};
    }

    friend bool operator==(const Rect&, const Rect&) = default;
};

std::ostream& operator<<(std::ostream& os, const Point& p);
std::ostream& operator<<(std::ostream& os, const Size& s);
std::ostream& operator<<(std::ostream& os, const Rect& r);

// Converts between X11 root coordinates (origin at the root's top-left, y down) and the two global
// conventions the model code is written in. Both global conventions are anchored at the primary monitor:
// "global" has its origin at the primary's bottom-left with y up, "top-left global" at its top-left with
// y down. This is the one place these conversions live.
class CoordinateSpace {
public:
    CoordinateSpace() = default;
    // `primaryInRoot`: the primary monitor's rectangle in X11 root coordinates.
    explicit CoordinateSpace(Rect primaryInRoot) : primary_(primaryInRoot) {}

    Rect primaryInRoot() const { return primary_; }

    Rect globalFromRoot(const Rect& r) const {
        return {r.x() - primary_.x(), primary_.maxY() - r.maxY(), r.width(), r.height()};
    }
    Rect rootFromGlobal(const Rect& r) const {
        return {r.x() + primary_.x(), primary_.maxY() - r.maxY(), r.width(), r.height()};
    }
    Point globalFromRoot(Point p) const { return {p.x - primary_.x(), primary_.maxY() - p.y}; }
    Point rootFromGlobal(Point p) const { return {p.x + primary_.x(), primary_.maxY() - p.y}; }

    Rect topLeftFromRoot(const Rect& r) const {
        return {r.x() - primary_.x(), r.y() - primary_.y(), r.width(), r.height()};
    }
    Rect rootFromTopLeft(const Rect& r) const {
        return {r.x() + primary_.x(), r.y() + primary_.y(), r.width(), r.height()};
    }
    Point topLeftFromRoot(Point p) const { return {p.x - primary_.x(), p.y - primary_.y()}; }

    // Between the two global conventions: a flip about the primary monitor's height.
    Rect globalFromTopLeft(const Rect& r) const {
        return {r.x(), primary_.height() - r.maxY(), r.width(), r.height()};
    }
    Rect topLeftFromGlobal(const Rect& r) const {
        return {r.x(), primary_.height() - r.maxY(), r.width(), r.height()};
    }
    Point globalFromTopLeft(Point p) const { return {p.x, primary_.height() - p.y}; }
    Point topLeftFromGlobal(Point p) const { return {p.x, primary_.height() - p.y}; }

private:
    Rect primary_;
};

}  // namespace velaro
