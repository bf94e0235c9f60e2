// The host objects korvan-host hands to the plug-in, over the job state.
//
// Each object borrows one item (or the whole state) of a HostState that outlives the entry
// call; the state must not grow or shrink while the plug-in holds the objects, because they
// keep references into its vectors. Everything the plug-in sets lands in the state at once;
// saving it is the caller's business. Single-threaded, like the plug-in's calls.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "HostState.h"
#include "HostSystem.h"
#include "ZYSOHost.h"

namespace KrvnHost {

// Sees an entry call while it runs (korvan-host's progress display): its start, every line the
// plug-in writes for the job as it writes it, and its end; all on the calling thread.
class CallWatcher {
public:
    virtual ~CallWatcher() = default;
    virtual void callStarted(const std::string& operation) = 0;
    virtual void jobLine(const std::string& text) = 0;
    virtual void callFinished() = 0;
};

// Appends the plug-in's job log lines to the state, and shows them to the watcher if any.
class JobLog {
public:
    JobLog(HostState& state, long long jobId, CallWatcher* watcher = nullptr)
        : state_(state), jobId_(jobId), watcher_(watcher) {}
    void append(int level, const std::string& text);
    long long jobId() const { return jobId_; }

private:
    HostState& state_;
    long long jobId_;
    CallWatcher* watcher_;
};

// The details text of one array as getArrayDetailsByName hands it out. The password travels
// in clear, because the plug-in logs in with it as it stands; ',', '}' and '\' in values are
// escaped with a backslash.
std::string arrayDetailsText(const ArrayEntry& array);
// Clear text of a stored password; empty when it cannot be decrypted.
std::string decryptStoredPassword(const std::string& stored);
// A random (version 4) UUID with its five groups joined by the separator.
std::string makeUuid(const std::string& separator);

class HostArrayInfo final : public ZYSO::ArrayInfo {
public:
    explicit HostArrayInfo(const ArrayEntry& entry) : entry_(entry) {}
    ~HostArrayInfo() = default;
    int getArrayNumber(int* number) override;
    int getArrayName(std::string* name) override;
    int getControlHost(std::string* host) override;
    int getUserName(std::string* user) override;
    int getEncryptedPassword(std::string* password) override;

private:
    ArrayEntry entry_;
};

class HostSnapInfo final : public ZYSO::SnapInfo {
public:
    HostSnapInfo(HostState& state, SnapItem& item, JobLog& log) : state_(state), item_(item), log_(log) {}
    ~HostSnapInfo() = default;

    void setSnapName(const char* name) override;
    int setArrayInfo(const char* details) override;
    ZYSO::SnapStatus getStatus() override;
    void setStatus(ZYSO::SnapStatus status) override;
    void setMappedDevice(const char* device) override;
    int setMetadata(int key, const char* value) override;
    void setLastError(int code, const char* message) override;
    void log(int level, const char* prefix, const char* format, ...) override __attribute__((format(printf, 4, 5)));
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

    SnapItem& item() { return item_; }

private:
    const ArrayEntry* array() const;
    HostState& state_;
    SnapItem& item_;
    JobLog& log_;
};

class HostLunInfo final : public ZYSO::LUNInfo {
public:
    HostLunInfo(HostState& state, LunItem& item) : state_(state), item_(item) {}
    ~HostLunInfo() = default;

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

    LunItem& item() { return item_; }

private:
    const ArrayEntry* array() const;
    HostState& state_;
    LunItem& item_;
};

class HostOSUtil final : public ZYSO::ZYOSUtil {
public:
    HostOSUtil(HostState& state, HostSystem& system, long long jobId) : state_(state), system_(system), jobId_(jobId) {}
    ~HostOSUtil() = default;

    int refreshBus(const char* host, const char** initiators, const char** devices) override;
    int getArrayListByVendor(const char* vendor, int separator, int size, char* buffer) override;
    int getArrayDetailsByName(const char* name, char* buffer, unsigned short* size) override;
    long long getJobId() override;
    bool getHostSCSIInterfaces(const char* host, const char* array, std::vector<std::string>& wwpns,
                               std::vector<std::string>& iqns) override;
    bool getDeviceList(const char* host, const char* filter, std::vector<std::string>& devices) override;

    int rescanCount() const { return rescans_; }

private:
    HostState& state_;
    HostSystem& system_;
    long long jobId_;
    int rescans_ = 0;
};

}  // namespace KrvnHost
