// Internal to the platform: one reading of the settings file.
//
// Every public reader loads a fresh store per call, so a changed file applies at once; a
// component that needs several keys for one action (an HTTP request, one log object) loads
// one store and asks it all of them. Section and key names match without regard to case.
#pragma once

#include <map>
#include <string>
#include <utility>

namespace ZyPlatform {

class SettingsStore {
public:
    // The settings as the thread's ZYPlatformSettingsScope read them, or, outside a scope, a
    // fresh reading of the file named by settingsPath(); a missing or unreadable file is an
    // empty store.
    static SettingsStore load();
    // The calling thread's innermost scope's store, or null outside any scope; with `serial`,
    // that scope's number, never given to another scope of the process (0 outside any).
    static const SettingsStore* inScope(unsigned long long* serial = nullptr);
    // One reading of the file, and how it went (ZYPlatformSettingsScope::status).
    static SettingsStore read(std::string* path, int* status, int* openError);

    bool has(const std::string& section, const std::string& key) const;
    bool text(const std::string& section, const std::string& key, std::string* value) const;
    // A decimal integer (sign allowed, blanks around it ignored); false when absent or when
    // the value is not such a number.
    bool integer(const std::string& section, const std::string& key, long* value) const;

    std::string platformText(const char* key, const std::string& fallback) const;
    long platformInteger(const char* key, long fallback) const;

    void put(const std::string& section, const std::string& key, const std::string& value);

private:
    std::map<std::pair<std::string, std::string>, std::string> values_;
};

// The settings in force for the calling thread, as load() gives them but without copying a
// scope's store (a request or a log object reads several keys from it).
class CurrentSettings {
public:
    CurrentSettings() : store_(SettingsStore::inScope()) {
        if (store_) return;
        own_ = SettingsStore::load();
        store_ = &own_;
    }
    CurrentSettings(const CurrentSettings&) = delete;
    CurrentSettings& operator=(const CurrentSettings&) = delete;
    const SettingsStore& operator*() const { return *store_; }
    const SettingsStore* operator->() const { return store_; }

private:
    const SettingsStore* store_;
    SettingsStore own_;
};

// Names of the stand-ins' own settings, all in section "Platform".
namespace Setting {
constexpr const char* kSection = "Platform";
constexpr const char* kLogFile = "logFile";
constexpr const char* kDebugLevel = "debugLevel";
constexpr const char* kVirtualTime = "virtualTime";
constexpr const char* kDeviceBackend = "deviceBackend";
constexpr const char* kDeviceFixtureDir = "deviceFixtureDir";
constexpr const char* kCaFile = "caFile";
constexpr const char* kTlsVerify = "tlsVerify";
constexpr const char* kConnectTimeoutSec = "connectTimeoutSec";
constexpr const char* kRequestTimeoutSec = "requestTimeoutSec";
constexpr const char* kKeyFile = "keyFile";
constexpr const char* kMaxResponseMB = "maxResponseMB";
constexpr const char* kInitiatorName = "initiatorName";
constexpr const char* kIscsiPortals = "iscsiPortals";
}  // namespace Setting

namespace Default {
constexpr long kDebugLevel = 2;
constexpr long kConnectTimeoutSec = 30;
constexpr long kRequestTimeoutSec = 300;
constexpr long kMaxResponseMB = 256;
constexpr const char* kSettingsPath = "/etc/zykorvan/settings.ini";
constexpr const char* kSettingsEnv = "ZY_SETTINGS_FILE";
constexpr const char* kKeyFile = "/etc/zykorvan/secret.key";
constexpr const char* kDeviceBackend = "sg";
}  // namespace Default

}  // namespace ZyPlatform
