#include "KrvnProvUtils.h"

#include "KrvnTextsProv.h"

namespace ZYProvKorvan {

using namespace ZYKorvanCommon;

KrvnProvUtils::KrvnProvUtils(KrvnProvCtx* context) : KrvnCommonUtils(context), prov(context) {}

KrvnProvUtils::~KrvnProvUtils() = default;

short KrvnProvUtils::itemStatus(const KrvnDiskObject& disk) {
    short status = -1;
    disk.lunInfo->getStatus(&status);
    return status;
}

void KrvnProvUtils::setItemStatus(const KrvnDiskObject& disk, short status) {
    disk.lunInfo->setStatus(status);
    prov->statusesSet[disk.lunInfo] = status;
}

int KrvnProvUtils::walkDisks(const DiskWalk& walk) {
    prov->log(ZY_KRVN_LOGLVL_SNAP_OP_START, walk.startLog, prov->disks.size());
    for (auto& entry : prov->disks) {
        KrvnDiskObject& disk = *entry.second;
        std::string dump;
        disk.dump(dump);
        setItemStatus(disk, walk.failureStatus);
        prov->log(ZY_KRVN_LOGLVL_DETAIL, walk.diskLog, dump.c_str());
        if (walk.setItemNames) {
            disk.lunInfo->setDeviceName(disk.diskName);
            disk.lunInfo->setLunName(disk.diskName);
        }
        if ((this->*walk.request)(prov->getDiskParams(&disk)) != 0) return prov->errorCode;
        prov->log(ZY_KRVN_LOGLVL_DETAIL, walk.successLog, disk.diskName.c_str());
        setItemStatus(disk, walk.successStatus);
    }
    prov->log(ZY_KRVN_LOGLVL_SNAP_OP_START, walk.doneLog, prov->disks.size());
    return 0;
}

int KrvnProvUtils::create_vDisks() {
    static const DiskWalk create = {
        ZY_KRVN_PROV_LOG_CREATE_START,
        ZY_KRVN_PROV_LOG_CREATE_DISK,
        ZY_KRVN_PROV_LOG_CREATE_OK,
        ZY_KRVN_PROV_LOG_CREATE_DONE,
        ZY_KRVN_PROV_STATUS_CREATE_FAILED,
        ZY_KRVN_PROV_STATUS_CREATE_OK,
        true,
        &KrvnCommonUtils::rest_createDisk,
    };
    return walkDisks(create);
}

int KrvnProvUtils::resize_vDisks() {
    static const DiskWalk resize = {
        ZY_KRVN_PROV_LOG_RESIZE_START,
        ZY_KRVN_PROV_LOG_RESIZE_DISK,
        ZY_KRVN_PROV_LOG_RESIZE_OK,
        ZY_KRVN_PROV_LOG_RESIZE_DONE,
        ZY_KRVN_PROV_STATUS_RESIZE_FAILED,
        ZY_KRVN_PROV_STATUS_RESIZE_OK,
        false,
        &KrvnCommonUtils::rest_resizeDisk,
    };
    return walkDisks(resize);
}

int KrvnProvUtils::delete_vDisks() {
    prov->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_PROV_LOG_DELETE_START, prov->disks.size());
    std::map<std::string, bool> group;
    for (auto& entry : prov->disks) {
        setItemStatus(*entry.second, ZY_KRVN_PROV_STATUS_DELETE_FAILED);
        prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_DELETE_ADD, entry.second->diskName.c_str());
        group[entry.second->diskName] = false;
    }

    const int rc = rest_deleteDisk(group);
    int failures = 0;
    if (rc == ZY_KRVN_ERR_DISK_NOT_FOUND) {
        failures = deleteOneByOne(group);
    } else {
        // The first item of each name, found without walking the items once per name.
        std::map<std::string, KrvnDiskObject*> firstOfName;
        for (auto& entry : prov->disks) firstOfName.emplace(entry.second->diskName, entry.second);
        for (const auto& [name, deleted] : group) {
            if (!deleted) {
                ++failures;
                continue;
            }
            prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_DELETE_OK, name.c_str());
            auto first = firstOfName.find(name);
            if (first != firstOfName.end()) setItemStatus(*first->second, ZY_KRVN_PROV_STATUS_DELETE_OK);
        }
        // A cluster answer that leaves a disk unconfirmed without an error of its own must not
        // reach the host as a failure without a reason.
        if (failures > 0 && rc == 0) {
            prov->fail(ZY_KRVN_ERR_OPERATION_FAILED, ZY_KRVN_PROV_ERR_DELETE_SOME,
                       {ZY_KRVN_PROV_LOG_ERROR, KrvnLogArgs::CodeText, ZY_KRVN_LOGLVL_DETAIL});
        }
    }
    prov->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_PROV_LOG_DELETE_DONE, prov->disks.size());
    return failures > 0 ? ZY_KRVN_ERR_OPERATION_FAILED : 0;
}

// The cluster refuses a whole group when one of its disks is missing, so each disk is asked
// for on its own; a missing disk is as good as deleted.
int KrvnProvUtils::deleteOneByOne(const std::map<std::string, bool>& group) {
    prov->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_PROV_LOG_DELETE_GROUP_FAILED);
    KrvnKeptFailures failures;
    for (auto& entry : prov->disks) {
        KrvnDiskObject& disk = *entry.second;
        auto inGroup = group.find(disk.diskName);
        if (inGroup != group.end() && inGroup->second) {
            prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_DELETE_NOT_FOUND, disk.diskName.c_str());
            setItemStatus(disk, ZY_KRVN_PROV_STATUS_DELETE_OK);
            continue;
        }
        std::map<std::string, bool> single = {{disk.diskName, false}};
        const int rc = rest_deleteDisk(single);
        if (rc == ZY_KRVN_ERR_DISK_NOT_FOUND) {
            prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_DELETE_NOT_FOUND, disk.diskName.c_str());
            setItemStatus(disk, ZY_KRVN_PROV_STATUS_DELETE_OK);
        } else if (rc == 0 && single[disk.diskName]) {
            prov->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_DELETE_ONE_OK, disk.diskName.c_str());
            setItemStatus(disk, ZY_KRVN_PROV_STATUS_DELETE_OK);
        } else {
            failures.keep(*prov);  // a later "not found" answer must not replace this disk's reason
            prov->resetError();
        }
    }
    if (failures.count() > 0) {
        failures.restore(*prov);
        prov->fail(ZY_KRVN_ERR_OPERATION_FAILED, ZY_KRVN_PROV_ERR_DELETE_SOME,
                   {ZY_KRVN_PROV_LOG_ERROR, KrvnLogArgs::CodeText, ZY_KRVN_LOGLVL_DETAIL});
    }
    return failures.count();
}

}  // namespace ZYProvKorvan
