#include "KrvnCommonCtx.h"
#include "CWqString.h"

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
    if (!clusterErrors.empty()) errorText << CWqString::Format(ZY_KRVN_FINAL_ERR_CLUSTER_ERRORS, {clusterErrors});
    return errorText.str();
}

int KrvnCommonCtx::fail(int code, const std::string& sentence, const KrvnFailLog& how) {
    errorCode = code;
    errorText << sentence;
    if (!how.format) return errorCode;
    const std::string text = errorText.str();
    switch (how.args) {
        case KrvnLogArgs::CodeText:
            log(how.level, how.format, errorCode, text.c_str());
            break;
        case KrvnLogArgs::CodeTextClusterErrors:
            log(how.level, how.format, errorCode, text.c_str(), restErrors.str().c_str());
            break;
        case KrvnLogArgs::SubjectCodeText:
            log(how.level, how.format, how.subject.c_str(), errorCode, text.c_str());
            break;
        case KrvnLogArgs::SubjectDetailCodeText:
            log(how.level, how.format, how.subject.c_str(), how.detail.c_str(), errorCode, text.c_str());
            break;
        case KrvnLogArgs::Text:
            log(how.level, how.format, text.c_str());
            break;
    }
    return errorCode;
}

int KrvnCommonCtx::recode(int code) { return errorCode = code; }

KrvnErrorState KrvnCommonCtx::errorState() const { return {errorCode, errorText.str(), restErrors.str()}; }

void KrvnCommonCtx::restoreErrorState(const KrvnErrorState& state) {
    errorCode = state.code;
    errorText.str(state.text);
    errorText.clear();
    errorText.seekp(0, std::ios_base::end);
    restErrors.str(state.clusterErrors);
    restErrors.clear();
    restErrors.seekp(0, std::ios_base::end);
}

void KrvnKeptFailures::keep(const KrvnCommonCtx& ctx) {
    ++count_;
    kept_.code = ctx.errorCode;
    kept_.text += ctx.errorString();
    kept_.clusterErrors = ctx.restErrors.str();
}

void KrvnKeptFailures::restore(KrvnCommonCtx& ctx) const {
    KrvnErrorState state = kept_;
    if (state.code <= 0) state.code = ZY_KRVN_ERR_OPERATION_FAILED;
    ctx.restoreErrorState(state);
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
