// Test helper: a settings file of the test's own, pointed to by ZY_SETTINGS_FILE for the
// lifetime of the object. Virtual time is on by default so the plug-in's fixed waits cost
// nothing.
#pragma once

#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace krvntest {

class ScopedSettings {
public:
    ScopedSettings() {
        char tmpl[] = "/tmp/krvn-settings-XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0) close(fd);
        path_ = tmpl;
        const char* old = std::getenv("ZY_SETTINGS_FILE");
        if (old) previous_ = old, hadPrevious_ = true;
        set("Platform", "virtualTime", "1");
        set("Platform", "debugLevel", "8");
        setenv("ZY_SETTINGS_FILE", path_.c_str(), 1);
    }
    ~ScopedSettings() {
        std::remove(path_.c_str());
        if (hadPrevious_)
            setenv("ZY_SETTINGS_FILE", previous_.c_str(), 1);
        else
            unsetenv("ZY_SETTINGS_FILE");
    }
    ScopedSettings(const ScopedSettings&) = delete;
    ScopedSettings& operator=(const ScopedSettings&) = delete;

    // Sets (or with an empty value of nullptr, removes) one key and rewrites the file.
    void set(const std::string& section, const std::string& key, const std::string& value) {
        values_[section][key] = value;
        write();
    }
    void erase(const std::string& section, const std::string& key) {
        values_[section].erase(key);
        write();
    }
    const std::string& path() const { return path_; }

private:
    void write() {
        std::ofstream out(path_, std::ios::trunc);
        for (const auto& [section, keys] : values_) {
            out << "[" << section << "]\n";
            for (const auto& [k, v] : keys) out << k << "=" << v << "\n";
        }
    }
    std::string path_;
    std::string previous_;
    bool hadPrevious_ = false;
    std::map<std::string, std::map<std::string, std::string>> values_;
};

}  // namespace krvntest
