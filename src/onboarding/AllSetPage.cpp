// The All Set page's cards, switches and miniature top panel.
#include "onboarding/AllSetPage.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "onboarding/TourCard.h"
#include "onboarding/TourControls.h"
#include "onboarding/TourPainting.h"
#include "onboarding/TourSwitches.h"
#include "settings/OverlaySettings.h"
#include "ui/kit/DeferredBinding.h"

namespace velaro {

namespace {

constexpr double kBarTextTop = 79.5263203125;
constexpr double kStatusX[] = {559.71, 579.61, 598.62, 617.6};
// The clock's room on the miniature strip: after the last status glyph (which ends at 624.1) and before the
// strip's rounded end (676.5).
constexpr double kClockLeft = 630;
constexpr double kClockRight = 671.5;

// The miniature bar's status symbols, our own: search, sound, network and battery, 6.5 points tall.
void drawStatusGlyph(QPainter& p, int which, QPointF topLeft) {
    const double s = 6.5;
    const QRectF box(topLeft + QPointF(0, s * 0.15), QSizeF(s, s * 0.85));
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    switch (which) {
        case 0:  // search
            p.drawEllipse(QRectF(box.left(), box.top(), s * 0.62, s * 0.62));
            p.drawLine(box.topLeft() + QPointF(s * 0.55, s * 0.55), box.bottomRight());
            break;
        case 1: {  // sound
            QPainterPath speaker;
            speaker.moveTo(box.left(), box.center().y() - s * 0.15);
            speaker.lineTo(box.left() + s * 0.25, box.center().y() - s * 0.15);
            speaker.lineTo(box.left() + s * 0.5, box.top());
            speaker.lineTo(box.left() + s * 0.5, box.bottom());
            speaker.lineTo(box.left() + s * 0.25, box.center().y() + s * 0.15);
            speaker.lineTo(box.left(), box.center().y() + s * 0.15);
            speaker.closeSubpath();
            p.fillPath(speaker, Qt::white);
            p.drawArc(QRectF(box.left() + s * 0.3, box.top() + s * 0.1, s * 0.6, box.height() - s * 0.2),
                      -50 * 16, 100 * 16);
            break;
        }
        case 2:  // network
            for (int i = 1; i <= 3; ++i) {
                const double r = s * 0.3 * i;
                p.drawArc(QRectF(box.center().x() - r, box.bottom() - r, 2 * r, 2 * r), 50 * 16, 80 * 16);
            }
            break;
        default: {  // battery
            const QRectF body(box.left(), box.top() + s * 0.15, s * 0.85, s * 0.5);
            p.drawRoundedRect(body, 1, 1);
            p.fillRect(body.adjusted(0.8, 0.8, -s * 0.3, -0.8), Qt::white);
            p.drawLine(QPointF(body.right() + 0.7, body.top() + 1),
                       QPointF(body.right() + 0.7, body.bottom() - 1));
            break;
        }
    }
    p.restore();
}

// The app's own mark: a little screen whose top strip glows.
void drawAppGlyph(QPainter& p, QPointF topLeft, double size) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF screen(topLeft + QPointF(0, size * 0.12), QSizeF(size, size * 0.78));
    p.setPen(QPen(Qt::white, 0.8));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(screen, 1.2, 1.2);
    p.fillRect(QRectF(screen.left(), screen.top(), screen.width(), size * 0.22), Qt::white);
    p.restore();
}

}  // namespace

AllSetPage::AllSetPage(OverlaySettings& settings, LoginItemControl loginItem, MainLoop& loop,
                       std::function<void()> openSettings, QWidget* parent)
    : QWidget(parent) {
    setFixedSize(750, 500);
    new TourCard(loop, QStringLiteral("Velaro is now active"),
                 {QStringLiteral("Control Velaro"), QStringLiteral("from the top panel")}, {390, 92}, this);
    auto* login = new TourCard(loop, QStringLiteral("Start at Login"),
                               {QStringLiteral("Start Velaro automatically.")}, {390, 168.5}, this);
    auto* taskbar = new TourCard(loop, QStringLiteral("Show Taskbar Icon"),
                                 {QStringLiteral("Show VLR icon on your taskbar"),
                                  QStringLiteral("Off keeps it in the tray only.")},
                                 {390, 245}, this);
    auto* settingsCard = new TourCard(loop, QStringLiteral("View Settings"),
                                      {QStringLiteral("You can adjust and play with Colors, shapes,"),
                                       QStringLiteral("per-app profiles and more.")},
                                      {390, 321.5}, this);

    // Both switches write on a later turn: the login item is registered (and its real state read back),
    // the taskbar choice is stored for the shell to apply.
    login_ = new tour::TourSwitch(
        QStringLiteral("Start at Login"),
        deferredBinding<bool>(loop, {[&isEnabled = loginItem.isEnabled] { return isEnabled(); },
                                     std::move(loginItem.setEnabled)}),
        login);
    login_->placeAt(login->cardOrigin() + QPointF(237, 16.5));
    taskbar_ = new tour::TourSwitch(QStringLiteral("Show Taskbar Icon"),
                                    deferredBinding(loop, settingBinding(settings.showTaskbarIcon)), taskbar);
    taskbar_->placeAt(taskbar->cardOrigin() + QPointF(237, 16.5));

    // The whole last card is the button.
    viewSettings_ = new tour::TourButton(
        loop, QStringLiteral("View Settings"), [](QPainter&, const QRectF&, const tour::TourButton&) {},
        settingsCard);
    viewSettings_->setFrame(QRectF(settingsCard->cardOrigin(), TourCard::size));
    // Along the card's own edge: the card fills its widget, so a ring outside it would be cut off.
    viewSettings_->setFocusRing(0, 18);
    connect(viewSettings_, &QAbstractButton::clicked, this, [openSettings] {
        if (openSettings) openSettings();
    });

    // The icons and the miniature bar lie over the cards and let every click through.
    new tour::TourLayer(
        [this](QPainter& painter) {
            icons_.draw(painter, devicePixelRatioF());
            drawAppGlyph(painter, {400.618, 77.93110546875 + 0.5}, 8.15);
            tour::drawLine(painter, QStringLiteral("Velaro"), {6.5, QFont::Bold}, 418.0365,
                           kBarTextTop + tour::lineRaise * 6.5, Qt::white);
            for (int i = 0; i < 4; ++i) drawStatusGlyph(painter, i, {kStatusX[i], kBarTextTop});
            // The clock keeps to the room between the last status glyph and the strip's rounded end: raised
            // to a legible size it grows to the left, narrowed if it would reach the glyph.
            const QString clock = QStringLiteral("9:41 AM");
            const tour::FontSpec clockFont{6.5, QFont::DemiBold};
            const double reference = kBarTextTop + tour::lineRaise * 6.5;
            const double width = tour::lineFrame(*painter.device(), clock, clockFont, 0, reference).width();
            const double left = std::max(kClockRight - width, kClockLeft);
            tour::drawFittedLine(painter, clock, clockFont, left, reference, kClockRight - left, Qt::white);
        },
        this);

    // The switches show the stored state as it is published.
    subscriptions_.push_back(
        settings.showTaskbarIcon.changes().sink([this](const bool& on) { taskbar_->setChecked(on); }));
    subscriptions_.push_back(
        loginItem.isEnabled.changes().sink([this](const bool& on) { login_->setChecked(on); }));
}

AllSetPage::~AllSetPage() = default;

void AllSetPage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    backdrop_.draw(painter, devicePixelRatioF());
    tour::drawHeader(painter, {{QStringLiteral("You\u2019re"), QStringLiteral("All Set!")},
                               {QStringLiteral("Velaro runs from"), QStringLiteral("the top panel.")}});
}

}  // namespace velaro
