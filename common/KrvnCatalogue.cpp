// The request catalogue: the only place where request bodies are written.
//
// Values travel inside single quotes in the cluster's relaxed notation, which has no escape:
// a quote, a backslash or a control character in a value would end the value early or make
// the cluster read a different request. Such a value is refused before anything is sent.
// The transport percent-encodes the finished body, so '&', '%' and '+' travel intact.
#include <cstring>
#include <initializer_list>
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

// One placeholder value: its text, and whether a value inside it that travels between quotes
// is unsafe (then what a refusal quotes in its place).
struct BodyArg {
    std::string text;
    bool unsafe = false;
    std::string shown;
};

BodyArg checked(std::string text, const std::string& value, const char* shownAs) {
    BodyArg arg{std::move(text), false, {}};
    if (isUnsafeValue(value)) {
        arg.unsafe = true;
        arg.shown = shownAs ? shownAs : value;
    }
    return arg;
}

BodyArg plain(std::string text) { return BodyArg{std::move(text), false, {}}; }
BodyArg quoted(const std::string& value) { return checked(value, value, nullptr); }
BodyArg secret(const std::string& value) { return checked(value, value, ZY_KRVN_UNSAFE_VALUE_SECRET_SHOWN); }
BodyArg boolean(bool value) { return plain(value ? ZY_KRVN_REST_BOOL_TRUE : ZY_KRVN_REST_BOOL_FALSE); }

// 'a','b' (the template brings the brackets). An empty list stays empty.
template <typename Names, typename NameOf>
BodyArg listOf(const Names& names, NameOf nameOf) {
    BodyArg arg;
    for (const auto& entry : names) {
        const std::string& name = nameOf(entry);
        if (!arg.unsafe && isUnsafeValue(name)) {
            arg.unsafe = true;
            arg.shown = name;
        }
        if (!arg.text.empty()) arg.text += ZY_KRVN_REST_LIST_SEP;
        arg.text.append(ZY_KRVN_REST_LIST_QUOTE).append(name).append(ZY_KRVN_REST_LIST_QUOTE);
    }
    return arg;
}

BodyArg nameList(const std::vector<std::string>& names) {
    return listOf(names, [](const std::string& name) -> const std::string& { return name; });
}

template <typename Value>
BodyArg keyList(const std::map<std::string, Value>& names) {
    return listOf(names,
                  [](const std::pair<const std::string, Value>& entry) -> const std::string& { return entry.first; });
}

// Empties out, refuses the first unsafe value, else fills the template's {n} placeholders with
// the arguments in order (the session last when withSession). Written for every request of a
// call over thousands of items: one pass, one allocation.
int fillBody(KrvnCommonCtx* ctx, std::string& out, const char* tmpl, std::initializer_list<BodyArg> args,
             bool withSession = true) {
    out.clear();
    const BodyArg session = withSession ? secret(ctx->arrayDetails.sessionId) : BodyArg{};
    const size_t count = args.size() + (withSession ? 1 : 0);
    auto at = [&](size_t i) -> const BodyArg& { return i < args.size() ? args.begin()[i] : session; };
    size_t length = std::strlen(tmpl);
    for (size_t i = 0; i < count; ++i) {
        if (at(i).unsafe)
            return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, CWqString::Format(ZY_KRVN_ERR_UNSAFE_VALUE, {at(i).shown}),
                             ZY_KRVN_LOG_CLUSTER_OP_FAILED);
        length += at(i).text.size();
    }
    out.reserve(length);
    constexpr size_t kMaxDigits = 9;
    for (const char* from = tmpl;;) {
        const char* open = std::strchr(from, '{');
        if (!open) {
            out.append(from);
            return 0;
        }
        out.append(from, static_cast<size_t>(open - from));
        const char* digit = open + 1;
        size_t index = 0;
        while (*digit >= '0' && *digit <= '9' && static_cast<size_t>(digit - open) <= kMaxDigits)
            index = index * 10 + static_cast<size_t>(*digit++ - '0');
        if (digit > open + 1 && *digit == '}' && index >= 1 && index <= count) {
            out += at(index - 1).text;
            from = digit + 1;
        } else {
            // Not a placeholder: kept as written.
            out += '{';
            from = open + 1;
        }
    }
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
