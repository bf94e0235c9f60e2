// ZYSnapRESTAPI: the one HTTP client of the plug-in, exported with all its operations.
//
// Turns each cluster request (a form body) into a ZYLibCurl call and hands back the raw
// answer; knows nothing of the cluster protocol. One instance per operation context; the
// session configures it and calls connect() once before any other request (the gate refuses
// requests otherwise). Requests and answers reach the log only masked, each cut at 64 KiB, and
// once a client has logged ZY_KRVN_LOG_CALL_BUDGET bytes of them, cut much shorter.
#pragma once

#include <string>

#define ZY_KRVN_EXPORT_CLASS __attribute__((visibility("default")))

class EvDebug;
class ZYLibCurl;

class ZY_KRVN_EXPORT_CLASS ZYSnapRESTAPI {
public:
    ZYSnapRESTAPI();
    ~ZYSnapRESTAPI();
    ZYSnapRESTAPI(const ZYSnapRESTAPI&) = delete;
    ZYSnapRESTAPI& operator=(const ZYSnapRESTAPI&) = delete;

    void reset();
    void setLogger(EvDebug* logger);
    void setRelativeBasePath(const std::string& value);
    void setContentType(const std::string& value);
    void setUserAgentHeader(const std::string& value);
    void setCookieFile(const std::string& value);
    void setProtocolType(const std::string& value);
    void setServer(const std::string& value);
    void setUserName(const std::string& value);
    void setUserPswd(const std::string& value);
    void setLogging(bool value);

    bool connect(const std::string& relURL, const std::string& body, std::string& response);
    bool disconnect(const std::string& relURL, const std::string& body, std::string& response);
    bool get(const std::string& relURL, const std::string& body, std::string& response);
    bool post(const std::string& relURL, const std::string& body, std::string& response);
    bool put(const std::string& relURL, const std::string& body, std::string& response);
    bool del(const std::string& relURL, const std::string& body, std::string& response);
    bool patch(const std::string& relURL, const std::string& body, std::string& response);

    bool formURLPath(const std::string& relURL, std::string& url);
    bool setCommonCurlHeaders();
    // The answer lands in `response` through keepAnswer.
    bool sendReq(int kind, const std::string& relURL, const std::string& body, std::string& response);
    // Copies an answer into `response` with room for kAnswerSlack bytes past its end, which lets
    // the plug-in's JSON reader parse it where it lies instead of copying it again.
    static void keepAnswer(const char* text, size_t length, std::string& response);
    static constexpr size_t kAnswerSlack = 64;
    void maskSensitiveDetails(const std::string& in, std::string& out);

private:
    EvDebug* logger;
    ZYLibCurl* curlLib;
    std::string relativeBasePath;
    std::string contentType;
    std::string userAgentHeader;
    std::string cookieFile;
    std::string protocolType;
    std::string server;
    std::string userName;
    std::string userPswd;
    bool logging;
    size_t loggedBytes;  // requests and answers this client has written to the log
    bool connecting;
    bool libInitialized;
    bool connected;
};
