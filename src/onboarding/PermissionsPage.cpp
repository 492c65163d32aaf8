// The permissions page's rows, their states and the page's note.
#include "onboarding/PermissionsPage.h"

#include <QFontMetricsF>
#include <QPainter>

#include "onboarding/TourControls.h"
#include "onboarding/TourPainting.h"
#include "onboarding/TourPalette.h"
#include "onboarding/TourPermissionModel.h"

namespace velaro {

PermissionsPage::PermissionsPage(TourPermissionModel& permissions, MainLoop& loop, QWidget* parent)
    : QWidget(parent), permissions_(permissions) {
    setFixedSize(750, 500);
    rows_.push_back(new TourCard(
        loop, QStringLiteral("Screen Recording"),
        {QStringLiteral("Reads the color under the menu bar."), QStringLiteral("Nothing is recorded.")},
        {390, 137.5}, this));
    rows_.push_back(new TourCard(
        loop, QStringLiteral("Accessibility"),
        {QStringLiteral("Reads where your menu items sit,"), QStringLiteral("so Pill can wrap them.")},
        {390, 214}, this));
    rows_.push_back(new TourCard(loop, QStringLiteral("System Audio"),
                                 {QStringLiteral("For the music visualizer. Your system asks the first time"),
                                  QStringLiteral("the visualizer actually runs.")},
                                 {390, 290.5}, this));
    // The icons lie over the rows and let every click through to them; the note is drawn last.
    auto* overlay = new tour::TourLayer(
        [this](QPainter& painter) {
            icons_.draw(painter, devicePixelRatioF());
            const QColor note = tour::withAlpha(tour::text, 0.8);
            const double symbol = tour::noteSymbolSize(*painter.device());
            tour::drawInfoSymbol(painter, tour::noteSymbolX(symbol), 368.0548125 + tour::lineRaise * 4,
                                 symbol, tour::white);
            tour::drawBlock(
                painter,
                {{QStringLiteral("Your system may ask you to quit and reopen Velaro after you grant "
                                 "Screen Recording."),
                  QStringLiteral("The tour picks up where you left off.")},
                 tour::pageNoteFont,
                 403.119,
                 371.7775,
                 6,
                 tour::noteWidth,
                 true},
                note);
        },
        this);
    overlay->setAccessibleName(QStringLiteral(
        "Your system may ask you to quit and reopen Velaro after you grant Screen Recording. The "
        "tour picks up where you left off."));

    subscriptions_.push_back(permissions_.screenRecordingGranted().changes().sink([this](const bool& v) {
        updateRows(v, permissions_.screenRecordingAsked()(), permissions_.accessibilityGranted()());
    }));
    subscriptions_.push_back(permissions_.screenRecordingAsked().changes().sink([this](const bool& v) {
        updateRows(permissions_.screenRecordingGranted()(), v, permissions_.accessibilityGranted()());
    }));
    subscriptions_.push_back(permissions_.accessibilityGranted().changes().sink([this](const bool& v) {
        updateRows(permissions_.screenRecordingGranted()(), permissions_.screenRecordingAsked()(), v);
    }));
    updateRows(permissions_.screenRecordingGranted()(), permissions_.screenRecordingAsked()(),
               permissions_.accessibilityGranted()());
    permissions_.start();
}

PermissionsPage::~PermissionsPage() {
    subscriptions_.clear();
    permissions_.stop();
}

void PermissionsPage::updateRows(bool capture, bool asked, bool trusted) {
    using State = TourCard::State;
    auto& model = permissions_;
    if (capture) {
        rows_[0]->setState(State::granted);
    } else {
        rows_[0]->setState(State::grantable,
                           asked ? QStringLiteral("Open Settings") : QStringLiteral("Grant Permission"),
                           [&model] { model.requestScreenRecording(); });
    }
    if (trusted) {
        rows_[1]->setState(State::granted);
    } else {
        rows_[1]->setState(State::grantable, QStringLiteral("Grant Permission"),
                           [&model] { model.requestAccessibility(); });
    }
}

void PermissionsPage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    backdrop_.draw(painter, devicePixelRatioF());
    tour::drawHeader(painter, {{QStringLiteral("Grant"), QStringLiteral("Permissions")},
                               {QStringLiteral("One permission is required. The other two"),
                                QStringLiteral("unlock extra features.")}});
}

}  // namespace velaro
