#include "KrvnEntryGuard.h"

#include <cstring>
#include <exception>

#include "EvDebug.h"
#include "KrvnLogLevels.h"
#include "KrvnTextsCommon.h"

namespace ZYKorvanCommon {

namespace {

// Made inside the handler: what() points into the exception, which dies when the handler ends.
void internalSentence(const char* what, std::string& internalError) noexcept {
    try {
        internalError = std::string(ZY_KRVN_ERR_INTERNAL) + what + "]";
    } catch (...) {
        internalError.clear();  // no memory even for the sentence: the result still says it
    }
}

}  // namespace

int runGuarded(const std::function<int()>& work, std::string& internalError) noexcept {
    try {
        return work();
    } catch (const std::exception& e) {
        internalSentence(e.what(), internalError);
    } catch (...) {
        internalSentence(ZY_KRVN_ERR_INTERNAL_UNKNOWN, internalError);
    }
    return 1;
}

void bestEffort(const std::function<void()>& fn) noexcept {
    try {
        fn();
    } catch (...) {
    }
}

void logWithoutContext(const char* format, int code, const std::string& sentence) noexcept {
    bestEffort([&] {
        EvDebug logger(nullptr);
        logger.debugLvl(ZY_KRVN_LOGLVL_ERROR, format, code, sentence.c_str());
    });
}

void logSettingsProblem(KrvnCommonCtx& ctx, const ZYPlatformSettingsScope& settings) {
    std::string path;
    int openError = 0;
    const int status = settings.status(&path, &openError);
    if (status < 0)
        ctx.log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_SETTINGS_UNREADABLE, path.c_str(), std::strerror(openError));
    if (status > 0) ctx.log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_SETTINGS_BAD_LINE, path.c_str(), status);
}

KrvnSessionGuard::~KrvnSessionGuard() {
    bestEffort([this] {
        if (utils_.sessionOpen()) utils_.rest_disconnectArray();
    });
}

}  // namespace ZYKorvanCommon
