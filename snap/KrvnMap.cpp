// Snapshot map: brings each snapshot of the request onto this host as a block device. A
// snapshot cannot be exposed itself, so a clone of it is (created or reused), exposed on the
// storage proxy, opened to the host's initiators and logged in to; the new device is then
// recognised by the clone's SCSI serial number.
#include <algorithm>
#include <climits>
#include <deque>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "CWqString.h"
#include "KrvnMapSteps.h"
#include "KrvnNumbers.h"
#include "KrvnTextsCommon.h"
#include "KrvnTextsMap.h"
#include "KrvnTextsSnap.h"
#include "KrvnUtils.h"
#include "WqSleep.h"
#include "ZYPlatformInfo.h"

namespace ZYSnapKrvn {

using namespace ZYKorvanCommon;

KrvnMapCtx* mapContextOf(KrvnCtx* ctx) {
    if (ctx->mapCtx == nullptr) ctx->mapCtx = new KrvnMapCtx();
    return ctx->mapCtx;
}

bool isCloneOf(KrvnSnapObject* obj, const std::string& name) {
    if (name.find(obj->mountCloneName) == std::string::npos) return false;
    return !obj->snapInfo->isFlagSet(ZY_KRVN_TEST_MOUNT_FLAG) || name == obj->mountCloneName;
}

namespace {

bool isMapped(KrvnSnapObject* obj) { return obj->snapInfo->getStatus() == ZY_KRVN_SNAP_STATUS_MAPPED; }

// A number setting of the plug-in; false when it is not set.
bool mapSetting(const char* key, long long& value) {
    ZYPlatformInfo settings;
    unsigned long raw = 0;
    if (settings.getNumber(ZY_KRVN_MAP_SETTINGS_SECTION, key, &raw) == 0) return false;
    // The store keeps what the file says; a negative number comes back in two's complement.
    value = static_cast<long long>(static_cast<long>(raw));
    return true;
}

int asLogInt(long long value) {
    return static_cast<int>(std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, value)));
}

// For each item, the rows of the proxy's LUN table that carry its clone (isCloneOf, and the
// proxy in the row's target), in table order. Testing every item against every row makes a map
// quadratic in its items; instead every window of a row's LUN id that is as long as some
// clone name is looked up among the names, which finds the same rows.
class CloneRows {
public:
    CloneRows(const std::vector<KrvnSCSITarget>& rows, const std::map<long long, KrvnSnapObject*>& items,
              const std::string& proxy) {
        std::unordered_map<std::string_view, std::vector<KrvnSnapObject*>> byName;
        std::set<size_t> lengths;
        std::vector<KrvnSnapObject*> unnamed;  // an empty name is in every LUN id
        for (const auto& [id, obj] : items) {
            if (obj->mountCloneName.empty()) {
                unnamed.push_back(obj);
                continue;
            }
            byName[obj->mountCloneName].push_back(obj);
            lengths.insert(obj->mountCloneName.size());
        }
        std::unordered_map<KrvnSnapObject*, bool> exactOnly;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].targetIqn.find(proxy) == std::string::npos) continue;
            const std::string_view lunId = rows[i].lunId;
            for (KrvnSnapObject* obj : unnamed) add(obj, i, lunId, exactOnly);
            for (size_t length : lengths) {
                for (size_t at = 0; at + length <= lunId.size(); ++at) {
                    auto named = byName.find(lunId.substr(at, length));
                    if (named == byName.end()) continue;
                    for (KrvnSnapObject* obj : named->second) add(obj, i, lunId, exactOnly);
                }
            }
        }
    }
    const std::vector<size_t>& of(KrvnSnapObject* obj) const {
        static const std::vector<size_t> kNone;
        auto it = rows_.find(obj);
        return it == rows_.end() ? kNone : it->second;
    }

private:
    // A test mount takes only its own clone, never one whose name merely contains it.
    void add(KrvnSnapObject* obj, size_t row, std::string_view lunId,
             std::unordered_map<KrvnSnapObject*, bool>& exactOnly) {
        auto flag = exactOnly.find(obj);
        if (flag == exactOnly.end())
            flag = exactOnly.emplace(obj, obj->snapInfo->isFlagSet(ZY_KRVN_TEST_MOUNT_FLAG)).first;
        if (flag->second && lunId != obj->mountCloneName) return;
        std::vector<size_t>& list = rows_[obj];
        if (list.empty() || list.back() != row) list.push_back(row);
    }
    std::unordered_map<KrvnSnapObject*, std::vector<size_t>> rows_;
};

// The clones this call still has to bring onto the host, and their names for the log.
void pendingClones(KrvnCtx* ctx, std::vector<std::string>& clones, std::string& display) {
    clones.clear();
    display.clear();
    for (auto& [id, obj] : ctx->snapItems) {
        if (isMapped(obj)) continue;
        clones.push_back(obj->mountCloneName);
        if (!display.empty()) display += ZY_KRVN_MAP_LIST_SEP;
        display += obj->mountCloneName;
    }
}

void logBanner(KrvnCtx* ctx, int level, const char* format, size_t count) {
    ctx->log(level, "%s", ZY_KRVN_MAP_BANNER);
    ctx->log(level, format, count);
    ctx->log(level, "%s", ZY_KRVN_MAP_BANNER);
}

void logBanner(KrvnCtx* ctx, int level, const char* text) {
    ctx->log(level, "%s", ZY_KRVN_MAP_BANNER);
    ctx->log(level, "%s", text);
    ctx->log(level, "%s", ZY_KRVN_MAP_BANNER);
}

// Reads the clone's details into `disk` and notes it as frozen when the cluster says so.
int readClone(KrvnUtils& utils, const std::string& name, KrvnDisk& disk, bool& anyFrozen) {
    disk.reset();
    disk.vDiskName = name;
    int rc = utils.rest_getVDiskDetails(disk);
    if (rc == 0 && disk.frozen) anyFrozen = true;
    return rc;
}

// Looks for a clone of an earlier map among the snapshot's clones. 0 with `reused` telling
// whether one was taken, or the error of a lookup that failed for another reason than the
// clone being (marked as) deleted.
int reuseClone(KrvnUtils& utils, KrvnSnapObject* obj, const std::vector<std::string>& clones, const std::string& prefix,
               bool& reused, bool& anyFrozen) {
    KrvnCtx* kctx = utils.snapCtx();
    reused = false;
    // A test mount may only reuse its own numbered clone, never one whose number merely starts
    // with the same digits.
    const bool exactOnly = obj->snapInfo->isFlagSet(ZY_KRVN_TEST_MOUNT_FLAG);
    std::vector<std::string> candidates;
    for (const std::string& name : clones)
        if (name.find(prefix) != std::string::npos && (!exactOnly || name == obj->mountCloneName))
            candidates.push_back(name);
    if (!candidates.empty())
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_CANDIDATES, candidates.size(), prefix.c_str());
    for (const std::string& name : candidates) {
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_CANDIDATE_DETAILS, name.c_str());
        KrvnDisk disk;
        int rc = readClone(utils, name, disk, anyFrozen);
        if (rc == ZY_KRVN_ERR_NOT_FOUND || rc == ZY_KRVN_ERR_VDISK_MARKED_DELETE) {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_CLONE_UNUSABLE, name.c_str(),
                      rc == ZY_KRVN_ERR_NOT_FOUND ? ZY_KRVN_MAP_CLONE_DELETED : ZY_KRVN_MAP_CLONE_MARKED);
            kctx->tolerate();
            continue;
        }
        if (rc != 0) return rc;
        obj->mountCloneName = name;
        obj->cloneScsiSerial = disk.scsiSerialNumber;
        reused = true;
        return 0;
    }
    return 0;
}

}  // namespace

int KrvnUtils::mapSnaps() {
    KrvnIscsiModuleScope iscsiScope(*this);
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_MAP_START);
    KrvnMapCtx* map = mapContextOf(kctx);

    if (getArrayInterfaces() != 0) return kctx->errorCode;
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_MAP_HOST_INTERFACES);
    if (getHostInterfaces() != 0) return kctx->errorCode;
    decideMapConnectionType();

    const bool overIscsi = map->connectionType == ZY_KRVN_SCSI_CONN_TYPE_ISCSI;
    if (overIscsi) {
        if (iscsiScope.load() != 0) return kctx->errorCode;
        bool allMapped = false;
        checkAndTryiSCSITargetLogon(allMapped);
        if (allMapped) return 0;
    }
    // Without the list every device after the map counts as new; the matching still works.
    if (getDeviceList(map->hostName, map->devicesBefore) != 0) kctx->tolerate();

    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_MAP_PREPARING);
    if (checkCreateCloneOfSnaps() != 0 || checkAddCloneToSCSITarget() != 0) return kctx->errorCode;
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_MAP_PREPARING_DONE);
    if (checkAddAccessToClone() != 0 || refreshArrayInterfaces() != 0) return kctx->errorCode;

    if (overIscsi) {
        std::vector<std::pair<std::string, std::string>> targets;
        for (auto& [id, obj] : kctx->snapItems) targets.emplace_back(kctx->arrayDetails.storageProxy, obj->snapTarget);
        if (tryiSCSITargetLogin(targets) != 0) return kctx->errorCode;
    }
    if (performPostMapSteps() != 0) return kctx->errorCode;
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_MAP_DONE);
    return 0;
}

int KrvnUtils::getArrayInterfaces() {
    KrvnMapCtx* map = mapContextOf(kctx);
    const std::string& proxy = kctx->arrayDetails.storageProxy;
    if (!proxy.empty() && rest_getSCSITargetIQNs(proxy, map->proxyTargets) != 0) return kctx->errorCode;
    map->arrayInterfaces = ZY_KRVN_SCSI_CONN_TYPE_ISCSI;
    return 0;
}

int KrvnUtils::getHostInterfaces() {
    KrvnMapCtx* map = mapContextOf(kctx);
    if (getLocalHostName(map->hostName) != 0) return kctx->errorCode;
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_GOT_HOST_NAME, map->hostName.c_str());
    int rc = getHostInterfaces(map);
    if (rc != 0) return rc;
    // The data path is iSCSI only: FC ports alone are of no use to a map.
    if (map->hostIqns.empty())
        return kctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, CWqString::Format(ZY_KRVN_MAP_NO_IFACES, {map->hostName}),
                          ZY_KRVN_MAP_FAILED_ERROR);
    return 0;
}

int KrvnUtils::getHostInterfaces(KrvnMapCtx* map) {
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_MAP_INITIATORS, map->hostName.c_str());
    map->hostWwpns.clear();
    map->hostIqns.clear();
    if (kctx->osUtil == nullptr ||
        !kctx->osUtil->getHostSCSIInterfaces(map->hostName.c_str(), kctx->arrayDetails.arrayId.c_str(), map->hostWwpns,
                                             map->hostIqns))
        return kctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, CWqString::Format(ZY_KRVN_MAP_IFACES_FAILED, {map->hostName}),
                          ZY_KRVN_MAP_FAILED_ERROR);

    if (!map->hostWwpns.empty())
        map->hostInterfaces = map->hostIqns.empty() ? ZY_KRVN_SCSI_CONN_TYPE_FC : ZY_KRVN_SCSI_CONN_TYPE_FC_ISCSI;
    else
        map->hostInterfaces = ZY_KRVN_SCSI_CONN_TYPE_ISCSI;
    for (std::string& wwpn : map->hostWwpns) {
        std::string colonForm;
        StringToWWPN(wwpn, colonForm);
        wwpn = colonForm;
    }

    std::string list = std::string(ZY_KRVN_MAP_IFACE_LIST) + "\n";
    auto addGroup = [&list](const char* label, const std::vector<std::string>& names) {
        for (size_t i = 0; i < names.size(); ++i) list += label + std::to_string(i + 1) + " " + names[i] + "]";
        if (!names.empty()) list += "\n";
    };
    addGroup(ZY_KRVN_MAP_IFACE_FC, map->hostWwpns);
    addGroup(ZY_KRVN_MAP_IFACE_ISCSI, map->hostIqns);
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_DETAIL_TEXT, list.c_str());
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_HOST_CONN_TYPE, connTypeName(map->hostInterfaces));
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_MAP_INITIATORS_DONE, map->hostName.c_str());
    return 0;
}

void KrvnUtils::decideMapConnectionType() {
    KrvnMapCtx* map = mapContextOf(kctx);
    uint16_t both = map->arrayInterfaces & map->hostInterfaces;
    if (both == ZY_KRVN_SCSI_CONN_TYPE_FC_ISCSI) both = ZY_KRVN_SCSI_CONN_TYPE_FC;
    map->connectionType = both;
    const char* name = both == ZY_KRVN_SCSI_CONN_TYPE_FC || both == ZY_KRVN_SCSI_CONN_TYPE_FC_ISCSI
                           ? connTypeName(both)
                           : connTypeName(ZY_KRVN_SCSI_CONN_TYPE_ISCSI);
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_ACCESS_PROTOCOL, name);
}

int KrvnUtils::checkAndTryiSCSITargetLogon(bool& allMapped) {
    KrvnMapCtx* map = mapContextOf(kctx);
    const std::string& proxy = kctx->arrayDetails.storageProxy;
    const std::vector<KrvnSCSITarget>& rows = map->proxyTargets[proxy];
    const CloneRows cloneRows(rows, kctx->snapItems, proxy);
    std::vector<bool> taken(rows.size(), false);  // one LUN serves one item
    allMapped = false;
    size_t mapped = 0;
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_MAP_TARGET_LOGON);

    for (auto& [id, obj] : kctx->snapItems) {
        KrvnSCSITarget exposed;
        if (obj->snapTarget.empty()) {
            for (size_t row : cloneRows.of(obj)) {
                if (taken[row]) continue;
                taken[row] = true;
                exposed = rows[row];
                obj->snapTarget = rows[row].targetIqn;
                kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_FOUND_TARGET, obj->snapTarget.c_str(),
                          obj->mountCloneName.c_str());
                break;
            }
        }
        if (obj->snapTarget.empty()) {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_NO_TARGET, obj->snapName.c_str());
            obj->snapState = 0;
            continue;
        }
        std::string device(ZY_KRVN_TARGET_DEVICE_BUFFER_LEN, '\0');
        unsigned long long length = ZY_KRVN_TARGET_DEVICE_BUFFER_LEN - 1;
        if (iscsi == nullptr || !iscsi->getTargetDevice(obj->snapTarget.c_str(), &device[0], &length)) {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_TARGET_CHECK_FAILED, obj->snapTarget.c_str());
            obj->snapState = ZY_KRVN_SNAP_STATUS_NOT_MAPPED;
        } else if (device[0] != '\0') {
            // The host may never have heard of this clone (a map whose host died after the
            // login): it is recorded now, or unmap would have nothing to go by.
            if (!exposed.lunId.empty()) {
                obj->mountCloneName = exposed.lunId;
                obj->cloneScsiSerial = exposed.scsiSerialNumber;
                kctx->setCloneMetadata(obj);
            }
            obj->snapInfo->setMappedDevice(device.c_str());
            obj->snapInfo->setStatus(ZY_KRVN_SNAP_STATUS_MAPPED);
            obj->snapState = ZY_KRVN_SNAP_STATUS_MAPPED;
            ++mapped;
        } else {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_TARGET_NO_DEVICE, obj->snapTarget.c_str());
            obj->snapState = 0;
        }
    }

    if (mapped == kctx->snapItems.size()) {
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_ALL_MAPPED, kctx->snapItems.size(), mapped);
        allMapped = true;
    }
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_MAP_TARGET_LOGON_DONE);
    return 0;
}

int KrvnUtils::checkCreateCloneOfSnaps() {
    // One moment for the whole request: every new clone of one map carries the same time.
    const std::string now = std::to_string(ZyPlatform::clockNowSeconds());
    const size_t count = kctx->snapItems.size();
    logBanner(kctx, ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_MAP_CREATE_CLONES, count);

    KrvnNameListCache cache(
        kctx,
        [this](const std::string& snap, std::vector<std::string>& names) { return rest_getCloneDetails(snap, names); },
        {ZY_KRVN_MAP_CLONES_CACHED, ZY_KRVN_MAP_CLONES_FETCHED});
    bool anyFrozen = false;
    for (auto& [id, obj] : kctx->snapItems) {
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_ITEM_HEADER, obj->mountCloneName.c_str());
        if (isMapped(obj)) {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_ALREADY_DISCOVERED, obj->mountCloneName.c_str());
            continue;
        }
        const std::string prefix = obj->mountCloneName;
        if (!obj->snapInfo->isFlagSet(ZY_KRVN_TEST_MOUNT_FLAG)) obj->mountCloneName += now;

        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_GET_CLONES, obj->snapName.c_str());
        const std::vector<std::string>* clones = nullptr;
        int rc = cache.lookup(obj->snapName, clones);
        if (rc != 0) return rc;

        bool reused = false;
        rc = reuseClone(*this, obj, *clones, prefix, reused, anyFrozen);
        if (rc != 0) return rc;
        if (reused) {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_CLONE_REUSED, obj->mountCloneName.c_str());
        } else {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_CREATING_CLONE, obj->mountCloneName.c_str());
            rc = rest_createCloneOfSnap(obj->mountCloneName, obj->snapName);
            if (rc != 0) return rc;
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_CREATED_CLONE, obj->mountCloneName.c_str());
            KrvnDisk disk;
            rc = readClone(*this, obj->mountCloneName, disk, anyFrozen);
            if (rc != 0) return rc;
            obj->cloneScsiSerial = disk.scsiSerialNumber;
        }
        kctx->setCloneMetadata(obj);
    }

    if (anyFrozen) {
        int rc = waitForClonesToUnfreeze();
        if (rc != 0) return rc;
    }
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_MAP_CREATE_CLONES_DONE, count);
    return 0;
}

int KrvnUtils::waitForClonesToUnfreeze() {
    const long long start = ZyPlatform::clockNowSeconds();
    long long limit = ZY_KRVN_FREEZE_WAIT_TIME_DEFAULT;
    long long minutes = 0;
    if (mapSetting(ZY_KRVN_REG_KEY_CLONE_FREEZE_WAIT_TIME_IN_MIN, minutes)) {
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_SETTING_FOUND, ZY_KRVN_REG_KEY_CLONE_FREEZE_WAIT_TIME_IN_MIN,
                  asLogInt(minutes));
        // Bounded as every configured wait is: a huge setting must not wrap into no wait at all.
        if (minutes > 0) limit = waitMs(minutes, ZY_KRVN_MS_PER_MINUTE) / ZY_KRVN_MS_PER_SECOND;
    }
    const size_t count = kctx->snapItems.size();
    logBanner(kctx, ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_UNFREEZE_WAIT, count);

    // Items already on the host were not touched by this map; their objects still hold only the
    // clone name prefix, which names no vDisk, so watching them would wait out the whole limit.
    std::vector<std::string> unfrozen;
    std::unordered_set<std::string> unfrozenNames;  // the same, to look up
    for (auto& [id, obj] : kctx->snapItems)
        if (isMapped(obj)) {
            unfrozen.push_back(obj->mountCloneName);
            unfrozenNames.insert(obj->mountCloneName);
        }

    while (ZyPlatform::clockNowSeconds() - start < limit) {
        for (auto& [id, obj] : kctx->snapItems) {
            if (unfrozenNames.count(obj->mountCloneName) != 0) continue;
            KrvnDisk disk;
            disk.vDiskName = obj->mountCloneName;
            if (rest_getVDiskDetails(disk) != 0) {
                kctx->tolerate();
                continue;
            }
            if (disk.frozen) {
                kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_STILL_FROZEN, obj->mountCloneName.c_str(),
                          disk.freezeReason.c_str());
                continue;
            }
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_UNFROZEN, obj->mountCloneName.c_str());
            unfrozen.push_back(obj->mountCloneName);
            unfrozenNames.insert(obj->mountCloneName);
        }
        if (unfrozen.size() >= count) {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_ALL_UNFROZEN, count);
            break;
        }
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_SOME_UNFROZEN, unfrozen.size(), count);
        WQSLEEP(ZY_KRVN_FREEZE_CHECK_INTERVAL_MS);
    }

    if (unfrozen.size() >= count) {
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_UNFREEZE_WAIT_DONE, count);
        return 0;
    }
    const std::string sentence = CWqString::Format(ZY_KRVN_MAP_FROZEN, {count - unfrozen.size(), count, limit});
    return kctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, sentence,
                      {ZY_KRVN_LOG_OP_FAILED_DASH, KrvnLogArgs::CodeText, ZY_KRVN_LOGLVL_DETAIL});
}

int KrvnUtils::checkAddCloneToSCSITarget() {
    logBanner(kctx, ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_MAP_EXPOSE);
    std::vector<std::string> clones;
    std::string display;
    pendingClones(kctx, clones, display);
    const std::vector<std::string> proxies{kctx->arrayDetails.storageProxy};
    if (clones.empty()) {
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_MAP_NOTHING_PENDING);
    } else {
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_EXPOSING, display.c_str(), proxies.front().c_str());
        if (rest_addLUNConnection(clones, proxies) != 0) return kctx->errorCode;
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_EXPOSED, display.c_str(), proxies.front().c_str());
    }
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_MAP_EXPOSE_DONE);
    return 0;
}

int KrvnUtils::checkAddAccessToClone() {
    logBanner(kctx, ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_MAP_ACCESS);
    KrvnMapCtx* map = mapContextOf(kctx);
    std::vector<std::string> clones;
    std::string display;
    pendingClones(kctx, clones, display);
    const std::string& proxy = kctx->arrayDetails.storageProxy;
    if (clones.empty()) kctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_MAP_NOTHING_PENDING);
    for (size_t i = 0; !clones.empty() && i < map->hostIqns.size(); ++i) {
        const std::string& iqn = map->hostIqns[i];
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_ADDING_ACCESS, map->hostName.c_str(), iqn.c_str(), display.c_str(),
                  proxy.c_str());
        if (rest_addHostAccessToDisks(clones, iqn, proxy) != 0) return kctx->errorCode;
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_ADDED_ACCESS, map->hostName.c_str(), iqn.c_str(), display.c_str(),
                  proxy.c_str());
    }
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_MAP_ACCESS_DONE);
    return 0;
}

int KrvnUtils::refreshArrayInterfaces() {
    KrvnMapCtx* map = mapContextOf(kctx);
    const std::string& proxy = kctx->arrayDetails.storageProxy;
    if (rest_getSCSITargetIQNs(proxy, map->proxyTargets) != 0) return kctx->errorCode;

    const std::vector<KrvnSCSITarget>& rows = map->proxyTargets[proxy];
    const CloneRows cloneRows(rows, kctx->snapItems, proxy);
    size_t found = 0;
    for (auto& [id, obj] : kctx->snapItems) {
        if (obj->snapTarget.empty()) {
            const std::vector<size_t>& carrying = cloneRows.of(obj);
            if (carrying.empty()) continue;
            obj->snapTarget = rows[carrying.front()].targetIqn;
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_FOUND_TARGET, obj->snapTarget.c_str(),
                      obj->mountCloneName.c_str());
        }
        ++found;
    }
    if (found == kctx->snapItems.size()) return 0;
    // The step only records the failure; the map that called it reports it.
    kctx->fail(ZY_KRVN_ERR_OPERATION_FAILED,
               CWqString::Format(ZY_KRVN_MAP_IQNS_MISSING, {found, kctx->snapItems.size()}), ZY_KRVN_NOT_LOGGED);
    return 1;
}

int KrvnUtils::performPostMapSteps() {
    KrvnMapCtx* map = mapContextOf(kctx);
    const size_t count = kctx->snapItems.size();
    auto rescan = [&] {
        // Neither failure stops the map: the device check below tells what actually appeared.
        refreshSystemBus(map->hostName, map->hostIqns, map->mappedDevices);
        if (getDeviceList(map->hostName, map->devicesAfter) != 0) kctx->tolerate();
    };

    WQSLEEP(ZY_KRVN_POST_LOGIN_WAIT_MS);
    rescan();
    std::vector<std::string> diff;
    getDiffDeviceList(diff);
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_DEVICE_COUNTS, map->devicesBefore.size(), map->devicesAfter.size(),
              diff.size());
    unsigned long found = 0;
    checkForMappedDevices(map, diff, found);

    const KrvnArrayConfigs& configs = kctx->arrayDetails.arrayConfigs;
    for (int retry = 0; found != count && retry < configs.maxRetryCount; ++retry) {
        WQSLEEP(waitMs(configs.sleepInterval, ZY_KRVN_MS_PER_SECOND));
        kctx->tolerate();
        map->devicesAfter.clear();
        rescan();
        // The whole list: a device that came up late may hide among those of the first pass.
        checkForMappedDevices(map, map->devicesAfter, found);
    }

    long long minutes = 0;
    if (mapSetting(ZY_KRVN_REG_KEY_DEBUG_WAIT_AFTER_MAP, minutes)) {
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_POST_WAIT_FOUND, ZY_KRVN_REG_KEY_DEBUG_WAIT_AFTER_MAP,
                  asLogInt(minutes));
        if (minutes > 0) {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_POST_WAIT_SLEEP, asLogInt(minutes));
            WQSLEEP(waitMs(minutes, ZY_KRVN_MS_PER_MINUTE));
        }
    }
    if (found == count) return 0;
    // The retries cleared the error state; without a sentence of its own the host would be
    // told of a failure with no reason, under a code that means "no error".
    kctx->resetError();
    kctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, CWqString::Format(ZY_KRVN_ERR_NOT_ALL_DEVICES, {count, found}),
               ZY_KRVN_MAP_FAILED_ERROR);
    return 1;
}

void KrvnUtils::getDiffDeviceList(std::vector<std::string>& diff) {
    KrvnMapCtx* map = mapContextOf(kctx);
    diff.clear();
    const std::unordered_set<std::string> before(map->devicesBefore.begin(), map->devicesBefore.end());
    std::unordered_set<std::string> listed;
    for (const std::string& device : map->devicesAfter)
        if (before.count(device) == 0 && listed.insert(device).second) diff.push_back(device);
}

int KrvnUtils::checkForMappedDevices(KrvnMapCtx*, const std::vector<std::string>& devices, unsigned long& found) {
    const size_t count = kctx->snapItems.size();
    found = 0;
    // The items still to be found, by clone serial and in item order: each device finds its
    // item in one lookup instead of a walk of every item (and a status call to the host for each).
    std::unordered_map<int64_t, std::deque<KrvnSnapObject*>> waiting;
    for (auto& [id, obj] : kctx->snapItems) {
        if (isMapped(obj))
            ++found;
        else
            waiting[obj->cloneScsiSerial].push_back(obj);
    }

    for (const std::string& device : devices) {
        int64_t serial = 0;
        const DeviceSerial read = readDeviceSerial(device, kctx->arrayDetails.scsiArrayId, serial);
        if (read == DeviceSerial::Unreadable) continue;
        KrvnSnapObject* owner = nullptr;
        auto candidates = read == DeviceSerial::Read ? waiting.find(serial) : waiting.end();
        if (candidates != waiting.end() && !candidates->second.empty()) {
            owner = candidates->second.front();
            candidates->second.pop_front();
        }
        if (owner == nullptr) {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_DEVICE_FOREIGN, device.c_str());
            continue;
        }
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_DEVICE_MATCHED, device.c_str(), owner->mountCloneName.c_str());
        owner->snapInfo->setMappedDevice(device.c_str());
        owner->snapInfo->setStatus(ZY_KRVN_SNAP_STATUS_MAPPED);
        owner->snapState = ZY_KRVN_SNAP_STATUS_MAPPED;
        ++found;
    }

    if (found == count) return 0;
    for (auto& [id, obj] : kctx->snapItems) {
        if (obj->snapState == ZY_KRVN_SNAP_STATUS_MAPPED) continue;
        obj->snapInfo->setStatus(ZY_KRVN_SNAP_STATUS_NOT_MAPPED);
        obj->snapInfo->setMappedDevice("");
    }
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MAP_NOT_ALL_FOUND, count, static_cast<size_t>(found));
    return 1;
}

}  // namespace ZYSnapKrvn
