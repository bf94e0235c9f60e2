// Source preparation and discovery. This build carries no preparation: every step fails
// with a sentence that says so.
#include "KrvnTextsSnap.h"
#include "KrvnUtils.h"

namespace ZYSnapKrvn {

using namespace ZYKorvanCommon;

namespace {
int unavailable(KrvnCtx* ctx) {
    return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, ZY_KRVN_ERR_PREPARE_UNAVAILABLE, ZY_KRVN_LOG_OP_FAILED_DASH);
}
}  // namespace

int KrvnUtils::InquireDeviceDetails() { return unavailable(kctx); }
int KrvnUtils::processSCSIDetails(const std::vector<int>&, int) { return unavailable(kctx); }
int KrvnUtils::processSCSIDetailsForVMware() { return 1; }
int KrvnUtils::GetArrayDetailsFromDB() { return unavailable(kctx); }
int KrvnUtils::identifyArray(KrvnSnapObject*, const std::string&) { return 1; }
int KrvnUtils::matchArray(KrvnSnapObject*, const std::string&, const std::string&) { return 1; }
int KrvnUtils::parseArrayDetails(const std::string&, KrvnArrayDetails&) { return 1; }
void KrvnUtils::deformatString(const std::string& in, std::string& out) { out = in; }
int KrvnUtils::discoverArrayVDiskDetails() { return unavailable(kctx); }
int KrvnUtils::discoverArrayVDiskDetailsBruteForce() { return unavailable(kctx); }

}  // namespace ZYSnapKrvn
