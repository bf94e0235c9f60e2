// The snapshot entry points of the plug-in.
//
// Seven of them do work and share one frame: start line on the first item, a context and an
// engine on the stack, initialize, the operation's engine steps, log-out and the success
// line, or else failure statuses, the final error text and the failure line. What differs per
// operation is one row of kSnapEntries. This is the only place that catches: whatever a host
// object throws becomes an ordinary failure of the call, never an exception in the host.
#include <exception>
#include <memory>
#include <string>

#include "EvDebug.h"
#include "KrvnCtx.h"
#include "KrvnTextsSnap.h"
#include "KrvnUtils.h"
#include "ZYSOExports.h"

namespace {

using namespace ZYSnapKrvn;
using namespace ZYKorvanCommon;

constexpr short ZY_KRVN_VERSION_MAJOR = 1;
constexpr short ZY_KRVN_VERSION_MINOR = 1;
constexpr short ZY_KRVN_VERSION_REVISION = 1;
constexpr int ZY_KRVN_JOB_LOG_LEVEL = 1;
constexpr int ZY_KRVN_JOB_LOG_LEVEL_UNSUPPORTED = 2;
constexpr int ZY_KRVN_MAX_ENGINE_STEPS = 4;

using EngineStep = unsigned int (*)(KrvnUtils&);

struct SnapEntry {
    KrvnSnapOpType opType;
    const char* startText;
    const char* successText;
    const char* failureText;
    bool setsFailedStatus;            // reconcile leaves statuses alone on failure
    ZYSO::SnapStatus keepStatus;
    ZYSO::SnapStatus failedStatus;
    int failureCode;
    bool skipWhenAllDeleted;          // delete: nothing to do when every item is gone already
    EngineStep steps[ZY_KRVN_MAX_ENGINE_STEPS];   // run in order until the first null
};

unsigned int stepInquire(KrvnUtils& u) { return static_cast<unsigned int>(u.InquireDeviceDetails()); }
unsigned int stepIdentify(KrvnUtils& u) { return static_cast<unsigned int>(u.GetArrayDetailsFromDB()); }
unsigned int stepConnect(KrvnUtils& u) { return u.rest_connectToArray(); }
unsigned int stepDiscover(KrvnUtils& u) { return static_cast<unsigned int>(u.discoverArrayVDiskDetails()); }
unsigned int stepCreate(KrvnUtils& u) { return u.createSnaps(); }
unsigned int stepRemove(KrvnUtils& u) { return u.deleteSnaps(); }
unsigned int stepMap(KrvnUtils& u) { return static_cast<unsigned int>(u.mapSnaps()); }
unsigned int stepUnmap(KrvnUtils& u) { return static_cast<unsigned int>(u.unmapSnaps()); }
unsigned int stepRevert(KrvnUtils& u) { return u.revertSnaps(); }
unsigned int stepReconcile(KrvnUtils& u) { return u.reconSnaps(); }

const SnapEntry kPrepare = {ZY_KRVN_SNAP_OP_PREPARE, ZY_KRVN_JOB_PREPARE_START, ZY_KRVN_JOB_PREPARE_SUCCESS,
                            ZY_KRVN_JOB_PREPARE_FAILURE, true, ZY_KRVN_SNAP_STATUS_PREPARED,
                            ZY_KRVN_SNAP_STATUS_PREPARE_FAILED, ZY_KRVN_ERR_CODE_PREPARE, false,
                            {stepInquire, stepIdentify, stepConnect, stepDiscover}};
const SnapEntry kCreate = {ZY_KRVN_SNAP_OP_CREATE, ZY_KRVN_JOB_CREATE_START, ZY_KRVN_JOB_CREATE_SUCCESS,
                           ZY_KRVN_JOB_CREATE_FAILURE, true, ZY_KRVN_SNAP_STATUS_CREATED,
                           ZY_KRVN_SNAP_STATUS_CREATE_FAILED, ZY_KRVN_ERR_CODE_CREATE, false, {stepConnect, stepCreate}};
const SnapEntry kDelete = {ZY_KRVN_SNAP_OP_DELETE, ZY_KRVN_JOB_DELETE_START, ZY_KRVN_JOB_DELETE_SUCCESS,
                           ZY_KRVN_JOB_DELETE_FAILURE, true, ZY_KRVN_SNAP_STATUS_DELETED,
                           ZY_KRVN_SNAP_STATUS_DELETE_FAILED, ZY_KRVN_ERR_CODE_DELETE, true, {stepConnect, stepRemove}};
const SnapEntry kMap = {ZY_KRVN_SNAP_OP_MAP, ZY_KRVN_JOB_MAP_START, ZY_KRVN_JOB_MAP_SUCCESS,
                        ZY_KRVN_JOB_MAP_FAILURE, true, ZY_KRVN_SNAP_STATUS_MAPPED,
                        ZY_KRVN_SNAP_STATUS_NOT_MAPPED, ZY_KRVN_ERR_CODE_MAP, false, {stepConnect, stepMap}};
const SnapEntry kUnmap = {ZY_KRVN_SNAP_OP_UNMAP, ZY_KRVN_JOB_UNMAP_START, ZY_KRVN_JOB_UNMAP_SUCCESS,
                          ZY_KRVN_JOB_UNMAP_FAILURE, true, ZY_KRVN_SNAP_STATUS_UNMAPPED,
                          ZY_KRVN_SNAP_STATUS_UNMAP_FAILED, ZY_KRVN_ERR_CODE_UNMAP, false, {stepConnect, stepUnmap}};
const SnapEntry kRevert = {ZY_KRVN_SNAP_OP_REVERT, ZY_KRVN_JOB_REVERT_START, ZY_KRVN_JOB_REVERT_SUCCESS,
                           ZY_KRVN_JOB_REVERT_FAILURE, true, ZY_KRVN_SNAP_STATUS_REVERTED,
                           ZY_KRVN_SNAP_STATUS_REVERT_FAILED, ZY_KRVN_ERR_CODE_REVERT, false, {stepConnect, stepRevert}};
const SnapEntry kReconcile = {ZY_KRVN_SNAP_OP_RECONCILE, ZY_KRVN_JOB_RECON_START, ZY_KRVN_JOB_RECON_SUCCESS,
                              ZY_KRVN_JOB_RECON_FAILURE, false, 0, 0, ZY_KRVN_ERR_CODE_RECON, false,
                              {stepConnect, stepReconcile}};

// The item that carries the job log and the final error. A zero or negative count means the
// host passed no items at all, so items[0] is not ours to touch.
ZYSO::SnapInfo* firstItem(ZYSO::SnapInfo** items, int count) {
    return items && count >= 1 ? items[0] : nullptr;
}

// The sentence for the exception being handled; call only inside a catch block.
std::string internalErrorSentence() {
    const char* what = ZY_KRVN_ERR_INTERNAL_UNKNOWN;
    try {
        throw;
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    return std::string(ZY_KRVN_ERR_INTERNAL) + what + "]";
}

// For failures that happen before a context (and so its logger) exists.
void logWithoutContext(const std::string& sentence) {
    try {
        EvDebug logger(nullptr);
        logger.debugLvl(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_OP_FAILED_DASH, ZY_KRVN_ERR_OPERATION_FAILED,
                        sentence.c_str());
    } catch (...) {
    }
}

// Initialize and the engine steps; on success also the log-out and the success line.
// Returns 0 or the failing step's code.
unsigned int runOperation(const SnapEntry& entry, KrvnCtx& ctx, KrvnUtils& engine, ZYSO::SnapInfo** items,
                          int count) {
    unsigned int rc = static_cast<unsigned int>(ctx.initialize(items, count));
    if (rc != 0) return rc;
    if (entry.skipWhenAllDeleted && AreAllSnapsDeleted(items, count)) {
        items[0]->log(ZY_KRVN_JOB_LOG_LEVEL, ZY_KRVN_LOG_PREFIX, ZY_KRVN_JOB_NOTHING_TO_DELETE);
        return 0;
    }
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

int runSnapEntry(const SnapEntry& entry, ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    std::unique_ptr<KrvnCtx> ctx;
    std::string internalError;
    unsigned int rc = 0;
    try {
        if (ZYSO::SnapInfo* first = firstItem(items, count))
            first->log(ZY_KRVN_JOB_LOG_LEVEL, ZY_KRVN_LOG_PREFIX, entry.startText, count);
        ctx = std::make_unique<KrvnCtx>(osUtil, 0, entry.opType);
        KrvnUtils engine(ctx.get());
        rc = runOperation(entry, *ctx, engine, items, count);
    } catch (...) {
        internalError = internalErrorSentence();
    }
    if (!internalError.empty()) {
        rc = ZY_KRVN_ERR_OPERATION_FAILED;
        if (ctx) ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, internalError, ZY_KRVN_LOG_OP_FAILED_DASH);
        else logWithoutContext(internalError);
    }
    if (rc == 0) return 0;

    try {
        reportFailure(entry, ctx ? ctx->getFinalErrorStr() : internalError, items, count);
    } catch (...) {
        // The host object failed while being told of the failure; the result says it all.
    }
    return 1;
}

int unsupported(ZYSO::SnapInfo** items, const char* text) {
    try {
        if (items && items[0]) items[0]->log(ZY_KRVN_JOB_LOG_LEVEL_UNSUPPORTED, ZY_KRVN_LOG_PREFIX, "%s", text);
    } catch (...) {
    }
    return 1;
}

int isSupported(const char* device, ZYSO::ZYOSUtil* osUtil, char* errBuf, int errBufSize) {
    KrvnCtx ctx(osUtil, 0, ZY_KRVN_SNAP_OP_SUPPORT_CHECK);
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
}

}  // namespace

extern "C" {

ZYSO_EXPORT void zyso_version(short* major, short* minor, short* revision) {
    if (!major || !minor || !revision) return;
    *major = ZY_KRVN_VERSION_MAJOR;
    *minor = ZY_KRVN_VERSION_MINOR;
    *revision = ZY_KRVN_VERSION_REVISION;
    try {
        EvDebug logger(nullptr);
        logger.debugLvl(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_VERSION, *major, *minor, *revision);
    } catch (...) {
    }
}

ZYSO_EXPORT int zyso_isSupported(const char* device, int, ZYSO::ZYOSUtil* osUtil, char* errBuf, int errBufSize) {
    try {
        return isSupported(device, osUtil, errBuf, errBufSize);
    } catch (...) {
        logWithoutContext(internalErrorSentence());
    }
    return 1;
}

ZYSO_EXPORT int zyso_prepareDevices(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    return runSnapEntry(kPrepare, items, count, osUtil);
}

ZYSO_EXPORT int zyso_unprepareDevices(ZYSO::SnapInfo** items, int, ZYSO::ZYOSUtil*) {
    return unsupported(items, ZY_KRVN_JOB_UNPREPARE_UNSUPPORTED);
}

ZYSO_EXPORT int zyso_snapDevices(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    return runSnapEntry(kCreate, items, count, osUtil);
}

ZYSO_EXPORT int zyso_deleteSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    return runSnapEntry(kDelete, items, count, osUtil);
}

ZYSO_EXPORT int zyso_isMapped(ZYSO::SnapInfo** items, int, ZYSO::ZYOSUtil*) {
    return unsupported(items, ZY_KRVN_JOB_ISMAPPED_UNSUPPORTED);
}

ZYSO_EXPORT int zyso_mapSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    return runSnapEntry(kMap, items, count, osUtil);
}

ZYSO_EXPORT int zyso_unmapSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    return runSnapEntry(kUnmap, items, count, osUtil);
}

ZYSO_EXPORT int zyso_revertSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    return runSnapEntry(kRevert, items, count, osUtil);
}

ZYSO_EXPORT int zyso_reconcileSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    return runSnapEntry(kReconcile, items, count, osUtil);
}

}  // extern "C"
