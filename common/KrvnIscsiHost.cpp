// iSCSI sessions and host devices: the part of KrvnCommonUtils that works on the machine the
// plug-in runs on (the loaded iSCSI module, the host name, the host's device list and bus
// rescans). None of it talks to the cluster.
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <string>
#include <unordered_set>
#include <vector>

#include "CWqString.h"
#include "EvDebug.h"
#include "KrvnCommonUtils.h"
#include "KrvnNumbers.h"
#include "KrvnTextsIscsi.h"
#include "WqSleep.h"

namespace ZYKorvanCommon {

namespace {

std::string joinTexts(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) {
        if (!out.empty()) out += ZY_KRVN_ISCSI_LIST_JOIN;
        out += item;
    }
    return out;
}

// A null-terminated array of C strings pointing into `items`, which must outlive it.
std::vector<const char*> cStringArray(const std::vector<std::string>& items) {
    std::vector<const char*> out;
    out.reserve(items.size() + 1);
    for (const std::string& item : items) out.push_back(item.c_str());
    out.push_back(nullptr);
    return out;
}

}  // namespace

ZyISCSIModule* GetZyISCSIInstance(CWqLibrary& library) {
    EvEvent event;
    // Loaded by bare name so the normal search applies (an already loaded copy, RUNPATH,
    // LD_LIBRARY_PATH); an absolute path would bypass the platform's own copy.
    CWqError error = library.Load(ZY_KRVN_ZYISCSI_LIBRARY_NAME_UNIX, false);
    if (error.IsError()) {
        event.Debug(ZY_KRVN_ISCSI_EVENT_PREFIX, ZY_KRVN_ISCSI_LOAD_FAILED, error.AsString().c_str());
        return nullptr;
    }
    void* address = nullptr;
    error = library.GetAddress(ZY_KRVN_ZYISCSI_LIB_GET_INST_FUNC, address);
    if (error.IsError() || address == nullptr) {
        event.Debug(ZY_KRVN_ISCSI_EVENT_PREFIX, "%s", ZY_KRVN_ISCSI_NO_GET_INSTANCE);
        return nullptr;
    }
    ZyISCSIGetInstanceFn getInstance = reinterpret_cast<ZyISCSIGetInstanceFn>(address);
    return getInstance();
}

void StringToWWPN(const std::string& in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        // A colon between the pairs of the first eight bytes, never after the last character.
        if (i > 0 && i % 2 == 0 && i < 16) out += ':';
        out += in[i];
    }
}

int KrvnCommonUtils::initializeZYiSCSIModule(CWqLibrary* library) {
    if (iscsi != nullptr) return 0;
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_ISCSI_INIT);
    if (library != nullptr) iscsi = GetZyISCSIInstance(*library);
    if (iscsi == nullptr)
        return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, ZY_KRVN_ISCSI_INIT_FAILED_TEXT, ZY_KRVN_ISCSI_INIT_FAILED_LOG);
    long long jobId = ctx->jobId;
    iscsi->setJobId(&jobId);
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_ISCSI_INIT_DONE);
    return 0;
}

int KrvnCommonUtils::tryiSCSITargetLogin(std::vector<std::pair<std::string, std::string>>& targets) {
    // Give the storage proxy time to publish targets it has just been given.
    WQSLEEP(ZY_KRVN_ISCSI_PRE_LOGIN_WAIT_MS);
    if (targets.empty()) return 0;
    if (iscsi == nullptr)
        return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, ZY_KRVN_ISCSI_INIT_FAILED_TEXT, ZY_KRVN_ISCSI_INIT_FAILED_LOG);

    const KrvnArrayConfigs& configs = ctx->arrayDetails.arrayConfigs;
    // Sets: a map of thousands of clones logs in to as many targets, each checked every pass.
    std::unordered_set<std::string> loggedOn;
    std::unordered_set<std::string> discoveredPortals;
    size_t successes = 0;
    int pass = 0;
    while (pass < configs.maxRetryCount) {
        successes = 0;
        for (const auto& [portal, target] : targets) {
            if (loggedOn.count(target) != 0) {
                ++successes;
                continue;
            }
            // A portal is rediscovered once per pass, just before its first login attempt, so
            // targets the proxy published since the last pass become known.
            if (discoveredPortals.insert(portal).second) {
                iscsi->discoverPortal(portal.c_str());
            }
            if (!iscsi->login(portal.c_str(), target.c_str())) {
                ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_ISCSI_LOGIN_RETRY, target.c_str());
                continue;
            }
            loggedOn.insert(target);
            ++successes;
            ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_ISCSI_LOGIN_DONE, target.c_str());
        }
        if (successes == targets.size()) break;
        WQSLEEP(waitMs(configs.sleepInterval, ZY_KRVN_MS_PER_SECOND));
        discoveredPortals.clear();
        ++pass;
    }
    if (successes == targets.size()) return 0;
    return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, CWqString::Format(ZY_KRVN_ISCSI_LOGIN_FAILED, {pass}),
                     ZY_KRVN_ISCSI_LOGIN_FAILED_LOG);
}

int KrvnCommonUtils::tryiSCSITargetLogout(const std::string& portal, const std::string& target) {
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_ISCSI_LOGOUT);
    const KrvnArrayConfigs& configs = ctx->arrayDetails.arrayConfigs;
    for (int attempt = 0; iscsi != nullptr && attempt < configs.maxRetryCount; ++attempt) {
        if (iscsi->logout(portal.c_str(), target.c_str())) break;
        ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_ISCSI_LOGOUT_RETRY, target.c_str());
        WQSLEEP(waitMs(configs.sleepInterval, ZY_KRVN_MS_PER_SECOND));
    }
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_ISCSI_LOGOUT_DONE);
    return 0;
}

int KrvnCommonUtils::getLocalHostName(std::string& name) {
    char buffer[4096] = {};
    errno = 0;
    (void)gethostname(buffer, sizeof(buffer) - 1);
    if (buffer[0] != '\0') {
        name = buffer;
        return 0;
    }
    return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, CWqString::Format(ZY_KRVN_HOST_NAME_FAILED, {errno}),
                     ZY_KRVN_HOST_OP_FAILED_LOG);
}

int KrvnCommonUtils::getDeviceList(const std::string& host, std::vector<std::string>& devices) {
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_DEVICE_LIST, host.c_str());
    std::vector<std::string> list;
    if (ctx->osUtil == nullptr || !ctx->osUtil->getDeviceList(host.c_str(), "", list))
        return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED, CWqString::Format(ZY_KRVN_DEVICE_LIST_FAILED, {host}),
                         ZY_KRVN_HOST_OP_FAILED_LOG);
    devices.swap(list);
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_DEVICE_LIST_COUNT, devices.size());
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_DEVICE_LIST_DONE, host.c_str());
    return 0;
}

int KrvnCommonUtils::refreshSystemBus(const std::string& host, const std::vector<std::string>& initiators,
                                      const std::vector<std::string>& devices) {
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_REFRESH_BUS, host.c_str());
    // The host may keep the pointers for the duration of the call only; the copies below
    // outlive it.
    const std::vector<std::string> initiatorCopy(initiators);
    const std::vector<std::string> deviceCopy(devices);
    std::vector<const char*> initiatorArray = cStringArray(initiatorCopy);
    std::vector<const char*> deviceArray = cStringArray(deviceCopy);
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_ISCSI_BANNER);
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_REFRESH_BUS_DETAILS, joinTexts(initiatorCopy).c_str(),
             joinTexts(deviceCopy).c_str());
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_ISCSI_BANNER);
    // A failed rescan is not an error: the device listing that follows tells what appeared.
    if (ctx->osUtil != nullptr) (void)ctx->osUtil->refreshBus(host.c_str(), initiatorArray.data(), deviceArray.data());
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_REFRESH_BUS_DONE, host.c_str());
    return 0;
}

}  // namespace ZYKorvanCommon
