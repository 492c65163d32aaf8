// The desktop's colour scheme from the settings portal, else from GSettings.
#include "platform/linux/XdgDesktopAppearance.h"

#include <QAbstractEventDispatcher>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QStandardPaths>
#include <functional>

#include "base/Log.h"
#include "platform/linux/BusNameReader.h"
#include "platform/linux/GioLibrary.h"

namespace velaro {

namespace {

constexpr const char* kTag = "APPEARANCE";
constexpr const char* kGnomeSchema = "org.gnome.desktop.interface";
constexpr const char* kGnomeKey = "color-scheme";

// How a value looks in a diagnostic: its D-Bus or Qt type and what it holds.
std::string describe(const QVariant& value) {
    return std::string(value.metaType().name() ? value.metaType().name() : "nothing") + " " +
           value.toString().left(40).toStdString();
}

}  // namespace

std::optional<ColorSchemePreference> colorSchemeFromPortal(const QVariant& value) {
    QVariant v = value;
    // Read of version 1 portals answers with the value inside one more variant.
    for (int i = 0; i < 2 && v.metaType() == QMetaType::fromType<QDBusVariant>(); ++i)
        v = qvariant_cast<QDBusVariant>(v).variant();
    if (v.metaType() != QMetaType::fromType<uint>()) return std::nullopt;
    switch (v.toUInt()) {
        case 0:
            return ColorSchemePreference::none;
        case 1:
            return ColorSchemePreference::dark;
        case 2:
            return ColorSchemePreference::light;
        default:
            return std::nullopt;
    }
}

std::optional<ColorSchemePreference> colorSchemeFromGnome(std::string_view name) {
    if (name == "default") return ColorSchemePreference::none;
    if (name == "prefer-dark") return ColorSchemePreference::dark;
    if (name == "prefer-light") return ColorSchemePreference::light;
    return std::nullopt;
}

// GNOME's key, read once and followed through GSettings' change signal. That signal comes through GLib's
// main context, which Qt's event loop runs on this platform.
class XdgDesktopAppearance::GnomeColorScheme {
public:
    using OnChange = std::function<void(std::optional<ColorSchemePreference>)>;

    GnomeColorScheme(const QString& configHome, OnChange onChange)
        : onChange_(std::move(onChange)),
          settings_(openDesktopSettings(configHome, kGnomeSchema, kGnomeKey)) {
        // Older GNOME releases have no such key; other desktops no database.
        if (!settings_) return;
        const GioLibrary& gio = gioLibrary();
        const auto* dispatcher = QAbstractEventDispatcher::instance();
        if (dispatcher && dispatcher->inherits("QEventDispatcherGlib")) {
            handler_ = gio.signalConnect(settings_, "changed::color-scheme", G_CALLBACK(&changed), this,
                                         nullptr, GConnectFlags(0));
        } else {
            qCInfo(lcDesktop) << tagged(
                kTag, "GLib's main loop does not run here: GNOME's colour scheme is read once, not followed");
        }
    }
    ~GnomeColorScheme() {
        if (!settings_) return;
        const GioLibrary& gio = gioLibrary();
        if (handler_) gio.signalDisconnect(settings_, handler_);
        gio.objectUnref(settings_);
    }
    GnomeColorScheme(const GnomeColorScheme&) = delete;
    GnomeColorScheme& operator=(const GnomeColorScheme&) = delete;

    // The key now; none (and one diagnostic) for a value that is no known name.
    std::optional<ColorSchemePreference> read() const {
        if (!settings_) return std::nullopt;
        const GioLibrary& gio = gioLibrary();
        GVariant* value = gio.getValue(settings_, kGnomeKey);
        if (!value) return std::nullopt;
        std::optional<ColorSchemePreference> scheme;
        if (gio.variantIsOfType(value, G_VARIANT_TYPE_STRING)) {
            const char* name = gio.variantGetString(value, nullptr);
            scheme = colorSchemeFromGnome(name);
            if (!scheme)
                qCWarning(lcDesktop) << tagged(
                    kTag, std::string("GNOME's color-scheme '") + name + "' is unknown: ignored");
        } else {
            qCWarning(lcDesktop) << tagged(kTag, std::string("GNOME's color-scheme is of type ") +
                                                     gio.variantTypeString(value) + ", not a name: ignored");
        }
        gio.variantUnref(value);
        return scheme;
    }

private:
    static void changed(GSettings*, const char*, gpointer self) {
        auto* me = static_cast<GnomeColorScheme*>(self);
        me->onChange_(me->read());
    }

    OnChange onChange_;
    GSettings* settings_ = nullptr;
    gulong handler_ = 0;
};

XdgDesktopAppearance::XdgDesktopAppearance(QDBusConnection bus, QString configHome)
    : bus_(std::move(bus)),
      configHome_(configHome.isEmpty()
                      ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                      : std::move(configHome)) {
    if (!bus_.isConnected()) {
        portalSilent();
        return;
    }
    // QtDBus finds the slot's argument types by name; this one's name is known only once registered.
    qRegisterMetaType<QDBusVariant>();
    // The match follows whoever owns the name, so a restarted portal keeps being heard.
    bus_.connect(QString::fromLatin1(portalService), QString::fromLatin1(portalPath),
                 QString::fromLatin1(settingsInterface), QStringLiteral("SettingChanged"), this,
                 SLOT(settingChanged(QString, QString, QDBusVariant)));
    reader_ = std::make_unique<BusNameReader>(
        bus_, QString::fromLatin1(portalService),
        BusNameReader::Handlers{
            .ask =
                [] {
                    auto ask = QDBusMessage::createMethodCall(
                        QString::fromLatin1(portalService), QString::fromLatin1(portalPath),
                        QString::fromLatin1(settingsInterface), QStringLiteral("Read"));
                    ask << QString::fromLatin1(appearanceNamespace) << QString::fromLatin1(colorSchemeKey);
                    return ask;
                },
            .answered =
                [this](const QDBusPendingCall& call) {
                    const QDBusPendingReply<QDBusVariant> reply = call;
                    // No portal on the bus, or one without the setting: the next source speaks.
                    if (reply.isError())
                        portalSilent();
                    else
                        takePortalValue(reply.argumentAt(0));
                },
            .left =
                [this] {
                    if (portal_)
                        qCInfo(lcDesktop) << tagged(
                            kTag, "the settings portal left the bus: its colour scheme no longer counts");
                    portalSilent();
                },
        });
    reader_->read();
}

XdgDesktopAppearance::~XdgDesktopAppearance() = default;

void XdgDesktopAppearance::settingChanged(const QString& nameSpace, const QString& key,
                                          const QDBusVariant& value) {
    if (nameSpace != QLatin1String(appearanceNamespace) || key != QLatin1String(colorSchemeKey)) return;
    reader_->supersede();
    takePortalValue(value.variant());
}

void XdgDesktopAppearance::takePortalValue(const QVariant& value) {
    const auto scheme = colorSchemeFromPortal(value);
    if (!scheme) {
        qCWarning(lcDesktop) << tagged(
            kTag, "the settings portal's color-scheme is " + describe(value) + ", not 0, 1 or 2: ignored");
        portalSilent();
        return;
    }
    portal_ = scheme;
    publish();
}

void XdgDesktopAppearance::portalSilent() {
    portal_.reset();
    if (!gnomeSource_) {
        gnomeSource_ =
            std::make_unique<GnomeColorScheme>(configHome_, [this](auto scheme) { gnomeChanged(scheme); });
        gnome_ = gnomeSource_->read();
    }
    publish();
}

void XdgDesktopAppearance::gnomeChanged(std::optional<ColorSchemePreference> scheme) {
    gnome_ = scheme;
    publish();
}

void XdgDesktopAppearance::publish() {
    // Each source is told once as it starts to answer; the lines of bad values and of a portal that left
    // tell the rest.
    const char* source = portal_ ? "the settings portal" : gnome_ ? "GNOME's settings" : "";
    if (announced_ != source) {
        announced_ = source;
        if (*source) qCInfo(lcDesktop) << tagged(kTag, std::string("light or dark from ") + source);
    }
    const ColorSchemePreference scheme = portal_.value_or(gnome_.value_or(ColorSchemePreference::none));
    if (scheme_.value() != scheme) scheme_ = scheme;
}

}  // namespace velaro
