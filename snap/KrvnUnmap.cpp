// Snapshot unmap: undoes, item by item, what a map left behind (the iSCSI session, this host's
// access entries, the LUN on the storage proxy, the clone), in that order. Cluster objects that
// are already gone count as removed, and a clone other hosts still use keeps its LUN and lives.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "CWqString.h"
#include "KrvnMapSteps.h"
#include "KrvnNumbers.h"
#include "KrvnTextsMap.h"
#include "KrvnUtils.h"

namespace ZYSnapKrvn {

using namespace ZYKorvanCommon;

namespace {

void logItemBanner(KrvnCtx* ctx, const std::string& clone) {
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_MAP_BANNER);
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_TRYING, clone.c_str());
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_MAP_BANNER);
}

// Takes the clone name, serial and storage proxy the map stored on the item. Without a clone
// name the object keeps the name prefix, so the clone can still be searched for. Without a
// proxy (a map whose host died before it kept the metadata) the one every map of this array
// uses is taken, so that the clone's session, access and LUN go too, not only an unused clone.
void takeCloneMetadata(KrvnCtx* ctx, KrvnSnapObject* obj) {
    std::string cloneName, serial, proxy;
    (void)ctx->getMountInfoFromMetadata(obj, cloneName, serial, proxy);
    const std::vector<std::string>& configured = ctx->arrayDetails.arrayConfigs.storageProxyList;
    if (proxy.empty() && !configured.empty()) {
        proxy = configured.front();
        ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_CONFIGURED_PROXY, proxy.c_str());
    }
    ctx->arrayDetails.storageProxy = proxy;
    if (cloneName.empty()) {
        ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_NO_CLONE_METADATA, obj->mountCloneName.c_str());
        return;
    }
    obj->mountCloneName = cloneName;
    obj->cloneScsiSerial = 0;
    parseScsiSerial(serial, obj->cloneScsiSerial);
}

// The notes an operator wants when the clone is exposed elsewhere than the metadata says.
void noteTargetLocations(KrvnCtx* ctx, const KrvnDisk& clone) {
    const std::string& proxy = ctx->arrayDetails.storageProxy;
    const std::vector<std::string>& locations = clone.targetLocations;
    if (locations.size() > 2)
        ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_MANY_PROXIES, clone.vDiskName.c_str(), locations.size(),
                 proxy.c_str());
    if (std::find(locations.begin(), locations.end(), proxy) == locations.end())
        ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_PROXY_NOT_LISTED, proxy.c_str(), clone.vDiskName.c_str(),
                 locations.size());
}

const KrvnAccessInfo* entryOfProxy(const std::vector<KrvnAccessInfo>& acl, const std::string& proxy) {
    auto entry = std::find_if(acl.begin(), acl.end(), [&](const KrvnAccessInfo& a) { return a.host == proxy; });
    return entry == acl.end() ? nullptr : &*entry;
}

bool hasInitiator(const KrvnAccessInfo& entry, const std::string& iqn) {
    // The cluster lists an initiator's name under "ip".
    return std::any_of(entry.initiators.begin(), entry.initiators.end(),
                       [&](const KrvnInitiatorInfo& initiator) { return initiator.ip == iqn; });
}

// One item's walk. True when the item ends unmapped.
class UnmapWalk {
public:
    UnmapWalk(KrvnUtils& utils, KrvnIscsiModuleScope& module)
        : utils_(utils),
          ctx_(utils.snapCtx()),
          module_(module),
          snapshots_(ctx_,
                     [&utils](const std::string& vDisk, std::vector<std::string>& names) {
                         return utils.rest_getSnapListForSource(vDisk, names);
                     },
                     {ZY_KRVN_UNMAP_SNAPS_CACHED, ZY_KRVN_UNMAP_SNAPS_FETCHED}),
          clones_(ctx_,
                  [&utils](const std::string& snap, std::vector<std::string>& names) {
                      return utils.rest_getCloneDetails(snap, names);
                  },
                  {ZY_KRVN_UNMAP_CLONES_CACHED, ZY_KRVN_UNMAP_CLONES_FETCHED}) {}

    bool unmap(KrvnSnapObject* obj) {
        logItemBanner(ctx_, obj->mountCloneName);
        bool gone = false;
        if (!findClone(obj, gone)) return false;
        if (gone) return true;
        if (ctx_->arrayDetails.storageProxy.empty()) return deleteOnly(obj);
        if (!findTarget(obj)) return false;
        logout(obj);
        if (utils_.checkAndRemoveAccessFromClone(obj) != 0 || utils_.checkAndRemoveCloneFromSCSITarget(obj) != 0 ||
            utils_.checkAndDeleteClone(obj) != 0)
            return false;
        std::string device;
        obj->snapInfo->getMappedDevice(&device);
        // An item never matched to a device has nothing for the rescan to drop.
        if (!device.empty()) mapContextOf(ctx_)->mappedDevices.push_back(device);
        return true;
    }

private:
    // Settles which clone the item left behind. False when that cannot be told; `gone` when the
    // source vDisk, the snapshot or the clone no longer exists.
    bool findClone(KrvnSnapObject* obj, bool& gone) {
        ctx_->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_GET_SNAPS, obj->sourceVDiskName.c_str());
        const std::vector<std::string>* snaps = nullptr;
        int rc = snapshots_.lookup(obj->sourceVDiskName, snaps);
        if (rc == ZY_KRVN_ERR_NOT_FOUND) {
            ctx_->tolerate();
            ctx_->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_VDISK_GONE, obj->sourceVDiskName.c_str(),
                      obj->snapName.c_str());
            return gone = true;
        }
        if (rc != 0) return false;
        if (std::find(snaps->begin(), snaps->end(), obj->snapName) == snaps->end()) {
            ctx_->tolerate();
            ctx_->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_SNAP_GONE, obj->snapName.c_str());
            return gone = true;
        }

        ctx_->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_GET_CLONES, obj->snapName.c_str());
        const std::vector<std::string>* names = nullptr;
        if (clones_.lookup(obj->snapName, names) != 0) return false;
        takeCloneMetadata(ctx_, obj);

        std::vector<std::string> candidates;
        for (const std::string& name : *names)
            if (isCloneOf(obj, name)) candidates.push_back(name);
        if (candidates.empty()) {
            ctx_->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_CLONE_GONE, obj->mountCloneName.c_str());
            return gone = true;
        }
        if (candidates.size() > 1) {
            // Removing the wrong one could take another map's device away from under it.
            ctx_->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_CLONE_AMBIGUOUS, obj->snapName.c_str(), candidates.size(),
                      obj->mountCloneName.c_str());
            ctx_->resetError();
            ctx_->fail(ZY_KRVN_ERR_OPERATION_FAILED,
                       CWqString::Format(ZY_KRVN_UNMAP_ERR_CLONE_AMBIGUOUS,
                                         {obj->snapName, candidates.size(), obj->mountCloneName}),
                       ZY_KRVN_NOT_LOGGED);
            return false;
        }
        obj->mountCloneName = candidates.front();
        ctx_->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_GOT_CLONE, obj->mountCloneName.c_str(), obj->snapName.c_str());
        return true;
    }

    // Without a storage proxy nothing can be logged out or unexposed; an unused clone can
    // still be deleted.
    bool deleteOnly(KrvnSnapObject* obj) {
        ctx_->log(ZY_KRVN_LOGLVL_ERROR, "%s", ZY_KRVN_UNMAP_NO_PROXY);
        if (utils_.checkAndDeleteClone(obj) != 0) return false;
        ctx_->log(ZY_KRVN_LOGLVL_ERROR, "%s", ZY_KRVN_UNMAP_MARK_SUCCESS);
        return true;
    }

    // Reads the clone and the proxy's LUN table; snapTarget is the clone's target, or empty.
    bool findTarget(KrvnSnapObject* obj) {
        const std::string& proxy = ctx_->arrayDetails.storageProxy;
        ctx_->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_GET_CLONE_DETAILS, obj->mountCloneName.c_str());
        KrvnDisk clone;
        clone.vDiskName = obj->mountCloneName;
        if (utils_.rest_getVDiskDetails(clone) != 0) return false;
        ctx_->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_GOT_CLONE_DETAILS, obj->mountCloneName.c_str());
        noteTargetLocations(ctx_, clone);

        std::string target;
        if (utils_.rest_findSCSITargetOfLun(proxy, obj->mountCloneName, target) != 0) return false;
        obj->snapTarget = target;
        if (!obj->snapTarget.empty())
            ctx_->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_GOT_TARGET, obj->snapTarget.c_str(),
                      obj->mountCloneName.c_str());
        return true;
    }

    // A session that cannot be closed does not stop the clean-up on the cluster.
    void logout(KrvnSnapObject* obj) {
        if (mapContextOf(ctx_)->connectionType != ZY_KRVN_SCSI_CONN_TYPE_ISCSI || obj->snapTarget.empty()) return;
        if (module_.load() != 0) {
            ctx_->tolerate();
            return;
        }
        utils_.tryiSCSITargetLogout(ctx_->arrayDetails.storageProxy, obj->snapTarget);
    }

    KrvnUtils& utils_;
    KrvnCtx* ctx_;
    KrvnIscsiModuleScope& module_;
    KrvnNameListCache snapshots_;
    KrvnNameListCache clones_;
};

}  // namespace

int KrvnUtils::unmapSnaps() {
    KrvnIscsiModuleScope iscsiScope(*this);
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_UNMAP_START);
    KrvnMapCtx* map = mapContextOf(kctx);
    for (auto& [id, obj] : kctx->snapItems) obj->snapInfo->setStatus(ZY_KRVN_SNAP_STATUS_UNMAP_FAILED);

    if (getArrayInterfaces() != 0) return kctx->errorCode;
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_MAP_HOST_INTERFACES);
    if (getHostInterfaces() != 0) return kctx->errorCode;
    decideMapConnectionType();

    UnmapWalk walk(*this, iscsiScope);
    KrvnKeptFailures failures;
    for (auto& [id, obj] : kctx->snapItems) {
        const bool done = walk.unmap(obj);
        obj->snapInfo->setStatus(done ? ZY_KRVN_SNAP_STATUS_UNMAPPED : ZY_KRVN_SNAP_STATUS_UNMAP_FAILED);
        if (done) continue;
        failures.keep(*kctx);
        kctx->resetError();  // the next item's failure must not repeat this one's sentence
    }

    refreshSystemBus(map->hostName, map->hostIqns, map->mappedDevices);
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_UNMAP_DONE);
    if (failures.count() == 0) return 0;
    failures.restore(*kctx);
    return 1;
}

int KrvnUtils::checkAndRemoveAccessFromClone(KrvnSnapObject* obj) {
    KrvnMapCtx* map = mapContextOf(kctx);
    const std::string& clone = obj->mountCloneName;
    const std::string& proxy = kctx->arrayDetails.storageProxy;
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_UNMAP_REMOVE_ACCESS, clone.c_str(), map->hostName.c_str());
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_GET_ACCESS, clone.c_str());
    std::vector<KrvnAccessInfo> acl;
    int rc = rest_getAccessForDisk(clone, acl);
    if (rc != 0) return rc;
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_GOT_ACCESS, acl.size(), clone.c_str());
    if (acl.empty()) kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_NO_ACCESS, clone.c_str());

    int failures = 0;
    for (const KrvnAccessInfo& entry : acl) {
        if (entry.host != proxy) continue;  // another proxy's entries are not this map's
        for (const std::string& iqn : map->hostIqns) {
            if (!hasInitiator(entry, iqn)) {
                kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_IQN_NOT_IN_ACL, iqn.c_str(), proxy.c_str());
                continue;
            }
            if (rest_removeAccess(clone, proxy, iqn) != 0) {
                ++failures;  // the other initiators are still tried
                continue;
            }
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_ACCESS_REMOVED, clone.c_str(), iqn.c_str(), proxy.c_str());
        }
    }
    if (failures > 0) {
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_UNMAP_ACCESS_FAILURES);
        return 1;
    }
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_UNMAP_REMOVE_ACCESS_DONE, clone.c_str(), map->hostName.c_str());
    return 0;
}

int KrvnUtils::checkAndRemoveCloneFromSCSITarget(KrvnSnapObject* obj) {
    const std::string& clone = obj->mountCloneName;
    const std::string& proxy = kctx->arrayDetails.storageProxy;
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_UNMAP_REMOVE_LUN, clone.c_str(), proxy.c_str());
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_ACL_BEFORE_LUN, clone.c_str());
    std::vector<KrvnAccessInfo> acl;
    int rc = rest_getAccessForDisk(clone, acl);
    if (rc != 0) return rc;
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_GOT_ACL_INFO, acl.size(), clone.c_str());

    const KrvnAccessInfo* entry = entryOfProxy(acl, proxy);
    if (entry == nullptr) {
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_LUN_HIDDEN, clone.c_str(), proxy.c_str());
    } else if (!entry->initiators.empty()) {
        // Other hosts still reach the clone through this proxy.
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_LUN_IN_USE, entry->initiators.size(), clone.c_str(),
                  proxy.c_str());
        return 0;
    } else {
        rc = rest_removeLUN(clone, proxy);
        if (rc != 0) return rc;
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_LUN_REMOVED, clone.c_str(), proxy.c_str());
    }
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_UNMAP_REMOVE_LUN_DONE, clone.c_str(), proxy.c_str());
    return 0;
}

int KrvnUtils::checkAndDeleteClone(KrvnSnapObject* obj) {
    const std::string& clone = obj->mountCloneName;
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_UNMAP_DELETE, clone.c_str());
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_ACL_BEFORE_DELETE, clone.c_str());
    std::vector<KrvnAccessInfo> acl;
    int rc = rest_getAccessForDisk(clone, acl);
    if (rc != 0) return rc;
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_GOT_TARGETS, acl.size(), clone.c_str());

    if (!acl.empty()) {
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_CLONE_IN_USE, clone.c_str());
        return 0;
    }
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_DELETING, clone.c_str());
    if (deleteClone(clone) != 0) return kctx->errorCode;
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_UNMAP_DELETED, clone.c_str());
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_UNMAP_DELETE_DONE, clone.c_str());
    return 0;
}

int KrvnUtils::deleteClone(const std::string& cloneName) {
    std::map<std::string, bool> disks{{cloneName, false}};
    (void)rest_deleteDisk(disks);  // only the clone's own outcome counts
    return disks[cloneName] ? 0 : 1;
}

}  // namespace ZYSnapKrvn
