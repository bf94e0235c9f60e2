// Snapshot and clone requests: create (with its bounded retry), list, delete, revert, list
// clones, create a clone.
#include "CWqString.h"
#include "KrvnCommonUtils.h"
#include "KrvnTextsCluster.h"

namespace ZYKorvanCommon {

namespace {

// The cluster sometimes drops a MakeSnapshot with " No more data to read"; the same request
// sent again at once usually goes through.
const KrvnRestOp kCreateSnaps{ZY_KRVN_REST_CMN_VALUE_TYPE_CREATE_SNAPS, true, ZY_KRVN_CHECK_RESULT_FIELD_ARRAY,
                              ZY_KRVN_CREATE_SNAPS_MAX_ATTEMPTS, ZY_KRVN_CREATE_SNAP_NO_MORE_DATA};
const KrvnRestOp kGetSnapList{ZY_KRVN_REST_CMN_VALUE_TYPE_GET_SNAP_LIST, false, ZY_KRVN_CHECK_RESULT_FIELD_ARRAY};
const KrvnRestOp kDeleteSnap{ZY_KRVN_REST_CMN_VALUE_TYPE_DELETE_SNAP, false, ZY_KRVN_CHECK_RESULT_FIELD_NONE};
const KrvnRestOp kRevertSnap{ZY_KRVN_REST_CMN_VALUE_TYPE_REVERT_SNAP, false, ZY_KRVN_CHECK_RESULT_FIELD_NONE};
const KrvnRestOp kGetClones{ZY_KRVN_REST_CMN_VALUE_TYPE_GET_SNAP_CLONES, false, ZY_KRVN_CHECK_RESULT_FIELD_ARRAY};
const KrvnRestOp kCreateClone{ZY_KRVN_REST_CMN_VALUE_TYPE_CREATE_CLONE, true, ZY_KRVN_CHECK_RESULT_FIELD_ARRAY};

// Appends each element's name (empty when it has none) to names.
void appendNames(const JsonValue& response, const char* key, std::vector<std::string>& names) {
    response.member(ZY_KRVN_REST_CMN_FIELD_RESULT).forEachElement([&](const JsonValue& element) {
        names.push_back(jsonText(element, key));
    });
}

}  // namespace

int KrvnCommonUtils::rest_createSnaps(std::map<std::string, std::string>& sources) {
    return runRestOp(
        kCreateSnaps, [&](std::string& body) { return buildReqBodyForKorvanCreateSnaps(body, sources); },
        ZY_KRVN_ERR_CREATE_SNAPS, [&] { return processCreateSnaps(sources); });
}

int KrvnCommonUtils::processCreateSnaps(std::map<std::string, std::string>& sources) {
    return processRestResp(kCreateSnaps, [&](const JsonValue& response) -> int {
        std::string failures;
        response.member(ZY_KRVN_REST_CMN_FIELD_RESULT).forEachElement([&](const JsonValue& element) {
            const std::string status = jsonText(element, ZY_KRVN_REST_CREATE_SNAPS_FIELD_STATUS);
            const std::string name = jsonText(element, ZY_KRVN_REST_CREATE_SNAPS_FIELD_NAME);
            const std::string snapName = jsonText(element, ZY_KRVN_REST_CREATE_SNAPS_FIELD_SNAP_NAME);
            const std::string message = jsonText(element, ZY_KRVN_REST_CREATE_SNAPS_FIELD_MESSAGE);
            if (status != ZY_KRVN_REST_CMN_VALUE_STATUS_OK) {
                failures += CWqString::Format(ZY_KRVN_SNAP_FAIL_ITEM, {name, status, maskedForError(message)});
                ctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_SNAP_ITEM_FAILED, name.c_str(), status.c_str(),
                         message.c_str());
                return;
            }
            auto source = sources.find(name);
            if (source != sources.end()) source->second = snapName;
        });
        if (failures.empty()) return 0;
        failures.resize(failures.size() - ZY_KRVN_SNAP_FAIL_ITEM_TRAILER_LEN);
        return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, ZY_KRVN_ERR_SNAP_CREATION_FAILED + failures,
                         ZY_KRVN_LOG_CLUSTER_OP_FAILED);
    });
}

int KrvnCommonUtils::rest_getSnapListForSource(const std::string& vDisk, std::vector<std::string>& snapNames) {
    return runRestOp(
        kGetSnapList, [&](std::string& body) { return buildReqBodyForKorvanGetSnapList(body, vDisk); },
        CWqString::Format(ZY_KRVN_ERR_GET_SNAP_LIST, {vDisk}), [&] { return processGetSnapList(snapNames); },
        [&](int code) -> int {
            if (!restErrorsContain(FXString::Format(ZY_KRVN_DISK_NOT_FOUND, vDisk))) return code;
            return ctx->recode(ZY_KRVN_ERR_NOT_FOUND);
        });
}

int KrvnCommonUtils::processGetSnapList(std::vector<std::string>& snapNames) {
    return processRestResp(kGetSnapList, [&](const JsonValue& response) -> int {
        appendNames(response, ZY_KRVN_REST_GET_SNAP_LIST_FIELD_NAME, snapNames);
        return 0;
    });
}

int KrvnCommonUtils::rest_deleteSnap(const std::string& vDisk, const std::string& snapName) {
    return runRestOp(
        kDeleteSnap, [&](std::string& body) { return buildReqBodyForKorvanDeleteSnap(body, snapName); },
        CWqString::Format(ZY_KRVN_ERR_DELETE_SNAP, {snapName, vDisk}), [&] { return processDeleteSnap(snapName); },
        [&](int code) -> int {
            if (!restErrorsContain(ZY_KRVN_DELETE_SNAP_NOT_EXIST)) return code;
            return ctx->recode(ZY_KRVN_ERR_SNAP_NOT_FOUND);
        });
}

int KrvnCommonUtils::processDeleteSnap(const std::string& snapName) {
    return processRestResp(kDeleteSnap, [&](const JsonValue& response) -> int {
        const std::string name = jsonText(response, ZY_KRVN_REST_DELETE_SNAP_FIELD_NAME);
        if (name == snapName) return 0;
        ctx->logRESTDetails();
        return ctx->fail(ZY_KRVN_ERR_REST_CONTENT, CWqString::Format(ZY_KRVN_ERR_DELETE_NAME, {name, snapName}),
                         ZY_KRVN_LOG_DELETE_SUSPICIOUS);
    });
}

int KrvnCommonUtils::rest_revertSnap(const std::string& vDisk, const std::string& snapName) {
    return runRestOp(
        kRevertSnap, [&](std::string& body) { return buildReqBodyForKorvanRevert(body, snapName); },
        CWqString::Format(ZY_KRVN_ERR_REVERT, {vDisk, snapName}), [&] { return processRevertSnap(snapName); });
}

int KrvnCommonUtils::processRevertSnap(const std::string& snapName) {
    return processRestResp(kRevertSnap, [&](const JsonValue& response) -> int {
        const std::string name = jsonText(response, ZY_KRVN_REST_REVERT_SNAP_FIELD_INIT_NAME);
        if (name == snapName) return 0;
        return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, CWqString::Format(ZY_KRVN_ERR_REVERT_NAME, {name, snapName}),
                         ZY_KRVN_LOG_CLUSTER_OP_FAILED);
    });
}

int KrvnCommonUtils::rest_getCloneDetails(const std::string& snapName, std::vector<std::string>& cloneNames) {
    return runRestOp(
        kGetClones, [&](std::string& body) { return buildReqBodyForKorvanGetCloneDetails(body, snapName); },
        CWqString::Format(ZY_KRVN_ERR_GET_CLONES, {snapName}), [&] { return processGetCloneDetails(cloneNames); });
}

int KrvnCommonUtils::processGetCloneDetails(std::vector<std::string>& cloneNames) {
    return processRestResp(kGetClones, [&](const JsonValue& response) -> int {
        appendNames(response, ZY_KRVN_REST_GET_SNAP_CLONES_FIELD_NAME, cloneNames);
        return 0;
    });
}

int KrvnCommonUtils::rest_createCloneOfSnap(const std::string& cloneName, const std::string& snapName) {
    return runRestOp(
        kCreateClone, [&](std::string& body) { return buildReqBodyForKorvanCreateClone(body, cloneName, snapName); },
        CWqString::Format(ZY_KRVN_ERR_CREATE_CLONE, {cloneName, snapName}),
        [&] { return processCreateClone(cloneName, snapName); });
}

int KrvnCommonUtils::processCreateClone(const std::string& cloneName, const std::string& snapName) {
    return processRestResp(kCreateClone, [&](const JsonValue& response) -> int {
        // "name" and "baseDisk" are answered too; only the status decides.
        const bool allOk =
            response.member(ZY_KRVN_REST_CMN_FIELD_RESULT).forEachElementWhile([](const JsonValue& clone) {
                return jsonText(clone, ZY_KRVN_REST_CREATE_CLONE_FIELD_STATUS) == ZY_KRVN_REST_CMN_VALUE_STATUS_OK;
            });
        if (allOk) return 0;
        return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED,
                         CWqString::Format(ZY_KRVN_ERR_CLONE_FAILED, {cloneName, snapName}),
                         ZY_KRVN_LOG_CLUSTER_OP_FAILED);
    });
}

}  // namespace ZYKorvanCommon
