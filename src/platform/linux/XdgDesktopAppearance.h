// The desktop's light or dark preference: the freedesktop settings portal's color-scheme on the session bus,
// read when the portal appears and followed through its SettingChanged signal; where no portal answers,
// GNOME's color-scheme in GSettings, followed through its change signal. Never polled.
#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/DesktopAppearance.h"

namespace velaro {

class BusNameReader;

// The portal's color-scheme value: 0 no preference, 1 dark, 2 light, as an unsigned 32-bit number (older
// portals wrap it in one more variant). None for any other type or number.
std::optional<ColorSchemePreference> colorSchemeFromPortal(const QVariant& value);
// GNOME's color-scheme names: "default", "prefer-dark", "prefer-light". None for any other.
std::optional<ColorSchemePreference> colorSchemeFromGnome(std::string_view name);

class XdgDesktopAppearance final : public QObject, public DesktopAppearance {
    Q_OBJECT
public:
    static constexpr const char* portalService = "org.freedesktop.portal.Desktop";
    static constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
    static constexpr const char* settingsInterface = "org.freedesktop.portal.Settings";
    static constexpr const char* appearanceNamespace = "org.freedesktop.appearance";
    static constexpr const char* colorSchemeKey = "color-scheme";

    // Follows the portal on `bus` for as long as it lives; main thread. `configHome` is the user's
    // configuration folder, where GSettings' database is looked for; empty means $XDG_CONFIG_HOME (or
    // ~/.config).
    explicit XdgDesktopAppearance(QDBusConnection bus = QDBusConnection::sessionBus(),
                                  QString configHome = {});
    ~XdgDesktopAppearance() override;

    const Published<ColorSchemePreference>& colorScheme() const override { return scheme_; }

private Q_SLOTS:
    void settingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);

private:
    class GnomeColorScheme;

    // What the portal said, then what that makes of the preference.
    void takePortalValue(const QVariant& value);
    // The portal does not answer (or not usably): the next source speaks.
    void portalSilent();
    void gnomeChanged(std::optional<ColorSchemePreference> scheme);
    void publish();

    QDBusConnection bus_;
    QString configHome_;
    // Asks the portal when it comes.
    std::unique_ptr<BusNameReader> reader_;
    std::optional<ColorSchemePreference> portal_;
    std::optional<ColorSchemePreference> gnome_;
    // Opened the first time the portal does not answer.
    std::unique_ptr<GnomeColorScheme> gnomeSource_;
    Published<ColorSchemePreference> scheme_{ColorSchemePreference::none};
    // The source last announced in the diagnostics, so that each change of source is told once.
    std::string announced_;
};

}  // namespace velaro
