// libZyISCSI.so: GetInstance() hands out a module of the backend [Platform] iscsiBackend names.
#include <cstring>

#include "IscsiBackends.h"
#include "ZYPlatformInfo.h"

namespace {
constexpr const char* kBackendSetting = "iscsiBackend";
constexpr const char* kBackendSim = "sim";
constexpr const char* kBackendIscsiadm = "iscsiadm";
constexpr const char* kBackendLibiscsi = "libiscsi";
}  // namespace

namespace ZyIscsi {

bool IscsiBase::giveDevice(const std::string& device, char* buffer, unsigned long long* length) {
    if (!buffer || !length || *length == 0) return false;
    if (device.size() >= *length) return false;
    std::memcpy(buffer, device.c_str(), device.size() + 1);
    *length = device.size();
    return true;
}

}  // namespace ZyIscsi

extern "C" __attribute__((visibility("default"))) ZyISCSIModule* GetInstance() {
    std::string backend = ZyPlatform::platformString(kBackendSetting, kBackendIscsiadm);
    if (backend == kBackendSim) return new ZyIscsi::SimIscsi();
    if (backend == kBackendIscsiadm) return new ZyIscsi::AdmIscsi();
    if (backend == kBackendLibiscsi) return new ZyIscsi::LibiscsiIscsi();
    return nullptr;
}
