// Test helper: a scripted iSCSI module for the steps that log the host in and out of targets,
// and a way to hand it to a utilities object instead of loading the real module.
//
//   krvntest::IscsiJournal journal;
//   krvntest::WithIscsiModule<KrvnUtils> utils(&ctx);
//   utils.adopt(new krvntest::ScriptedIscsiModule(journal));   // the utilities delete it
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ZyISCSIModule.h"

namespace krvntest {

// What the module is told to do and every call it got. Outlives the module.
struct IscsiJournal {
    std::vector<std::string> calls;              // "discover P", "login P T", "logout P T", "device T"
    std::map<std::string, int> failures;         // target -> logins that fail first (-1: all)
    int logoutFailures = 0;                      // logouts that fail first
    std::map<std::string, std::string> devices;  // target -> the device the host sees behind it
    long long jobId = 0;

    size_t count(const std::string& call) const {
        size_t n = 0;
        for (const auto& c : calls) n += c == call;
        return n;
    }
};

class ScriptedIscsiModule : public ZyISCSIModule {
public:
    explicit ScriptedIscsiModule(IscsiJournal& j) : j_(j) {}
    int discoverPortal(const char* portal) override {
        j_.calls.push_back(std::string("discover ") + portal);
        return 0;
    }
    bool login(const char* portal, const char* target) override {
        j_.calls.push_back(std::string("login ") + portal + " " + target);
        int& left = j_.failures[target];
        if (left < 0) return false;
        return left > 0 ? (--left, false) : true;
    }
    bool logout(const char* portal, const char* target) override {
        j_.calls.push_back(std::string("logout ") + portal + " " + target);
        return j_.logoutFailures > 0 ? (--j_.logoutFailures, false) : true;
    }
    bool getTargetDevice(const char* target, char* buffer, unsigned long long* length) override {
        j_.calls.push_back(std::string("device ") + target);
        auto it = j_.devices.find(target);
        if (it != j_.devices.end()) it->second.copy(buffer, *length);
        return true;  // a target without a device is one the host has no disk for yet
    }
    void setJobId(long long* jobId) override { j_.jobId = *jobId; }

private:
    IscsiJournal& j_;
};

// A utilities class (KrvnCommonUtils or a subclass) that takes a module instead of loading one.
template <class Utils>
class WithIscsiModule : public Utils {
public:
    using Utils::Utils;
    void adopt(ZyISCSIModule* module) { this->iscsi = module; }
};

}  // namespace krvntest
