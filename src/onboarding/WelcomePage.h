// The tour's first page: the welcome artwork and a three-line headline that come in one after another, or
// are simply there when the desktop asks for reduced motion. It has no control; the chrome leads on.
#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <optional>

#include "base/MainLoop.h"
#include "onboarding/TourEntrance.h"

namespace velaro {

// The page's pictures, made once for one pixel ratio and drawn at any point of the entrances.
class WelcomeArt {
public:
    static constexpr std::array<const char*, 3> lines{"Turn your top panel", "into a living part of your",
                                                      "desktop."};
    static constexpr std::array<double, 3> references{260.875, 298.875, 336.875};

    explicit WelcomeArt(qreal scale);
    // `progress`: the logo's entrance, then each line's (0 = start pose, 1 = in place).
    void paint(QPainter& painter, const std::array<double, 4>& progress) const;
    qreal scale() const { return scale_; }

private:
    qreal scale_;
    QImage backdrop_;
    tour::PieceImage logo_;
    std::array<tour::PieceImage, 3> lines_;
};

class WelcomePage : public QWidget {
public:
    // The page comes on screen as it is made: its entrance starts at once.
    WelcomePage(MainLoop& loop, bool reduceMotion, QWidget* parent = nullptr);
    ~WelcomePage() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<std::unique_ptr<tour::Entrance>, 4> entrances_;
    mutable std::optional<WelcomeArt> art_;
};

}  // namespace velaro
