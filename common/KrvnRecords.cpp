// Printable forms of the records: they are part of the log format, byte for byte.
#include "KrvnRecords.h"

#include "CWqString.h"

namespace ZYKorvanCommon {

namespace {
// {1} HTTPS, {2} port, {3} REST logging, {4} retry count, {5} sleep interval, {6} proxies.
inline constexpr char ZY_KRVN_CONFIGS_PRINT[] =
    "The array configurations - < Use HTTPS-[{1}] Server port-[{2}] REST Logging-[{3}] Max retry count-[{4}] "
    "Sleep interval-[{5}] Storage proxy-[{6}] > ";
inline constexpr char ZY_KRVN_CONFIGS_PROXY_SEPARATOR[] = ", ";
// {1} number, {2} id, {3} SCSI id, {4} control host, {5} user, {6} password, {7} session.
inline constexpr char ZY_KRVN_DUMP_ARRAY_DETAILS[] =
    "Dump of ArrayDetails object: Array # [{1}] ArrayId [{2}] SCSI ArrayId [{3}] ControlHostName [{4}] UserName[{5}] "
    "UserPswd [{6}] Session [{7}]";
inline constexpr char ZY_KRVN_DUMP_HIDDEN[] = "******";

// Secrets are shown only as present or absent.
const char* hidden(const std::string& secret) { return secret.empty() ? "" : ZY_KRVN_DUMP_HIDDEN; }
}  // namespace

std::string KrvnArrayConfigs::getPrintString() const {
    std::string proxies;
    for (const std::string& proxy : storageProxyList)
        proxies += (proxies.empty() ? "" : ZY_KRVN_CONFIGS_PROXY_SEPARATOR) + proxy;
    return CWqString::Format(ZY_KRVN_CONFIGS_PRINT, {useHttps ? "true" : "false", serverPort, restLogging,
                                                     maxRetryCount, sleepInterval, proxies});
}

void KrvnArrayDetails::reset() {
    std::string keptProxy = std::move(storageProxy);
    *this = KrvnArrayDetails();
    storageProxy = std::move(keptProxy);
}

void KrvnArrayDetails::dump(std::string& out) const {
    out = CWqString::Format(ZY_KRVN_DUMP_ARRAY_DETAILS, {arrayNumber, arrayId, scsiArrayId, controlHostName, userName,
                                                         hidden(userPswd), hidden(sessionId)});
}

}  // namespace ZYKorvanCommon
