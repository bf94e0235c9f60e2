// Snapshot create, delete, revert and reconcile: the engine steps that walk the context's
// snapshot objects against the logged-in cluster and write each item's outcome to the host.
#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "CWqString.h"
#include "KrvnNameListCache.h"
#include "KrvnTextsSnapshotSteps.h"
#include "KrvnUtils.h"
#include "WqSleep.h"

namespace ZYSnapKrvn {

using namespace ZYKorvanCommon;

namespace {

const KrvnNameListCache::Texts kDeleteListTexts = {ZY_KRVN_OPS_DELETE_LIST_CACHED, ZY_KRVN_OPS_DELETE_LIST_FETCHED};
const KrvnNameListCache::Texts kListTexts = {ZY_KRVN_OPS_LIST_CACHED, ZY_KRVN_OPS_LIST_FETCHED,
                                             ZY_KRVN_OPS_LIST_FETCHING};

// Snapshot names per source vDisk, fetched at most once per step.
KrvnNameListCache snapListCache(KrvnUtils& utils, const KrvnNameListCache::Texts& texts) {
    return KrvnNameListCache(
        utils.snapCtx(),
        [&utils](const std::string& vDisk, std::vector<std::string>& names) {
            return utils.rest_getSnapListForSource(vDisk, names);
        },
        texts);
}

bool listed(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Reverts one source vDisk to the object's snapshot once the cluster confirms it still has it.
int revertOne(KrvnUtils& utils, KrvnSnapObject* obj, KrvnNameListCache& cache) {
    KrvnCtx* kctx = utils.snapCtx();
    const std::string& vDisk = obj->sourceVDiskName;
    const std::string& snap = obj->snapName;
    const std::string& arrayId = kctx->arrayDetails.arrayId;
    if (snap.empty()) {
        return kctx->fail(ZY_KRVN_ERR_METADATA_FIELD,
                          CWqString::Format(ZY_KRVN_OPS_REVERT_NO_NAME, {obj->snapInfo->getSnapId()}),
                          {ZY_KRVN_OPS_FAILED_ERROR, KrvnLogArgs::CodeText, ZY_KRVN_LOGLVL_DETAIL});
    }
    const std::vector<std::string>* names = nullptr;
    int rc = cache.lookup(vDisk, names);
    if (rc != 0) return rc;
    if (!listed(*names, snap))
        return kctx->fail(ZY_KRVN_ERR_SNAP_NOT_FOUND,
                          CWqString::Format(ZY_KRVN_OPS_REVERT_NOT_ON_ARRAY, {snap, arrayId}),
                          ZY_KRVN_OPS_REVERT_NOT_ON_ARRAY_LOG);
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_SNAP_EXISTS, snap.c_str(), arrayId.c_str());
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_REVERTING, vDisk.c_str(), snap.c_str());
    rc = utils.rest_revertSnap(vDisk, snap);
    if (rc != 0) return rc;
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_REVERTED, vDisk.c_str(), snap.c_str());
    obj->snapInfo->setStatus(ZY_KRVN_SNAP_STATUS_REVERTED);
    return 0;
}

// The cluster rewrites the source vDisks under the host: every session to them is closed
// first and reopened afterwards, whatever happened in between. Reverting stops at the first
// failure. 0, or non-zero with the failure in the context.
int revertLoggedOut(KrvnUtils& utils, const std::vector<KrvnSCSITarget>& luns) {
    KrvnCtx* kctx = utils.snapCtx();
    const std::string& proxy = kctx->arrayDetails.storageProxy;
    std::vector<std::pair<std::string, std::string>> loggedOut;
    // The first LUN of each vDisk: one lookup per item instead of a walk of the proxy's table.
    std::unordered_map<std::string, const KrvnSCSITarget*> firstLun;
    for (const KrvnSCSITarget& lun : luns) firstLun.emplace(lun.lunId, &lun);
    int failed = 0;
    for (auto& [id, obj] : kctx->snapItems) {
        auto lun = firstLun.find(obj->sourceVDiskName);
        if (lun != firstLun.end()) {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_REVERT_FOUND_IQN, lun->second->targetIqn.c_str(),
                      obj->sourceVDiskName.c_str());
            obj->snapTarget = lun->second->targetIqn;
        }
        if (obj->snapTarget.empty()) {
            failed =
                kctx->fail(ZY_KRVN_ERR_TARGET_IQN, CWqString::Format(ZY_KRVN_OPS_REVERT_NO_IQN, {obj->sourceVDiskName}),
                           {ZY_KRVN_OPS_FAILED_ERROR, KrvnLogArgs::CodeText, ZY_KRVN_LOGLVL_DETAIL});
            break;
        }
        utils.tryiSCSITargetLogout(proxy, obj->snapTarget);
        loggedOut.emplace_back(proxy, obj->snapTarget);
    }

    if (failed == 0) {
        WQSLEEP(ZY_KRVN_OPS_REVERT_PORTAL_WAIT_MS);
        utils.iscsiModule()->discoverPortal(proxy.c_str());
        KrvnNameListCache cache = snapListCache(utils, kListTexts);
        for (auto& [id, obj] : kctx->snapItems) {
            failed = revertOne(utils, obj, cache);
            if (failed != 0) break;
        }
    }
    if (!loggedOut.empty() && utils.tryiSCSITargetLogin(loggedOut) != 0) failed = 1;
    return failed;
}

}  // namespace

int KrvnUtils::createSnaps() {
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_OPS_CREATE);
    // An item whose metadata names a snapshot already would get a second name, and its later
    // delete would remove only the first: such an item is refused and left as it is.
    std::set<const KrvnSnapObject*> holding;
    // One MakeSnapshot for all distinct sources: objects of the same vDisk share its snapshot.
    std::map<std::string, std::string> sources;
    for (const auto& [id, obj] : kctx->snapItems) {
        if (!obj->snapName.empty())
            holding.insert(obj);
        else
            sources.emplace(obj->sourceVDiskName, std::string());
    }
    const int rc = sources.empty() ? 0 : rest_createSnaps(sources);

    size_t created = 0;
    int metadataRc = 0;
    for (auto& [id, obj] : kctx->snapItems) {
        if (holding.count(obj) != 0) continue;
        auto made = sources.find(obj->sourceVDiskName);
        if (made == sources.end() || made->second.empty()) continue;
        ++created;
        obj->snapName = made->second;
        obj->snapInfo->setSnapName(obj->snapName.c_str());
        int updated = kctx->updateSnapMetadata(obj);
        if (updated == 0)
            obj->snapInfo->setStatus(ZY_KRVN_SNAP_STATUS_CREATED);
        else
            metadataRc = updated;
    }
    for (const auto& [id, obj] : kctx->snapItems) {
        if (holding.count(obj) == 0) continue;
        kctx->fail(ZY_KRVN_ERR_ITEM_ARRAY,
                   CWqString::Format(ZY_KRVN_OPS_ALREADY_HOLDS, {CWqString(static_cast<long long>(id)), obj->snapName}),
                   ZY_KRVN_OPS_CREATE_FAILED);
    }
    if (rc != 0) {
        kctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_OPS_CREATE_FAILED, kctx->errorCode, kctx->errorString().c_str());
        return rc;
    }
    if (metadataRc != 0) return metadataRc;
    const size_t wanted = kctx->snapItems.size() - holding.size();
    if (created < wanted) {
        return kctx->fail(ZY_KRVN_ERR_NOT_ALL_CREATED,
                          CWqString::Format(ZY_KRVN_OPS_CREATED_ONLY, {created, wanted, kctx->arrayDetails.arrayId}),
                          ZY_KRVN_OPS_CREATE_FAILED);
    }
    if (!holding.empty()) return kctx->errorCode;
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_OPS_CREATE_DONE);
    return 0;
}

int KrvnUtils::deleteSnaps() {
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_OPS_DELETE);
    KrvnNameListCache cache = snapListCache(*this, kDeleteListTexts);
    KrvnKeptFailures failures;
    for (auto& [id, obj] : kctx->snapItems) {
        ZYSO::SnapInfo* item = obj->snapInfo;
        if (item->getStatus() == ZY_KRVN_SNAP_STATUS_DELETED) continue;
        const std::string& vDisk = obj->sourceVDiskName;
        const std::string& snap = obj->snapName;
        if (snap.empty()) {
            // Nothing of it can be on the cluster: a note, not an error.
            const std::string note = CWqString::Format(ZY_KRVN_OPS_DELETE_NO_NAME, {item->getSnapId()});
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_DETAIL_TEXT, note.c_str());
            item->setStatus(ZY_KRVN_SNAP_STATUS_DELETED);
            continue;
        }
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_DELETE_TRYING, snap.c_str());

        kctx->resetError();
        const std::vector<std::string>* names = nullptr;
        int rc = cache.lookup(vDisk, names);
        if (rc == ZY_KRVN_ERR_NOT_FOUND) {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_DELETE_SOURCE_GONE, vDisk.c_str(), snap.c_str());
            item->setStatus(ZY_KRVN_SNAP_STATUS_DELETED);
            continue;
        }
        if (rc != 0) {
            failures.keep(*kctx);
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_DELETE_NO_LIST, vDisk.c_str());
            continue;
        }
        if (!listed(*names, snap)) {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_DELETE_NOT_LISTED, snap.c_str(), vDisk.c_str());
            item->setStatus(ZY_KRVN_SNAP_STATUS_DELETED);
            continue;
        }

        kctx->resetError();
        rc = rest_deleteSnap(vDisk, snap);
        if (rc == 0) {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_DELETE_DONE_ONE, snap.c_str());
            item->setStatus(ZY_KRVN_SNAP_STATUS_DELETED);
        } else if (rc == ZY_KRVN_ERR_SNAP_NOT_FOUND) {
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_DELETE_UNKNOWN, snap.c_str());
            item->setStatus(ZY_KRVN_SNAP_STATUS_DELETED);
        } else {
            failures.keep(*kctx);  // the item keeps its status; the entry point marks it failed
        }
    }
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_OPS_DELETE_DONE);
    if (failures.count() == 0) return 0;
    failures.restore(*kctx);
    return 1;
}

int KrvnUtils::revertSnaps() {
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_OPS_REVERT);
    const std::string& proxy = kctx->arrayDetails.storageProxy;
    std::map<std::string, std::vector<KrvnSCSITarget>> targets;
    if (rest_getSCSITargetIQNs(proxy, targets) != 0) return kctx->errorCode;

    KrvnIscsiModuleScope iscsiScope(*this);
    if (iscsiScope.load() != 0) return kctx->errorCode;
    bool failed = revertLoggedOut(*this, targets[proxy]) != 0;
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_OPS_REVERT_DONE);
    return failed ? 1 : 0;
}

int KrvnUtils::reconSnaps() {
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_OPS_RECON);
    const std::string& arrayId = kctx->arrayDetails.arrayId;
    int found = 0, externallyDeleted = 0, skipped = 0, failed = 0;
    KrvnNameListCache cache = snapListCache(*this, kListTexts);
    for (auto& [id, obj] : kctx->snapItems) {
        const std::string& vDisk = obj->sourceVDiskName;
        const std::string& snap = obj->snapName;
        if (snap.empty()) {
            ++skipped;
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_RECON_NO_NAME, obj->snapInfo->getSnapId());
            continue;
        }
        const std::vector<std::string>* names = nullptr;
        int rc = cache.lookup(vDisk, names);
        if (rc != 0) {
            kctx->tolerate();
            if (rc == ZY_KRVN_ERR_NOT_FOUND) {
                kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_RECON_SOURCE_GONE, vDisk.c_str(), arrayId.c_str(),
                          snap.c_str());
                obj->snapInfo->setStatus(ZY_KRVN_SNAP_STATUS_EXTERNALLY_DELETED);
                ++externallyDeleted;
            } else {
                ++failed;
            }
            continue;
        }
        if (!listed(*names, snap)) {
            ++externallyDeleted;
            obj->snapInfo->setStatus(ZY_KRVN_SNAP_STATUS_EXTERNALLY_DELETED);
            kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_RECON_GONE, snap.c_str(), arrayId.c_str());
            continue;
        }
        ++found;
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_SNAP_EXISTS, snap.c_str(), arrayId.c_str());
    }
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_OPS_RECON_STATS, kctx->snapItems.size(), found, externallyDeleted, skipped,
              failed);
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_OPS_RECON_DONE);
    return 0;
}

}  // namespace ZYSnapKrvn
