// The shell's overview flag over D-Bus.
#include "platform/linux/GnomeShellOverview.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include "base/Log.h"

namespace velaro {

namespace {
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kProperty = "OverviewActive";
}  // namespace

GnomeShellOverview::GnomeShellOverview(QDBusConnection bus) : bus_(std::move(bus)) {
    if (!bus_.isConnected()) return;
    // The match follows whoever owns the name, so a restarted shell keeps being heard.
    bus_.connect(QString::fromLatin1(service), QString::fromLatin1(path), QString::fromLatin1(kProperties),
                 QStringLiteral("PropertiesChanged"), this,
                 SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    watcher_ = std::make_unique<QDBusServiceWatcher>(
        QString::fromLatin1(service), bus_,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration);
    connect(watcher_.get(), &QDBusServiceWatcher::serviceRegistered, this, [this] { read(); });
    connect(watcher_.get(), &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        ++generation_;
        store(std::nullopt);
    });
    read();
}

GnomeShellOverview::~GnomeShellOverview() = default;

void GnomeShellOverview::read() {
    const unsigned generation = ++generation_;
    auto ask = QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
                                              QString::fromLatin1(kProperties), QStringLiteral("Get"));
    ask << QString::fromLatin1(interface) << QString::fromLatin1(kProperty);
    // Asked on every desktop: the bus must not try to start a shell that is not running.
    ask.setAutoStartService(false);
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(ask), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, generation](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (generation != generation_) return;
        const QDBusPendingReply<QDBusVariant> reply = *w;
        // No shell on the bus (or one without the property): nothing is published.
        if (reply.isError()) {
            store(std::nullopt);
            return;
        }
        store(reply.value().variant().toBool());
    });
}

void GnomeShellOverview::propertiesChanged(const QString& interfaceName, const QVariantMap& changed,
                                           const QStringList& invalidated) {
    if (interfaceName != QLatin1String(interface)) return;
    if (const auto it = changed.find(QString::fromLatin1(kProperty)); it != changed.end()) {
        ++generation_;  // newer than any answer still on its way
        store(it->toBool());
    } else if (invalidated.contains(QString::fromLatin1(kProperty))) {
        read();
    }
}

void GnomeShellOverview::store(std::optional<bool> active) {
    if (active && !announced_) {
        announced_ = true;
        logLine("OVERVIEW", "following GNOME Shell's overview on the session bus");
    }
    if (state_.value() != active) state_ = active;
}

}  // namespace velaro
