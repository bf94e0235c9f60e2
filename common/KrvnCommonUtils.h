// KrvnCommonUtils: the work both engines share, on one operation context.
//
// Families (one source file each): SCSI inquiry and device identity, iSCSI sessions and host
// devices, the cluster session and envelope check, the request catalogue, and the cluster
// operations (vDisk queries, snapshots and clones, targets/LUNs/access, disk administration).
// Every member returns 0 on success or an error code left in the context (KrvnCommonCtx).
// Each cluster operation is a rest_ half (build, send, transport failure) and a process half
// (parse restResponse, envelope check, payload), run through one shared frame.
// The utilities own the loaded iSCSI module instance and release it when they die; they
// never own the context.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "CWqLibrary.h"
#include "KrvnCommonCtx.h"
#include "KrvnJson.h"
#include "KrvnRecords.h"
#include "ZyISCSIModule.h"

namespace ZYKorvanCommon {

// Which shape "result" must have in a cluster answer.
enum KrvnResultCheck : int {
    ZY_KRVN_CHECK_RESULT_FIELD_NONE = 0,
    ZY_KRVN_CHECK_RESULT_FIELD_OBJECT = 1,
    ZY_KRVN_CHECK_RESULT_FIELD_ARRAY = 2,
};

// SCSI INQUIRY constants.
constexpr int ZY_KRVN_SCSI_CDB_LEN = 6;
constexpr int ZY_KRVN_SCSI_RESP_LEN = 255;

// Loads libZyISCSI.so through the caller's library object; null on failure (logged).
ZyISCSIModule* GetZyISCSIInstance(CWqLibrary& library);
// "210000e08b05050a" -> "21:00:00:e0:8b:05:05:0a".
void StringToWWPN(const std::string& in, std::string& out);

// One cluster operation is described by what differs from the others: the answer's type,
// the method, the shape "result" must have and, for MakeSnapshot alone, a cluster message
// that makes the very same request worth sending again (at once, a bounded number of times).
struct KrvnRestOp {
    const char* type;
    bool usePut;
    int resultCheck;
    int attempts = 1;
    const char* retryOn = nullptr;
};

class KrvnCommonUtils {
public:
    explicit KrvnCommonUtils(KrvnCommonCtx* ctx);
    virtual ~KrvnCommonUtils();
    KrvnCommonUtils(const KrvnCommonUtils&) = delete;
    KrvnCommonUtils& operator=(const KrvnCommonUtils&) = delete;

    // ---- SCSI inquiry and device identity -------------------------------------------------
    int doSCSIInquiry(const std::string& device, const unsigned char* cdb, unsigned char* response);
    void getStdDetailsFromSCSIResp(const unsigned char* response, std::string& vendor, std::string& product,
                                   std::string& revision);
    void getDiskSerialIdFromSCSIResp(const unsigned char* response, std::string& serial);
    void getArrayIdFromSCSIResp(const unsigned char* response, std::string& clusterSerial);
    int checkStdPageInfoForKorvan(const std::string& device, const std::string& vendor, const std::string& product,
                                  const std::string& revision);
    int checkDiskIdInfoForKorvan(const std::string& device, const std::string& serial);
    int checkArrayIdInfoForKorvan(const std::string& device, const std::string& clusterSerial);
    int inquireDevice(const std::string& device, std::string& vDiskSerial, std::string& clusterSerial);
    // What both maps ask of a device that appeared: announced with its name, inquired, and
    // its vDisk serial read when the device is a vDisk of the cluster whose serial is given.
    // A device that cannot be inquired is skipped with its failure tolerated.
    enum class DeviceSerial { Unreadable, NotOfCluster, Read };
    DeviceSerial readDeviceSerial(const std::string& device, const std::string& clusterSerial, int64_t& serial);
    void dumpHexBuf(const unsigned char* buffer, int length);
    // The page-mismatch failure ("... Skipping the device..", code 3) of inquiry and discovery,
    // each logging it its own way.
    int refuseMismatchedPage(const std::string& device, unsigned char returned, int requested, const KrvnFailLog& log);

    // ---- iSCSI sessions and host devices --------------------------------------------------
    int initializeZYiSCSIModule(CWqLibrary* library);
    int tryiSCSITargetLogin(std::vector<std::pair<std::string, std::string>>& targets);
    int tryiSCSITargetLogout(const std::string& portal, const std::string& target);
    int getLocalHostName(std::string& name);
    int getDeviceList(const std::string& host, std::vector<std::string>& devices);
    int refreshSystemBus(const std::string& host, const std::vector<std::string>& initiators,
                         const std::vector<std::string>& devices);

    // ---- Cluster session and envelope -----------------------------------------------------
    int rest_initializeClient();
    int rest_connectToArray();
    int processConnectResp();
    int processCommonResp(const JsonValue& response, const std::string& expectedType, int checkResult);
    int rest_disconnectArray();
    int processLogout();
    void rest_resetCtx();
    // True from a successful login until the logout that follows it was tried.
    bool sessionOpen() const { return sessionOpen_; }

    // ---- Request catalogue ----------------------------------------------------------------
    // Each builder empties and fills `out`. A value that cannot travel inside the cluster's
    // quotes (single quote, backslash, control character) is refused: code 1, nothing built,
    // result 1. Otherwise 0.
    int buildReqBodyForKorvanConnect(std::string& out);
    int buildReqBodyForKorvanDisconnect(std::string& out);
    int buildReqBodyForKorvanGetAllVDisks(std::string& out);
    int buildReqBodyForKorvanGetVDisk(std::string& out, const KrvnDisk& disk);
    int buildReqBodyForKorvanGetVDiskBySSN(std::string& out, const KrvnDisk& disk);
    int buildReqBodyForKorvanCreateSnaps(std::string& out, const std::map<std::string, std::string>& sources);
    int buildReqBodyForKorvanGetSnapList(std::string& out, const std::string& vDisk);
    int buildReqBodyForKorvanDeleteSnap(std::string& out, const std::string& snapName);
    int buildReqBodyForKorvanRevert(std::string& out, const std::string& snapName);
    int buildReqBodyForKorvanGetCloneDetails(std::string& out, const std::string& snapName);
    int buildReqBodyForKorvanCreateClone(std::string& out, const std::string& cloneName, const std::string& snapName);
    int buildReqBodyForKorvanGetSCSITgtIQNs(std::string& out, const std::string& storageProxy);
    int buildReqBodyForKorvanAddLUN(std::string& out, const std::vector<std::string>& vDisks,
                                    const std::vector<std::string>& storageProxies);
    int buildReqBodyForKorvanAddHostAccessToDisks(std::string& out, const std::vector<std::string>& vDisks,
                                                  const std::string& hostAddress, const std::string& storageProxy);
    int buildReqBodyForKorvanGetAccessList(std::string& out, const std::string& vDisk);
    int buildReqBodyForKorvanRemoveAccess(std::string& out, const std::string& vDisk, const std::string& storageProxy,
                                          const std::string& hostAddress);
    int buildReqBodyForKorvanRemoveLUN(std::string& out, const std::string& vDisk, const std::string& target);
    int buildReqBodyForKorvanDeleteDisk(std::string& out, const std::map<std::string, bool>& disks);
    int buildReqBodyForKorvanGetClusterSettingInfo(std::string& out);
    int buildReqBodyForKorvanCreateDisk(std::string& out, const KrvnDisk& disk);
    int buildReqBodyForKorvanResizeDisk(std::string& out, const KrvnDisk& disk);

    // ---- Virtual disk queries -------------------------------------------------------------
    int rest_getAllVDiskDetails(std::vector<KrvnDisk>& disks);
    int rest_getVDiskDetails(KrvnDisk& disk);
    int rest_getVDiskDetailsBySSN(KrvnDisk& disk);
    int processGetAllVDisks(std::vector<KrvnDisk>& disks);
    int processGetVDisk(KrvnDisk& disk);
    int processGetVDiskBySSN(KrvnDisk& disk);
    void parseDiskFields(const JsonValue& item, KrvnDisk& disk);

    // ---- Snapshot and clone requests ------------------------------------------------------
    int rest_createSnaps(std::map<std::string, std::string>& sources);
    int rest_getSnapListForSource(const std::string& vDisk, std::vector<std::string>& snapNames);
    int rest_deleteSnap(const std::string& vDisk, const std::string& snapName);
    int rest_revertSnap(const std::string& vDisk, const std::string& snapName);
    int rest_getCloneDetails(const std::string& snapName, std::vector<std::string>& cloneNames);
    int rest_createCloneOfSnap(const std::string& cloneName, const std::string& snapName);
    int processCreateSnaps(std::map<std::string, std::string>& sources);
    int processGetSnapList(std::vector<std::string>& snapNames);
    int processDeleteSnap(const std::string& snapName);
    int processRevertSnap(const std::string& snapName);
    int processGetCloneDetails(std::vector<std::string>& cloneNames);
    int processCreateClone(const std::string& cloneName, const std::string& snapName);

    // ---- Target, LUN and access requests --------------------------------------------------
    // targets[storageProxy] becomes the proxy's LUN table as read now (rows of an earlier read
    // are replaced, their strings' storage reused).
    int rest_getSCSITargetIQNs(const std::string& storageProxy,
                               std::map<std::string, std::vector<KrvnSCSITarget>>& targets);
    // The same table read for one LUN without keeping it: `targetIqn` becomes the target of the
    // first row of `lunId` whose target names the proxy, or empty when none does. Unmap asks
    // this once per item, of a table with a row per exposed clone.
    int rest_findSCSITargetOfLun(const std::string& storageProxy, const std::string& lunId, std::string& targetIqn);
    int rest_addLUNConnection(const std::vector<std::string>& vDisks, const std::vector<std::string>& storageProxies);
    int rest_addHostAccessToDisks(const std::vector<std::string>& vDisks, const std::string& hostAddress,
                                  const std::string& storageProxy);
    int rest_getAccessForDisk(const std::string& vDisk, std::vector<KrvnAccessInfo>& access);
    int rest_removeAccess(const std::string& vDisk, const std::string& storageProxy, const std::string& hostAddress);
    int rest_removeLUN(const std::string& vDisk, const std::string& target);
    int processGetSCSITargetIQNs(const std::string& storageProxy,
                                 std::map<std::string, std::vector<KrvnSCSITarget>>& targets);
    // `rows` is the table's row count.
    int processFindSCSITargetOfLun(const std::string& storageProxy, const std::string& lunId, std::string& targetIqn,
                                   size_t& rows);
    int processAddLUN(const std::vector<std::string>& vDisks, const std::vector<std::string>& storageProxies);
    int processAddHostAccessToDisks(const std::vector<std::string>& vDisks, const std::string& hostAddress,
                                    const std::string& storageProxy);
    int processGetAccessList(std::vector<KrvnAccessInfo>& access);
    int processRemoveAccess();
    int processRemoveLUN(const std::string& vDisk);

    // ---- Disk administration requests -----------------------------------------------------
    int rest_createDisk(const KrvnDisk& disk);
    int rest_deleteDisk(std::map<std::string, bool>& disks);
    int rest_resizeDisk(const KrvnDisk& disk);
    int rest_getClusterSettingInfo();
    int processCreateDiskResp(const KrvnDisk& disk);
    int processDeleteDisk(std::map<std::string, bool>& disks);
    int processResizeDiskResp(const KrvnDisk& disk);
    int processGetClusterSettingInfo(std::string& hash);

    KrvnCommonCtx* context() const { return ctx; }
    ZyISCSIModule* iscsiModule() const { return iscsi; }
    // Deletes the loaded module instance, if any. Its code lives in the library that loaded
    // it: call this while that library is still loaded (KrvnIscsiModuleScope does).
    void releaseIscsiModule();

protected:
    KrvnCommonCtx* ctx;              // not owned
    ZyISCSIModule* iscsi = nullptr;  // owned once loaded
    bool sessionOpen_ = false;

    // ---- The cluster-operation frame ----------------------------------------------------------
    using KrvnBodyBuilder = std::function<int(std::string& body)>;
    using KrvnResponseReader = std::function<int()>;
    using KrvnFailureClassifier = std::function<int(int code)>;
    using KrvnPayloadReader = std::function<int(const JsonValue& response)>;
    using KrvnEnvelopeFallback = std::function<int(const JsonValue& response, int code)>;

    // reset, build (a refused value sends nothing), send, report a failed exchange with
    // failureText, else process; classify sees a failed process result and may refine it.
    int runRestOp(const KrvnRestOp& op, const KrvnBodyBuilder& build, const std::string& failureText,
                  const KrvnResponseReader& process, const KrvnFailureClassifier& classify = nullptr);
    // parse restResponse, check the envelope, read the payload; onEnvelopeFailure, when given,
    // decides the result of a failed envelope check.
    int processRestResp(const KrvnRestOp& op, const KrvnPayloadReader& payload,
                        const KrvnEnvelopeFallback& onEnvelopeFailure = nullptr);
    bool parseRestResp(JsonDocument& doc, const char* logFormat);
    bool restErrorsContain(const std::string& text) const;

private:
    // Asks for the proxy's LUN table, has `read` take it (setting the row count), and logs the count.
    int requestTargetTable(const std::string& storageProxy, const std::function<int(size_t& rows)>& read);
};

// The iSCSI module for as long as a step (or an engine) needs it: the library that holds its
// code and the utilities' instance of it. However the scope is left, normally or by a throw,
// the instance is deleted first and the library unloaded after, never the other way round.
class KrvnIscsiModuleScope {
public:
    explicit KrvnIscsiModuleScope(KrvnCommonUtils& utils) : utils_(utils) {}
    ~KrvnIscsiModuleScope() { utils_.releaseIscsiModule(); }  // library_ dies after this body
    KrvnIscsiModuleScope(const KrvnIscsiModuleScope&) = delete;
    KrvnIscsiModuleScope& operator=(const KrvnIscsiModuleScope&) = delete;

    // Loads the module unless it is loaded already: 0, or the context's error code.
    int load() { return utils_.initializeZYiSCSIModule(&library_); }

private:
    KrvnCommonUtils& utils_;
    CWqLibrary library_{true};
};

}  // namespace ZYKorvanCommon
