// What every exported entry point runs its work in, on both sides (snapshots, provisioning).
//
// Nothing thrown below an entry point reaches the host: runGuarded turns a throw into the
// sentence "Internal error-[what]" for the entry point's own failure path. KrvnSessionGuard
// logs out of a session still open when it dies, so every login gets its logout on the
// failure paths too (a cluster limits the sessions of a user). Used on the calling thread only.
#pragma once

#include <functional>
#include <memory>
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

// The frame of every working entry call, snapshot and provisioning alike: the call's settings
// read once, its context, the engine with a session guard, and every throw turned into
// "Internal error-[what]" failed on the context (or logged without one when none came to be).
// The caller tells the host; `ctx` stays for that (null when it never came to be).
template <class Ctx>
struct KrvnEntryCall {
    std::unique_ptr<ZYPlatformSettingsScope> settings;  // outlives the context that reads it
    std::unique_ptr<Ctx> ctx;
    std::string finalError;  // the text for the host once run() gave 1

    // 0 when work gave 0; else 1 with finalError set. failedLine logs an internal error
    // ("...[%d:%s]").
    template <class Engine>
    int run(const std::function<std::unique_ptr<Ctx>()>& makeCtx, const std::function<int(Ctx&, Engine&)>& work,
            const char* failedLine) {
        std::string internalError;
        const int rc = runGuarded(
            [&] {
                settings = std::make_unique<ZYPlatformSettingsScope>();
                ctx = makeCtx();
                logSettingsProblem(*ctx, *settings);
                Engine engine(ctx.get());
                KrvnSessionGuard session(engine);
                return work(*ctx, engine);
            },
            internalError);
        if (rc == 0) return 0;
        if (!internalError.empty()) {
            if (ctx)
                ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, internalError, failedLine);
            else
                logWithoutContext(failedLine, ZY_KRVN_ERR_OPERATION_FAILED, internalError);
        }
        finalError = ctx ? ctx->getFinalErrorStr() : internalError;
        return 1;
    }
};

}  // namespace ZYKorvanCommon
