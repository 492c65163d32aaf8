// The ring layer's elements for assistive technologies: its widget's interface and the painted pieces under
// it.
#include "ui/settings/rings/RingAccessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <array>
#include <memory>

#include "ui/settings/kit/ValueText.h"
#include "ui/settings/rings/CornerMutators.h"
#include "ui/settings/rings/RingOverlay.h"

namespace velaro {
namespace {

enum class Piece { ring, arrow, colour, badge };

class LayerAccessible;

// One painted piece of the layer. It lives as long as the layer's own interface, which makes and ends it.
class PieceAccessible final : public QAccessibleInterface,
                              public QAccessibleActionInterface,
                              public QAccessibleValueInterface {
public:
    PieceAccessible(LayerAccessible& layer, Piece piece, GaugeCorner corner, RingRow row)
        : layer_(layer), piece_(piece), corner_(corner), row_(row) {}

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override;
    void doAction(const QString& name) override;
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant& value) override;
    QVariant maximumValue() const override { return maximumCornerRadius; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 1.0; }

private:
    // The menu buttons of a ring, as listed: the arrow only while it can change the corner.
    std::vector<QAccessibleInterface*> menu() const;
    RingOverlay& layer() const;
    // The piece's ring as the settings have it now.
    RingCellLook look() const;
    QRectF area() const;

    LayerAccessible& layer_;
    Piece piece_;
    GaugeCorner corner_;
    RingRow row_;
};

// The layer's widget: its child widgets (the typed-radius field), then the four rings and the two badges.
class LayerAccessible final : public QAccessibleWidget {
public:
    explicit LayerAccessible(RingOverlay* layer) : QAccessibleWidget(layer, QAccessible::Grouping) {
        for (GaugeCorner corner : allGaugeCorners) {
            const std::size_t i = std::size_t(corner);
            rings_[i] = add(Piece::ring, corner, RingRow::top);
            arrows_[i] = add(Piece::arrow, corner, RingRow::top);
            colours_[i] = add(Piece::colour, corner, RingRow::top);
        }
        badges_[0] = add(Piece::badge, GaugeCorner::topLeft, RingRow::top);
        badges_[1] = add(Piece::badge, GaugeCorner::bottomLeft, RingRow::bottom);
    }
    ~LayerAccessible() override {
        for (QAccessible::Id id : ids_) QAccessible::deleteAccessibleInterface(id);
    }

    RingOverlay& overlay() const { return *static_cast<RingOverlay*>(widget()); }
    QAccessibleInterface* ring(GaugeCorner corner) const { return rings_[std::size_t(corner)]; }
    QAccessibleInterface* arrow(GaugeCorner corner) const { return arrows_[std::size_t(corner)]; }
    QAccessibleInterface* colour(GaugeCorner corner) const { return colours_[std::size_t(corner)]; }
    QAccessibleInterface* badge(RingRow row) const { return badges_[std::size_t(row)]; }

    int childCount() const override { return QAccessibleWidget::childCount() + int(pieces().size()); }
    QAccessibleInterface* child(int index) const override {
        const int widgets = QAccessibleWidget::childCount();
        if (index < widgets) return QAccessibleWidget::child(index);
        const auto all = pieces();
        return index - widgets < int(all.size()) ? all[std::size_t(index - widgets)] : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto all = pieces();
        for (std::size_t i = 0; i < all.size(); ++i)
            if (all[i] == child) return QAccessibleWidget::childCount() + int(i);
        return QAccessibleWidget::indexOfChild(child);
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        // The badges lie over the rings, as they take the taps.
        const auto all = pieces();
        for (auto it = all.rbegin(); it != all.rend(); ++it)
            if ((*it)->rect().contains(x, y)) return *it;
        return QAccessibleWidget::childAt(x, y);
    }

private:
    std::array<QAccessibleInterface*, 6> pieces() const {
        return {rings_[0], rings_[1], rings_[2], rings_[3], badges_[0], badges_[1]};
    }
    QAccessibleInterface* add(Piece piece, GaugeCorner corner, RingRow row) {
        auto* made = new PieceAccessible(*this, piece, corner, row);
        ids_.push_back(QAccessible::registerAccessibleInterface(made));
        return made;
    }

    std::array<QAccessibleInterface*, 4> rings_{}, arrows_{}, colours_{};
    std::array<QAccessibleInterface*, 2> badges_{};
    std::vector<QAccessible::Id> ids_;
};

// ---- pieces ----

bool PieceAccessible::isValid() const {
    return layer_.isValid();
}

QWindow* PieceAccessible::window() const {
    return layer_.window();
}

RingOverlay& PieceAccessible::layer() const {
    return layer_.overlay();
}

RingCellLook PieceAccessible::look() const {
    return layer().scene().cells[std::size_t(corner_)];
}

std::vector<QAccessibleInterface*> PieceAccessible::menu() const {
    if (piece_ != Piece::ring) return {};
    std::vector<QAccessibleInterface*> buttons;
    if (!look().inert) buttons.push_back(layer_.arrow(corner_));
    buttons.push_back(layer_.colour(corner_));
    return buttons;
}

QAccessibleInterface* PieceAccessible::parent() const {
    if (piece_ == Piece::arrow || piece_ == Piece::colour) return layer_.ring(corner_);
    return const_cast<LayerAccessible*>(&layer_);
}

QAccessibleInterface* PieceAccessible::child(int index) const {
    const auto buttons = menu();
    return index >= 0 && index < int(buttons.size()) ? buttons[std::size_t(index)] : nullptr;
}

int PieceAccessible::childCount() const {
    return int(menu().size());
}

int PieceAccessible::indexOfChild(const QAccessibleInterface* child) const {
    const auto buttons = menu();
    for (std::size_t i = 0; i < buttons.size(); ++i)
        if (buttons[i] == child) return int(i);
    return -1;
}

QAccessibleInterface* PieceAccessible::childAt(int x, int y) const {
    for (QAccessibleInterface* button : menu())
        if (button->rect().contains(x, y)) return button;
    return nullptr;
}

QRectF PieceAccessible::area() const {
    const RingOverlayLayout layout = layer().ringLayout();
    switch (piece_) {
        case Piece::ring:
            return layout.cell(corner_).ring;
        case Piece::arrow:
            return layout.cell(corner_).arrowButton;
        case Piece::colour:
            return layout.cell(corner_).colorButton;
        case Piece::badge:
            return layout.badge(row_);
    }
    return {};
}

QRect PieceAccessible::rect() const {
    const QRect local = area().toAlignedRect();
    return QRect(layer().mapToGlobal(local.topLeft()), local.size());
}

QString PieceAccessible::text(QAccessible::Text t) const {
    const bool name = t == QAccessible::Name;
    const bool value = t == QAccessible::Value;
    switch (piece_) {
        case Piece::ring:
            if (name) return ringAccessibleName(corner_);
            if (value) return truncatedText(look().gauge.valuePX, lengthUnit);
            break;
        case Piece::arrow:
            if (name) return ringPlacementHelp(corner_, look().gauge.behindActive);
            break;
        case Piece::colour:
            if (name) return QString::fromUtf8(kCustomColorHelp);
            break;
        case Piece::badge:
            if (name) return QStringLiteral("Link left and right corners");
            if (value)
                return layer().scene().badges[std::size_t(row_)].linked ? QStringLiteral("Linked")
                                                                        : QStringLiteral("Not linked");
            break;
    }
    return {};
}

QAccessible::Role PieceAccessible::role() const {
    return piece_ == Piece::ring ? QAccessible::Dial : QAccessible::Button;
}

QAccessible::State PieceAccessible::state() const {
    QAccessible::State state;
    switch (piece_) {
        case Piece::ring:
            // Tapping a ring switches its corner: on is its checked state.
            state.checkable = true;
            state.checked = look().gauge.enabled;
            break;
        case Piece::colour:
            state.checkable = true;
            state.checked = look().customSelected;
            break;
        case Piece::badge:
            state.disabled = !layer().scene().badges[std::size_t(row_)].enabled;
            break;
        case Piece::arrow:
            break;
    }
    return state;
}

void* PieceAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::ActionInterface) return static_cast<QAccessibleActionInterface*>(this);
    if (type == QAccessible::ValueInterface && piece_ == Piece::ring)
        return static_cast<QAccessibleValueInterface*>(this);
    return nullptr;
}

QStringList PieceAccessible::actionNames() const {
    switch (piece_) {
        case Piece::ring:
            return {toggleAction(), increaseAction(), decreaseAction()};
        case Piece::badge:
            if (state().disabled) return {};
            break;
        case Piece::arrow:
        case Piece::colour:
            break;
    }
    return {pressAction()};
}

void PieceAccessible::doAction(const QString& name) {
    if (!actionNames().contains(name)) return;
    switch (piece_) {
        case Piece::ring:
            if (name == toggleAction())
                layer().activate({RingTarget::face, corner_, RingRow::top});
            else
                layer().setRadius(corner_, look().gauge.valuePX + (name == increaseAction() ? 1 : -1));
            return;
        case Piece::arrow:
            layer().activate({RingTarget::arrowButton, corner_, RingRow::top});
            return;
        case Piece::colour:
            layer().activate({RingTarget::colorButton, corner_, RingRow::top});
            return;
        case Piece::badge:
            layer().activate({RingTarget::badge, GaugeCorner::topLeft, row_});
            return;
    }
}

QVariant PieceAccessible::currentValue() const {
    return look().gauge.valuePX;
}

void PieceAccessible::setCurrentValue(const QVariant& value) {
    bool ok = false;
    const double radius = value.toDouble(&ok);
    if (ok) layer().setRadius(corner_, radius);
}

QAccessibleInterface* layerFactory(const QString&, QObject* object) {
    if (auto* layer = dynamic_cast<RingOverlay*>(object)) return new LayerAccessible(layer);
    return nullptr;
}

}  // namespace

QString ringAccessibleName(GaugeCorner corner) {
    switch (corner) {
        case GaugeCorner::topLeft:
            return QStringLiteral("Top left corner");
        case GaugeCorner::topRight:
            return QStringLiteral("Top right corner");
        case GaugeCorner::bottomLeft:
            return QStringLiteral("Bottom left corner");
        case GaugeCorner::bottomRight:
            return QStringLiteral("Bottom right corner");
    }
    return {};
}

void installRingAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(layerFactory);
        return true;
    }();
    (void)installed;
}

void announceRingLayerChange(RingOverlay& layer) {
    if (!QAccessible::isActive()) return;
    auto* accessible = dynamic_cast<LayerAccessible*>(QAccessible::queryAccessibleInterface(&layer));
    if (!accessible) return;
    for (GaugeCorner corner : allGaugeCorners) {
        QAccessibleInterface* ring = accessible->ring(corner);
        QAccessibleValueChangeEvent value(ring, ring->valueInterface()->currentValue());
        QAccessible::updateAccessibility(&value);
        QAccessibleStateChangeEvent checked(ring, [] {
            QAccessible::State changed;
            changed.checked = true;
            return changed;
        }());
        QAccessible::updateAccessibility(&checked);
        // The arrow comes and goes with the corner's placement rule; its name follows the placement.
        QAccessibleEvent menu(ring, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&menu);
        QAccessibleEvent arrow(accessible->arrow(corner), QAccessible::NameChanged);
        QAccessible::updateAccessibility(&arrow);
    }
    for (RingRow row : {RingRow::top, RingRow::bottom}) {
        QAccessibleInterface* badge = accessible->badge(row);
        QAccessibleValueChangeEvent value(badge, badge->text(QAccessible::Value));
        QAccessible::updateAccessibility(&value);
    }
}

}  // namespace velaro
