// ZYPlatformInfo: the platform settings store.
//
// An INI file whose path is $ZY_SETTINGS_FILE (default /etc/zykorvan/settings.ini), read
// afresh on every call, so a changed file applies at once. A missing file is an empty store.
// Section "Ovelin" holds the plug-in's settings; section "Platform" configures the stand-ins.
#pragma once

#include <string>

class ZYPlatformInfo {
public:
    ZYPlatformInfo();
    // Non-zero when the setting exists; the value is filled then.
    int getString(const char* section, const char* key, std::string* value);
    int getNumber(const char* section, const char* key, unsigned long* value);

    static std::string settingsPath();
};

namespace ZyPlatform {
// Convenience readers for the stand-ins' own [Platform] settings.
std::string platformString(const char* key, const std::string& fallback);
long platformNumber(const char* key, long fallback);
}  // namespace ZyPlatform
