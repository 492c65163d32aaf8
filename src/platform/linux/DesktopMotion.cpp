// Reads the desktops' reduced-motion switches from their own settings stores.
#include "platform/linux/DesktopMotion.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#undef signals
#include <gio/gio.h>

namespace velaro {

namespace {

// KDE keeps an animation speed factor; 0 means changes happen at once.
bool kdeAnimationsOff(const QString& configHome) {
    const QString path = configHome + QStringLiteral("/kdeglobals");
    if (!QFileInfo::exists(path)) return false;
    QSettings globals(path, QSettings::IniFormat);
    bool ok = false;
    const double factor = globals.value(QStringLiteral("KDE/AnimationDurationFactor")).toDouble(&ok);
    return ok && factor == 0.0;
}

// GNOME keeps its switch in dconf. Only a session that has a dconf database is asked, so that a desktop
// without one never falls back to GSettings' in-memory store (and its warning).
bool gnomeAnimationsOff(const QString& configHome) {
    if (!QFileInfo::exists(configHome + QStringLiteral("/dconf/user"))) return false;
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) return false;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE);
    if (!schema) return false;
    bool off = false;
    if (g_settings_schema_has_key(schema, "enable-animations")) {
        GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
        off = !g_settings_get_boolean(settings, "enable-animations");
        g_object_unref(settings);
    }
    g_settings_schema_unref(schema);
    return off;
}

}  // namespace

bool desktopReducesMotion(const QString& configHome) {
    const QString home = configHome.isEmpty()
                             ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                             : configHome;
    return kdeAnimationsOff(home) || gnomeAnimationsOff(home);
}

}  // namespace velaro
