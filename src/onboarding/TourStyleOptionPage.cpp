// What each feature page says, which clip it shows and which setting its control writes.
#include "onboarding/TourStyleOptionPage.h"

#include <QPainter>

#include "onboarding/TourPainting.h"
#include "onboarding/TourSwitches.h"
#include "onboarding/TourVideoWell.h"
#include "platform/Permissions.h"
#include "settings/OverlaySettings.h"

namespace velaro {

namespace {

constexpr QRectF kCard{390.0, 74.068, 286.5, 273.932};
constexpr QRectF kWell{392.75, 76.5305, 281.0, 207.4465};
constexpr double kTextX = 407.0;

}  // namespace

TourStyleOptionPage::TourStyleOptionPage(OverlaySettings& settings, OnboardingStep option,
                                         bool accessibilityGranted, MainLoop& loop, Permissions& permissions,
                                         Stream<std::monostate> becameActive, QWidget* parent)
    : QWidget(parent),
      settings_(settings),
      option_(option == OnboardingStep::style ? OnboardingStep::menubarShape : option),
      accessibilityGranted_(accessibilityGranted),
      loop_(loop),
      permissions_(permissions) {
    setFixedSize(750, 500);
    well_ = new TourVideoWell(loop, this);
    well_->setGeometry(kWell.toAlignedRect());
    well_->setCornerRadius(16);
    well_->setAnchor(videoAnchor());
    well_->load(videoName());

    if (option_ == OnboardingStep::menubarShape) {
        // The shape is written on a later turn, into the corner record as it stands then.
        picker_ = new tour::TourSegmentedShape(
            deferredBinding<ShapeMode>(loop, {[&settings] { return settings.corners().shapeMode; },
                                              [&settings](ShapeMode mode) {
                                                  CornerSettings corners = settings.corners();
                                                  corners.shapeMode = mode;
                                                  settings.corners = corners;
                                              }}),
            this);
        picker_->placeAt({590.96, 298.0});
    } else if (auto binding = toggleBinding()) {
        switch_ = new tour::TourSwitch(optionCopy().title, *binding, this);
        switch_->placeAt({626.5, 297.117});
    }

    settingsSubscription_ = settings.objectWillChange().sink([this](const std::monostate&) {
        // The change lands after this notice: read the settings on the next turn, once for a burst.
        if (refreshQueued_) return;
        refreshQueued_ = true;
        loop_.post(lifetime_.guard([this] {
            refreshQueued_ = false;
            refresh();
        }));
    });
    activationSubscription_ = becameActive.sink([this](const std::monostate&) { refreshAccessibility(); });
    refresh();
}

TourStyleOptionPage::~TourStyleOptionPage() = default;

TourStyleOptionPage::Copy TourStyleOptionPage::optionCopy() const {
    switch (option_) {
        case OnboardingStep::roundedCorners:
            return {QStringLiteral("Rounded Corners"),
                    {QStringLiteral("Rounds all the corners"), QStringLiteral("of your screen.")}};
        case OnboardingStep::lightReflections:
            return {QStringLiteral("Light Reflections"),
                    {QStringLiteral("Adds a soft light beam across the bar"),
                     QStringLiteral("that follows your pointer.")}};
        case OnboardingStep::musicVisualizer:
            if (settings_.vizStatus())
                return {QStringLiteral("Music Visualizer"),
                        {QStringLiteral("Couldn't start. The sound server (PulseAudio"),
                         QStringLiteral("or PipeWire) may not be running.")}};
            return {QStringLiteral("Music Visualizer"),
                    {QStringLiteral("Shows audio bars that sit on top of your screen"),
                     QStringLiteral("while music plays.")}};
        case OnboardingStep::progressBar:
            return {QStringLiteral("Progress Bar"),
                    {QStringLiteral("Shows a playback progress line on the top edge"),
                     QStringLiteral("of your screen, disappears when idle.")}};
        case OnboardingStep::fillWindow:
            // The fill asks the window manager to move and size the window.
            if (accessibilityGranted_)
                return {QStringLiteral("Fill Window"),
                        {QStringLiteral("The maximise button fills the window"),
                         QStringLiteral("to the screen instead of maximising it.")}};
            return {QStringLiteral("Fill Window"),
                    {QStringLiteral("Needs a running window manager \u2014"),
                     QStringLiteral("none answers in this session.")}};
        default:
            break;
    }
    if (settings_.corners().shapeMode == ShapeMode::fullBar)
        return {QStringLiteral("Overlay Shape"),
                {QStringLiteral("The overlay covers the whole top panel,"), QStringLiteral("edge to edge.")}};
    // The panels here have no menus of the front app to wrap: the pill goes around the tray and clock.
    return {QStringLiteral("Overlay Shape"),
            {QStringLiteral("The overlay shrinks to a capsule around"),
             QStringLiteral("the tray and clock on the top panel.")}};
}

std::string TourStyleOptionPage::videoName() const {
    switch (option_) {
        case OnboardingStep::roundedCorners:
            return "tour-cornerrounding";
        case OnboardingStep::lightReflections:
            return "tour-lightreflections";
        case OnboardingStep::musicVisualizer:
            return "tour-visualizer";
        case OnboardingStep::progressBar:
            return "tour-progressbar";
        case OnboardingStep::fillWindow:
            return "tour-fillwindow";
        default:
            return settings_.corners().shapeMode == ShapeMode::pill ? "tour-pill" : "tour-fullbar";
    }
}

QPointF TourStyleOptionPage::videoAnchor() const {
    if (option_ == OnboardingStep::roundedCorners) return {0, 1};
    // The pill wraps the panel's right end.
    if (option_ == OnboardingStep::menubarShape && settings_.corners().shapeMode == ShapeMode::pill) return {1, 0};
    if (option_ == OnboardingStep::fillWindow) return {0.5, 0.5};
    return {0, 0};
}

std::optional<Binding<bool>> TourStyleOptionPage::toggleBinding() {
    OverlaySettings& s = settings_;
    switch (option_) {
        case OnboardingStep::roundedCorners:
            // Written on a later turn into the corner record as it stands then, touching only the two bottom
            // flags: an edit of any other corner queued meanwhile stays.
            return deferredBinding<bool>(
                loop_, {[&s] { return s.corners().bottomLeftEnabled || s.corners().bottomRightEnabled; },
                        [&s](bool on) {
                            CornerSettings corners = s.corners();
                            corners.bottomLeftEnabled = on;
                            corners.bottomRightEnabled = on;
                            s.corners = corners;
                        }});
        case OnboardingStep::lightReflections:
            return deferredBinding(loop_, settingBinding(s.lightReflectionsEnabled));
        case OnboardingStep::musicVisualizer:
            return deferredBinding(loop_, settingBinding(s.vizEnabled));
        case OnboardingStep::progressBar:
            return deferredBinding(loop_, settingBinding(s.progressEnabled));
        case OnboardingStep::fillWindow:
            return deferredBinding(loop_, settingBinding(s.maximiseButtonFillsWindow));
        default:
            return std::nullopt;
    }
}

void TourStyleOptionPage::refreshAccessibility() {
    permissions_.check(Capability::windowManager, lifetime_.guard([this](bool trusted) {
        if (trusted == accessibilityGranted_) return;
        accessibilityGranted_ = trusted;
        refresh();
    }));
}

bool TourStyleOptionPage::showsWarning() const {
    return !settings_.masterEnabled();
}

void TourStyleOptionPage::refresh() {
    well_->setAnchor(videoAnchor());
    well_->load(videoName());
    if (switch_) switch_->refresh();
    if (picker_) picker_->refresh();
    const Copy copy = optionCopy();
    setAccessibleName(switch_ ? copy.lines.join(QLatin1Char(' '))
                              : copy.title + QLatin1Char(' ') + copy.lines.join(QLatin1Char(' ')));
    update();
}

void TourStyleOptionPage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    backdrop_.draw(painter, devicePixelRatioF());
    tour::drawHeader(painter, {{QStringLiteral("Set Your"), QStringLiteral("Overlay Style")},
                               {QStringLiteral("Pick what you want on screen. You can change"),
                                QStringLiteral("all of it later in Settings.")}});
    tour::drawCard(painter, kCard);
    const Copy copy = optionCopy();
    tour::drawLine(painter, copy.title, tour::badgeFont, kTextX, 308.41, tour::white);
    tour::drawBlock(painter, {copy.lines, tour::captionFont, kTextX, 321.594, 9.5},
                    tour::withAlpha(tour::text, 0.8));
    if (showsWarning()) {
        const double symbol = tour::noteSymbolSize();
        tour::drawWarningSymbol(painter, tour::noteSymbolX(symbol), 371.922, symbol, tour::white);
        tour::drawBlock(
            painter,
            {{QStringLiteral("Velaro is switched off, so none of these will show until you turn it "
                             "back on.")},
             tour::pageNoteFont,
             403.119,
             371.7775,
             6,
             tour::noteWidth,
             true},
            tour::withAlpha(tour::text, 0.8));
    }
}

}  // namespace velaro
