// The platform HTTP client against a local server, over HTTP and HTTPS.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "ScopedSettings.h"
#include "ScriptedServer.h"
#include "TestCert.h"
#include "ZYLibCurl.h"

namespace {

using krvntest::RecordedRequest;
using krvntest::ScopedSettings;
using krvntest::ScriptedReply;
using krvntest::ScriptedServer;
using krvntest::TestCert;

constexpr const char* kFormType = "Content-Type: application/x-www-form-urlencoded";
constexpr const char* kAcceptJson = "Accept: application/json";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string urlOf(const ScriptedServer& server) {
    return std::string(server.https() ? "https" : "http") + "://127.0.0.1:" +
           std::to_string(server.port()) + "/rest/";
}

// A client as the transport uses it: initialised once, one Accept header per request.
struct Client {
    Client() { ready = curl.ZYLibCurlInit(kFormType, true, false, nullptr); }
    bool send(_http_req_type_ type, const std::string& url, const std::string& body) {
        curl.ZYLibCurlFreeHttpHeaderList();
        curl.ZYLibCurlAppendHeader(ZY_HTTP_HDR_GENERIC, kAcceptJson);
        return curl.ZYLibCurlSendHttpReq(type, url.c_str(), body.empty() ? nullptr : body.data(),
                                         body.size(), false, nullptr);
    }
    std::string response() {
        size_t length = 0;
        const char* text = curl.GetHttpResponse(length, false);
        if (!text) return std::string();
        EXPECT_EQ(text[length], '\0');
        return std::string(text, length);
    }
    ZYLibCurl curl;
    bool ready = false;
};

class HttpClientTest : public ::testing::Test {
protected:
    ScopedSettings settings_;
    ScriptedServer server_;
};

TEST_F(HttpClientTest, MethodBodyAndHeadersReachTheServer) {
    ASSERT_TRUE(server_.start());
    Client client;
    ASSERT_TRUE(client.ready);
    struct Case {
        _http_req_type_ type;
        const char* method;
        std::string body;
    } cases[] = {
        {ZY_HTTP_REQ_GET, "GET", ""},
        {ZY_HTTP_REQ_POST, "POST", "request=%7B%22type%22%3A%22Login%22%7D"},
        {ZY_HTTP_REQ_PUT, "PUT", "request=put-body"},
        {ZY_HTTP_REQ_DELETE, "DELETE", ""},
        {ZY_HTTP_REQ_PATCH, "PATCH", "request=patch-body"},
        {ZY_HTTP_REQ_POST, "POST", std::string(70000, 'b')},  // beyond any 100-continue limit
    };
    for (const Case& c : cases) {
        const std::string answer = std::string("answer to ") + c.method;
        server_.reply(200, answer);
        ASSERT_TRUE(client.send(c.type, urlOf(server_), c.body)) << client.curl.GetLastError();
        EXPECT_EQ(client.curl.GetHttpErrorCode(), 200);
        EXPECT_EQ(client.response(), answer);

        RecordedRequest seen = server_.lastRequest();
        EXPECT_EQ(seen.method, c.method);
        EXPECT_EQ(seen.path, "/rest/");
        EXPECT_EQ(seen.body, c.body) << c.method;
        EXPECT_EQ(seen.header("Accept"), "application/json") << c.method;
        if (!c.body.empty()) {
            EXPECT_EQ(seen.header("Content-Type"), "application/x-www-form-urlencoded") << c.method;
        }
    }
    EXPECT_EQ(server_.requestCount(), std::size(cases));
    EXPECT_EQ(server_.requests()[1].request, "{\"type\":\"Login\"}");
}

TEST_F(HttpClientTest, ErrorStatusFailsWithTheBodyKeptAndTransportErrorsCarryCurlsText) {
    ASSERT_TRUE(server_.start());
    Client client;
    for (int status : {400, 401, 404, 500}) {
        const std::string body = "{\"status\":\"error\",\"code\":" + std::to_string(status) + "}";
        server_.reply(status, body);
        EXPECT_FALSE(client.send(ZY_HTTP_REQ_POST, urlOf(server_), "request=x")) << status;
        EXPECT_EQ(client.curl.GetHttpErrorCode(), status);
        EXPECT_EQ(client.response(), body);
    }
    server_.reply(204, "");
    EXPECT_TRUE(client.send(ZY_HTTP_REQ_POST, urlOf(server_), "request=x"));
    size_t length = 99;
    EXPECT_EQ(client.curl.GetHttpResponse(length, false), nullptr);
    EXPECT_EQ(length, 0u);

    server_.replyDrop();
    EXPECT_FALSE(client.send(ZY_HTTP_REQ_POST, urlOf(server_), "request=x"));
    EXPECT_FALSE(client.curl.GetLastError().empty());

    const std::string closedPort = urlOf(server_);
    server_.stop();
    EXPECT_FALSE(client.send(ZY_HTTP_REQ_POST, closedPort, "request=x"));
    EXPECT_NE(client.curl.GetLastError().find("onnect"), std::string::npos)
        << client.curl.GetLastError();

    ZYLibCurl uninitialised;
    EXPECT_FALSE(uninitialised.ZYLibCurlSendHttpReq(ZY_HTTP_REQ_GET, closedPort.c_str(), nullptr,
                                                     0, false, nullptr));
    EXPECT_FALSE(uninitialised.GetLastError().empty());
}

TEST_F(HttpClientTest, ManyRequestsShareOneConnection) {
    ASSERT_TRUE(server_.start());
    server_.setDefault(200, "{}");
    Client client;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(client.send(i % 2 ? ZY_HTTP_REQ_PUT : ZY_HTTP_REQ_POST, urlOf(server_),
                                "request=" + std::to_string(i)))
            << client.curl.GetLastError();
    }
    EXPECT_EQ(server_.requestCount(), 20u);
    EXPECT_EQ(server_.connectionCount(), 1u);
}

TEST_F(HttpClientTest, RequestTimeOutEndsASlowExchange) {
    ASSERT_TRUE(server_.start());
    settings_.set("Platform", "requestTimeoutSec", "1");
    std::atomic<bool> release{false};
    server_.reply([&release](const RecordedRequest&) {
        // Up to 3 s, but let go as soon as the client has given up so the test ends quickly.
        for (int i = 0; i < 300 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return ScriptedReply{200, "late", "text/plain", false};
    });
    Client client;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.send(ZY_HTTP_REQ_POST, urlOf(server_), "request=slow"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    release = true;
    EXPECT_GE(elapsed, std::chrono::milliseconds(900));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2500));
    EXPECT_NE(client.curl.GetLastError().find("imed out"), std::string::npos)
        << client.curl.GetLastError();
}

class HttpsClientTest : public HttpClientTest {
protected:
    void startWith(bool otherCertificate) {
        const TestCert& cert = TestCert::shared();
        ASSERT_TRUE(cert.ok()) << cert.error();
        const std::string& certFile = otherCertificate ? cert.otherCertFile() : cert.certFile();
        const std::string& keyFile = otherCertificate ? cert.otherKeyFile() : cert.keyFile();
        ASSERT_TRUE(server_.startHttps(readFile(certFile), readFile(keyFile)));
        server_.setDefault(200, "{\"status\":\"ok\"}");
    }
};

TEST_F(HttpsClientTest, TrustedCertificateWorksOverOneHandshake) {
    ASSERT_NO_FATAL_FAILURE(startWith(false));
    settings_.set("Platform", "caFile", TestCert::shared().certFile());
    Client client;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(client.send(ZY_HTTP_REQ_POST, urlOf(server_), "request=" + std::to_string(i)))
            << client.curl.GetLastError();
    }
    EXPECT_EQ(client.response(), "{\"status\":\"ok\"}");
    EXPECT_EQ(server_.connectionCount(), 1u);
}

TEST_F(HttpsClientTest, UntrustedCertificateIsRefusedUnlessVerificationIsTurnedOff) {
    ASSERT_NO_FATAL_FAILURE(startWith(true));
    settings_.set("Platform", "caFile", TestCert::shared().certFile());
    Client client;
    EXPECT_FALSE(client.send(ZY_HTTP_REQ_POST, urlOf(server_), "request=x"));
    EXPECT_FALSE(client.curl.GetLastError().empty());

    settings_.erase("Platform", "caFile");  // the system store does not know it either
    EXPECT_FALSE(client.send(ZY_HTTP_REQ_POST, urlOf(server_), "request=x"));

    settings_.set("Platform", "tlsVerify", "no");  // only an explicit 0 turns checks off
    EXPECT_FALSE(client.send(ZY_HTTP_REQ_POST, urlOf(server_), "request=x"));
    EXPECT_EQ(server_.requestCount(), 0u);

    settings_.set("Platform", "tlsVerify", "0");
    EXPECT_TRUE(client.send(ZY_HTTP_REQ_POST, urlOf(server_), "request=x"))
        << client.curl.GetLastError();
    EXPECT_EQ(server_.requestCount(), 1u);
}

}  // namespace
