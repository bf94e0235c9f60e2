// The one frame every cluster operation runs through. Each operation brings its descriptor
// (type, method, result shape), its body builder, its failure sentence and its payload reader.
#include "CWqString.h"
#include "KrvnCommonUtils.h"
#include "KrvnTextsCluster.h"
#include "ZYSnapRESTAPI.h"

namespace ZYKorvanCommon {

namespace {

// True when this very answer is a refusal whose message holds the text. The cluster's
// messages kept from an earlier answer do not count: a request that partly succeeded and
// then failed for another reason must not be sent again (it would make duplicates).
bool answerRefusedWith(const std::string& answer, const char* text) {
    JsonDocument doc;
    if (!doc.parseObject(answer)) return false;
    std::string status;
    std::string message;
    doc.root().getString(ZY_KRVN_REST_CMN_FIELD_STATUS, status);
    doc.root().getString(ZY_KRVN_REST_CMN_FIELD_MSG, message);
    return status != ZY_KRVN_REST_CMN_VALUE_STATUS_OK && message.find(text) != std::string::npos;
}

}  // namespace

int KrvnCommonUtils::runRestOp(const KrvnRestOp& op, const KrvnBodyBuilder& build, const std::string& failureText,
                               const KrvnResponseReader& process, const KrvnFailureClassifier& classify) {
    rest_resetCtx();
    if (build(ctx->restRequest) != 0) return ctx->errorCode;
    for (int attempt = 1;; ++attempt) {
        // The transport leaves the text alone on an empty answer: never read a stale one.
        ctx->restResponse.clear();
        ZYSnapRESTAPI* client = ctx->restClient;
        bool sent = client && (op.usePut ? client->put(ctx->restApi, ctx->restRequest, ctx->restResponse)
                                         : client->post(ctx->restApi, ctx->restRequest, ctx->restResponse));
        if (!sent) {
            ctx->logRESTDetails();
            ctx->extractRESTErrorMsgs();
            return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, failureText,
                             {ZY_KRVN_LOG_CLUSTER_OP_FAILED_REST, KrvnLogArgs::CodeTextClusterErrors});
        }
        int rc = process();
        if (rc == 0) return 0;
        if (op.retryOn && attempt < op.attempts && answerRefusedWith(ctx->restResponse, op.retryOn)) {
            ctx->tolerate();
            continue;
        }
        return classify ? classify(rc) : rc;
    }
}

bool KrvnCommonUtils::parseRestResp(JsonDocument& doc, const char* logFormat) {
    if (doc.parseObject(ctx->restResponse)) return true;
    ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED,
              CWqString::Format(ZY_KRVN_ERR_PARSE_RESPONSE, {maskedForError(ctx->restResponse)}),
              KrvnFailLog::about(ctx->arrayDetails.arrayId, logFormat));
    return false;
}

int KrvnCommonUtils::processRestResp(const KrvnRestOp& op, const KrvnPayloadReader& payload,
                                     const KrvnEnvelopeFallback& onEnvelopeFailure) {
    JsonDocument doc;
    if (!parseRestResp(doc, ZY_KRVN_LOG_OP_STATUS_UNKNOWN)) return ctx->errorCode;
    const JsonValue response = doc.root();
    int rc = processCommonResp(response, op.type, op.resultCheck);
    if (rc != 0) return onEnvelopeFailure ? onEnvelopeFailure(response, rc) : rc;
    return payload(response);
}

bool KrvnCommonUtils::restErrorsContain(const std::string& text) const {
    return ctx->restErrors.str().find(text) != std::string::npos;
}

}  // namespace ZYKorvanCommon
