// A stand-in for the desktop shell on the test desktop's session bus: it owns org.gnome.Shell and publishes
// OverviewActive at /org/gnome/Shell, signalling each change as the real shell does. Its answers need this
// process's event loop, which the desktop tests' waits run.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace velaro::e2e {

class StandInShell : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Shell")
    Q_PROPERTY(bool OverviewActive READ overviewActive)
public:
    StandInShell() : bus_(QDBusConnection::sessionBus()) {}
    ~StandInShell() override {
        if (!owned_) return;
        bus_.unregisterObject(QStringLiteral("/org/gnome/Shell"));
        bus_.unregisterService(QStringLiteral("org.gnome.Shell"));
    }

    // Takes the name; false when there is no bus or another owner holds it.
    bool appear() {
        owned_ = bus_.registerObject(QStringLiteral("/org/gnome/Shell"), this,
                                     QDBusConnection::ExportAllProperties) &&
                 bus_.registerService(QStringLiteral("org.gnome.Shell"));
        return owned_;
    }
    bool overviewActive() const { return active_; }
    void setOverviewActive(bool active) {
        active_ = active;
        auto signal = QDBusMessage::createSignal(QStringLiteral("/org/gnome/Shell"),
                                                 QStringLiteral("org.freedesktop.DBus.Properties"),
                                                 QStringLiteral("PropertiesChanged"));
        signal << QStringLiteral("org.gnome.Shell") << QVariantMap{{QStringLiteral("OverviewActive"), active}}
               << QStringList{};
        bus_.send(signal);
    }

private:
    QDBusConnection bus_;
    bool owned_ = false;
    bool active_ = false;
};

}  // namespace velaro::e2e
