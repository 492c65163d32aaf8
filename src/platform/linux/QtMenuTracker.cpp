// The application-wide QMenu filter: counts our open menus and reports the first opening and the last close.
#include "platform/linux/QtMenuTracker.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMenu>

namespace velaro {

QtMenuTracker::QtMenuTracker(QCoreApplication& app) : app_(app) {
    app_.installEventFilter(this);
}

QtMenuTracker::~QtMenuTracker() {
    app_.removeEventFilter(this);
    for (auto& [menu, connection] : open_) QObject::disconnect(connection);
}

bool QtMenuTracker::eventFilter(QObject* watched, QEvent* event) {
    // Every event of the application passes here: test the cheap type first.
    const auto type = event->type();
    if (type != QEvent::Show && type != QEvent::Hide) return false;
    if (!watched->isWidgetType() || !qobject_cast<QMenu*>(watched)) return false;
    if (type == QEvent::Show)
        menuShown(watched);
    else
        menuGone(watched);
    return false;
}

void QtMenuTracker::menuShown(QObject* menu) {
    if (open_.contains(menu)) return;
    const bool first = open_.empty();
    open_[menu] = QObject::connect(menu, &QObject::destroyed, this, [this, menu] { menuGone(menu); });
    if (first) events_.send(MenuTrackingEvent::began);
}

void QtMenuTracker::menuGone(QObject* menu) {
    auto it = open_.find(menu);
    if (it == open_.end()) return;
    QObject::disconnect(it->second);
    open_.erase(it);
    if (open_.empty()) events_.send(MenuTrackingEvent::ended);
}

}  // namespace velaro
