// KrvnUtils: construction and the device identity check of the support query.
#include "KrvnUtils.h"

#include <cstring>

#include "KrvnTextsSnap.h"

namespace ZYSnapKrvn {

using namespace ZYKorvanCommon;

KrvnUtils::KrvnUtils(KrvnCtx* context) : KrvnCommonUtils(context), kctx(context) {}

KrvnUtils::~KrvnUtils() = default;

// Only the standard page is asked: the support query must stay cheap and must not depend on
// VPD pages, so a device the host merely wants classified is never inquired three times.
int KrvnUtils::isKorvanDevice(const std::string& device) {
    static const unsigned char cdb[ZY_KRVN_SCSI_CDB_LEN] = {0x12, 0x00, 0x00, 0x00, 0xFF, 0x00};
    unsigned char response[ZY_KRVN_SCSI_RESP_LEN];
    std::memset(response, 0, sizeof(response));
    int rc = doSCSIInquiry(device, cdb, response);
    if (rc != 0) return rc;
    dumpHexBuf(response, ZY_KRVN_SCSI_RESP_LEN);

    std::string vendor, product, revision;
    getStdDetailsFromSCSIResp(response, vendor, product, revision);
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_STD_INQUIRY_RESULT, vendor.c_str(), product.c_str(), revision.c_str());
    rc = checkStdPageInfoForKorvan(device, vendor, product, revision);
    if (rc != 0) return rc;
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_DEVICE_IS_KORVAN, device.c_str());
    return 0;
}

}  // namespace ZYSnapKrvn
