// The seven demonstration clips. Each draws the same miniature desktop (wallpaper, a top panel with its items,
// windows, a pointer) and shows one feature on it with the overlay's own painters: the band's fill, the pill
// mask, the corner ears and the light beam.
#include "onboarding/TourClips.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "overlay/BarFillStyles.h"
#include "overlay/CornerGeometry.h"
#include "overlay/LightBeam.h"
#include "overlay/PillMask.h"
#include "settings/CornerSettings.h"

namespace velaro {

namespace {

constexpr double kBar = 44;  // the miniature top panel's height

// Progress 0…1 of `t` through [from, to], eased out.
double phase(double t, double from, double to) {
    if (t <= from) return 0;
    if (t >= to) return 1;
    const double x = (t - from) / (to - from);
    return 1 - (1 - x) * (1 - x);
}

QRectF lerp(const QRectF& a, const QRectF& b, double p) {
    return {a.x() + (b.x() - a.x()) * p, a.y() + (b.y() - a.y()) * p, a.width() + (b.width() - a.width()) * p,
            a.height() + (b.height() - a.height()) * p};
}

Color mix(const Color& a, const Color& b, double p) {
    return {a.red + (b.red - a.red) * p, a.green + (b.green - a.green) * p, a.blue + (b.blue - a.blue) * p,
            a.alpha + (b.alpha - a.alpha) * p};
}

const Color kEmber{0.78, 0.31, 0.18, 1};
const Color kTeal{0.11, 0.55, 0.58, 1};
const Color kPlum{0.36, 0.22, 0.55, 1};

// The desktop every clip stands on.
class Desktop {
public:
    explicit Desktop(QSizeF size) : size_(size) {}

    QRectF screen() const { return {QPointF(0, 0), size_}; }
    QRectF bar() const { return {0, 0, size_.width(), kBar}; }
    // Where a window that fills the screen below the bar lies.
    QRectF workArea() const { return {0, kBar, size_.width(), size_.height() - kBar}; }

    void paintWallpaper(QPainter& p) const {
        QLinearGradient sky(0, 0, size_.width(), size_.height());
        sky.setColorAt(0, QColor(0x2b, 0x3f, 0x6b));
        sky.setColorAt(0.55, QColor(0x6b, 0x4a, 0x8a));
        sky.setColorAt(1, QColor(0xd9, 0x7a, 0x5b));
        p.fillRect(screen(), sky);
        QPainterPath hills;
        hills.moveTo(0, size_.height() * 0.78);
        hills.cubicTo(size_.width() * 0.3, size_.height() * 0.62, size_.width() * 0.6, size_.height() * 0.9,
                      size_.width(), size_.height() * 0.72);
        hills.lineTo(size_.width(), size_.height());
        hills.lineTo(0, size_.height());
        hills.closeSubpath();
        p.fillPath(hills, QColor(0x1d, 0x24, 0x3a, 200));
    }

    // The panel's items: launchers and window buttons on the left, the tray's icons and the clock on the right.
    void paintBarItems(QPainter& p) const {
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        const QColor ink(255, 255, 255, 235);
        double x = 24;
        for (const double w : {26.0, 70.0, 44.0, 48.0, 40.0}) {
            p.fillPath(rounded(QRectF(x, kBar / 2 - 6, w, 12), 4),
                       w == 70.0 ? ink : QColor(255, 255, 255, 190));
            x += w + 22;
        }
        double right = size_.width() - 24;
        for (const double w : {96.0, 22.0, 22.0, 22.0, 22.0}) {
            right -= w;
            p.fillPath(rounded(QRectF(right, kBar / 2 - 7, w, 14), w > 30 ? 4 : 7), ink);
            right -= 18;
        }
        p.restore();
    }

    // The pill as the pill shape wraps the panel here: around the tray and the clock at its right end; the
    // left side stays bare.
    PillGeometry pills() const {
        return PillGeometry{std::nullopt,
                            PillSpan{size_.width() - 24 - 96 - 4 * 22 - 4 * 18 - 10, size_.width() - 14}};
    }

    // A window with a title bar and its three buttons; `maximiseLit` lights the maximise button.
    void paintWindow(QPainter& p, const QRectF& r, const Color& body, bool maximiseLit = false) const {
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(rounded(r.adjusted(-2, 4, 2, 8), 12), QColor(0, 0, 0, 60));
        p.fillPath(rounded(r, 10), toQColor(body));
        const QRectF title(r.left(), r.top(), r.width(), 34);
        p.fillPath(rounded(title, 10), toQColor(mix(body, Color{1, 1, 1, 1}, 0.18)));
        for (int i = 0; i < 3; ++i) {
            const QPointF c = buttonCentre(r, i);
            QColor colour = i == 0 ? QColor(255, 255, 255, 150) : QColor(255, 255, 255, 110);
            if (i == 2 && maximiseLit) colour = QColor(0x5f, 0xd0, 0x6b);
            p.setBrush(colour);
            p.setPen(Qt::NoPen);
            p.drawEllipse(c, 7, 7);
        }
        // A few lines of content.
        for (int i = 0; i < 4; ++i)
            p.fillRect(
                QRectF(r.left() + 28, r.top() + 64 + i * 30, std::max(0.0, r.width() * (0.5 - i * 0.08)), 10),
                QColor(255, 255, 255, 60));
        p.restore();
    }
    // The centre of title-bar button `i` (0 close, 1 minimise, 2 maximise), from the right.
    static QPointF buttonCentre(const QRectF& window, int i) {
        return {window.right() - 24 - (2 - i) * 24, window.top() + 17};
    }

    static void paintPointer(QPainter& p, QPointF tip, bool pressed = false) {
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath arrow;
        arrow.moveTo(tip);
        arrow.lineTo(tip + QPointF(0, 30));
        arrow.lineTo(tip + QPointF(8, 23));
        arrow.lineTo(tip + QPointF(14, 35));
        arrow.lineTo(tip + QPointF(19, 33));
        arrow.lineTo(tip + QPointF(13, 21));
        arrow.lineTo(tip + QPointF(23, 21));
        arrow.closeSubpath();
        p.fillPath(arrow, pressed ? QColor(230, 230, 230) : Qt::white);
        p.strokePath(arrow, QPen(Qt::black, 2));
        p.restore();
    }

    // The band over the bar in one colour, drawn by the overlay's own fill.
    static void paintBand(QPainter& p, const QRectF& rect, const Color& colour, double opacity) {
        if (opacity <= 0) return;
        MenuBarStyleFill fill;
        fill.style = MenuBarStyle::solid;
        fill.color = colour;
        fill.opacity = opacity;
        fill.paint(p, rect);
    }

    static QPainterPath rounded(const QRectF& r, double radius) {
        QPainterPath path;
        path.addRoundedRect(r, radius, radius);
        return path;
    }

private:
    QSizeF size_;
};

// A clip whose frames come from one drawing function over the desktop.
class DesktopClip final : public TourClip {
public:
    using Draw = void (*)(QPainter&, const Desktop&, double);
    DesktopClip(QSizeF size, double duration, Draw draw) : size_(size), duration_(duration), draw_(draw) {}
    QSizeF naturalSize() const override { return size_; }
    double duration() const override { return duration_; }
    void paint(QPainter& painter, double seconds) const override {
        painter.save();
        painter.setClipRect(QRectF(QPointF(0, 0), size_));
        const Desktop desktop(size_);
        desktop.paintWallpaper(painter);
        draw_(painter, desktop, std::clamp(seconds, 0.0, duration_));
        painter.restore();
    }

private:
    QSizeF size_;
    double duration_;
    Draw draw_;
};

// Every clip rests on its first frame, so that frame shows the feature at work, and its last frame is its
// first again, so a clip that loops runs on without a jump.

// A window filling the screen under the band, which takes its colour; a second window slides over it and
// away, then the first steps back to a floating size (the band fades) and fills the screen again.
struct FillingWindows {
    QRectF first, second;
    double swap;    // how far the second window has come in (0 away, 1 filling)
    Color colour;   // of the window now filling the top
    double filled;  // how far a window fills the top (0 none, 1 filling)
};
FillingWindows fillingWindows(const Desktop& d, double t) {
    const QRectF floating(180, 170, 760, 520);
    const double swap = phase(t, 1.0, 1.6) * (1 - phase(t, 2.4, 3.0));
    const double grow = 1 - phase(t, 3.2, 3.8) + phase(t, 4.2, 4.9);
    const QRectF second(d.workArea().translated(0, d.workArea().height() * (1 - swap)));
    return {lerp(floating, d.workArea(), grow), second, swap, mix(kEmber, kTeal, swap), grow};
}

void paintFillingWindows(QPainter& p, const Desktop& d, const FillingWindows& w) {
    d.paintWindow(p, w.first, kEmber);
    if (w.swap > 0) d.paintWindow(p, w.second, kTeal);
}

void drawFullBar(QPainter& p, const Desktop& d, double t) {
    const FillingWindows w = fillingWindows(d, t);
    paintFillingWindows(p, d, w);
    Desktop::paintBand(p, d.bar(), w.colour, w.filled);
    d.paintBarItems(p);
}

void drawPill(QPainter& p, const Desktop& d, double t) {
    const FillingWindows w = fillingWindows(d, t);
    paintFillingWindows(p, d, w);
    // The band is cut down to a capsule around the tray and clock, as the overlay's pill shape is.
    const CornerSettings corners;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipPath(pillMaskPath(d.pills(), corners, kBar));
    Desktop::paintBand(p, d.bar(), w.colour, w.filled);
    p.restore();
    d.paintBarItems(p);
}

void drawCornerRounding(QPainter& p, const Desktop& d, double t) {
    d.paintWindow(p, d.workArea(), kPlum);
    Desktop::paintBand(p, d.bar(), kPlum, 1);
    d.paintBarItems(p);
    // The screen's corners are round; the top ones under the bar square off, then the bottom ones, and they
    // round again, bottom ones first.
    // Wider than the well's own rounding, which they would hide behind otherwise.
    const double bottom = 150 * (1 - phase(t, 2.2, 2.8) + phase(t, 3.2, 4.0));
    const double top = 110 * (1 - phase(t, 2.0, 2.6) + phase(t, 4.0, 4.6));
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    for (const auto& [corner, radius] :
         {std::pair{ScreenCorner::bottomLeft, bottom}, std::pair{ScreenCorner::bottomRight, bottom},
          std::pair{ScreenCorner::screenTopLeft, top}, std::pair{ScreenCorner::screenTopRight, top}})
        p.fillPath(cornerNotchPath(corner, d.screen(), radius), Qt::black);
    p.restore();
}

void drawLightReflections(QPainter& p, const Desktop& d, double t) {
    d.paintWindow(p, d.workArea(), Color{0.12, 0.14, 0.2, 1});
    Desktop::paintBand(p, d.bar(), Color{0.12, 0.14, 0.2, 1}, 1);
    d.paintBarItems(p);
    // The pointer glides along the top; the beam follows it in a warm light.
    const double width = d.screen().width();
    const double x = width * (0.5 + 0.36 * std::sin(t / 6.0 * 2 * M_PI));
    // The beam is drawn at three times its size, so it reads in the small well.
    const Color warm{1.0, 0.62, 0.3, 1};
    p.save();
    p.translate(x, 0);
    p.scale(3, 3);
    paintBeam(p, beamLayout(BeamSettings{}, 1.0, warm, 0, 1.0, 2.0), warm);
    p.restore();
    Desktop::paintPointer(p, QPointF(x, kBar * 0.55));
}

void drawVisualizer(QPainter& p, const Desktop& d, double t) {
    d.paintWindow(p, QRectF(260, 200, 700, 460), kPlum);
    d.paintBarItems(p);
    // Bars hang from the top edge and dance with the music.
    const int count = 32;
    const double gap = 6;
    const double w = (d.screen().width() - gap * (count + 1)) / count;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < count; ++i) {
        const double f = 1.3 + 0.37 * (i % 7);
        const double a = std::abs(std::sin(2 * M_PI * (f * t / 2 + i * 0.173)));
        const double h = 14 + 90 * a * (0.55 + 0.45 * std::sin(i * 0.41 + 1.0));
        const QRectF r(gap + i * (w + gap), 0, w, h);
        QLinearGradient g(r.topRight(), r.bottomLeft());
        g.setColorAt(0, QColor(255, 81, 1, 230));
        g.setColorAt(1, QColor(255, 178, 60, 200));
        p.fillPath(Desktop::rounded(r.adjusted(0, -w / 2, 0, 0), w / 2), g);
    }
    p.restore();
}

void drawProgressBar(QPainter& p, const Desktop& d, double t) {
    d.paintWindow(p, QRectF(300, 220, 680, 420), kTeal);
    d.paintBarItems(p);
    // The playing track's progress runs along the very top of the screen, then the player seeks back.
    const double progress = 0.3 + 0.6 * std::clamp(t / 5.2, 0.0, 1.0) - 0.6 * phase(t, 5.3, 5.9);
    QLinearGradient g(0, 0, d.screen().width() * progress, 0);
    g.setColorAt(0, QColor(255, 114, 1));
    g.setColorAt(1, QColor(255, 200, 120));
    p.save();
    // Thick enough to read in the small well.
    p.fillRect(QRectF(0, 0, d.screen().width() * progress, 9), g);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(d.screen().width() * progress, 4.5), 9, 9);
    p.restore();
}

void drawFillWindow(QPainter& p, const Desktop& d, double t) {
    // The window fills the screen below the bar; it steps back to its floating size, the pointer comes to
    // its maximise button and clicks it, and it fills the screen again.
    const QRectF floating(220, 190, 760, 500);
    const double grow = 1 - phase(t, 0.8, 1.3) + phase(t, 2.6, 3.1);
    const QRectF window = lerp(floating, d.workArea(), grow);
    const QPointF button = Desktop::buttonCentre(floating, 2);
    const bool over = t > 2.0 && t < 2.7;
    d.paintWindow(p, window, kEmber, over);
    Desktop::paintBand(p, d.bar(), kEmber, grow);
    d.paintBarItems(p);
    const QPointF rest(760, 420);
    const QPointF at = rest + (button - rest) * (phase(t, 1.3, 2.2) - phase(t, 3.2, 4.2));
    Desktop::paintPointer(p, at, t > 2.4 && t < 2.6);
}

}  // namespace

std::unique_ptr<TourClip> findTourClip(std::string_view name) {
    // The wider scenes keep their left side in the well, the taller one its bottom.
    const QSizeF wide(1280, 900), tall(1280, 1000), even(1280, 944);
    if (name == "tour-fullbar") return std::make_unique<DesktopClip>(wide, 5.0, drawFullBar);
    if (name == "tour-pill") return std::make_unique<DesktopClip>(wide, 5.0, drawPill);
    if (name == "tour-cornerrounding") return std::make_unique<DesktopClip>(tall, 5.0, drawCornerRounding);
    if (name == "tour-lightreflections")
        return std::make_unique<DesktopClip>(wide, 6.0, drawLightReflections);
    if (name == "tour-visualizer") return std::make_unique<DesktopClip>(wide, 6.0, drawVisualizer);
    if (name == "tour-progressbar") return std::make_unique<DesktopClip>(wide, 6.0, drawProgressBar);
    if (name == "tour-fillwindow") return std::make_unique<DesktopClip>(even, 5.0, drawFillWindow);
    return nullptr;
}

}  // namespace velaro
