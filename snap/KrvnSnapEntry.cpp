// The snapshot entry frame. What differs per operation is one row of kSnapEntries.
#include "KrvnSnapEntry.h"

#include <memory>
#include <string>

#include "CWqString.h"
#include "EvDebug.h"
#include "KrvnEntryGuard.h"
#include "KrvnTextsSnap.h"
#include "KrvnUtils.h"

namespace ZYSnapKrvn {

using namespace ZYKorvanCommon;

namespace {

constexpr short ZY_KRVN_VERSION_MAJOR = 1;
constexpr short ZY_KRVN_VERSION_MINOR = 1;
constexpr short ZY_KRVN_VERSION_REVISION = 1;
constexpr int ZY_KRVN_JOB_LOG_LEVEL = 1;
constexpr int ZY_KRVN_JOB_LOG_LEVEL_UNSUPPORTED = 2;
constexpr int ZY_KRVN_MAX_ENGINE_STEPS = 4;

using EngineStep = int (*)(KrvnUtils&);

struct SnapEntry {
    KrvnSnapOpType opType;
    const char* startText;
    const char* successText;
    const char* failureText;
    bool setsFailedStatus;  // reconcile leaves statuses alone on failure
    ZYSO::SnapStatus keepStatus;
    ZYSO::SnapStatus failedStatus;
    int failureCode;
    bool skipWhenAllDeleted;                     // delete: nothing to do when every item is gone already
    EngineStep steps[ZY_KRVN_MAX_ENGINE_STEPS];  // run in order until the first null
};

int stepInquire(KrvnUtils& u) { return u.InquireDeviceDetails(); }
int stepIdentify(KrvnUtils& u) { return u.GetArrayDetailsFromDB(); }
int stepConnect(KrvnUtils& u) { return u.rest_connectToArray(); }
int stepDiscover(KrvnUtils& u) { return u.discoverArrayVDiskDetails(); }
int stepCreate(KrvnUtils& u) { return u.createSnaps(); }
int stepRemove(KrvnUtils& u) { return u.deleteSnaps(); }
int stepMap(KrvnUtils& u) { return u.mapSnaps(); }
int stepUnmap(KrvnUtils& u) { return u.unmapSnaps(); }
int stepRevert(KrvnUtils& u) { return u.revertSnaps(); }
int stepReconcile(KrvnUtils& u) { return u.reconSnaps(); }

const SnapEntry kSnapEntries[] = {
    {ZY_KRVN_SNAP_OP_PREPARE,
     ZY_KRVN_JOB_PREPARE_START,
     ZY_KRVN_JOB_PREPARE_SUCCESS,
     ZY_KRVN_JOB_PREPARE_FAILURE,
     true,
     ZY_KRVN_SNAP_STATUS_PREPARED,
     ZY_KRVN_SNAP_STATUS_PREPARE_FAILED,
     ZY_KRVN_ERR_CODE_PREPARE,
     false,
     {stepInquire, stepIdentify, stepConnect, stepDiscover}},
    {ZY_KRVN_SNAP_OP_CREATE,
     ZY_KRVN_JOB_CREATE_START,
     ZY_KRVN_JOB_CREATE_SUCCESS,
     ZY_KRVN_JOB_CREATE_FAILURE,
     true,
     ZY_KRVN_SNAP_STATUS_CREATED,
     ZY_KRVN_SNAP_STATUS_CREATE_FAILED,
     ZY_KRVN_ERR_CODE_CREATE,
     false,
     {stepConnect, stepCreate}},
    {ZY_KRVN_SNAP_OP_DELETE,
     ZY_KRVN_JOB_DELETE_START,
     ZY_KRVN_JOB_DELETE_SUCCESS,
     ZY_KRVN_JOB_DELETE_FAILURE,
     true,
     ZY_KRVN_SNAP_STATUS_DELETED,
     ZY_KRVN_SNAP_STATUS_DELETE_FAILED,
     ZY_KRVN_ERR_CODE_DELETE,
     true,
     {stepConnect, stepRemove}},
    {ZY_KRVN_SNAP_OP_MAP,
     ZY_KRVN_JOB_MAP_START,
     ZY_KRVN_JOB_MAP_SUCCESS,
     ZY_KRVN_JOB_MAP_FAILURE,
     true,
     ZY_KRVN_SNAP_STATUS_MAPPED,
     ZY_KRVN_SNAP_STATUS_NOT_MAPPED,
     ZY_KRVN_ERR_CODE_MAP,
     false,
     {stepConnect, stepMap}},
    {ZY_KRVN_SNAP_OP_UNMAP,
     ZY_KRVN_JOB_UNMAP_START,
     ZY_KRVN_JOB_UNMAP_SUCCESS,
     ZY_KRVN_JOB_UNMAP_FAILURE,
     true,
     ZY_KRVN_SNAP_STATUS_UNMAPPED,
     ZY_KRVN_SNAP_STATUS_UNMAP_FAILED,
     ZY_KRVN_ERR_CODE_UNMAP,
     false,
     {stepConnect, stepUnmap}},
    {ZY_KRVN_SNAP_OP_REVERT,
     ZY_KRVN_JOB_REVERT_START,
     ZY_KRVN_JOB_REVERT_SUCCESS,
     ZY_KRVN_JOB_REVERT_FAILURE,
     true,
     ZY_KRVN_SNAP_STATUS_REVERTED,
     ZY_KRVN_SNAP_STATUS_REVERT_FAILED,
     ZY_KRVN_ERR_CODE_REVERT,
     false,
     {stepConnect, stepRevert}},
    {ZY_KRVN_SNAP_OP_RECONCILE,
     ZY_KRVN_JOB_RECON_START,
     ZY_KRVN_JOB_RECON_SUCCESS,
     ZY_KRVN_JOB_RECON_FAILURE,
     false,
     0,
     0,
     ZY_KRVN_ERR_CODE_RECON,
     false,
     {stepConnect, stepReconcile}},
};

const SnapEntry* findEntry(KrvnSnapOpType opType) {
    for (const SnapEntry& entry : kSnapEntries)
        if (entry.opType == opType) return &entry;
    return nullptr;
}

// The item that carries the job log and the final error. A zero or negative count means the
// host passed no items at all, so items[0] is not ours to touch.
ZYSO::SnapInfo* firstItem(ZYSO::SnapInfo** items, int count) { return items && count >= 1 ? items[0] : nullptr; }

// Initialize and the engine steps; on success also the log-out and the success line.
// Returns 0 or the failing step's code.
int runOperation(const SnapEntry& entry, KrvnCtx& ctx, KrvnUtils& engine, ZYSO::SnapInfo** items, int count) {
    int rc = ctx.initialize(items, count);
    if (rc != 0) return rc;
    if (entry.skipWhenAllDeleted && AreAllSnapsDeleted(items, count)) {
        items[0]->log(ZY_KRVN_JOB_LOG_LEVEL, ZY_KRVN_LOG_PREFIX, ZY_KRVN_JOB_NOTHING_TO_DELETE);
        return 0;
    }
    // Items at "deleted" take no part: with none left there is no array to log in to.
    if (ctx.snapItems.empty())
        return ctx.fail(ZY_KRVN_ERR_SNAP_LIST, CWqString::Format(ZY_KRVN_ERR_NOTHING_LEFT, {count}),
                        ZY_KRVN_LOG_OP_FAILED_DASH);
    for (EngineStep step : entry.steps) {
        if (!step) break;
        rc = step(engine);
        if (rc != 0) return rc;
    }
    // The work is done; a failed log-out changes nothing for the host.
    engine.rest_disconnectArray();
    items[0]->log(ZY_KRVN_JOB_LOG_LEVEL, ZY_KRVN_LOG_PREFIX, entry.successText, count);
    return 0;
}

void reportFailure(const SnapEntry& entry, const std::string& finalError, ZYSO::SnapInfo** items, int count) {
    if (entry.setsFailedStatus) setSnapStatus(entry.keepStatus, entry.failedStatus, items, count);
    ZYSO::SnapInfo* first = firstItem(items, count);
    if (!first) return;
    first->setLastError(entry.failureCode, finalError.c_str());
    first->log(ZY_KRVN_JOB_LOG_LEVEL, ZY_KRVN_LOG_PREFIX, entry.failureText);
}

}  // namespace

int snapEntry(KrvnSnapOpType opType, ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    const SnapEntry* entry = findEntry(opType);
    if (!entry) return 1;
    KrvnEntryCall<KrvnCtx> call;
    const int rc = call.run<KrvnUtils>(
        [&] {
            if (ZYSO::SnapInfo* first = firstItem(items, count))
                first->log(ZY_KRVN_JOB_LOG_LEVEL, ZY_KRVN_LOG_PREFIX, entry->startText, count);
            return std::make_unique<KrvnCtx>(osUtil, 0, entry->opType);
        },
        [&](KrvnCtx& ctx, KrvnUtils& engine) { return runOperation(*entry, ctx, engine, items, count); },
        ZY_KRVN_LOG_OP_FAILED_DASH);
    if (rc == 0) return 0;
    bestEffort([&] { reportFailure(*entry, call.finalError, items, count); });
    return 1;
}

int snapUnsupported(ZYSO::SnapInfo** items, int count, const char* jobText) {
    bestEffort([&] {
        if (items && count > 0 && items[0])
            items[0]->log(ZY_KRVN_JOB_LOG_LEVEL_UNSUPPORTED, ZY_KRVN_LOG_PREFIX, "%s", jobText);
    });
    return 1;
}

int snapIsSupported(const char* device, ZYSO::ZYOSUtil* osUtil, char* errBuf, int errBufSize) {
    std::string internalError;
    const int rc = runGuarded(
        [&] {
            ZYPlatformSettingsScope settings;
            KrvnCtx ctx(osUtil, 0, ZY_KRVN_SNAP_OP_SUPPORT_CHECK);
            logSettingsProblem(ctx, settings);
            KrvnUtils engine(&ctx);
            if (ctx.initialize(nullptr, 0) != 0) return 1;
            if (!device) {
                ctx.log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_INVALID_DEVICE);
                return 1;
            }
            if (!osUtil) {
                ctx.log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_INVALID_OS_UTIL);
                return 1;
            }
            if (!errBuf || errBufSize == 0) {
                ctx.log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_INVALID_ERR_BUF);
                return 1;
            }
            ctx.log(ZY_KRVN_LOGLVL_ENTRY, ZY_KRVN_LOG_CHECKING_DEVICE, device);
            return engine.isKorvanDevice(device) == 0 ? 0 : 1;
        },
        internalError);
    if (!internalError.empty())
        logWithoutContext(ZY_KRVN_LOG_OP_FAILED_DASH, ZY_KRVN_ERR_OPERATION_FAILED, internalError);
    return rc == 0 ? 0 : 1;
}

void snapVersion(short* major, short* minor, short* revision) {
    if (!major || !minor || !revision) return;
    *major = ZY_KRVN_VERSION_MAJOR;
    *minor = ZY_KRVN_VERSION_MINOR;
    *revision = ZY_KRVN_VERSION_REVISION;
    bestEffort([&] {
        EvDebug logger(nullptr);
        logger.debugLvl(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_VERSION, *major, *minor, *revision);
    });
}

}  // namespace ZYSnapKrvn
