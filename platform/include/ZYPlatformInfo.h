// ZYPlatformInfo: the platform settings store.
//
// An INI file whose path is $ZY_SETTINGS_FILE (default /etc/zykorvan/settings.ini). Outside a
// ZYPlatformSettingsScope it is read afresh on every read, so a changed file applies at once;
// inside one, every read on that thread takes the copy the scope read. A missing file is an
// empty store. Section "Ovelin" holds the plug-in's settings; section "Platform" configures
// the stand-ins.
#pragma once

#include <memory>
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

// The settings of one call: the file is read once, when the scope is made, and every reader of
// the platform settings on this thread (ZYPlatformInfo, EvDebug, ZYLibCurl, the device tree,
// ZYPassword, the iSCSI module) reads that copy until the scope ends, so one call costs one
// reading however many requests it sends. Scopes nest (the inner one wins); a scope belongs to
// the thread that made it, so calls on other threads read their own.
class ZYPlatformSettingsScope {
public:
    ZYPlatformSettingsScope();
    ~ZYPlatformSettingsScope();
    ZYPlatformSettingsScope(const ZYPlatformSettingsScope&) = delete;
    ZYPlatformSettingsScope& operator=(const ZYPlatformSettingsScope&) = delete;

    // How the file was read, as checkSettingsFile answers: 0 whole; -1 unreadable (openError
    // the errno, ENOENT when missing); else the first line the parser refused (the lines
    // around it were read). path: the file it looked at.
    int status(std::string* path, int* openError) const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

namespace ZyPlatform {
// Convenience readers for the stand-ins' own [Platform] settings.
std::string platformString(const char* key, const std::string& fallback);
long platformNumber(const char* key, long fallback);
}  // namespace ZyPlatform
