// Disk administration: create, delete, resize, and the cluster's unique identifier.
#include <cctype>

#include "CWqString.h"
#include "KrvnCommonUtils.h"
#include "KrvnTextsCluster.h"

namespace ZYKorvanCommon {

namespace {

const KrvnRestOp kCreateDisk{ZY_KRVN_REST_CMN_VALUE_TYPE_CREATE_DISK, true, ZY_KRVN_CHECK_RESULT_FIELD_ARRAY};
const KrvnRestOp kDeleteDisk{ZY_KRVN_REST_CMN_VALUE_TYPE_DELETE_DISK, false, ZY_KRVN_CHECK_RESULT_FIELD_ARRAY};
const KrvnRestOp kResizeDisk{ZY_KRVN_REST_CMN_VALUE_TYPE_RESIZE_DISK, false, ZY_KRVN_CHECK_RESULT_FIELD_ARRAY};
const KrvnRestOp kClusterInfo{ZY_KRVN_REST_CMN_VALUE_TYPE_GET_CLUS_INFO, false, ZY_KRVN_CHECK_RESULT_FIELD_OBJECT};

// One element of a per-disk "result" array.
struct DiskOutcome {
    std::string status;
    std::string name;
    std::string message;
    bool ok() const { return status == ZY_KRVN_REST_CMN_VALUE_STATUS_OK; }
};

DiskOutcome outcomeOf(const JsonValue& element) {
    DiskOutcome outcome;
    element.getString(ZY_KRVN_REST_DISK_FIELD_STATUS, outcome.status);
    element.getString(ZY_KRVN_REST_DISK_FIELD_NAME, outcome.name);
    element.getString(ZY_KRVN_REST_DISK_FIELD_MESSAGE, outcome.message);
    return outcome;
}

std::vector<DiskOutcome> outcomesOf(const JsonValue& response) {
    std::vector<DiskOutcome> outcomes;
    response.member(ZY_KRVN_REST_CMN_FIELD_RESULT).forEachElement([&](const JsonValue& element) {
        outcomes.push_back(outcomeOf(element));
    });
    return outcomes;
}

std::string notFoundText(const std::string& name) {
    return CWqString::Format(ZY_KRVN_DISK_NOT_FOUND, {CWqString(name)});
}

// The cluster writes its hash as hexadecimal with a prefix character after any leading
// zeros (0x1a2b); the host knows it as the upper-case digits alone (1A2B).
std::string normaliseClusterHash(std::string hash) {
    if (hash.find_first_not_of('0') != std::string::npos) hash.erase(0, hash.find_first_not_of('0'));
    if (!hash.empty()) hash.erase(0, 1);
    for (char& c : hash) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hash;
}

}  // namespace

int KrvnCommonUtils::rest_createDisk(const KrvnDisk& disk) {
    int rc = runRestOp(
        kCreateDisk, [&](std::string& body) { return buildReqBodyForKorvanCreateDisk(body, disk); },
        CWqString::Format(ZY_KRVN_ERR_CREATE_DISK, {disk.vDiskName, ctx->arrayDetails.arrayId}),
        [&] { return processCreateDiskResp(disk); });
    // A disk that already exists counts as created.
    if (rc == 0 || rc == ZY_KRVN_ERR_DISK_EXISTS) return 0;
    return ctx->errorCode;
}

int KrvnCommonUtils::processCreateDiskResp(const KrvnDisk& disk) {
    return processRestResp(kCreateDisk, [&](const JsonValue& response) -> int {
        for (const DiskOutcome& outcome : outcomesOf(response)) {
            if (outcome.ok()) continue;
            if (outcome.message == FXString::Format(ZY_KRVN_DISK_ALREADY_CREATED, disk.vDiskName))
                return ZY_KRVN_ERR_DISK_EXISTS;
            return ctx->fail(
                ZY_KRVN_ERR_REST_CONTENT,
                CWqString::Format(ZY_KRVN_ERR_DISK_CREATION, {outcome.name, maskedForError(outcome.message)}),
                KrvnFailLog::about(ZY_KRVN_REST_CMN_VALUE_TYPE_CREATE_DISK, ZY_KRVN_LOG_CLUSTER_NAMED_OP_FAILED));
        }
        return 0;
    });
}

int KrvnCommonUtils::rest_deleteDisk(std::map<std::string, bool>& disks) {
    return runRestOp(
        kDeleteDisk, [&](std::string& body) { return buildReqBodyForKorvanDeleteDisk(body, disks); },
        CWqString::Format(ZY_KRVN_ERR_DELETE_DISKS, {ctx->arrayDetails.arrayId}),
        [&] { return processDeleteDisk(disks); });
}

int KrvnCommonUtils::processDeleteDisk(std::map<std::string, bool>& disks) {
    auto onRefusal = [&](const JsonValue&, int code) -> int {
        // The whole request refused because one of its disks does not exist.
        for (const auto& entry : disks) {
            if (restErrorsContain(notFoundText(entry.first))) {
                return ctx->recode(ZY_KRVN_ERR_DISK_NOT_FOUND);
            }
        }
        return code;
    };
    auto perDisk = [&](const JsonValue& response) -> int {
        std::string failed;
        std::string sentences;
        for (const DiskOutcome& outcome : outcomesOf(response)) {
            const bool gone = !outcome.ok() && outcome.message.find(notFoundText(outcome.name)) != std::string::npos;
            if (gone) ctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_DISK_NOT_FOUND_ON_DELETE, outcome.name.c_str());
            if (outcome.ok() || gone) {
                auto entry = disks.find(outcome.name);
                if (entry != disks.end()) entry->second = true;
                continue;
            }
            sentences += CWqString::Format(ZY_KRVN_ERR_DISK_DELETION, {outcome.name, maskedForError(outcome.message)});
            failed += outcome.name + ZY_KRVN_REST_LIST_SEP;
        }
        if (failed.empty()) return 0;
        failed.pop_back();
        return ctx->fail(
            ZY_KRVN_ERR_REST_CONTENT, sentences + CWqString::Format(ZY_KRVN_ERR_DELETION_SUMMARY, {failed}),
            KrvnFailLog::about(ZY_KRVN_REST_CMN_VALUE_TYPE_DELETE_DISK, ZY_KRVN_LOG_CLUSTER_NAMED_OP_FAILED));
    };
    return processRestResp(kDeleteDisk, perDisk, onRefusal);
}

int KrvnCommonUtils::rest_resizeDisk(const KrvnDisk& disk) {
    return runRestOp(
        kResizeDisk, [&](std::string& body) { return buildReqBodyForKorvanResizeDisk(body, disk); },
        CWqString::Format(ZY_KRVN_ERR_RESIZE_DISK, {disk.vDiskName, ctx->arrayDetails.arrayId}),
        [&] { return processResizeDiskResp(disk); });
}

int KrvnCommonUtils::processResizeDiskResp(const KrvnDisk&) {
    return processRestResp(kResizeDisk, [&](const JsonValue& response) -> int {
        for (const DiskOutcome& outcome : outcomesOf(response)) {
            if (outcome.ok()) continue;
            // A smaller size is refused by the cluster; the disk keeps the size it has.
            if (outcome.message.find(ZY_KRVN_DISK_RESIZE_SHRINK) != std::string::npos) {
                ctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_RESIZE_SHRINK, outcome.name.c_str());
                continue;
            }
            return ctx->fail(
                ZY_KRVN_ERR_REST_CONTENT,
                CWqString::Format(ZY_KRVN_ERR_RESIZE_FAILED, {outcome.name, maskedForError(outcome.message)}),
                KrvnFailLog::about(ZY_KRVN_REST_CMN_VALUE_TYPE_RESIZE_DISK, ZY_KRVN_LOG_CLUSTER_NAMED_OP_FAILED));
        }
        return 0;
    });
}

int KrvnCommonUtils::rest_getClusterSettingInfo() {
    return runRestOp(
        kClusterInfo, [&](std::string& body) { return buildReqBodyForKorvanGetClusterSettingInfo(body); },
        CWqString::Format(ZY_KRVN_ERR_CLUS_INFO, {ctx->arrayDetails.arrayId}),
        [&] { return processGetClusterSettingInfo(ctx->arrayDetails.clusterUniqueId); });
}

int KrvnCommonUtils::processGetClusterSettingInfo(std::string& hash) {
    return processRestResp(kClusterInfo, [&](const JsonValue& response) -> int {
        std::string value;
        response.member(ZY_KRVN_REST_CMN_FIELD_RESULT).getString(ZY_KRVN_REST_CLUS_INFO_FIELD_HASH, value);
        if (value.empty())
            return ctx->fail(ZY_KRVN_ERR_REST_CONTENT, ZY_KRVN_ERR_NO_CLUSTER_HASH, ZY_KRVN_LOG_CLUSTER_OP_FAILED);
        hash = normaliseClusterHash(value);
        return 0;
    });
}

}  // namespace ZYKorvanCommon
