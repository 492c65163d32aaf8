// The corner-rounding preview's ring layer: reading the corners, animating what changes, and turning
// pointer and keyboard input into deferred corner edits.
#include "ui/settings/rings/RingOverlay.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QToolTip>
#include <cmath>
#include <functional>
#include <numbers>
#include <utility>

#include "base/AnimatedValue.h"
#include "settings/OverlaySettings.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/rings/ColorRingPanelLink.h"
#include "ui/settings/rings/CornerMutators.h"
#include "ui/settings/rings/RingAccessibility.h"

namespace velaro {
namespace {

// Opening and closing a ring's menu, and a badge's caption, ease out; the gauge's own looks and a badge's
// link state ease in and out.
constexpr OverlayAnimation kHoverAnimation{0.18, TimingCurve::easeOut};
constexpr OverlayAnimation kLookAnimation{0.2, TimingCurve::easeInEaseOut};
// A press on a ring's band becomes a drag once the pointer has moved this far.
constexpr double kDragMinimumDistance = 3;
constexpr double kFieldWidth = 24;
constexpr double kFieldHeight = 14;

// The fields of the corner record each ring shows (the radius comes from `storedRadius`).
struct GaugeFields {
    bool CornerSettings::*enabled;
    BottomColorMode CornerSettings::*colorMode;
    std::string CornerSettings::*customHex;
};
GaugeFields fieldsOf(GaugeCorner corner) {
    using CS = CornerSettings;
    switch (corner) {
        case GaugeCorner::topLeft:
            return {&CS::screenTopLeftEnabled, &CS::screenTopLeftColorMode, &CS::screenTopLeftCustomColorHex};
        case GaugeCorner::topRight:
            return {&CS::screenTopRightEnabled, &CS::screenTopRightColorMode,
                    &CS::screenTopRightCustomColorHex};
        case GaugeCorner::bottomLeft:
            return {&CS::bottomLeftEnabled, &CS::bottomLeftColorMode, &CS::bottomLeftCustomColorHex};
        case GaugeCorner::bottomRight:
            return {&CS::bottomRightEnabled, &CS::bottomRightColorMode, &CS::bottomRightCustomColorHex};
    }
    return fieldsOf(GaugeCorner::topLeft);
}

CornerRow rowOfBadge(RingRow row) {
    return row == RingRow::top ? CornerRow::screenTop : CornerRow::bottom;
}

}  // namespace

// The looks that animate, per ring and per badge.
struct RingOverlay::Motion {
    struct Cell {
        explicit Cell(MainLoop& loop) : open(loop, 0), enabled(loop, 1), behind(loop, 0), rim(loop, 0) {}
        AnimatedValue<double> open, enabled, behind, rim;
    };
    struct Badge {
        explicit Badge(MainLoop& loop) : linked(loop, 0), caption(loop, 0) {}
        AnimatedValue<double> linked, caption;
    };
    explicit Motion(MainLoop& loop)
        : cells{std::make_unique<Cell>(loop), std::make_unique<Cell>(loop), std::make_unique<Cell>(loop),
                std::make_unique<Cell>(loop)},
          badges{std::make_unique<Badge>(loop), std::make_unique<Badge>(loop)} {}

    void onChange(const std::function<void()>& changed) {
        for (auto& c : cells)
            for (AnimatedValue<double>* v : {&c->open, &c->enabled, &c->behind, &c->rim})
                v->setOnChange(changed);
        for (auto& b : badges)
            for (AnimatedValue<double>* v : {&b->linked, &b->caption}) v->setOnChange(changed);
    }
    // Moves every look toward `target`: animated, or at once for the first showing.
    void follow(const RingScene& target, bool animate) {
        const auto to = [animate](AnimatedValue<double>& v, double value, const OverlayAnimation& animation) {
            if (animate)
                v.set(value, animation);
            else
                v.snapTo(value);
        };
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const RingCellLook& look = target.cells[i];
            to(cells[i]->open, look.open, kHoverAnimation);
            to(cells[i]->enabled, look.motion.enabled, kLookAnimation);
            to(cells[i]->behind, look.motion.behind, kLookAnimation);
            to(cells[i]->rim, look.motion.rim, kLookAnimation);
        }
        for (std::size_t i = 0; i < badges.size(); ++i) {
            to(badges[i]->linked, target.badges[i].linkedMotion, kLookAnimation);
            to(badges[i]->caption, target.badges[i].caption, kHoverAnimation);
        }
    }
    // `target` with its animated looks as they stand now.
    RingScene shown(RingScene scene) const {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            RingCellLook& look = scene.cells[i];
            look.open = cells[i]->open.value();
            look.motion = {cells[i]->enabled.value(), cells[i]->behind.value(), cells[i]->rim.value()};
        }
        for (std::size_t i = 0; i < badges.size(); ++i) {
            scene.badges[i].linkedMotion = badges[i]->linked.value();
            scene.badges[i].caption = badges[i]->caption.value();
        }
        return scene;
    }

    std::array<std::unique_ptr<Cell>, 4> cells;
    std::array<std::unique_ptr<Badge>, 2> badges;
};

// The typed-radius field: Return commits, Escape cancels, and losing focus commits (the edit state ignores
// a commit for a ring the field is no longer open on).
class RingOverlay::RadiusField : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

    std::function<void()> onSubmit;
    std::function<void()> onCancel;
    std::function<void()> onFocusLost;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            if (onSubmit) onSubmit();
            return;
        }
        if (event->key() == Qt::Key_Escape) {
            if (onCancel) onCancel();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override {
        QLineEdit::focusOutEvent(event);
        if (onFocusLost) onFocusLost();
    }
};

RingOverlay::RingOverlay(OverlaySettings& settings, MainLoop& loop, GaugeScrollRouter& router,
                         RingEditState& editState, ColorRingPanelLink& panelLink, QWidget* parent)
    : QWidget(parent),
      settings_(settings),
      loop_(loop),
      router_(router),
      editState_(editState),
      panelLink_(panelLink),
      motion_(std::make_unique<Motion>(loop)),
      field_(new RadiusField(this)),
      refreshLater_(loop, [this] { refresh(); }) {
    setMouseTracking(true);
    setAttribute(Qt::WA_NoSystemBackground);
    installRingAccessibility();

    field_->hide();
    field_->setFrame(false);
    field_->setAlignment(Qt::AlignCenter);
    field_->setFont(SettingsStyle::systemFont(9, QFont::DemiBold));
    field_->setStyleSheet(QStringLiteral("background: transparent; color: white;"));
    field_->setFixedSize(int(kFieldWidth), int(kFieldHeight));
    QObject::connect(field_, &QLineEdit::textEdited, this,
                     [this](const QString& text) { editState_.setText(text); });
    const auto fieldCorner = [this] { return editState_.editingCorner()(); };
    field_->onSubmit = [this, fieldCorner] {
        if (auto corner = fieldCorner()) commitRadiusEdit(*corner);
    };
    field_->onCancel = [this, fieldCorner] {
        if (auto corner = fieldCorner()) cancelRadiusEdit(*corner);
    };
    field_->onFocusLost = field_->onSubmit;

    motion_->onChange([this] { update(); });
    watches_.push_back(settings_.objectWillChange().sink([this](const auto&) { refreshLater_.schedule(); }));
    watches_.push_back(
        router_.hoveredCorner().changes().sink([this](const auto&) { refreshLater_.schedule(); }));
    watches_.push_back(
        editState_.editingCorner().changes().sink([this](const auto&) { refreshLater_.schedule(); }));
    watches_.push_back(editState_.text().changes().sink([this](const auto&) { refreshLater_.schedule(); }));
    refresh();
}

RingOverlay::~RingOverlay() {
    // The field's focus-out during teardown must find nothing left to do.
    field_->onFocusLost = nullptr;
}

void RingOverlay::setRadius(GaugeCorner corner, double radius) {
    deferSetCornerRadius(settings_, loop_, screenCornerOf(corner), radius);
}

double RingOverlay::currentRadius(GaugeCorner corner) const {
    return storedRadius(settings_.corners(), screenCornerOf(corner));
}

RingScene RingOverlay::targetScene() const {
    const CornerSettings& corners = settings_.corners();
    const std::optional<GaugeCorner> hovered = router_.hoveredCorner()();
    const double d = ringLayout().diameter;
    RingScene scene;
    for (GaugeCorner corner : allGaugeCorners) {
        const ScreenCorner screen = screenCornerOf(corner);
        const GaugeFields fields = fieldsOf(corner);
        RingCellLook& look = scene.cells[std::size_t(corner)];
        look.gauge.valuePX = currentRadius(corner);
        look.gauge.enabled = corners.*fields.enabled;
        look.gauge.behindActive = settings_.isCornerAtWallpaperLevel(screen);
        look.gauge.isTop = isTopGauge(corner);
        look.gauge.diameter = d;
        look.gauge.showsCenterValue = !editState_.isEditing(corner);
        look.gauge.rimHighlighted = hovered == gaugeTwinOf(corner);
        look.motion = RingGaugeMotion::settled(look.gauge);
        look.open = hovered == corner ? 1 : 0;
        look.inert = isCornerBelowActive(screen, settings_);
        look.customSelected = corners.*fields.colorMode == BottomColorMode::custom;
        look.customHex = corners.*fields.customHex;
    }
    LinkBadgeLook& top = scene.badges[std::size_t(RingRow::top)];
    top.linked = corners.screenTopLinked;
    top.enabled = corners.screenTopLeftEnabled || corners.screenTopRightEnabled;
    LinkBadgeLook& bottom = scene.badges[std::size_t(RingRow::bottom)];
    bottom.linked = corners.bottomLinked;
    bottom.enabled = corners.bottomLeftEnabled || corners.bottomRightEnabled;
    for (std::size_t i = 0; i < scene.badges.size(); ++i) {
        scene.badges[i].linkedMotion = scene.badges[i].linked ? 1 : 0;
        scene.badges[i].caption = insideBadge_[i] ? 1 : 0;
    }
    return scene;
}

RingScene RingOverlay::shownScene() const {
    return motion_->shown(targetScene());
}

void RingOverlay::refresh() {
    const RingScene target = targetScene();
    motion_->follow(target, lastTarget_.has_value());
    placeField();
    if (lastTarget_ != target) {
        update();
        announceRingLayerChange(*this);
    }
    lastTarget_ = target;
}

void RingOverlay::placeField() {
    const std::optional<GaugeCorner> editing = editState_.editingCorner()();
    if (!editing) {
        if (!field_->isHidden()) field_->hide();
        return;
    }
    if (field_->text() != editState_.text()()) field_->setText(editState_.text()());
    const QPointF centre = ringLayout().cell(*editing).ring.center();
    field_->move(int(std::lround(centre.x() - kFieldWidth / 2)),
                 int(std::lround(centre.y() - kFieldHeight / 2)));
    if (field_->isHidden()) field_->show();
}

void RingOverlay::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintRingScene(p, ringLayout(), shownScene(), devicePixelRatioF(), paintCache_);
}

void RingOverlay::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refreshLater_.schedule();
}

// ---- pointer ----

void RingOverlay::updateHover(const QPointF& point) {
    const RingOverlayLayout layout = ringLayout();
    const std::optional<GaugeCorner> hovered = router_.hoveredCorner()();
    std::array<bool, 4> inside{};
    for (GaugeCorner corner : allGaugeCorners)
        inside[std::size_t(corner)] =
            ringHoverShape(layout.cell(corner).cell, isTopGauge(corner), hovered == corner, layout.diameter)
                .contains(point);
    // Leaving one region before entering the next, as the pointer does.
    for (GaugeCorner corner : allGaugeCorners)
        if (insideCell_[std::size_t(corner)] && !inside[std::size_t(corner)]) {
            insideCell_[std::size_t(corner)] = false;
            router_.setHovered(corner, false);
        }
    for (GaugeCorner corner : allGaugeCorners)
        if (!insideCell_[std::size_t(corner)] && inside[std::size_t(corner)]) {
            insideCell_[std::size_t(corner)] = true;
            router_.setHovered(corner, true);
        }
    if (router_.hoveredCorner()() != hovered) {
        // A new ring's menu: the router already forgot the old one's.
        insideCapsule_ = insideSwatch_ = false;
    }

    const std::optional<GaugeCorner> open = router_.hoveredCorner()();
    const RingHit hit = open ? ringHitAt(layout, targetScene(), open, point) : RingHit{};
    const bool onMenu = hit.corner == open;
    const bool capsule =
        onMenu && (hit.target == RingTarget::capsule || hit.target == RingTarget::arrowButton ||
                   hit.target == RingTarget::colorButton);
    const bool swatch = onMenu && hit.target == RingTarget::swatch;
    for (auto [was, now] : {std::pair{&insideCapsule_, capsule}, std::pair{&insideSwatch_, swatch}})
        if (*was && !now) {
            *was = false;
            router_.setPointerOverMenu(false);
        }
    for (auto [was, now] : {std::pair{&insideCapsule_, capsule}, std::pair{&insideSwatch_, swatch}})
        if (!*was && now) {
            *was = true;
            router_.setPointerOverMenu(true);
        }

    bool badgeChanged = false;
    for (RingRow row : {RingRow::top, RingRow::bottom}) {
        const bool now = layout.badge(row).contains(point);
        badgeChanged |= std::exchange(insideBadge_[std::size_t(row)], now) != now;
    }
    if (badgeChanged) refreshLater_.schedule();
}

void RingOverlay::clearHover() {
    for (bool* flag : {&insideCapsule_, &insideSwatch_})
        if (std::exchange(*flag, false)) router_.setPointerOverMenu(false);
    for (GaugeCorner corner : allGaugeCorners)
        if (std::exchange(insideCell_[std::size_t(corner)], false)) router_.setHovered(corner, false);
    if (std::exchange(insideBadge_, {}) != std::array<bool, 2>{}) refreshLater_.schedule();
}

void RingOverlay::mousePressEvent(QMouseEvent* event) {
    // A drag that ended without a release (the grab was lost) must not carry its ring's anchor into this one.
    clearDrag();
    pressed_.reset();
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const RingHit hit = ringHitAt(ringLayout(), targetScene(), router_.hoveredCorner()(), event->position());
    if (hit.target == RingTarget::none) {
        event->ignore();
        return;
    }
    pressed_ = hit;
    pressPoint_ = event->position();
}

void RingOverlay::mouseMoveEvent(QMouseEvent* event) {
    updateHover(event->position());
    if (!pressed_ || !(event->buttons() & Qt::LeftButton) || pressed_->target != RingTarget::band) return;
    const GaugeCorner corner = pressed_->corner;
    // While the ring's radius is typed its band does not drag.
    if (editState_.isEditing(corner)) return;
    if (!dragging_) {
        const QPointF moved = event->position() - pressPoint_;
        if (std::hypot(moved.x(), moved.y()) < kDragMinimumDistance) return;
        dragging_ = true;
    }
    dragChanged(corner, event->position() - ringLayout().cell(corner).ring.topLeft());
}

void RingOverlay::mouseReleaseEvent(QMouseEvent* event) {
    const std::optional<RingHit> pressed = std::exchange(pressed_, std::nullopt);
    if (event->button() != Qt::LeftButton) return;
    if (dragging_) {
        clearDrag();
        return;
    }
    if (pressed &&
        ringHitAt(ringLayout(), targetScene(), router_.hoveredCorner()(), event->position()) == *pressed)
        tap(*pressed);
}

void RingOverlay::leaveEvent(QEvent* event) {
    clearHover();
    QWidget::leaveEvent(event);
}

void RingOverlay::hideEvent(QHideEvent* event) {
    clearDrag();
    pressed_.reset();
    clearHover();
    QWidget::hideEvent(event);
}

bool RingOverlay::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const RingHit hit = ringHitAt(ringLayout(), targetScene(), router_.hoveredCorner()(), help->pos());
        QString text;
        if (hit.target == RingTarget::arrowButton)
            text =
                ringPlacementHelp(hit.corner, settings_.isCornerAtWallpaperLevel(screenCornerOf(hit.corner)));
        else if (hit.target == RingTarget::colorButton)
            text = QString::fromUtf8(kCustomColorHelp);
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, this);
        }
        return true;
    }
    return QWidget::event(event);
}

void RingOverlay::tap(const RingHit& hit) {
    const ScreenCorner screen = screenCornerOf(hit.corner);
    switch (hit.target) {
        case RingTarget::face:
        case RingTarget::band:
            if (!editState_.isEditing(hit.corner)) deferToggleCornerEnabled(settings_, loop_, screen);
            break;
        case RingTarget::centreSpot:
            beginRadiusEdit(hit.corner);
            break;
        case RingTarget::arrowButton:
            if (!isCornerBelowActive(screen, settings_)) deferToggleCornerPlacement(settings_, loop_, screen);
            break;
        case RingTarget::colorButton: {
            const bool custom =
                settings_.corners().*fieldsOf(hit.corner).colorMode == BottomColorMode::custom;
            deferSetCornerColorMode(settings_, loop_, screen,
                                    custom ? BottomColorMode::black : BottomColorMode::custom);
            break;
        }
        case RingTarget::swatch:
            panelLink_.open(screen, settings_, settings_.corners().*fieldsOf(hit.corner).customHex);
            break;
        case RingTarget::badge: {
            const LinkBadgeLook badge = targetScene().badges[std::size_t(hit.row)];
            if (badge.enabled) deferToggleRowLinked(settings_, loop_, rowOfBadge(hit.row));
            break;
        }
        case RingTarget::capsule:
        case RingTarget::none:
            break;
    }
}

// ---- drag ----

void RingOverlay::dragChanged(GaugeCorner corner, const QPointF& inRing) {
    const double d = ringLayout().diameter;
    const double angle = std::atan2(inRing.y() - d / 2, inRing.x() - d / 2);
    if (!dragLastAngle_ || !dragBase_) {
        // The anchor: nothing is applied on a drag's first event. A stored radius outside 0...48 anchors at
        // the nearest end, so the first turn moves off it at once.
        const double stored = currentRadius(corner);
        dragLastAngle_ = angle;
        dragBase_ = stored > maximumCornerRadius ? maximumCornerRadius : stored > 0 ? stored : 0;
        dragAccum_ = 0;
        return;
    }
    double delta = angle - *dragLastAngle_;
    dragLastAngle_ = angle;
    if (delta > std::numbers::pi)
        delta -= 2 * std::numbers::pi;
    else if (delta < -std::numbers::pi)
        delta += 2 * std::numbers::pi;
    dragAccum_ += delta;
    const double value = *dragBase_ + dragAccum_ / (2 * std::numbers::pi) * maximumCornerRadius;
    const double clamped = value <= 0 ? 0 : value > maximumCornerRadius ? maximumCornerRadius : value;
    if (clamped != value) {
        // Turning on past a limit is lost: turning back moves off the limit at once.
        dragBase_ = clamped;
        dragAccum_ = 0;
    }
    deferSetCornerRadius(settings_, loop_, screenCornerOf(corner), clamped);
}

void RingOverlay::clearDrag() {
    dragging_ = false;
    dragBase_.reset();
    dragLastAngle_.reset();
    dragAccum_ = 0;
}

// ---- typed radius ----

void RingOverlay::beginRadiusEdit(GaugeCorner corner) {
    // Moving from one ring's field to another's keeps what had the keyboard before the first.
    if (!field_->hasFocus()) focusBeforeEdit_ = QApplication::focusWidget();
    if (const auto other = editState_.editingCorner()(); other && *other != corner) commitRadiusEdit(*other);
    editState_.begin(corner, currentRadius(corner));
    placeField();
    field_->setFocus(Qt::MouseFocusReason);
    field_->selectAll();
    update();
}

void RingOverlay::commitRadiusEdit(GaugeCorner corner) {
    if (const auto typed = editState_.commit(corner))
        deferSetCornerRadius(settings_, loop_, screenCornerOf(corner), double(*typed));
    handFocusBack();
    placeField();
    update();
}

void RingOverlay::cancelRadiusEdit(GaugeCorner corner) {
    editState_.cancel(corner);
    handFocusBack();
    placeField();
    update();
}

void RingOverlay::handFocusBack() {
    // Called once the edit state has closed, so the focus-out below commits nothing. Hidden while it has the
    // keyboard, the field would pass it on to the next control of the tab chain (the first opacity
    // slider), and the page would scroll to show that control.
    QWidget* back = std::exchange(focusBeforeEdit_, nullptr).data();
    if (field_->hasFocus() && back && back != field_ && back->isVisible() && back->isEnabled() &&
        back->window() == window())
        back->setFocus(Qt::OtherFocusReason);
    // With nothing to go back to, the keyboard rests nowhere rather than on a neighbour; nor does the window
    // keep the hidden field as the focus to restore when it is next activated.
    field_->clearFocus();
}

GaugeScrollRouter::ValueFor ringRadiusReader(const OverlaySettings& settings) {
    return
        [&settings](GaugeCorner corner) { return storedRadius(settings.corners(), screenCornerOf(corner)); };
}

GaugeScrollRouter::Apply ringRadiusApplier(OverlaySettings& settings, MainLoop& loop,
                                           const RingEditState& editState) {
    return [&settings, &loop, &editState](GaugeCorner corner, double radius) {
        // Scrolling over a ring whose radius is being typed is eaten and changes nothing.
        if (editState.isEditing(corner)) return;
        deferSetCornerRadius(settings, loop, screenCornerOf(corner), radius);
    };
}

}  // namespace velaro
