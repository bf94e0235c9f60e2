// A scripted iSCSI module for tests of the steps that log the host in and out of targets.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ZyISCSIModule.h"

namespace iscsitest {

// A scripted module: each target fails `failures[target]` logins before it succeeds (-1:
// never); logouts fail `logoutFailures` times. Every call lands in the shared journal, which
// outlives the module (the utilities delete the module).
struct ModuleJournal {
    std::vector<std::string> calls;
    std::map<std::string, int> failures;
    int logoutFailures = 0;
    long long jobId = 0;
};

class ScriptedModule : public ZyISCSIModule {
public:
    explicit ScriptedModule(ModuleJournal& j) : j_(j) {}
    int discoverPortal(const char* portal) override {
        j_.calls.push_back(std::string("discover ") + portal);
        return 0;
    }
    bool login(const char* portal, const char* target) override {
        j_.calls.push_back(std::string("login ") + portal + " " + target);
        int& left = j_.failures[target];
        if (left < 0) return false;
        if (left > 0) return --left, false;
        return true;
    }
    bool logout(const char* portal, const char* target) override {
        j_.calls.push_back(std::string("logout ") + portal + " " + target);
        if (j_.logoutFailures > 0) return --j_.logoutFailures, false;
        return true;
    }
    bool getTargetDevice(const char*, char*, unsigned long long*) override { return false; }
    void setJobId(long long* jobId) override { j_.jobId = *jobId; }

private:
    ModuleJournal& j_;
};

}  // namespace iscsitest
