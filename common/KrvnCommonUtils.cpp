#include "KrvnCommonUtils.h"

namespace ZYKorvanCommon {

KrvnCommonUtils::KrvnCommonUtils(KrvnCommonCtx* context) : ctx(context) {}

// The iSCSI module instance is ours once loaded; the context belongs to the entry point.
// A scope that loaded the module has released it already; only an instance handed over
// without a library (tests) is left here.
KrvnCommonUtils::~KrvnCommonUtils() {
    releaseIscsiModule();
    ctx = nullptr;
}

void KrvnCommonUtils::releaseIscsiModule() {
    delete iscsi;
    iscsi = nullptr;
}

}  // namespace ZYKorvanCommon
