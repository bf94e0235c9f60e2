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
    // Reads the settings file once more for a caller that reports one giving fewer settings
    // than it should; the readers above are not affected. 0 when it was read whole; -1 when it
    // cannot be read (*openError the errno, EISDIR for a directory); else the number of the
    // first line the parser refused. *path: the file it looked at.
    static int checkSettingsFile(std::string* path, int* openError);
};

namespace ZyPlatform {
// Convenience readers for the stand-ins' own [Platform] settings.
std::string platformString(const char* key, const std::string& fallback);
long platformNumber(const char* key, long fallback);
}  // namespace ZyPlatform
