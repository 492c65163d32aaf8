// Opening GIO and the desktop's settings in it.
#include "platform/linux/GioLibrary.h"

#include <QFileInfo>

#include "platform/linux/SharedLibrary.h"

namespace velaro {

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
                     gio.resolve(l.getValue, "g_settings_get_value") &&
                     gio.resolve(l.variantIsOfType, "g_variant_is_of_type") &&
                     gio.resolve(l.variantGetString, "g_variant_get_string") &&
                     gio.resolve(l.variantTypeString, "g_variant_get_type_string") &&
                     gio.resolve(l.variantUnref, "g_variant_unref") &&
                     gio.resolve(l.signalConnect, "g_signal_connect_data") &&
                     gio.resolve(l.signalDisconnect, "g_signal_handler_disconnect") &&
                     gio.resolve(l.objectUnref, "g_object_unref");
        return l;
    }();
    return library;
}

GSettings* openDesktopSettings(const QString& configHome, const char* schema, const char* key) {
    if (!QFileInfo::exists(configHome + QStringLiteral("/dconf/user"))) return nullptr;
    const GioLibrary& gio = gioLibrary();
    if (!gio.complete) return nullptr;
    GSettingsSchemaSource* source = gio.schemaSourceDefault();
    if (!source) return nullptr;
    GSettingsSchema* found = gio.schemaLookup(source, schema, TRUE);
    if (!found) return nullptr;
    GSettings* settings = gio.schemaHasKey(found, key) ? gio.settingsNew(found, nullptr, nullptr) : nullptr;
    gio.schemaUnref(found);
    return settings;
}

}  // namespace velaro
