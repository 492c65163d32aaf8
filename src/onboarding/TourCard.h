// The dark cards of the permissions and All Set pages.
#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>

#include "base/MainLoop.h"

namespace velaro {

namespace tour {
class TourButton;
}

// A dark card of 286.5 × 67.5 points with a title and detail lines: a permission with its button or badge,
// or an All Set card.
class TourCard : public QWidget {
public:
    enum class State { grantable, granted, informational };
    static constexpr QSizeF size{286.5, 67.5};

    TourCard(MainLoop& loop, QString title, QStringList detail, QPointF offset, QWidget* parent);
    // What shows beside the title; a grantable row's button carries `label` and runs `action`.
    void setState(State state, const QString& label = {}, std::function<void()> action = {});
    State state() const { return state_; }
    // Where the card's top-left lies in the widget, which may start a fraction of a point before it.
    QPointF cardOrigin() const { return frameOrigin_; }
    // The grant button while the row has one.
    tour::TourButton* button() const { return state_ == State::grantable ? button_ : nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void layoutControl();

    QString title_;
    QStringList detail_;
    QPointF origin_;
    QPointF frameOrigin_;
    State state_ = State::informational;
    QString label_;
    std::function<void()> action_;
    tour::TourButton* button_;
};

}  // namespace velaro
