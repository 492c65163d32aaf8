// The shell's overview flag over D-Bus.
#include "platform/linux/GnomeShellOverview.h"

#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include "base/Log.h"
#include "platform/linux/BusNameReader.h"

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
    reader_ = std::make_unique<BusNameReader>(
        bus_, QString::fromLatin1(service),
        BusNameReader::Handlers{
            .ask =
                [] {
                    auto ask = QDBusMessage::createMethodCall(
                        QString::fromLatin1(service), QString::fromLatin1(path),
                        QString::fromLatin1(kProperties), QStringLiteral("Get"));
                    ask << QString::fromLatin1(interface) << QString::fromLatin1(kProperty);
                    // Asked on every desktop: the bus must not try to start a shell that is not running.
                    ask.setAutoStartService(false);
                    return ask;
                },
            .answered =
                [this](const QDBusPendingCall& call) {
                    const QDBusPendingReply<QDBusVariant> reply = call;
                    // No shell on the bus (or one without the property): nothing is published.
                    store(reply.isError() ? std::nullopt : std::optional(reply.value().variant().toBool()));
                },
            .left = [this] { store(std::nullopt); },
        });
    reader_->read();
}

GnomeShellOverview::~GnomeShellOverview() = default;

void GnomeShellOverview::propertiesChanged(const QString& interfaceName, const QVariantMap& changed,
                                           const QStringList& invalidated) {
    if (interfaceName != QLatin1String(interface)) return;
    if (const auto it = changed.find(QString::fromLatin1(kProperty)); it != changed.end()) {
        reader_->supersede();
        store(it->toBool());
    } else if (invalidated.contains(QString::fromLatin1(kProperty))) {
        reader_->read();
    }
}

void GnomeShellOverview::store(std::optional<bool> active) {
    if (active && !announced_) {
        announced_ = true;
        qCInfo(lcSampling) << tagged("OVERVIEW", "following GNOME Shell's overview on the session bus");
    }
    if (state_.value() != active) state_ = active;
}

}  // namespace velaro
