// Internal to libZyISCSI.so: the three backends behind ZyISCSIModule.
//
// "sim" asks the cluster simulator's /sim/iscsi/ API for this host; "iscsiadm" runs
// open-iscsi's command; "libiscsi" logs in with the libiscsi initiator library and keeps the
// sessions in the platform's table (ZyIscsiSessions.h). Each object belongs to the caller
// that got it from GetInstance().
#pragma once

#include <string>
#include <vector>

#include "ZyISCSIModule.h"

namespace ZyIscsi {

class IscsiBase : public ZyISCSIModule {
public:
    IscsiBase();
    ~IscsiBase() override;
    IscsiBase(const IscsiBase&) = delete;
    IscsiBase& operator=(const IscsiBase&) = delete;
    void setJobId(long long* jobId) override { jobId_ = jobId ? *jobId : 0; }
    long long jobId() const { return jobId_; }

protected:
    // Copies `device` NUL-terminated into the caller's buffer of *length bytes.
    static bool giveDevice(const std::string& device, char* buffer, unsigned long long* length);

private:
    long long jobId_ = 0;
};

class SimIscsi : public IscsiBase {
public:
    int discoverPortal(const char* portal) override;
    bool login(const char* portal, const char* targetIqn) override;
    bool logout(const char* portal, const char* targetIqn) override;
    bool getTargetDevice(const char* targetIqn, char* buffer, unsigned long long* length) override;
};

class AdmIscsi : public IscsiBase {
public:
    int discoverPortal(const char* portal) override;
    bool login(const char* portal, const char* targetIqn) override;
    bool logout(const char* portal, const char* targetIqn) override;
    bool getTargetDevice(const char* targetIqn, char* buffer, unsigned long long* length) override;

    // The "/dev/sdX" of the target in `iscsiadm -m session -P 3` output, or empty.
    static std::string deviceOfTarget(const std::string& sessionText, const std::string& targetIqn);
};

class LibiscsiIscsi : public IscsiBase {
public:
    int discoverPortal(const char* portal) override;
    bool login(const char* portal, const char* targetIqn) override;
    bool logout(const char* portal, const char* targetIqn) override;
    bool getTargetDevice(const char* targetIqn, char* buffer, unsigned long long* length) override;

    // "ip:port" of a portal by [Platform] iscsiPortals, else the portal itself (port 3260).
    static std::string address(const std::string& portal);
};

// Runs the program (found through PATH) with the arguments; returns its exit status, or -1
// when it could not be run. Standard output goes to `output`.
int runProgram(const std::vector<std::string>& argv, std::string& output);

}  // namespace ZyIscsi
