// Our own menus' tracking from an application-wide event filter: a QMenu of this process showing or hiding.
#pragma once

#include <QObject>

#include <map>

#include "platform/MenuTracking.h"

class QCoreApplication;

namespace velaro {

class QtMenuTracker final : public QObject, public MenuTracking {
public:
    // Watches every QMenu of `app` from now on; menus already open are not known.
    explicit QtMenuTracker(QCoreApplication& app);
    ~QtMenuTracker() override;

    Stream<MenuTrackingEvent> events() const override { return events_.stream(); }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void menuShown(QObject* menu);
    void menuGone(QObject* menu);

    QCoreApplication& app_;
    // Open menus, with the connection that forgets a menu destroyed while open (it may never send Hide).
    std::map<QObject*, QMetaObject::Connection> open_;
    PassthroughSubject<MenuTrackingEvent> events_;
};

}  // namespace velaro
