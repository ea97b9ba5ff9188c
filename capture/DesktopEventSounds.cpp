#include "DesktopEventSounds.h"

#include <gio/gio.h>

#include <memory>

namespace {

constexpr const char* kSoundSchema = "org.gnome.desktop.sound";
constexpr const char* kEventSoundsKey = "event-sounds";

struct ObjectRelease {
    void operator()(GSettings* settings) const { g_object_unref(settings); }
};
using SettingsPointer = std::unique_ptr<GSettings, ObjectRelease>;

// The desktop's sound settings, or null when the schema or a boolean "event-sounds" is missing.
// The schema is looked up first: creating GSettings for a schema that is not installed aborts.
SettingsPointer OpenSoundSettings()
{
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr)
        return nullptr;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kSoundSchema, TRUE);
    if (schema == nullptr)
        return nullptr;
    SettingsPointer settings;
    if (g_settings_schema_has_key(schema, kEventSoundsKey)) {
        GSettingsSchemaKey* key = g_settings_schema_get_key(schema, kEventSoundsKey);
        if (g_variant_type_equal(g_settings_schema_key_get_value_type(key), G_VARIANT_TYPE_BOOLEAN))
            settings.reset(g_settings_new_full(schema, nullptr, nullptr));
        g_settings_schema_key_unref(key);
    }
    g_settings_schema_unref(schema);
    return settings;
}

} // namespace

std::optional<bool> ReadDesktopEventSounds()
{
    SettingsPointer settings = OpenSoundSettings();
    if (!settings)
        return std::nullopt;
    return g_settings_get_boolean(settings.get(), kEventSoundsKey) != FALSE;
}

bool WriteDesktopEventSounds(bool on)
{
    SettingsPointer settings = OpenSoundSettings();
    if (!settings || !g_settings_is_writable(settings.get(), kEventSoundsKey))
        return false;
    const bool written =
        g_settings_set_boolean(settings.get(), kEventSoundsKey, on ? TRUE : FALSE) != FALSE;
    // Writes go out asynchronously (to the dconf service on a desktop).
    g_settings_sync();
    return written;
}
