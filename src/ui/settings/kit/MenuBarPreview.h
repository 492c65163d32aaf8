// The miniature of the tinted bar: the overlay's own fill, over the blurred backdrop when there is one,
// behind a row of mock bar items. It draws what it is given; a new colour, style or gradient cross-fades
// over 0.4 s and a new opacity factor over the frost over 0.3 s, both easing in and out.
#pragma once

#include <QImage>
#include <QWidget>
#include <optional>
#include <vector>

#include "base/AnimatedValue.h"
#include "base/Color.h"
#include "overlay/BarFillStyles.h"
#include "sampling/BlurredBackdrop.h"
#include "sampling/LiveLine.h"
#include "settings/ValueTypes.h"

namespace velaro {

class MenuBarPreview : public QWidget {
public:
    static constexpr int barHeight = 24;
    static constexpr double cornerRadius = 6;
    static constexpr double fillFadeSeconds = 0.4;
    static constexpr double factorFadeSeconds = 0.3;

    // The overlay's own fill (its drift phase and direction are the preview's: still, left to right), and the
    // frost under it with the factor its opacity takes over the frost.
    struct Inputs : MenuBarStyleFill {
        std::optional<BackdropImage> blurBackdrop;
        double styleOpacityFactor = 1.0;
    };

    explicit MenuBarPreview(MainLoop& loop, QWidget* parent = nullptr);

    void setInputs(Inputs inputs);

    // Paints the whole miniature into `bounds` (`scale` pixels a point), without any fade.
    static void paint(QPainter& painter, const QRectF& bounds, const Inputs& inputs, const QPalette& palette,
                      qreal scale);

    QSize sizeHint() const override { return {320, barHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage fillLayer(const Inputs& inputs, double factor) const;
    QImage shownFill() const;

    Inputs inputs_;
    // 0 → 1 while the fill cross-fades from `fadeFrom_` to the new inputs.
    AnimatedValue<double> crossFade_;
    AnimatedValue<double> factor_;
    QImage fadeFrom_;
};

}  // namespace velaro
