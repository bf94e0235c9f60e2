// The host's objects as the scale child hands them to the plug-in: each call goes on to
// korvan-host's object and the calling thread's CPU time inside it is added to a HostMeter.
// A real host's objects cost the host, not the plug-in; so do these stand-ins, which keep the
// job in memory and ask the simulator for the host's devices and interfaces.
//
// One HostMeter per child; single-threaded, as the child drives one entry call at a time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ZYSOHost.h"

namespace krvnbench {

// CPU time of the calling thread, in nanoseconds.
long long threadCpuNs();

struct HostMeter {
    long long calls = 0;
    long long cpuNs = 0;  // inside host calls, less the platform's sim calls made from them
    // The platform HTTP client's time inside host calls (korvan-host asking the cluster), which
    // cpuNs already holds: taken off the HTTP tally, so the plug-in's exchanges remain.
    long long httpNs = 0;
};

// Counts one host call: from construction to destruction.
class HostCall {
public:
    explicit HostCall(HostMeter& meter);
    ~HostCall();
    HostCall(const HostCall&) = delete;
    HostCall& operator=(const HostCall&) = delete;

private:
    HostMeter& meter_;
    long long startNs_;
    long long startSimNs_;
    long long startHttpNs_;
};

// What one meter costs the thread outside the time it measures (clock reads of its own, on
// either side of the window): measured, so that it can be taken off the plug-in's time.
double meterOverheadNs();

class MeteredArrayInfo final : public ZYSO::ArrayInfo {
public:
    MeteredArrayInfo(ZYSO::ArrayInfo* inner, HostMeter& meter) : inner_(inner), meter_(meter) {}
    ~MeteredArrayInfo() = default;
    ZYSO::ArrayInfo* inner() const { return inner_; }

    int getArrayNumber(int* number) override;
    int getArrayName(std::string* name) override;
    int getControlHost(std::string* host) override;
    int getUserName(std::string* user) override;
    int getEncryptedPassword(std::string* password) override;

private:
    ZYSO::ArrayInfo* inner_;
    HostMeter& meter_;
};

class MeteredSnapInfo final : public ZYSO::SnapInfo {
public:
    MeteredSnapInfo(ZYSO::SnapInfo* inner, HostMeter& meter) : inner_(inner), meter_(meter) {}
    ~MeteredSnapInfo() = default;

    void setSnapName(const char* name) override;
    int setArrayInfo(const char* details) override;
    ZYSO::SnapStatus getStatus() override;
    void setStatus(ZYSO::SnapStatus status) override;
    void setMappedDevice(const char* device) override;
    int setMetadata(int key, const char* value) override;
    void setLastError(int code, const char* message) override;
    void log(int level, const char* prefix, const char* format, ...) override;
    int getCloneNumber() override;
    int getConfigInt(const char* name, int* value) override;
    int getArrayNumber() override;
    int getConfigListSize(const char* name, int* count) override;
    int getConfigListItem(const char* name, int index, char* buffer, int* length) override;
    bool isFlagSet(int flag) override;
    void decryptPassword(std::string stored, std::string* clear) override;
    long long getSnapId() override;
    bool getArrayInfo(ZYSO::ArrayInfo** info) override;
    void releaseArrayInfo(ZYSO::ArrayInfo** info) override;
    bool getSourceDevice(std::string* device) override;
    void getMappedDevice(std::string* device) override;
    bool getMetadata(int key, std::string* value) override;
    void generateSnapUUID(const char* separator, long long* n, std::string* uuid) override;

private:
    ZYSO::SnapInfo* inner_;
    HostMeter& meter_;
    std::vector<std::unique_ptr<MeteredArrayInfo>> arrays_;  // handed out, until released
};

class MeteredLunInfo final : public ZYSO::LUNInfo {
public:
    MeteredLunInfo(ZYSO::LUNInfo* inner, HostMeter& meter) : inner_(inner), meter_(meter) {}
    ~MeteredLunInfo() = default;

    int getDiskName(char* buffer, unsigned short* length) override;
    int getClusterName(char* buffer, unsigned short* length) override;
    int getClusterControlHost(char* buffer, unsigned short* length) override;
    int getClusterUserName(char* buffer, unsigned short* length) override;
    int getClusterPassword(char* buffer, unsigned short* length) override;
    int getSize(long* bytes) override;
    int getBlockSize(long* bytes) override;
    void getStatus(short* status) override;
    void setStatus(short status) override;
    void setLastError(int code, const char* message) override;
    void setDeviceName(const std::string& name) override;
    void setLunName(const std::string& name) override;
    void getDeviceName(std::string* device) override;
    int getInitiatorInfo(char* buffer, unsigned short* length) override;
    long getLunId() override;
    void getDescription(std::string* text) override;
    int getConfigValue(const std::string& name, std::string* value) override;
    int getSettingInt(const std::string& name, int* value) override;
    int getSettingBool(const std::string& name, bool* value) override;

private:
    ZYSO::LUNInfo* inner_;
    HostMeter& meter_;
};

class MeteredOSUtil final : public ZYSO::ZYOSUtil {
public:
    MeteredOSUtil(ZYSO::ZYOSUtil* inner, HostMeter& meter) : inner_(inner), meter_(meter) {}
    ~MeteredOSUtil() = default;

    int refreshBus(const char* host, const char** initiators, const char** devices) override;
    int getArrayListByVendor(const char* vendor, int separator, int size, char* buffer) override;
    int getArrayDetailsByName(const char* name, char* buffer, unsigned short* size) override;
    long long getJobId() override;
    bool getHostSCSIInterfaces(const char* host, const char* array, std::vector<std::string>& wwpns,
                               std::vector<std::string>& iqns) override;
    bool getDeviceList(const char* host, const char* filter, std::vector<std::string>& devices) override;

private:
    ZYSO::ZYOSUtil* inner_;
    HostMeter& meter_;
};

}  // namespace krvnbench
