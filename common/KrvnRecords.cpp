// Printable forms of the records: they are part of the log format, byte for byte.
#include "KrvnRecords.h"

#include <sstream>

namespace ZYKorvanCommon {

namespace {
const char* const ZY_KRVN_DUMP_HEADER = "Dump of ArrayDetails object: ";
const char* const ZY_KRVN_DUMP_ARRAY_NUMBER = "Array # [";
const char* const ZY_KRVN_DUMP_ARRAY_ID = "ArrayId [";
const char* const ZY_KRVN_DUMP_SCSI_ARRAY_ID = "SCSI ArrayId [";
const char* const ZY_KRVN_DUMP_CONTROL_HOST = "ControlHostName [";
const char* const ZY_KRVN_DUMP_USER_NAME = "UserName[";
const char* const ZY_KRVN_DUMP_USER_PSWD = "UserPswd [";
const char* const ZY_KRVN_DUMP_SESSION = "Session [";
const char* const ZY_KRVN_DUMP_HIDDEN = "******";
const char* const ZY_KRVN_DUMP_FIELD_END = "] ";
const char* const ZY_KRVN_DUMP_LAST_FIELD_END = "]";

const char* const ZY_KRVN_CONFIGS_HEADER = "The array configurations - < ";
const char* const ZY_KRVN_CONFIGS_HTTPS = "Use HTTPS-[";
const char* const ZY_KRVN_CONFIGS_PORT = "Server port-[";
const char* const ZY_KRVN_CONFIGS_REST_LOGGING = "REST Logging-[";
const char* const ZY_KRVN_CONFIGS_RETRY_COUNT = "Max retry count-[";
const char* const ZY_KRVN_CONFIGS_SLEEP_INTERVAL = "Sleep interval-[";
const char* const ZY_KRVN_CONFIGS_STORAGE_PROXY = "Storage proxy-[";
const char* const ZY_KRVN_CONFIGS_PROXY_SEPARATOR = ", ";
const char* const ZY_KRVN_CONFIGS_FIELD_END = "] ";
const char* const ZY_KRVN_CONFIGS_TRAILER = "> ";

// Secrets are shown only as present or absent.
const char* hidden(const std::string& secret) { return secret.empty() ? "" : ZY_KRVN_DUMP_HIDDEN; }
}  // namespace

std::string KrvnArrayConfigs::getPrintString() const {
    std::ostringstream out;
    out << ZY_KRVN_CONFIGS_HEADER
        << ZY_KRVN_CONFIGS_HTTPS << (useHttps ? "true" : "false") << ZY_KRVN_CONFIGS_FIELD_END
        << ZY_KRVN_CONFIGS_PORT << serverPort << ZY_KRVN_CONFIGS_FIELD_END
        << ZY_KRVN_CONFIGS_REST_LOGGING << restLogging << ZY_KRVN_CONFIGS_FIELD_END
        << ZY_KRVN_CONFIGS_RETRY_COUNT << maxRetryCount << ZY_KRVN_CONFIGS_FIELD_END
        << ZY_KRVN_CONFIGS_SLEEP_INTERVAL << sleepInterval << ZY_KRVN_CONFIGS_FIELD_END
        << ZY_KRVN_CONFIGS_STORAGE_PROXY;
    for (size_t i = 0; i < storageProxyList.size(); ++i) {
        if (i > 0) out << ZY_KRVN_CONFIGS_PROXY_SEPARATOR;
        out << storageProxyList[i];
    }
    out << ZY_KRVN_CONFIGS_FIELD_END << ZY_KRVN_CONFIGS_TRAILER;
    return out.str();
}

void KrvnArrayDetails::reset() {
    std::string keptProxy = std::move(storageProxy);
    *this = KrvnArrayDetails();
    storageProxy = std::move(keptProxy);
}

void KrvnArrayDetails::dump(std::string& out) const {
    std::ostringstream text;
    text << ZY_KRVN_DUMP_HEADER
         << ZY_KRVN_DUMP_ARRAY_NUMBER << arrayNumber << ZY_KRVN_DUMP_FIELD_END
         << ZY_KRVN_DUMP_ARRAY_ID << arrayId << ZY_KRVN_DUMP_FIELD_END
         << ZY_KRVN_DUMP_SCSI_ARRAY_ID << scsiArrayId << ZY_KRVN_DUMP_FIELD_END
         << ZY_KRVN_DUMP_CONTROL_HOST << controlHostName << ZY_KRVN_DUMP_FIELD_END
         << ZY_KRVN_DUMP_USER_NAME << userName << ZY_KRVN_DUMP_FIELD_END
         << ZY_KRVN_DUMP_USER_PSWD << hidden(userPswd) << ZY_KRVN_DUMP_FIELD_END
         << ZY_KRVN_DUMP_SESSION << hidden(sessionId) << ZY_KRVN_DUMP_LAST_FIELD_END;
    out = text.str();
}

}  // namespace ZYKorvanCommon
