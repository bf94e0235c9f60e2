#include "KrvnProvEntry.h"

#include <exception>
#include <string>

#include "EvDebug.h"
#include "KrvnProvCtx.h"
#include "KrvnProvUtils.h"
#include "KrvnTextsProv.h"

namespace ZYProvKorvan {

using namespace ZYKorvanCommon;

namespace {

const KrvnProvOperation kOperations[] = {
    {ZY_KRVN_PROV_OP_CREATE, &KrvnProvUtils::create_vDisks, ZY_KRVN_PROV_STATUS_CREATE_OK,
     ZY_KRVN_PROV_STATUS_CREATE_FAILED},
    {ZY_KRVN_PROV_OP_DELETE, &KrvnProvUtils::delete_vDisks, ZY_KRVN_PROV_STATUS_DELETE_OK,
     ZY_KRVN_PROV_STATUS_DELETE_FAILED},
    {ZY_KRVN_PROV_OP_RESIZE, &KrvnProvUtils::resize_vDisks, ZY_KRVN_PROV_STATUS_RESIZE_OK,
     ZY_KRVN_PROV_STATUS_RESIZE_FAILED},
    {ZY_KRVN_PROV_OP_MAP, &KrvnProvUtils::map_vDisks, ZY_KRVN_PROV_STATUS_MAP_OK, ZY_KRVN_PROV_STATUS_MAP_FAILED},
    {ZY_KRVN_PROV_OP_UNMAP, &KrvnProvUtils::unmap_vDisks, ZY_KRVN_PROV_STATUS_UNMAP_OK,
     ZY_KRVN_PROV_STATUS_UNMAP_FAILED},
};

std::string internalError(const char* what) {
    return std::string(ZY_KRVN_PROV_ERR_INTERNAL) + (what ? what : ZY_KRVN_PROV_ERR_INTERNAL_UNKNOWN) + "]";
}

// Steps 2 to 5 of the sequence; an exception becomes code 1 in the context.
int runSteps(const KrvnProvOperation& op, KrvnProvCtx& ctx, KrvnProvUtils& engine, ZYSO::LUNInfo** luns,
             short count) {
    try {
        if (ctx.initialize(luns, count) != 0) return 1;
        if (engine.rest_connectToArray() != 0) return 1;
        if ((engine.*op.step)() != 0) return 1;
        engine.rest_disconnectArray();
        return 0;
    } catch (const std::exception& e) {
        ctx.fail(ZY_KRVN_ERR_OPERATION_FAILED, internalError(e.what()), ZY_KRVN_PROV_LOG_OP_FAILED_ERROR);
    } catch (...) {
        ctx.fail(ZY_KRVN_ERR_OPERATION_FAILED, internalError(nullptr), ZY_KRVN_PROV_LOG_OP_FAILED_ERROR);
    }
    return 1;
}

// Step 6. A host item that throws while being told of the failure cannot be told more.
void reportFailure(const KrvnProvOperation& op, ZYSO::LUNInfo** luns, short count, const std::string& text) {
    try {
        setProvStatus(op.successStatus, op.failureStatus, luns, count);
        if (luns != nullptr && count >= 1 && luns[0] != nullptr) {
            luns[0]->setLastError(ZY_KRVN_PROV_HOST_ERROR_CODE, text.c_str());
        }
    } catch (...) {
    }
}

}  // namespace

const KrvnProvOperation* findProvOperation(int opType) {
    for (const KrvnProvOperation& op : kOperations) {
        if (op.opType == opType) return &op;
    }
    return nullptr;
}

void setProvStatus(short successStatus, short failureStatus, ZYSO::LUNInfo** luns, short count) {
    if (count < 1 || luns == nullptr) return;
    for (short i = 0; i < count; ++i) {
        if (luns[i] == nullptr) continue;
        short status = -1;
        luns[i]->getStatus(&status);
        if (status != successStatus) luns[i]->setStatus(failureStatus);
    }
}

int provEntry(int opType, ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil) {
    const KrvnProvOperation* op = findProvOperation(opType);
    if (op == nullptr) return 1;
    std::string finalError;
    try {
        KrvnProvCtx ctx(osUtil, 0, opType);
        KrvnProvUtils engine(&ctx);
        if (runSteps(*op, ctx, engine, luns, count) == 0) return 0;
        finalError = ctx.getFinalErrorStr();
    } catch (const std::exception& e) {
        finalError = internalError(e.what());
    } catch (...) {
        finalError = internalError(nullptr);
    }
    reportFailure(*op, luns, count, finalError);
    return 1;
}

void provVersion(short* major, short* minor, short* revision) {
    if (major == nullptr || minor == nullptr || revision == nullptr) return;
    *major = ZY_KRVN_PROV_VERSION_MAJOR;
    *minor = ZY_KRVN_PROV_VERSION_MINOR;
    *revision = ZY_KRVN_PROV_VERSION_REVISION;
    try {
        EvDebug logger(nullptr);
        logger.debugLvl(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_PROV_LOG_VERSION, *major, *minor, *revision);
    } catch (...) {
    }
}

}  // namespace ZYProvKorvan
