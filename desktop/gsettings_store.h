#pragma once
// Reading and writing other programs' GSettings keys (the desktops keep their background
// there). Plain strings in and out, so that GLib's headers stay out of Qt code.
#include <optional>
#include <string>
#include <vector>

struct GSettingsWrite {
    std::string key;
    std::string value;      // a string key or the nick of an enum key
    bool optional = false;  // skipped when the installed schema lacks the key
};

// Whether `schema` is installed.
bool HasGSettingsSchema(const std::string& schema);

// Writes every key of `schema`, waits until the store has them, and reads them back. Returns
// an empty string on success, else one sentence saying what failed.
std::string WriteGSettings(const std::string& schema, const std::vector<GSettingsWrite>& writes);

// A string key's value; nothing when the schema or key is not there.
std::optional<std::string> ReadGSettingsString(const std::string& schema, const std::string& key);
