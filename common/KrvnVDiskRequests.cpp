// Virtual disk queries: every vDisk, one by name, one by SCSI serial number.
#include "CWqString.h"
#include "KrvnCommonUtils.h"
#include "KrvnTextsCluster.h"

namespace ZYKorvanCommon {

namespace {

const KrvnRestOp kGetAllVDisks{ZY_KRVN_REST_CMN_VALUE_TYPE_GET_ALL_VDISKS, false, ZY_KRVN_CHECK_RESULT_FIELD_OBJECT};
const KrvnRestOp kGetVDisk{ZY_KRVN_REST_CMN_VALUE_TYPE_GET_VDISK, false, ZY_KRVN_CHECK_RESULT_FIELD_OBJECT};
const KrvnRestOp kGetVDiskBySSN{ZY_KRVN_REST_CMN_VALUE_TYPE_GET_VDISK_SSN, false, ZY_KRVN_CHECK_RESULT_FIELD_OBJECT};

using BoolField = bool KrvnDisk::*;
using TextField = std::string KrvnDisk::*;

const std::pair<const char*, BoolField> kBoolFields[] = {
    {ZY_KRVN_VDISK_FIELD_IS_CLONE, &KrvnDisk::isClone},
    {ZY_KRVN_VDISK_FIELD_CLUSTERED_FS, &KrvnDisk::clusteredFileSystem},
    {ZY_KRVN_VDISK_FIELD_COMPRESSED, &KrvnDisk::compressed},
    {ZY_KRVN_VDISK_FIELD_DEDUPLICATION, &KrvnDisk::deduplication},
    {ZY_KRVN_VDISK_FIELD_ENCRYPTION, &KrvnDisk::encryption},
    {ZY_KRVN_VDISK_FIELD_SCSI3PR, &KrvnDisk::scsi3pr},
    {ZY_KRVN_VDISK_FIELD_FROZEN, &KrvnDisk::frozen},
};

const std::pair<const char*, TextField> kTextFields[] = {
    {ZY_KRVN_VDISK_FIELD_CREATED_BY, &KrvnDisk::createdBy},
    {ZY_KRVN_VDISK_FIELD_DISK_TYPE, &KrvnDisk::diskType},
    {ZY_KRVN_VDISK_FIELD_NAME, &KrvnDisk::vDiskName},
    {ZY_KRVN_VDISK_FIELD_REPL_POLICY, &KrvnDisk::replicationPolicy},
    {ZY_KRVN_VDISK_FIELD_STATUS, &KrvnDisk::status},
    {ZY_KRVN_VDISK_FIELD_TENANT, &KrvnDisk::tenant},
    {ZY_KRVN_VDISK_FIELD_FREEZE_REASON, &KrvnDisk::freezeReason},
};

std::string serialText(const KrvnDisk& disk) { return std::to_string(static_cast<long long>(disk.scsiSerialNumber)); }

}  // namespace

void KrvnCommonUtils::parseDiskFields(const JsonValue& item, KrvnDisk& disk) {
    for (const auto& [key, field] : kBoolFields) item.getBool(key, disk.*field);
    item.getInt32(ZY_KRVN_VDISK_FIELD_BLOCK_SIZE, disk.blockSize);
    item.getInt16(ZY_KRVN_VDISK_FIELD_REPL_FACTOR, disk.replicationFactor);
    int64_t serial = 0;
    if (item.getInt64(ZY_KRVN_VDISK_FIELD_SCSI_SERIAL, serial)) disk.scsiSerialNumber = serial;
    for (const auto& [key, field] : kTextFields) item.getString(key, disk.*field);
    JsonValue locations;
    if (item.getArray(ZY_KRVN_VDISK_FIELD_TARGET_LOCATIONS, locations)) {
        locations.forEachElement([&disk](const JsonValue& element) {
            std::string location;
            if (element.asString(location))
                disk.targetLocations.push_back(location.substr(0, location.find(ZY_KRVN_TARGET_LOCATION_PORT_SEP)));
        });
    }
}

int KrvnCommonUtils::rest_getAllVDiskDetails(std::vector<KrvnDisk>& disks) {
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_GET_ALL_VDISKS);
    const size_t before = disks.size();
    int rc = runRestOp(
        kGetAllVDisks, [this](std::string& body) { return buildReqBodyForKorvanGetAllVDisks(body); },
        ZY_KRVN_ERR_GET_ALL_VDISKS, [&] { return processGetAllVDisks(disks); });
    if (rc != 0) return rc;
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_GOT_ALL_VDISKS, disks.size() - before);
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_GET_ALL_VDISKS_DONE);
    return 0;
}

int KrvnCommonUtils::processGetAllVDisks(std::vector<KrvnDisk>& disks) {
    return processRestResp(kGetAllVDisks, [&](const JsonValue& response) -> int {
        JsonValue list;
        if (!response.member(ZY_KRVN_REST_CMN_FIELD_RESULT).getArray(ZY_KRVN_REST_GET_ALL_VDISKS_FIELD_DISKS, list) ||
            list.size() == 0) {
            ctx->logRESTDetails();
            return ctx->fail(ZY_KRVN_ERR_REST_CONTENT,
                             CWqString::Format(ZY_KRVN_ERR_NO_DISKS, {ZY_KRVN_REST_GET_ALL_VDISKS_FIELD_DISKS}),
                             KrvnFailLog::about(ctx->arrayDetails.arrayId, ZY_KRVN_LOG_GET_ALL_VDISKS_FAILED));
        }
        // A whole cluster's list can hold 100,000 disks: room for all of them at once, and each
        // record moved in rather than copied.
        disks.reserve(disks.size() + list.size());
        list.forEachElement([&](const JsonValue& element) {
            KrvnDisk disk;
            parseDiskFields(element, disk);
            disks.push_back(std::move(disk));
        });
        return 0;
    });
}

int KrvnCommonUtils::rest_getVDiskDetails(KrvnDisk& disk) {
    const std::string name = disk.vDiskName;
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_GET_VDISK, name.c_str());
    int rc = runRestOp(
        kGetVDisk, [&](std::string& body) { return buildReqBodyForKorvanGetVDisk(body, disk); },
        CWqString::Format(ZY_KRVN_ERR_GET_VDISK, {name}), [&] { return processGetVDisk(disk); },
        [&](int code) -> int {
            if (restErrorsContain(FXString::Format(ZY_KRVN_DISK_NOT_FOUND, name)))
                return ctx->recode(ZY_KRVN_ERR_NOT_FOUND);
            if (restErrorsContain(FXString::Format(ZY_KRVN_DISK_MARKED_FOR_DELETE, name)))
                return ctx->recode(ZY_KRVN_ERR_VDISK_MARKED_DELETE);
            return code;
        });
    if (rc != 0) return rc;
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_GOT_VDISK, name.c_str());
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_GET_VDISK_DONE, name.c_str());
    return 0;
}

int KrvnCommonUtils::processGetVDisk(KrvnDisk& disk) {
    return processRestResp(kGetVDisk, [&](const JsonValue& response) -> int {
        parseDiskFields(response.member(ZY_KRVN_REST_CMN_FIELD_RESULT), disk);
        return 0;
    });
}

int KrvnCommonUtils::rest_getVDiskDetailsBySSN(KrvnDisk& disk) {
    const std::string serial = serialText(disk);
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_GET_VDISK_SSN, serial.c_str());
    int rc = runRestOp(
        kGetVDiskBySSN, [&](std::string& body) { return buildReqBodyForKorvanGetVDiskBySSN(body, disk); },
        CWqString::Format(ZY_KRVN_ERR_GET_VDISK_SSN, {serial}), [&] { return processGetVDiskBySSN(disk); },
        [&](int code) -> int {
            if (!restErrorsContain(FXString::Format(ZY_KRVN_DISK_SSN_NOT_FOUND, serial))) return code;
            return ctx->recode(ZY_KRVN_ERR_NOT_FOUND);
        });
    if (rc != 0) return rc;
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_GOT_VDISK_SSN, disk.vDiskName.c_str(), serial.c_str());
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_GET_VDISK_SSN_DONE, serial.c_str());
    return 0;
}

int KrvnCommonUtils::processGetVDiskBySSN(KrvnDisk& disk) {
    return processRestResp(kGetVDiskBySSN, [&](const JsonValue& response) -> int {
        parseDiskFields(response.member(ZY_KRVN_REST_CMN_FIELD_RESULT), disk);
        return 0;
    });
}

}  // namespace ZYKorvanCommon
