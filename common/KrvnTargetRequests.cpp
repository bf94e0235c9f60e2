// Target, LUN and access requests: which storage proxies expose a vDisk and which host
// initiators may reach it.

#include "CWqString.h"
#include "KrvnCommonUtils.h"
#include "KrvnNumbers.h"
#include "KrvnTextsCluster.h"

namespace ZYKorvanCommon {

namespace {

const KrvnRestOp kGetTargets{ZY_KRVN_REST_CMN_VALUE_TYPE_GET_SCSI_TARGET, false, ZY_KRVN_CHECK_RESULT_FIELD_OBJECT};
const KrvnRestOp kAddLun{ZY_KRVN_REST_CMN_VALUE_TYPE_ADD_LUN, false, ZY_KRVN_CHECK_RESULT_FIELD_ARRAY};
const KrvnRestOp kAddAccess{ZY_KRVN_REST_CMN_VALUE_TYPE_ADD_ACCESS, false, ZY_KRVN_CHECK_RESULT_FIELD_ARRAY};
const KrvnRestOp kGetAccess{ZY_KRVN_REST_CMN_VALUE_TYPE_GET_ACCESS, false, ZY_KRVN_CHECK_RESULT_FIELD_ARRAY};
const KrvnRestOp kRemoveAccess{ZY_KRVN_REST_CMN_VALUE_TYPE_REMOVE_ACCESS, false, ZY_KRVN_CHECK_RESULT_FIELD_NONE};
const KrvnRestOp kRemoveLun{ZY_KRVN_REST_CMN_VALUE_TYPE_REMOVE_LUN, false, ZY_KRVN_CHECK_RESULT_FIELD_OBJECT};

// "a,b" for the failure sentences.
std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) out += name + ZY_KRVN_REST_LIST_SEP;
    if (!out.empty()) out.pop_back();
    return out;
}

// The rows of a ShowTarget payload, in order; false when it has no row array.
bool targetRows(const JsonValue& response, JsonValue& rows) {
    return response.member(ZY_KRVN_REST_CMN_FIELD_RESULT).getArray(ZY_KRVN_REST_GET_SCSI_TGT_FIELD_LUN_INFO, rows);
}

}  // namespace

int KrvnCommonUtils::requestTargetTable(const std::string& storageProxy,
                                        const std::function<int(size_t& rows)>& read) {
    size_t rows = 0;
    int rc = runRestOp(
        kGetTargets, [&](std::string& body) { return buildReqBodyForKorvanGetSCSITgtIQNs(body, storageProxy); },
        CWqString::Format(ZY_KRVN_ERR_GET_TARGETS, {storageProxy}), [&] { return read(rows); });
    if (rc != 0) return rc;
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_GOT_TARGETS, rows);
    return 0;
}

int KrvnCommonUtils::rest_getSCSITargetIQNs(const std::string& storageProxy,
                                            std::map<std::string, std::vector<KrvnSCSITarget>>& targets) {
    return requestTargetTable(storageProxy, [&](size_t& rows) {
        const int rc = processGetSCSITargetIQNs(storageProxy, targets);
        rows = targets[storageProxy].size();
        return rc;
    });
}

int KrvnCommonUtils::processGetSCSITargetIQNs(const std::string& storageProxy,
                                              std::map<std::string, std::vector<KrvnSCSITarget>>& targets) {
    return processRestResp(kGetTargets, [&](const JsonValue& response) -> int {
        std::vector<KrvnSCSITarget>& list = targets[storageProxy];
        JsonValue rows;
        if (!targetRows(response, rows)) {
            list.clear();
            return 0;
        }
        // The rows are written over those of the last read, whose strings keep their storage: a
        // table has a row per exposed clone, and strings made and freed per row and read cost
        // more than parsing them.
        size_t used = 0;
        rows.forEachElement([&](const JsonValue& row) {
            if (used == list.size()) list.emplace_back();
            KrvnSCSITarget& target = list[used++];
            std::string_view text;
            target.lunId.assign(row.getStringView(ZY_KRVN_REST_GET_SCSI_TGT_FIELD_LUN_ID, text) ? text : "");
            target.targetIqn.assign(row.getStringView(ZY_KRVN_REST_GET_SCSI_TGT_FIELD_LUN_TARGET, text) ? text : "");
            target.scsiSerialNumber = 0;
            if (row.getStringView(ZY_KRVN_REST_GET_SCSI_TGT_FIELD_SCSI_SERIAL, text))
                parseScsiSerial(text, target.scsiSerialNumber);
            target.online = row.getStringView(ZY_KRVN_REST_GET_SCSI_TGT_FIELD_ONLINE, text) &&
                            text == ZY_KRVN_REST_GET_SCSI_TGT_VALUE_ONLINE;
        });
        list.resize(used);
        return 0;
    });
}

int KrvnCommonUtils::rest_findSCSITargetOfLun(const std::string& storageProxy, const std::string& lunId,
                                              std::string& targetIqn) {
    return requestTargetTable(storageProxy, [&](size_t& rows) {
        return processFindSCSITargetOfLun(storageProxy, lunId, targetIqn, rows);
    });
}

int KrvnCommonUtils::processFindSCSITargetOfLun(const std::string& storageProxy, const std::string& lunId,
                                                std::string& targetIqn, size_t& rows) {
    targetIqn.clear();
    rows = 0;
    return processRestResp(kGetTargets, [&](const JsonValue& response) -> int {
        JsonValue table;
        if (!targetRows(response, table)) return 0;
        bool found = false;
        // Only the LUN names are looked at until the row is found; a missing field reads as
        // empty, as the whole-table reader leaves it.
        table.forEachElement([&](const JsonValue& row) {
            ++rows;
            std::string_view id, target;
            if (found || !row.getStringView(ZY_KRVN_REST_GET_SCSI_TGT_FIELD_LUN_ID, id) || id != lunId) return;
            row.getStringView(ZY_KRVN_REST_GET_SCSI_TGT_FIELD_LUN_TARGET, target);
            if (target.find(storageProxy) == std::string_view::npos) return;
            targetIqn.assign(target);
            found = true;
        });
        return 0;
    });
}

int KrvnCommonUtils::rest_addLUNConnection(const std::vector<std::string>& vDisks,
                                           const std::vector<std::string>& storageProxies) {
    return runRestOp(
        kAddLun, [&](std::string& body) { return buildReqBodyForKorvanAddLUN(body, vDisks, storageProxies); },
        CWqString::Format(ZY_KRVN_ERR_ADD_LUN, {joined(vDisks), joined(storageProxies)}),
        [&] { return processAddLUN(vDisks, storageProxies); });
}

int KrvnCommonUtils::processAddLUN(const std::vector<std::string>&, const std::vector<std::string>&) {
    return processRestResp(kAddLun, [&](const JsonValue& response) -> int {
        int rc = 0;
        response.member(ZY_KRVN_REST_CMN_FIELD_RESULT).forEachElementWhile([&](const JsonValue& disk) {
            const std::string name = jsonText(disk, ZY_KRVN_REST_ADD_LUN_FIELD_NAME);
            if (jsonText(disk, ZY_KRVN_REST_ADD_LUN_FIELD_STATUS) != ZY_KRVN_REST_CMN_VALUE_STATUS_OK) {
                rc = ctx->fail(
                    ZY_KRVN_ERR_OPERATION_FAILED,
                    CWqString::Format(ZY_KRVN_ERR_EXPOSE_DISK,
                                      {name, maskedForError(jsonText(disk, ZY_KRVN_REST_ADD_LUN_FIELD_MESSAGE))}),
                    ZY_KRVN_LOG_CLUSTER_OP_FAILED);
                return false;
            }
            JsonValue proxies;
            disk.getArray(ZY_KRVN_REST_ADD_LUN_FIELD_TARGETS, proxies);
            return proxies.forEachElementWhile([&](const JsonValue& proxy) {
                const std::string proxyName = jsonText(proxy, ZY_KRVN_REST_ADD_LUN_FIELD_TARGET_NAME);
                const std::string message = jsonText(proxy, ZY_KRVN_REST_ADD_LUN_FIELD_TARGET_MESSAGE);
                if (jsonText(proxy, ZY_KRVN_REST_ADD_LUN_FIELD_TARGET_STATUS) == ZY_KRVN_REST_CMN_VALUE_STATUS_OK ||
                    message == FXString::Format(ZY_KRVN_LUN_ALREADY_EXPOSED, proxyName))
                    return true;
                rc = ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED,
                               CWqString::Format(ZY_KRVN_ERR_EXPOSE_TARGET, {proxyName, name, maskedForError(message)}),
                               ZY_KRVN_LOG_CLUSTER_OP_FAILED);
                return false;
            });
        });
        return rc;
    });
}

int KrvnCommonUtils::rest_addHostAccessToDisks(const std::vector<std::string>& vDisks, const std::string& hostAddress,
                                               const std::string& storageProxy) {
    return runRestOp(
        kAddAccess,
        [&](std::string& body) {
            return buildReqBodyForKorvanAddHostAccessToDisks(body, vDisks, hostAddress, storageProxy);
        },
        CWqString::Format(ZY_KRVN_ERR_ADD_ACCESS, {joined(vDisks), hostAddress, storageProxy}),
        [&] { return processAddHostAccessToDisks(vDisks, hostAddress, storageProxy); });
}

int KrvnCommonUtils::processAddHostAccessToDisks(const std::vector<std::string>&, const std::string& hostAddress,
                                                 const std::string& storageProxy) {
    return processRestResp(kAddAccess, [&](const JsonValue& response) -> int {
        int rc = 0;
        response.member(ZY_KRVN_REST_CMN_FIELD_RESULT).forEachElementWhile([&](const JsonValue& disk) {
            if (jsonText(disk, ZY_KRVN_REST_ADD_ACCESS_FIELD_STATUS) == ZY_KRVN_REST_CMN_VALUE_STATUS_OK) return true;
            rc = ctx->fail(
                ZY_KRVN_ERR_OPERATION_FAILED,
                CWqString::Format(ZY_KRVN_ERR_MAP_DISK,
                                  {jsonText(disk, ZY_KRVN_REST_ADD_ACCESS_FIELD_NAME), hostAddress, storageProxy,
                                   maskedForError(jsonText(disk, ZY_KRVN_REST_ADD_ACCESS_FIELD_MESSAGE))}),
                ZY_KRVN_LOG_CLUSTER_OP_FAILED);
            return false;
        });
        return rc;
    });
}

int KrvnCommonUtils::rest_getAccessForDisk(const std::string& vDisk, std::vector<KrvnAccessInfo>& access) {
    return runRestOp(
        kGetAccess, [&](std::string& body) { return buildReqBodyForKorvanGetAccessList(body, vDisk); },
        CWqString::Format(ZY_KRVN_ERR_GET_ACCESS, {vDisk}), [&] { return processGetAccessList(access); },
        [&](int code) -> int {
            // The envelope check has already put the cluster's message into the error text.
            if (ctx->errorString().find(FXString::Format(ZY_KRVN_DISK_NOT_FOUND, vDisk)) == std::string::npos)
                return code;
            return ctx->recode(ZY_KRVN_ERR_DISK_NOT_FOUND);
        });
}

int KrvnCommonUtils::processGetAccessList(std::vector<KrvnAccessInfo>& access) {
    return processRestResp(kGetAccess, [&](const JsonValue& response) -> int {
        response.member(ZY_KRVN_REST_CMN_FIELD_RESULT).forEachElement([&](const JsonValue& element) {
            KrvnAccessInfo info;
            element.getString(ZY_KRVN_REST_GET_ACCESS_LIST_FIELD_HOST, info.host);
            JsonValue initiators;
            element.getArray(ZY_KRVN_REST_GET_ACCESS_LIST_FIELD_INIT_LIST, initiators);
            initiators.forEachElement([&](const JsonValue& initiator) {
                KrvnInitiatorInfo entry;
                initiator.getString(ZY_KRVN_REST_GET_ACCESS_LIST_FIELD_INIT_IP, entry.ip);
                initiator.getString(ZY_KRVN_REST_GET_ACCESS_LIST_FIELD_INIT_NAME, entry.name);
                info.initiators.push_back(entry);
            });
            access.push_back(info);
        });
        return 0;
    });
}

int KrvnCommonUtils::rest_removeAccess(const std::string& vDisk, const std::string& storageProxy,
                                       const std::string& hostAddress) {
    return runRestOp(
        kRemoveAccess,
        [&](std::string& body) { return buildReqBodyForKorvanRemoveAccess(body, vDisk, storageProxy, hostAddress); },
        CWqString::Format(ZY_KRVN_ERR_REMOVE_ACCESS, {vDisk, hostAddress}), [&] { return processRemoveAccess(); });
}

int KrvnCommonUtils::processRemoveAccess() {
    return processRestResp(kRemoveAccess, [](const JsonValue&) -> int { return 0; });
}

int KrvnCommonUtils::rest_removeLUN(const std::string& vDisk, const std::string& target) {
    return runRestOp(
        kRemoveLun, [&](std::string& body) { return buildReqBodyForKorvanRemoveLUN(body, vDisk, target); },
        CWqString::Format(ZY_KRVN_ERR_REMOVE_LUN, {vDisk, target}), [&] { return processRemoveLUN(vDisk); });
}

int KrvnCommonUtils::processRemoveLUN(const std::string& vDisk) {
    return processRestResp(
        kRemoveLun, [](const JsonValue&) -> int { return 0; },
        [&](const JsonValue& response, int code) -> int {
            // Already off the target: the goal is reached. The envelope's error state stays.
            if (jsonText(response, ZY_KRVN_REST_CMN_FIELD_MSG) == FXString::Format(ZY_KRVN_LUN_ALREADY_REMOVED, vDisk))
                return 0;
            return code;
        });
}

}  // namespace ZYKorvanCommon
