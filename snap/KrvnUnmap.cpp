// Snapshot unmap. This build carries no unmap: every step fails with a sentence that says so.
#include "KrvnTextsSnap.h"
#include "KrvnUtils.h"

namespace ZYSnapKrvn {

using namespace ZYKorvanCommon;

namespace {
int unavailable(KrvnCtx* ctx) {
    return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, ZY_KRVN_ERR_UNMAP_UNAVAILABLE, ZY_KRVN_LOG_OP_FAILED_DASH);
}
}  // namespace

int KrvnUtils::unmapSnaps() { return unavailable(kctx); }
int KrvnUtils::checkAndRemoveAccessFromClone(KrvnSnapObject*) { return unavailable(kctx); }
int KrvnUtils::checkAndRemoveCloneFromSCSITarget(KrvnSnapObject*) { return unavailable(kctx); }
int KrvnUtils::checkAndDeleteClone(KrvnSnapObject*) { return unavailable(kctx); }
int KrvnUtils::deleteClone(const std::string&) { return 1; }

}  // namespace ZYSnapKrvn
