// Snapshot map. This build carries no map: every step fails with a sentence that says so.
#include "KrvnTextsSnap.h"
#include "KrvnUtils.h"

namespace ZYSnapKrvn {

using namespace ZYKorvanCommon;

namespace {
int unavailable(KrvnCtx* ctx) {
    return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, ZY_KRVN_ERR_MAP_UNAVAILABLE, ZY_KRVN_LOG_OP_FAILED_DASH);
}
}  // namespace

int KrvnUtils::mapSnaps() { return unavailable(kctx); }
int KrvnUtils::getArrayInterfaces() { return unavailable(kctx); }
int KrvnUtils::getHostInterfaces() { return unavailable(kctx); }
int KrvnUtils::getHostInterfaces(KrvnMapCtx*) { return unavailable(kctx); }
void KrvnUtils::decideMapConnectionType() {}
int KrvnUtils::checkAndTryiSCSITargetLogon(bool& allMapped) {
    allMapped = false;
    return 0;
}
int KrvnUtils::checkCreateCloneOfSnaps() { return unavailable(kctx); }
int KrvnUtils::waitForClonesToUnfreeze() { return unavailable(kctx); }
int KrvnUtils::checkAddCloneToSCSITarget() { return unavailable(kctx); }
int KrvnUtils::checkAddAccessToClone() { return unavailable(kctx); }
int KrvnUtils::refreshArrayInterfaces() { return unavailable(kctx); }
int KrvnUtils::performPostMapSteps() { return 1; }
void KrvnUtils::getDiffDeviceList(std::vector<std::string>& diff) { diff.clear(); }
int KrvnUtils::checkForMappedDevices(KrvnMapCtx*, const std::vector<std::string>&, unsigned long& found) {
    found = 0;
    return 1;
}

}  // namespace ZYSnapKrvn
