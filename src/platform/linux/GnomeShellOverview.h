// GNOME Shell's overview state from its OverviewActive property on the session bus: read when the shell
// appears and followed through its PropertiesChanged signal, never polled.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <memory>

#include "platform/DesktopOverview.h"

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

namespace velaro {

class GnomeShellOverview final : public QObject, public DesktopOverview {
    Q_OBJECT
public:
    static constexpr const char* service = "org.gnome.Shell";
    static constexpr const char* path = "/org/gnome/Shell";
    static constexpr const char* interface = "org.gnome.Shell";

    // Follows the shell on `bus` for as long as it lives; main thread.
    explicit GnomeShellOverview(QDBusConnection bus = QDBusConnection::sessionBus());
    ~GnomeShellOverview() override;

    const Published<std::optional<bool>>& overviewActive() const override { return state_; }

private Q_SLOTS:
    void propertiesChanged(const QString& interfaceName, const QVariantMap& changed,
                           const QStringList& invalidated);

private:
    // Asks the shell for the property; an answer to an older ask (the shell went away meanwhile) is dropped.
    void read();
    void store(std::optional<bool> active);

    QDBusConnection bus_;
    std::unique_ptr<QDBusServiceWatcher> watcher_;
    Published<std::optional<bool>> state_{std::nullopt};
    unsigned generation_ = 0;
    bool announced_ = false;
};

}  // namespace velaro
