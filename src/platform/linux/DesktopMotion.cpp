// Reads the desktops' reduced-motion switches from their own settings stores.
#include "platform/linux/DesktopMotion.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#undef signals
#include <gio/gio.h>

#include "platform/linux/SharedLibrary.h"

namespace velaro {

namespace {

// GSettings is opened only where a dconf database exists: linked, it would load with its GLib object
// system at every launch, on desktops that never have the switch.
struct GioLibrary {
    decltype(&::g_settings_schema_source_get_default) schemaSourceDefault = nullptr;
    decltype(&::g_settings_schema_source_lookup) schemaLookup = nullptr;
    decltype(&::g_settings_schema_has_key) schemaHasKey = nullptr;
    decltype(&::g_settings_schema_unref) schemaUnref = nullptr;
    decltype(&::g_settings_new_full) settingsNew = nullptr;
    decltype(&::g_settings_get_boolean) getBoolean = nullptr;
    decltype(&::g_object_unref) objectUnref = nullptr;
    bool complete = false;
};

const GioLibrary& gioLibrary() {
    static const GioLibrary library = [] {
        GioLibrary l;
        const SharedLibrary gio("libgio-2.0.so.0");
        l.complete = gio.resolve(l.schemaSourceDefault, "g_settings_schema_source_get_default") &&
                     gio.resolve(l.schemaLookup, "g_settings_schema_source_lookup") &&
                     gio.resolve(l.schemaHasKey, "g_settings_schema_has_key") &&
                     gio.resolve(l.schemaUnref, "g_settings_schema_unref") &&
                     gio.resolve(l.settingsNew, "g_settings_new_full") &&
                     gio.resolve(l.getBoolean, "g_settings_get_boolean") &&
                     gio.resolve(l.objectUnref, "g_object_unref");
        return l;
    }();
    return library;
}

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
    const GioLibrary& gio = gioLibrary();
    if (!gio.complete) return false;
    GSettingsSchemaSource* source = gio.schemaSourceDefault();
    if (!source) return false;
    GSettingsSchema* schema = gio.schemaLookup(source, "org.gnome.desktop.interface", TRUE);
    if (!schema) return false;
    bool off = false;
    if (gio.schemaHasKey(schema, "enable-animations")) {
        GSettings* settings = gio.settingsNew(schema, nullptr, nullptr);
        off = !gio.getBoolean(settings, "enable-animations");
        gio.objectUnref(settings);
    }
    gio.schemaUnref(schema);
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
