// What every exported entry point runs its work in, on both sides (snapshots, provisioning).
//
// Nothing thrown below an entry point reaches the host: runGuarded turns a throw into the
// sentence "Internal error-[what]" for the entry point's own failure path. KrvnSessionGuard
// logs out of a session still open when it dies, so every login gets its logout on the
// failure paths too (a cluster limits the sessions of a user). Used on the calling thread only.
#pragma once

#include <functional>
#include <string>

#include "KrvnCommonUtils.h"
#include "ZYPlatformInfo.h"

namespace ZYKorvanCommon {

inline constexpr char ZY_KRVN_ERR_INTERNAL[] = "Internal error-[";
inline constexpr char ZY_KRVN_ERR_INTERNAL_UNKNOWN[] = "unknown";

// The work's result; for a throw, 1 with `internalError` set to the sentence.
int runGuarded(const std::function<int()>& work, std::string& internalError) noexcept;

// Runs fn and swallows what it throws: a host object that fails while being told of a
// failure cannot be told more, and the result of the call says it all.
void bestEffort(const std::function<void()>& fn) noexcept;

// Logs a line at the error level through a logger of its own, for failures that happen
// before a context (and so its logger) exists. Never throws.
void logWithoutContext(const char* format, int code, const std::string& sentence) noexcept;

// Says once, at the error level, when the call's settings file could not be read whole: a
// file that is missing or broken would otherwise silently mean "every default".
void logSettingsProblem(KrvnCommonCtx& ctx, const ZYPlatformSettingsScope& settings);

class KrvnSessionGuard {
public:
    explicit KrvnSessionGuard(KrvnCommonUtils& utils) : utils_(utils) {}
    ~KrvnSessionGuard();
    KrvnSessionGuard(const KrvnSessionGuard&) = delete;
    KrvnSessionGuard& operator=(const KrvnSessionGuard&) = delete;

private:
    KrvnCommonUtils& utils_;
};

}  // namespace ZYKorvanCommon
