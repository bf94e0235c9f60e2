// KrvnCommonCtx: the state one operation carries from its entry point to its last step.
//
// A context belongs to one entry call on one thread and is never copied. It owns its logger,
// its REST client and (in the derived contexts) the per-item objects; everything dies with it.
// Every step reports through it: 0 on success, or a code from the table below with one
// sentence appended to errorText and logged (fail()); the entry point hands
// getFinalErrorStr() to the host.
#pragma once

#include <cstdarg>
#include <sstream>
#include <string>

#include "EvDebug.h"
#include "KrvnLogLevels.h"
#include "KrvnMasking.h"
#include "KrvnRecords.h"
#include "ZYSOHost.h"

class ZYSnapRESTAPI;

namespace ZYKorvanCommon {

// Error codes stored in errorCode, shared by every step.
enum KrvnErrorCode : int {
    ZY_KRVN_ERR_NONE = -1,
    ZY_KRVN_ERR_OPERATION_FAILED = 1,  // host or cluster operation failed
    ZY_KRVN_ERR_SCSI_DEVICE = 2,       // SCSI device could not be opened or inquired
    ZY_KRVN_ERR_SCSI_DATA = 3,         // inquiry data not a Korvan vDisk's, or inconsistent
    ZY_KRVN_ERR_OS_UTIL = 4,           // OS utility object missing
    ZY_KRVN_ERR_INVALID_COUNT = 5,
    ZY_KRVN_ERR_SNAP_LIST = 6,    // snapshot list or item missing
    ZY_KRVN_ERR_DISK_LIST = 7,    // disk list or item missing (provisioning)
    ZY_KRVN_ERR_DISK_PARAMS = 8,  // disk name or size missing or invalid
    ZY_KRVN_ERR_ITEM_ARRAY = 9,   // item not usable, or its array unknown to the host
    ZY_KRVN_ERR_SOURCE_DEVICE = 10,
    ZY_KRVN_ERR_SOURCE_EMPTY = 11,
    ZY_KRVN_ERR_ARRAY_DETAILS = 12,       // array details not available from the host database
    ZY_KRVN_ERR_PROV_ARRAY_DETAILS = 13,  // cluster details in the provisioning input incomplete
    ZY_KRVN_ERR_METADATA_READ = 14,
    ZY_KRVN_ERR_METADATA_EMPTY = 15,
    ZY_KRVN_ERR_METADATA_FIELD = 16,
    ZY_KRVN_ERR_NOT_ALL_FOUND = 17,
    ZY_KRVN_ERR_NOT_ALL_CREATED = 18,
    ZY_KRVN_ERR_REST_CONTENT = 19,  // valid JSON, unexpected content
    ZY_KRVN_ERR_VDISK_MARKED_DELETE = 20,
    ZY_KRVN_ERR_NOT_FOUND = 21,
    ZY_KRVN_ERR_SNAP_NOT_FOUND = 22,
    ZY_KRVN_ERR_TARGET_IQN = 23,
    ZY_KRVN_ERR_INITIATOR_INFO = 24,
    ZY_KRVN_ERR_MAP_PARAMS = 25,
    ZY_KRVN_ERR_DISK_EXISTS = 26,  // never stored: create's "already exists" answer
    ZY_KRVN_ERR_DISK_NOT_FOUND = 27,
};

constexpr long long ZY_KRVN_JOB_ID_UNSET = -123456;

// Which values a failure's log line takes, in the order its format names them.
enum class KrvnLogArgs {
    CodeText,               // (errorCode, errorText)
    CodeTextClusterErrors,  // (errorCode, errorText, restErrors)
    SubjectCodeText,        // (subject, errorCode, errorText): the cluster, a device, a request type
    SubjectDetailCodeText,  // (subject, detail, errorCode, errorText): the cluster and the status it sent
    Text,                   // (errorText)
};

// How a failure is logged. A bare format is logged at the error level with (code, text).
struct KrvnFailLog {
    KrvnFailLog(const char* logFormat, KrvnLogArgs logArgs = KrvnLogArgs::CodeText, int logLevel = ZY_KRVN_LOGLVL_ERROR)
        : format(logFormat), args(logArgs), level(logLevel) {}
    static KrvnFailLog about(const std::string& subject, const char* logFormat, int logLevel = ZY_KRVN_LOGLVL_ERROR) {
        KrvnFailLog log(logFormat, KrvnLogArgs::SubjectCodeText, logLevel);
        log.subject = subject;
        return log;
    }
    static KrvnFailLog about(const std::string& subject, const std::string& detail, const char* logFormat) {
        KrvnFailLog log(logFormat, KrvnLogArgs::SubjectDetailCodeText);
        log.subject = subject;
        log.detail = detail;
        return log;
    }
    const char* format;  // null: the failure is only recorded, for the caller to report
    KrvnLogArgs args;
    int level;
    std::string subject;
    std::string detail;
};

// A failure recorded for the caller to report: no line of its own.
inline const KrvnFailLog ZY_KRVN_NOT_LOGGED{nullptr};

// The whole error state, for a step that must leave it as it found it.
struct KrvnErrorState {
    int code = -1;
    std::string text;
    std::string clusterErrors;
};

class KrvnCommonCtx;

// Failures of items that a step carries on past. Every cluster request starts from an empty
// error text, so a later item's request (even one whose failure is tolerated) would wipe or
// replace what the host must be told about an earlier failed item; the step keeps each
// failure here and puts them back when it ends.
class KrvnKeptFailures {
public:
    // Takes the context's current failure: its code, its sentence, the cluster's messages.
    void keep(const KrvnCommonCtx& ctx);
    int count() const { return count_; }
    // errorCode = the last kept code (1 when that was none), errorText = every kept sentence
    // in order, restErrors = the cluster's messages of the last kept failure.
    void restore(KrvnCommonCtx& ctx) const;

private:
    int count_ = 0;
    KrvnErrorState kept_;
};

class KrvnCommonCtx {
public:
    explicit KrvnCommonCtx(ZYSO::ZYOSUtil* osUtil);
    virtual ~KrvnCommonCtx();
    KrvnCommonCtx(const KrvnCommonCtx&) = delete;
    KrvnCommonCtx& operator=(const KrvnCommonCtx&) = delete;

    // ---- Error state ------------------------------------------------------------------------
    // The one verb of a failing step: sets errorCode, appends the sentence to errorText and
    // logs the composed text as `log` says. Returns the code.
    int fail(int code, const std::string& sentence, const KrvnFailLog& log);
    // A failure just reported is of a more precise kind (a cluster sentence that means "gone"):
    // only the code changes. Returns it.
    int recode(int code);
    // The failure just reported is expected here and the step carries on: code -1 and an
    // empty text; the cluster's messages stay (they belong in a later final text).
    void tolerate() { resetError(); }
    void resetError();               // errorCode -1, errorText emptied; restErrors kept
    std::string getFinalErrorStr();  // appends the cluster's messages to errorText once per call
    std::string errorString() const { return errorText.str(); }
    KrvnErrorState errorState() const;
    void restoreErrorState(const KrvnErrorState& state);

    // Logging through the context's logger with its job id.
    void log(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    int debugLevel() const;

    void printArrayDetails();
    void maskSensitiveDetails(const std::string& in, std::string& out) const { maskSecrets(in, out); }
    void logRESTDetails();
    void extractRESTErrorMsgs();

    // Fields, in their documented order.
    EvDebug* logger = nullptr;
    ZYSnapRESTAPI* restClient = nullptr;  // created by the session on first use
    ZYSO::ZYOSUtil* osUtil = nullptr;     // not owned; may be null
    KrvnArrayDetails arrayDetails;
    long long jobId = ZY_KRVN_JOB_ID_UNSET;
    std::string restApi;  // relative URL of the last request (always empty)
    std::string restRequest;
    std::string restResponse;
    int errorCode = ZY_KRVN_ERR_NONE;
    std::ostringstream errorText;
    std::ostringstream restErrors;  // the cluster's messages from its last error answer
};

}  // namespace ZYKorvanCommon
