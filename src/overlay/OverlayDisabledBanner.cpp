// The reminder banner's window, placement, fades and drawing.
#include "overlay/OverlayDisabledBanner.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "base/MainLoop.h"
#include "platform/Screens.h"
#include "sampling/ScreenTopology.h"

namespace velaro {

namespace {

constexpr double kSymbolSize = 14;
constexpr double kSpacing = 8;
constexpr double kInnerH = 16, kInnerV = 10, kOuter = 16;
constexpr double kGapBelowBar = 8;
constexpr double kFade = 0.25;

QFont textFont() {
    QFont font;
    font.setPixelSize(12);  // the callout size
    font.setWeight(QFont::Medium);
    return font;
}

// The switch symbol is as tall as the font size and a little wider: two toggles, one on, one off.
Size symbolSize() {
    return {kSymbolSize * 1.25, kSymbolSize};
}

Size contentSize() {
    const QFontMetricsF metrics(textFont());
    const Size symbol = symbolSize();
    const double textWidth = metrics.horizontalAdvance(QString::fromUtf8(ReminderBannerView::text));
    return {symbol.width + kSpacing + textWidth, std::max(symbol.height, metrics.height())};
}

void paintSymbol(QPainter& p, const QRectF& box, const QColor& ink) {
    // Two tracks with a knob each, the upper one switched to the right.
    const double trackH = box.height() * 0.4;
    const QPen pen(ink, 1.3);
    for (int row = 0; row < 2; ++row) {
        const QRectF track(box.left(), box.top() + row * (box.height() - trackH), box.width(), trackH);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(track.adjusted(0.65, 0.65, -0.65, -0.65), trackH / 2, trackH / 2);
        const double knob = trackH - 2.6;
        const double cx = row == 0 ? track.right() - trackH / 2 : track.left() + trackH / 2;
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawEllipse(QPointF(cx, track.center().y()), knob / 2, knob / 2);
    }
}

}  // namespace

Size ReminderBannerView::idealSize() {
    const Size content = contentSize();
    return {std::ceil(content.width + 2 * (kInnerH + kOuter)),
            std::ceil(content.height + 2 * (kInnerV + kOuter))};
}

void ReminderBannerView::paint(QPainter& p, Size size) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF plate(kOuter, kOuter, size.width - 2 * kOuter, size.height - 2 * kOuter);
    if (plate.width() <= 0 || plate.height() <= 0) return;
    const double radius = plate.height() / 2;
    // Frosted dark glass: legible over light and dark panels alike, with a faint rim catching the light.
    QPainterPath capsule;
    capsule.addRoundedRect(plate, radius, radius);
    p.fillPath(capsule, QColor(28, 28, 30, 200));
    p.setPen(QPen(QColor(255, 255, 255, 56), 1));
    p.drawPath(capsule);

    const Size content = contentSize();
    const Size symbol = symbolSize();
    const double left = plate.center().x() - content.width / 2;
    const double midY = plate.center().y();
    const QColor ink(255, 255, 255, 235);
    paintSymbol(p, QRectF(left, midY - symbol.height / 2, symbol.width, symbol.height), ink);
    p.setFont(textFont());
    p.setPen(ink);
    const QRectF textRect(left + symbol.width + kSpacing, plate.top(),
                          content.width - symbol.width - kSpacing, plate.height());
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(text));
}

ReminderBannerWindow::ReminderBannerWindow(OverlayWindowHost& host, MainLoop& loop, const Screens& screens)
    : host_(host), loop_(loop), screens_(screens) {
    window_ = host.makeWindow({"overlay-banner", Rect{0, 0, 220, 84}, OverlayWindowLevel::banner, 0.0,
                               [](QPainter& p, Size size) { ReminderBannerView::paint(p, size); }});
}

ReminderBannerWindow::~ReminderBannerWindow() {
    lifetime_.end();
}

void ReminderBannerWindow::show(double duration) {
    window_->orderFrontRegardless();
    Rect frame = window_->frame();
    const Size fitting = ReminderBannerView::idealSize();
    if (fitting.width > 1 && fitting.height > 1)
        frame = Rect{frame.x(), frame.y(), fitting.width, fitting.height};
    if (const auto screen = screens_.mainScreen()) {
        const double barHeight = menuBarHeight(*screen, screens_.statusBarThickness());
        const double x = std::round(screen->frame.midX() - frame.width() / 2);
        const double y = screen->frame.maxY() - barHeight - kGapBelowBar - frame.height();
        frame = Rect{x, y, frame.width(), frame.height()};
    }
    window_->setFrame(frame, true);
    host_.animate({kFade, TimingCurve::easeInEaseOut}, {{window_.get(), 1.0, std::nullopt}});
    fadeOuts_.push_back(loop_.postAfter(duration, lifetime_.guard([this] { fadeOut(); })));
}

void ReminderBannerWindow::fadeOut() {
    host_.animate({kFade, TimingCurve::easeInEaseOut}, {{window_.get(), 0.0, std::nullopt}},
                  lifetime_.guard([this] { window_->orderOut(); }));
}

}  // namespace velaro
