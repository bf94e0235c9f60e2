#include "ZYSnapRESTAPI.h"

#include <cstring>

#include "EvDebug.h"
#include "KrvnLogLevels.h"
#include "KrvnMasking.h"
#include "ZYLibCurl.h"
#include "ZYSnapRESTTexts.h"

using namespace ZYKorvanCommon;

namespace {

// The kinds sendReq takes and the wrapper's request type each travels as (patch is not 4).
enum KrvnRequestKind : int { KIND_GET = 0, KIND_POST = 1, KIND_PUT = 2, KIND_DELETE = 3, KIND_PATCH = 4 };

bool wrapperTypeOf(int kind, _http_req_type_& type) {
    switch (kind) {
        case KIND_GET:
            type = ZY_HTTP_REQ_GET;
            return true;
        case KIND_POST:
            type = ZY_HTTP_REQ_POST;
            return true;
        case KIND_PUT:
            type = ZY_HTTP_REQ_PUT;
            return true;
        case KIND_DELETE:
            type = ZY_HTTP_REQ_DELETE;
            return true;
        case KIND_PATCH:
            type = ZY_HTTP_REQ_PATCH;
            return true;
        default:
            return false;
    }
}

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// The bytes that travel as they are, looked up rather than tested: every request body goes
// through here.
struct UnreservedTable {
    bool keep[256] = {};
    UnreservedTable() {
        for (int c = 0; c < 256; ++c) keep[c] = isUnreserved(static_cast<unsigned char>(c));
    }
};

// The content type announces a form body, and the cluster decodes it as one: a '+', '%' or
// '&' sent raw would arrive as a blank, a broken escape or a cut body. So the value of the
// one form field is percent-encoded; anything not shaped like a form field goes as it is.
std::string formEncodeBody(const std::string& body) {
    static const UnreservedTable table;
    const size_t prefix = sizeof ZY_KRVN_REST_FORM_FIELD_PREFIX - 1;
    if (body.compare(0, prefix, ZY_KRVN_REST_FORM_FIELD_PREFIX) != 0) return body;
    static const char hex[] = "0123456789ABCDEF";
    std::string out(prefix + (body.size() - prefix) * 3, '\0');
    char* at = &out[0];
    std::memcpy(at, body.data(), prefix);
    at += prefix;
    for (size_t i = prefix; i < body.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(body[i]);
        if (table.keep[c]) {
            *at++ = static_cast<char>(c);
        } else {
            *at++ = '%';
            *at++ = hex[c >> 4];
            *at++ = hex[c & 0x0f];
        }
    }
    out.resize(static_cast<size_t>(at - out.data()));
    return out;
}

}  // namespace

ZYSnapRESTAPI::ZYSnapRESTAPI()
    : logger(nullptr),
      curlLib(nullptr),
      logging(false),
      loggedBytes(0),
      connecting(false),
      libInitialized(false),
      connected(false) {
    reset();
    curlLib = new ZYLibCurl();
}

ZYSnapRESTAPI::~ZYSnapRESTAPI() {
    delete curlLib;
    curlLib = nullptr;
    logger = nullptr;
}

void ZYSnapRESTAPI::reset() {
    relativeBasePath.clear();
    contentType.clear();
    userAgentHeader.clear();
    cookieFile.clear();
    protocolType.clear();
    server.clear();
    userName.clear();
    userPswd.clear();
    logging = false;
    connecting = false;
    libInitialized = false;
    connected = false;
}

void ZYSnapRESTAPI::setLogger(EvDebug* value) {
    if (value) logger = value;
}

void ZYSnapRESTAPI::setRelativeBasePath(const std::string& value) { relativeBasePath = value; }
void ZYSnapRESTAPI::setContentType(const std::string& value) { contentType = value; }
void ZYSnapRESTAPI::setUserAgentHeader(const std::string& value) { userAgentHeader = value; }
void ZYSnapRESTAPI::setCookieFile(const std::string& value) { cookieFile = value; }
void ZYSnapRESTAPI::setProtocolType(const std::string& value) { protocolType = value; }
void ZYSnapRESTAPI::setServer(const std::string& value) { server = value; }
void ZYSnapRESTAPI::setUserName(const std::string& value) { userName = value; }
void ZYSnapRESTAPI::setUserPswd(const std::string& value) { userPswd = value; }
void ZYSnapRESTAPI::setLogging(bool value) { logging = value; }

bool ZYSnapRESTAPI::connect(const std::string& relURL, const std::string& body, std::string& response) {
    connecting = true;
    if (!curlLib->ZYLibCurlInit(contentType.c_str(), true, false, nullptr)) {
        if (logging && logger) logger->debugLvl(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_REST_INIT_FAILED);
        connecting = false;
        return false;
    }
    libInitialized = true;
    if (!post(relURL, body, response)) {
        if (curlLib->GetHttpErrorCode() == ZY_KRVN_REST_HTTP_RESP_401) response = ZY_KRVN_REST_AUTH_FAILED;
        connecting = false;
        return false;
    }
    connected = true;
    connecting = false;
    return true;
}

bool ZYSnapRESTAPI::disconnect(const std::string& relURL, const std::string& body, std::string& response) {
    bool result = post(relURL, body, response);
    connected = false;
    return result;
}

bool ZYSnapRESTAPI::get(const std::string& relURL, const std::string& body, std::string& response) {
    return sendReq(KIND_GET, relURL, body, response);
}

bool ZYSnapRESTAPI::post(const std::string& relURL, const std::string& body, std::string& response) {
    return sendReq(KIND_POST, relURL, body, response);
}

bool ZYSnapRESTAPI::put(const std::string& relURL, const std::string& body, std::string& response) {
    return sendReq(KIND_PUT, relURL, body, response);
}

bool ZYSnapRESTAPI::del(const std::string& relURL, const std::string& body, std::string& response) {
    return sendReq(KIND_DELETE, relURL, body, response);
}

bool ZYSnapRESTAPI::patch(const std::string& relURL, const std::string& body, std::string& response) {
    return sendReq(KIND_PATCH, relURL, body, response);
}

bool ZYSnapRESTAPI::formURLPath(const std::string& relURL, std::string& url) {
    url = protocolType + ZY_KRVN_REST_URL_SCHEME_SEP + server + ZY_KRVN_REST_URL_PATH_SEP + relativeBasePath +
          ZY_KRVN_REST_URL_PATH_SEP + relURL;
    if (logger) logger->debugLvl(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_REST_URL, url.c_str());
    return true;
}

bool ZYSnapRESTAPI::setCommonCurlHeaders() {
    curlLib->ZYLibCurlFreeHttpHeaderList();
    if (!curlLib->ZYLibCurlAppendHeader(ZY_HTTP_HDR_GENERIC, ZY_KRVN_REST_HDR_ACCEPT_JSON)) {
        if (logger) logger->debugLvl(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_REST_HDR_ACCEPT_FAILED);
        return false;
    }
    return true;
}

void ZYSnapRESTAPI::keepAnswer(const char* text, size_t length, std::string& response) {
    if (response.capacity() < length + kAnswerSlack) response.reserve(length + kAnswerSlack);
    response.assign(text, length);
}

bool ZYSnapRESTAPI::sendReq(int kind, const std::string& relURL, const std::string& body, std::string& response) {
    if (!connecting && !(libInitialized && connected)) {
        if (logger) logger->debugLvl(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_REST_NOT_CONNECTED);
        return false;
    }
    std::string url;
    formURLPath(relURL, url);
    setCommonCurlHeaders();  // a missing Accept header is logged; the cluster answers JSON anyway
    _http_req_type_ type;
    if (!wrapperTypeOf(kind, type)) {
        if (logger) logger->debugLvl(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_REST_UNSUPPORTED_KIND, kind);
        return false;
    }

    const std::string wire = formEncodeBody(body);
    const char* data = wire.empty() ? nullptr : wire.data();
    const bool result = curlLib->ZYLibCurlSendHttpReq(type, url.c_str(), data, wire.size(), false, nullptr);
    // Only what a log line shows is masked and cut; the full body went on the wire. A failed
    // exchange is what support reads first: it keeps the full cut whatever the call has logged.
    const size_t logLimit =
        !result || loggedBytes < ZY_KRVN_LOG_CALL_BUDGET ? ZY_KRVN_LOG_TEXT_LIMIT : ZY_KRVN_LOG_TEXT_LIMIT_PAST_BUDGET;
    const std::string maskedRequest = logger ? maskedForLog(body, logLimit) : std::string();
    if (!result && logger)
        logger->debugLvl(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_REST_SEND_FAILED, url.c_str(), maskedRequest.c_str());

    size_t length = 0;
    const char* text = curlLib->GetHttpResponse(length, false);
    if (!text || length == 0) {
        if (logger)
            logger->debugLvl(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_REST_EMPTY_RESPONSE, url.c_str(), maskedRequest.c_str());
    } else {
        keepAnswer(text, length, response);
    }

    if (logging && logger) {
        const std::string maskedResponse = maskedForLog(response, logLimit);
        logger->debugLvl(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_REST_RESPONSE, url.c_str(), maskedRequest.c_str(),
                         maskedResponse.c_str());
        const bool within = loggedBytes < ZY_KRVN_LOG_CALL_BUDGET;
        loggedBytes += maskedRequest.size() + maskedResponse.size();
        if (within && loggedBytes >= ZY_KRVN_LOG_CALL_BUDGET)
            logger->debugLvl(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_REST_BUDGET_REACHED, loggedBytes,
                             ZY_KRVN_LOG_TEXT_LIMIT_PAST_BUDGET);
    }
    return result;
}

void ZYSnapRESTAPI::maskSensitiveDetails(const std::string& in, std::string& out) { maskSecrets(in, out); }
