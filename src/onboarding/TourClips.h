// The feature pages' demonstration clips: short animations of a miniature desktop, painted live for any
// moment of their run (no video files, no decoded frames kept). Each has a natural size, in which it draws,
// and a duration; it is found by its name ("tour-pill", "tour-visualizer", …).
#pragma once

#include <QSizeF>
#include <memory>
#include <string_view>

class QPainter;

namespace velaro {

class TourClip {
public:
    virtual ~TourClip() = default;
    // The size the clip draws in; the well scales it to cover itself.
    virtual QSizeF naturalSize() const = 0;
    // Seconds of one run.
    virtual double duration() const = 0;
    // Draws the frame at `seconds` into the rectangle (0, 0, naturalSize()).
    virtual void paint(QPainter& painter, double seconds) const = 0;
};

// The clip of that name; none for a name the tour does not have.
std::unique_ptr<TourClip> findTourClip(std::string_view name);

// Every clip name, in the order the feature pages come.
inline constexpr std::string_view tourClipNames[] = {
    "tour-fullbar",    "tour-pill",        "tour-cornerrounding", "tour-lightreflections",
    "tour-visualizer", "tour-progressbar", "tour-fillwindow"};

}  // namespace velaro
