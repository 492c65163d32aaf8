// Asking a bus name's owner for a value as it comes and goes.
#include "platform/linux/BusNameReader.h"

#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

namespace velaro {

BusNameReader::BusNameReader(QDBusConnection bus, const QString& service, Handlers handlers)
    : bus_(std::move(bus)), handlers_(std::move(handlers)) {
    watcher_ = std::make_unique<QDBusServiceWatcher>(
        service, bus_,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration);
    connect(watcher_.get(), &QDBusServiceWatcher::serviceRegistered, this, [this] { read(); });
    connect(watcher_.get(), &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        supersede();
        handlers_.left();
    });
}

BusNameReader::~BusNameReader() = default;

void BusNameReader::read() {
    const unsigned generation = ++generation_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(handlers_.ask()), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, generation](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                if (generation == generation_) handlers_.answered(*w);
            });
}

}  // namespace velaro
