// The settings pages' one look: fonts, colours and the card painter every page and the popover's group boxes
// share. Sizes are in points (Qt's device-independent pixels); colours follow the widget's palette, so
// light and dark themes both work.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRectF>

class QPainter;

namespace velaro::SettingsStyle {

// The type sizes were drawn for screens of scale 2, where even the smallest is legible. No text renders
// smaller than this many device pixels: on a scale-1 screen the smallest sizes are raised to it, and every
// larger size keeps its own.
inline constexpr double minimumTextPixels = 9;
// `points`, raised where needed so that it renders at least `minimumTextPixels` device pixels at the pixel
// ratio `scale`.
double readableTextSize(double points, qreal scale);

// The desktop's own font at a size in points, for text sizes given in points, never smaller than
// `minimumTextPixels` on the screens the app shows on.
QFont systemFont(double points, QFont::Weight weight = QFont::Normal);

QFont rowTitleFont();     // row titles, action rows
QFont headerFont();       // section headers
QFont noticeIconFont();   // the overlay gate's warning symbol
QFont symbolFont();       // a slider's minimum and maximum symbols
QFont valueFont();        // a slider's value text (monospaced digits)
QFont captionFont();      // caption rows, the gate's notice, the global-only note
QFont caption2Font();     // the smallest texts: a picker's description, a block's own caption
QFont badgeFont();        // the "BETA" badge
QFont titleFont();        // a page's title
QFont subheadlineFont();  // a page's blurb
QFont calloutFont();      // the About page's texts

QColor badgeColor();    // the warm orange of the "BETA" badge
QColor warningColor();  // orange: a warning that changes nothing

// The primary text colour at a given opacity: the card, its border and the hairlines are drawn with it.
QColor primary(const QPalette& palette, double opacity);
QColor cardFill(const QPalette& palette);
QColor cardStroke(const QPalette& palette);
QColor hairlineColor(const QPalette& palette);
// Text a step and two steps quieter than the primary text.
QColor secondaryText(const QPalette& palette);
QColor tertiaryText(const QPalette& palette);
// The bar behind the settings window's header row.
QColor topStripMaterial(const QPalette& palette);

inline constexpr double cardCornerRadius = 12;

// The ring that shows which control has the keyboard focus, drawn along the inside of `shape` (a rounded
// rectangle of corner `radius`): a band of the accent colour with a hairline of the window colour inside it,
// so that it shows on the accent fills of chosen segments and switched-on switches too.
void paintFocusRing(QPainter& painter, const QRectF& shape, double radius, const QPalette& palette);
inline constexpr double focusRingWidth = 2;

// A rounded card: `fill` inside, a 1-point border in `stroke` drawn inside the edge.
void paintCard(QPainter& painter, const QRectF& rect, const QColor& fill, const QColor& stroke,
               double radius = cardCornerRadius);

}  // namespace velaro::SettingsStyle
