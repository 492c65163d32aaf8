// A card's title, details and the state beside its title.
#include "onboarding/TourCard.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>

#include "onboarding/TourControls.h"
#include "onboarding/TourPainting.h"
#include "onboarding/TourPalette.h"

namespace velaro {

namespace {

constexpr double kTitleX = 68.5;
constexpr double kTitleTop = 16.275234375;
constexpr double kTitleReference = kTitleTop + tour::lineRaise * tour::badgeFont.size;
// A state capsule is twice as tall as its text and holds it 0.7 of its size in from either end.
constexpr double kCapsuleHeight = 2;
constexpr double kCapsulePadding = 0.7;
// Detail lines keep this far from the card's right edge.
constexpr double kDetailMargin = 12;
// A row's button presses this far outside its capsule.
constexpr double kButtonReach = 8;

double advance(const QPaintDevice& device, const QString& text, const tour::FontSpec& spec) {
    return QFontMetricsF(tour::font(spec, device), const_cast<QPaintDevice*>(&device))
        .horizontalAdvance(text);
}

// The small capsule label of a row's state: the text on `fill`, edged in black at 0.2.
void paintStateCapsule(QPainter& painter, const QRectF& rect, const QString& label, const QBrush& fill) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(tour::capsule(rect), fill);
    painter.strokePath(tour::capsule(rect.adjusted(0.25, 0.25, -0.25, -0.25)),
                       QPen(tour::withAlpha(tour::black, 0.2), 0.5));
    // The text sits on the capsule's middle, narrowed where the capsule had to be.
    const double size = tour::renderedSize(tour::rowStateFont);
    const double reference = rect.center().y() + size * 0.35;
    const double padding = kCapsulePadding * size;
    tour::drawFittedLine(painter, label, tour::rowStateFont, rect.left() + padding, reference,
                         rect.width() - 2 * padding, tour::withAlpha(tour::black, 0.8));
    painter.restore();
}

// The capsule of `label` beside a title that ends at `x`, kept inside the card's text column.
QRectF capsuleBeside(const QPaintDevice& device, const QString& label, double x) {
    const double size = tour::renderedSize(tour::rowStateFont);
    const double width = advance(device, label, tour::rowStateFont) + 2 * kCapsulePadding * size;
    const double room = TourCard::size.width() - kDetailMargin - x;
    const double height = kCapsuleHeight * size;
    const double centreY = kTitleReference - tour::badgeFont.size * 0.35;
    return {x, centreY - height / 2, std::min(width, room), height};
}

}  // namespace

TourCard::TourCard(MainLoop& loop, QString title, QStringList detail, QPointF offset, QWidget* parent)
    : QWidget(parent), title_(std::move(title)), detail_(std::move(detail)), origin_(offset) {
    setAccessibleName(title_);
    setAccessibleDescription(detail_.join(QLatin1Char(' ')));
    // Lines never wrap (a long detail line is narrowed instead); the widget reaches to the page's right edge.
    frameOrigin_ =
        tour::placeOver(*this, QRectF(offset, size), QMarginsF(0, 0, 750 - offset.x() - size.width(), 0));
    button_ = new tour::TourButton(
        loop, QString(),
        [](QPainter& painter, const QRectF& face, const tour::TourButton& button) {
            paintStateCapsule(painter, face, button.text(), tour::accentGradient(face));
        },
        this);
    button_->hide();
    connect(button_, &QAbstractButton::clicked, this, [this] {
        // The action may rebuild this row's state; run a copy.
        if (auto action = action_) action();
    });
}

void TourCard::setState(State state, const QString& label, std::function<void()> action) {
    state_ = state;
    label_ = label;
    action_ = std::move(action);
    button_->setText(label);
    button_->setAccessibleName(label);
    button_->setVisible(state == State::button);
    layoutControl();
    update();
}

void TourCard::setDetail(QStringList detail) {
    if (detail == detail_) return;
    detail_ = std::move(detail);
    setAccessibleDescription(detail_.join(QLatin1Char(' ')));
    update();
}

void TourCard::layoutControl() {
    if (state_ != State::button) return;
    const QRectF capsule =
        capsuleBeside(*this, label_, kTitleX + advance(*this, title_, tour::badgeFont) + 8);
    // The button is placed in the row's widget, whose origin may sit a fraction before the card's.
    button_->setFrame(capsule.translated(frameOrigin_), kButtonReach);
}

void TourCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.translate(frameOrigin_);
    tour::drawCard(painter, QRectF(QPointF(0, 0), size));
    const QRectF title =
        tour::drawLine(painter, title_, tour::badgeFont, kTitleX, kTitleReference, tour::white);
    if (state_ == State::badge)
        paintStateCapsule(painter, capsuleBeside(*painter.device(), label_, title.right() + 8), label_,
                          tour::granted);
    tour::drawBlock(
        painter, {detail_, tour::captionFont, kTitleX, 40.094, 9.5, size.width() - kTitleX - kDetailMargin},
        tour::withAlpha(tour::text, 0.8));
}

}  // namespace velaro
