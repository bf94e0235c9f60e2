// Map and unmap of provisioned disks: cluster access on one side, the host's iSCSI sessions
// and block devices on the other.
#include <algorithm>
#include <climits>
#include <deque>
#include <sstream>
#include <unordered_map>

#include "CWqString.h"
#include "KrvnNumbers.h"
#include "KrvnProvUtils.h"
#include "KrvnTextsCommon.h"
#include "KrvnTextsProv.h"
#include "WqSleep.h"
#include "ZYPlatformInfo.h"

namespace ZYProvKorvan {

using namespace ZYKorvanCommon;

namespace {

void addOnce(std::vector<std::string>& list, const std::string& value) {
    if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

}  // namespace

const KrvnSCSITarget* KrvnTargetsByLun::find(const std::string& vDisk) {
    if (rows_->size() < indexed_) {
        indexed_ = 0;
        first_.clear();
    }
    for (; indexed_ < rows_->size(); ++indexed_) first_.emplace((*rows_)[indexed_].lunId, indexed_);
    auto it = first_.find(vDisk);
    return it == first_.end() ? nullptr : &(*rows_)[it->second];
}

void KrvnProvUtils::sleepRetryInterval() {
    WQSLEEP(waitMs(prov->arrayDetails.arrayConfigs.sleepInterval, ZY_KRVN_MS_PER_SECOND));
}

int KrvnProvUtils::checkMapInfo(const KrvnMapInfo& host) {
    if (host.protocol != ZY_KRVN_PROV_PROTOCOL_ISCSI) {
        return prov->fail(ZY_KRVN_ERR_MAP_PARAMS,
                          CWqString::Format(ZY_KRVN_PROV_ERR_PROTOCOL, {host.protocol, ZY_KRVN_PROV_PROTOCOL_ISCSI}),
                          ZY_KRVN_PROV_LOG_OP_FAILED);
    }
    if (host.hostName.empty()) {
        return prov->fail(ZY_KRVN_ERR_MAP_PARAMS, ZY_KRVN_PROV_ERR_EMPTY_HOST, ZY_KRVN_PROV_LOG_OP_FAILED);
    }
    if (host.endpoints.empty()) {
        return prov->fail(ZY_KRVN_ERR_MAP_PARAMS, ZY_KRVN_PROV_ERR_EMPTY_INITIATORS, ZY_KRVN_PROV_LOG_OP_FAILED);
    }
    return 0;
}

// ---- Map ---------------------------------------------------------------------------------------

int KrvnProvUtils::map_vDisks() {
    if (getLocalHostName(prov->localHostName) != 0) return prov->errorCode;
    if (getClusterUniqueID() != 0) return prov->errorCode;
    prov->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_PROV_LOG_MAP_START, prov->disks.size());

    std::vector<std::string> initiators;
    for (auto& entry : prov->disks) {
        if (mapDisk(*entry.second, initiators) != 0) return prov->errorCode;
    }
    if (getTargetIQNs() != 0) return prov->errorCode;
    if (moduleScope.load() != 0) return prov->errorCode;

    const std::string& proxy = prov->arrayDetails.storageProxy;
    std::vector<std::pair<std::string, std::string>> logins;
    for (auto& entry : prov->disks) logins.emplace_back(proxy, entry.second->targetIQN);
    if (tryiSCSITargetLogin(logins) != 0) return prov->errorCode;

    unsigned long found = 0;
    discoverMappedDevices(initiators, found);
    prov->log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_PROV_LOG_MAP_DONE, prov->disks.size());
    if (found == prov->disks.size()) return 0;
    // The passes cleared the error state: without a sentence the host would learn nothing.
    return prov->fail(ZY_KRVN_ERR_OPERATION_FAILED,
                      CWqString::Format(ZY_KRVN_ERR_NOT_ALL_DEVICES, {prov->disks.size(), found}),
                      ZY_KRVN_PROV_LOG_OP_FAILED);
}

int KrvnProvUtils::mapDisk(KrvnDiskObject& disk, std::vector<std::string>& initiators) {
    const std::string& proxy = prov->arrayDetails.storageProxy;
    std::string diskDump;
    disk.dump(diskDump);
    setItemStatus(disk, ZY_KRVN_PROV_STATUS_MAP_FAILED);
    for (const KrvnMapInfo& host : disk.mapInfos) {
        if (checkMapInfo(host) != 0) return prov->errorCode;
        prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_MAP_ADD_LUN, diskDump.c_str(), proxy.c_str());
        if (rest_addLUNConnection({disk.diskName}, {proxy}) != 0) return prov->errorCode;
        prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_MAP_LUN_ADDED, disk.diskName.c_str(), proxy.c_str());
        std::string hostDump;
        host.dump(hostDump);
        prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_MAP_TO_HOST, diskDump.c_str(), hostDump.c_str());
        for (const std::string& initiator : host.endpoints) {
            if (rest_addHostAccessToDisks({disk.diskName}, initiator, proxy) != 0) return prov->errorCode;
            prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_MAP_INITIATOR_OK, disk.diskName.c_str(),
                      initiator.c_str());
            addOnce(initiators, initiator);
        }
    }
    prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_MAP_DISK_OK, disk.diskName.c_str(), disk.mapInfos.size());
    return 0;
}

int KrvnProvUtils::discoverMappedDevices(const std::vector<std::string>& initiators, unsigned long& found) {
    std::vector<std::string> devices;
    for (int pass = 0; pass < prov->arrayDetails.arrayConfigs.maxRetryCount; ++pass) {
        sleepRetryInterval();
        prov->tolerate();
        devices.clear();
        refreshSystemBus(prov->localHostName, initiators, devices);
        getDeviceList(prov->localHostName, devices);
        checkForMappedDevices(devices, found);
        if (found == prov->disks.size()) break;
    }
    return found == prov->disks.size() ? 0 : 1;
}

int KrvnProvUtils::getClusterUniqueID() {
    const std::string arrayId = prov->arrayDetails.arrayId;
    const std::string setting = std::string(ZY_KRVN_REG_KEY_CLUSTER_UNIQUE_ID) + arrayId;
    prov->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_PROV_LOG_HASH_START, arrayId.c_str());
    std::string value;
    ZYPlatformInfo settings;
    // An empty setting means "ask the cluster", as an absent one does.
    if (settings.getString(ZY_KRVN_PROV_SETTINGS_SECTION, setting.c_str(), &value) != 0 && !value.empty()) {
        prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_HASH_SETTING, setting.c_str(), arrayId.c_str(),
                  value.c_str());
        prov->arrayDetails.clusterUniqueId = value;
        return 0;
    }
    if (rest_getClusterSettingInfo() != 0) return prov->errorCode;
    prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_HASH_GOT, arrayId.c_str(),
              prov->arrayDetails.clusterUniqueId.c_str());
    prov->log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_PROV_LOG_HASH_DONE, arrayId.c_str());
    return 0;
}

int KrvnProvUtils::getTargetIQNs() {
    const std::string& proxy = prov->arrayDetails.storageProxy;
    prov->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_PROV_LOG_IQNS_START, proxy.c_str());
    if (rest_getSCSITargetIQNs(proxy, prov->scsiTargets) != 0) return prov->errorCode;
    size_t found = 0;
    KrvnTargetsByLun targets(prov->scsiTargets[proxy]);
    for (auto& entry : prov->disks) {
        const KrvnSCSITarget* target = targets.find(entry.second->diskName);
        if (target == nullptr) continue;
        entry.second->targetIQN = target->targetIqn;
        entry.second->scsiSerial = target->scsiSerialNumber;
        ++found;
    }
    if (found == prov->disks.size()) {
        prov->log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_PROV_LOG_IQNS_DONE, proxy.c_str());
        return 0;
    }
    return prov->fail(ZY_KRVN_ERR_OPERATION_FAILED,
                      CWqString::Format(ZY_KRVN_PROV_ERR_IQNS, {found, prov->disks.size()}),
                      ZY_KRVN_PROV_LOG_PREFIX_ONLY);
}

int KrvnProvUtils::checkForMappedDevices(const std::vector<std::string>& devices, unsigned long& found) {
    found = 0;
    // The disks still to be found, by serial and in item order: each device finds its disk in
    // one lookup instead of a walk of every disk (and a status call to the host for each).
    std::unordered_map<int64_t, std::deque<KrvnDiskObject*>> waiting;
    for (auto& entry : prov->disks) {
        if (itemStatus(*entry.second) == ZY_KRVN_PROV_STATUS_MAP_OK)
            ++found;
        else
            waiting[entry.second->scsiSerial].push_back(entry.second);
    }
    for (const std::string& device : devices) {
        int64_t serial = 0;
        const DeviceSerial read = readDeviceSerial(device, prov->arrayDetails.clusterUniqueId, serial);
        if (read == DeviceSerial::Unreadable) continue;
        KrvnDiskObject* match = nullptr;
        auto candidates = read == DeviceSerial::Read ? waiting.find(serial) : waiting.end();
        if (candidates != waiting.end() && !candidates->second.empty()) {
            match = candidates->second.front();
            candidates->second.pop_front();
        }
        if (match == nullptr) {
            prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_DEVICE_NO_MATCH, device.c_str());
            continue;
        }
        prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_DEVICE_MATCH, device.c_str(), match->diskName.c_str());
        match->lunInfo->setDeviceName(device);
        setItemStatus(*match, ZY_KRVN_PROV_STATUS_MAP_OK);
        ++found;
    }
    if (found == prov->disks.size()) return 0;
    for (auto& entry : prov->disks) {
        if (itemStatus(*entry.second) == ZY_KRVN_PROV_STATUS_MAP_OK) continue;
        setItemStatus(*entry.second, ZY_KRVN_PROV_STATUS_MAP_FAILED);
        entry.second->lunInfo->setDeviceName("");
    }
    prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_NOT_ALL_FOUND, prov->disks.size(), found);
    return 1;
}

// ---- Unmap -------------------------------------------------------------------------------------

int KrvnProvUtils::unmap_vDisks() {
    prov->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_PROV_LOG_UNMAP_START, prov->disks.size());
    if (getLocalHostName(prov->localHostName) != 0) return prov->errorCode;
    std::vector<std::string> initiators;
    std::vector<std::string> devices;
    for (auto& entry : prov->disks) {
        if (unmapDisk(*entry.second, initiators, devices) != 0) return prov->errorCode;
    }
    refreshSystemBus(prov->localHostName, initiators, devices);
    prov->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_PROV_LOG_UNMAP_DONE, prov->disks.size());
    return 0;
}

void KrvnProvUtils::markUnmapped(KrvnDiskObject& disk, const char* logFormat) {
    prov->log(ZY_KRVN_LOGLVL_DETAIL, logFormat, disk.diskName.c_str());
    setItemStatus(disk, ZY_KRVN_PROV_STATUS_UNMAP_OK);
}

int KrvnProvUtils::readAccessList(KrvnDiskObject& disk, const char* logFormat, std::vector<KrvnAccessInfo>& access,
                                  bool& gone) {
    prov->log(ZY_KRVN_LOGLVL_DETAIL, logFormat, disk.diskName.c_str());
    access.clear();
    gone = false;
    const int rc = rest_getAccessForDisk(disk.diskName, access);
    if (rc != ZY_KRVN_ERR_DISK_NOT_FOUND) return rc;
    prov->tolerate();
    markUnmapped(disk, ZY_KRVN_PROV_LOG_UNMAP_NOT_FOUND);
    gone = true;
    return 0;
}

int KrvnProvUtils::unmapDisk(KrvnDiskObject& disk, std::vector<std::string>& initiators,
                             std::vector<std::string>& devices) {
    std::string diskDump;
    disk.dump(diskDump);
    setItemStatus(disk, ZY_KRVN_PROV_STATUS_UNMAP_FAILED);

    KrvnDisk details;
    details.vDiskName = disk.diskName;
    int rc = rest_getVDiskDetails(details);
    if (rc == ZY_KRVN_ERR_NOT_FOUND || rc == ZY_KRVN_ERR_VDISK_MARKED_DELETE) {
        const char* why = rc == ZY_KRVN_ERR_NOT_FOUND ? ZY_KRVN_PROV_TEXT_DELETED : ZY_KRVN_PROV_TEXT_MARKED_DELETE;
        prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_UNMAP_GONE, disk.diskName.c_str(), why);
        setItemStatus(disk, ZY_KRVN_PROV_STATUS_UNMAP_OK);
        prov->tolerate();
        return 0;
    }
    if (rc != 0) return rc;

    std::vector<KrvnAccessInfo> access;
    bool gone = false;
    if (readAccessList(disk, ZY_KRVN_PROV_LOG_UNMAP_GET_ACCESS, access, gone) != 0) return prov->errorCode;
    if (gone) return 0;
    prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_UNMAP_ACCESS_COUNT, access.size(), disk.diskName.c_str());
    if (access.empty()) {
        markUnmapped(disk, ZY_KRVN_PROV_LOG_UNMAP_NO_MAPPINGS);
        return 0;
    }

    std::vector<std::string> proxies;
    for (const KrvnMapInfo& host : disk.mapInfos) {
        if (checkMapInfo(host) != 0) return prov->errorCode;
        std::string hostDump;
        host.dump(hostDump);
        prov->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_PROV_LOG_BANNER);
        prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_UNMAP_FROM, diskDump.c_str(), hostDump.c_str());
        prov->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_PROV_LOG_BANNER);
        for (const std::string& initiator : host.endpoints) {
            if (unmapInitiator(disk, initiator, access, proxies, initiators) != 0) return prov->errorCode;
        }
    }

    if (readAccessList(disk, ZY_KRVN_PROV_LOG_UNMAP_LATEST_ACCESS, access, gone) != 0) return prov->errorCode;
    if (gone) return 0;
    if (removeUnusedLUNs(disk, access, proxies) != 0) return prov->errorCode;
    prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_UNMAP_DISK_OK, disk.diskName.c_str(), disk.mapInfos.size());
    setItemStatus(disk, ZY_KRVN_PROV_STATUS_UNMAP_OK);
    std::string device;
    disk.lunInfo->getDeviceName(&device);
    if (!device.empty()) devices.push_back(device);
    return 0;
}

// A proxy keeps the disk's LUN while any initiator still reaches the disk through it.
int KrvnProvUtils::removeUnusedLUNs(const KrvnDiskObject& disk, const std::vector<KrvnAccessInfo>& access,
                                    const std::vector<std::string>& proxies) {
    for (const std::string& proxy : proxies) {
        prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_UNMAP_CHECK_PROXY, disk.diskName.c_str(), proxy.c_str());
        auto record =
            std::find_if(access.begin(), access.end(), [&](const KrvnAccessInfo& a) { return a.host == proxy; });
        if (record == access.end()) {
            prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_UNMAP_PROXY_GONE, proxy.c_str(), disk.diskName.c_str());
        } else if (record->initiators.empty()) {
            if (rest_removeLUN(disk.diskName, proxy) != 0) return prov->errorCode;
            prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_UNMAP_LUN_REMOVED, disk.diskName.c_str(), proxy.c_str());
        } else {
            prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_UNMAP_PROXY_IN_USE, disk.diskName.c_str(),
                      record->initiators.size(), proxy.c_str());
        }
    }
    return 0;
}

int KrvnProvUtils::unmapInitiator(KrvnDiskObject& disk, const std::string& initiator,
                                  const std::vector<KrvnAccessInfo>& access, std::vector<std::string>& proxies,
                                  std::vector<std::string>& initiators) {
    auto record = std::find_if(access.begin(), access.end(), [&](const KrvnAccessInfo& a) {
        return std::any_of(a.initiators.begin(), a.initiators.end(),
                           [&](const KrvnInitiatorInfo& i) { return i.ip == initiator; });
    });
    if (record == access.end()) {
        prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_UNMAP_NO_ACCESS, initiator.c_str(), disk.diskName.c_str());
        return 0;
    }
    const std::string proxy = record->host;
    addOnce(proxies, proxy);

    KrvnTargetsByLun& rows = targetIndex.emplace(proxy, KrvnTargetsByLun(targetCache[proxy])).first->second;
    const KrvnSCSITarget* target = rows.find(disk.diskName);
    if (target == nullptr) {
        if (rest_getSCSITargetIQNs(proxy, targetCache) != 0) return prov->errorCode;
        target = rows.find(disk.diskName);
    }
    if (target != nullptr) {
        prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_UNMAP_FOUND_IQN, target->targetIqn.c_str(),
                  disk.diskName.c_str());
        // Without the module only the logout is skipped; the cluster side is still cleaned.
        if (moduleScope.load() == 0) {
            tryiSCSITargetLogout(proxy, target->targetIqn);
        } else {
            prov->tolerate();
        }
    }
    if (rest_removeAccess(disk.diskName, proxy, initiator) != 0) return prov->errorCode;
    prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_UNMAP_INITIATOR_OK, disk.diskName.c_str(), initiator.c_str());
    addOnce(initiators, initiator);
    return 0;
}

}  // namespace ZYProvKorvan
