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

// A dark card of 286.5 × 67.5 points with a title and detail lines: what the app relies on, with its status
// badge or its help button, or an All Set card.
class TourCard : public QWidget {
public:
    // What shows beside the title: a button, a green badge, or nothing.
    enum class State { button, badge, none };
    static constexpr QSizeF size{286.5, 67.5};

    TourCard(MainLoop& loop, QString title, QStringList detail, QPointF offset, QWidget* parent);
    // What shows beside the title: a button carrying `label` that runs `action`, or a badge reading `label`.
    void setState(State state, const QString& label = {}, std::function<void()> action = {});
    State state() const { return state_; }
    const QString& label() const { return label_; }
    void setDetail(QStringList detail);
    const QStringList& detail() const { return detail_; }
    // Where the card's top-left lies in the widget, which may start a fraction of a point before it.
    QPointF cardOrigin() const { return frameOrigin_; }
    // The button while the row has one.
    tour::TourButton* button() const { return state_ == State::button ? button_ : nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void layoutControl();

    QString title_;
    QStringList detail_;
    QPointF origin_;
    QPointF frameOrigin_;
    State state_ = State::none;
    QString label_;
    std::function<void()> action_;
    tour::TourButton* button_;
};

}  // namespace velaro
