// libZyISCSI.so: GetInstance() hands out a module of the backend [Platform] iscsiBackend names.
#include <atomic>
#include <cstring>

#include "EvDebug.h"
#include "IscsiBackends.h"
#include "ZYPlatformInfo.h"

namespace {
constexpr const char* kBackendSetting = "iscsiBackend";
constexpr const char* kBackendSim = "sim";
constexpr const char* kBackendIscsiadm = "iscsiadm";
constexpr const char* kBackendLibiscsi = "libiscsi";
constexpr long long kNoJob = 0;
constexpr const char* kUnloadedWhileAlive =
    "KRVN-ISCSI  libZyISCSI.so unloaded while [%d] module instance(s) still alive: their code is gone";

// Instances handed out and not yet deleted. A caller that unloads this library before
// deleting its instance would later run code that is no longer mapped; say so when it happens.
std::atomic<int> g_liveInstances{0};

__attribute__((destructor)) void noteInstancesAliveAtUnload() {
    const int alive = g_liveInstances.load();
    if (alive == 0) return;
    EvDebug logger(nullptr);
    logger.debugLvl(-1, kNoJob, kUnloadedWhileAlive, alive);
}
}  // namespace

namespace ZyIscsi {

IscsiBase::IscsiBase() { ++g_liveInstances; }
IscsiBase::~IscsiBase() { --g_liveInstances; }

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
