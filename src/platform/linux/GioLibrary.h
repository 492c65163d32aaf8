// GLib's settings store, opened while the app runs, the first time a feature reads a desktop setting, instead
// of being linked: linked, it would load with its GLib object system at every launch, on desktops that never
// have the settings.
#pragma once

#include <QString>

#undef signals
#include <gio/gio.h>

namespace velaro {

// The functions the features take from GIO; all of them or `complete` is false.
struct GioLibrary {
    decltype(&::g_settings_schema_source_get_default) schemaSourceDefault = nullptr;
    decltype(&::g_settings_schema_source_lookup) schemaLookup = nullptr;
    decltype(&::g_settings_schema_has_key) schemaHasKey = nullptr;
    decltype(&::g_settings_schema_unref) schemaUnref = nullptr;
    decltype(&::g_settings_new_full) settingsNew = nullptr;
    decltype(&::g_settings_get_boolean) getBoolean = nullptr;
    decltype(&::g_settings_get_value) getValue = nullptr;
    decltype(&::g_variant_is_of_type) variantIsOfType = nullptr;
    decltype(&::g_variant_get_string) variantGetString = nullptr;
    decltype(&::g_variant_get_type_string) variantTypeString = nullptr;
    decltype(&::g_variant_unref) variantUnref = nullptr;
    decltype(&::g_signal_connect_data) signalConnect = nullptr;
    decltype(&::g_signal_handler_disconnect) signalDisconnect = nullptr;
    decltype(&::g_object_unref) objectUnref = nullptr;
    bool complete = false;
};

// Opened on first use, kept for the life of the process.
const GioLibrary& gioLibrary();

// The settings of `schema` where it has `key`, for the caller to unref; null where GIO, the schema or the key
// is missing, and where the session has no dconf database under `configHome` (a desktop without one would
// fall back to GSettings' in-memory store, and its warning).
GSettings* openDesktopSettings(const QString& configHome, const char* schema, const char* key);

}  // namespace velaro
