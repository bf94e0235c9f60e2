// The platform HTTP client over one reused libcurl easy handle.
#include "ZYLibCurl.h"

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "CurlGlobal.h"
#include "PlatformSettings.h"
#include "ThreadClock.h"
#include "ZyHttpCallTally.h"

namespace {

constexpr long kVerifyHostByName = 2;
constexpr const char* kNoExpectHeader = "Expect:";
constexpr const char* kGlobalInitFailed = "libcurl global initialisation failed";
constexpr const char* kNoHandle = "cannot create a libcurl handle";
constexpr const char* kNotInitialised = "the HTTP client is not initialised";
constexpr const char* kNoUrl = "no URL given";
constexpr const char* kBadRequestType = "unsupported request type";
constexpr const char* kHttpStatusPrefix = "HTTP status ";
constexpr const char* kHeaderRefused = "cannot build the header list";

// Methods whose body travels through POSTFIELDS under a custom verb.
const char* customVerb(_http_req_type_ type) {
    switch (type) {
        case ZY_HTTP_REQ_PUT:
            return "PUT";
        case ZY_HTTP_REQ_DELETE:
            return "DELETE";
        case ZY_HTTP_REQ_PATCH:
            return "PATCH";
        default:
            return nullptr;
    }
}

bool knownType(_http_req_type_ type) {
    switch (type) {
        case ZY_HTTP_REQ_GET:
        case ZY_HTTP_REQ_POST:
        case ZY_HTTP_REQ_PUT:
        case ZY_HTTP_REQ_DELETE:
        case ZY_HTTP_REQ_HEAD:
        case ZY_HTTP_REQ_PATCH:
            return true;
    }
    return false;
}

constexpr const char* kTooLargePrefix = "The answer is larger than the limit of ";
constexpr const char* kTooLargeSuffix = " MB ([Platform] maxResponseMB); it was not read further";
constexpr long kBytesPerMB = 1024L * 1024L;

// The answer buffer of one request, bounded: a peer that sends without end must not grow the
// host process without end. Past the limit the transfer is aborted and the connection closed.
struct BoundedBody {
    std::string* text;
    size_t limit;
    CURL* curl;
    bool exceeded = false;
    bool sized = false;
};

size_t appendBounded(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<BoundedBody*>(user);
    const size_t bytes = size * count;
    if (!body->sized) {
        // A large answer grown piece by piece is copied again at every doubling: its announced
        // length, when within the limit, is made room for at once.
        body->sized = true;
        curl_off_t announced = -1;
        if (curl_easy_getinfo(body->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
            announced > 0 && static_cast<size_t>(announced) <= body->limit)
            body->text->reserve(static_cast<size_t>(announced));
    }
    if (body->text->size() + bytes > body->limit) {
        body->exceeded = true;
        return 0;  // anything but `bytes` makes libcurl stop with a write error
    }
    body->text->append(data, bytes);
    return bytes;
}

struct HeaderList {
    curl_slist* list = nullptr;
    bool ok = true;
    void add(const char* line) {
        curl_slist* grown = curl_slist_append(list, line);
        if (grown)
            list = grown;
        else
            ok = false;
    }
    ~HeaderList() { curl_slist_free_all(list); }
};

std::atomic<bool> g_httpTallyOn{false};
std::atomic<long long> g_httpCalls{0};
std::atomic<long long> g_httpCallNs{0};

// One request's share of the tally, when it is on.
class HttpMeter {
public:
    HttpMeter() : on_(g_httpTallyOn.load(std::memory_order_relaxed)), startNs_(on_ ? ZyPlatform::threadCpuNs() : 0) {}
    ~HttpMeter() {
        if (!on_) return;
        g_httpCallNs += ZyPlatform::threadCpuNs() - startNs_;
        ++g_httpCalls;
    }
    HttpMeter(const HttpMeter&) = delete;
    HttpMeter& operator=(const HttpMeter&) = delete;

private:
    const bool on_;
    const long long startNs_;
};

}  // namespace

namespace ZyPlatform {

bool curlGlobalReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

void setHttpCallTally(bool on) { g_httpTallyOn = on; }

HttpCallTally httpCallTally() {
    HttpCallTally tally;
    tally.calls = g_httpCalls.load();
    tally.cpuNs = g_httpCallNs.load();
    return tally;
}

}  // namespace ZyPlatform

ZYLibCurl::ZYLibCurl() { (void)ZyPlatform::curlGlobalReady(); }

ZYLibCurl::~ZYLibCurl() {
    ZYLibCurlFreeHttpHeaderList();
    freeSentHeaders();
    if (curl_) curl_easy_cleanup(static_cast<CURL*>(curl_));
}

bool ZYLibCurl::ZYLibCurlInit(const char* contentType, bool /*keepAlive*/, bool /*verbose*/,
                              ZYLibCurlWriteCallback callback) {
    if (!ZyPlatform::curlGlobalReady()) {
        lastError_ = kGlobalInitFailed;
        return false;
    }
    // A second initialisation keeps the handle, and with it the open connection and the TLS
    // session, so a new login on the same object costs no new handshake.
    if (!curl_) curl_ = curl_easy_init();
    if (!curl_) {
        lastError_ = kNoHandle;
        return false;
    }
    contentType_ = contentType ? contentType : "";
    callback_ = callback;
    initialized_ = true;
    return true;
}

void ZYLibCurl::ZYLibCurlFreeHttpHeaderList() {
    curl_slist_free_all(static_cast<curl_slist*>(headers_));
    headers_ = nullptr;
}

bool ZYLibCurl::ZYLibCurlAppendHeader(_http_hdr_type_ /*type*/, const char* header) {
    if (!header) return false;
    curl_slist* grown = curl_slist_append(static_cast<curl_slist*>(headers_), header);
    if (!grown) return false;
    headers_ = grown;
    return true;
}

const ZYLibCurl::Options& ZYLibCurl::options() {
    unsigned long long scope = 0;
    ZyPlatform::SettingsStore::inScope(&scope);
    if (scope != 0 && scope == options_.scope) return options_;
    const ZyPlatform::CurrentSettings current;
    const ZyPlatform::SettingsStore& settings = *current;
    namespace S = ZyPlatform::Setting;
    namespace D = ZyPlatform::Default;
    // To libcurl 0 means "wait for ever" and a negative value is refused (leaving no limit at
    // all): neither is what a time-out or size setting asks for, so both fall back to the default.
    auto positive = [&settings](const char* key, long fallback) {
        long value = settings.platformInteger(key, fallback);
        return value > 0 ? value : fallback;
    };
    options_.scope = scope;
    options_.connectTimeout = positive(S::kConnectTimeoutSec, D::kConnectTimeoutSec);
    options_.requestTimeout = positive(S::kRequestTimeoutSec, D::kRequestTimeoutSec);
    options_.caFile = settings.platformText(S::kCaFile, "");
    // Only an explicit 0 turns verification off; a missing or unreadable value keeps it on.
    options_.verify = settings.platformInteger(S::kTlsVerify, 1) != 0;
    options_.maxMB = positive(S::kMaxResponseMB, D::kMaxResponseMB);
    return options_;
}

void ZYLibCurl::freeSentHeaders() {
    curl_slist_free_all(static_cast<curl_slist*>(sent_));
    sent_ = nullptr;
    sentLines_.clear();
}

void* ZYLibCurl::sentHeaders(bool sendsBody) {
    std::vector<std::string> lines;
    for (curl_slist* item = static_cast<curl_slist*>(headers_); item; item = item->next) lines.emplace_back(item->data);
    if (sendsBody && !contentType_.empty()) lines.push_back(contentType_);
    // Without this, curl waits for a "100 Continue" before sending a larger body.
    lines.emplace_back(kNoExpectHeader);
    if (sent_ && lines == sentLines_) return sent_;
    freeSentHeaders();
    HeaderList headers;
    for (const std::string& line : lines) headers.add(line.c_str());
    if (!headers.ok) return nullptr;
    sent_ = headers.list;
    headers.list = nullptr;
    sentLines_ = std::move(lines);
    return sent_;
}

bool ZYLibCurl::ZYLibCurlSendHttpReq(_http_req_type_ type, const char* url, const char* data, size_t length,
                                     bool /*binary*/, const char* /*extra*/) {
    const HttpMeter meter;
    response_.clear();
    lastError_.clear();
    httpCode_ = 0;
    auto fail = [this](const char* text) {
        lastError_ = text;
        return false;
    };
    if (!initialized_ || !curl_) return fail(kNotInitialised);
    if (!url || !*url) return fail(kNoUrl);
    if (!knownType(type)) return fail(kBadRequestType);

    CURL* curl = static_cast<CURL*>(curl_);
    const Options& set = options();
    const long connectTimeout = set.connectTimeout;
    const long requestTimeout = set.requestTimeout;
    const std::string& caFile = set.caFile;
    const bool verify = set.verify;
    const long maxMB = set.maxMB;
    // Reset drops the previous request's options but keeps live connections. Within one settings
    // scope the options that stay are set once, and each request sets all the others again: a
    // reset frees and makes every option of the handle anew, for every request.
    const bool fresh = set.scope == 0 || set.scope != appliedScope_;
    if (fresh) {
        curl_easy_reset(curl);
        appliedScope_ = set.scope;
    }
    const size_t maxBytes = static_cast<size_t>(maxMB) > SIZE_MAX / kBytesPerMB
                                ? SIZE_MAX
                                : static_cast<size_t>(maxMB) * static_cast<size_t>(kBytesPerMB);
    BoundedBody bounded{&response_, maxBytes, curl};

    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    if (fresh) {
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectTimeout);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, requestTimeout);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, verify ? kVerifyHostByName : 0L);
        if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    }
    if (callback_) {
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, callback_);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    } else {
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBounded);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &bounded);
    }

    const char* body = data ? data : "";
    size_t bodyLength = data ? length : 0;
    bool sendsBody = type == ZY_HTTP_REQ_POST || type == ZY_HTTP_REQ_PUT || type == ZY_HTTP_REQ_PATCH || bodyLength > 0;
    // What a reset would have cleared: the verb, and the body of the last request.
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, nullptr);
    if (sendsBody && type != ZY_HTTP_REQ_HEAD) {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 0L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodyLength));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body);
        const char* verb = type == ZY_HTTP_REQ_GET ? "GET" : customVerb(type);
        if (verb) curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, verb);
    } else {
        // No body: the last request's must not travel again (a GET also clears "no body").
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, nullptr);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(-1));
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        if (type == ZY_HTTP_REQ_HEAD) {
            curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        } else if (const char* verb = customVerb(type)) {
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, verb);
        }
    }

    void* headers = sentHeaders(sendsBody);
    if (!headers) return fail(kHeaderRefused);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(headers));

    CURLcode result = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &httpCode_);
    // The handle must not keep pointing at a list that may be freed before its next request.
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    if (bounded.exceeded) {
        // What was read is of no use and may be huge: the sentence takes its place, so the
        // caller reads it wherever it would read the answer.
        std::string().swap(response_);
        response_ = kTooLargePrefix + std::to_string(maxMB) + kTooLargeSuffix;
        lastError_ = response_;
        return false;
    }
    if (result != CURLE_OK) {
        fail(errorText[0] ? errorText : curl_easy_strerror(result));
        // Without an answer, the transport's reason is the only text the caller can show.
        if (response_.empty()) response_ = lastError_;
        return false;
    }
    if (httpCode_ >= 400) {
        lastError_ = kHttpStatusPrefix + std::to_string(httpCode_);
        return false;
    }
    return true;
}

const char* ZYLibCurl::GetHttpResponse(size_t& length, bool /*detach*/) {
    // The buffer stays owned by this object until the next request, whatever the caller asks.
    length = response_.size();
    return response_.empty() ? nullptr : response_.c_str();
}
