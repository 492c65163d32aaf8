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

namespace velaro {

class BusNameReader;

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
    void store(std::optional<bool> active);

    QDBusConnection bus_;
    // Asks the shell for the property when it comes.
    std::unique_ptr<BusNameReader> reader_;
    Published<std::optional<bool>> state_{std::nullopt};
    bool announced_ = false;
};

}  // namespace velaro
