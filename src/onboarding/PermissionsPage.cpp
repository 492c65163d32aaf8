// The permissions page's rows, their states and the page's note.
#include "onboarding/PermissionsPage.h"

#include <QPainter>

#include "onboarding/TourControls.h"
#include "onboarding/TourPainting.h"
#include "onboarding/TourPalette.h"
#include "onboarding/TourPermissionModel.h"

namespace velaro {

namespace {

// The rows' column: four cards from the top of the page to just above the note.
constexpr double kRowsX = 390;
constexpr double kFirstRowY = 66;
constexpr double kRowStep = 74;

const QStringList kNote{
    QStringLiteral("Velaro checks these again every second while this page is open:"),
    QStringLiteral("start what is missing and its row turns green, no restart needed."),
};

}  // namespace

const std::vector<PermissionsPage::RowCopy>& PermissionsPage::rows() {
    static const std::vector<RowCopy> copy{
        {Capability::x11Session,
         QStringLiteral("X11 Session"),
         {QStringLiteral("Reads the color under the top panel."), QStringLiteral("Nothing is recorded.")},
         {QStringLiteral("Wayland hides the screen from Velaro:"),
          QStringLiteral("log in to an X11 session instead.")}},
        {Capability::compositor,
         QStringLiteral("Compositing Manager"),
         {QStringLiteral("Lets the overlay blend into"), QStringLiteral("what lies beneath it.")},
         {QStringLiteral("Without one the overlay is opaque"),
          QStringLiteral("and the visualizer stays dark.")}},
        {Capability::mediaPlayer,
         QStringLiteral("Media Player"),
         {QStringLiteral("Tells the progress bar which track"),
          QStringLiteral("plays and how far along it is.")},
         {QStringLiteral("No player found: the progress bar waits"),
          QStringLiteral("for one that speaks MPRIS to play.")}},
        {Capability::soundServer,
         QStringLiteral("Sound Server"),
         {QStringLiteral("Lets the music visualizer hear"), QStringLiteral("what your computer plays.")},
         {QStringLiteral("No PulseAudio or PipeWire server: the"),
          QStringLiteral("music visualizer has nothing to hear.")}},
    };
    return copy;
}

PermissionsPage::PermissionsPage(TourPermissionModel& permissions, MainLoop& loop, QWidget* parent)
    : QWidget(parent), permissions_(permissions) {
    setFixedSize(750, 500);
    double y = kFirstRowY;
    for (const RowCopy& row : rows()) {
        cards_.push_back(new TourCard(loop, row.title, row.present, {kRowsX, y}, this));
        y += kRowStep;
    }
    // The icons lie over the rows and let every click through to them; the note is drawn last.
    auto* overlay = new tour::TourLayer(
        [this](QPainter& painter) {
            icons_.draw(painter, devicePixelRatioF());
            const double symbol = tour::noteSymbolSize();
            tour::drawInfoSymbol(painter, tour::noteSymbolX(symbol), 368.0548125 + tour::lineRaise * 4,
                                 symbol, tour::white);
            tour::drawBlock(painter, {kNote, tour::pageNoteFont, 403.119, 371.7775, 6, tour::noteWidth, true},
                            tour::withAlpha(tour::text, 0.8));
        },
        this);
    overlay->setAccessibleName(kNote.join(QLatin1Char(' ')));

    subscription_ = permissions_.statuses().changes().sink(
        [this](const CapabilityStatuses& statuses) { updateRows(statuses); });
    updateRows(permissions_.statuses()());
    permissions_.start();
}

PermissionsPage::~PermissionsPage() {
    subscription_.cancel();
    permissions_.stop();
}

void PermissionsPage::updateRows(const CapabilityStatuses& statuses) {
    for (std::size_t i = 0; i < cards_.size(); ++i) {
        const RowCopy& row = rows()[i];
        TourCard& card = *cards_[i];
        switch (statuses[row.capability]) {
            case CapabilityStatus::present:
                card.setDetail(row.present);
                card.setState(TourCard::State::badge, QString::fromUtf8(runningBadge));
                break;
            case CapabilityStatus::missing:
                card.setDetail(row.missing);
                card.setState(TourCard::State::button, QString::fromUtf8(helpButton),
                              [&model = permissions_, c = row.capability] { model.openHelp(c); });
                break;
            case CapabilityStatus::unknown:
                card.setDetail(row.present);
                card.setState(TourCard::State::none);
                break;
        }
    }
}

void PermissionsPage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    backdrop_.draw(painter, devicePixelRatioF());
    tour::drawHeader(painter, {{QStringLiteral("What Velaro"), QStringLiteral("Needs")},
                               {QStringLiteral("An X11 session is required. The others"),
                                QStringLiteral("unlock extra features.")}});
}

}  // namespace velaro
