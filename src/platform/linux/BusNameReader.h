// A value that another program keeps on the session bus: asked for whenever the program takes its name
// (and once at the start), and forgotten when it leaves. An answer to an older ask is dropped, so that a
// late reply never undoes a signal heard meanwhile, or the program's leaving.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QObject>
#include <functional>
#include <memory>

class QDBusServiceWatcher;

namespace velaro {

class BusNameReader final : public QObject {
public:
    struct Handlers {
        // The call that asks for the value.
        std::function<QDBusMessage()> ask;
        // Its reply, an error one too; only the reply to the newest ask comes here.
        std::function<void(const QDBusPendingCall& reply)> answered;
        // The program left the bus.
        std::function<void()> left;
    };

    // Watches `service` on `bus` (main thread); asks nothing until read().
    BusNameReader(QDBusConnection bus, const QString& service, Handlers handlers);
    ~BusNameReader() override;

    // Asks now; the reply of any earlier ask is dropped.
    void read();
    // What a signal just said is newer than any reply still on its way: those are dropped.
    void supersede() { ++generation_; }

private:
    QDBusConnection bus_;
    Handlers handlers_;
    std::unique_ptr<QDBusServiceWatcher> watcher_;
    unsigned generation_ = 0;
};

}  // namespace velaro
