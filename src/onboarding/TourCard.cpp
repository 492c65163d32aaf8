// A card's title, details and the state beside its title.
#include "onboarding/TourCard.h"

#include <QFontMetricsF>
#include <QPainter>

#include "onboarding/TourControls.h"
#include "onboarding/TourPainting.h"
#include "onboarding/TourPalette.h"

namespace velaro {

namespace {

constexpr double kTitleX = 68.5;
constexpr double kTitleTop = 16.275234375;
constexpr double kTitleReference = kTitleTop + tour::lineRaise * tour::badgeFont.size;
constexpr double kCapsuleHeight = 10;
constexpr double kCapsulePadding = 3.5;
// Detail lines keep this far from the card's right edge.
constexpr double kDetailMargin = 12;
// A grant button presses this far outside its capsule.
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
    // The text sits on the capsule's middle.
    const double reference = rect.center().y() + tour::rowStateFont.size * 0.35;
    tour::drawLine(painter, label, tour::rowStateFont, rect.left() + kCapsulePadding, reference,
                   tour::withAlpha(tour::black, 0.8));
    painter.restore();
}

QSizeF capsuleSize(const QPaintDevice& device, const QString& label) {
    return {advance(device, label, tour::rowStateFont) + 2 * kCapsulePadding, kCapsuleHeight};
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
    button_->setVisible(state == State::grantable);
    layoutControl();
    update();
}

void TourCard::layoutControl() {
    if (state_ != State::grantable) return;
    const double x = kTitleX + advance(*this, title_, tour::badgeFont) + 8;
    const QSizeF size = capsuleSize(*this, label_);
    const double centreY = kTitleReference - tour::badgeFont.size * 0.35;
    // The button is placed in the row's widget, whose origin may sit a fraction before the card's.
    button_->setFrame(QRectF(QPointF(x, centreY - size.height() / 2) + frameOrigin_, size), kButtonReach);
}

void TourCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.translate(frameOrigin_);
    tour::drawCard(painter, QRectF(QPointF(0, 0), size));
    const QRectF title =
        tour::drawLine(painter, title_, tour::badgeFont, kTitleX, kTitleReference, tour::white);
    if (state_ == State::granted) {
        const QString badge = QStringLiteral("Permission Granted");
        const QSizeF size = capsuleSize(*this, badge);
        const double centreY = kTitleReference - tour::badgeFont.size * 0.35;
        paintStateCapsule(painter, QRectF(QPointF(title.right() + 8, centreY - size.height() / 2), size),
                          badge, tour::granted);
    }
    tour::drawBlock(
        painter, {detail_, tour::captionFont, kTitleX, 40.094, 9.5, size.width() - kTitleX - kDetailMargin},
        tour::withAlpha(tour::text, 0.8));
}

}  // namespace velaro
