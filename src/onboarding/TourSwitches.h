// The tour's two small controls: the Full Bar / Pill picker and the on/off switch. Both show the value their
// binding reads and write through it on a click; a deferred binding makes the new value show only once it
// has landed in the settings.
#pragma once

#include <QWidget>
#include <array>

#include "onboarding/TourControls.h"

#include "settings/CornerSettings.h"
#include "ui/kit/DeferredBinding.h"

namespace velaro::tour {

// A 32 × 14 switch that presses up to 6 points outside its track; read by assistive tools as a check box
// named by its title. Space switches it while it has the keyboard focus.
class TourSwitch : public TourKeyButton {
public:
    static constexpr QSizeF size{32, 14};
    static constexpr double reach = 6;

    TourSwitch(const QString& title, Binding<bool> binding, QWidget* parent);
    // Places the switch's track with its top-left at `topLeft` (page points).
    void placeAt(QPointF topLeft);
    // Reads the binding again.
    void refresh();

protected:
    bool hitButton(const QPoint& pos) const override;
    void nextCheckState() override;
    void paintEvent(QPaintEvent* event) override;

private:
    Binding<bool> binding_;
    QPointF origin_;
};

// The 70 × 33 picker: one row per shape, the selected one behind an accent highlight. Each row is a Tab stop
// of its own, which Space picks.
class TourSegmentedShape : public QWidget {
public:
    static constexpr QSizeF size{70, 33};

    TourSegmentedShape(Binding<ShapeMode> mode, QWidget* parent);
    void placeAt(QPointF topLeft);
    void refresh();
    // Where the highlight sits now, from the picker's top.
    double highlightTop() const;
    // The row of each shape, in order: Full Bar, Pill.
    QAbstractButton* row(std::size_t index) const { return rows_.at(index); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Binding<ShapeMode> mode_;
    std::array<QAbstractButton*, 2> rows_{};
    QPointF origin_;
};

}  // namespace velaro::tour
