#include "KrvnCommonCtx.h"

#include "KrvnJson.h"
#include "KrvnTextsCommon.h"
#include "ZYSnapRESTAPI.h"

namespace ZYKorvanCommon {

KrvnCommonCtx::KrvnCommonCtx(ZYSO::ZYOSUtil* util) : logger(new EvDebug(nullptr)), osUtil(util) {
    if (!osUtil) return;
    // The host may throw from here; no destructor runs for a half-built context.
    try {
        jobId = osUtil->getJobId();
    } catch (...) {
        delete logger;
        logger = nullptr;
        throw;
    }
}

KrvnCommonCtx::~KrvnCommonCtx() {
    delete restClient;
    restClient = nullptr;
    delete logger;
    logger = nullptr;
}

void KrvnCommonCtx::resetError() {
    errorCode = ZY_KRVN_ERR_NONE;
    errorText.str("");
    errorText.clear();
}

std::string KrvnCommonCtx::getFinalErrorStr() {
    std::string clusterErrors = restErrors.str();
    if (!clusterErrors.empty())
        errorText << ZY_KRVN_FINAL_ERR_CLUSTER_ERRORS << clusterErrors << ZY_KRVN_FINAL_ERR_CLUSTER_ERRORS_END;
    return errorText.str();
}

int KrvnCommonCtx::fail(int code, const std::string& sentence, const char* logFormat) {
    return failAt(ZY_KRVN_LOGLVL_ERROR, code, sentence, logFormat);
}

int KrvnCommonCtx::failAt(int level, int code, const std::string& sentence, const char* logFormat) {
    errorCode = code;
    errorText << sentence;
    log(level, logFormat, errorCode, errorText.str().c_str());
    return errorCode;
}

int KrvnCommonCtx::failRest(int code, const std::string& sentence, const char* logFormat) {
    errorCode = code;
    errorText << sentence;
    log(ZY_KRVN_LOGLVL_ERROR, logFormat, errorCode, errorText.str().c_str(), restErrors.str().c_str());
    return errorCode;
}

void KrvnKeptFailures::keep(const KrvnCommonCtx& ctx) {
    ++count_;
    code_ = ctx.errorCode;
    text_ += ctx.errorString();
    clusterErrors_ = ctx.restErrors.str();
}

void KrvnKeptFailures::restore(KrvnCommonCtx& ctx) const {
    ctx.errorCode = code_ > 0 ? code_ : ZY_KRVN_ERR_OPERATION_FAILED;
    ctx.errorText.str(text_);
    ctx.errorText.clear();
    ctx.errorText.seekp(0, std::ios_base::end);
    ctx.restErrors.str(clusterErrors_);
    ctx.restErrors.clear();
    ctx.restErrors.seekp(0, std::ios_base::end);
}

void KrvnCommonCtx::log(int level, const char* format, ...) {
    if (!logger) return;
    va_list args;
    va_start(args, format);
    logger->vdebugLvl(level, jobId, format, args);
    va_end(args);
}

int KrvnCommonCtx::debugLevel() const { return logger ? logger->getDebugLevel() : ZY_KRVN_LOGLVL_ERROR; }

void KrvnCommonCtx::printArrayDetails() {
    if (debugLevel() < ZY_KRVN_LOGLVL_ARRAY_DUMP) return;
    std::string text;
    arrayDetails.dump(text);
    log(ZY_KRVN_LOGLVL_ARRAY_DUMP, ZY_KRVN_LOG_ARRAY_DETAILS, text.c_str());
}

void KrvnCommonCtx::logRESTDetails() {
    const std::string request = maskedForLog(restRequest);
    const std::string response = maskedForLog(restResponse);
    log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_REST_DETAILS, restApi.c_str(), request.c_str(), response.c_str());
}

void KrvnCommonCtx::extractRESTErrorMsgs() {
    restErrors.str("");
    restErrors.clear();
    JsonDocument doc;
    std::string message;
    const bool isObject = doc.parseObject(restResponse);
    // A "message" that is not a string (number, object, null) carries no sentence we could
    // hand to the host, so it counts as missing.
    if (isObject && doc.root().getString(ZY_KRVN_REST_RESP_KEY_MESSAGE, message)) {
        restErrors << maskedForError(message) << ZY_KRVN_REST_ERROR_SEPARATOR;
        return;
    }
    // A text that does not even try to be JSON is the transport's own reason (a refused login,
    // a refused connection, an answer over the size limit) or a proxy's page: it is the only
    // account of the failure there is, so the host gets it, masked and bounded like any
    // cluster text. A broken or foreign JSON answer has no message to give.
    const size_t first = restResponse.find_first_not_of(" \t\r\n");
    if (!isObject && first != std::string::npos && restResponse[first] != '{' && restResponse[first] != '[') {
        restErrors << maskedForError(restResponse) << ZY_KRVN_REST_ERROR_SEPARATOR;
        return;
    }
    restErrors << ZY_KRVN_ERR_MESSAGE_TAG_NOT_FOUND;
    log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_INVALID_REST_ERROR_RESP, restErrors.str().c_str());
}

}  // namespace ZYKorvanCommon
