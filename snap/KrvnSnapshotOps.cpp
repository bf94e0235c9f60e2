// Snapshot create, delete, revert and reconcile. This build carries none of them: every
// step fails with a sentence that says so.
#include "KrvnTextsSnap.h"
#include "KrvnUtils.h"

namespace ZYSnapKrvn {

using namespace ZYKorvanCommon;

namespace {
unsigned int unavailable(KrvnCtx* ctx) {
    return static_cast<unsigned int>(
        ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, ZY_KRVN_ERR_SNAP_OPS_UNAVAILABLE, ZY_KRVN_LOG_OP_FAILED_DASH));
}
}  // namespace

unsigned int KrvnUtils::createSnaps() { return unavailable(kctx); }
unsigned int KrvnUtils::deleteSnaps() { return unavailable(kctx); }
unsigned int KrvnUtils::revertSnaps() { return unavailable(kctx); }
unsigned int KrvnUtils::reconSnaps() { return unavailable(kctx); }

}  // namespace ZYSnapKrvn
