#include "KrvnEntryGuard.h"

#include <exception>

#include "EvDebug.h"
#include "KrvnLogLevels.h"

namespace ZYKorvanCommon {

int runGuarded(const std::function<int()>& work, std::string& internalError) noexcept {
    const char* what = ZY_KRVN_ERR_INTERNAL_UNKNOWN;
    try {
        return work();
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    try {
        internalError = std::string(ZY_KRVN_ERR_INTERNAL) + what + "]";
    } catch (...) {
        internalError.clear();  // no memory even for the sentence: the result still says it
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

KrvnSessionGuard::~KrvnSessionGuard() {
    bestEffort([this] {
        if (utils_.sessionOpen()) utils_.rest_disconnectArray();
    });
}

}  // namespace ZYKorvanCommon
