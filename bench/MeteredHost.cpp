#include "MeteredHost.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <vector>

#include "ZyHttpCallTally.h"
#include "ZySimCallTally.h"

namespace krvnbench {

namespace {

constexpr int kCalibrationRounds = 20000;

long long processCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// The variadic log call goes on as one formatted text.
std::string vformat(const char* format, va_list args) {
    if (!format) return std::string();
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return std::string(buffer.data(), static_cast<size_t>(needed));
}

}  // namespace

long long threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

HostCall::HostCall(HostMeter& meter)
    : meter_(meter),
      startNs_(threadCpuNs()),
      startSimNs_(ZyPlatform::simCallTally().cpuNs),
      startHttpNs_(ZyPlatform::httpCallTally().cpuNs) {}

HostCall::~HostCall() {
    const long long simNs = ZyPlatform::simCallTally().cpuNs - startSimNs_;
    meter_.httpNs += ZyPlatform::httpCallTally().cpuNs - startHttpNs_;
    meter_.cpuNs += threadCpuNs() - startNs_ - simNs;
    ++meter_.calls;
}

double meterOverheadNs() {
    // The median of a few rounds: the overhead is what the whole process spends per empty
    // meter less what the meters themselves saw inside their windows.
    std::vector<double> rounds;
    for (int round = 0; round < 5; ++round) {
        HostMeter meter;
        const long long before = processCpuNs();
        for (int i = 0; i < kCalibrationRounds; ++i) HostCall call(meter);
        const long long spent = processCpuNs() - before;
        rounds.push_back(static_cast<double>(spent - meter.cpuNs) / kCalibrationRounds);
    }
    std::sort(rounds.begin(), rounds.end());
    return std::max(0.0, rounds[rounds.size() / 2]);
}

// ---- ArrayInfo ------------------------------------------------------------------------------------

int MeteredArrayInfo::getArrayNumber(int* number) {
    HostCall call(meter_);
    return inner_->getArrayNumber(number);
}
int MeteredArrayInfo::getArrayName(std::string* name) {
    HostCall call(meter_);
    return inner_->getArrayName(name);
}
int MeteredArrayInfo::getControlHost(std::string* host) {
    HostCall call(meter_);
    return inner_->getControlHost(host);
}
int MeteredArrayInfo::getUserName(std::string* user) {
    HostCall call(meter_);
    return inner_->getUserName(user);
}
int MeteredArrayInfo::getEncryptedPassword(std::string* password) {
    HostCall call(meter_);
    return inner_->getEncryptedPassword(password);
}

// ---- SnapInfo -------------------------------------------------------------------------------------

void MeteredSnapInfo::setSnapName(const char* name) {
    HostCall call(meter_);
    inner_->setSnapName(name);
}
int MeteredSnapInfo::setArrayInfo(const char* details) {
    HostCall call(meter_);
    return inner_->setArrayInfo(details);
}
ZYSO::SnapStatus MeteredSnapInfo::getStatus() {
    HostCall call(meter_);
    return inner_->getStatus();
}
void MeteredSnapInfo::setStatus(ZYSO::SnapStatus status) {
    HostCall call(meter_);
    inner_->setStatus(status);
}
void MeteredSnapInfo::setMappedDevice(const char* device) {
    HostCall call(meter_);
    inner_->setMappedDevice(device);
}
int MeteredSnapInfo::setMetadata(int key, const char* value) {
    HostCall call(meter_);
    return inner_->setMetadata(key, value);
}
void MeteredSnapInfo::setLastError(int code, const char* message) {
    HostCall call(meter_);
    inner_->setLastError(code, message);
}
void MeteredSnapInfo::log(int level, const char* prefix, const char* format, ...) {
    HostCall call(meter_);
    va_list args;
    va_start(args, format);
    const std::string text = vformat(format, args);
    va_end(args);
    inner_->log(level, prefix, "%s", text.c_str());
}
int MeteredSnapInfo::getCloneNumber() {
    HostCall call(meter_);
    return inner_->getCloneNumber();
}
int MeteredSnapInfo::getConfigInt(const char* name, int* value) {
    HostCall call(meter_);
    return inner_->getConfigInt(name, value);
}
int MeteredSnapInfo::getArrayNumber() {
    HostCall call(meter_);
    return inner_->getArrayNumber();
}
int MeteredSnapInfo::getConfigListSize(const char* name, int* count) {
    HostCall call(meter_);
    return inner_->getConfigListSize(name, count);
}
int MeteredSnapInfo::getConfigListItem(const char* name, int index, char* buffer, int* length) {
    HostCall call(meter_);
    return inner_->getConfigListItem(name, index, buffer, length);
}
bool MeteredSnapInfo::isFlagSet(int flag) {
    HostCall call(meter_);
    return inner_->isFlagSet(flag);
}
void MeteredSnapInfo::decryptPassword(std::string stored, std::string* clear) {
    HostCall call(meter_);
    inner_->decryptPassword(std::move(stored), clear);
}
long long MeteredSnapInfo::getSnapId() {
    HostCall call(meter_);
    return inner_->getSnapId();
}
bool MeteredSnapInfo::getArrayInfo(ZYSO::ArrayInfo** info) {
    HostCall call(meter_);
    if (!info) return inner_->getArrayInfo(info);
    ZYSO::ArrayInfo* inner = nullptr;
    const bool failed = inner_->getArrayInfo(&inner);
    *info = inner;
    if (failed || !inner) return failed;
    arrays_.push_back(std::make_unique<MeteredArrayInfo>(inner, meter_));
    *info = arrays_.back().get();
    return failed;
}
void MeteredSnapInfo::releaseArrayInfo(ZYSO::ArrayInfo** info) {
    HostCall call(meter_);
    if (!info || !*info) return inner_->releaseArrayInfo(info);
    auto it = std::find_if(arrays_.begin(), arrays_.end(), [&](const auto& a) { return a.get() == *info; });
    if (it == arrays_.end()) return inner_->releaseArrayInfo(info);
    ZYSO::ArrayInfo* inner = (*it)->inner();
    arrays_.erase(it);
    inner_->releaseArrayInfo(&inner);
    *info = inner;
}
bool MeteredSnapInfo::getSourceDevice(std::string* device) {
    HostCall call(meter_);
    return inner_->getSourceDevice(device);
}
void MeteredSnapInfo::getMappedDevice(std::string* device) {
    HostCall call(meter_);
    inner_->getMappedDevice(device);
}
bool MeteredSnapInfo::getMetadata(int key, std::string* value) {
    HostCall call(meter_);
    return inner_->getMetadata(key, value);
}
void MeteredSnapInfo::generateSnapUUID(const char* separator, long long* n, std::string* uuid) {
    HostCall call(meter_);
    inner_->generateSnapUUID(separator, n, uuid);
}

// ---- LUNInfo --------------------------------------------------------------------------------------

int MeteredLunInfo::getDiskName(char* buffer, unsigned short* length) {
    HostCall call(meter_);
    return inner_->getDiskName(buffer, length);
}
int MeteredLunInfo::getClusterName(char* buffer, unsigned short* length) {
    HostCall call(meter_);
    return inner_->getClusterName(buffer, length);
}
int MeteredLunInfo::getClusterControlHost(char* buffer, unsigned short* length) {
    HostCall call(meter_);
    return inner_->getClusterControlHost(buffer, length);
}
int MeteredLunInfo::getClusterUserName(char* buffer, unsigned short* length) {
    HostCall call(meter_);
    return inner_->getClusterUserName(buffer, length);
}
int MeteredLunInfo::getClusterPassword(char* buffer, unsigned short* length) {
    HostCall call(meter_);
    return inner_->getClusterPassword(buffer, length);
}
int MeteredLunInfo::getSize(long* bytes) {
    HostCall call(meter_);
    return inner_->getSize(bytes);
}
int MeteredLunInfo::getBlockSize(long* bytes) {
    HostCall call(meter_);
    return inner_->getBlockSize(bytes);
}
void MeteredLunInfo::getStatus(short* status) {
    HostCall call(meter_);
    inner_->getStatus(status);
}
void MeteredLunInfo::setStatus(short status) {
    HostCall call(meter_);
    inner_->setStatus(status);
}
void MeteredLunInfo::setLastError(int code, const char* message) {
    HostCall call(meter_);
    inner_->setLastError(code, message);
}
void MeteredLunInfo::setDeviceName(const std::string& name) {
    HostCall call(meter_);
    inner_->setDeviceName(name);
}
void MeteredLunInfo::setLunName(const std::string& name) {
    HostCall call(meter_);
    inner_->setLunName(name);
}
void MeteredLunInfo::getDeviceName(std::string* device) {
    HostCall call(meter_);
    inner_->getDeviceName(device);
}
int MeteredLunInfo::getInitiatorInfo(char* buffer, unsigned short* length) {
    HostCall call(meter_);
    return inner_->getInitiatorInfo(buffer, length);
}
long MeteredLunInfo::getLunId() {
    HostCall call(meter_);
    return inner_->getLunId();
}
void MeteredLunInfo::getDescription(std::string* text) {
    HostCall call(meter_);
    inner_->getDescription(text);
}
int MeteredLunInfo::getConfigValue(const std::string& name, std::string* value) {
    HostCall call(meter_);
    return inner_->getConfigValue(name, value);
}
int MeteredLunInfo::getSettingInt(const std::string& name, int* value) {
    HostCall call(meter_);
    return inner_->getSettingInt(name, value);
}
int MeteredLunInfo::getSettingBool(const std::string& name, bool* value) {
    HostCall call(meter_);
    return inner_->getSettingBool(name, value);
}

// ---- ZYOSUtil -------------------------------------------------------------------------------------

int MeteredOSUtil::refreshBus(const char* host, const char** initiators, const char** devices) {
    HostCall call(meter_);
    return inner_->refreshBus(host, initiators, devices);
}
int MeteredOSUtil::getArrayListByVendor(const char* vendor, int separator, int size, char* buffer) {
    HostCall call(meter_);
    return inner_->getArrayListByVendor(vendor, separator, size, buffer);
}
int MeteredOSUtil::getArrayDetailsByName(const char* name, char* buffer, unsigned short* size) {
    HostCall call(meter_);
    return inner_->getArrayDetailsByName(name, buffer, size);
}
long long MeteredOSUtil::getJobId() {
    HostCall call(meter_);
    return inner_->getJobId();
}
bool MeteredOSUtil::getHostSCSIInterfaces(const char* host, const char* array, std::vector<std::string>& wwpns,
                                          std::vector<std::string>& iqns) {
    HostCall call(meter_);
    return inner_->getHostSCSIInterfaces(host, array, wwpns, iqns);
}
bool MeteredOSUtil::getDeviceList(const char* host, const char* filter, std::vector<std::string>& devices) {
    HostCall call(meter_);
    return inner_->getDeviceList(host, filter, devices);
}

}  // namespace krvnbench
