// The well a feature page shows its demonstration clip in: the clip covers the well (cropped, never
// letterboxed) pinned at an anchor, plays through once when loaded, rests on its first frame, and plays in a
// loop while the pointer is over it; when the pointer leaves, or the window stops being the active one, it
// stops and rewinds. Frames are painted by a 30 fps timer that runs only while the clip plays.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "base/Cancellable.h"
#include "base/MainLoop.h"
#include "onboarding/TourClips.h"

namespace velaro {

// Where a clip of `natural` size lies to cover `bounds` (origin top-left), keeping the part at `anchor`
// ((0, 0) top-left … (1, 1) bottom-right) in view. A size or bounds with no area gives the bounds: stretched.
QRectF coverFrame(QSizeF natural, QSizeF bounds, QPointF anchor);

class TourVideoWell : public QWidget {
public:
    using ClipFinder = std::function<std::unique_ptr<TourClip>(std::string_view)>;
    static constexpr double frameInterval = 1.0 / 30;

    TourVideoWell(MainLoop& loop, QWidget* parent = nullptr, ClipFinder find = findTourClip);
    ~TourVideoWell() override;

    // Shows the clip of that name, playing it once; the same name again changes nothing. An unknown name
    // leaves the well empty.
    void load(const std::string& name);
    void setAnchor(QPointF anchor);
    // The well's rounded corners.
    void setCornerRadius(double radius);
    // Whether the window it is in is the active one; the toolkit's answer unless a test gives another.
    void setWindowActiveQuery(std::function<bool()> query) { windowActive_ = std::move(query); }

    // What the pointer and the window do to it; the widget's own events call these.
    void pointerEntered();
    void pointerLeft();
    void windowActivationChanged();

    // The moment of the clip on screen, in seconds.
    double position() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void play();
    void pauseAtStart();
    void tick();
    void relayout();

    MainLoop& loop_;
    ClipFinder find_;
    std::function<bool()> windowActive_;
    std::unique_ptr<TourClip> clip_;
    std::string name_;
    bool loaded_ = false;
    QPointF anchor_{0.5, 0.5};
    double radius_ = 0;
    QRectF frame_;
    bool hovering_ = false;
    // Playback: the loop time the current run started at, and the position while paused.
    double startedAt_ = 0;
    double pausedAt_ = 0;
    Cancellable ticker_;
};

}  // namespace velaro
