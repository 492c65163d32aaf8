// The drawing every tour page shares: text lines set by their reference positions, the accent gradient,
// capsules, the dark cards, the gradient header and the small symbols.
#pragma once

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QString>
#include <QStringList>

#include "onboarding/TourPalette.h"

namespace velaro::tour {

// A line's text stands this fraction of its font size above its reference position: the reference is where
// the letters sit, so a line's top is reference - raise × size.
inline constexpr double lineRaise = 0.966796875;

// The notes beside the page's lower right (from x 403) keep this far inside its right edge.
inline constexpr double noteWidth = 750 - 403.119 - 12;

// Line i of a block whose first line sits at `reference` and whose lines are `step` apart: its top.
constexpr double lineTop(double reference, double step, int i, double fontSize) {
    return reference + step * i - lineRaise * fontSize;
}

// A run of lines laid by the placement rule: left edge `x`, first reference `reference`, `step` apart.
struct LineBlock {
    QStringList lines;
    FontSpec font;
    double x;
    double reference;
    double step;
    // Lines wider than this are narrowed to it (0: no limit), so a long line stays inside its card.
    double maxWidth = 0;
    // Whether a line wider than `maxWidth` is first broken between words onto further lines: for notes,
    // whose smallest size is raised on screens of scale 1 and would otherwise run off the page.
    bool wrap = false;
};

// The accent gradient over `rect`: orange at the top-trailing corner to amber at the bottom-leading one.
QLinearGradient accentGradient(const QRectF& rect);

// A capsule (a rounded rectangle whose ends are half circles).
QPainterPath capsule(const QRectF& rect);

// Draws `text` with its reference (letter foot) at `reference`, from `x`, in `brush`; returns its frame.
QRectF drawLine(QPainter& painter, const QString& text, const FontSpec& spec, double x, double reference,
                const QBrush& brush);
// As drawLine, narrowed horizontally to `maxWidth` when the text runs wider.
QRectF drawFittedLine(QPainter& painter, const QString& text, const FontSpec& spec, double x,
                      double reference, double maxWidth, const QBrush& brush);
// The frame a line takes (advance × line height), top-left at its placed top.
QRectF lineFrame(const QPaintDevice& device, const QString& text, const FontSpec& spec, double x,
                 double reference);

// One line centred in `rect`, both ways.
void drawCentredLine(QPainter& painter, const QString& text, const FontSpec& spec, const QRectF& rect,
                     const QBrush& brush);

// Every line of the block in one brush.
void drawBlock(QPainter& painter, const LineBlock& block, const QBrush& brush);

// The header every page after the welcome page carries: the gradient headline and its subtitle.
struct Header {
    QStringList headline;
    QStringList subtitle;
};
void drawHeader(QPainter& painter, const Header& header);
// Where the header's blocks are laid, for tests and accessibility.
LineBlock headlineBlock(const Header& header);
LineBlock subtitleBlock(const Header& header);

// The dark rounded card of the permission rows, feature pages and All Set cards: black at 0.6 with a
// half-point inside edge of white at 0.6 in the overlay blend.
void drawCard(QPainter& painter, const QRectF& rect, double radius = 18);

// The ring around the control that has the keyboard focus, drawn along the inside of `shape` (a rounded
// rectangle of corner `radius`): white, with a dark hairline inside it so that it shows on the accent fills
// and on the welcome page's orange alike.
void drawFocusRing(QPainter& painter, const QRectF& shape, double radius);

// The tiny symbols beside the notes: a circled "i" and a warning triangle, `size` points tall with their
// reference at `reference`.
void drawInfoSymbol(QPainter& painter, double x, double reference, double size, const QColor& colour);
// The size of the symbol beside a note: 4 points beside the note's 5, and as much larger as the note's text
// was raised; and where it starts, so that it keeps its distance from the note's text (which starts at x
// 403).
double noteSymbolSize();
inline double noteSymbolX(double size) {
    return 394.877 - 0.9 * (size - 4);
}
void drawWarningSymbol(QPainter& painter, double x, double reference, double size, const QColor& colour);

}  // namespace velaro::tour
