// Snapshot and clone metadata: what one call leaves on the host item for the next.
//
// Both values are fields each ended by "**", with no escaping; an empty field reads as
// missing. Writers never fail from our side (the host's answer to setMetadata is not ours to
// judge); readers decide per operation what a missing field means.
#include <algorithm>
#include <string>

#include "CWqString.h"
#include "KrvnCtx.h"
#include "KrvnTextsSnap.h"

namespace ZYSnapKrvn {

using namespace ZYKorvanCommon;

namespace {

constexpr size_t kSepLen = sizeof(ZY_KRVN_SNAP_METADATA_SEP) - 1;

// Cuts the field starting at pos. False when the field is missing (no separator, or an empty
// field); then pos is left alone.
bool nextField(const std::string& value, size_t& pos, std::string& field) {
    size_t sep = value.find(ZY_KRVN_SNAP_METADATA_SEP, pos);
    if (sep == std::string::npos || sep == pos) return false;
    field = value.substr(pos, sep - pos);
    pos = sep + kSepLen;
    return true;
}

std::string withSep(const std::string& field) { return field + ZY_KRVN_SNAP_METADATA_SEP; }

}  // namespace

void KrvnCtx::setSnapMetadata(KrvnSnapObject* obj) {
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_SET_SNAP_MD);
    const std::string value =
        withSep(arrayDetails.scsiArrayId) + withSep(obj->sourceVDiskName) + withSep(obj->sourceVDiskId);
    obj->snapInfo->setMetadata(ZY_KRVN_SNAP_METADATA_KEY, value.c_str());
    log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_SET_SNAP_MD_VALUE, value.c_str());
    log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_SET_SNAP_MD_DONE);
}

int KrvnCtx::updateSnapMetadata(KrvnSnapObject* obj) {
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_UPDATE_SNAP_MD);
    ZYSO::SnapInfo* item = obj->snapInfo;
    std::string value;
    if (!item->getMetadata(ZY_KRVN_SNAP_METADATA_KEY, &value))
        return fail(ZY_KRVN_ERR_METADATA_READ, CWqString::Format(ZY_KRVN_ERR_SNAP_MD_READ, {item->getSnapId()}),
                    ZY_KRVN_LOG_UPDATE_SNAP_MD_FAILED);
    log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_UPDATE_SNAP_MD_BEFORE, value.c_str());
    value += withSep(obj->snapName);
    item->setMetadata(ZY_KRVN_SNAP_METADATA_KEY, value.c_str());
    log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_UPDATE_SNAP_MD_AFTER, value.c_str());
    log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_UPDATE_SNAP_MD_DONE);
    return 0;
}

int KrvnCtx::fillSnapInfoFromMetadata(KrvnSnapObject* obj) {
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_GET_SNAP_MD);
    ZYSO::SnapInfo* item = obj->snapInfo;
    const bool deleting = opType == ZY_KRVN_SNAP_OP_DELETE;
    auto failed = [this](int code, const std::string& sentence) {
        return fail(code, sentence, ZY_KRVN_LOG_SNAP_MD_FAILED);
    };

    std::string value;
    if (!item->getMetadata(ZY_KRVN_SNAP_METADATA_KEY, &value)) {
        if (!deleting)
            return failed(ZY_KRVN_ERR_METADATA_READ, CWqString::Format(ZY_KRVN_ERR_SNAP_MD_READ, {item->getSnapId()}));
        value.clear();
    }
    if (value.empty()) {
        if (!deleting) return failed(ZY_KRVN_ERR_METADATA_EMPTY, ZY_KRVN_ERR_SNAP_MD_EMPTY);
        // Preparation never finished for this item, so no snapshot exists to delete.
        const std::string note = CWqString::Format(ZY_KRVN_MSG_SNAP_MD_EMPTY, {item->getSnapId()});
        log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_DETAIL_TEXT, note.c_str());
        item->setStatus(ZY_KRVN_SNAP_STATUS_DELETED);
        return 0;
    }

    size_t pos = 0;
    std::string field;
    if (!nextField(value, pos, field))
        return failed(ZY_KRVN_ERR_METADATA_FIELD, CWqString::Format(ZY_KRVN_ERR_MD_NO_ARRAY_ID, {value}));
    // A cluster serial the context already knows (from the devices themselves) wins.
    if (arrayDetails.scsiArrayId.empty()) arrayDetails.scsiArrayId = field;
    if (!nextField(value, pos, obj->sourceVDiskName))
        return failed(ZY_KRVN_ERR_METADATA_FIELD, CWqString::Format(ZY_KRVN_ERR_MD_NO_VDISK_NAME, {value}));
    if (!nextField(value, pos, obj->sourceVDiskId))
        return failed(ZY_KRVN_ERR_METADATA_FIELD, CWqString::Format(ZY_KRVN_ERR_MD_NO_VDISK_SERIAL, {value}));
    if (!nextField(value, pos, obj->snapName)) {
        // Create runs before the name exists; delete still has to clean up what it can.
        if (opType == ZY_KRVN_SNAP_OP_DELETE)
            log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_MD_NO_SNAP_NAME, value.c_str());
        else if (opType != ZY_KRVN_SNAP_OP_CREATE)
            return failed(ZY_KRVN_ERR_METADATA_FIELD, CWqString::Format(ZY_KRVN_ERR_MD_NO_SNAP_NAME, {value}));
    }

    log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_SNAP_MD_INFO, arrayDetails.scsiArrayId.c_str(), obj->sourceVDiskName.c_str(),
        obj->sourceVDiskId.c_str(), obj->snapName.c_str());
    log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_GET_SNAP_MD_DONE);
    return 0;
}

int KrvnCtx::fillMountCloneNameForSnap(KrvnSnapObject* obj) {
    ZYSO::SnapInfo* item = obj->snapInfo;
    std::string base = obj->snapName;
    std::replace(base.begin(), base.end(), ZY_KRVN_SNAP_NAME_SEP, ZY_KRVN_SNAP_NAME_NEW_SEP);
    if (item->isFlagSet(ZY_KRVN_TEST_MOUNT_FLAG))
        obj->mountCloneName =
            ZY_KRVN_TEST_CLONE_NAME_PREFIX + base + ZY_KRVN_CLONE_NAME_SEP + std::to_string(item->getCloneNumber());
    else
        obj->mountCloneName = ZY_KRVN_REG_MOUNT_CLONE_NAME_PREFIX + base + ZY_KRVN_CLONE_NAME_SEP +
                              std::to_string(item->getSnapId()) + ZY_KRVN_CLONE_NAME_SEP;
    return 0;
}

void KrvnCtx::setCloneMetadata(KrvnSnapObject* obj) {
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_SET_CLONE_MD);
    const std::string value = withSep(obj->mountCloneName) + withSep(std::to_string(obj->cloneScsiSerial)) +
                              withSep(arrayDetails.storageProxy);
    obj->snapInfo->setMetadata(ZY_KRVN_CLONE_METADATA_KEY, value.c_str());
    log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_SET_CLONE_MD_VALUE, value.c_str());
    log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_SET_CLONE_MD_DONE);
}

int KrvnCtx::getMountInfoFromMetadata(KrvnSnapObject* obj, std::string& cloneName, std::string& cloneSerial,
                                      std::string& storageProxy) {
    cloneName.clear();
    cloneSerial.clear();
    storageProxy.clear();
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_GET_CLONE_MD);

    std::string value;
    if (!obj->snapInfo->getMetadata(ZY_KRVN_CLONE_METADATA_KEY, &value)) {
        log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_CLONE_MD_READ_FAILED, obj->snapName.c_str());
        return 1;
    }
    if (value.empty()) {
        log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_CLONE_MD_EMPTY, obj->snapName.c_str());
        return 1;
    }
    size_t pos = 0;
    if (!nextField(value, pos, cloneName) || !nextField(value, pos, cloneSerial) ||
        !nextField(value, pos, storageProxy)) {
        log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_CLONE_MD_FIELD_MISSING, value.c_str(), obj->snapName.c_str());
        return 1;
    }
    return 0;
}

}  // namespace ZYSnapKrvn
