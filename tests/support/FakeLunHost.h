// Test helper: an in-process fake of the host's provisioning item (ZYSO::LUNInfo), a batch of
// them as an entry point takes them, and a key file for the stored cluster password.
//
// The item records each call (name and arguments as texts, in order; FakeRecorder) and answers
// from public fields a test scripts first. getInitiatorInfo behaves like a host: it answers 2
// with the size needed when the text does not fit, unless a scripted sequence of answers says
// otherwise ("too small" loops, a zero length). Any operation can be made to throw (throwOn).
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "FakeSnapHost.h"
#include "ZYSOHost.h"

namespace krvntest {

class FakeLunInfo : public ZYSO::LUNInfo, public FakeRecorder {
public:
    explicit FakeLunInfo(long id = 1) : lunId(id) {}
    ~FakeLunInfo() = default;

    // ---- Scripted answers -----------------------------------------------------------------
    long lunId;
    std::string diskName = "vd1";
    std::string clusterName = "clusterA";
    std::string controlHost = "127.0.0.1";
    std::string userName = "admin";
    std::string storedPassword;     // as the host stores it (enciphered)
    std::set<std::string> failing;  // getters that answer 1 and write nothing
    long size = 10L << 30;
    long blockSize = 4096;
    short status = kLunNew;
    std::string description;
    std::string initiatorInfo;  // the map information text
    // Answers of getInitiatorInfo in turn: {result, length left in *length}; then the natural
    // answer from initiatorInfo.
    std::vector<std::pair<int, unsigned short>> initiatorAnswers;
    std::map<std::string, std::string> configs;
    std::map<std::string, int> settingInts;
    std::map<std::string, bool> settingBools;
    std::string deviceName;  // getDeviceName answers it; setDeviceName writes it

    // ---- What the plug-in left on the item -------------------------------------------------
    std::string lunName;
    std::vector<unsigned short> initiatorBufferSizes;  // the length offered on each call
    int lastErrorCode = 0;
    std::string lastErrorMessage;
    int lastErrorCalls = 0;

    // Sets a map information text with one iSCSI host and its initiators.
    void setIscsiHost(const std::string& host, const std::vector<std::string>& initiators);

    // ---- ZYSO::LUNInfo ---------------------------------------------------------------------
    int getDiskName(char* buffer, unsigned short* length) override;
    int getClusterName(char* buffer, unsigned short* length) override;
    int getClusterControlHost(char* buffer, unsigned short* length) override;
    int getClusterUserName(char* buffer, unsigned short* length) override;
    int getClusterPassword(char* buffer, unsigned short* length) override;
    int getSize(long* bytes) override;
    int getBlockSize(long* bytes) override;
    void getStatus(short* value) override;
    void setStatus(short value) override;
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
    int copyText(const char* name, const std::string& text, char* buffer, unsigned short* length);
    size_t initiatorCall_ = 0;
};

// A 32-byte key file for ZYPassword, removed with the object. Point [Platform] keyFile at path().
class TestKeyFile {
public:
    TestKeyFile();
    ~TestKeyFile();
    TestKeyFile(const TestKeyFile&) = delete;
    TestKeyFile& operator=(const TestKeyFile&) = delete;
    const std::string& path() const { return path_; }
    // The stored form of a clear password under this key.
    std::string encrypt(const std::string& clear) const;

private:
    std::string path_;
    std::string key_;
};

// Items as a provisioning entry point takes them, with the OS utility beside them.
class FakeLunBatch {
public:
    FakeLunBatch() = default;
    FakeLunInfo& add(long id = 0);  // next id when 0; disk name "vd<id>"
    FakeLunInfo& operator[](size_t i) { return *items_[i]; }
    ZYSO::LUNInfo** data() { return pointers_.data(); }
    short count() const { return static_cast<short>(pointers_.size()); }
    size_t size() const { return items_.size(); }
    void setNull(size_t i) { pointers_[i] = nullptr; }
    std::vector<short> statuses() const;  // current status of every item, in order
    FakeOSUtil os;

private:
    std::vector<std::unique_ptr<FakeLunInfo>> items_;
    std::vector<ZYSO::LUNInfo*> pointers_;
};

}  // namespace krvntest
