// The request catalogue: the only place where request bodies are written.
//
// Values travel inside single quotes in the cluster's relaxed notation, which has no escape:
// a quote, a backslash or a control character in a value would end the value early or make
// the cluster read a different request. Such a value is refused before anything is sent.
// The transport percent-encodes the finished body, so '&', '%' and '+' travel intact.
#include <initializer_list>

#include "CWqString.h"
#include "KrvnCommonUtils.h"
#include "KrvnTextsRest.h"

namespace ZYKorvanCommon {

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7f;

bool isUnsafeValue(const std::string& value) {
    for (unsigned char c : value) {
        if (c == '\'' || c == '\\' || c < kFirstPrintable || c == kDelete) return true;
    }
    return false;
}

int refuseValue(KrvnCommonCtx* ctx, const std::string& shown) {
    return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, ZY_KRVN_ERR_UNSAFE_VALUE + shown + ZY_KRVN_ERR_CLOSE,
                     ZY_KRVN_LOG_CLUSTER_OP_FAILED);
}

// Refuses the first unsafe value; 0 when every value may travel inside quotes.
int checkQuoted(KrvnCommonCtx* ctx, std::initializer_list<const std::string*> values) {
    for (const std::string* value : values) {
        if (isUnsafeValue(*value)) return refuseValue(ctx, *value);
    }
    return 0;
}

template <typename Names>
int checkNames(KrvnCommonCtx* ctx, const Names& names) {
    for (const auto& name : names) {
        if (isUnsafeValue(name)) return refuseValue(ctx, name);
    }
    return 0;
}

template <typename Value>
int checkKeys(KrvnCommonCtx* ctx, const std::map<std::string, Value>& names) {
    for (const auto& entry : names) {
        if (isUnsafeValue(entry.first)) return refuseValue(ctx, entry.first);
    }
    return 0;
}

std::string quotedName(const std::string& name) { return ZY_KRVN_REST_LIST_QUOTE + name + ZY_KRVN_REST_LIST_QUOTE; }

// 'a','b' (the template brings the brackets). An empty list stays empty.
std::string quotedList(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) out += quotedName(name) + ZY_KRVN_REST_LIST_SEP;
    if (!out.empty()) out.pop_back();
    return out;
}

template <typename Value>
std::string quotedKeys(const std::map<std::string, Value>& names) {
    std::vector<std::string> keys;
    for (const auto& entry : names) keys.push_back(entry.first);
    return quotedList(keys);
}

CWqString boolText(bool value) { return value ? ZY_KRVN_REST_BOOL_TRUE : ZY_KRVN_REST_BOOL_FALSE; }

}  // namespace

int KrvnCommonUtils::buildReqBodyForKorvanConnect(std::string& out) {
    out.clear();
    const KrvnArrayDetails& d = ctx->arrayDetails;
    // The password is never quoted back, not even in a refusal.
    if (isUnsafeValue(d.userPswd)) return refuseValue(ctx, ZY_KRVN_UNSAFE_VALUE_PSWD_SHOWN);
    if (checkQuoted(ctx, {&d.userName, &d.arrayId})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_LOGIN, {d.userName, d.userPswd, d.arrayId});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanDisconnect(std::string& out) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_LOGOUT, {session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanGetAllVDisks(std::string& out) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_GET_ALL_VDISKS, {session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanGetVDisk(std::string& out, const KrvnDisk& disk) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&disk.vDiskName, &session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_GET_VDISK, {disk.vDiskName, session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanGetVDiskBySSN(std::string& out, const KrvnDisk& disk) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_GET_VDISK_BY_SSN,
                            {CWqString(static_cast<long long>(disk.scsiSerialNumber)), session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanCreateSnaps(std::string& out,
                                                      const std::map<std::string, std::string>& sources) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkKeys(ctx, sources) || checkQuoted(ctx, {&session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_CREATE_SNAPS, {quotedKeys(sources), session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanGetSnapList(std::string& out, const std::string& vDisk) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&vDisk, &session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_GET_SNAPLIST, {vDisk, session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanDeleteSnap(std::string& out, const std::string& snapName) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&snapName, &session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_DELETE_SNAP, {snapName, session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanRevert(std::string& out, const std::string& snapName) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&snapName, &session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_REVERT_SNAP, {snapName, session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanGetCloneDetails(std::string& out, const std::string& snapName) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&snapName, &session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_GET_SNAP_CLONES, {snapName, session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanCreateClone(std::string& out, const std::string& cloneName,
                                                      const std::string& snapName) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&cloneName, &snapName, &session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_CREATE_CLONE, {cloneName, snapName, session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanGetSCSITgtIQNs(std::string& out, const std::string& storageProxy) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&storageProxy, &session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_GET_SCSI_TARGETS, {storageProxy, session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanAddLUN(std::string& out, const std::vector<std::string>& vDisks,
                                                 const std::vector<std::string>& storageProxies) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkNames(ctx, vDisks) || checkNames(ctx, storageProxies) || checkQuoted(ctx, {&session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_ADD_LUN, {quotedList(vDisks), quotedList(storageProxies), session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanAddHostAccessToDisks(std::string& out, const std::vector<std::string>& vDisks,
                                                               const std::string& hostAddress,
                                                               const std::string& storageProxy) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkNames(ctx, vDisks) || checkQuoted(ctx, {&storageProxy, &hostAddress, &session})) return 1;
    // The cluster calls the storage proxy "host" and the initiator "address".
    out = CWqString::Format(ZY_KRVN_REST_REQ_ADD_ACCESS_IQN, {quotedList(vDisks), storageProxy, hostAddress, session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanGetAccessList(std::string& out, const std::string& vDisk) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&vDisk, &session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_GET_ACCESS_LIST, {vDisk, session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanRemoveAccess(std::string& out, const std::string& vDisk,
                                                       const std::string& storageProxy,
                                                       const std::string& hostAddress) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&vDisk, &storageProxy, &hostAddress, &session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_REMOVE_ACCESS, {vDisk, storageProxy, quotedName(hostAddress), session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanRemoveLUN(std::string& out, const std::string& vDisk,
                                                    const std::string& target) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&vDisk, &target, &session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_REMOVE_LUN, {vDisk, target, session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanDeleteDisk(std::string& out, const std::map<std::string, bool>& disks) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkKeys(ctx, disks) || checkQuoted(ctx, {&session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_DELETE_VDISK, {quotedKeys(disks), session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanGetClusterSettingInfo(std::string& out) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_GET_CLUS_SETTING_INFO, {session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanCreateDisk(std::string& out, const KrvnDisk& disk) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&disk.vDiskName, &disk.sizeUnit, &disk.description, &session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_CREATE_VDISK,
                            {disk.vDiskName, disk.sizeUnit, CWqString(disk.size), disk.diskType,
                             boolText(disk.scsi3pr), boolText(disk.deduplication), boolText(disk.compressed),
                             CWqString(static_cast<int>(disk.blockSize)),
                             CWqString(static_cast<short>(disk.replicationFactor)), boolText(disk.encryption),
                             disk.description, session});
    return 0;
}

int KrvnCommonUtils::buildReqBodyForKorvanResizeDisk(std::string& out, const KrvnDisk& disk) {
    out.clear();
    const std::string& session = ctx->arrayDetails.sessionId;
    if (checkQuoted(ctx, {&disk.vDiskName, &disk.sizeUnit, &session})) return 1;
    out = CWqString::Format(ZY_KRVN_REST_REQ_RESIZE_VDISK,
                            {quotedName(disk.vDiskName), disk.sizeUnit, CWqString(disk.size), session});
    return 0;
}

}  // namespace ZYKorvanCommon
