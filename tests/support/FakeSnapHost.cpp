#include "FakeSnapHost.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace krvntest {

namespace {
std::string textOf(const char* s) { return s ? std::string(s) : std::string("<null>"); }

std::vector<std::string> nullTerminated(const char** list) {
    std::vector<std::string> out;
    for (; list && *list; ++list) out.emplace_back(*list);
    return out;
}
}  // namespace

std::string FakeCall::text() const {
    std::string out = name + "(";
    for (size_t i = 0; i < args.size(); ++i) out += (i ? "," : "") + args[i];
    return out + ")";
}

size_t FakeRecorder::count(const std::string& name) const {
    size_t n = 0;
    for (const auto& c : calls) n += c.name == name;
    return n;
}

std::vector<FakeCall> FakeRecorder::named(const std::string& name) const {
    std::vector<FakeCall> out;
    for (const auto& c : calls)
        if (c.name == name) out.push_back(c);
    return out;
}

std::vector<std::string> FakeRecorder::names() const {
    std::vector<std::string> out;
    for (const auto& c : calls) out.push_back(c.name);
    return out;
}

void FakeRecorder::record(const std::string& name, std::vector<std::string> args) {
    calls.push_back({name, std::move(args)});
    if (onCall) onCall(calls.back());
    if (!throwOn.empty() && throwOn == name) {
        if (throwNonStandard) throw 7;
        throw std::runtime_error("fake host failure in " + name);
    }
}

// ---- FakeArrayInfo --------------------------------------------------------------------------

namespace {
template <typename T>
int answer(const std::set<std::string>& failing, const char* name, T* out, const T& value) {
    if (failing.count(name)) return 1;
    if (out) *out = value;
    return 0;
}
}  // namespace

int FakeArrayInfo::getArrayNumber(int* out) {
    record("getArrayNumber");
    return answer(failing, "getArrayNumber", out, number);
}
int FakeArrayInfo::getArrayName(std::string* out) {
    record("getArrayName");
    return answer(failing, "getArrayName", out, name);
}
int FakeArrayInfo::getControlHost(std::string* out) {
    record("getControlHost");
    return answer(failing, "getControlHost", out, controlHost);
}
int FakeArrayInfo::getUserName(std::string* out) {
    record("getUserName");
    return answer(failing, "getUserName", out, user);
}
int FakeArrayInfo::getEncryptedPassword(std::string* out) {
    record("getEncryptedPassword");
    return answer(failing, "getEncryptedPassword", out, encryptedPassword);
}

// ---- FakeSnapInfo ---------------------------------------------------------------------------

bool FakeSnapInfo::hasLog(const std::string& text) const {
    for (const auto& l : logLines)
        if (l.text == text) return true;
    return false;
}

void FakeSnapInfo::setSnapName(const char* name) {
    record("setSnapName", {textOf(name)});
    snapName = textOf(name);
}

int FakeSnapInfo::setArrayInfo(const char* details) {
    record("setArrayInfo", {textOf(details)});
    arrayInfoTexts.push_back(textOf(details));
    if (setArrayInfoResult != 0) return setArrayInfoResult;
    auto it = arrayNumberForDetails.find(textOf(details));
    if (it != arrayNumberForDetails.end()) arrayNumber = it->second;
    return 0;
}

ZYSO::SnapStatus FakeSnapInfo::getStatus() {
    record("getStatus");
    return status;
}

void FakeSnapInfo::setStatus(ZYSO::SnapStatus value) {
    record("setStatus", {std::to_string(value)});
    status = value;
    statusHistory.push_back(value);
}

void FakeSnapInfo::setMappedDevice(const char* device) {
    record("setMappedDevice", {textOf(device)});
    mappedDevice = device ? device : "";
}

int FakeSnapInfo::setMetadata(int key, const char* value) {
    record("setMetadata", {std::to_string(key), textOf(value)});
    metadata[key] = value ? value : "";
    return setMetadataResult;
}

void FakeSnapInfo::setLastError(int code, const char* message) {
    record("setLastError", {std::to_string(code), textOf(message)});
    lastErrorCode = code;
    lastErrorMessage = textOf(message);
    ++lastErrorCalls;
}

void FakeSnapInfo::log(int level, const char* prefix, const char* format, ...) {
    char buffer[8192];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format ? format : "", args);
    va_end(args);
    record("log", {std::to_string(level), textOf(prefix), buffer});
    logLines.push_back({level, textOf(prefix), buffer});
}

int FakeSnapInfo::getCloneNumber() {
    record("getCloneNumber");
    return cloneNumber;
}

int FakeSnapInfo::getConfigInt(const char* name, int* value) {
    record("getConfigInt", {textOf(name)});
    auto it = configInts.find(textOf(name));
    if (it == configInts.end()) return 1;
    if (value) *value = it->second;
    return 0;
}

int FakeSnapInfo::getArrayNumber() {
    record("getArrayNumber");
    return arrayNumber;
}

int FakeSnapInfo::getConfigListSize(const char* name, int* count) {
    record("getConfigListSize", {textOf(name)});
    if (configListSizeFails.count(textOf(name))) return 1;
    auto it = configLists.find(textOf(name));
    if (count) *count = it == configLists.end() ? 0 : static_cast<int>(it->second.size());
    return 0;
}

int FakeSnapInfo::getConfigListItem(const char* name, int index, char* buffer, int* length) {
    record("getConfigListItem", {textOf(name), std::to_string(index), buffer ? "buffer" : "null",
                                 length ? std::to_string(*length) : "<null>"});
    const auto key = std::make_pair(textOf(name), index);
    auto it = configLists.find(key.first);
    if (it == configLists.end() || index < 0 || index >= static_cast<int>(it->second.size())) return 1;
    const std::string& value = it->second[static_cast<size_t>(index)];
    if (!buffer) {
        if (configItemLengthFails.count(key)) return 1;
        auto over = configItemLength.find(key);
        if (length) *length = over != configItemLength.end() ? over->second : static_cast<int>(value.size() + 1);
        return 0;
    }
    if (configItemFetchFails.count(key) || !length || *length <= 0) return 1;
    size_t n = std::min(static_cast<size_t>(*length), value.size() + 1);
    std::memcpy(buffer, value.c_str(), n);
    return 0;
}

bool FakeSnapInfo::isFlagSet(int flag) {
    record("isFlagSet", {std::to_string(flag)});
    return flags.count(flag) > 0;
}

void FakeSnapInfo::decryptPassword(std::string stored, std::string* clear) {
    record("decryptPassword", {"<stored>"});  // the journal never holds a secret
    if (clear) *clear = decrypt ? decrypt(stored) : stored;
}

long long FakeSnapInfo::getSnapId() {
    record("getSnapId");
    return snapId;
}

bool FakeSnapInfo::getArrayInfo(ZYSO::ArrayInfo** info) {
    record("getArrayInfo");
    if (arrayInfoFails) {
        if (info && arrayInfoPointerOnFailure) {
            *info = &arrayRecord;
            ++arrayInfoOutstanding;
        }
        return true;
    }
    if (info) {
        *info = &arrayRecord;
        ++arrayInfoOutstanding;
    }
    return false;
}

void FakeSnapInfo::releaseArrayInfo(ZYSO::ArrayInfo** info) {
    record("releaseArrayInfo", {info && *info ? "record" : "null"});
    if (info && *info) {
        --arrayInfoOutstanding;
        *info = nullptr;
    }
}

bool FakeSnapInfo::getSourceDevice(std::string* device) {
    record("getSourceDevice");
    if (!sourceDeviceOk) return false;
    if (device) *device = sourceDevice;
    return true;
}

void FakeSnapInfo::getMappedDevice(std::string* device) {
    record("getMappedDevice");
    if (device) *device = mappedDevice;
}

bool FakeSnapInfo::getMetadata(int key, std::string* value) {
    record("getMetadata", {std::to_string(key)});
    if (metadataReadFails.count(key)) return false;
    auto it = metadata.find(key);
    if (it == metadata.end()) return false;
    if (value) *value = it->second;
    return true;
}

void FakeSnapInfo::generateSnapUUID(const char* separator, long long* n, std::string* uuid) {
    record("generateSnapUUID", {textOf(separator), n ? std::to_string(*n) : "<null>"});
    if (uuid) *uuid = uuidPrefix + std::to_string(snapId) + textOf(separator) + std::to_string(++uuidCounter_);
}

// ---- FakeOSUtil -----------------------------------------------------------------------------

int FakeOSUtil::refreshBus(const char* host, const char** initiators, const char** devices) {
    FakeBusRefresh r{textOf(host), nullTerminated(initiators), nullTerminated(devices)};
    std::string ini, dev;
    for (const auto& s : r.initiators) ini += (ini.empty() ? "" : ";") + s;
    for (const auto& s : r.devices) dev += (dev.empty() ? "" : ";") + s;
    record("refreshBus", {r.host, ini, dev});
    refreshes.push_back(r);
    if (onRefreshBus) onRefreshBus(*this);
    return refreshBusResult;
}

int FakeOSUtil::getArrayListByVendor(const char* vendor, int separator, int size, char* buffer) {
    record("getArrayListByVendor", {textOf(vendor), std::to_string(separator), std::to_string(size)});
    if (arrayListCall_ < arrayListResults.size()) {
        int r = arrayListResults[arrayListCall_++];
        if (r != 0) return r;
    }
    if (buffer && size > 0) {
        size_t n = std::min(arrayList.size(), static_cast<size_t>(size - 1));
        std::memcpy(buffer, arrayList.data(), n);
        buffer[n] = '\0';
    }
    return 0;
}

int FakeOSUtil::getArrayDetailsByName(const char* name, char* buffer, unsigned short* size) {
    record("getArrayDetailsByName", {textOf(name), size ? std::to_string(*size) : "<null>"});
    if (arrayDetailsCall_ < arrayDetailsResults.size()) {
        auto [result, newSize] = arrayDetailsResults[arrayDetailsCall_++];
        if (size && newSize) *size = newSize;
        if (result != 0) return result;
    }
    auto it = arrayDetails.find(textOf(name));
    if (it == arrayDetails.end()) return -1;
    if (buffer && size && *size > 0) {
        size_t n = std::min(it->second.size(), static_cast<size_t>(*size - 1));
        std::memcpy(buffer, it->second.data(), n);
        buffer[n] = '\0';
    }
    return 0;
}

long long FakeOSUtil::getJobId() {
    record("getJobId");
    return jobId;
}

bool FakeOSUtil::getHostSCSIInterfaces(const char* host, const char* array, std::vector<std::string>& wwpns,
                                       std::vector<std::string>& iqns) {
    record("getHostSCSIInterfaces", {textOf(host), textOf(array)});
    if (!hostInterfacesOk) return false;
    wwpns = hostWwpns;
    iqns = hostIqns;
    return true;
}

bool FakeOSUtil::getDeviceList(const char* host, const char* filter, std::vector<std::string>& devices) {
    record("getDeviceList", {textOf(host), textOf(filter)});
    if (!deviceListOk) return false;
    if (!deviceLists.empty()) {
        size_t i = std::min(deviceListCall_, deviceLists.size() - 1);
        devices = deviceLists[i];
    } else {
        devices.clear();
    }
    ++deviceListCall_;
    return true;
}

// ---- FakeSnapBatch --------------------------------------------------------------------------

FakeSnapBatch::FakeSnapBatch(int count) {
    for (int i = 0; i < count; ++i) add(0);
}

FakeSnapInfo& FakeSnapBatch::add(long long id) {
    if (id == 0) id = static_cast<long long>(items_.size()) + 1;
    items_.push_back(std::make_unique<FakeSnapInfo>(id));
    items_.back()->sourceDevice = "/dev/sd" + std::string(1, static_cast<char>('b' + (items_.size() - 1) % 24));
    pointers_.push_back(items_.back().get());
    return *items_.back();
}

void FakeSnapBatch::setSnapMetadata(const std::string& clusterSerial, const std::string& vDisk,
                                    const std::string& serial, const std::string& snapName) {
    std::string value = clusterSerial + "**" + vDisk + "**" + serial + "**";
    if (!snapName.empty()) value += snapName + "**";
    for (auto& item : items_) item->metadata[kMetaSnapshot] = value;
}

}  // namespace krvntest
