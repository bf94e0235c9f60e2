#include "KrvnCommonUtils.h"

namespace ZYKorvanCommon {

KrvnCommonUtils::KrvnCommonUtils(KrvnCommonCtx* context) : ctx(context) {}

// The iSCSI module instance is ours once loaded; the context belongs to the entry point.
KrvnCommonUtils::~KrvnCommonUtils() {
    delete iscsi;
    iscsi = nullptr;
    ctx = nullptr;
}

}  // namespace ZYKorvanCommon
