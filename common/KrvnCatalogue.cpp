// The request catalogue: the only place where request bodies are written.
//
// Values travel inside single quotes in the cluster's relaxed notation, which has no escape:
// a quote, a backslash or a control character in a value would end the value early or make
// the cluster read a different request. Such a value is refused before anything is sent.
// The transport percent-encodes the finished body, so '&', '%' and '+' travel intact.
#include <map>
#include <vector>

#include "CWqString.h"
#include "KrvnCommonUtils.h"
#include "KrvnTextsCluster.h"

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

// One placeholder value: its text and the values inside it that travel between quotes.
struct BodyArg {
    CWqString text;
    std::vector<std::string> quoted;
    const char* shownAs = nullptr;  // what a refusal quotes instead of the value
};

BodyArg plain(const CWqString& text) { return BodyArg{text, {}, nullptr}; }
BodyArg quoted(const std::string& value) { return BodyArg{value, {value}, nullptr}; }
BodyArg secret(const std::string& value) { return BodyArg{value, {value}, ZY_KRVN_UNSAFE_VALUE_SECRET_SHOWN}; }
BodyArg boolean(bool value) { return plain(value ? ZY_KRVN_REST_BOOL_TRUE : ZY_KRVN_REST_BOOL_FALSE); }

std::string quotedName(const std::string& name) { return ZY_KRVN_REST_LIST_QUOTE + name + ZY_KRVN_REST_LIST_QUOTE; }

// 'a','b' (the template brings the brackets). An empty list stays empty.
BodyArg nameList(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += quotedName(name) + ZY_KRVN_REST_LIST_SEP;
    if (!text.empty()) text.pop_back();
    return BodyArg{text, names, nullptr};
}

template <typename Value>
BodyArg keyList(const std::map<std::string, Value>& names) {
    std::vector<std::string> keys;
    for (const auto& entry : names) keys.push_back(entry.first);
    return nameList(keys);
}

// Empties out, refuses the first unsafe value, else formats the template with the
// arguments in placeholder order (the session last when withSession).
int fillBody(KrvnCommonCtx* ctx, std::string& out, const char* tmpl, std::vector<BodyArg> args,
             bool withSession = true) {
    out.clear();
    if (withSession) args.push_back(secret(ctx->arrayDetails.sessionId));
    std::vector<CWqString> texts;
    texts.reserve(args.size());
    for (BodyArg& arg : args) {
        for (const std::string& value : arg.quoted) {
            if (isUnsafeValue(value))
                return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED,
                                 CWqString::Format(ZY_KRVN_ERR_UNSAFE_VALUE, {arg.shownAs ? arg.shownAs : value}),
                                 ZY_KRVN_LOG_CLUSTER_OP_FAILED);
        }
        texts.push_back(std::move(arg.text));
    }
    out = CWqString::Format(tmpl, texts);
    return 0;
}

}  // namespace

int KrvnCommonUtils::buildReqBodyForKorvanConnect(std::string& out) {
    const KrvnArrayDetails& d = ctx->arrayDetails;
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_LOGIN, {quoted(d.userName), secret(d.userPswd), quoted(d.arrayId)},
                    false);
}

int KrvnCommonUtils::buildReqBodyForKorvanDisconnect(std::string& out) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_LOGOUT, {});
}

int KrvnCommonUtils::buildReqBodyForKorvanGetAllVDisks(std::string& out) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_GET_ALL_VDISKS, {});
}

int KrvnCommonUtils::buildReqBodyForKorvanGetVDisk(std::string& out, const KrvnDisk& disk) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_GET_VDISK, {quoted(disk.vDiskName)});
}

int KrvnCommonUtils::buildReqBodyForKorvanGetVDiskBySSN(std::string& out, const KrvnDisk& disk) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_GET_VDISK_BY_SSN,
                    {plain(CWqString(static_cast<long long>(disk.scsiSerialNumber)))});
}

int KrvnCommonUtils::buildReqBodyForKorvanCreateSnaps(std::string& out,
                                                      const std::map<std::string, std::string>& sources) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_CREATE_SNAPS, {keyList(sources)});
}

int KrvnCommonUtils::buildReqBodyForKorvanGetSnapList(std::string& out, const std::string& vDisk) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_GET_SNAPLIST, {quoted(vDisk)});
}

int KrvnCommonUtils::buildReqBodyForKorvanDeleteSnap(std::string& out, const std::string& snapName) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_DELETE_SNAP, {quoted(snapName)});
}

int KrvnCommonUtils::buildReqBodyForKorvanRevert(std::string& out, const std::string& snapName) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_REVERT_SNAP, {quoted(snapName)});
}

int KrvnCommonUtils::buildReqBodyForKorvanGetCloneDetails(std::string& out, const std::string& snapName) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_GET_SNAP_CLONES, {quoted(snapName)});
}

int KrvnCommonUtils::buildReqBodyForKorvanCreateClone(std::string& out, const std::string& cloneName,
                                                      const std::string& snapName) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_CREATE_CLONE, {quoted(cloneName), quoted(snapName)});
}

int KrvnCommonUtils::buildReqBodyForKorvanGetSCSITgtIQNs(std::string& out, const std::string& storageProxy) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_GET_SCSI_TARGETS, {quoted(storageProxy)});
}

int KrvnCommonUtils::buildReqBodyForKorvanAddLUN(std::string& out, const std::vector<std::string>& vDisks,
                                                 const std::vector<std::string>& storageProxies) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_ADD_LUN, {nameList(vDisks), nameList(storageProxies)});
}

int KrvnCommonUtils::buildReqBodyForKorvanAddHostAccessToDisks(std::string& out, const std::vector<std::string>& vDisks,
                                                               const std::string& hostAddress,
                                                               const std::string& storageProxy) {
    // The cluster calls the storage proxy "host" and the initiator "address".
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_ADD_ACCESS_IQN,
                    {nameList(vDisks), quoted(storageProxy), quoted(hostAddress)});
}

int KrvnCommonUtils::buildReqBodyForKorvanGetAccessList(std::string& out, const std::string& vDisk) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_GET_ACCESS_LIST, {quoted(vDisk)});
}

int KrvnCommonUtils::buildReqBodyForKorvanRemoveAccess(std::string& out, const std::string& vDisk,
                                                       const std::string& storageProxy,
                                                       const std::string& hostAddress) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_REMOVE_ACCESS,
                    {quoted(vDisk), quoted(storageProxy), nameList({hostAddress})});
}

int KrvnCommonUtils::buildReqBodyForKorvanRemoveLUN(std::string& out, const std::string& vDisk,
                                                    const std::string& target) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_REMOVE_LUN, {quoted(vDisk), quoted(target)});
}

int KrvnCommonUtils::buildReqBodyForKorvanDeleteDisk(std::string& out, const std::map<std::string, bool>& disks) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_DELETE_VDISK, {keyList(disks)});
}

int KrvnCommonUtils::buildReqBodyForKorvanGetClusterSettingInfo(std::string& out) {
    return fillBody(ctx, out, ZY_KRVN_REST_GET_CLUS_SETTING_INFO, {});
}

int KrvnCommonUtils::buildReqBodyForKorvanCreateDisk(std::string& out, const KrvnDisk& disk) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_CREATE_VDISK,
                    {quoted(disk.vDiskName), quoted(disk.sizeUnit), plain(CWqString(disk.size)), plain(disk.diskType),
                     boolean(disk.scsi3pr), boolean(disk.deduplication), boolean(disk.compressed),
                     plain(CWqString(static_cast<int>(disk.blockSize))),
                     plain(CWqString(static_cast<short>(disk.replicationFactor))), boolean(disk.encryption),
                     quoted(disk.description)});
}

int KrvnCommonUtils::buildReqBodyForKorvanResizeDisk(std::string& out, const KrvnDisk& disk) {
    return fillBody(ctx, out, ZY_KRVN_REST_REQ_RESIZE_VDISK,
                    {nameList({disk.vDiskName}), quoted(disk.sizeUnit), plain(CWqString(disk.size))});
}

}  // namespace ZYKorvanCommon
