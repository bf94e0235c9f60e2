// Test helper: in-process fakes of the host objects a snapshot entry point receives.
//
// Every fake records each call it gets (operation name plus its arguments as texts, in call
// order) and answers from public fields a test scripts before the call. Nothing here talks to
// a cluster or a device: the fakes stand for the host framework only. All three are plain
// single-threaded objects owned by the test; the plug-in only ever borrows them.
//
// Any operation can be told to throw (throwOn = "<operation name>") so tests can prove the
// exported functions catch what a host object throws.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ItemStatuses.h"
#include "ZYSOHost.h"

namespace krvntest {

struct FakeCall {
    std::string name;
    std::vector<std::string> args;
    std::string text() const;  // "name(a,b)" for readable failure messages
};

// The call journal and the throw switch every fake shares.
class FakeRecorder {
public:
    std::vector<FakeCall> calls;
    std::string throwOn;            // operation that throws std::runtime_error when called
    bool throwNonStandard = false;  // with throwOn: throw an int instead of an exception object
    // Runs on the caller's thread after each call is recorded (e.g. to move its virtual clock).
    std::function<void(const FakeCall&)> onCall;

    size_t count(const std::string& name) const;
    bool called(const std::string& name) const { return count(name) > 0; }
    std::vector<FakeCall> named(const std::string& name) const;
    std::vector<std::string> names() const;  // operation names in call order
    void clear() { calls.clear(); }

protected:
    void record(const std::string& name, std::vector<std::string> args = {});
};

class FakeArrayInfo : public ZYSO::ArrayInfo, public FakeRecorder {
public:
    int number = 1;
    std::string name = "cluster-a";
    std::string controlHost = "127.0.0.1";
    std::string user = "admin";
    std::string encryptedPassword = "secret-pass";
    std::set<std::string> failing;  // getters that answer 1 and leave their output alone

    int getArrayNumber(int* out) override;
    int getArrayName(std::string* out) override;
    int getControlHost(std::string* out) override;
    int getUserName(std::string* out) override;
    int getEncryptedPassword(std::string* out) override;
};

struct FakeLogLine {
    int level;
    std::string prefix;
    std::string text;  // the format with its arguments applied
};

class FakeSnapInfo : public ZYSO::SnapInfo, public FakeRecorder {
public:
    explicit FakeSnapInfo(long long id = 1) : snapId(id) {}
    ~FakeSnapInfo() = default;

    // ---- Scripted answers -----------------------------------------------------------------
    long long snapId;
    ZYSO::SnapStatus status = 0;
    int arrayNumber = 1;
    int cloneNumber = 1;
    std::string sourceDevice = "/dev/sdb";
    bool sourceDeviceOk = true;
    std::map<int, std::string> metadata;  // setMetadata writes here too
    std::set<int> metadataReadFails;      // keys whose getMetadata answers false
    int setMetadataResult = 0;
    std::map<std::string, int> configInts;  // missing name: getConfigInt answers 1
    std::map<std::string, std::vector<std::string>> configLists;
    std::set<std::string> configListSizeFails;
    std::map<std::pair<std::string, int>, int> configItemLength;  // reported length override
    std::set<std::pair<std::string, int>> configItemLengthFails;  // null-buffer call answers 1
    std::set<std::pair<std::string, int>> configItemFetchFails;   // buffer call answers 1
    std::set<int> flags;
    int setArrayInfoResult = 0;
    std::map<std::string, int> arrayNumberForDetails;  // accepted setArrayInfo text -> number
    bool arrayInfoFails = false;
    bool arrayInfoPointerOnFailure = false;  // a failing getArrayInfo still hands a record out
    FakeArrayInfo arrayRecord;
    std::function<std::string(const std::string&)> decrypt;  // empty: identity
    std::string uuidPrefix = "uuid-";

    // ---- What the plug-in left on the item -------------------------------------------------
    std::string snapName;
    std::vector<std::string> arrayInfoTexts;  // every setArrayInfo text, in order
    std::string mappedDevice;
    int lastErrorCode = 0;
    std::string lastErrorMessage;
    int lastErrorCalls = 0;
    std::vector<ZYSO::SnapStatus> statusHistory;
    std::vector<FakeLogLine> logLines;
    int arrayInfoOutstanding = 0;  // handed out and not yet released

    bool hasLog(const std::string& text) const;  // a job-log line equal to text

    // ---- ZYSO::SnapInfo --------------------------------------------------------------------
    void setSnapName(const char* name) override;
    int setArrayInfo(const char* details) override;
    ZYSO::SnapStatus getStatus() override;
    void setStatus(ZYSO::SnapStatus value) override;
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

private:
    int uuidCounter_ = 0;
};

// One refreshBus call as the host saw it.
struct FakeBusRefresh {
    std::string host;
    std::vector<std::string> initiators;
    std::vector<std::string> devices;
};

class FakeOSUtil : public ZYSO::ZYOSUtil, public FakeRecorder {
public:
    long long jobId = 4242;

    // getArrayListByVendor: results answered in turn (positive = buffer too small), then 0.
    std::vector<int> arrayListResults;
    std::string arrayList;  // names joined by '|', copied when the answer is 0
    // getArrayDetailsByName: per call in turn, the result and the size to leave in *size
    // (0 keeps the caller's); after the sequence, 0. An unknown name answers -1.
    std::vector<std::pair<int, unsigned short>> arrayDetailsResults;
    std::map<std::string, std::string> arrayDetails;

    bool hostInterfacesOk = true;
    std::vector<std::string> hostWwpns;
    std::vector<std::string> hostIqns = {"iqn.1994-05.com.example:host1"};

    // getDeviceList answers each list in turn and then repeats the last one.
    bool deviceListOk = true;
    std::vector<std::vector<std::string>> deviceLists = {{}};
    int refreshBusResult = 0;
    std::function<void(FakeOSUtil&)> onRefreshBus;  // e.g. make new devices appear

    std::vector<FakeBusRefresh> refreshes;

    int refreshBus(const char* host, const char** initiators, const char** devices) override;
    int getArrayListByVendor(const char* vendor, int separator, int size, char* buffer) override;
    int getArrayDetailsByName(const char* name, char* buffer, unsigned short* size) override;
    long long getJobId() override;
    bool getHostSCSIInterfaces(const char* host, const char* array, std::vector<std::string>& wwpns,
                               std::vector<std::string>& iqns) override;
    bool getDeviceList(const char* host, const char* filter, std::vector<std::string>& devices) override;

private:
    size_t arrayListCall_ = 0;
    size_t arrayDetailsCall_ = 0;
    size_t deviceListCall_ = 0;
};

// A batch of items as an entry point takes them, with the OS utility beside it.
class FakeSnapBatch {
public:
    explicit FakeSnapBatch(int count = 0);
    FakeSnapInfo& add(long long id);  // next id when id is 0
    FakeSnapInfo& operator[](size_t i) { return *items_[i]; }
    ZYSO::SnapInfo** data() { return pointers_.data(); }
    int count() const { return static_cast<int>(pointers_.size()); }
    size_t size() const { return items_.size(); }
    std::vector<int> statuses() const {  // current status of every item, in order
        std::vector<int> out;
        for (const auto& item : items_) out.push_back(item->status);
        return out;
    }
    void setNull(size_t i) { pointers_[i] = nullptr; }  // the host hands a null item
    // Writes snapshot metadata (key 6) on every item: the three prepare fields, then the
    // snapshot name when it is not empty.
    void setSnapMetadata(const std::string& clusterSerial, const std::string& vDisk, const std::string& serial,
                         const std::string& snapName);
    FakeOSUtil os;

private:
    std::vector<std::unique_ptr<FakeSnapInfo>> items_;
    std::vector<ZYSO::SnapInfo*> pointers_;
};

}  // namespace krvntest
