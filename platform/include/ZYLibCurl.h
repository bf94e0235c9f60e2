// ZYLibCurl: the platform HTTP client over libcurl.
//
// One easy handle per object, reused for every request, so a connection (and its TLS
// handshake) is kept alive across requests. Time-outs ([Platform] connectTimeoutSec,
// requestTimeoutSec) bound every exchange. TLS peers are verified unless tlsVerify=0;
// caFile names the CA bundle. A request whose HTTP status is 400 or more returns false,
// with its body still available through GetHttpResponse.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum _http_req_type_ {
    ZY_HTTP_REQ_GET = 0,
    ZY_HTTP_REQ_POST = 1,
    ZY_HTTP_REQ_PUT = 2,
    ZY_HTTP_REQ_DELETE = 3,
    ZY_HTTP_REQ_HEAD = 4,
    ZY_HTTP_REQ_PATCH = 5,
};

enum _http_hdr_type_ {
    ZY_HTTP_HDR_GENERIC = 0,
};

typedef size_t (*ZYLibCurlWriteCallback)(char* data, size_t size, size_t count, void* user);

class ZYLibCurl {
public:
    ZYLibCurl();
    ~ZYLibCurl();
    ZYLibCurl(const ZYLibCurl&) = delete;
    ZYLibCurl& operator=(const ZYLibCurl&) = delete;

    // contentType is a whole header line ("Content-Type: ..."), sent with every request that
    // has a body. The two flags and the callback are the maker's; the callback, when given,
    // receives the body instead of the internal buffer.
    bool ZYLibCurlInit(const char* contentType, bool keepAlive, bool verbose, ZYLibCurlWriteCallback callback);
    void ZYLibCurlFreeHttpHeaderList();
    bool ZYLibCurlAppendHeader(_http_hdr_type_ type, const char* header);
    bool ZYLibCurlSendHttpReq(_http_req_type_ type, const char* url, const char* data, size_t length, bool binary,
                              const char* extra);
    // The NUL-terminated body of the last response (null when there is none).
    const char* GetHttpResponse(size_t& length, bool detach);
    long GetHttpErrorCode() const { return httpCode_; }
    // libcurl's text for the last transport failure, empty when there was none.
    const std::string& GetLastError() const { return lastError_; }

private:
    // What a request takes from the settings; read again unless the call's settings scope is
    // the one they were read in.
    struct Options {
        unsigned long long scope = 0;  // 0: not kept
        long connectTimeout = 0;
        long requestTimeout = 0;
        std::string caFile;
        bool verify = true;
        long maxMB = 0;
    };
    const Options& options();
    // The header lines sent with a request: the caller's list, the content type when there is
    // a body, and no "Expect"; built again only when those change.
    void* sentHeaders(bool sendsBody);
    void freeSentHeaders();

    void* curl_ = nullptr;     // CURL*
    void* headers_ = nullptr;  // curl_slist*
    void* sent_ = nullptr;     // curl_slist* of the last request
    std::vector<std::string> sentLines_;
    Options options_;
    unsigned long long appliedScope_ = 0;  // the scope whose options the handle holds; 0: none
    std::string contentType_;
    std::string response_;
    std::string lastError_;
    long httpCode_ = 0;
    bool initialized_ = false;
    ZYLibCurlWriteCallback callback_ = nullptr;
};
