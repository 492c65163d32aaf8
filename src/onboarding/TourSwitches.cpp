// Drawing and hit areas of the tour's picker and switch.
#include "onboarding/TourSwitches.h"

#include <QPainter>

#include "onboarding/TourControls.h"
#include "onboarding/TourPainting.h"
#include "onboarding/TourPalette.h"

namespace velaro::tour {

namespace {

constexpr ShapeMode kShapes[] = {ShapeMode::fullBar, ShapeMode::pill};
constexpr double kRowHeight = 16.5;
constexpr double kHighlightX = 3.495, kHighlightWidth = 63.0115, kHighlightHeight = 12.93505;
// The highlight's top behind each row.
constexpr double kHighlightTops[] = {3.065, 17.0};
// A focus ring this far outside the track of a switch or a row's highlight.
constexpr double kRingOutset = 3, kRowRingOutset = 1.5;

QString shapeLabel(ShapeMode mode) {
    return mode == ShapeMode::pill ? QStringLiteral("Pill") : QStringLiteral("Full Bar");
}

// One row of the picker: its whole 70 × 16.5 area presses; it shows as checked while it is the selection.
// The picker draws it, its focus ring included.
class ShapeRow : public TourKeyButton {
public:
    ShapeRow(const QString& label, QWidget* parent) : TourKeyButton(parent) {
        setText(label);
        setAccessibleName(label);
        setCheckable(true);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    // The selection follows the binding, not the click.
    void nextCheckState() override {}
    void paintEvent(QPaintEvent*) override {}
    void focusInEvent(QFocusEvent* event) override {
        TourKeyButton::focusInEvent(event);
        parentWidget()->update();
    }
    void focusOutEvent(QFocusEvent* event) override {
        TourKeyButton::focusOutEvent(event);
        parentWidget()->update();
    }
};

}  // namespace

TourSwitch::TourSwitch(const QString& title, Binding<bool> binding, QWidget* parent)
    : TourKeyButton(parent), binding_(std::move(binding)) {
    setText(title);
    setAccessibleName(title);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    refresh();
}

void TourSwitch::placeAt(QPointF topLeft) {
    origin_ = placeOver(*this, QRectF(topLeft, size), QMarginsF(reach, reach, reach, reach));
}

void TourSwitch::refresh() {
    const bool on = binding_.get();
    if (on != isChecked()) setChecked(on);
    update();
}

bool TourSwitch::hitButton(const QPoint& pos) const {
    return QRectF(origin_, size).adjusted(-reach, -reach, reach, reach).contains(QPointF(pos));
}

void TourSwitch::nextCheckState() {
    // The click asks for the other value; the switch moves when the binding reports it.
    binding_.set(!binding_.get());
}

void TourSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(origin_);
    const QRectF track(QPointF(0, 0), size);
    const bool on = isChecked();
    painter.fillPath(capsule(track), on ? QBrush(accentGradient(track)) : QBrush(QColor(255, 255, 255, 51)));
    // The knob, 19 × 12 within a point of padding, against the end its state points to.
    const QRectF knob(on ? size.width() - 1 - 19 : 1, 1, 19, 12);
    painter.fillPath(capsule(knob), Qt::white);
    if (hasFocus()) {
        const QRectF ring = track.adjusted(-kRingOutset, -kRingOutset, kRingOutset, kRingOutset);
        drawFocusRing(painter, ring, ring.height() / 2);
    }
}

TourSegmentedShape::TourSegmentedShape(Binding<ShapeMode> mode, QWidget* parent)
    : QWidget(parent), mode_(std::move(mode)) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        auto* row = new ShapeRow(shapeLabel(kShapes[i]), this);
        row->setGeometry(0, 0, 70, 17);
        connect(row, &QAbstractButton::clicked, this, [this, i] {
            // Every click writes, the row already chosen included.
            mode_.set(kShapes[i]);
        });
        rows_[i] = row;
    }
    refresh();
}

void TourSegmentedShape::placeAt(QPointF topLeft) {
    origin_ = placeOver(*this, QRectF(topLeft, size));
    for (std::size_t i = 0; i < rows_.size(); ++i)
        rows_[i]->setGeometry(
            QRectF(origin_ + QPointF(0, kRowHeight * double(i)), QSizeF(70, kRowHeight)).toAlignedRect());
}

void TourSegmentedShape::refresh() {
    const ShapeMode mode = mode_.get();
    for (std::size_t i = 0; i < rows_.size(); ++i) rows_[i]->setChecked(kShapes[i] == mode);
    update();
}

double TourSegmentedShape::highlightTop() const {
    return kHighlightTops[mode_.get() == ShapeMode::pill ? 1 : 0];
}

void TourSegmentedShape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.translate(origin_);
    QPainterPath ground;
    ground.addRoundedRect(QRectF(QPointF(0, 0), size), 10, 10);
    painter.save();
    painter.setCompositionMode(softBlend);
    painter.fillPath(ground, Qt::white);
    painter.restore();
    const QRectF highlight(kHighlightX, highlightTop(), kHighlightWidth, kHighlightHeight);
    painter.fillPath(capsule(highlight), accentGradient(highlight));
    QColor ink = text;
    ink.setAlphaF(0.8f);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const QString label = shapeLabel(kShapes[i]);
        const double reference = 12.376 + 14.669 * double(i);
        const QRectF frame = lineFrame(*this, label, segmentFont, 0, reference);
        drawLine(painter, label, segmentFont, (size.width() - frame.width()) / 2, reference, ink);
    }
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (!rows_[i]->hasFocus()) continue;
        // Around the place the row's highlight takes when it is chosen.
        const QRectF ring = QRectF(kHighlightX, kHighlightTops[i], kHighlightWidth, kHighlightHeight)
                                .adjusted(-kRowRingOutset, -kRowRingOutset, kRowRingOutset, kRowRingOutset);
        drawFocusRing(painter, ring, ring.height() / 2);
    }
}

}  // namespace velaro::tour
