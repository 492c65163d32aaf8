// The app's own symbols: monochrome SVG glyphs in assets/symbols, named in the app's symbol vocabulary
// ("eye", "gearshape.fill", "exclamationmark.triangle.fill", …) and recoloured when they are painted.
// Adding a symbol: draw it on a 24 × 24 grid in black and put it in assets/symbols under its name; the build
// compiles every SVG there into the settings library.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <string_view>

class QPainter;
class QRectF;

namespace velaro {

// Whether the app has a glyph of that name.
bool hasSymbol(std::string_view symbol);

// The glyph in black, for callers that tint it themselves; a null icon for an unknown name.
QIcon symbolIcon(std::string_view symbol);
// The glyph in one colour, dimmed in the disabled mode; a null icon for an unknown name.
QIcon symbolIcon(std::string_view symbol, const QColor& colour);

// The glyph in `colour`, `size` points square at the given pixel ratio; a null pixmap for an unknown name.
QPixmap symbolPixmap(std::string_view symbol, int size, const QColor& colour, qreal devicePixelRatio = 1);

// Paints the glyph in `colour`, fitted into `rect`; nothing for an unknown name.
void paintSymbol(QPainter& painter, const QRectF& rect, std::string_view symbol, const QColor& colour);

}  // namespace velaro
