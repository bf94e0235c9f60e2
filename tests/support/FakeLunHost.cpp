#include "FakeLunHost.h"

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "ZYPassword.h"

namespace krvntest {

int FakeLunInfo::copyText(const char* name, const std::string& text, char* buffer, unsigned short* length) {
    record(name, {std::to_string(length ? *length : 0)});
    if (failing.count(name)) return 1;
    if (!buffer || !length || text.size() + 1 > *length) return 1;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return 0;
}

int FakeLunInfo::getDiskName(char* b, unsigned short* l) { return copyText("getDiskName", diskName, b, l); }
int FakeLunInfo::getClusterName(char* b, unsigned short* l) { return copyText("getClusterName", clusterName, b, l); }
int FakeLunInfo::getClusterControlHost(char* b, unsigned short* l) {
    return copyText("getClusterControlHost", controlHost, b, l);
}
int FakeLunInfo::getClusterUserName(char* b, unsigned short* l) {
    return copyText("getClusterUserName", userName, b, l);
}
int FakeLunInfo::getClusterPassword(char* b, unsigned short* l) {
    return copyText("getClusterPassword", storedPassword, b, l);
}

int FakeLunInfo::getSize(long* bytes) {
    record("getSize");
    if (failing.count("getSize")) return 1;
    *bytes = size;
    return 0;
}

int FakeLunInfo::getBlockSize(long* bytes) {
    record("getBlockSize", {std::to_string(*bytes)});
    if (failing.count("getBlockSize")) return 1;
    *bytes = blockSize;
    return 0;
}

void FakeLunInfo::getStatus(short* value) {
    record("getStatus");
    *value = status;
}

void FakeLunInfo::setStatus(short value) {
    record("setStatus", {std::to_string(value)});
    status = value;
}

void FakeLunInfo::setLastError(int code, const char* message) {
    record("setLastError", {std::to_string(code), message ? message : "<null>"});
    lastErrorCode = code;
    lastErrorMessage = message ? message : "";
    ++lastErrorCalls;
}

void FakeLunInfo::setDeviceName(const std::string& name) {
    record("setDeviceName", {name});
    deviceName = name;
}

void FakeLunInfo::setLunName(const std::string& name) {
    record("setLunName", {name});
    lunName = name;
}

void FakeLunInfo::getDeviceName(std::string* device) {
    record("getDeviceName");
    *device = deviceName;
}

int FakeLunInfo::getInitiatorInfo(char* buffer, unsigned short* length) {
    record("getInitiatorInfo", {std::to_string(*length)});
    initiatorBufferSizes.push_back(*length);
    if (initiatorCall_ < initiatorAnswers.size()) {
        const auto [result, left] = initiatorAnswers[initiatorCall_++];
        if (result == 0) {
            std::memset(buffer, 0, *length);
            std::memcpy(buffer, initiatorInfo.data(), std::min<size_t>(initiatorInfo.size(), *length));
        }
        *length = left;
        return result;
    }
    if (initiatorInfo.size() + 1 > *length) {
        *length = static_cast<unsigned short>(initiatorInfo.size() + 1);
        return 2;
    }
    std::memcpy(buffer, initiatorInfo.c_str(), initiatorInfo.size() + 1);
    return 0;
}

long FakeLunInfo::getLunId() {
    record("getLunId");
    return lunId;
}

void FakeLunInfo::getDescription(std::string* text) {
    record("getDescription");
    *text = description;
}

int FakeLunInfo::getConfigValue(const std::string& name, std::string* value) {
    record("getConfigValue", {name});
    auto it = configs.find(name);
    if (it == configs.end()) return 1;
    *value = it->second;
    return 0;
}

int FakeLunInfo::getSettingInt(const std::string& name, int* value) {
    record("getSettingInt", {name});
    auto it = settingInts.find(name);
    if (it == settingInts.end()) return 1;
    *value = it->second;
    return 0;
}

int FakeLunInfo::getSettingBool(const std::string& name, bool* value) {
    record("getSettingBool", {name});
    auto it = settingBools.find(name);
    if (it == settingBools.end()) return 1;
    *value = it->second;
    return 0;
}

void FakeLunInfo::setIscsiHost(const std::string& host, const std::vector<std::string>& initiators) {
    std::string endpoints;
    for (const auto& i : initiators)
        endpoints += (endpoints.empty() ? "" : ",") + std::string("{\"endpoint\":\"") + i + "\"}";
    initiatorInfo = "{\"hosts\":[{\"hostname\":\"" + host +
                    "\",\"hostos\":\"linux\",\"protocol\":\"3\",\"endpoints\":[" + endpoints + "]}]}";
}

// ---- TestKeyFile -------------------------------------------------------------------------------

TestKeyFile::TestKeyFile() {
    char tmpl[] = "/tmp/krvn-key-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    path_ = tmpl;
    std::random_device random;
    for (int i = 0; i < 32; ++i) key_.push_back(static_cast<char>(random() & 0xff));
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << key_;
}

TestKeyFile::~TestKeyFile() { std::remove(path_.c_str()); }

std::string TestKeyFile::encrypt(const std::string& clear) const {
    std::string stored;
    ZYPassword::encryptWithKey(clear, key_, &stored);
    return stored;
}

// ---- FakeLunBatch ------------------------------------------------------------------------------

FakeLunInfo& FakeLunBatch::add(long id) {
    if (id == 0) id = static_cast<long>(items_.size()) + 1;
    items_.push_back(std::make_unique<FakeLunInfo>(id));
    items_.back()->diskName = "vd" + std::to_string(id);
    pointers_.push_back(items_.back().get());
    return *items_.back();
}

std::vector<short> FakeLunBatch::statuses() const {
    std::vector<short> out;
    for (const auto& item : items_) out.push_back(item->status);
    return out;
}

}  // namespace krvntest
