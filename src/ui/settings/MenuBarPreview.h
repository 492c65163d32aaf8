// The miniature of the tinted bar: the overlay's own fill, over the blurred backdrop when there is one,
// behind a row of mock bar items. It only draws what it is given.
#pragma once

#include <QWidget>
#include <optional>
#include <vector>

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

    // The overlay's own fill (its drift phase and direction are the preview's: still, left to right), and the
    // frost under it with the factor its opacity takes over the frost.
    struct Inputs : MenuBarStyleFill {
        std::optional<BackdropImage> blurBackdrop;
        double styleOpacityFactor = 1.0;
    };

    explicit MenuBarPreview(QWidget* parent = nullptr);

    void setInputs(Inputs inputs);
    const Inputs& inputs() const { return inputs_; }

    QSize sizeHint() const override { return {320, barHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Inputs inputs_;
};

}  // namespace velaro
