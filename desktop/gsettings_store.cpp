#include "gsettings_store.h"

// GLib first and alone: Qt's keyword macros would break its headers.
#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include <cstring>

namespace {

GSettingsSchema* LookupSchema(const std::string& schema) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) return nullptr;
    return g_settings_schema_source_lookup(source, schema.c_str(), TRUE);
}

// The memory and null back ends forget everything when the process ends: a write there
// would look like success and change nothing.
bool BackendKeepsValues(std::string& name) {
    GSettingsBackend* backend = g_settings_backend_get_default();
    name = backend ? G_OBJECT_TYPE_NAME(backend) : "none";
    const bool keeps =
        name != "GMemorySettingsBackend" && name != "GNullSettingsBackend" && name != "none";
    if (backend) g_object_unref(backend);
    return keeps;
}

}  // namespace

bool HasGSettingsSchema(const std::string& schema) {
    GSettingsSchema* s = LookupSchema(schema);
    if (!s) return false;
    g_settings_schema_unref(s);
    return true;
}

std::optional<std::string> ReadGSettingsString(const std::string& schema, const std::string& key) {
    GSettingsSchema* s = LookupSchema(schema);
    if (!s) return std::nullopt;
    std::optional<std::string> result;
    if (g_settings_schema_has_key(s, key.c_str())) {
        GSettings* settings = g_settings_new_full(s, nullptr, nullptr);
        GVariant* value = g_settings_get_value(settings, key.c_str());
        if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
            result = g_variant_get_string(value, nullptr);
        g_variant_unref(value);
        g_object_unref(settings);
    }
    g_settings_schema_unref(s);
    return result;
}

std::string WriteGSettings(const std::string& schema, const std::vector<GSettingsWrite>& writes) {
    GSettingsSchema* s = LookupSchema(schema);
    if (!s) return "the settings schema " + schema + " is not installed";
    std::string backendName;
    if (!BackendKeepsValues(backendName)) {
        g_settings_schema_unref(s);
        return "GSettings has no lasting store here (" + backendName + "); dconf is not installed";
    }
    GSettings* settings = g_settings_new_full(s, nullptr, nullptr);
    std::string error;
    std::vector<const GSettingsWrite*> written;
    for (const GSettingsWrite& w : writes) {
        if (!g_settings_schema_has_key(s, w.key.c_str())) {
            if (w.optional) continue;
            error = "the key " + w.key + " is missing from " + schema;
            break;
        }
        if (!g_settings_is_writable(settings, w.key.c_str())) {
            error = "the key " + schema + " " + w.key + " is locked";
            break;
        }
        GSettingsSchemaKey* key = g_settings_schema_get_key(s, w.key.c_str());
        GVariant* value = g_variant_ref_sink(g_variant_new_string(w.value.c_str()));
        const bool inRange = g_settings_schema_key_range_check(key, value);
        const bool set = inRange && g_settings_set_value(settings, w.key.c_str(), value);
        g_variant_unref(value);
        g_settings_schema_key_unref(key);
        if (!set) {
            error = "the key " + schema + " " + w.key + " does not accept '" + w.value + "'";
            break;
        }
        written.push_back(&w);
    }
    g_settings_sync();
    g_object_unref(settings);
    // A store that failed to commit (no session bus for dconf, say) hands back the old value.
    if (error.empty()) {
        settings = g_settings_new_full(s, nullptr, nullptr);
        for (const GSettingsWrite* w : written) {
            gchar* now = g_settings_get_string(settings, w->key.c_str());
            const bool kept = now && w->value == now;
            g_free(now);
            if (!kept) {
                error = "the settings store (" + backendName + ") did not keep " + schema + " " +
                        w->key;
                break;
            }
        }
        g_object_unref(settings);
    }
    g_settings_schema_unref(s);
    return error;
}
