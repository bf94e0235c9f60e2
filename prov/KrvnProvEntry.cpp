#include "KrvnProvEntry.h"

#include <memory>
#include <string>

#include "EvDebug.h"
#include "KrvnEntryGuard.h"
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

// Step 6. Only an item this call completed keeps the success status: one already at it
// before the call (create's success status is 0, where a host may start its items) was not
// completed by a call that failed.
void reportFailure(const KrvnProvOperation& op, ZYSO::LUNInfo** luns, short count, const std::string& text,
                   const KrvnProvCtx* ctx) {
    bestEffort([&] {
        setProvStatus(op.successStatus, op.failureStatus, luns, count, ctx ? &ctx->statusesSet : nullptr);
        if (luns != nullptr && count >= 1 && luns[0] != nullptr) {
            luns[0]->setLastError(ZY_KRVN_PROV_HOST_ERROR_CODE, text.c_str());
        }
    });
}

}  // namespace

const KrvnProvOperation* findProvOperation(int opType) {
    for (const KrvnProvOperation& op : kOperations) {
        if (op.opType == opType) return &op;
    }
    return nullptr;
}

void setProvStatus(short successStatus, short failureStatus, ZYSO::LUNInfo** luns, short count,
                   const std::map<const ZYSO::LUNInfo*, short>* statusesSet) {
    if (count < 1 || luns == nullptr) return;
    for (short i = 0; i < count; ++i) {
        if (luns[i] == nullptr) continue;
        short status = -1;
        luns[i]->getStatus(&status);
        bool completed = status == successStatus;
        if (completed && statusesSet != nullptr) {
            auto set = statusesSet->find(luns[i]);
            completed = set != statusesSet->end() && set->second == successStatus;
        }
        if (!completed) luns[i]->setStatus(failureStatus);
    }
}

int provEntry(int opType, ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil) {
    const KrvnProvOperation* op = findProvOperation(opType);
    if (op == nullptr) return 1;
    KrvnEntryCall<KrvnProvCtx> call;
    const int rc = call.run<KrvnProvUtils>([&] { return std::make_unique<KrvnProvCtx>(osUtil, 0, opType); },
                                           [&](KrvnProvCtx& ctx, KrvnProvUtils& engine) {
                                               if (ctx.initialize(luns, count) != 0) return 1;
                                               if (engine.rest_connectToArray() != 0) return 1;
                                               if ((engine.*op->step)() != 0) return 1;
                                               engine.rest_disconnectArray();
                                               return 0;
                                           },
                                           ZY_KRVN_PROV_LOG_OP_FAILED_ERROR);
    if (rc == 0) return 0;
    reportFailure(*op, luns, count, call.finalError, call.ctx.get());
    return 1;
}

void provVersion(short* major, short* minor, short* revision) {
    if (major == nullptr || minor == nullptr || revision == nullptr) return;
    *major = ZY_KRVN_PROV_VERSION_MAJOR;
    *minor = ZY_KRVN_PROV_VERSION_MINOR;
    *revision = ZY_KRVN_PROV_VERSION_REVISION;
    bestEffort([&] {
        EvDebug logger(nullptr);
        logger.debugLvl(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_PROV_LOG_VERSION, *major, *minor, *revision);
    });
}

}  // namespace ZYProvKorvan
