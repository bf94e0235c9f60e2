#include "KrvnCommonCtx.h"

#include <algorithm>

#include "KrvnJson.h"
#include "KrvnTextsCommon.h"
#include "ZYSnapRESTAPI.h"

namespace ZYKorvanCommon {

const char* const ZY_KRVN_MASK_VAL_KEY_SESS_ID = "sessionId";
const char* const ZY_KRVN_MASK_VAL_KEY_PSWD = "password";

namespace {

// Masks the value after every occurrence of key. A value runs to the next "," (or, when
// there is none, the next "}"); with neither it runs to the end of the text, so a secret
// at the very end of a truncated body is hidden too.
void maskKey(std::string& text, const std::string& key) {
    size_t pos = text.find(key);
    while (pos != std::string::npos) {
        size_t colon = text.find(':', pos);
        size_t start = colon != std::string::npos ? colon + 1 : pos + key.size() + ZY_KRVN_MASK_VALUE_GAP;
        if (start >= text.size()) return;
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.find('}', start);
        if (end == std::string::npos) end = text.size();
        text.replace(start, end - start, end - start, ZY_KRVN_MASK_CHAR);
        pos = text.find(key, std::max(end, pos + key.size()));
    }
}

}  // namespace

void maskSecrets(const std::string& in, std::string& out) {
    out = in;
    maskKey(out, ZY_KRVN_MASK_VAL_KEY_SESS_ID);
    maskKey(out, ZY_KRVN_MASK_VAL_KEY_PSWD);
}

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
    std::string request;
    std::string response;
    maskSecrets(restRequest, request);
    maskSecrets(restResponse, response);
    log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_REST_DETAILS, restApi.c_str(), request.c_str(), response.c_str());
}

void KrvnCommonCtx::extractRESTErrorMsgs() {
    restErrors.str("");
    restErrors.clear();
    JsonDocument doc;
    std::string message;
    // A "message" that is not a string (number, object, null) carries no sentence we could
    // hand to the host, so it counts as missing.
    if (doc.parseObject(restResponse) && doc.root().getString(ZY_KRVN_REST_RESP_KEY_MESSAGE, message)) {
        restErrors << message << ZY_KRVN_REST_ERROR_SEPARATOR;
        return;
    }
    restErrors << ZY_KRVN_ERR_MESSAGE_TAG_NOT_FOUND;
    log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_INVALID_REST_ERROR_RESP, restErrors.str().c_str());
}

}  // namespace ZYKorvanCommon
